#include "sharing/TForm8.h"

#include "app/Program.h"

TForm8::TForm8(Program& program)
    : ui::Form(program.app, "Form8", "TForm8"),
      ListBox1(this, "ListBox1"),
      Edit1(this, "Edit1"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      Button3(this, "Button3"),
      m_program(program)
{
    // Only the texts are fixed; the layout is ours: the list on top, the
    // entry field under it, the three buttons in a row at the bottom.
    SetCaption("Mail list");
    SetBounds(610, 150, 241, 281);

    ListBox1.SetBounds(8, 8, 217, 169);
    ListBox1.MultiSelect = true;
    Edit1.SetBounds(8, 184, 217, 21);
    Button1.SetBounds(8, 216, 65, 25);
    Button1.SetCaption("Add");
    Button2.SetBounds(80, 216, 73, 25);
    Button2.SetCaption("Remove line");
    Button3.SetBounds(160, 216, 65, 25);
    Button3.SetCaption("Close");
}
