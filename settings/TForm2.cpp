#include "settings/TForm2.h"

#include "app/Program.h"

TForm2::TForm2(Program& program)
    : ui::Form(program.app, "Form2", "TForm2"),
      JvGammaPanel1(this, "JvGammaPanel1"),
      Panel1(this, "Panel1"),
      Panel2(this, "Panel2"),
      Panel3(this, "Panel3"),
      RadioButton1(this, "RadioButton1"),
      RadioButton2(this, "RadioButton2"),
      RadioButton3(this, "RadioButton3"),
      Button3(this, "Button3"),
      Button5(this, "Button5"),
      Button1(this, "Button1"),
      Button4(this, "Button4"),
      Button2(this, "Button2"),
      m_program(program)
{
    // The title bar is painted by a gradient from teal that always reads
    // "Color panel"; the window text below is what the language switch changes.
    SetCaption("Color panel");
    SetBounds(126, 149, 312, 306);
    SetColor(ui::clBackground);

    JvGammaPanel1.SetBounds(16, 8, 65, 250);

    Panel1.SetBounds(104, 16, 49, 41);
    Panel2.SetBounds(104, 72, 49, 41);
    Panel3.SetBounds(104, 128, 49, 41);

    // The radio button that is on picks the swatch the picker sets.
    RadioButton1.SetBounds(176, 24, 97, 17);
    RadioButton1.SetCaption("Background");
    RadioButton1.SetColor(ui::clBtnFace);
    RadioButton1.SetChecked(true);
    RadioButton2.SetBounds(176, 80, 97, 17);
    RadioButton2.SetCaption("Screen");
    RadioButton2.SetColor(ui::clBtnFace);
    RadioButton3.SetBounds(176, 136, 97, 17);
    RadioButton3.SetCaption("List");
    RadioButton3.SetColor(ui::clBtnFace);

    Button3.SetBounds(104, 184, 49, 25);
    Button3.SetCaption("Reinit");
    Button5.SetBounds(168, 184, 49, 25);
    Button5.SetCaption("Reset");
    Button1.SetBounds(104, 232, 49, 25);
    Button1.SetCaption("Save");
    Button4.SetBounds(168, 232, 49, 25);
    Button4.SetCaption("Use");
    Button2.SetBounds(240, 232, 49, 25);
    Button2.SetCaption("Ok");
}
