#include "app/TvinForm1.h"

#include "app/Program.h"

TvinForm1::TvinForm1(Program& program)
    : ui::Form(program.app, "vinForm1", "TvinForm1"), m_program(program)
{
    SetCaption("Vintrel");
    SetBounds(0, 0, 259, 418);
}
