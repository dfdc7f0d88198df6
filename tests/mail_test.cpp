// Mail to a friend: the tools window's "mailto:" address, its sponsor link,
// and the mail list kept in "mail.ini".
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/delivery.h"
#include "delivery/services.h"
#include "platform/image/image.h"
#include "platform/shell/shell.h"
#include "sharing/TForm7.h"
#include "sharing/TForm8.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

struct MailToAFriend : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;
    TForm7* tools = nullptr;
    TForm8* list = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }
    std::string MailFile() const { return File("mail.ini"); }

    void SetUp() override
    {
        SetInvitationSeed(18);   // selecting a local picture draws nothing
        shell::SetStartingEnabled(false);
        shell::ClearRecordedCalls();
        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
        tools = program->Form7.get();
        list = program->Form8.get();
    }
    void TearDown() override
    {
        shell::SetStartingEnabled(true);
        SetInvitationSeed(std::nullopt);
    }

    // A button pressed as the loop delivers it: an error ends in the box.
    void Press(ui::Button& button)
    {
        program->app.Deliver([&] { button.Click(); });
    }
    // The user switches to another program and back to this window.
    void Reactivate(ui::Form& form)
    {
        program->app.SetActiveForm(nullptr);
        program->app.SetActiveForm(&form);
    }
    // A control-click: the line joins the selection, then the list's click.
    void ControlClick(int line)
    {
        list->ListBox1.SetSelected(line, true);
        program->app.Deliver([&] { list->ListBox1.OnClick(); });
    }
    // The address the last "Send" handed to the shell.
    std::string Sent()
    {
        auto calls = shell::RecordedCalls();
        if (calls.empty())
            return "(nothing sent)";
        const shell::ShellCall& call = calls.back();
        EXPECT_EQ(call.verb, "open");
        EXPECT_EQ(call.show, shell::SW_SHOWNORMAL);
        EXPECT_EQ(call.argv, (std::vector<std::string>{"xdg-open", call.file}));
        return call.file;
    }
    std::string SendNow()
    {
        Press(tools->JvXPButton3);
        return Sent();
    }
    std::vector<ui::ShownDialog> ErrorBoxes() const
    {
        std::vector<ui::ShownDialog> out;
        for (const auto& d : program->app.Shown())
            if (d.kind == "message" && (d.flags & ui::MB_ICONSTOP))
                out.push_back(d);
        return out;
    }
    void Pump(const std::function<bool()>& done)
    {
        for (int i = 0; i < 1000 && !done(); ++i)
            program->app.HandleMessageWithin(10);
    }
    // The main window previews a web picture, as picking a web entry does.
    std::string ShowWebPicture()
    {
        const std::string address = "http://127.0.0.1:9/friend.jpg";
        main->AddRow(address);
        main->ListView1.ClickRow(main->ListView1.Count() - 1);
        Pump([&] { return !main->webbrowser1.LocationURL().empty() && !main->webbrowser1.Busy(); });
        EXPECT_EQ(main->webbrowser1.Width(), 235);
        return main->webbrowser1.LocationURL();
    }
    void ShowLocalPicture()
    {
        ui::Bitmap b;
        b.Width = 2;
        b.Height = 2;
        b.Pixels.assign(4, 0xFF102030u);
        img::SaveBmp(b, File("local.bmp"));
        main->AddRow(File("local.bmp"));
        main->ListView1.ClickRow(main->ListView1.Count() - 1);
        EXPECT_EQ(main->webbrowser1.Width(), 0);
    }
};

} // namespace

