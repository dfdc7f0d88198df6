#include "delivery/TForm10.h"

#include "app/Program.h"

TForm10::TForm10(Program& program)
    : ui::Form(program.app, "Form10", "TForm10"),
      Image1(this, "Image1"),
      Image2(this, "Image2"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      m_program(program)
{
    SetCaption("bmp to jpg");
    // Nobody ever sees this window, so where it sits and where its controls
    // sit (the two pictures side by side, the buttons under them) is ours.
    SetBounds(200, 200, 353, 270);

    Image1.SetBounds(8, 8, 105, 105);
    Image2.SetBounds(128, 8, 105, 105);
    Button1.SetBounds(8, 128, 75, 25);
    Button1.SetCaption("load");
    Button2.SetBounds(96, 128, 75, 25);
    Button2.SetCaption("save");
}
