// The options window and file, and the shell and browser registration that
// every save writes.
#include <gtest/gtest.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/session/registry.h"
#include "platform/shell/shell.h"
#include "platform/sys/error.h"
#include "platform/sys/text.h"
#include "settings/TForm3.h"
#include "settings/language.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

struct OptionsFixture : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;

    std::string File(const std::string& name) const { return folder + "/" + name; }
    TForm3& Start()
    {
        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        return *program->Form3;
    }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& d : program->app.Shown())
            out.push_back(d.text);
        return out;
    }
    // Everything the registration may write, as "ROOT\path = value" lines.
    std::vector<std::string> Registered() const
    {
        std::vector<std::string> out;
        auto& store = session::RegistryStore::Default();
        std::function<void(session::RootKey, const std::string&)> walk = [&](session::RootKey root,
                                                                             const std::string& key) {
            for (const auto& v : store.Values(root, key))
                out.push_back(std::string(session::RootKeyName(root)) + "\\" + key + " [" + v.name + "] = " +
                              (v.type == session::REG_DWORD ? std::to_string(v.number) : v.text));
            for (const auto& sub : store.SubKeys(root, key))
                walk(root, key + "\\" + sub);
        };
        walk(session::HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\MenuExt");
        walk(session::HKEY_CLASSES_ROOT, "jpegfile\\shell");
        walk(session::HKEY_CLASSES_ROOT, "Paint.Picture\\shell");
        return out;
    }
    std::vector<std::string> Expected(const std::string& name) const
    {
        const std::string cmd = "\"" + folder + "/vintrel\" %1";
        return {
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\\&" + name + " [] = " + folder +
                "/add.htm",
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\\&" + name + " [Contexts] = 2",
            "HKEY_CLASSES_ROOT\\jpegfile\\shell\\" + name + "\\command [] = " + cmd,
            "HKEY_CLASSES_ROOT\\Paint.Picture\\shell\\" + name + "\\command [] = " + cmd,
        };
    }
};

} // namespace

TEST(OptionsConversion, DecimalWithOptionalSignOnly)
{
    const std::pair<const char*, int> good[] = {{"0", 0}, {"+5", 5}, {"-1", -1}, {"1048", 1048},
                                                {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}};
    for (auto [text, value] : good)
        EXPECT_EQ(sys::StrToInt(text), value) << text;
    for (const char* bad : {"", " 1", "1 ", "1x", "--1", "+", "0x10", "2147483648", "-2147483649", "99999999999999999999"})
        EXPECT_THROW(sys::StrToInt(bad), sys::Error) << bad;
}

TEST_F(OptionsFixture, FirstRunCourse)
{
    TForm3& options = Start();
    program->vinForm1->Show();            // first activation: no options file yet
    ASSERT_TRUE(options.Visible());
    options.Button2.Click();                // "Close" is refused
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Please enter something"}));
    EXPECT_TRUE(options.Visible());

    options.Edit1.SetText("   ");           // nothing checks the number: blanks are saved
    options.ComboBox2.Select(1);
    options.Button1.Click();
    EXPECT_EQ(ReadText(File("options.ini")),
              "   \r\n" + std::to_string(options.ComboBox1.ItemIndex()) + "\r\n1\r\n");
    options.Button2.Click();                // now it closes, and the program goes on
    EXPECT_FALSE(options.Visible());
    EXPECT_FALSE(program->app.Terminated());
}

TEST_F(OptionsFixture, ClosingTheWindowOnFirstRunEndsTheProgram)
{
    TForm3& options = Start();
    program->vinForm1->Show();
    options.Close();   // the title bar's close button
    EXPECT_TRUE(program->app.Terminated());
}

TEST_F(OptionsFixture, SaveWithoutPhoneNumberRegistersButWritesNoFile)
{
    TForm3& options = Start();
    options.Button1.Click();
    EXPECT_EQ(ReadText(File("options.ini")), "");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Registered(), Expected("Add to gsm picture list"));
}

TEST_F(OptionsFixture, ShowingTheWindowBringsBackTheSavedValues)
{
    WriteText(File("options.ini"), "0612345678\r\n0\r\n1\r\n");
    TForm3& options = Start();
    options.Edit1.SetText("typed but not saved");
    options.ComboBox2.SetItemIndex(0);
    options.Show();
    EXPECT_EQ(options.Edit1.Text(), "0612345678");
    EXPECT_EQ(options.ComboBox2.ItemIndex(), 1);
}

TEST_F(OptionsFixture, BadOptionsFiles)
{
    struct Case {
        std::string content;
        std::string phone;
        int language;   // what the language list holds afterwards
        bool error;
    };
    const std::string huge(100000, '7');
    const Case cases[] = {
        {"0612345678\r\n", "0612345678", 0, true},                 // one line: line 2 fails
        {"0612345678\r\n0\r\n5\r\n", "0612345678", -1, false},     // no language active
        {"\x01\x02garbage\r\nxx\r\nyy\r\n", "\x01\x02garbage", 0, true},
        {huge + "\r\n0\r\n1\r\n", huge, 1, false},
        {"0612345678\r\n" + huge + "\r\n1\r\n", "0612345678", 0, true},   // beyond 32 bits
    };
    for (const auto& c : cases) {
        WriteText(File("options.ini"), c.content);
        TForm3& options = Start();
        options.Show();
        EXPECT_EQ(options.Edit1.Text(), c.phone);
        EXPECT_EQ(options.ComboBox2.ItemIndex(), c.language) << c.content.substr(0, 40);
        EXPECT_EQ(Boxes().size(), c.error ? 1u : 0u) << c.content.substr(0, 40);
        EXPECT_EQ(ReadText(File("options.ini")), c.content);   // never repaired or lost
        program.reset();
    }
}

