// The web browser control: addresses, the document model, the COM basics it
// uses, and the engine against a local web server (tests/fixtures/browser).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/browser/document.h"
#include "platform/browser/url.h"
#include "platform/browser/webbrowser.h"
#include "platform/com/com.h"
#include "platform/sys/error.h"
#include "platform/ui/application.h"
#include "tests/test_support.h"

using namespace browser;
using testing_support::ReadText;

namespace {

const std::string kFixtures = VINTREL_SOURCE_DIR "/tests/fixtures/browser";

// The message of the DocumentError `f` throws, or what happened instead.
template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const DocumentError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "no error";
}

// An IDispatch whose Invoke runs a test's function; counts the live ones.
class TestHandler : public com::DispatchObject {
public:
    static inline int alive = 0;
    TestHandler() { ++alive; }
    ~TestHandler() override { --alive; }

    std::function<void()> onInvoke;
    bool returnFalse = false;
    std::vector<std::pair<com::DISPID, std::uint16_t>> calls;

    com::HRESULT Invoke(com::DISPID id, const com::IID&, com::LCID, std::uint16_t flags, com::DISPPARAMS*,
                        com::VARIANT* result, com::EXCEPINFO*, unsigned*) override
    {
        calls.emplace_back(id, flags);
        if (onInvoke)
            onInvoke();
        if (returnFalse && result) {
            result->vt = com::VT_BOOL;
            result->boolVal = com::VARIANT_FALSE;
        }
        return com::S_OK;
    }
};

// ---- Addresses ---------------------------------------------------------------

TEST(BrowserUrl, ResolvesRelativeAddressesAsABrowserDoes)
{
    struct Case {
        const char* base;
        const char* relative;
        const char* expected;
    };
    const Case cases[] = {
        {"http://host/dir/page.html?x=1#top", "pic.png", "http://host/dir/pic.png"},
        {"http://host/dir/page.html?x=1#top", "../up.png", "http://host/up.png"},
        {"http://host/dir/page.html?x=1#top", "/root.png", "http://host/root.png"},
        {"http://host/dir/page.html?x=1#top", "//other/x.png", "http://other/x.png"},
        {"http://host/dir/page.html?x=1#top", "?q=2", "http://host/dir/page.html?q=2"},
        {"http://host/dir/page.html?x=1#top", "#frag", "http://host/dir/page.html?x=1#frag"},
        {"http://host/dir/page.html?x=1#top", "", "http://host/dir/page.html?x=1"},
        {"http://host/dir/page.html?x=1#top", " my pic.png\n", "http://host/dir/my%20pic.png"},
        {"http://host/dir/page.html?x=1#top", "pi\tc.p\r\nng", "http://host/dir/pic.png"},
        {"http://host/dir/page.html", "https://Example.COM", "https://example.com/"},
        {"http://host/dir/page.html", "mailto:someone@example.com", "mailto:someone@example.com"},
        {"https://host:8443/a/b/", "c", "https://host:8443/a/b/c"},
        {"file:///home/u/list/page.html", "../pic.jpg", "file:///home/u/pic.jpg"},
        {"about:blank", "x.png", "x.png"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveUrl(c.base, c.relative), c.expected) << c.base << " + " << c.relative;
}

TEST(BrowserUrl, AddressesGivenToTheControl)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "about:blank"},
        {"  ", "about:blank"},
        {"/tmp/my list/a b.htm", "file:///tmp/my%20list/a%20b.htm"},
        {"http://host", "http://host/"},
        {" http://host/p?q=1 ", "http://host/p?q=1"},
        {"about:blank", "about:blank"},
    };
    for (auto [given, expected] : cases)
        EXPECT_EQ(NormalizeAddress(given), expected) << '"' << given << '"';

    EXPECT_EQ(FilePathFromUrl("file:///tmp/my%20list/a%20b.htm"), "/tmp/my list/a b.htm");
    EXPECT_EQ(FilePathFromUrl(FileUrlFromPath("/tmp/100% é#?.png")), "/tmp/100% é#?.png");
    EXPECT_EQ(FilePathFromUrl("http://host/x"), "");
    EXPECT_EQ(FormEncode("a b&c=d/é~*"), "a+b%26c%3Dd%2F%C3%A9%7E*");
}

// ---- The document model --------------------------------------------------------

std::shared_ptr<Document> FormPage()
{
    return Document::Parse("http://example.test/shop/form.html", ReadText(kFixtures + "/form.html"));
}

std::vector<std::string> Names(const ElementCollection& items)
{
    std::vector<std::string> out;
    for (Element* e : items)
        out.push_back(e->Name());
    return out;
}

TEST(BrowserDocument, FormFieldsInPageOrderEvenWhenTheParserMovesThem)
{
    auto doc = FormPage();
    ASSERT_EQ(doc->Forms().Count(), 2);
    EXPECT_EQ(Names(doc->Forms()), (std::vector<std::string>{"search", "delivery"}));
    // The picture button is no field of the first form's list.
    EXPECT_EQ(Names(doc->Forms().Item(0).Elements()), (std::vector<std::string>{"q"}));
    // The second form sits in a table: its fields end up outside it in the tree.
    Element& form = doc->Forms().Item("delivery");
    EXPECT_EQ(Names(form.Elements()), (std::vector<std::string>{"phone", "model", "message", "urgent", "speed",
                                                                 "speed", "note", "send", "other"}));
    Element& phone = form.Elements().Item("phone");
    EXPECT_EQ(phone.TagName(), "INPUT");
    EXPECT_EQ(phone.Form(), &form);
    EXPECT_EQ(doc->GetElementById("delivery").Name(), "delivery");
}

