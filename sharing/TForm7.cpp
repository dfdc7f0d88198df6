#include "sharing/TForm7.h"

#include "app/Program.h"

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
}
