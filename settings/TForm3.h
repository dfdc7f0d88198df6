#pragma once
// The options window: the user's phone number, phone model and language. Its
// controls are the program's only live copy of these settings; the other
// windows read them here.
#include "platform/ui/application.h"

class Program;

class TForm3 final : public ui::Form {
public:
    explicit TForm3(Program& program);

    ui::GroupBox GroupBox1;     // "Phone number"
    ui::Edit Edit1;             // the phone number, inside GroupBox1
    ui::ComboBox ComboBox1;     // phone models
    ui::ComboBox ComboBox2;     // languages: 0 English, 1 French
    ui::Button Button1, Button2;   // "Save", "Close"

    void FormShow();
    void FormClose(ui::CloseAction& action);
    void ComboBox2Select();
    void Button1Click();
    void Button2Click();

private:
    Program& m_program;
};
