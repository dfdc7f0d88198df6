#include "list/TForm4.h"

#include "app/Program.h"

TForm4::TForm4(Program& program)
    : ui::Form(program.app, "Form4", "TForm4"),
      Edit1(this, "Edit1"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      m_program(program)
{
    SetCaption("Enter the url of your picture");
    // A small tool window, 344 x 94 inside; where it opens is our choice.
    SetBounds(300, 250, 344, 94);

    // Only the field's width is fixed; we centre it and put the two buttons
    // side by side below it.
    Edit1.SetBounds(27, 16, 289, 21);
    Button1.SetBounds(88, 56, 75, 25);
    Button1.SetCaption("Ok");
    Button2.SetBounds(180, 56, 75, 25);
    Button2.SetCaption("Close");
}
