// The preview on selection, and adding pictures through the enter-address
// and choose-file windows.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/delivery.h"
#include "delivery/preview.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "list/TForm6.h"
#include "platform/image/image.h"
#include "platform/session/registry.h"
#include "platform/shell/shell.h"
#include "platform/sys/clock.h"
#include "settings/TForm3.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

struct PreviewFixture : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }
    void SetUp() override
    {
        SetInvitationSeed(18);   // selecting a local picture draws nothing
        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
    }
    void TearDown() override { SetInvitationSeed(std::nullopt); }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& d : program->app.Shown())
            if (d.kind == "message")
                out.push_back(d.text);
        return out;
    }
    std::string Picture(const std::string& name, int width = 4) const
    {
        ui::Bitmap b;
        b.Width = width;
        b.Height = 3;
        b.Pixels.assign(static_cast<size_t>(width) * 3, 0xFF204080u);
        if (name.ends_with(".bmp"))
            img::SaveBmp(b, File(name));
        else
            img::SaveJpeg(b, File(name));
        return File(name);
    }
    void Pump(const std::function<bool()>& done)
    {
        for (int i = 0; i < 1000 && !done(); ++i)
            program->app.HandleMessageWithin(10);
    }
};

} // namespace

TEST(BeginWithHttp, LowerCasedPrefix)
{
    const std::pair<const char*, bool> cases[] = {
        {"http://a", true}, {"HTTP://A.COM/x.jpg", true}, {"http:/a.com", false}, {"http:", false},
        {"https://a.com", false}, {"", false}, {"http://", true},
    };
    for (auto [text, expected] : cases)
        EXPECT_EQ(beginwithhttp(text), expected) << text;
}

TEST_F(PreviewFixture, LocalAndRemotePreviewOnSelection)
{
    std::string local = Picture("local.bmp");
    main->AddRow(local);
    main->AddRow("HTTP://example.com/CAPS.jpg");   // fails the exact test, no such file: remote
    main->AddRow(File("deleted.jpg"));

    main->ListView1.ClickRow(0);
    EXPECT_EQ(main->Label1.Caption(), local);
    EXPECT_EQ(main->Image1.PictureWidth(), 4);
    EXPECT_EQ(main->webbrowser1.Width(), 0);
    EXPECT_TRUE(main->SetasWallpaper1.Enabled());

    for (int row : {1, 2}) {
        main->ListView1.ClickRow(row);
        EXPECT_EQ(main->webbrowser1.Width(), 235);
        EXPECT_EQ(main->Label1.Caption(), main->ListView1.Item(row).SubItems[0]);
        EXPECT_FALSE(main->SetasWallpaper1.Enabled());
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PreviewFixture, FocusedRowDecidesSelectedRowIsShownRemotely)
{
    std::string local = Picture("local.bmp");
    main->AddRow("http://example.com/remote.jpg");
    main->AddRow(local);
    main->ListView1.ClickRow(0);
    // Ctrl+click on the local row: two rows selected, nothing changes.
    main->ListView1.SetFocused(1);
    main->ListView1.SetSelected(1, true);
    EXPECT_EQ(main->Label1.Caption(), "http://example.com/remote.jpg");
    // Ctrl+click on it again: deselected, but it keeps the focus. The test
    // and a local preview use the focused row.
    main->ListView1.SetSelected(1, false);
    EXPECT_EQ(main->Label1.Caption(), local);
    EXPECT_EQ(main->webbrowser1.Width(), 0);

    // The other way round: the focused row is remote, the selected one local;
    // the remote preview shows the selected row.
    main->ListView1.ClickRow(1);
    main->ListView1.SetFocused(0);
    main->ListView1.SetSelected(0, true);
    main->ListView1.SetSelected(0, false);
    EXPECT_EQ(main->webbrowser1.Width(), 235);
    EXPECT_EQ(main->Label1.Caption(), local);
}

TEST_F(PreviewFixture, PicturesThatDoNotDecodeShowTheLanguageMessage)
{
    std::string gif = File("really.gif");
    {
        ui::Bitmap b;
        b.Width = 2;
        b.Height = 2;
        b.Pixels.assign(4, 0xFFFFFFFFu);
        std::string jpeg = img::EncodeJpeg(b);
        WriteText(File("truncated.jpg"), jpeg.substr(0, jpeg.size() / 2));
    }
    WriteText(gif, "GIF89a\x02\x00\x02\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00,\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x02\x84Q\x00;");
    WriteText(File("gif-renamed.jpg"), ReadText(gif));
    WriteText(File("empty.jpg"), "");
    struct Case {
        std::string path;
        int language;
        std::string message;
    };
    const Case cases[] = {
        {File("gif-renamed.jpg"), 0, "Unsupported as local file"},
        {File("truncated.jpg"), 0, "Unsupported as local file"},
        {File("empty.jpg"), 0, "Unsupported as local file"},
        {gif, 1, "Chargement non possible en fichier local"},
        {File("empty.jpg"), -1, ""},
    };
    for (const auto& c : cases) {
        program->Form3->ComboBox2.SetItemIndex(c.language);
        main->ListView1.Clear();
        main->AddRow(c.path);
        main->webbrowser1.SetWidth(235);
        main->SetasWallpaper1.SetEnabled(false);
        size_t before = Boxes().size();
        main->ListView1.ClickRow(0);
        if (c.message.empty())
            EXPECT_EQ(Boxes().size(), before) << c.path;
        else
            EXPECT_EQ(Boxes().back(), c.message) << c.path;
        EXPECT_EQ(main->Label1.Caption(), c.path);        // already set
        EXPECT_EQ(main->webbrowser1.Width(), 235);        // the mode stays as it was
        EXPECT_FALSE(main->SetasWallpaper1.Enabled());
    }
}

TEST_F(PreviewFixture, OnlyTheFirstImageOfAPageIsFitted)
{
    WriteText(File("page.html"), "<html><body><img src='a.png' width='50'><p>x</p><img src='b.png' width='60'>"
                                 "<img src='c.png'></body></html>");
    main->webbrowser1.Navigate(File("page.html"));
    Pump([&] { return main->webbrowser1.GetDocument() && !main->webbrowser1.Busy(); });
    auto* doc = main->webbrowser1.GetDocument();
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->Images().Count(), 3);
    EXPECT_EQ(doc->Images().Item(0).Width(), 190);
    EXPECT_EQ(doc->Images().Item(1).Width(), 60);
    EXPECT_EQ(doc->Images().Item(2).GetAttribute("width", 2), "");
}

