// Sending a picture to a phone: the upload and what the service's answer
// leads to, the picture given by address, the "Ready to send" window filling
// in the phone number, and the send invitation. The conversion service is a
// small server of our own (tests/fixtures/delivery/server.py) that parses
// the uploads with Python's email parser and logs what it got.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/TForm10.h"
#include "delivery/TForm9.h"
#include "delivery/delivery.h"
#include "delivery/preview.h"
#include "platform/image/image.h"
#include "platform/net/http.h"
#include "platform/session/registry.h"
#include "platform/shell/shell.h"
#include "platform/sys/clock.h"
#include "platform/sys/files.h"
#include "settings/TForm3.h"
#include "tests/test_support.h"

using testing_support::Child;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

const std::string kFixtures = VINTREL_SOURCE_DIR "/tests/fixtures/delivery";
// What the fixture's answers carry.
const std::string kToken = "0f8fad5b-d9cb-469f-a165-70867728950e";
// The upload store and the content site are never fetched by the program:
// names of their own show that each address uses the right one.
const std::string kStoreHost = "store.invalid:81";
const std::string kContentHost = "content.invalid:82";
const std::string kPhone = "0612345678";
// A seed with which neither variant of the invitation does anything.
constexpr std::uint32_t kQuietSeed = 18;

const std::string kNoAnswerEnglish = "The conversion service did not take the picture. Please try again later.";
const std::string kNoAnswerFrench = "Le service de conversion n'a pas pris l'image. Veuillez réessayer plus tard.";

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        out.push_back(field);
    if (!line.empty() && line.back() == '\t')
        out.emplace_back();
    return out;
}

// "name=value" of every named field of a page, in page order.
std::string Fields(const browser::Document& document)
{
    std::string out;
    for (browser::Element* e : document.All())
        if ((e->Is("input") || e->Is("textarea") || e->Is("select")) && e->HasAttribute("name"))
            out += (out.empty() ? "" : " ") + e->Name() + "=" + e->Value();
    return out;
}

