#pragma once
// The enter-address window. Its Ok action is how every web address reaches
// the picture list: the remote selector, the browser add-in and the image host
// put the address into Edit1 and press Ok, shown or not.
#include "platform/ui/application.h"

class Program;

class TForm4 final : public ui::Form {
public:
    explicit TForm4(Program& program);

    ui::Edit Edit1;                // the address; kept between uses
    ui::Button Button1, Button2;   // "Ok", "Close"

    // Ok: adds the address in Edit1 to the list and previews it.
    void Button1Click();
    void Button2Click();

private:
    Program& m_program;
};
