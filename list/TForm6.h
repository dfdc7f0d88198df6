#pragma once
// The choose-file window: the first thing a user with an empty list sees;
// it adds pictures from disk or hands over to the enter-address window.
#include "platform/ui/application.h"

class Program;

class TForm6 final : public ui::Form {
public:
    explicit TForm6(Program& program);

    ui::Label Label1;                        // "Choose a file to use the software"
    ui::Button JvXPButton1, JvXPButton2;     // file on disk, remote file
    ui::OpenDialog OpenDialog1;

    // Adds the files chosen in the file-open dialog, previewing the last.
    void localtruc();
    void FormShow();
    void FormClose(ui::CloseAction& action);
    void JvXPButton1Click();
    void JvXPButton2Click();

private:
    Program& m_program;
};
