// Start-up and the picture list: the command-line intake, the tray record,
// loading, removing, sorting and fitting the columns, the activation.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "list/TForm4.h"
#include "list/TForm6.h"
#include "platform/image/image.h"
#include "platform/session/windows.h"
#include "platform/shell/shell.h"
#include "settings/TForm3.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

struct ListFixture : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;

    std::string File(const std::string& name) const { return folder + "/" + name; }

    // Starts a program in the test's folder with this command line.
    TvinForm1& Start(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), folder + "/vintrel");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, args);
        program->Start();
        return *program->vinForm1;
    }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& d : program->app.Shown())
            out.push_back(d.text);
        return out;
    }
    std::vector<std::string> Names(TvinForm1& f) const
    {
        std::vector<std::string> out;
        for (int i = 0; i < f.ListView1.Count(); ++i)
            out.push_back(f.ListView1.Item(i).Caption);
        return out;
    }
    void WritePicture(const std::string& path) const
    {
        ui::Bitmap b;
        b.Width = 4;
        b.Height = 3;
        b.Pixels.assign(12, 0xFF336699u);
        img::SaveBmp(b, path);
    }
};

} // namespace

TEST_F(ListFixture, CommandLineIntake)
{
    struct Case {
        std::vector<std::string> args;
        std::string appended;
        std::string prefix;
    };
    const Case cases[] = {
        {{}, "", ""},
        {{"http://"}, "http://\r\n", ""},
        {{"HTTP://example.com/a.jpg"}, "HTTP://example.com/a.jpg\r\n", "HTTP://"},
        {{"http://example.com/a.jpg", "more", "args"}, "http://example.com/a.jpg\r\n", "http://"},
        {{"/home/me/my", "holiday", "pic.jpg"}, "/home/me/my holiday pic.jpg\r\n", "/home/m"},
        {{"/pics/two", "", "blanks.jpg"}, "/pics/two  blanks.jpg\r\n", "/pics/t"},
        {{"short"}, "short\r\n", ""},
    };
    for (const auto& c : cases) {
        WriteText(File("files.ini"), "");
        TvinForm1& f = Start(c.args);
        EXPECT_EQ(ReadText(File("files.ini")), c.appended) << testing::PrintToString(c.args);
        EXPECT_EQ(f.StartPrefix, c.prefix) << testing::PrintToString(c.args);
        program.reset();
    }
}

TEST_F(ListFixture, IntakeIntoMissingListFileShowsErrorAndStartGoesOn)
{
    TvinForm1& f = Start({"/pics/a.jpg"});
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("files.ini"), std::string::npos) << Boxes()[0];
    EXPECT_FALSE(testing_support::ReadText(File("files.ini")).size());
    EXPECT_NE(f.NewDownloadMessage, 0u);
    EXPECT_EQ(session::TrayIcons().size(), 1u);
    EXPECT_NE(program->Form5, nullptr);   // the other windows were still created
}

TEST_F(ListFixture, TrayRecordIsTheClassic88Bytes)
{
    program = std::make_unique<Program>(folder, std::vector<std::string>{"/opt/x/VINTREL.bin.exe"});
    program->Start();
    TvinForm1& f = *program->vinForm1;
    const auto& r = f.TrayIconData;
    static_assert(sizeof r == 88);
    EXPECT_EQ(r.cbSize, 88u);
    EXPECT_EQ(r.hWnd, f.Handle);
    EXPECT_EQ(r.uID, 0u);
    EXPECT_EQ(r.uFlags, 7u);
    EXPECT_EQ(r.uCallbackMessage, 1025u);
    EXPECT_STREQ(r.szTip, "Vintrel");
    EXPECT_EQ(session::TrayIcons().at(0).tip, "Vintrel");
    program->app.DestroyForms();
    EXPECT_TRUE(session::TrayIcons().empty());   // the destruction removed it

    EXPECT_EQ(ProgramTitle(std::string(100, 'A')).size(), 100u);
    program.reset();
    program = std::make_unique<Program>(folder, std::vector<std::string>{std::string(100, 'Q')});
    program->Start();
    EXPECT_EQ(std::strlen(program->vinForm1->TrayIconData.szTip), 63u);
}

TEST_F(ListFixture, EntryNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/home/me/pics/cat.jpg", "cat.jpg"},
        {"http://example.com/pics/dog.png", "dog.png"},
        {"http://example.com/pics/", ""},
        {"C:\\pics\\a.bmp", "a.bmp"},
        {"D:b.jpg", "b.jpg"},
        {"noseparator", "noseparator"},
    };
    for (auto [entry, name] : cases)
        EXPECT_EQ(EntryName(entry), name) << entry;
}

