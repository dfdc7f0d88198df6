// The remote selector: its click handler object, and the window with its
// browser against a local web server (tests/fixtures/selector).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "platform/browser/document.h"
#include "platform/com/com.h"
#include "platform/sys/files.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

const std::string kFixtures = VINTREL_SOURCE_DIR "/tests/fixtures/selector";

com::HRESULT InvokeId(com::IDispatch* object, com::DISPID id, com::VARIANT* result = nullptr)
{
    com::DISPPARAMS none;
    return object->Invoke(id, com::IID_NULL, 0, com::DISPATCH_METHOD, &none, result, nullptr, nullptr);
}

} // namespace

// ---- The click handler object ------------------------------------------------

TEST(EventObject, AnswersOnlyTheClickCall)
{
    int calls = 0;
    com::ComPtr<TEventObject> object = com::MakeObject<TEventObject>([&calls] { ++calls; });

    unsigned count = 0;
    com::ITypeInfo* info = nullptr;
    std::u16string name = u"onclick";
    com::OLECHAR* names[] = {name.data()};
    com::DISPID id = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), com::E_NOTIMPL);
    EXPECT_EQ(object->GetTypeInfo(0, 0, &info), com::E_NOTIMPL);
    EXPECT_EQ(object->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id), com::E_NOTIMPL);
    EXPECT_EQ(calls, 0);

    struct Case {
        com::DISPID id;
        com::HRESULT answer;
        int calls;
    };
    const Case cases[] = {
        {com::DISPID_VALUE, com::S_OK, 1},
        {1, com::E_NOTIMPL, 0},
        {com::DISPID_UNKNOWN, com::E_NOTIMPL, 0},
        {com::DISPID_PROPERTYPUT, com::E_NOTIMPL, 0},
        {-600, com::E_NOTIMPL, 0},   // the browser's own id for a click
    };
    for (const Case& c : cases) {
        calls = 0;
        com::VARIANT result;
        com::VariantInit(&result);
        EXPECT_EQ(InvokeId(object.Get(), c.id, &result), c.answer) << c.id;
        EXPECT_EQ(calls, c.calls) << c.id;
        // An empty answer: the page goes on with the click.
        EXPECT_EQ(result.vt, com::VT_EMPTY) << c.id;
    }

    // Without a callback the click call still succeeds.
    com::ComPtr<TEventObject> bare = com::MakeObject<TEventObject>(TEventObject::TObjectProcedure());
    EXPECT_EQ(InvokeId(bare.Get(), com::DISPID_VALUE), com::S_OK);
    EXPECT_EQ(InvokeId(bare.Get(), 7), com::E_NOTIMPL);

    // It is an IDispatch and nothing else.
    void* out = nullptr;
    for (const com::IID& iid : {com::IID_IUnknown, com::IID_IDispatch}) {
        ASSERT_EQ(object->QueryInterface(iid, &out), com::S_OK);
        EXPECT_EQ(out, static_cast<com::IDispatch*>(object.Get()));
        object->Release();
    }
    const com::IID other = {0x3050F613, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
    EXPECT_EQ(object->QueryInterface(other, &out), com::E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST(EventObject, LivesAsLongAsItsReferencesAndTheDocumentLetsGo)
{
    // Each callback holds a token; the token expires when its object is deleted.
    auto token1 = std::make_shared<int>(0);
    auto token2 = std::make_shared<int>(0);
    std::weak_ptr<int> first = token1, second = token2;
    int clicks = 0;
    com::ComPtr<TEventObject> handler1 = com::MakeObject<TEventObject>([token1, &clicks] { ++clicks; });
    com::ComPtr<TEventObject> handler2 = com::MakeObject<TEventObject>([token2] {});
    token1.reset();
    token2.reset();

    EXPECT_EQ(handler1->AddRef(), 2u);
    EXPECT_EQ(handler1->Release(), 1u);

    std::shared_ptr<browser::Document> page =
        browser::Document::Parse("http://127.0.0.1/page.html", "<p id='text'>Some text</p>");
    page->SetOnClick(handler1.Get());
    handler1.Reset();   // the page holds the only reference now
    ASSERT_FALSE(first.expired());
    page->Click(page->GetElementById("text"));
    EXPECT_EQ(clicks, 1);

    // A page that gets another handler releases the one it had...
    page->SetOnClick(handler2.Get());
    EXPECT_TRUE(first.expired());
    handler2.Reset();
    EXPECT_FALSE(second.expired());
    // ...and a page that goes releases its own.
    page.reset();
    EXPECT_TRUE(second.expired());
}

// ---- The window ----------------------------------------------------------------

class Selector : public ::testing::Test {
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

    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    std::size_t m_seenBoxes = 0;

    void SetUp() override { ASSERT_FALSE(base.empty()); }

    std::string File(const std::string& name) const { return folder + "/" + name; }

    // A program in the test's folder, started as at launch: the selector is
    // created (and has read url.ini) but not shown.
    TForm5& Start()
    {
        program.reset();
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        m_seenBoxes = 0;
        return *program->Form5;
    }
    // A program whose home is `page`, with the selector shown on it.
    TForm5& Open(const std::string& page)
    {
        WriteText(File("url.ini"), base + page + "\r\n");
        TForm5& f = Start();
        f.Show();
        return f;
    }

    template <class Pred>
    bool PumpUntil(Pred done, int timeoutMs = 15000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            program->app.ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // Until the selector's browser has finished its page.
    bool Idle()
    {
        return PumpUntil([this] { return !program->Form5->WebBrowser1.Busy(); });
    }

    // Boxes shown since the last call: a plain one as its text, an error box
    // as "error: " and its text.
    std::vector<std::string> NewBoxes()
    {
        std::vector<std::string> out;
        const auto& shown = program->app.Shown();
        for (; m_seenBoxes < shown.size(); ++m_seenBoxes) {
            const ui::ShownDialog& d = shown[m_seenBoxes];
            if (d.flags == (ui::MB_OK | ui::MB_ICONSTOP))
                out.push_back("error: " + d.text);
            else if (d.flags == ui::MB_OK && d.caption == program->app.Title)
                out.push_back(d.text);
            else
                out.push_back("other box: " + d.text);
        }
        return out;
    }
    // One error box, about url.ini, and nothing else.
    void ExpectUrlIniError()
    {
        std::vector<std::string> boxes = NewBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].starts_with("error: ") && boxes[0].find("url.ini") != std::string::npos) << boxes[0];
    }

    std::string Page(TForm5& f) const
    {
        std::string url = f.WebBrowser1.LocationURL();
        return url.starts_with(base) ? url.substr(base.size()) : url;
    }
    // A user's click on the shown page's element, as the loop delivers it.
    void ClickOn(TForm5& f, const std::string& id)
    {
        browser::Element& element = f.WebBrowser1.GetDocument()->GetElementById(id);
        program->app.Deliver([&] { f.WebBrowser1.Click(element); });
    }
    std::string ListFile() const { return ReadText(File("files.ini")); }
};

TEST_F(Selector, StartReadsTheFirstLineOfUrlIniAndShowingOpensIt)
{
    struct Case {
        const char* content;
        std::string field;
    };
    const Case cases[] = {
        {"%sindex.html\r\n%snext.html\r\n", base + "index.html"},
        {"%snext.html\n", base + "next.html"},
        {"%snext.html", base + "next.html"},
        // An empty first line: the field starts empty and the window opens a
        // blank page.
        {"\r\n%snext.html\r\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string content = c.content;
        for (auto at = content.find("%s"); at != std::string::npos; at = content.find("%s"))
            content.replace(at, 2, base);
        WriteText(File("url.ini"), content);
        TForm5& f = Start();
        EXPECT_EQ(f.Edit1.Text(), c.field) << c.content;
        EXPECT_FALSE(f.Visible());
        EXPECT_EQ(f.WebBrowser1.LocationURL(), "") << "nothing is opened before the window shows";
        EXPECT_FALSE(f.CheckBox1.Checked());

        f.Show();
        ASSERT_TRUE(Idle()) << c.content;
        std::string expected = c.field.empty() ? "about:blank" : c.field;
        EXPECT_EQ(f.WebBrowser1.LocationURL(), expected) << c.content;
        // The download's end writes the address the browser has into the field.
        EXPECT_EQ(f.Edit1.Text(), expected) << c.content;
        ASSERT_NE(f.WebBrowser1.GetDocument(), nullptr);
        EXPECT_EQ(f.HookedDocument, f.WebBrowser1.GetDocument()) << c.content;
        EXPECT_NE(f.HookedDocument->OnClick(), nullptr) << c.content;
        EXPECT_TRUE(NewBoxes().empty()) << c.content;
    }
}

TEST_F(Selector, WhatAClickOnThePageAdds)
{
    struct Case {
        const char* element;
        bool ticked;
        std::vector<std::string> boxes;   // "%s" stands for the test server
        const char* added;                // the list file afterwards
        const char* pageAfter;
    };
    const Case cases[] = {
        // The tag is written in capitals in the page.
        {"capitals", true, {"%spictures/sunset.jpg"}, "%spictures/sunset.jpg\r\n", "index.html"},
        {"plain", true, {"%sboat.gif"}, "%sboat.gif\r\n", "index.html"},
        {"capitals", false, {}, "", "index.html"},
        {"text", true, {}, "", "index.html"},
        {"textlink", true, {}, "", "next.html"},
        // The picture's address is empty: the enter-address window refuses it.
        {"nosrc", true, {"", "An url starts with http://"}, "", "index.html"},
        // Not ticked: only the page's own reaction, the link is followed.
        {"linked", false, {}, "", "next.html"},
    };
    auto withBase = [this](std::string s) {
        for (auto at = s.find("%s"); at != std::string::npos; at = s.find("%s"))
            s.replace(at, 2, base);
        return s;
    };
    for (const Case& c : cases) {
        std::remove(File("files.ini").c_str());
        TForm5& f = Open("index.html");
        ASSERT_TRUE(Idle());
        f.CheckBox1.SetChecked(c.ticked);

        ClickOn(f, c.element);
        ASSERT_TRUE(Idle()) << c.element;

        std::vector<std::string> boxes;
        for (const std::string& b : c.boxes)
            boxes.push_back(withBase(b));
        EXPECT_EQ(NewBoxes(), boxes) << c.element;
        EXPECT_EQ(ListFile(), withBase(c.added)) << c.element;
        EXPECT_EQ(program->vinForm1->ListView1.Count(), c.added[0] ? 1 : 0) << c.element;
        EXPECT_EQ(Page(f), c.pageAfter) << c.element;
        // The selector stays open, and picking mode stays as it was.
        EXPECT_TRUE(f.Visible()) << c.element;
        EXPECT_EQ(f.CheckBox1.Checked(), c.ticked) << c.element;
    }
}

TEST_F(Selector, EachPickedPictureIsAnotherRowAndThePreviewShowsTheLast)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    f.CheckBox1.SetChecked(true);

    ClickOn(f, "capitals");
    ClickOn(f, "plain");
    EXPECT_EQ(NewBoxes(), (std::vector<std::string>{base + "pictures/sunset.jpg", base + "boat.gif"}));
    EXPECT_EQ(ListFile(), base + "pictures/sunset.jpg\r\n" + base + "boat.gif\r\n");
    TvinForm1& main = *program->vinForm1;
    ASSERT_EQ(main.ListView1.Count(), 2);
    EXPECT_EQ(main.ListView1.Item(1).Caption, "boat.gif");
    EXPECT_EQ(main.Label1.Caption(), base + "boat.gif");
    EXPECT_EQ(program->Form4->Edit1.Text(), base + "boat.gif");
    EXPECT_FALSE(program->Form4->Visible());
}

TEST_F(Selector, APictureInALinkIsAddedThenTheLinkedPageIsHooked)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    f.CheckBox1.SetChecked(true);
    browser::Document* first = f.WebBrowser1.GetDocument();

    ClickOn(f, "linked");
    EXPECT_EQ(NewBoxes(), std::vector<std::string>{base + "harbour.png"});
    EXPECT_EQ(ListFile(), base + "harbour.png\r\n");
    // After the pick the link is followed.
    EXPECT_TRUE(f.WebBrowser1.Busy());

    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page(f), "next.html");
    EXPECT_EQ(f.Edit1.Text(), base + "next.html");
    ASSERT_NE(f.WebBrowser1.GetDocument(), first);
    EXPECT_EQ(f.HookedDocument, f.WebBrowser1.GetDocument());

    ClickOn(f, "picture");
    EXPECT_EQ(NewBoxes(), std::vector<std::string>{base + "pictures/lighthouse.jpg"});
    EXPECT_EQ(ListFile(), base + "harbour.png\r\n" + base + "pictures/lighthouse.jpg\r\n");
}