struct DeliveryFixture : ::testing::Test {
    IsolatedEnvironment env;
    TempDir serverDir;
    std::string folder = env.dir().path();
    std::string logFile = serverDir.file("server.log");
    std::unique_ptr<Child> server;
    std::string host;   // "127.0.0.1:N"
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }

    void SetUp() override
    {
        server = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/python3", kFixtures + "/server.py", logFile});
        std::string line = server->ReadLine(20000);
        auto at = line.rfind("port ");
        ASSERT_NE(at, std::string::npos) << "the test server did not start: " << line;
        host = "127.0.0.1:" + line.substr(at + 5);
        ::setenv("VINTREL_CONVERTER_HOST", host.c_str(), 1);
        ::setenv("VINTREL_UPLOAD_HOST", kStoreHost.c_str(), 1);
        ::setenv("VINTREL_CONTENT_HOST", kContentHost.c_str(), 1);
        SetInvitationSeed(kQuietSeed);

        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
        program->Form3->Edit1.SetText(kPhone);
    }
    void TearDown() override
    {
        program.reset();
        SetInvitationSeed(std::nullopt);
        for (const char* name : {"VINTREL_CONVERTER_HOST", "VINTREL_UPLOAD_HOST", "VINTREL_CONTENT_HOST"})
            ::unsetenv(name);
        if (server)
            server->CloseStdin();
    }

    void Control(const std::string& query) { net::HttpClient().Get("http://" + host + "/control?" + query); }

    // The server's log, each line split at its tabs; only lines of `kind`.
    std::vector<std::vector<std::string>> Log(const std::string& kind) const
    {
        std::vector<std::vector<std::string>> out;
        std::istringstream in(ReadText(logFile));
        for (std::string line; std::getline(in, line);)
            if (auto fields = Split(line); !fields.empty() && fields[0] == kind)
                out.push_back(fields);
        return out;
    }
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> out;
        for (const auto& r : Log("request"))
            out.push_back(r.at(1) + " " + r.at(2));
        return out;
    }

    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& d : program->app.Shown())
            if (d.kind == "message")
                out.push_back(d.text);
        return out;
    }

    std::string Picture(const std::string& name, int width = 8, int height = 6, std::uint32_t colour = 0xFF204080u) const
    {
        ui::Bitmap b;
        b.Width = width;
        b.Height = height;
        b.Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), colour);
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.ends_with(".bmp"))
            WriteText(File(name), img::EncodeBmp(b));
        else
            WriteText(File(name), img::EncodeJpeg(b));
        return File(name);
    }

    // The preview as the send sees it: the current picture path and the mode.
    void Preview(const std::string& path, bool remote = false)
    {
        main->Label1.SetCaption(path);
        main->webbrowser1.SetWidth(remote ? 235 : 0);
    }

    void Pump(const std::function<bool()>& done)
    {
        for (int i = 0; i < 1000 && !done(); ++i)
            program->app.HandleMessageWithin(10);
    }
    browser::WebBrowser& Ready() { return program->Form9->WebBrowser1; }
    // Waits until the "Ready to send" browser has loaded a page whose address
    // starts with `prefix`.
    browser::Document* WaitForPage(const std::string& prefix)
    {
        Pump([&] { return !Ready().Busy() && Ready().GetDocument() && Ready().LocationURL().starts_with(prefix); });
        EXPECT_TRUE(Ready().LocationURL().starts_with(prefix)) << Ready().LocationURL();
        return Ready().GetDocument();
    }
    void ShowBlankPage()
    {
        Ready().Navigate("");
        WaitForPage("about:blank");
    }

    std::string DeliveryPage(const std::string& token) const
    {
        return "http://" + host + "/download/?url=http://" + kStoreHost + "/content/lumarok/tmp/" + token;
    }
};

using DeliveryTest = DeliveryFixture;

} // namespace

TEST_F(DeliveryTest, UploadCarriesFourPartsAndOpensThePageOfItsToken)
{
    const std::string picture = Picture("cat one.jpg");
    Preview(picture);
    main->JvXPButton4.Click();

    EXPECT_TRUE(program->Form9->Visible());
    auto requests = Log("request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0][1], "POST");
    EXPECT_EQ(requests[0][2], "/download/?form=1&resize=0&dsplogo=1");
    EXPECT_TRUE(requests[0][4].starts_with("multipart/form-data; boundary=")) << requests[0][4];

    auto parts = Log("part");
    ASSERT_EQ(parts.size(), 4u);
    const std::vector<std::vector<std::string>> texts = {
        {"part", "form", "(none)", "(none)", "1"},
        {"part", "resize", "(none)", "(none)", ""},
        {"part", "lang", "(none)", "(none)", "en"},
    };
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(parts[i], texts[i]);
    EXPECT_EQ(parts[3][1], "photo");
    EXPECT_EQ(parts[3][2], picture);   // the full local path
    EXPECT_EQ(parts[3][3], "image/pjpeg");
    EXPECT_EQ(ReadText(parts[3][4]), ReadText(picture));

    // The page of the uploaded picture, with the phone number filled in.
    browser::Document* page = WaitForPage(DeliveryPage(kToken));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(Ready().LocationURL(), DeliveryPage(kToken));
    EXPECT_EQ(Fields(*page), "phoneNumber=" + kPhone + " operator=orange");
    EXPECT_EQ(main->Label1.Caption(), picture);
    EXPECT_TRUE(Boxes().empty());
}

// The answer is text up to its first zero byte; the token is what follows
// the first marker, as far as the answer goes. Without a marker the user is
// told and the "Ready to send" window stays on the page it had.
TEST_F(DeliveryTest, WhatTheUploadAnswerLeadsTo)
{
    struct Case {
        const char* answer;
        int language;
        std::optional<std::string> token;
        std::string message;
    };
    const Case cases[] = {
        {"token", 0, kToken, ""},
        {"near-end", 0, "7c9e6679", ""},
        {"none", 0, std::nullopt, kNoAnswerEnglish},
        {"upper-case", 0, std::nullopt, kNoAnswerEnglish},   // letter case counts
        {"after-nul", 0, std::nullopt, kNoAnswerEnglish},
        {"none", 1, std::nullopt, kNoAnswerFrench},
        {"none", -1, std::nullopt, ""},
    };
    const std::string picture = Picture("a.jpg");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.answer) + " in language " + std::to_string(c.language));
        Control(std::string("answer=") + c.answer);
        program->Form3->ComboBox2.SetItemIndex(c.language);
        ShowBlankPage();
        const size_t boxes = Boxes().size();
        Preview(picture);
        main->JvXPButton4.Click();
        EXPECT_TRUE(program->Form9->Visible());
        if (c.token) {
            WaitForPage(DeliveryPage(*c.token));
            EXPECT_EQ(Ready().LocationURL(), DeliveryPage(*c.token));
            EXPECT_EQ(Boxes().size(), boxes);
        } else {
            EXPECT_FALSE(Ready().Busy());
            EXPECT_EQ(Ready().LocationURL(), "about:blank");
            if (c.message.empty()) {
                EXPECT_EQ(Boxes().size(), boxes);
            } else {
                ASSERT_EQ(Boxes().size(), boxes + 1);
                EXPECT_EQ(Boxes().back(), c.message);
            }
        }
        EXPECT_EQ(main->Label1.Caption(), picture);
    }
    // Nothing but the uploads and the pages of the answers with a token.
    EXPECT_EQ(Requests().size(), std::size(cases) + 2);
}

