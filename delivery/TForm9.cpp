#include "delivery/TForm9.h"

#include "app/Program.h"
#include "settings/TForm3.h"

TForm9::TForm9(Program& program)
    : ui::Form(program.app, "Form9", "TForm9"),
      WebBrowser1(this, "WebBrowser1"),
      m_program(program)
{
    SetCaption("Ready to send");
    // Where the window opens is ours; the browser fills it from the corner.
    SetBounds(180, 60, 659, 591);

    WebBrowser1.SetBounds(0, 0, 649, 555);
    WebBrowser1.OnDocumentComplete = [this](const std::string& url) { WebBrowser1DocumentComplete(url); };
}

// Whichever frame finished, the page itself is filled: the number is written
// again every time, so a field the page reset meanwhile gets it back.
void TForm9::WebBrowser1DocumentComplete(const std::string&)
{
    FillFormField(WebBrowser1, "phoneNumber", m_program.Form3->Edit1.Text());
}

bool FillFormField(browser::WebBrowser& browser, const std::string& fieldName, const std::string& value)
{
    browser::Document* document = browser.GetDocument();
    if (!document)
        throw browser::DocumentError("The browser " + browser.Name() + " shows no page.");
    return FillFormField(*document, fieldName, value,
                         [](browser::Element& field, const std::string& text) { field.SetValue(text); });
}

bool FillFormField(browser::Document& document, const std::string& fieldName, const std::string& value,
                   const FieldWrite& write)
{
    if (document.GetElementsByTagName("form").Count() == 0)
        return false;
    bool written = false;
    for (browser::Element* form : document.Forms()) {
        for (browser::Element* field : form->Elements()) {
            // Every field of that name in every form, not just the first.
            try {
                if (field->Name() == fieldName) {
                    write(*field, value);
                    written = true;
                }
            } catch (const std::exception&) {
                return written;
            }
        }
    }
    return written;
}