TEST(BrowserDocument, FieldValuesReadAndWrite)
{
    auto doc = FormPage();
    ElementCollection fields = doc->Forms().Item("delivery").Elements();
    Element& phone = fields.Item("phone");
    Element& model = fields.Item("model");
    Element& message = fields.Item("message");

    EXPECT_EQ(phone.Value(), "");
    phone.SetValue("0612345678");
    EXPECT_EQ(phone.Value(), "0612345678");

    EXPECT_EQ(message.Value(), "Hello");
    message.SetValue("Two\nlines");
    EXPECT_EQ(message.Value(), "Two\nlines");

    // A list gives its selected option's value, an option without one its text.
    EXPECT_EQ(model.Value(), "b");
    model.SetValue("Gamma Ray");
    EXPECT_EQ(model.Value(), "Gamma Ray");
    model.SetValue("a");
    EXPECT_EQ(model.Value(), "a");
    model.SetValue("no such model");
    EXPECT_EQ(model.Value(), "");
}

// What a view of the page is given: the page with the program's edits, read
// back the same by a parser, every element numbered so the view's reports can
// be found again, and told of each edit.
TEST(BrowserDocument, PageAsHtmlCarriesTheEditsAndFindsItsElementsAgain)
{
    auto doc = Document::Parse("http://example.org/shop/",
                               "<title>A &amp; B</title><img src=\"a.jpg\" alt='say \"hi\"'><br>"
                               "<form name=f><input name=phone><textarea name=t>x</textarea>"
                               "<select name=s><option>a<option>b</select></form>"
                               "<script>if (1 < 2) go();</script><p>1 &lt; 2 &amp;&amp; ok</p>");
    int edits = 0;
    doc->SetOnEdited([&] { ++edits; });
    doc->Images().Item(0).SetWidth(190);
    auto fields = doc->Forms().Item(0).Elements();
    fields.Item("phone").SetValue("06 \"12\" <34>");
    fields.Item("t").SetValue("two\nlines & more");
    fields.Item("s").SetValue("b");
    EXPECT_GE(edits, 4);

    std::vector<Element*> order;
    std::string html = doc->Html(&order);
    auto again = Document::Parse(doc->URL(), html);
    EXPECT_EQ(again->Title(), "A & B");
    Element& img = again->Images().Item(0);
    EXPECT_EQ(img.Width(), 190);
    EXPECT_EQ(img.GetAttribute("alt"), "say \"hi\"");
    EXPECT_EQ(img.GetAttribute("src", attrAsWritten), "a.jpg");
    auto read = again->Forms().Item(0).Elements();
    EXPECT_EQ(read.Item("phone").Value(), "06 \"12\" <34>");
    EXPECT_EQ(read.Item("t").Value(), "two\nlines & more");
    EXPECT_EQ(read.Item("s").Value(), "b");
    std::string plain = doc->Html();
    EXPECT_NE(plain.find("<script>if (1 < 2) go();</script>"), std::string::npos);   // as written
    EXPECT_NE(plain.find("<p>1 &lt; 2 &amp;&amp; ok</p>"), std::string::npos);
    EXPECT_EQ(plain.find("</br>"), std::string::npos);   // void elements have no end tag

    // A frame shows the document loaded for it, written into the page.
    auto page = Document::Parse("http://example.org/", "<iframe src=\"inner.htm\"></iframe>");
    page->GetElementsByTagName("iframe").Item(0).SetContentDocument(
        Document::Parse("http://example.org/inner.htm", "<b title='a \"b\"'>in & out</b>"));
    auto framed = Document::Parse(page->URL(), page->Html());
    Element& frame = framed->GetElementsByTagName("iframe").Item(0);
    EXPECT_FALSE(frame.HasAttribute("src"));
    auto inner = Document::Parse("about:srcdoc", frame.GetAttribute("srcdoc"));
    EXPECT_EQ(inner->GetElementsByTagName("b").Item(0).Text(), "in & out");
    EXPECT_EQ(inner->GetElementsByTagName("b").Item(0).GetAttribute("title"), "a \"b\"");

    // Element N of the order is the one the reparsed page numbers N.
    ASSERT_EQ(order.size(), static_cast<size_t>(again->All().Count()));
    for (int i = 0; i < again->All().Count(); ++i) {
        Element& e = again->All().Item(i);
        ASSERT_EQ(e.GetAttribute("data-vintrel"), std::to_string(i));
        EXPECT_EQ(order[static_cast<size_t>(i)]->TagName(), e.TagName());
    }
}

TEST(BrowserDocument, MissingThingsThrowWithAClearMessage)
{
    auto doc = FormPage();
    Element& form = doc->Forms().Item("delivery");
    EXPECT_EQ(ErrorOf([&] { form.Elements().Item("fax"); }), "The form has no field named \"fax\".");
    EXPECT_EQ(ErrorOf([&] { form.Elements().Item(9); }), "The form has no field 9 (it has 9).");
    EXPECT_EQ(ErrorOf([&] { form.Elements().Item(-1); }), "The form has no field -1 (it has 9).");
    EXPECT_EQ(ErrorOf([&] { doc->Forms().Item(2); }), "The page has no form 2 (it has 2).");
    EXPECT_EQ(ErrorOf([&] { doc->Forms().Item("login"); }), "The page has no form named \"login\".");
    EXPECT_EQ(ErrorOf([&] { doc->Images().Item(0); }), "The page has no picture 0 (it has 0).");
    EXPECT_EQ(ErrorOf([&] { doc->GetElementById("nope"); }), "The page has no element with the id \"nope\".");
    EXPECT_EQ(ErrorOf([&] { doc->Body().Elements(); }), "The element BODY is not a form.");
    EXPECT_EQ(ErrorOf([&] { doc->Frames().Item(0); }), "The page has no frame 0 (it has 0).");
    // Each is a sys::Error, which the loop shows in the error box.
    EXPECT_THROW(doc->Forms().Item(7), sys::Error);
}

