#pragma once
// The main window.
#include "platform/ui/application.h"

class Program;

class TvinForm1 final : public ui::Form {
public:
    explicit TvinForm1(Program& program);

private:
    Program& m_program;
};