TEST_F(Selector, AFramedPageHooksTheTopLevelDocument)
{
    TForm5& f = Open("frames.html");
    ASSERT_TRUE(Idle());
    f.CheckBox1.SetChecked(true);
    browser::Document* top = f.WebBrowser1.GetDocument();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(f.HookedDocument, top);
    EXPECT_NE(top->OnClick(), nullptr);
    // The frames' pages carry no handler: a click inside one picks nothing.
    browser::Document& left = top->Frames().Item("left");
    EXPECT_EQ(left.OnClick(), nullptr);
    program->app.Deliver([&] { f.WebBrowser1.Click(left.GetElementById("plain")); });
    EXPECT_TRUE(NewBoxes().empty());
    EXPECT_EQ(ListFile(), "");
}

TEST_F(Selector, EachCompletedPageGetsAFreshHandlerAndDropsTheOldOne)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    com::IDispatch* handler = f.WebBrowser1.GetDocument()->OnClick();
    ASSERT_NE(handler, nullptr);
    // The page holds the one reference.
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);

    // Another completion report (a frame's) replaces it on the same page.
    handler->AddRef();
    f.WebBrowser1DocumentComplete(base + "index.html");
    com::IDispatch* again = f.WebBrowser1.GetDocument()->OnClick();
    EXPECT_NE(again, handler);
    EXPECT_EQ(handler->Release(), 0u) << "the page kept the handler it replaced";

    // A new page: the old page and its handler go.
    again->AddRef();
    f.Edit1.SetText(base + "next.html");
    f.Button3.Click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page(f), "next.html");
    EXPECT_NE(f.WebBrowser1.GetDocument()->OnClick(), again);
    EXPECT_EQ(again->Release(), 0u) << "the dropped page kept its handler";
}