TEST_F(ListFixture, LoadListSkipsShortLinesAndSurvivesOddContent)
{
    WritePicture(File("first.bmp"));
    std::string longLine = "/x/" + std::string(1 << 20, 'L');
    std::string nul("/pics/a\0b.jpg", 13);
    WriteText(File("files.ini"), "\r\n1234567\r\n" + File("first.bmp") + "\r\n12345678\r\n" + nul + "\r\n" +
                                     longLine + "\r\nhttp://example.com/pics/\r\n");
    WriteText(File("options.ini"), "0612345678\r\n0\r\n0\r\n");
    WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
    TvinForm1& f = Start();
    f.Show();
    ASSERT_EQ(f.ListView1.Count(), 5);
    EXPECT_EQ(f.ListView1.Item(0).SubItems[0], File("first.bmp"));
    EXPECT_EQ(f.ListView1.Item(1).Caption, "12345678");
    EXPECT_EQ(f.ListView1.Item(2).SubItems[0], nul);
    EXPECT_EQ(f.ListView1.Item(3).SubItems[0].size(), longLine.size());
    EXPECT_EQ(f.ListView1.Item(4).Caption, "");
    // The first row is a local picture: shown in the image, the browser stays hidden.
    EXPECT_EQ(f.Label1.Caption(), File("first.bmp"));
    EXPECT_EQ(f.Image1.PictureWidth(), 4);
    EXPECT_EQ(f.webbrowser1.Width(), 0);
    EXPECT_TRUE(Boxes().empty()) << Boxes().at(0);
    // Colours read in order: window, picture frame, list.
    EXPECT_EQ(f.Color(), 1);
    EXPECT_EQ(f.GroupBox2.Color(), 2);
    EXPECT_EQ(f.ListView1.Color(), 3);
}

TEST_F(ListFixture, LoadListPreviewsAddressesAndMissingFilesInTheBrowser)
{
    for (const std::string first : {"http://127.0.0.1:9/pic.jpg", "/no/such/file.jpg"}) {
        WriteText(File("files.ini"), first + "\r\n");
        TvinForm1& f = Start();
        f.loadlist();
        EXPECT_EQ(f.webbrowser1.Width(), 235);
        EXPECT_EQ(f.Label1.Caption(), first);
        EXPECT_TRUE(f.webbrowser1.Busy()) << first;   // loading goes on in the loop
        program.reset();
    }
}

TEST_F(ListFixture, FirstRowThatIsNotAPictureShowsErrorAfterLoading)
{
    WriteText(File("notapicture.jpg"), "plain text");
    WriteText(File("files.ini"), File("notapicture.jpg") + "\r\nhttp://example.com/b.jpg\r\n");
    TvinForm1& f = Start();
    program->app.Deliver([&] { f.loadlist(); });
    EXPECT_EQ(f.ListView1.Count(), 2);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("notapicture.jpg"), std::string::npos) << Boxes()[0];
    EXPECT_GT(f.ListView1.Columns()[1].Width, 20);
}

TEST_F(ListFixture, LoadListWithoutEntriesChangesNothing)
{
    TvinForm1& f = Start();
    f.loadlist();   // no file at all
    WriteText(File("files.ini"), "short\r\n\r\n");
    f.loadlist();
    EXPECT_EQ(f.ListView1.Count(), 0);
    EXPECT_EQ(f.ListView1.Columns()[0].Width, 79);
    EXPECT_EQ(f.ListView1.Columns()[1].Width, 150);
    EXPECT_EQ(f.Label1.Caption(), "");
}

TEST_F(ListFixture, RemoveRewritesTheFileInListOrder)
{
    WriteText(File("files.ini"), "http://h/c.jpg\r\nhttp://h/a.jpg\r\nhttp://h/b.jpg\r\n");
    TvinForm1& f = Start();
    f.loadlist();
    WriteText(File("files.ini"), "changed behind our back\r\n");
    f.remmove();   // nothing selected: the file is not touched
    EXPECT_EQ(ReadText(File("files.ini")), "changed behind our back\r\n");

    f.ListView1ColumnClick(1);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    f.ListView1.SetSelected(1, true);
    f.JvXPButton2.Click();
    EXPECT_EQ(ReadText(File("files.ini")), "http://h/a.jpg\r\nhttp://h/c.jpg\r\n");

    for (int i = 0; i < f.ListView1.Count(); ++i)
        f.ListView1.SetSelected(i, true);
    f.Delete1.Click();
    EXPECT_EQ(ReadText(File("files.ini")), "");
    EXPECT_EQ(f.ListView1.Columns()[0].Width, 79);
    EXPECT_EQ(f.ListView1.Columns()[1].Width, 150);
    EXPECT_EQ(f.Label1.Caption(), "http://h/c.jpg");   // removing leaves the preview alone
}