TEST_F(PreviewFixture, BrowseUrlTakesTheProgramBetweenTheFirstQuotes)
{
    struct Case {
        std::optional<std::string> value;   // nullopt: no key at all
        bool result;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"\"/bin/echo\" -osint -url \"%1\"", true, {"/bin/echo", "http://x.example/"}},
        {"/bin/echo %1", true, {}},   // no quotes: an empty program, nothing starts
        {"", false, {}},
        {std::nullopt, false, {}},
    };
    shell::SetStartingEnabled(false);
    for (const auto& c : cases) {
        session::Registry reg(session::HKEY_CLASSES_ROOT);
        reg.DeleteKey("\\htmlfile\\shell\\open\\command");
        if (c.value) {
            reg.OpenKey("\\htmlfile\\shell\\open\\command", true);
            reg.WriteString("", *c.value);
        }
        shell::ClearRecordedCalls();
        EXPECT_EQ(BrowseURL("http://x.example/"), c.result) << c.value.value_or("(no key)");
        auto calls = shell::RecordedCalls();
        if (c.result) {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].verb, "open");
            EXPECT_EQ(calls[0].argv, c.argv);
        } else {
            EXPECT_TRUE(calls.empty());
        }
    }
    shell::SetStartingEnabled(true);
}

TEST_F(PreviewFixture, PauseWaitsMoreThanItsTimeAndKeepsTheLoopGoing)
{
    bool handled = false;
    program->app.Post([&] { handled = true; });
    std::uint32_t start = sys::GetTickCount();
    pause(*program, 100);
    EXPECT_GE(sys::GetTickCount() - start, 101u);
    EXPECT_TRUE(handled);
}

TEST_F(PreviewFixture, EnterAddressOk)
{
    TForm4& form4 = *program->Form4;
    struct Case {
        std::string text;
        bool added;
        std::string name;
        bool message;
    };
    const Case cases[] = {
        {"abc", false, "", true},
        {"abcdefghijklmnopqrst", false, "", false},
        {"HTTP://EXAMPLE.COM/PICS/A.JPG", true, "A.JPG", false},
        {"http://example.com/pics/", true, "", false},
    };
    std::string expectedFile;
    for (const auto& c : cases) {
        form4.Show();
        size_t boxes = Boxes().size();
        int rows = main->ListView1.Count();
        form4.Edit1.SetText(c.text);
        form4.Button1.Click();
        EXPECT_EQ(Boxes().size(), boxes + (c.message ? 1 : 0)) << c.text;
        if (c.message) {
            EXPECT_EQ(Boxes().back(), "An url starts with http://");
        }
        EXPECT_EQ(main->ListView1.Count(), rows + (c.added ? 1 : 0)) << c.text;
        EXPECT_EQ(form4.Edit1.Text(), c.text);   // kept for next time
        if (c.added) {
            expectedFile += c.text + "\r\n";
            EXPECT_EQ(main->ListView1.Item(rows).Caption, c.name);
            EXPECT_EQ(main->ListView1.Item(rows).SubItems[0], c.text);   // as typed
            EXPECT_FALSE(form4.Visible());
            EXPECT_EQ(main->webbrowser1.Width(), 235);
            EXPECT_EQ(main->Label1.Caption(), c.text);
        }
        EXPECT_EQ(ReadText(File("files.ini")), expectedFile);
    }
}