// Two recipients picked from the list, the design subject and a body of two
// lines: the address, byte for byte.
TEST_F(MailToAFriend, ComposedAddressOfTwoRecipientsFromTheList)
{
    WriteText(MailFile(), "ann@example.org\r\nbob@example.net\r\n");
    Press(main->JvXPButton7);
    ASSERT_TRUE(tools->Visible());
    Press(tools->Button1);
    ASSERT_TRUE(list->Visible());
    ASSERT_EQ(list->ListBox1.Items(), (std::vector<std::string>{"ann@example.org", "bob@example.net"}));

    // Both lines picked together: the lower one comes first.
    list->ListBox1.SetSelected(0, true);
    ControlClick(1);
    EXPECT_EQ(tools->Edit1.Text(), "bob@example.net; ann@example.org; ");

    tools->RichEdit1.SetLines({"Hello,", "Look at my phone"});
    EXPECT_EQ(tools->Edit2.Text(), "My new picture");
    EXPECT_EQ(SendNow(), "mailto: bob@example.net; ann@example.org; ?subject=My new picture&body=Hello,%0d%0aLook at my phone");

    // The window stays as it was.
    EXPECT_TRUE(tools->Visible());
    EXPECT_EQ(tools->Edit1.Text(), "bob@example.net; ann@example.org; ");
    EXPECT_EQ(tools->RichEdit1.Lines().size(), 2u);
}

TEST_F(MailToAFriend, OnlyLineBreaksAreEncoded)
{
    struct Case {
        const char* what;
        std::string recipients, subject;
        std::optional<std::vector<std::string>> body;   // nullopt: the design body
        std::string sent;
    };
    const Case cases[] = {
        {"design body", "a@b.c", "My new picture", std::nullopt,
         "mailto: a@b.c?subject=My new picture&body=Hello,%0d%0aI have just changed the picture of my gsm. "
         "%0d%0aI uploaded the following picture:%0d%0a%0d%0a"},
        {"all empty", "", "", std::vector<std::string>{}, "mailto: ?subject=&body="},
        {"one empty line", "", "", std::vector<std::string>{""}, "mailto: ?subject=&body="},
        {"two empty lines", "", "", std::vector<std::string>{"", ""}, "mailto: ?subject=&body=%0d%0a"},
        {"characters pass as typed", "x y@z?&=", "100% #1 caf\xC3\xA9 +", std::vector<std::string>{"a&b=c?d", "%0a"},
         "mailto: x y@z?&=?subject=100% #1 caf\xC3\xA9 +&body=a&b=c?d%0d%0a%0a"},
        {"pairs anywhere, lone ends kept", "r\r\ns", "s\r\nt\n", std::vector<std::string>{"u\rv", "w\n\r\nx"},
         "mailto: r%0d%0as?subject=s%0d%0at\n&body=u\rv%0d%0aw\n%0d%0ax"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tools->Edit1.SetText(c.recipients);
        tools->Edit2.SetText(c.subject);
        if (c.body)
            tools->RichEdit1.SetLines(*c.body);
        EXPECT_EQ(SendNow(), c.sent);
        EXPECT_EQ(tools->MailAddress(), c.sent);
    }
}

TEST_F(MailToAFriend, PictureAddressOnlyWhileAWebPictureIsShown)
{
    tools->RichEdit1.SetLines({"Hi", "see:"});

    // A local picture: the box is unticked and disabled at activation.
    ShowLocalPicture();
    tools->CheckBox1.SetChecked(true);
    Press(main->JvXPButton7);
    EXPECT_FALSE(tools->CheckBox1.Checked());
    EXPECT_FALSE(tools->CheckBox1.Enabled());
    EXPECT_EQ(SendNow(), "mailto: ?subject=My new picture&body=Hi%0d%0asee:");

    // A web picture: enabled at the next activation, still unticked.
    const std::string address = ShowWebPicture();
    EXPECT_EQ(address, "http://127.0.0.1:9/friend.jpg");
    Reactivate(*tools);
    EXPECT_TRUE(tools->CheckBox1.Enabled());
    EXPECT_FALSE(tools->CheckBox1.Checked());
    tools->CheckBox1.Click();
    EXPECT_EQ(SendNow(), "mailto: ?subject=My new picture&body=Hi%0d%0asee:" + address);

    // Activated again while it still shows a web picture: the tick stays.
    Press(tools->Button1);
    Reactivate(*tools);
    EXPECT_TRUE(tools->CheckBox1.Checked());

    // Closing only hides: showing it again keeps the fields and the tick.
    tools->Edit1.SetText("c@d.e; ");
    Press(tools->JvXPButton2);
    EXPECT_FALSE(tools->Visible());
    Press(main->JvXPButton7);
    EXPECT_TRUE(tools->Visible());
    EXPECT_EQ(tools->Edit1.Text(), "c@d.e; ");
    EXPECT_TRUE(tools->CheckBox1.Checked());

    // Back to a local picture: the tick goes with the next activation.
    ShowLocalPicture();
    Reactivate(*tools);
    EXPECT_FALSE(tools->CheckBox1.Checked());
    EXPECT_FALSE(tools->CheckBox1.Enabled());
}

TEST_F(MailToAFriend, SponsorButtonOpensTheContentSite)
{
    const char* saved = std::getenv("VINTREL_CONTENT_HOST");
    const std::string restore = saved ? saved : "";
    ::setenv("VINTREL_CONTENT_HOST", "127.0.0.1:8123", 1);
    Press(tools->JvXPButton1);
    if (saved)
        ::setenv("VINTREL_CONTENT_HOST", restore.c_str(), 1);
    else
        ::unsetenv("VINTREL_CONTENT_HOST");

    auto calls = shell::RecordedCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, "");
    EXPECT_EQ(calls[0].file, "http://127.0.0.1:8123/");
    EXPECT_EQ(calls[0].show, shell::SW_SHOWNORMAL);
    EXPECT_EQ(calls[0].argv, (std::vector<std::string>{"xdg-open", "http://127.0.0.1:8123/"}));
}

