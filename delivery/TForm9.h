#pragma once
// The "Ready to send" window: shows the conversion service's delivery page,
// where the phone number is filled in and the user submits the form.
#include "platform/browser/webbrowser.h"
#include "platform/ui/application.h"

class Program;

class TForm9 final : public ui::Form {
public:
    explicit TForm9(Program& program);

    browser::WebBrowser WebBrowser1;   // keeps the last page between sends

private:
    Program& m_program;
};