TEST_F(Selector, ClicksPickNothingWhileANavigationIsUnderWay)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    f.CheckBox1.SetChecked(true);
    com::ComPtr<com::IDispatch> handler = f.WebBrowser1.GetDocument()->OnClick();

    f.Edit1.SetText(base + "stall");
    f.Button3.Click();
    ASSERT_TRUE(PumpUntil([&] { return f.HookedDocument == nullptr; }));
    // The old page is still the one shown and still calls its handler.
    ASSERT_EQ(Page(f), "index.html");
    ClickOn(f, "capitals");
    EXPECT_EQ(InvokeId(handler.Get(), com::DISPID_VALUE), com::S_OK);
    EXPECT_TRUE(NewBoxes().empty());
    EXPECT_EQ(ListFile(), "");

    // Stopped, the page is not hooked again until another one completes.
    f.Button6.Click();
    EXPECT_FALSE(f.WebBrowser1.Busy());
    ClickOn(f, "capitals");
    EXPECT_TRUE(NewBoxes().empty());
    EXPECT_EQ(ListFile(), "");

    f.Edit1.SetText(base + "index.html");
    f.Button3.Click();
    ASSERT_TRUE(Idle());
    ClickOn(f, "capitals");
    EXPECT_EQ(NewBoxes(), std::vector<std::string>{base + "pictures/sunset.jpg"});
}