TEST(BrowserDocument, AttributesAsTheBrowserGivesThem)
{
    auto doc = Document::Parse("http://example.test/dir/page.html",
                               "<body><a HREF='../next.html' Data-X='1'><IMG src=' pic one.png '></a>"
                               "<script>var hidden;</script><p>Visible <b>text</b></p></body>");
    Element& link = doc->Links().Item(0);
    EXPECT_EQ(link.TagName(), "A");
    EXPECT_EQ(link.GetAttribute("href"), "http://example.test/next.html");
    EXPECT_EQ(link.GetAttribute("href", attrAsWritten), "../next.html");
    EXPECT_EQ(link.GetAttribute("data-x"), "1");
    EXPECT_EQ(link.GetAttribute("Data-X", attrCaseSensitive), "");   // the parser lowers names
    EXPECT_EQ(link.GetAttribute("title"), "");
    EXPECT_FALSE(link.HasAttribute("title"));

    Element& img = doc->Images().Item(0);
    EXPECT_EQ(img.TagName(), "IMG");
    EXPECT_EQ(img.GetAttribute("SRC"), "http://example.test/dir/pic%20one.png");
    EXPECT_EQ(img.Parent(), &link);
    img.SetWidth(235);
    EXPECT_EQ(img.Width(), 235);
    EXPECT_EQ(img.GetAttribute("width"), "235");
    img.SetAttribute("ALT", "a");
    img.SetAttribute("alt", "b");
    EXPECT_EQ(img.GetAttribute("alt"), "b");
    EXPECT_EQ(std::count_if(img.Attributes().begin(), img.Attributes().end(),
                            [](const auto& a) { return a.first == "alt"; }), 1);

    EXPECT_EQ(doc->Body().Text(), "Visible text");
}

TEST(BrowserDocument, CharacterSetOfThePage)
{
    struct Case {
        const char* what;
        std::string bytes;
        const char* contentType;
        const char* charset;
        const char* text;
    };
    const Case cases[] = {
        {"header", "<p>caf\xe9 \x80</p>", "text/html; charset=ISO-8859-1", "windows-1252", "caf\u00e9 \u20ac"},
        {"meta charset", "<meta charset=\"windows-1252\"><p>caf\xe9</p>", "text/html", "windows-1252", "caf\u00e9"},
        {"meta http-equiv", "<meta http-equiv=Content-Type content='text/html; charset=iso-8859-1'><p>\xe0</p>",
         "text/html", "windows-1252", "\u00e0"},
        {"unlabelled, not UTF-8", "<p>d\xe9j\xe0</p>", "text/html", "windows-1252", "d\u00e9j\u00e0"},
        {"unlabelled UTF-8", "<p>d\u00e9j\u00e0</p>", "text/html", "utf-8", "d\u00e9j\u00e0"},
        {"header wins over meta", "<meta charset=iso-8859-1><p>\u00e9</p>", "text/html; charset=utf-8", "utf-8",
         "\u00e9"},
    };
    for (const Case& c : cases) {
        auto doc = Document::Parse("http://example.test/", c.bytes, c.contentType);
        EXPECT_EQ(doc->CharSet(), c.charset) << c.what;
        EXPECT_EQ(doc->GetElementsByTagName("P").Item(0).Text(), c.text) << c.what;
    }
}

// What the document asked its control for.
struct Requests {
    std::vector<Request> list;
    void Attach(Document& doc)
    {
        doc.SetNavigator([this](const Request& r) { list.push_back(r); });
    }
};

TEST(BrowserDocument, SendingAFormAsItsPageSays)
{
    struct Case {
        const char* what;
        std::function<void(Document&)> act;
        const char* url;
        const char* method;
        const char* body;
    };
    auto field = [](Document& d, const char* name) -> Element& { return d.Forms().Item("delivery").Elements().Item(name); };
    const Case cases[] = {
        {"submit button", [&](Document& d) {
             field(d, "phone").SetValue("06 12&3");
             d.Click(field(d, "send"));
         },
         "http://example.test/echo", "POST", "phone=06+12%263&model=b&message=Hello&speed=slow&send=Send"},
        {"checked box, other radio, plain button", [&](Document& d) {
             d.Click(field(d, "urgent"));
             d.Click(d.Forms().Item("delivery").Elements().Item(5));   // speed=fast
             d.Click(field(d, "other"));
         },
         "http://example.test/echo", "POST", "phone=&model=b&message=Hello&urgent=yes&speed=fast&other=x"},
        {"box clicked twice is unchecked", [&](Document& d) {
             d.Click(field(d, "urgent"));
             d.Click(field(d, "urgent"));
             d.Forms().Item("delivery").Submit();
         },
         "http://example.test/echo", "POST", "phone=&model=b&message=Hello&speed=slow"},
        {"picture button", [](Document& d) { d.Click(d.GetElementsByTagName("input").Item(1)); },
         "http://example.test/echo?q=start&go.x=0&go.y=0", "GET", ""},
        {"submit()", [](Document& d) { d.Forms().Item(0).Submit(); }, "http://example.test/echo?q=start", "GET", ""},
    };
    for (const Case& c : cases) {
        auto doc = FormPage();
        Requests sent;
        sent.Attach(*doc);
        c.act(*doc);
        ASSERT_EQ(sent.list.size(), 1u) << c.what;
        EXPECT_EQ(sent.list[0].url, c.url) << c.what;
        EXPECT_EQ(sent.list[0].method, c.method) << c.what;
        EXPECT_EQ(sent.list[0].body, c.body) << c.what;
        if (std::string(c.method) == "POST") {
            EXPECT_EQ(sent.list[0].contentType, "application/x-www-form-urlencoded");
        }
    }
}

