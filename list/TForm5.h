#pragma once
// The remote selector: a small browser in which, while the check box is
// ticked, a click on a picture adds its address to the list.
#include "platform/browser/webbrowser.h"
#include "platform/ui/application.h"

class Program;

class TForm5 final : public ui::Form {
public:
    explicit TForm5(Program& program);

    ui::Label Label1;              // "Url"
    ui::Edit Edit1;                // the address
    ui::Button Button3, Button6;   // "Go", "Stop"
    ui::Button Button1, Button2;   // "Back", "Forward"
    ui::Button Button5, Button4;   // "Home", "Set home "
    ui::CheckBox CheckBox1;        // picking mode; off at start
    browser::WebBrowser WebBrowser1;

private:
    Program& m_program;
};
