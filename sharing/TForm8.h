#pragma once
// The mail list window: the addresses kept in "mail.ini", from which the
// user copies recipients into the tools window.
#include "platform/ui/application.h"

class Program;

class TForm8 final : public ui::Form {
public:
    explicit TForm8(Program& program);

    ui::ListBox ListBox1;                   // the entries; several may be selected
    ui::Edit Edit1;                         // entry to add
    ui::Button Button1, Button2, Button3;   // "Add", "Remove line", "Close"

    void FormActivate();
    void Button1Click();
    void Button2Click();
    void ListBox1Click();
    void Button3Click();

private:
    Program& m_program;
};