TEST(BrowserDocument, AWesternPageSendsItsFormInItsOwnSet)
{
    auto doc = Document::Parse("http://example.test/", "<form action=/f><input name=t></form>",
                               "text/html; charset=iso-8859-1");
    Requests sent;
    sent.Attach(*doc);
    doc->Forms().Item(0).Elements().Item("t").SetValue("\u00e9\u20ac\u65e5");
    doc->Forms().Item(0).Submit();
    ASSERT_EQ(sent.list.size(), 1u);
    EXPECT_EQ(sent.list[0].url, "http://example.test/f?t=%E9%80%26%2326085%3B");
}

TEST(BrowserDocument, ClickHandlerSeesTheSourceAndCanKeepTheLink)
{
    struct Case {
        const char* what;
        bool returnFalse;
        bool clearReturnValue;
        bool follows;
    };
    const Case cases[] = {
        {"handler returns nothing", false, false, true},
        {"handler returns false", true, false, false},
        {"handler clears the event's return value", false, true, false},
    };
    for (const Case& c : cases) {
        auto doc = Document::Parse("http://example.test/dir/", ReadText(kFixtures + "/images.html"));
        Requests sent;
        sent.Attach(*doc);
        auto handler = com::MakeObject<TestHandler>();
        Element* source = nullptr;
        std::size_t requestsDuringHandler = 99;
        handler->returnFalse = c.returnFalse;
        handler->onInvoke = [&] {
            HtmlEvent* event = doc->ParentWindow().Event();
            ASSERT_NE(event, nullptr);
            EXPECT_EQ(event->Type(), "click");
            source = event->SrcElement();
            requestsDuringHandler = sent.list.size();
            if (c.clearReturnValue)
                event->SetReturnValue(false);
        };
        doc->SetOnClick(handler.Get());
        Element& picture = doc->Images().Item(2);   // inside <a><span>
        doc->Click(picture);

        ASSERT_EQ(handler->calls.size(), 1u) << c.what;
        EXPECT_EQ(handler->calls[0], std::make_pair(com::DISPID_VALUE, std::uint16_t(com::DISPATCH_METHOD)));
        ASSERT_EQ(source, &picture) << c.what;
        EXPECT_EQ(source->TagName(), "IMG");
        EXPECT_EQ(source->GetAttribute("src"), "http://example.test/dir/three.jpg");
        EXPECT_EQ(requestsDuringHandler, 0u) << c.what;   // the link waits for the handler
        EXPECT_EQ(doc->ParentWindow().Event(), nullptr) << c.what;
        if (c.follows) {
            ASSERT_EQ(sent.list.size(), 1u) << c.what;
            EXPECT_EQ(sent.list[0].url, "http://example.test/dir/target.html");
        } else {
            EXPECT_TRUE(sent.list.empty()) << c.what;
        }
    }
}

TEST(BrowserDocument, ClickHandlerIsKeptByTheDocument)
{
    int before = TestHandler::alive;
    {
        auto doc = Document::Parse("http://example.test/", "<p>x</p>");
        auto handler = com::MakeObject<TestHandler>();
        doc->SetOnClick(handler.Get());
        handler.Reset();
        EXPECT_EQ(TestHandler::alive, before + 1);
        // A handler that takes itself off while it runs lives to the end of its call.
        static_cast<TestHandler*>(doc->OnClick())->onInvoke = [&] { doc->SetOnClick(nullptr); };
        doc->Click(doc->Body());
        EXPECT_EQ(doc->OnClick(), nullptr);
        EXPECT_EQ(TestHandler::alive, before);

        doc->SetOnClick(com::MakeObject<TestHandler>().Get());
        EXPECT_EQ(TestHandler::alive, before + 1);
    }
    EXPECT_EQ(TestHandler::alive, before);   // released with the document
}

TEST(BrowserDocument, LinksToScriptsAreNotFollowed)
{
    auto doc = Document::Parse("http://example.test/", ReadText(kFixtures + "/images.html"));
    Requests sent;
    sent.Attach(*doc);
    doc->Click(doc->GetElementById("script"));
    EXPECT_TRUE(sent.list.empty());
}

// ---- COM basics -------------------------------------------------------------------

