#include "list/TForm4.h"

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/preview.h"
#include "list/TForm6.h"
#include "platform/sys/files.h"

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
    ToolWindow = true;

    // Only the field's width is fixed; we centre it and put the two buttons
    // side by side below it.
    Edit1.SetBounds(27, 16, 289, 21);
    Button1.SetBounds(88, 56, 75, 25);
    Button1.SetCaption("Ok");
    Button2.SetBounds(180, 56, 75, 25);
    Button2.SetCaption("Close");

    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
}

void TForm4::Button1Click()
{
    TvinForm1& main = *m_program.vinForm1;
    const std::string text = Edit1.Text();
    if (text.size() < 7)
        m_program.app.ShowMessage("An url starts with http://");
    if (beginwithhttp(text)) {
        // The list file is opened before the row is added: a file that
        // cannot be written leaves the list as it was.
        sys::AtomicWriter file(m_program.PathOf("files.ini"));
        main.AddRow(text);
        file.Commit(main.ListText());
        Close();
        main.webbrowser1.SetWidth(235);
        main.Label1.SetCaption(text);
        main.webbrowser1.Navigate(main.Label1.Caption());
        if (m_program.Form6->Visible())
            m_program.Form6->Close();
    }
    if (main.ListView1.Count() > 0) {
        main.adresizescroll(0);
        main.adresizescroll(1);
    }
}

void TForm4::Button2Click() { Close(); }