TEST_F(MailToAFriend, AddRewritesTheWholeFile)
{
    list->Show();
    Press(list->Button1);   // an empty field adds nothing
    EXPECT_FALSE(std::filesystem::exists(MailFile()));
    EXPECT_EQ(list->ListBox1.Count(), 0);

    for (const char* entry : {"ann@example.org", " not an address ", "ann@example.org"}) {
        list->Edit1.SetText(entry);
        Press(list->Button1);
        EXPECT_EQ(list->Edit1.Text(), entry);   // the field keeps its text
    }
    EXPECT_EQ(ReadText(MailFile()), "ann@example.org\r\n not an address \r\nann@example.org\r\n");
    EXPECT_TRUE(ErrorBoxes().empty());

    // What "Add" writes reads back the same.
    list->ListBox1.Clear();
    Reactivate(*list);
    EXPECT_EQ(list->ListBox1.Items(), (std::vector<std::string>{"ann@example.org", " not an address ", "ann@example.org"}));
}

TEST_F(MailToAFriend, RemoveTouchesTheListOnly)
{
    WriteText(MailFile(), "a\r\nb\r\nc\r\nd\r\n");
    list->Show();
    list->ListBox1.SetSelected(0, true);
    list->ListBox1.SetSelected(2, true);
    list->ListBox1.SetSelected(3, true);
    Press(list->Button2);
    EXPECT_EQ(list->ListBox1.Items(), std::vector<std::string>{"b"});
    Press(list->Button2);   // nothing selected now
    EXPECT_EQ(list->ListBox1.Items(), std::vector<std::string>{"b"});
    EXPECT_EQ(ReadText(MailFile()), "a\r\nb\r\nc\r\nd\r\n");

    // The file still holds them: the next activation brings them back.
    Reactivate(*list);
    EXPECT_EQ(list->ListBox1.Items(), (std::vector<std::string>{"a", "b", "c", "d"}));

    // An entry added and removed again comes back too; the next "Add" writes
    // the list as it stands.
    list->Edit1.SetText("e");
    Press(list->Button1);
    list->ListBox1.ClickItem(4);
    Press(list->Button2);
    Reactivate(*list);
    EXPECT_EQ(list->ListBox1.Items().back(), "e");
    list->ListBox1.ClickItem(0);
    Press(list->Button2);
    list->Edit1.SetText("f");
    Press(list->Button1);
    EXPECT_EQ(ReadText(MailFile()), "b\r\nc\r\nd\r\ne\r\nf\r\n");
}