TEST(BrowserCom, GuidText)
{
    EXPECT_EQ(com::GuidToString(com::IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(com::ParseGuid("{00020400-0000-0000-C000-000000000046}"), com::IID_IDispatch);

    auto g = com::ParseGuid("6b29fc40-ca47-1067-b31d-00dd010662da");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Data1, 0x6B29FC40u);
    EXPECT_EQ(g->Data2, 0xCA47);
    EXPECT_EQ(g->Data3, 0x1067);
    EXPECT_EQ(g->Data4[0], 0xB3);
    EXPECT_EQ(g->Data4[7], 0xDA);
    EXPECT_EQ(com::GuidToString(*g), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_NE(*g, com::IID_IDispatch);

    for (const char* bad : {"", "{}", "{00020400-0000-0000-C000-00000000004}", "{00020400-0000-0000-C000-0000000000460}",
                            "{00020400+0000-0000-C000-000000000046}", "{0002040G-0000-0000-C000-000000000046}",
                            "{00020400-0000-0000-C000-000000000046", "(00020400-0000-0000-C000-000000000046)"})
        EXPECT_FALSE(com::ParseGuid(bad)) << bad;
}

TEST(BrowserCom, StringConversions)
{
    const std::pair<std::string, std::u16string> utf8ToUtf16[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\u00e9\u20ac", u"\u00e9\u20ac"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},                   // a pair of surrogates
        {"a\xFF" "b", u"a\uFFFD" "b"},                           // not a start byte
        {"\xE2\x82", u"\uFFFD\uFFFD"},                           // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                 // a surrogate written in UTF-8
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},       // past U+10FFFF
    };
    for (const auto& [utf8, utf16] : utf8ToUtf16)
        EXPECT_EQ(com::Utf8ToUtf16(utf8), utf16) << utf8;

    const std::pair<std::u16string, std::string> utf16ToUtf8[] = {
        {u"\U0001F600x", "\xF0\x9F\x98\x80x"},
        {u"\xD800x", "?x"},          // high surrogate alone
        {u"a\xDC00", "a?"},          // low surrogate alone
        {u"\xDC00\xD800", "??"},     // the wrong way round
        {u"\xD800", "?"},            // high surrogate at the end
    };
    for (const auto& [utf16, utf8] : utf16ToUtf8)
        EXPECT_EQ(com::Utf16ToUtf8(utf16), utf8);

    com::BSTR s = com::SysAllocStringUtf8("caf\u00e9 \U0001F600");
    EXPECT_EQ(com::SysStringLen(s), 7u);
    EXPECT_EQ(s[7], 0);
    EXPECT_EQ(com::BstrToUtf8(s), "caf\u00e9 \U0001F600");
    com::SysFreeString(s);

    com::BSTR withZero = com::SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(com::SysStringLen(withZero), 3u);
    EXPECT_EQ(com::BstrToUtf8(withZero), std::string("a\0b", 3));
    com::SysFreeString(withZero);

    EXPECT_EQ(com::SysStringLen(nullptr), 0u);
    EXPECT_EQ(com::BstrToUtf8(nullptr), "");
    EXPECT_EQ(com::SysAllocString(nullptr), nullptr);
    com::SysFreeString(nullptr);
}

TEST(BrowserCom, VariantsOwnTheirStringAndReference)
{
    int before = TestHandler::alive;
    auto object = com::MakeObject<TestHandler>();
    com::VARIANT a, b, text, copy;
    for (com::VARIANT* v : {&a, &b, &text, &copy})
        com::VariantInit(v);
    a.vt = com::VT_DISPATCH;
    a.pdispVal = object.Get();
    object->AddRef();
    EXPECT_EQ(com::VariantCopy(&b, &a), com::S_OK);
    object.Reset();
    com::VariantClear(&a);
    EXPECT_EQ(TestHandler::alive, before + 1);   // the copy holds its own reference
    EXPECT_EQ(b.pdispVal->AddRef(), 2u);
    b.pdispVal->Release();
    com::VariantClear(&b);
    EXPECT_EQ(TestHandler::alive, before);
    EXPECT_EQ(b.vt, com::VT_EMPTY);

    text.vt = com::VT_BSTR;
    text.bstrVal = com::SysAllocStringUtf8("hello");
    com::VariantCopy(&copy, &text);
    EXPECT_NE(copy.bstrVal, text.bstrVal);
    EXPECT_EQ(com::BstrToUtf8(copy.bstrVal), "hello");
    com::VariantClear(&text);
    com::VariantClear(&copy);   // freed once each: the sanitizers would tell

    // A by-reference variant owns nothing.
    com::BSTR owned = com::SysAllocStringUtf8("mine");
    com::VARIANT ref;
    com::VariantInit(&ref);
    ref.vt = com::VT_BSTR | com::VT_BYREF;
    ref.byref = &owned;
    com::VariantClear(&ref);
    EXPECT_EQ(com::BstrToUtf8(owned), "mine");
    com::SysFreeString(owned);
}

TEST(BrowserCom, DispatchObjectAnswersItsInterfaces)
{
    int before = TestHandler::alive;
    com::IDispatch* object = new TestHandler();   // holds its first reference
    void* out = nullptr;
    ASSERT_EQ(object->QueryInterface(com::IID_IUnknown, &out), com::S_OK);
    EXPECT_EQ(out, static_cast<void*>(object));
    ASSERT_EQ(object->QueryInterface(com::IID_IDispatch, &out), com::S_OK);
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);

    out = &out;
    EXPECT_EQ(object->QueryInterface(*com::ParseGuid("{6B29FC40-CA47-1067-B31D-00DD010662DA}"), &out), com::E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object->QueryInterface(com::IID_IUnknown, nullptr), com::E_POINTER);

    std::u16string name = u"Whatever";
    com::OLECHAR* names[] = {name.data()};
    com::DISPID id = 5;
    EXPECT_EQ(object->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id), com::DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, com::DISPID_UNKNOWN);
    unsigned count = 9;
    EXPECT_EQ(object->GetTypeInfoCount(&count), com::S_OK);
    EXPECT_EQ(count, 0u);

    EXPECT_EQ(TestHandler::alive, before + 1);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(TestHandler::alive, before);
}

// ---- The control against a local web server -----------------------------------

// A port on which nothing listens.
int FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

