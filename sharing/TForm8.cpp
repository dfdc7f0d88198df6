#include "sharing/TForm8.h"

#include "app/Program.h"
#include "platform/sys/files.h"
#include "sharing/TForm7.h"

namespace {
constexpr const char* kMailList = "mail.ini";
}

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

    OnActivate = [this] { FormActivate(); };
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
    ListBox1.OnClick = [this] { ListBox1Click(); };
    Button3.OnClick = [this] { Button3Click(); };
}

// The file is read whole before the list changes, so a file that cannot be
// read leaves the list as it was. No file at all leaves it too.
void TForm8::FormActivate()
{
    const std::string file = m_program.PathOf(kMailList);
    if (!sys::FileExists(file))
        return;
    ListBox1.SetItems(sys::ReadLines(file));
}

// The file is rewritten whole from the list. When that fails the new entry
// stays in the list all the same, and the error is reported.
void TForm8::Button1Click()
{
    if (Edit1.Text().empty())
        return;
    ListBox1.AddItem(Edit1.Text());
    std::string content;
    for (const std::string& entry : ListBox1.Items())
        content += entry + "\r\n";
    sys::WriteFileAtomic(m_program.PathOf(kMailList), content);
}

// Only the list changes; the file keeps the lines until the next "Add".
void TForm8::Button2Click()
{
    for (int i = ListBox1.Count() - 1; i >= 0; --i)
        if (ListBox1.Selected(i))
            ListBox1.DeleteItem(i);
}

// Every click appends all the lines selected at that moment, the lowest
// first, each followed by "; ".
void TForm8::ListBox1Click()
{
    ui::Edit& recipients = m_program.Form7->Edit1;
    for (int i = ListBox1.Count() - 1; i >= 0; --i)
        if (ListBox1.Selected(i))
            recipients.SetText(recipients.Text() + ListBox1.Items()[static_cast<size_t>(i)] + "; ");
}

void TForm8::Button3Click() { Close(); }