TEST_F(MailToAFriend, ActivationReadsTheFileAsItIs)
{
    struct Case {
        std::optional<std::string> file;   // nullopt: no file
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"a@b\r\n\r\nc@d", {"a@b", "", "c@d"}},   // the last line needs no line end
        {"a@b\nc@d\n", {"a@b", "c@d"}},
        {"\r\n", {""}},
        {"", {}},
        {std::nullopt, {"kept"}},                // no file: the list stays
    };
    list->Show();
    for (const auto& c : cases) {
        std::filesystem::remove(MailFile());
        if (c.file)
            WriteText(MailFile(), *c.file);
        list->ListBox1.SetItems({"kept"});
        Reactivate(*list);
        EXPECT_EQ(list->ListBox1.Items(), c.entries) << (c.file ? *c.file : "(no file)");
    }
    EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MailToAFriend, ClicksAppendEverySelectedLine)
{
    WriteText(MailFile(), "first@x\r\nsecond@x\r\nthird@x\r\n");
    tools->Edit1.SetText("typed; ");
    Press(tools->Button1);

    list->ListBox1.ClickItem(0);
    EXPECT_EQ(tools->Edit1.Text(), "typed; first@x; ");
    ControlClick(2);
    EXPECT_EQ(tools->Edit1.Text(), "typed; first@x; third@x; first@x; ");

    // A click that leaves nothing selected (a control-click on the last
    // selected line) adds nothing.
    list->ListBox1.SetSelected(0, false);
    list->ListBox1.SetSelected(2, false);
    program->app.Deliver([&] { list->ListBox1.OnClick(); });
    EXPECT_EQ(tools->Edit1.Text(), "typed; first@x; third@x; first@x; ");

    // Closing the list only hides it.
    Press(list->Button3);
    EXPECT_FALSE(list->Visible());
    EXPECT_EQ(list->ListBox1.Count(), 3);
}

// "mail.ini" that cannot be rewritten: the error box names it, the file stays
// as it was, the new entry stays in the list.
TEST_F(MailToAFriend, UnwritableMailFile)
{
    enum class Target { Directory, ReadOnly };
    for (Target target : {Target::Directory, Target::ReadOnly}) {
        SCOPED_TRACE(static_cast<int>(target));
        std::filesystem::remove_all(MailFile());
        if (target == Target::Directory) {
            std::filesystem::create_directory(MailFile());
        } else {
            WriteText(MailFile(), "old@x\r\n");
            ::chmod(MailFile().c_str(), 0444);
        }
        list->Show();
        Reactivate(*list);
        const size_t before = ErrorBoxes().size();
        list->Edit1.SetText("new@x");
        Press(list->Button1);

        const auto boxes = ErrorBoxes();
        ASSERT_EQ(boxes.size(), before + 1);
        EXPECT_NE(boxes.back().text.find(MailFile()), std::string::npos) << boxes.back().text;
        EXPECT_EQ(list->ListBox1.Items().back(), "new@x");
        if (target == Target::Directory)
            EXPECT_TRUE(std::filesystem::is_directory(MailFile()));
        else
            EXPECT_EQ(ReadText(MailFile()), "old@x\r\n");
        list->ListBox1.Clear();
    }
    // No temporary is left behind.
    std::filesystem::remove_all(MailFile());
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().find("mail.ini") != std::string::npos)
            left.push_back(e.path().filename().string());
    EXPECT_TRUE(left.empty());
}