class BrowserControl : public ::testing::Test {
protected:
    static inline std::unique_ptr<testing_support::FixtureServer> server;
    static inline std::string base;   // "http://127.0.0.1:N/"

    static void SetUpTestSuite()
    {
        server = std::make_unique<testing_support::FixtureServer>(kFixtures + "/server.py");
        ASSERT_TRUE(server->Started()) << "the test server did not start";
        base = server->Base();
    }
    static void TearDownTestSuite() { server.reset(); }

    ui::Application app;
    ui::Form form{app, "Main", "TMain"};
    std::unique_ptr<WebBrowser> web;
    std::vector<std::string> events;
    bool pageComplete = false;

    void SetUp() override
    {
        ASSERT_FALSE(base.empty());
        app.CreateForm(form);
        web = Make(events);
    }

    // Events as "before page.html", "download", "back 1", "complete page.html",
    // addresses of the test server shortened.
    std::string Short(const std::string& url) const
    {
        return url.starts_with(base) ? url.substr(base.size()) : url;
    }

    std::unique_ptr<WebBrowser> Make(std::vector<std::string>& log)
    {
        auto w = std::make_unique<WebBrowser>(&form, "WebBrowser" + std::to_string(form.Children().size() + 1));
        WebBrowser* self = w.get();
        w->OnBeforeNavigate2 = [this, &log](const std::string& url, bool&) { log.push_back("before " + Short(url)); };
        w->OnDownloadComplete = [&log] { log.push_back("download"); };
        w->OnCommandStateChange = [&log](int command, bool enable) {
            log.push_back((command == 2 ? "back " : command == 1 ? "forward " : "?") + std::to_string(enable));
        };
        w->OnDocumentComplete = [this, &log, self](const std::string& url) {
            log.push_back("complete " + Short(url));
            if (!self->Busy())
                pageComplete = true;
        };
        return w;
    }

    template <class Pred>
    bool PumpUntil(Pred done, int timeoutMs = 15000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            app.ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    void PumpFor(int ms)
    {
        PumpUntil([] { return false; }, ms);
    }
    // Until the page itself (not a frame) has completed.
    bool WaitComplete()
    {
        bool ok = PumpUntil([this] { return pageComplete; });
        pageComplete = false;
        return ok;
    }
    bool Load(const std::string& url)
    {
        web->Navigate(url);
        return WaitComplete();
    }
    std::vector<std::string> Taken()
    {
        return std::exchange(events, {});
    }
    static bool Has(const std::vector<std::string>& log, const std::string& e)
    {
        return std::find(log.begin(), log.end(), e) != log.end();
    }
};

TEST_F(BrowserControl, NavigateReturnsAtOnceAndTheLoopLoads)
{
    web->Navigate(base + "images.html");
    EXPECT_TRUE(events.empty());   // not even BeforeNavigate2 inside the call
    EXPECT_EQ(web->GetDocument(), nullptr);
    EXPECT_EQ(web->LocationURL(), "");
    EXPECT_TRUE(web->Busy());

    ASSERT_TRUE(WaitComplete());
    EXPECT_EQ(Taken(), (std::vector<std::string>{"before images.html", "download", "back 0", "forward 0",
                                                 "complete images.html"}));
    EXPECT_FALSE(web->Busy());
    EXPECT_EQ(web->LocationURL(), base + "images.html");
    EXPECT_EQ(web->LocationName(), "Pictures");
}

TEST_F(BrowserControl, PicturesInPageOrderAndTheFirstOnesWidth)
{
    ASSERT_TRUE(Load(base + "images.html"));
    Document* doc = web->GetDocument();
    ASSERT_NE(doc, nullptr);
    ElementCollection images = doc->Images();
    ASSERT_EQ(images.Count(), 3);
    std::vector<std::string> sources;
    for (Element* img : images)
        sources.push_back(img->GetAttribute("src"));
    EXPECT_EQ(sources, (std::vector<std::string>{base + "one.png", base + "sub/two.gif", base + "three.jpg"}));

    images.Item(0).SetWidth(235);
    EXPECT_EQ(doc->Images().Item(0).Width(), 235);
    EXPECT_EQ(doc->GetElementById("first").GetAttribute("width"), "235");
    EXPECT_EQ(ErrorOf([&] { doc->Images().Item(3); }), "The page has no picture 3 (it has 3).");
}

TEST_F(BrowserControl, FormFieldsOfALoadedPageAndSendingThem)
{
    ASSERT_TRUE(Load(base + "form.html"));
    Element& form = web->GetDocument()->Forms().Item("delivery");
    form.Elements().Item("phone").SetValue("+33 6");
    EXPECT_EQ(form.Elements().Item(0).Name(), "phone");
    EXPECT_EQ(ErrorOf([&] { form.Elements().Item("email"); }), "The form has no field named \"email\".");

    Taken();
    web->Click(form.Elements().Item("send"));
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(WaitComplete());
    EXPECT_EQ(Taken(), (std::vector<std::string>{"before echo", "download", "back 1", "forward 0", "complete echo"}));
    Document* answer = web->GetDocument();
    EXPECT_EQ(answer->GetElementById("method").Text(), "POST");
    EXPECT_EQ(answer->GetElementById("data").Text(), "phone=%2B33+6&model=b&message=Hello&speed=slow&send=Send");
}

TEST_F(BrowserControl, FramesCompleteEachThenThePageLast)
{
    ASSERT_TRUE(Load(base + "frames.html"));
    std::vector<std::string> log = Taken();
    auto at = [&](const std::string& e) { return std::find(log.begin(), log.end(), e) - log.begin(); };
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "complete frames.html");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& e) { return e.starts_with("complete"); }), 4);
    for (const char* e : {"before frame_a.html", "before sub/frame_b.html", "before target.html", "complete frame_a.html"})
        EXPECT_TRUE(Has(log, e)) << e;
    // The inner frame completes before the frame that holds it; each frame's
    // load starts after the page's own download.
    EXPECT_LT(at("complete target.html"), at("complete sub/frame_b.html"));
    EXPECT_LT(at("forward 0"), at("before frame_a.html"));

    Document* doc = web->GetDocument();
    ASSERT_EQ(doc->Frames().Count(), 2);
    EXPECT_EQ(doc->Frames().Item(0).URL(), base + "frame_a.html");
    Document& right = doc->Frames().Item("right");
    EXPECT_EQ(right.Images().Item(0).GetAttribute("src"), base + "sub/two.gif");
    EXPECT_EQ(right.Frames().Item("inner").GetElementById("here").Text(), "The link's page.");
    EXPECT_EQ(right.Frames().Item("empty").URL(), "about:blank");
    EXPECT_EQ(doc->Body().TagName(), "FRAMESET");
    EXPECT_EQ(ErrorOf([&] { doc->Frames().Item(2); }), "The page has no frame 2 (it has 2).");
    EXPECT_EQ(ErrorOf([&] { doc->Frames().Item("top"); }), "The page has no frame named \"top\".");
}