TEST_F(ListFixture, FailedRewriteLeavesTheOldFileWhole)
{
    std::string old;
    for (int i = 0; i < 200; ++i)
        old += "http://example.com/picture-number-" + std::to_string(i) + ".jpg\r\n";
    WriteText(File("files.ini"), old);
    TvinForm1& f = Start();
    f.loadlist();
    f.ListView1.SetFocused(0);
    f.ListView1.SetSelected(0, true);
    // A file size limit below the new list's size makes the write fail, as a
    // full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    program->app.Deliver([&] { f.remmove(); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ReadText(File("files.ini")), old);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("files.ini"), std::string::npos) << Boxes()[0];
}

TEST_F(ListFixture, ColumnWidthsFollowTheRows)
{
    TvinForm1& f = Start();
    auto& lv = f.ListView1;
    auto width = [&](const std::string& t) { return program->app.TextWidth(lv, t); };
    // Each step adds a row and fits both columns, as every adder does.
    struct Step {
        std::string entry;
        int name, path;
    };
    const std::string longPath = "http://example.com/a/very/long/folder/name/with/many/parts/x.jpg";
    const std::string shortPath = "http://h/a-much-longer-name.jpg";
    const Step steps[] = {
        {longPath, 79, width(longPath) + 20},                                       // name fits in 79
        {shortPath, width("a-much-longer-name.jpg") + 20, width(shortPath) + 20},   // path narrows
        {"http://h/b.jpg", width("a-much-longer-name.jpg") + 20, width("http://h/b.jpg") + 20},
    };
    for (const auto& s : steps) {
        f.AddRow(s.entry);
        f.adresizescroll(0);
        f.adresizescroll(1);
        EXPECT_EQ(lv.Columns()[0].Width, s.name) << s.entry;
        EXPECT_EQ(lv.Columns()[1].Width, s.path) << s.entry;
    }
    // A path of text width 20 or less leaves the column alone.
    f.AddRow("C:a");   // Name "a"
    int before = lv.Columns()[1].Width;
    ASSERT_LE(width("C:a"), 20);
    f.adresizescroll(1);
    EXPECT_EQ(lv.Columns()[1].Width, before);
    // After a removal both columns fit the widest remaining row.
    lv.SetSelected(1, true);
    f.deltruc();
    EXPECT_EQ(lv.Columns()[1].Width, width(longPath) + 20);
    EXPECT_EQ(lv.Columns()[0].Width, width("x.jpg") + 20);
}

TEST_F(ListFixture, SortUsesTheUsersCollationCaseSensitive)
{
    WriteText(File("files.ini"), "http://h/banana\r\nhttp://h/Apple\r\nhttp://h/apple\r\n");
    TvinForm1& f = Start();
    f.loadlist();
    f.ListView1.ColumnClick(0);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"apple", "Apple", "banana"}));
    f.ListView1.ColumnClick(0);   // no descending order: the same again
    EXPECT_EQ(Names(f), (std::vector<std::string>{"apple", "Apple", "banana"}));
    EXPECT_EQ(ReadText(File("files.ini")), "http://h/banana\r\nhttp://h/Apple\r\nhttp://h/apple\r\n");
}

TEST_F(ListFixture, ActivationReadsOptionsOnlyWithAnEmptyList)
{
    WriteText(File("files.ini"), "http://h/one.jpg\r\n");
    WriteText(File("options.ini"), "0612345678\r\n3\r\n1\r\n");
    WriteText(File("color.ini"), "10\r\n20\r\n30\r\n");
    TvinForm1& f = Start();
    f.Show();
    EXPECT_EQ(program->Form3->Edit1.Text(), "0612345678");
    EXPECT_EQ(f.ListView1.Count(), 1);

    // With rows in the list: colours again, options not.
    WriteText(File("options.ini"), "0799999999\r\n0\r\n0\r\n");
    WriteText(File("color.ini"), "11\r\n21\r\n31\r\n");
    program->Form4->Show();
    program->Form4->Hide();   // the main window is active again
    EXPECT_EQ(program->Form3->Edit1.Text(), "0612345678");
    EXPECT_EQ(f.Color(), 11);
    EXPECT_EQ(f.ListView1.Color(), 31);

    // With the choose-file window visible: neither.
    WriteText(File("color.ini"), "12\r\n22\r\n32\r\n");
    program->Form6->Show();
    f.Show();
    EXPECT_EQ(f.Color(), 11);
}

