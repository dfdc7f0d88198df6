#pragma once
// The "Ready to send" window: shows the conversion service's delivery page,
// where the phone number is filled in and the user submits the form.
#include <functional>
#include <string>

#include "platform/browser/webbrowser.h"
#include "platform/ui/application.h"

class Program;

class TForm9 final : public ui::Form {
public:
    explicit TForm9(Program& program);

    browser::WebBrowser WebBrowser1;   // keeps the last page between sends

    // Each document that finishes loading (each frame too) gets the phone
    // number of the options window into its "phoneNumber" fields.
    void WebBrowser1DocumentComplete(const std::string& url);

private:
    Program& m_program;
};

// Writes `value` into every field named `fieldName` (letter case counts) of
// every form of the browser's page, in page order; true when at least one was
// written. The page's own frames are not looked into. A page that cannot be
// read (no page, a form whose fields cannot be listed) throws; a field that
// refuses its name or its value ends the filling quietly, keeping what was
// written before it.
bool FillFormField(browser::WebBrowser& browser, const std::string& fieldName, const std::string& value);

// The same on a document, with the write of one field given: the browser's
// own write is Element::SetValue, and a write that throws is a field refusing
// its value.
using FieldWrite = std::function<void(browser::Element& field, const std::string& value)>;
bool FillFormField(browser::Document& document, const std::string& fieldName, const std::string& value,
                   const FieldWrite& write);