TEST_F(BrowserControl, HistoryBackAndForward)
{
    ASSERT_TRUE(Load(base + "images.html"));
    ASSERT_TRUE(Load(base + "target.html"));
    std::vector<std::string> log = Taken();
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"back 1", "forward 0", "complete target.html"}));

    struct Step {
        std::function<void()> move;
        const char* location;
        bool back, forward;
    };
    const Step steps[] = {
        {[&] { web->GoBack(); }, "images.html", false, true},
        {[&] { web->GoForward(); }, "target.html", true, false},
        {[&] { web->GoBack(); }, "images.html", false, true},
        {[&] { web->Navigate(base + "form.html"); }, "form.html", true, false},   // drops target.html
        {[&] { web->GoBack(); }, "images.html", false, true},
        {[&] { web->GoForward(); }, "form.html", true, false},
    };
    for (const Step& s : steps) {
        s.move();
        ASSERT_TRUE(WaitComplete()) << s.location;
        log = Taken();
        EXPECT_EQ(log.front(), std::string("before ") + s.location);
        EXPECT_TRUE(Has(log, std::string("back ") + (s.back ? "1" : "0"))) << s.location;
        EXPECT_TRUE(Has(log, std::string("forward ") + (s.forward ? "1" : "0"))) << s.location;
        EXPECT_EQ(web->LocationURL(), base + s.location);
        EXPECT_EQ(web->CanGoBack(), s.back);
        EXPECT_EQ(web->CanGoForward(), s.forward);
    }
    EXPECT_THROW(web->GoForward(), sys::Error);
}

TEST_F(BrowserControl, FailedLoadsShowAnErrorPageAndComplete)
{
    struct Case {
        std::string url;
        const char* error;
    };
    const Case cases[] = {
        {base + "missing.html", "404"},
        {"http://127.0.0.1:" + std::to_string(FreePort()) + "/page.html", "connect"},
        {"file:///nonexistent/page.html", "/nonexistent/page.html was not found"},
        {"gopher://example.test/", "not one this browser can open"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Load(c.url)) << c.url;
        std::vector<std::string> log = Taken();
        EXPECT_TRUE(Has(log, "download")) << c.url;
        EXPECT_EQ(log.back(), "complete " + Short(c.url));
        EXPECT_EQ(web->LocationURL(), c.url);
        Document* doc = web->GetDocument();
        EXPECT_NE(doc->LoadError().find(c.error), std::string::npos) << doc->LoadError();
        EXPECT_EQ(doc->Title(), "The page cannot be displayed");
        EXPECT_NE(doc->Body().Text().find(c.url), std::string::npos) << doc->Body().Text();
    }
}

TEST_F(BrowserControl, APictureAddressShowsTheLonePicture)
{
    const std::pair<std::string, std::string> cases[] = {
        {base + "picture.png", base + "picture.png"},
        {base + "redirect?to=/picture.png", base + "picture.png"},
        {kFixtures + "/picture.gif", FileUrlFromPath(kFixtures + "/picture.gif")},
    };
    for (const auto& [address, shown] : cases) {
        ASSERT_TRUE(Load(address)) << address;
        EXPECT_EQ(web->LocationURL(), shown);
        Document* doc = web->GetDocument();
        ASSERT_EQ(doc->Images().Count(), 1) << address;
        EXPECT_EQ(doc->Images().Item(0).GetAttribute("src"), shown);
        EXPECT_EQ(doc->Body().Children().size(), 1u);
        EXPECT_EQ(doc->LoadError(), "");
    }
}

TEST_F(BrowserControl, ClickOnAPictureInALinkFollowsTheLinkAfterTheHandler)
{
    ASSERT_TRUE(Load(base + "images.html"));
    Document* doc = web->GetDocument();
    auto handler = com::MakeObject<TestHandler>();
    std::string tag, src, locationDuringHandler;
    bool busyDuringHandler = true;
    handler->onInvoke = [&] {
        Element* source = doc->ParentWindow().Event()->SrcElement();
        tag = source->TagName();
        src = source->GetAttribute("src");
        locationDuringHandler = web->LocationURL();
        busyDuringHandler = web->Busy();
    };
    doc->SetOnClick(handler.Get());
    Taken();
    web->Click(doc->Images().Item(2));
    EXPECT_EQ(tag, "IMG");
    EXPECT_EQ(src, base + "three.jpg");
    EXPECT_EQ(locationDuringHandler, base + "images.html");
    EXPECT_FALSE(busyDuringHandler);
    EXPECT_EQ(doc->ParentWindow().Event(), nullptr);
    EXPECT_TRUE(web->Busy());

    ASSERT_TRUE(WaitComplete());
    EXPECT_EQ(web->LocationURL(), base + "target.html");
    EXPECT_EQ(Taken().front(), "before target.html");
}