// Only a lower-case "bmp" ending is converted: the temporary JPEG goes up
// under its own full path and is gone afterwards. Anything else goes up as
// it is, declared a JPEG all the same.
TEST_F(DeliveryTest, WhatALocalPictureIsUploadedAs)
{
    struct Case {
        const char* name;
        bool converted;
    };
    const Case cases[] = {{"shot.bmp", true}, {"SHOT.BMP", false}, {"shot.jpg", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteText(logFile, "");
        const std::string picture = Picture(c.name, 64, 48);
        Preview(picture);
        main->JvXPButton4.Click();

        auto parts = Log("part");
        ASSERT_EQ(parts.size(), 4u);
        EXPECT_EQ(parts[3][1], "photo");
        EXPECT_EQ(parts[3][3], "image/pjpeg");
        const std::string sent = ReadText(parts[3][4]);
        if (c.converted) {
            EXPECT_EQ(parts[3][2], File("quenvalbore.jpg"));
            ui::Bitmap jpeg = img::DecodePicture(sent, "upload");
            EXPECT_EQ(jpeg.Width, 64);
            EXPECT_EQ(jpeg.Height, 48);
            EXPECT_TRUE(sent.starts_with("\xFF\xD8"));
        } else {
            EXPECT_EQ(parts[3][2], picture);
            EXPECT_EQ(sent, ReadText(picture));
        }
        EXPECT_EQ(main->Label1.Caption(), picture);
        EXPECT_FALSE(sys::FileExists(File("quenvalbore.jpg")));
        WaitForPage(DeliveryPage(kToken));
    }
}

// A picture on the web goes to the service by its address, appended as it
// is; an address ending in "bmp" first gets the warning about empty pictures.
TEST_F(DeliveryTest, RemotePictureIsHandedOverByItsAddress)
{
    struct Case {
        std::string address;
        bool warning;
    };
    const Case cases[] = {
        {"http://pics.invalid/cat.jpg", false},
        {"http://pics.invalid/show?id=1&size=2", false},
        {"http://pics.invalid/old.bmp", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        WriteText(logFile, "");
        ShowBlankPage();
        const size_t boxes = Boxes().size();
        Preview(c.address, true);
        main->Use1.Click();
        browser::Document* page = WaitForPage("http://" + host + "/download/?url=");
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(Requests(), std::vector<std::string>{"GET /download/?url=" + c.address});
        EXPECT_EQ(Fields(*page), "phoneNumber=" + kPhone + " operator=orange");
        if (c.warning) {
            ASSERT_EQ(Boxes().size(), boxes + 1);
            EXPECT_EQ(Boxes().back(), "If you get an empty picture\r\nRight click and save to\r\nyour hard drive");
        } else {
            EXPECT_EQ(Boxes().size(), boxes);
        }
        EXPECT_EQ(main->Label1.Caption(), c.address);
        EXPECT_TRUE(Log("part").empty());
    }
}

// A bitmap that cannot be converted stops the send before anything is
// shown or sent; the error reaches the error box.
TEST_F(DeliveryTest, SendEndsBeforeTheUploadWhenTheBitmapCannotBeConverted)
{
    struct Case {
        const char* what;
        std::function<std::string()> prepare;   // gives the current picture
    };
    const Case cases[] = {
        {"a PNG named .bmp",
         [&] {
             WriteText(File("fake.bmp"), std::string("\x89PNG\r\n\x1a\n", 8) + "not really");
             return File("fake.bmp");
         }},
        {"a JPEG named .bmp",
         [&] {
             std::string jpeg = ReadText(Picture("real.jpg"));
             WriteText(File("real.bmp"), jpeg);
             return File("real.bmp");
         }},
        {"the temporary file is a folder",
         [&] {
             sys::MakeDirectories(File("quenvalbore.jpg"), 0755);
             return Picture("fine.bmp");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        program->Form9->Hide();
        const std::string picture = c.prepare();
        Preview(picture);
        const size_t boxes = Boxes().size();
        program->app.Deliver([&] { main->JvXPButton4.Click(); });
        EXPECT_EQ(Boxes().size(), boxes + 1);
        EXPECT_FALSE(program->Form9->Visible());
        EXPECT_EQ(main->Label1.Caption(), picture);
    }
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(sys::IsDirectory(File("quenvalbore.jpg")));
}

// A failed upload ends the send with the HTTP client's message; the window
// is shown already, and a converted bitmap stays the current picture until
// the next send.
TEST_F(DeliveryTest, FailedUploadReachesTheErrorBox)
{
    Control("answer=status-500");
    ShowBlankPage();
    const std::string picture = Picture("shot.bmp");
    Preview(picture);
    program->app.Deliver([&] { main->JvXPButton4.Click(); });
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("500"), std::string::npos) << Boxes()[0];
    EXPECT_TRUE(program->Form9->Visible());
    EXPECT_EQ(Ready().LocationURL(), "about:blank");
    EXPECT_FALSE(Ready().Busy());
    EXPECT_EQ(main->Label1.Caption(), File("quenvalbore.jpg"));
    EXPECT_TRUE(sys::FileExists(File("quenvalbore.jpg")));
}

// Every field called "phoneNumber" (exactly) in every form of the page gets
// the number; the page's frames are not looked into; a page without such a
// field is left alone, quietly.
TEST_F(DeliveryTest, DeliveryPagesAreFilledIn)
{
    struct Case {
        const char* page;
        std::string top;
        std::string firstFrame;   // "" when the page has no frames
    };
    const Case cases[] = {
        {"one-form", "phoneNumber=" + kPhone + " operator=orange", ""},
        {"two-forms", "phoneNumber=" + kPhone + " phonenumber=old other=keep phoneNumber=" + kPhone, ""},
        {"frameset", "", "phoneNumber=old"},
        {"no-form", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Control(std::string("page=") + c.page);
        ShowBlankPage();
        Ready().Navigate("http://" + host + "/download/?url=http://pics.invalid/a.jpg");
        browser::Document* page = WaitForPage("http://" + host + "/download/");
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(Fields(*page), c.top);
        if (!c.firstFrame.empty()) {
            ASSERT_GT(page->Frames().Count(), 0);
            EXPECT_EQ(Fields(page->Frames().Item(0)), c.firstFrame);
        }
    }
    EXPECT_TRUE(Boxes().empty());
}

// Each frame that finishes loading fills the page in again, with the number
// as it is at that moment.
TEST_F(DeliveryTest, FramesFinishingOneByOneFillThePageEachTime)
{
    Control("page=frames");
    ShowBlankPage();
    std::vector<std::string> seen;
    auto fill = Ready().OnDocumentComplete;
    int next = 1;
    program->Form3->Edit1.SetText("060000000" + std::to_string(next));
    Ready().OnDocumentComplete = [&](const std::string& url) {
        fill(url);
        const std::string base = "http://" + host + "/";
        const browser::Element& field = Ready().GetDocument()->Forms().Item(0).Elements().Item(0);
        seen.push_back(url.substr(url.starts_with(base) ? base.size() : 0) + " " + field.Value());
        program->Form3->Edit1.SetText("060000000" + std::to_string(++next));
    };
    Ready().Navigate("http://" + host + "/download/?url=x");
    WaitForPage("http://" + host + "/download/");
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "frame?delay=0 0600000001",
                        "frame?delay=400 0600000002",
                        "download/?url=x 0600000003",
                    }));
}

// A field that refuses its value ends the filling at once, without a word;
// what was written before it stays written.
TEST(DeliveryFormFilling, AnErrorAtOneFieldEndsTheFilling)
{
    auto page = browser::Document::Parse(
        "http://service.invalid/deliver",
        "<html><body><form><input name='phoneNumber' value='a'><input name='other' value='b'>"
        "<input name='phoneNumber' value='c'></form>"
        "<form><input name='phoneNumber' value='d'></form></body></html>");
    struct Case {
        int refusing;        // the write that throws, counted from 1; 0 none
        bool result;
        std::string fields;
    };
    const Case cases[] = {
        {0, true, "phoneNumber=N other=b phoneNumber=N phoneNumber=N"},
        {1, false, "phoneNumber=a other=b phoneNumber=c phoneNumber=d"},
        {2, true, "phoneNumber=N other=b phoneNumber=c phoneNumber=d"},
        {3, true, "phoneNumber=N other=b phoneNumber=N phoneNumber=d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusing);
        const char* initial[] = {"a", "c", "d"};
        int i = 0;
        for (browser::Element* form : page->Forms())
            for (browser::Element* field : form->Elements())
                if (field->Name() == "phoneNumber")
                    field->SetValue(initial[i++]);
        int writes = 0;
        bool result = FillFormField(*page, "phoneNumber", "N", [&](browser::Element& field, const std::string& value) {
            if (++writes == c.refusing)
                throw browser::DocumentError("the field refuses its value");
            field.SetValue(value);
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(Fields(*page), c.fields);
    }
}

TEST_F(DeliveryTest, ContentSiteButton)
{
    session::Registry reg(session::HKEY_CLASSES_ROOT);
    reg.OpenKey("\\htmlfile\\shell\\open\\command", true);
    reg.WriteString("", "\"/bin/echo\" \"%1\"");
    shell::SetStartingEnabled(false);
    shell::ClearRecordedCalls();
    main->JvXPButton9.Click();
    auto calls = shell::RecordedCalls();
    shell::SetStartingEnabled(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, "open");
    EXPECT_EQ(calls[0].argv, (std::vector<std::string>{"/bin/echo", "http://" + kContentHost + "/"}));
}

// ---- the send invitation ----------------------------------------------------------

namespace {

// Records the send button's font colour at each change, with the tick count.
class FontColourLog final : public ui::Peer {
public:
    FontColourLog(ui::Control& control, std::vector<std::pair<ui::TColor, std::uint32_t>>& log)
        : m_control(control), m_log(log)
    {
    }
    void Changed(ui::Prop what) override
    {
        if (what == ui::Prop::FontColor)
            m_log.emplace_back(m_control.FontColor(), sys::GetTickCount());
    }

private:
    ui::Control& m_control;
    std::vector<std::pair<ui::TColor, std::uint32_t>>& m_log;
};

enum class Variant { Selection, Popup };
enum class Outcome { Nothing, Blink, Question, Site };

struct InvitationTest : DeliveryFixture {
    std::vector<std::pair<ui::TColor, std::uint32_t>> colours;
    std::atomic<std::uint32_t> ticks{1000};

    void SetUp() override
    {
        DeliveryFixture::SetUp();
        // A clock that moves on by itself, so that the blinking's pauses take
        // no real time.
        sys::SetTickSource([this] { return ticks += 7; });
        main->JvXPButton4.SetPeer(std::make_unique<FontColourLog>(main->JvXPButton4, colours));
        session::Registry reg(session::HKEY_CLASSES_ROOT);
        reg.OpenKey("\\htmlfile\\shell\\open\\command", true);
        reg.WriteString("", "\"/bin/echo\" \"%1\"");
        shell::SetStartingEnabled(false);
    }
    void TearDown() override
    {
        shell::SetStartingEnabled(true);
        sys::SetTickSource({});
        DeliveryFixture::TearDown();
    }

    // A seed that makes the invitation draw `draw` out of `range`.
    static std::uint32_t SeedFor(int range, int draw)
    {
        for (std::uint32_t seed = 0;; ++seed) {
            sys::SetRandSeed(seed);
            if (sys::Random(range) + 1 == draw)
                return seed;
        }
    }
    void Invite(Variant variant, int draw)
    {
        SetInvitationSeed(SeedFor(variant == Variant::Selection ? 16 : 20, draw));
        if (variant == Variant::Selection)
            SendInvitationOnSelection(*program);
        else
            main->PopupMenu1.Popup(10, 10);
    }
};

} // namespace

TEST_F(InvitationTest, EachDrawDoesWhatItsRowSays)
{
    struct Row {
        Variant variant;
        std::vector<int> draws;
        int language;
        Outcome outcome;
        std::string question;
    };
    const Row rows[] = {
        {Variant::Selection, {1, 2, 3, 4}, 0, Outcome::Blink, ""},
        {Variant::Selection, {6, 7, 8}, 0, Outcome::Question, "Upload to your Gsm ?"},
        {Variant::Selection, {7}, 1, Outcome::Question, "Utiliser pour votre mobile ?"},
        {Variant::Selection, {9}, 0, Outcome::Site, ""},
        {Variant::Selection, {5, 10, 11, 12, 13, 14, 15, 16}, 0, Outcome::Nothing, ""},
        {Variant::Popup, {1, 2, 3, 4, 5}, 0, Outcome::Blink, ""},
        {Variant::Popup, {6}, 0, Outcome::Question, "Upload to your Gsm ?"},
        {Variant::Popup, {6}, 1, Outcome::Question, "Utiliser pour votre mobile ?"},
        {Variant::Popup, {7}, 0, Outcome::Site, ""},
        {Variant::Popup, {8, 9, 10, 15, 19, 20}, 0, Outcome::Nothing, ""},
        // Without a language it still blinks and opens the site, but never asks.
        {Variant::Selection, {6, 7, 8}, -1, Outcome::Nothing, ""},
        {Variant::Popup, {6}, -1, Outcome::Nothing, ""},
        {Variant::Selection, {1}, -1, Outcome::Blink, ""},
        {Variant::Popup, {7}, -1, Outcome::Site, ""},
    };
    Preview(Picture("a.jpg"));
    for (const auto& row : rows) {
        program->Form3->ComboBox2.SetItemIndex(row.language);
        for (int draw : row.draws) {
            SCOPED_TRACE((row.variant == Variant::Selection ? "selection draw " : "popup draw ") +
                         std::to_string(draw) + " language " + std::to_string(row.language));
            colours.clear();
            shell::ClearRecordedCalls();
            const size_t shown = program->app.Shown().size();
            program->app.QueueAnswer(ui::ButtonAnswer{ui::IDNO});
            Invite(row.variant, draw);

            if (row.outcome == Outcome::Blink) {
                const std::vector<ui::TColor> expected = {ui::clRed, ui::clWindowText, ui::clRed,
                                                          ui::clWindowText, ui::clRed, ui::clWindowText};
                ASSERT_EQ(colours.size(), expected.size());
                for (size_t i = 0; i < colours.size(); ++i) {
                    EXPECT_EQ(colours[i].first, expected[i]) << i;
                    if (i > 0) {   // a pause of more than 100 ms between changes
                        EXPECT_GE(colours[i].second - colours[i - 1].second, 101u) << i;
                    }
                }
            } else {
                EXPECT_TRUE(colours.empty());
            }

            const auto& boxes = program->app.Shown();
            if (row.outcome == Outcome::Question) {
                ASSERT_EQ(boxes.size(), shown + 1);
                EXPECT_EQ(boxes.back().text, row.question);
                EXPECT_EQ(boxes.back().caption, program->app.Title);
                EXPECT_EQ(boxes.back().flags, ui::MB_YESNO);
                EXPECT_EQ(program->app.PendingAnswers(), 0u);
            } else {
                EXPECT_EQ(boxes.size(), shown);
                program->app.TakeAnswer();
            }

            auto calls = shell::RecordedCalls();
            if (row.outcome == Outcome::Site) {
                ASSERT_EQ(calls.size(), 1u);
                EXPECT_EQ(calls[0].argv, (std::vector<std::string>{"/bin/echo", "http://" + kContentHost + "/"}));
            } else {
                EXPECT_TRUE(calls.empty());
            }
        }
    }
    // Declining sends nothing.
    EXPECT_FALSE(program->Form9->Visible());
    EXPECT_TRUE(Requests().empty());
}

// Yes sends the picture. A send started from the selection's invitation that
// fails is reported by the selection as a picture it cannot show locally.
TEST_F(InvitationTest, YesSendsThePicture)
{
    struct Case {
        Variant variant;
        const char* answer;
        std::string message;
    };
    const Case cases[] = {
        {Variant::Selection, "token", ""},
        {Variant::Popup, "token", ""},
        {Variant::Selection, "status-500", "Unsupported as local file"},
    };
    const std::string picture = Picture("a.jpg");
    main->AddRow(picture);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        Control(std::string("answer=") + c.answer);
        program->Form9->Hide();
        WriteText(logFile, "");
        const size_t boxes = Boxes().size();
        program->app.QueueAnswer(ui::ButtonAnswer{ui::IDYES});
        if (c.variant == Variant::Selection) {
            SetInvitationSeed(SeedFor(16, 7));
            main->ListView1.Clear();
            main->AddRow(picture);
            main->ListView1.ClickRow(0);   // the local preview runs the invitation
        } else {
            Invite(Variant::Popup, 6);
        }
        EXPECT_TRUE(program->Form9->Visible());
        auto parts = Log("part");
        ASSERT_EQ(parts.size(), 4u);
        EXPECT_EQ(parts[3][2], picture);
        ASSERT_EQ(Boxes().size(), boxes + (c.message.empty() ? 1 : 2));   // the question, maybe the error
        if (c.message.empty())
            WaitForPage(DeliveryPage(kToken));
        else
            EXPECT_EQ(Boxes().back(), c.message);
    }
}
