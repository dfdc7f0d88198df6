#pragma once
// The colour panel: three swatches for the main window's background, picture
// frame and list, a colour picker that sets the chosen swatch, and buttons to
// use, save, reload and reset the colours.
#include "platform/ui/application.h"

class Program;

class TForm2 final : public ui::Form {
public:
    explicit TForm2(Program& program);

    // Stand-in for the colour-picker panel until the real picker control exists.
    ui::Panel JvGammaPanel1;
    ui::Panel Panel1, Panel2, Panel3;                   // background, screen, list
    ui::RadioButton RadioButton1, RadioButton2, RadioButton3;
    ui::Button Button3, Button5;                        // "Reinit", "Reset"
    ui::Button Button1, Button4, Button2;               // "Save", "Use", "Ok"

private:
    Program& m_program;
};