TEST_F(BrowserControl, LocalFilesByAddressAndByPath)
{
    for (const std::string& address : {FileUrlFromPath(kFixtures + "/form.html"), kFixtures + "/form.html"}) {
        ASSERT_TRUE(Load(address)) << address;
        EXPECT_EQ(web->LocationURL(), FileUrlFromPath(kFixtures + "/form.html"));
        Document* doc = web->GetDocument();
        EXPECT_EQ(doc->LoadError(), "");
        EXPECT_EQ(doc->Forms().Count(), 2);
        EXPECT_EQ(doc->GetElementsByTagName("input").Item(1).GetAttribute("src"), FileUrlFromPath(kFixtures + "/one.png"));
    }
}

TEST_F(BrowserControl, EmptyAddressIsABlankPage)
{
    ASSERT_TRUE(Load(""));
    EXPECT_EQ(web->LocationURL(), "about:blank");
    EXPECT_EQ(Taken().back(), "complete about:blank");
    EXPECT_TRUE(web->GetDocument()->Body().Children().empty());
}

TEST_F(BrowserControl, CancelInBeforeNavigateStopsIt)
{
    ASSERT_TRUE(Load(base + "images.html"));
    web->OnBeforeNavigate2 = [this](const std::string& url, bool& cancel) {
        events.push_back("before " + Short(url));
        cancel = true;
    };
    Taken();
    web->Navigate(base + "target.html");
    ASSERT_TRUE(PumpUntil([this] { return !web->Busy(); }));
    PumpFor(200);
    EXPECT_EQ(Taken(), std::vector<std::string>{"before target.html"});
    EXPECT_EQ(web->LocationURL(), base + "images.html");
    EXPECT_FALSE(web->CanGoBack());
}

TEST_F(BrowserControl, AThrowingHandlerIsShownAndTheLoadGoesOn)
{
    web->OnDownloadComplete = [] { throw sys::Error("Handler failed"); };
    ASSERT_TRUE(Load(base + "frames.html"));
    ASSERT_EQ(app.Shown().size(), 1u);
    EXPECT_EQ(app.Shown()[0].text, "Handler failed");
    EXPECT_EQ(Taken().back(), "complete frames.html");
}

TEST_F(BrowserControl, StopAndANewNavigationDropTheLoadInProgress)
{
    web->Navigate(base + "stall");
    ASSERT_TRUE(PumpUntil([this] { return Has(events, "before stall"); }));
    web->Stop();
    EXPECT_FALSE(web->Busy());
    PumpFor(200);
    EXPECT_EQ(Taken(), std::vector<std::string>{"before stall"});
    EXPECT_EQ(web->GetDocument(), nullptr);

    // A second Navigate before the first one has even begun replaces it.
    web->Navigate(base + "stall");
    web->Navigate(base + "target.html");
    ASSERT_TRUE(WaitComplete());
    EXPECT_EQ(Taken(), (std::vector<std::string>{"before target.html", "download", "back 0", "forward 0",
                                                 "complete target.html"}));
}

TEST_F(BrowserControl, DestroyingTheControlWhileItLoads)
{
    struct Moment {
        const char* what;
        std::function<void(std::vector<std::string>&)> waitFor;
    };
    const Moment moments[] = {
        {"before the loop began the load", [](std::vector<std::string>&) {}},
        {"during the transfer", [&](std::vector<std::string>& log) {
             ASSERT_TRUE(PumpUntil([&] { return !log.empty(); }));
         }},
        {"with its answer waiting in the loop", [&](std::vector<std::string>& log) {
             ASSERT_TRUE(PumpUntil([&] { return !log.empty(); }));
             std::this_thread::sleep_for(std::chrono::milliseconds(300));   // the answer is posted, not handled
         }},
    };
    for (const Moment& m : moments) {
        for (const char* page : {"stall", "frames.html"}) {
            std::vector<std::string> log;
            auto w = Make(log);
            w->Navigate(base + page);
            m.waitFor(log);
            auto started = std::chrono::steady_clock::now();
            w.reset();
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << m.what;
            PumpFor(100);
            EXPECT_LE(log.size(), 1u) << m.what << " " << page;
        }
    }
}

TEST_F(BrowserControl, CookiesAndRedirectsAsABrowserKeepsThem)
{
    ASSERT_TRUE(Load(base + "login?v=abc123"));
    EXPECT_EQ(web->LocationURL(), base + "showcookie");
    EXPECT_EQ(web->GetDocument()->GetElementById("cookie").Text(), "visit=abc123");
    ASSERT_TRUE(Load(base + "showcookie"));
    EXPECT_EQ(web->GetDocument()->GetElementById("cookie").Text(), "visit=abc123");

    // Each control keeps its own.
    std::vector<std::string> log;
    auto other = Make(log);
    other->Navigate(base + "showcookie");
    ASSERT_TRUE(PumpUntil([&] { return Has(log, "complete showcookie"); }));
    EXPECT_EQ(other->GetDocument()->GetElementById("cookie").Text(), "");
}

} // namespace
