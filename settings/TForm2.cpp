#include "settings/TForm2.h"

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "settings/colorfile.h"

namespace {

// What "Reset" puts in the swatches: background, picture frame, list.
constexpr ui::TColor kResetBackground = ui::RGB(113, 111, 100);
constexpr ui::TColor kResetScreen = ui::clBlack;
constexpr ui::TColor kResetList = ui::RGB(192, 220, 192);

} // namespace

void SwatchPanel::Click()
{
    if (Enabled() && OnClick)
        OnClick();
}

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
    ToolWindow = true;
    PaintedCaption = ui::Form::GradientCaption{ui::RGB(0, 128, 128), "Color panel"};
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

    OnShow = [this] { FormShow(); };
    JvGammaPanel1.OnChangeColor = [this](ui::TColor fg, ui::TColor bg) { JvGammaPanel1ChangeColor(fg, bg); };
    Panel1.OnClick = [this] { Panel1Click(); };
    Panel2.OnClick = [this] { Panel2Click(); };
    Panel3.OnClick = [this] { Panel3Click(); };
    Button4.OnClick = [this] { Button4Click(); };
    Button1.OnClick = [this] { Button1Click(); };
    Button3.OnClick = [this] { Button3Click(); };
    Button5.OnClick = [this] { Button5Click(); };
    Button2.OnClick = [this] { Button2Click(); };
}

// Every showing starts again from what the main window shows; edits that were
// never used are dropped here.
void TForm2::FormShow()
{
    const TvinForm1& main = *m_program.vinForm1;
    Panel1.SetColor(main.Color());
    Panel2.SetColor(main.GroupBox2.Color());
    Panel3.SetColor(main.ListView1.Color());
}

void TForm2::Panel1Click() { RadioButton1.SetChecked(true); }
void TForm2::Panel2Click() { RadioButton2.SetChecked(true); }
void TForm2::Panel3Click() { RadioButton3.SetChecked(true); }

// Only the foreground colour is used: a change of the background colour hands
// the chosen swatch the foreground colour as it stands.
void TForm2::JvGammaPanel1ChangeColor(ui::TColor foreground, ui::TColor)
{
    if (RadioButton1.Checked())
        Panel1.SetColor(foreground);
    else if (RadioButton2.Checked())
        Panel2.SetColor(foreground);
    else if (RadioButton3.Checked())
        Panel3.SetColor(foreground);
}

void TForm2::ApplySwatches()
{
    TvinForm1& main = *m_program.vinForm1;
    main.SetColor(Panel1.Color());
    main.GroupBox2.SetColor(Panel2.Color());
    main.ListView1.SetColor(Panel3.Color());
}

void TForm2::Button4Click() { ApplySwatches(); }

// Applied first, so a failed write still leaves the colours on screen.
void TForm2::Button1Click()
{
    ApplySwatches();
    writecolorfile(m_program.PathOf("color.ini"), Panel1.Color(), Panel2.Color(), Panel3.Color());
}

// A failed read leaves the swatches read so far changed and the main window
// untouched.
void TForm2::Button3Click()
{
    readcolorfile(m_program.PathOf("color.ini"), [this](int index, ui::TColor color) {
        (index == 0 ? Panel1 : index == 1 ? Panel2 : Panel3).SetColor(color);
    });
    ApplySwatches();
}

void TForm2::Button5Click()
{
    Panel1.SetColor(kResetBackground);
    Panel2.SetColor(kResetScreen);
    Panel3.SetColor(kResetList);
}

void TForm2::Button2Click() { Close(); }