TEST_F(PreviewFixture, AddressAddedWhileTheChooseFileWindowIsOpenClosesBoth)
{
    main->AddRow("http://example.com/first.jpg");
    program->Form6->Show();
    program->Form6->JvXPButton2.Click();   // "Choose remote file"
    ASSERT_TRUE(program->Form4->Visible());
    EXPECT_TRUE(program->Form6->Visible());
    program->Form4->Edit1.SetText("http://example.com/second.jpg");
    program->Form4->Button1.Click();
    EXPECT_FALSE(program->Form4->Visible());
    EXPECT_FALSE(program->Form6->Visible());
    EXPECT_FALSE(program->app.Terminated());
    EXPECT_EQ(ReadText(File("files.ini")), "http://example.com/first.jpg\r\nhttp://example.com/second.jpg\r\n");
}

TEST_F(PreviewFixture, ThreeFilesAtOnce)
{
    std::vector<std::string> files = {Picture("a.bmp", 2), Picture("b.jpg", 3), Picture("c.bmp", 5)};
    program->Form6->Show();
    program->app.QueueAnswer(ui::FilesAnswer{files});
    program->Form6->JvXPButton1.Click();
    ASSERT_EQ(main->ListView1.Count(), 3);
    EXPECT_EQ(ReadText(File("files.ini")), files[0] + "\r\n" + files[1] + "\r\n" + files[2] + "\r\n");
    EXPECT_EQ(main->Label1.Caption(), files[2]);
    EXPECT_EQ(main->Image1.PictureWidth(), 5);
    EXPECT_EQ(main->webbrowser1.Width(), 0);
    EXPECT_FALSE(program->Form6->Visible());
    const auto& shown = program->app.Shown();
    auto open = std::find_if(shown.begin(), shown.end(), [](const ui::ShownDialog& d) { return d.kind == "open"; });
    ASSERT_NE(open, shown.end());
    EXPECT_EQ(open->text, "*|*.jpg;*.jpeg;*.bmp|Jpg/Jpeg|*.jpg;*.jpeg|Bmp|*.bmp|Upload|*");
}

TEST_F(PreviewFixture, AFileThatDoesNotDecodeStopsTheAdding)
{
    WriteText(File("bad.jpg"), "not a picture");
    std::vector<std::string> files = {File("bad.jpg"), Picture("a.bmp"), Picture("c.bmp")};
    program->Form6->Show();
    program->app.QueueAnswer(ui::FilesAnswer{files});
    program->app.Deliver([&] { program->Form6->localtruc(); });
    EXPECT_EQ(main->ListView1.Count(), 1);   // the bad one is in, the others are not
    EXPECT_EQ(ReadText(File("files.ini")), files[0] + "\r\n");
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(program->Form6->Visible());
}

TEST_F(PreviewFixture, ReadOnlyListFile)
{
    WriteText(File("files.ini"), "http://example.com/old.jpg\r\n");
    ::chmod(File("files.ini").c_str(), 0444);
    main->loadlist();
    // The enter-address window opens the file first: the list stays as it was.
    program->Form4->Edit1.SetText("http://example.com/new.jpg");
    program->app.Deliver([&] { program->Form4->Button1Click(); });
    EXPECT_EQ(main->ListView1.Count(), 1);
    // Adding files adds the row first: it stays in the list.
    program->app.QueueAnswer(ui::FilesAnswer{{Picture("a.bmp")}});
    program->app.Deliver([&] { program->Form6->localtruc(); });
    EXPECT_EQ(main->ListView1.Count(), 2);
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(ReadText(File("files.ini")), "http://example.com/old.jpg\r\n");
}