TEST_F(Selector, AHandlerCalledOutsideAClickIsReportedNotFatal)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    f.CheckBox1.SetChecked(true);
    com::IDispatch* handler = f.WebBrowser1.GetDocument()->OnClick();
    ASSERT_NE(handler, nullptr);
    // No click in progress: the page has no event to name an element.
    program->app.Deliver([&] { InvokeId(handler, com::DISPID_VALUE); });
    std::vector<std::string> boxes = NewBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].starts_with("error: ")) << boxes[0];
    EXPECT_EQ(ListFile(), "");
    EXPECT_EQ(program->vinForm1->ListView1.Count(), 0);
}

TEST_F(Selector, BackAndForwardFollowTheBrowser)
{
    WriteText(File("url.ini"), base + "index.html\r\n");
    TForm5& f = Start();
    EXPECT_TRUE(f.Button1.Enabled());
    EXPECT_TRUE(f.Button2.Enabled());

    struct Step {
        const char* what;
        ui::Button TForm5::*button;
        const char* page;
        bool back, forward;
    };
    const Step steps[] = {
        {"show", nullptr, "index.html", false, false},
        {"go", &TForm5::Button3, "next.html", true, false},
        {"back", &TForm5::Button1, "index.html", false, true},
        {"forward", &TForm5::Button2, "next.html", true, false},
        {"back again", &TForm5::Button1, "index.html", false, true},
        {"go from the middle", &TForm5::Button3, "frames.html", true, false},
    };
    for (const Step& s : steps) {
        if (!s.button) {
            f.Show();
        } else {
            if (s.button == &TForm5::Button3)
                f.Edit1.SetText(base + s.page);
            program->app.Deliver([&] { (f.*s.button).Click(); });
        }
        ASSERT_TRUE(Idle()) << s.what;
        EXPECT_EQ(Page(f), s.page) << s.what;
        EXPECT_EQ(f.Edit1.Text(), base + s.page) << s.what;
        EXPECT_EQ(f.Button1.Enabled(), s.back) << s.what;
        EXPECT_EQ(f.Button2.Enabled(), s.forward) << s.what;
    }
    EXPECT_TRUE(NewBoxes().empty());

    // Other commands leave both as they are.
    f.WebBrowser1CommandStateChange(-1, true);
    f.WebBrowser1CommandStateChange(0, true);
    f.WebBrowser1CommandStateChange(3, true);
    EXPECT_TRUE(f.Button1.Enabled());
    EXPECT_FALSE(f.Button2.Enabled());
}

