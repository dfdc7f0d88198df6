#include "list/TForm5.h"

#include "app/Program.h"

TForm5::TForm5(Program& program)
    : ui::Form(program.app, "Form5", "TForm5"),
      Label1(this, "Label1"),
      Edit1(this, "Edit1"),
      Button3(this, "Button3"),
      Button6(this, "Button6"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      Button5(this, "Button5"),
      Button4(this, "Button4"),
      CheckBox1(this, "CheckBox1"),
      WebBrowser1(this, "WebBrowser1"),
      m_program(program)
{
    SetCaption("Remote selector");
    SetBounds(100, 80, 802, 517);

    // The sizes of the window, the address field and the browser are fixed;
    // the rest of the layout is ours: the address and the navigation buttons
    // in one row, the picking box under them, the browser below.
    Label1.SetBounds(8, 12, 19, 13);
    Label1.SetCaption("Url");
    Edit1.SetBounds(32, 8, 233, 21);
    Button3.SetBounds(272, 6, 41, 25);
    Button3.SetCaption("Go");
    Button6.SetBounds(320, 6, 41, 25);
    Button6.SetCaption("Stop");
    Button1.SetBounds(376, 6, 49, 25);
    Button1.SetCaption("Back");
    Button2.SetBounds(432, 6, 57, 25);
    Button2.SetCaption("Forward");
    Button5.SetBounds(504, 6, 49, 25);
    Button5.SetCaption("Home");
    // The trailing blank is in the window's own text; the English switch drops it.
    Button4.SetBounds(560, 6, 65, 25);
    Button4.SetCaption("Set home ");
    CheckBox1.SetBounds(8, 36, 217, 17);
    CheckBox1.SetCaption("Check this box to select a picture");
    WebBrowser1.SetBounds(8, 56, 777, 425);
}
