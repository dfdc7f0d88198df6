#include "list/TForm6.h"

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "list/TForm4.h"
#include "platform/image/image.h"
#include "platform/shell/shell.h"
#include "platform/sys/files.h"

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
    ToolWindow = true;

    // The window's size is all that is fixed; the label on top and the two
    // buttons stacked below it, full width, are our layout.
    Label1.SetBounds(8, 8, 174, 13);
    Label1.SetCaption("Choose a file to use the software");
    JvXPButton1.SetBounds(8, 32, 174, 25);
    JvXPButton1.SetCaption("Choose file on disk");
    JvXPButton2.SetBounds(8, 64, 174, 25);
    JvXPButton2.SetCaption("Choose remote file");

    // JPEG and BMP files first; "Upload" shows everything.
    OpenDialog1.Filter = "*|*.jpg;*.jpeg;*.bmp|Jpg/Jpeg|*.jpg;*.jpeg|Bmp|*.bmp|Upload|*";
    OpenDialog1.FilterIndex = 1;
    OpenDialog1.Options = ui::ofAllowMultiSelect | ui::ofHideReadOnly;

    OnShow = [this] { FormShow(); };
    OnClose = [this](ui::CloseAction& action) { FormClose(action); };
    JvXPButton1.OnClick = [this] { JvXPButton1Click(); };
    JvXPButton2.OnClick = [this] { JvXPButton2Click(); };
}

void TForm6::localtruc()
{
    if (!OpenDialog1.Execute(m_program.app))
        return;
    TvinForm1& main = *m_program.vinForm1;
    for (const std::string& file : OpenDialog1.Files) {
        main.AddRow(file);
        if (!file.empty()) {
            main.WriteListFile();
            const int last = main.ListView1.Count() - 1;
            main.Label1.SetCaption(main.ListView1.Item(last).SubItems.at(0));
            main.Image1.SetPicture(img::LoadPictureByExtension(main.Label1.Caption()));
            main.webbrowser1.SetWidth(0);
            Close();
        }
        main.adresizescroll(0);
        main.adresizescroll(1);
    }
}

// The list file is handed to the shell's "erase" verb, whatever that does
// for its type; where nothing is registered for it, nothing happens.
void TForm6::FormShow()
{
    const std::string file = m_program.PathOf("files.ini");
    if (sys::FileExists(file))
        shell::ShellExecute(Handle, "erase", file, "", "", shell::SW_SHOWNORMAL);
}

// With no picture at all there is nothing to work on: the program ends.
void TForm6::FormClose(ui::CloseAction&)
{
    if (m_program.vinForm1->ListView1.Count() == 0)
        m_program.vinForm1->Close();
}

void TForm6::JvXPButton1Click() { localtruc(); }
void TForm6::JvXPButton2Click() { m_program.Form4->Show(); }
