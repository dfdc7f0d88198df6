#pragma once
// The remote selector: a small browser in which, while the check box is
// ticked, a click on a picture adds its address to the list.
#include <functional>
#include <string>

#include "platform/browser/webbrowser.h"
#include "platform/com/com.h"
#include "platform/ui/application.h"

class Program;

// The click handler a page of the selector gets. Pages call their click
// handler as dispatch id 0; that runs OnEvent. Nothing else is answered: it
// has no type information and no names.
class TEventObject final : public com::DispatchObject {
public:
    using TObjectProcedure = std::function<void()>;

    // Starts with one reference, its creator's (com::MakeObject).
    explicit TEventObject(TObjectProcedure onEvent) : m_onEvent(std::move(onEvent)) {}

    com::HRESULT GetTypeInfoCount(unsigned* count) override;
    com::HRESULT GetTypeInfo(unsigned index, com::LCID lcid, com::ITypeInfo** info) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, com::OLECHAR** names, unsigned count, com::LCID lcid,
                               com::DISPID* ids) override;
    com::HRESULT Invoke(com::DISPID dispId, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DISPPARAMS* params, com::VARIANT* result, com::EXCEPINFO* excep,
                        unsigned* argErr) override;

    const TObjectProcedure& OnEvent() const { return m_onEvent; }

private:
    // Only its last Release deletes it.
    ~TEventObject() override = default;

    TObjectProcedure m_onEvent;
};

class TForm5 final : public ui::Form {
public:
    explicit TForm5(Program& program);
    ~TForm5() override;

    ui::Label Label1;              // "Url"
    ui::Edit Edit1;                // the address
    ui::Button Button3, Button6;   // "Go", "Stop"
    ui::Button Button1, Button2;   // "Back", "Forward"
    ui::Button Button5, Button4;   // "Home", "Set home "
    ui::CheckBox CheckBox1;        // picking mode; off at start
    browser::WebBrowser WebBrowser1;

    // The page that carries our click handler: the browser's top-level
    // document once it has completed, nothing while a navigation is under way.
    // The browser replaces its document only after telling us a navigation
    // starts, so this never outlives the page it points at.
    browser::Document* HookedDocument = nullptr;

    void FormCreate();
    void FormShow();
    void Button1Click();   // Back
    void Button2Click();   // Forward
    void Button3Click();   // Go
    void Button4Click();   // Set home
    void Button5Click();   // Home
    void Button6Click();   // Stop
    void WebBrowser1BeforeNavigate2(const std::string& url, bool& cancel);
    void WebBrowser1DocumentComplete(const std::string& url);
    void WebBrowser1DownloadComplete();
    void WebBrowser1CommandStateChange(int command, bool enable);
    // A click anywhere on the hooked page, through its TEventObject.
    void DocumentClick();

private:
    // The first line of url.ini; throws when the file cannot be read.
    std::string HomeAddress() const;

    Program& m_program;
};