TEST_F(Selector, SetHomeSurvivesARestartAndHomeReadsItAgain)
{
    TForm5& f = Open("index.html");
    ASSERT_TRUE(Idle());
    f.Edit1.SetText(base + "next.html");
    program->app.Deliver([&] { f.Button4.Click(); });
    EXPECT_EQ(ReadText(File("url.ini")), base + "next.html\r\n");
    EXPECT_EQ(Page(f), "index.html") << "saving the home goes nowhere";

    // Home navigates to the file's first line; the field waits for the page.
    WriteText(File("url.ini"), base + "frames.html\r\n" + base + "index.html\r\n");
    f.Edit1.SetText("typed");
    program->app.Deliver([&] { f.Button5.Click(); });
    EXPECT_EQ(f.Edit1.Text(), "typed");
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page(f), "frames.html");
    EXPECT_EQ(f.Edit1.Text(), base + "frames.html");
    program->app.Deliver([&] { f.Button4.Click(); });
    EXPECT_EQ(ReadText(File("url.ini")), base + "frames.html\r\n");

    // Closing only hides; showing again opens what the field holds.
    f.CheckBox1.SetChecked(true);
    f.Close();
    EXPECT_FALSE(f.Visible());
    f.Edit1.SetText(base + "next.html");
    f.Show();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page(f), "next.html");
    EXPECT_TRUE(f.CheckBox1.Checked());
    EXPECT_TRUE(f.Button1.Enabled()) << "the history survives hiding";

    // A restart opens on the saved home.
    TForm5& again = Start();
    EXPECT_EQ(again.Edit1.Text(), base + "frames.html");
    again.Show();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page(again), "frames.html");
    EXPECT_TRUE(NewBoxes().empty());
}

TEST_F(Selector, UrlIniThatCannotBeReadOrWrittenIsReported)
{
    // Missing at start: reported, and the program goes on with an empty field.
    TForm5& f = Start();
    ExpectUrlIniError();
    EXPECT_EQ(f.Edit1.Text(), "");
    EXPECT_FALSE(sys::FileExists(File("url.ini"))) << "only Set home makes the file";

    // Home with no file: reported, nothing navigated.
    f.Show();
    ASSERT_TRUE(Idle());
    ASSERT_EQ(f.WebBrowser1.LocationURL(), "about:blank");
    program->app.Deliver([&] { f.Button5.Click(); });
    ExpectUrlIniError();
    EXPECT_FALSE(f.WebBrowser1.Busy());

    // url.ini a folder: neither read by Home nor replaced by Set home.
    ASSERT_EQ(::mkdir(File("url.ini").c_str(), 0755), 0);
    program->app.Deliver([&] { f.Button5.Click(); });
    ExpectUrlIniError();
    EXPECT_FALSE(f.WebBrowser1.Busy());
    f.Edit1.SetText(base + "index.html");
    program->app.Deliver([&] { f.Button4.Click(); });
    ExpectUrlIniError();
    EXPECT_TRUE(sys::IsDirectory(File("url.ini")));

    // A read-only url.ini is not replaced either.
    ASSERT_EQ(::rmdir(File("url.ini").c_str()), 0);
    WriteText(File("url.ini"), "http://kept/\r\n");
    ASSERT_EQ(::chmod(File("url.ini").c_str(), 0444), 0);
    program->app.Deliver([&] { f.Button4.Click(); });
    ExpectUrlIniError();
    EXPECT_EQ(ReadText(File("url.ini")), "http://kept/\r\n");
    EXPECT_EQ(f.WebBrowser1.LocationURL(), "about:blank");

    // A url.ini that is a folder at start is reported the same way.
    ASSERT_EQ(::chmod(File("url.ini").c_str(), 0644), 0);
    ASSERT_EQ(::unlink(File("url.ini").c_str()), 0);
    ASSERT_EQ(::mkdir(File("url.ini").c_str(), 0755), 0);
    TForm5& restarted = Start();
    ExpectUrlIniError();
    EXPECT_EQ(restarted.Edit1.Text(), "");
}
