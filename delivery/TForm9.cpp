#include "delivery/TForm9.h"

#include "app/Program.h"

TForm9::TForm9(Program& program)
    : ui::Form(program.app, "Form9", "TForm9"),
      WebBrowser1(this, "WebBrowser1"),
      m_program(program)
{
    SetCaption("Ready to send");
    // Where the window opens is ours; the browser fills it from the corner.
    SetBounds(180, 60, 659, 591);

    WebBrowser1.SetBounds(0, 0, 649, 555);
}