TEST_F(OptionsFixture, LanguageFiveIsSavedAsMinusOne)
{
    WriteText(File("options.ini"), "0612345678\r\n0\r\n5\r\n");
    TForm3& options = Start();
    options.Show();
    EXPECT_FALSE(ByLanguage(*program, "Done !", "Fait !").has_value());
    options.Button1.Click();
    EXPECT_EQ(ReadText(File("options.ini")), "0612345678\r\n0\r\n-1\r\n");
    EXPECT_TRUE(Registered().empty());   // no language, no registration
}

TEST_F(OptionsFixture, RegistrationFollowsTheLanguage)
{
    TForm3& options = Start();
    options.Edit1.SetText("0612345678");
    options.ComboBox2.SetItemIndex(0);
    options.Button1.Click();
    EXPECT_EQ(Registered(), Expected("Add to gsm picture list"));
    options.ComboBox2.SetItemIndex(1);
    options.Button1.Click();
    EXPECT_EQ(Registered(), Expected("Ajouter aux images gsm"));   // the English keys are gone
    options.ComboBox2.SetItemIndex(0);
    options.Button1.Click();
    options.Button1.Click();   // twice gives the same as once
    EXPECT_EQ(Registered(), Expected("Add to gsm picture list"));
    options.ComboBox2.SetItemIndex(-1);
    options.Button1.Click();
    EXPECT_EQ(Registered(), Expected("Add to gsm picture list"));
    EXPECT_EQ(ReadText(File("options.ini")), "0612345678\r\n" + std::to_string(options.ComboBox1.ItemIndex()) + "\r\n-1\r\n");
}

TEST_F(OptionsFixture, RefusedKeyAbortsTheSaveBeforeTheFile)
{
    WriteText(File("options.ini"), "old\r\n0\r\n0\r\n");
    TForm3& options = Start();
    session::RegistryStore::Default().DenyWrites(session::HKEY_CLASSES_ROOT, "Paint.Picture");
    options.Edit1.SetText("0612345678");
    program->app.Deliver([&] { options.Button1.Click(); });
    session::RegistryStore::Default().AllowAllWrites();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("\\Paint.Picture\\shell\\Add to gsm picture list\\command"), std::string::npos)
        << Boxes()[0];
    EXPECT_EQ(ReadText(File("options.ini")), "old\r\n0\r\n0\r\n");
    // The steps before the refused one stay written.
    auto written = Registered();
    EXPECT_EQ(written.size(), 3u);
}

TEST_F(OptionsFixture, RegisteredVerbStartsTheProgramWithTheFile)
{
    TForm3& options = Start();
    options.Button1.Click();   // English registration
    shell::SetStartingEnabled(false);
    shell::ClearRecordedCalls();
    WriteText(File("my cat.JPG"), "a picture");
    shell::ShellExecute(0, "Add to gsm picture list", File("my cat.JPG"), "", "", shell::SW_SHOWNORMAL);
    auto calls = shell::RecordedCalls();
    shell::SetStartingEnabled(true);
    ASSERT_EQ(calls.size(), 1u);
    // The placeholder is not quoted: the path arrives in pieces.
    EXPECT_EQ(calls[0].argv, (std::vector<std::string>{folder + "/vintrel", folder + "/my", "cat.JPG"}));
}

TEST(OptionsProcess, FirstRunCourseThenTheNextStartSpeaksTheSavedLanguage)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    {
        testing_support::RunningProgram p(folder);
        ASSERT_TRUE(p.WaitReady());
        EXPECT_EQ(p.Get("Form3", "visible"), "1");   // the first run shows the options
        p.Ask({"click", "Form3.Button2"});
        EXPECT_NE(p.Ask({"boxes"}).find("Please enter something"), std::string::npos);
        EXPECT_EQ(p.Get("Form3", "visible"), "1");
        p.Ask({"set", "Form3.Edit1", "text", "06 12 34 56 78"});
        p.Ask({"pick", "Form3.ComboBox2", "1"});
        p.Ask({"click", "Form3.Button1"});
        p.Ask({"click", "Form3.Button2"});
        EXPECT_EQ(p.Get("Form3", "visible"), "0");
        p.Ask({"close", "TvinForm1"});
        EXPECT_EQ(p.Wait(), 0);
    }
    EXPECT_EQ(ReadText(folder + "/options.ini"), "06 12 34 56 78\r\n0\r\n1\r\n");

    testing_support::RunningProgram p(folder);
    ASSERT_TRUE(p.WaitReady());
    EXPECT_EQ(p.Get("Form3", "visible"), "0");
    EXPECT_EQ(p.Get("Form3.Edit1", "text"), "06 12 34 56 78");
    EXPECT_EQ(p.Get("Form3.Button1", "caption"), "Sauver");
    EXPECT_EQ(p.Get("Form2.RadioButton1", "caption"), "Fond");
    p.Ask({"close", "TvinForm1"});
    EXPECT_EQ(p.Wait(), 0);
}
