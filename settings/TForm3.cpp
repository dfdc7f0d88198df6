#include "settings/TForm3.h"

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/sys/files.h"
#include "settings/language.h"
#include "settings/options.h"
#include "settings/phonemodels.h"
#include "settings/registration.h"

TForm3::TForm3(Program& program)
    : ui::Form(program.app, "Form3", "TForm3"),
      GroupBox1(this, "GroupBox1"),
      Edit1(&GroupBox1, "Edit1"),
      ComboBox1(this, "ComboBox1"),
      ComboBox2(this, "ComboBox2"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      m_program(program)
{
    SetCaption("Options");
    SetBounds(388, 241, 198, 227);
    SetColor(ui::clGradientInactiveCaption);

    GroupBox1.SetBounds(8, 16, 177, 49);
    GroupBox1.SetCaption("Phone number");
    Edit1.SetBounds(16, 16, 145, 21);

    // The phone model catalogue fills this list; its entry 0 is the
    // "choose your mobile" placeholder.
    ComboBox1.SetBounds(16, 80, 161, 19);
    LoadPhoneModels(ComboBox1);

    // The language is the selected index, so the order of the entries matters.
    ComboBox2.SetBounds(56, 120, 89, 19);
    ComboBox2.SetItems({"English", "Français"});
    ComboBox2.SetItemIndex(0);

    Button1.SetBounds(16, 160, 65, 25);
    Button1.SetCaption("Save");
    Button2.SetBounds(112, 160, 67, 25);
    Button2.SetCaption("Close");

    OnShow = [this] { FormShow(); };
    OnClose = [this](ui::CloseAction& action) { FormClose(action); };
    ComboBox2.OnSelect = [this] { ComboBox2Select(); };
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
}

// Showing the window brings back the saved settings; unsaved edits go.
void TForm3::FormShow()
{
    if (OptionsFileExists(m_program))
        readoptions(m_program);
}

// Without a saved options file there is nothing to run on: closing the
// window ends the program.
void TForm3::FormClose(ui::CloseAction&)
{
    if (!OptionsFileExists(m_program))
        m_program.vinForm1->Close();
}

void TForm3::ComboBox2Select() { moui(m_program); }

void TForm3::Button1Click()
{
    // The registration runs first; when it fails the options are not written.
    registruc(m_program);
    if (Edit1.Text().empty())
        return;
    writeoptions(m_program);
}

void TForm3::Button2Click()
{
    if (OptionsFileExists(m_program))
        Close();
    else
        m_program.app.ShowMessage("Please enter something");
}
