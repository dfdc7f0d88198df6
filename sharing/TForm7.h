#pragma once
// The tools window: a mail to a friend about the new picture (composed as a
// "mailto:" address for the user's mail program) and the sponsor's link.
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

private:
    Program& m_program;
};
