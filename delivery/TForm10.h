#pragma once
// The bmp to jpg window: never shown. The send presses its two buttons, load
// then save, to turn a local bitmap into the temporary JPEG it uploads.
#include "platform/ui/application.h"

class Program;

class TForm10 final : public ui::Form {
public:
    explicit TForm10(Program& program);

    ui::Image Image1;                // the decoded bitmap
    ui::Image Image2;                // the working picture that save encodes
    ui::Button Button1, Button2;     // "load", "save"

    // Load: the current picture, a bitmap, becomes the working picture as
    // a JPEG would show it.
    void Button1Click();
    // Save: the working picture as the temporary JPEG beside the program.
    void Button2Click();

private:
    Program& m_program;
};
