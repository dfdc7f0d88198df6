#pragma once
// The colour panel: three swatches for the main window's background, picture
// frame and list, a colour picker that sets the chosen swatch, and buttons to
// use, save, reload and reset the colours. The swatches are the only working
// copy: nothing reaches the main window or the colour file without a button.
#include "platform/ui/application.h"
#include "platform/ui/gammapanel.h"

class Program;

// A swatch is a plain panel that also answers a click.
class SwatchPanel final : public ui::Panel {
public:
    using ui::Panel::Panel;
    ui::NotifyEvent OnClick;
    void Click();   // what a click does: OnClick, when enabled
};

class TForm2 final : public ui::Form {
public:
    explicit TForm2(Program& program);

    ui::GammaPanel JvGammaPanel1;
    SwatchPanel Panel1, Panel2, Panel3;                 // background, screen, list
    ui::RadioButton RadioButton1, RadioButton2, RadioButton3;
    ui::Button Button3, Button5;                        // "Reinit", "Reset"
    ui::Button Button1, Button4, Button2;               // "Save", "Use", "Ok"

    void FormShow();
    void Panel1Click();
    void Panel2Click();
    void Panel3Click();
    void JvGammaPanel1ChangeColor(ui::TColor foreground, ui::TColor background);
    void Button4Click();   // "Use"
    void Button1Click();   // "Save"
    void Button3Click();   // "Reinit"
    void Button5Click();   // "Reset"
    void Button2Click();   // "Ok"

private:
    void ApplySwatches();
    Program& m_program;
};
