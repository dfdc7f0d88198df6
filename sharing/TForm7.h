#pragma once
// The tools window: a mail to a friend about the new picture (composed as a
// "mailto:" address for the user's mail program) and the sponsor's link.
#include <string>

#include "platform/ui/application.h"

class Program;

class TForm7 final : public ui::Form {
public:
    explicit TForm7(Program& program);

    ui::GroupBox GroupBox2;     // "Send to your friend": the mail controls
    ui::Button Button1;         // "Mail": opens the mail list
    ui::Edit Edit1;             // recipients
    ui::Label Label5;           // "Subject"
    ui::Edit Edit2;             // subject
    ui::Label Label4;           // "Body"
    ui::Memo RichEdit1;         // body
    ui::CheckBox CheckBox1;     // "Append picture url"
    ui::Button JvXPButton3;     // "Send"

    ui::GroupBox GroupBox1;     // "Get a ringtone or pictures"
    ui::Button JvXPButton1;     // "Go online"
    ui::Label Label1;           // "(sponsor)"

    ui::Button JvXPButton2;     // "close"

    void FormActivate();
    void JvXPButton3Click();
    void Button1Click();
    void JvXPButton1Click();
    void JvXPButton2Click();

    // The address "Send" opens: recipients, subject and body (and the web
    // picture's address when asked for), line breaks as "%0d%0a".
    std::string MailAddress() const;

private:
    Program& m_program;
};