TEST_F(PreviewFixture, ChooseFileWindowShowAndClose)
{
    WriteText(File("files.ini"), "http://example.com/a.jpg\r\n");
    shell::SetStartingEnabled(false);
    shell::ClearRecordedCalls();
    program->Form6->Show();
    auto calls = shell::RecordedCalls();
    shell::SetStartingEnabled(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, "erase");
    EXPECT_EQ(calls[0].file, File("files.ini"));
    EXPECT_TRUE(calls[0].argv.empty());   // nothing registered for it: nothing happens
    EXPECT_EQ(ReadText(File("files.ini")), "http://example.com/a.jpg\r\n");

    main->AddRow("http://example.com/a.jpg");
    program->Form6->Close();                 // with rows: only hidden
    EXPECT_FALSE(program->app.Terminated());
    main->ListView1.Clear();
    program->Form6->Show();
    program->Form6->Close();                 // with an empty list the program ends
    EXPECT_TRUE(program->app.Terminated());
}

TEST_F(PreviewFixture, MainWindowEntryPoints)
{
    main->JvXPButton1.Click();
    EXPECT_TRUE(program->Form5->Visible());
    main->Addweblink1.Click();
    EXPECT_TRUE(program->Form4->Visible());
    program->app.QueueAnswer(ui::FilesAnswer{{Picture("a.bmp")}});
    main->Addalocalfile1.Click();   // the dialog without the choose-file window
    EXPECT_FALSE(program->Form6->Visible());
    EXPECT_EQ(main->ListView1.Count(), 1);
    main->JvXPButton3.Click();
    EXPECT_TRUE(program->Form6->Visible());
}

TEST(PreviewProcess, PreviewAndAddThroughTheAutomationChannel)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    auto picture = [&](const std::string& name) {
        ui::Bitmap b;
        b.Width = 6;
        b.Height = 4;
        b.Pixels.assign(24, 0xFF102030u);
        img::SaveBmp(b, folder + "/" + name);
        return folder + "/" + name;
    };
    const std::string local = picture("local.bmp"), added = picture("added.bmp");
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "file://" + folder + "/pick.html\r\n");
    WriteText(folder + "/pick.html", "<html><body><p>Pick one</p><img src='http://127.0.0.1:9/cat.jpg'></body></html>");
    WriteText(folder + "/files.ini", local + "\r\nhttp://127.0.0.1:9/remote.jpg\r\n");
    testing_support::RunningProgram p(folder);
    ASSERT_TRUE(p.WaitReady()) << "exit " << p.Wait(0);

    // The first activation previewed the local first row.
    EXPECT_EQ(p.Get("vinForm1.Label1", "text"), local);
    EXPECT_EQ(p.Get("vinForm1.webbrowser1", "width"), "0");
    p.Ask({"clickrow", "vinForm1.ListView1", "1"});
    EXPECT_EQ(p.Get("vinForm1.webbrowser1", "width"), "235");
    EXPECT_EQ(p.Get("vinForm1.Label1", "text"), "http://127.0.0.1:9/remote.jpg");
    p.Ask({"clickrow", "vinForm1.ListView1", "0"});
    EXPECT_EQ(p.Get("vinForm1.webbrowser1", "width"), "0");

    // A file through the choose-file window, an address through the other.
    p.Ask({"click", "vinForm1.JvXPButton3"});
    p.Ask({"answer", "files", added});
    p.Ask({"click", "Form6.JvXPButton1"});
    EXPECT_EQ(p.Get("vinForm1.Label1", "text"), added);
    p.Ask({"click", "vinForm1.Addweblink1"});
    p.Ask({"set", "Form4.Edit1", "text", "http://127.0.0.1:9/typed.jpg"});
    p.Ask({"click", "Form4.Button1"});

    // A picture clicked in the remote selector.
    p.Ask({"click", "vinForm1.JvXPButton1"});
    std::string state;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (state.find("pick.html 0") == std::string::npos && std::chrono::steady_clock::now() < until) {
        state = p.Ask({"browser", "Form5.WebBrowser1"});
        ::usleep(10000);
    }
    p.Ask({"click", "Form5.CheckBox1"});
    int status = 1;
    p.Ask({"elementclick", "Form5.WebBrowser1", "img", "0"}, &status);
    EXPECT_EQ(status, 0) << state;
    EXPECT_NE(p.Ask({"boxes"}).find("http://127.0.0.1:9/cat.jpg"), std::string::npos);

    EXPECT_EQ(ReadText(folder + "/files.ini"), local + "\r\nhttp://127.0.0.1:9/remote.jpg\r\n" + added +
                                                   "\r\nhttp://127.0.0.1:9/typed.jpg\r\nhttp://127.0.0.1:9/cat.jpg\r\n");
    p.Ask({"close", "TvinForm1"});
    EXPECT_EQ(p.Wait(), 0);
}
