#include "sharing/TForm7.h"

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/services.h"
#include "platform/shell/shell.h"
#include "sharing/TForm8.h"

TForm7::TForm7(Program& program)
    : ui::Form(program.app, "Form7", "TForm7"),
      GroupBox2(this, "GroupBox2"),
      Button1(&GroupBox2, "Button1"),
      Edit1(&GroupBox2, "Edit1"),
      Label5(&GroupBox2, "Label5"),
      Edit2(&GroupBox2, "Edit2"),
      Label4(&GroupBox2, "Label4"),
      RichEdit1(&GroupBox2, "RichEdit1"),
      CheckBox1(&GroupBox2, "CheckBox1"),
      JvXPButton3(&GroupBox2, "JvXPButton3"),
      GroupBox1(this, "GroupBox1"),
      JvXPButton1(&GroupBox1, "JvXPButton1"),
      Label1(&GroupBox1, "Label1"),
      JvXPButton2(this, "JvXPButton2"),
      m_program(program)
{
    // Only the texts of this window are fixed. The layout is ours: the mail
    // frame on top (recipients, subject, body, then the url box and "Send"),
    // the sponsor frame below it, "close" at the bottom right.
    SetCaption("Tools for nothing");
    SetBounds(280, 150, 321, 409);

    GroupBox2.SetBounds(8, 8, 297, 265);
    GroupBox2.SetCaption("Send to your friend");
    Button1.SetBounds(8, 20, 49, 21);
    Button1.SetCaption("Mail");
    Edit1.SetBounds(64, 20, 225, 21);
    Label5.SetBounds(8, 52, 36, 13);
    Label5.SetCaption("Subject");
    Edit2.SetBounds(64, 48, 225, 21);
    Edit2.SetCaption("My new picture");
    Label4.SetBounds(8, 80, 24, 13);
    Label4.SetCaption("Body");
    RichEdit1.SetBounds(8, 96, 281, 105);
    // The two empty lines leave room below the text for the picture's address.
    RichEdit1.SetLines({
        "Hello,",
        "I have just changed the picture of my gsm. ",
        "I uploaded the following picture:",
        "",
        "",
    });
    CheckBox1.SetBounds(8, 212, 153, 17);
    CheckBox1.SetCaption("Append picture url");
    JvXPButton3.SetBounds(208, 232, 81, 25);
    JvXPButton3.SetCaption("Send");

    GroupBox1.SetBounds(8, 280, 297, 57);
    GroupBox1.SetCaption("Get a ringtone or pictures");
    JvXPButton1.SetBounds(8, 20, 97, 25);
    JvXPButton1.SetCaption("Go online");
    Label1.SetBounds(112, 26, 46, 13);
    Label1.SetCaption("(sponsor)");

    JvXPButton2.SetBounds(230, 344, 75, 25);
    JvXPButton2.SetCaption("close");

    OnActivate = [this] { FormActivate(); };
    JvXPButton3.OnClick = [this] { JvXPButton3Click(); };
    Button1.OnClick = [this] { Button1Click(); };
    JvXPButton1.OnClick = [this] { JvXPButton1Click(); };
    JvXPButton2.OnClick = [this] { JvXPButton2Click(); };
}

// The picture's address can only be offered while the main window shows a
// picture from the web.
void TForm7::FormActivate()
{
    if (m_program.vinForm1->webbrowser1.Width() > 0) {
        CheckBox1.SetEnabled(true);
    } else {
        CheckBox1.SetChecked(false);
        CheckBox1.SetEnabled(false);
    }
}

std::string TForm7::MailAddress() const
{
    // The body as the box's text reads: its lines joined by CR LF, no line
    // end after the last.
    std::string body;
    const auto& lines = RichEdit1.Lines();
    for (size_t i = 0; i < lines.size(); ++i)
        body += (i ? "\r\n" : "") + lines[i];

    std::string text = "mailto: " + Edit1.Text() + "?" + "subject=" + Edit2.Text() + "&" + "body" + "=" + body;
    if (CheckBox1.Checked())
        text += m_program.vinForm1->webbrowser1.LocationURL();

    // Only line breaks are encoded; everything else goes as typed.
    std::string address;
    address.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            address += "%0d%0a";
            ++i;
        } else {
            address += text[i];
        }
    }
    return address;
}

// The user's mail program takes it from here; whether one answered is not
// looked at, and the window stays as it is.
void TForm7::JvXPButton3Click()
{
    shell::ShellExecute(0, "open", MailAddress(), "", "", shell::SW_SHOWNORMAL);
}

void TForm7::Button1Click() { m_program.Form8->Show(); }

void TForm7::JvXPButton1Click()
{
    shell::ShellExecute(m_program.vinForm1->Handle, "", "http://" + ContentHost() + "/", "", "", shell::SW_SHOWNORMAL);
}

void TForm7::JvXPButton2Click() { Close(); }
