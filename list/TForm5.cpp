#include "list/TForm5.h"

#include "app/Program.h"
#include "list/TForm4.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

// ---- The click handler object ------------------------------------------------

com::HRESULT TEventObject::GetTypeInfoCount(unsigned* count)
{
    if (count)
        *count = 0;
    return com::E_NOTIMPL;
}

com::HRESULT TEventObject::GetTypeInfo(unsigned, com::LCID, com::ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return com::E_NOTIMPL;
}

com::HRESULT TEventObject::GetIDsOfNames(const com::IID&, com::OLECHAR**, unsigned, com::LCID, com::DISPID*)
{
    return com::E_NOTIMPL;
}

// The result is left alone: an empty answer does not cancel the click, so
// the page still does what it does with it (a link around a picture).
com::HRESULT TEventObject::Invoke(com::DISPID dispId, const com::IID&, com::LCID, std::uint16_t,
                                  com::DISPPARAMS*, com::VARIANT*, com::EXCEPINFO*, unsigned*)
{
    if (dispId != com::DISPID_VALUE)
        return com::E_NOTIMPL;
    if (m_onEvent)
        m_onEvent();
    return com::S_OK;
}

// ---- The window ----------------------------------------------------------------

TForm5::TForm5(Program& program)
    : ui::Form(program.app, "Form5", "TForm5"),
      Label1(this, "Label1"),
      Edit1(this, "Edit1"),
      Button3(this, "Button3"),
      Button6(this, "Button6"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      Button5(this, "Button5"),
      Button4(this, "Button4"),
      CheckBox1(this, "CheckBox1"),
      WebBrowser1(this, "WebBrowser1"),
      m_program(program)
{
    SetCaption("Remote selector");
    SetBounds(100, 80, 802, 517);

    // The sizes of the window, the address field and the browser are fixed;
    // the rest of the layout is ours: the address and the navigation buttons
    // in one row, the picking box under them, the browser below.
    Label1.SetBounds(8, 12, 19, 13);
    Label1.SetCaption("Url");
    Edit1.SetBounds(32, 8, 233, 21);
    Button3.SetBounds(272, 6, 41, 25);
    Button3.SetCaption("Go");
    Button6.SetBounds(320, 6, 41, 25);
    Button6.SetCaption("Stop");
    Button1.SetBounds(376, 6, 49, 25);
    Button1.SetCaption("Back");
    Button2.SetBounds(432, 6, 57, 25);
    Button2.SetCaption("Forward");
    Button5.SetBounds(504, 6, 49, 25);
    Button5.SetCaption("Home");
    // The trailing blank is in the window's own text; the English switch drops it.
    Button4.SetBounds(560, 6, 65, 25);
    Button4.SetCaption("Set home ");
    CheckBox1.SetBounds(8, 36, 217, 17);
    CheckBox1.SetCaption("Check this box to select a picture");
    WebBrowser1.SetBounds(8, 56, 777, 425);

    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
    Button3.OnClick = [this] { Button3Click(); };
    Button4.OnClick = [this] { Button4Click(); };
    Button5.OnClick = [this] { Button5Click(); };
    Button6.OnClick = [this] { Button6Click(); };
    WebBrowser1.OnBeforeNavigate2 = [this](const std::string& url, bool& cancel) {
        WebBrowser1BeforeNavigate2(url, cancel);
    };
    WebBrowser1.OnDocumentComplete = [this](const std::string& url) { WebBrowser1DocumentComplete(url); };
    WebBrowser1.OnDownloadComplete = [this] { WebBrowser1DownloadComplete(); };
    WebBrowser1.OnCommandStateChange = [this](int command, bool enable) {
        WebBrowser1CommandStateChange(command, enable);
    };
}

TForm5::~TForm5()
{
    // The page and its handler go with the browser; nothing may reach them
    // through us meanwhile.
    HookedDocument = nullptr;
}

std::string TForm5::HomeAddress() const
{
    std::vector<std::string> lines = sys::ReadLines(m_program.PathOf("url.ini"));
    return lines.empty() ? std::string() : lines.front();
}

// A url.ini that cannot be read leaves the field empty; the error box says why.
void TForm5::FormCreate() { Edit1.SetText(HomeAddress()); }

// Every showing goes back to whatever the field holds now.
void TForm5::FormShow() { WebBrowser1.Navigate(Edit1.Text()); }

void TForm5::Button1Click() { WebBrowser1.GoBack(); }

void TForm5::Button2Click() { WebBrowser1.GoForward(); }

void TForm5::Button3Click() { WebBrowser1.Navigate(Edit1.Text()); }

void TForm5::Button4Click() { sys::WriteFileAtomic(m_program.PathOf("url.ini"), Edit1.Text() + "\r\n"); }

// The field is left alone: the download's end puts the address there.
void TForm5::Button5Click() { WebBrowser1.Navigate(HomeAddress()); }

void TForm5::Button6Click() { WebBrowser1.Stop(); }

// Any navigation, a frame's too, unhooks: until the next page completes a
// click on what is still shown picks nothing.
void TForm5::WebBrowser1BeforeNavigate2(const std::string&, bool&) { HookedDocument = nullptr; }

// Also called for each frame; it is always the top-level page that gets a
// fresh handler, and the page lets go of the one it had.
void TForm5::WebBrowser1DocumentComplete(const std::string&)
{
    browser::Document* document = WebBrowser1.GetDocument();
    if (!document)
        return;
    HookedDocument = document;
    com::ComPtr<TEventObject> handler = com::MakeObject<TEventObject>([this] { DocumentClick(); });
    HookedDocument->SetOnClick(handler.Get());
}

// Also overwrites what the user may be typing.
void TForm5::WebBrowser1DownloadComplete() { Edit1.SetText(WebBrowser1.LocationURL()); }

void TForm5::WebBrowser1CommandStateChange(int command, bool enable)
{
    switch (command) {
    case browser::WebBrowser::CSC_NAVIGATEFORWARD:
        Button2.SetEnabled(enable);
        break;
    case browser::WebBrowser::CSC_NAVIGATEBACK:
        Button1.SetEnabled(enable);
        break;
    default:
        break;
    }
}

void TForm5::DocumentClick()
{
    if (!HookedDocument)
        return;
    browser::HtmlEvent* event = HookedDocument->ParentWindow().Event();
    browser::Element* element = event ? event->SrcElement() : nullptr;
    if (!element)
        throw browser::DocumentError("The page " + HookedDocument->URL() + " has no click in progress.");
    if (!CheckBox1.Checked() || sys::LowerAscii(element->TagName()) != "img")
        return;
    // Flags 0: the address as the browser resolves it, so a relative one in
    // the page becomes a full address the list can use.
    const std::string src = element->GetAttribute("src", 0);
    m_program.app.ShowMessage(src);
    // The same way in as a typed address: the enter-address window's Ok adds
    // the row, rewrites the list file and previews the picture.
    m_program.Form4->Edit1.SetText(src);
    m_program.Form4->Button1Click();
    // The click is not cancelled: a link around the picture is still followed.
}