TEST_F(ListFixture, ActivationWithoutOptionsShowsTheOptionsWindow)
{
    WriteText(File("color.ini"), "10\r\n20\r\n30\r\n");
    TvinForm1& f = Start();
    f.Show();
    EXPECT_TRUE(program->Form3->Visible());
    EXPECT_EQ(f.Color(), 10);   // the colours are still read
}

TEST_F(ListFixture, BadColourFileShowsErrorAtEveryActivation)
{
    WriteText(File("options.ini"), "0612345678\r\n0\r\n0\r\n");
    TvinForm1& f = Start();
    f.Show();   // no colour file
    EXPECT_EQ(Boxes().size(), 1u);
    WriteText(File("color.ini"), "5\r\nnot a number\r\n7\r\n");
    program->Form4->Show();
    program->Form4->Hide();
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(f.Color(), 5);                      // read before the bad line
    EXPECT_EQ(f.GroupBox2.Color(), ui::clBtnText);   // kept
    EXPECT_EQ(f.ListView1.Color(), 12435644);
}

TEST_F(ListFixture, MalformedOptionsLineStopsTheActivationRead)
{
    WriteText(File("options.ini"), "0612345678\r\n");
    WriteText(File("color.ini"), "10\r\n20\r\n30\r\n");
    WriteText(File("files.ini"), "http://h/one.jpg\r\n");
    TvinForm1& f = Start();
    f.Show();
    EXPECT_EQ(program->Form3->Edit1.Text(), "0612345678");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0], "'' is not a valid integer value");
    EXPECT_EQ(f.ListView1.Count(), 0);          // the list was not loaded
    EXPECT_EQ(f.Color(), 13677484);             // nor the colours read
}

TEST(ProgramProcess, CommandLineIsAppendedWithCrLf)
{
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    testing_support::Run({"/bin/cp", VINTREL_PROGRAM_DIR "/vintrel", folder + "/vintrel"});
    WriteText(folder + "/files.ini", "");
    ::setenv("VINTREL_UI", "headless", 1);
    testing_support::Child child({folder + "/vintrel", "a", "b", "c"});
    for (int i = 0; i < 500 && ReadText(folder + "/files.ini").empty(); ++i)
        ::usleep(10000);
    child.Kill(SIGTERM);
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(ReadText(folder + "/files.ini"), "a b c\r\n");
}

TEST(ProgramProcess, ListDrivenThroughTheAutomationChannel)
{
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    WriteText(folder + "/files.ini", "http://127.0.0.1:9/pics/zebra.jpg\r\n/nowhere/apple.jpg\r\nhttp://h/mango.jpg\r\n");
    testing_support::RunningProgram p(folder);
    ASSERT_TRUE(p.WaitReady());
    // The first activation loaded the list and previewed the first row.
    EXPECT_EQ(p.Get("vinForm1.Label1", "text"), "http://127.0.0.1:9/pics/zebra.jpg");
    EXPECT_EQ(p.Get("vinForm1.webbrowser1", "width"), "235");
    auto rows = p.Ask({"rows", "vinForm1.ListView1"});
    EXPECT_NE(rows.find("zebra.jpg"), std::string::npos) << rows;
    EXPECT_LT(rows.find("zebra.jpg"), rows.find("apple.jpg")) << rows;

    p.Ask({"columnclick", "vinForm1.ListView1", "1"});
    rows = p.Ask({"rows", "vinForm1.ListView1"});
    EXPECT_LT(rows.find("apple.jpg"), rows.find("mango.jpg")) << rows;
    EXPECT_LT(rows.find("mango.jpg"), rows.find("zebra.jpg")) << rows;

    p.Ask({"select", "vinForm1.ListView1", "1"});
    p.Ask({"click", "vinForm1.JvXPButton2"});
    EXPECT_EQ(ReadText(folder + "/files.ini"), "/nowhere/apple.jpg\r\nhttp://127.0.0.1:9/pics/zebra.jpg\r\n");

    p.Ask({"close", "TvinForm1"});
    EXPECT_EQ(p.Wait(), 0);
}

TEST_F(ListFixture, HomePageButtonOpensTheAddressWithTheDefaultVerb)
{
    TvinForm1& f = Start();
    shell::SetStartingEnabled(false);
    shell::ClearRecordedCalls();
    f.JvXPButton8.Click();
    auto calls = shell::RecordedCalls();
    shell::SetStartingEnabled(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, "");
    EXPECT_EQ(calls[0].file, kHomePage);
    EXPECT_EQ(std::string(kHomePage).rfind("http://", 0), 0u);
    EXPECT_EQ(calls[0].argv, (std::vector<std::string>{"xdg-open", kHomePage}));
}
