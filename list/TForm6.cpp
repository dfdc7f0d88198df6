#include "list/TForm6.h"

#include "app/Program.h"

TForm6::TForm6(Program& program)
    : ui::Form(program.app, "Form6", "TForm6"),
      Label1(this, "Label1"),
      JvXPButton1(this, "JvXPButton1"),
      JvXPButton2(this, "JvXPButton2"),
      m_program(program)
{
    // No title: the label says what the window is for.
    // A small tool window, 190 x 100 inside; where it opens is our choice.
    SetBounds(330, 250, 190, 100);

    // The window's size is all that is fixed; the label on top and the two
    // buttons stacked below it, full width, are our layout.
    Label1.SetBounds(8, 8, 174, 13);
    Label1.SetCaption("Choose a file to use the software");
    JvXPButton1.SetBounds(8, 32, 174, 25);
    JvXPButton1.SetCaption("Choose file on disk");
    JvXPButton2.SetBounds(8, 64, 174, 25);
    JvXPButton2.SetCaption("Choose remote file");
}
