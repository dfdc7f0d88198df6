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

private:
    Program& m_program;
};
