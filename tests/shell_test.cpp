#include "platform/shell/shell.h"

#include "platform/session/registry.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;
using Argv = std::vector<std::string>;

namespace {

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

bool WaitForFile(const std::string& path)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string MakeFile(const std::string& path, mode_t mode = 0644)
{
    WriteText(path, "content\n");
    ::chmod(path.c_str(), mode);
    return path;
}

// The default value of a HKEY_CLASSES_ROOT key, creating the key.
void Register(const std::string& key, const std::string& value)
{
    auto& store = session::RegistryStore::Default();
    store.CreateKey(session::HKEY_CLASSES_ROOT, key);
    ASSERT_TRUE(store.SetValue(session::HKEY_CLASSES_ROOT, key, {"", session::REG_SZ, value, 0}));
}

} // namespace

TEST(SplitCommandLine, FollowsWindowsRules)
{
    struct Case {
        std::string line;
        Argv args;
    };
    const Case cases[] = {
        {"", {}},
        {" \t ", {}},
        {"one two three", {"one", "two", "three"}},
        {"  lead \t\t trail  ", {"lead", "trail"}},
        {R"("a b" c)", {"a b", "c"}},
        {R"(x "" y)", {"x", "", "y"}},
        {R"("")", {""}},
        {R"(a"b c"d)", {"ab cd"}},
        {R"(C:\Program Files\x)", {R"(C:\Program)", R"(Files\x)"}},
        {R"("C:\Program Files\x\\" next)", {R"(C:\Program Files\x\)", "next"}},
        {R"(a\\\b)", {R"(a\\\b)"}},
        {R"(say \"hi\")", {"say", R"("hi")"}},
        {R"(\\"a b")", {R"(\a b)"}},
        {R"(\\\"a b)", {R"(\"a)", "b"}},
        {R"(\\\\"a b")", {R"(\\a b)"}},
        {R"("say ""hi"" now")", {R"(say "hi" now)"}},
        {R"("unterminated group  x)", {"unterminated group  x"}},
        {"tab\tseparated", {"tab", "separated"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shell::SplitCommandLine(c.line), c.args) << "line: " << c.line;
}

class ShellExecuteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        shell::SetStartingEnabled(false);
        shell::ClearRecordedCalls();
    }
    void TearDown() override { shell::SetStartingEnabled(true); }

    static shell::ShellCall Call(const std::string& verb, const std::string& file, const std::string& parameters = {},
                                 const std::string& folder = {})
    {
        int result = shell::ShellExecute(0, verb, file, parameters, folder, shell::SW_SHOWNORMAL);
        auto calls = shell::RecordedCalls();
        EXPECT_FALSE(calls.empty());
        if (calls.empty())
            return {};
        EXPECT_EQ(calls.back().result, result);
        return calls.back();
    }

    IsolatedEnvironment env;
    std::string dir = env.dir().path();
};

TEST_F(ShellExecuteTest, RegisteredVerbStartsItsCommand)
{
    Register(".xyz", "xyzfile");
    Register("xyzfile\\shell\\open\\command", "\"/bin/echo\" \"%1\"");
    // Verbs and extensions compare without regard to case; with no "shell"
    // default the default verb is "open".
    const std::pair<std::string, std::string> cases[] = {
        {"open", "plain.xyz"}, {"Open", "upper.XYZ"}, {"", "default.xyz"}, {"OPEN", "with blank.xyz"}};
    for (const auto& [verb, name] : cases) {
        std::string path = MakeFile(dir + "/" + name);
        auto call = Call(verb, path);
        EXPECT_EQ(call.argv, (Argv{"/bin/echo", path})) << verb << " " << name;
        EXPECT_GT(call.result, 32);
        EXPECT_EQ(call.verb, verb);
        EXPECT_EQ(call.file, path);
    }
}

TEST_F(ShellExecuteTest, PutsFileIntoCommand)
{
    // The file goes into the command's text, which is then split: an unquoted
    // placeholder hands a path with a blank over in pieces, as the desktop does.
    std::string path = MakeFile(dir + "/a b.xyz");
    Register(".xyz", "xyzfile");
    const std::pair<std::string, Argv> cases[] = {
        {"/bin/echo %1", {"/bin/echo", dir + "/a", "b.xyz"}},
        {"/bin/echo \"%1\"", {"/bin/echo", path}},
        {"/bin/echo --file=%L -x", {"/bin/echo", "--file=" + dir + "/a", "b.xyz", "-x"}},
        {"/bin/echo \"%l\"", {"/bin/echo", path}},
        {"\"/bin/echo\" -n", {"/bin/echo", "-n", path}},
        {"/bin/echo 100%", {"/bin/echo", "100%", path}},
    };
    for (const auto& [command, argv] : cases) {
        Register("xyzfile\\shell\\open\\command", command);
        EXPECT_EQ(Call("open", path).argv, argv) << command;
    }
}

TEST_F(ShellExecuteTest, DefaultVerbComesFromShellKey)
{
    std::string path = MakeFile(dir + "/doc.xyz");
    Register(".xyz", "xyzfile");
    Register("xyzfile\\shell", "view");
    Register("xyzfile\\shell\\open\\command", "/bin/echo %1");
    Register("xyzfile\\shell\\view\\command", "/bin/cat %1");
    EXPECT_EQ(Call("", path).argv, (Argv{"/bin/cat", path}));
    EXPECT_EQ(Call("open", path).argv, (Argv{"/bin/echo", path}));
}

TEST_F(ShellExecuteTest, OtherVerbWithNothingRegisteredStartsNothing)
{
    std::string known = MakeFile(dir + "/doc.xyz");
    std::string unknown = MakeFile(dir + "/doc.unknown");
    std::string program = MakeFile(dir + "/program", 0755);
    Register(".xyz", "xyzfile");
    Register("xyzfile\\shell\\open\\command", "/bin/echo %1");
    const std::pair<std::string, std::string> cases[] = {
        {"erase", known}, {"print", known}, {"print", unknown}, {"erase", program}};
    for (const auto& [verb, path] : cases) {
        auto call = Call(verb, path);
        EXPECT_EQ(call.result, shell::SE_ERR_NOASSOC) << verb << " " << path;
        EXPECT_TRUE(call.argv.empty());
    }
    EXPECT_TRUE(shell::RecordedStarts().empty());
}

TEST_F(ShellExecuteTest, AddressesAndUnregisteredFilesGoToOpener)
{
    std::string unknown = MakeFile(dir + "/notes.unknown");
    std::string bare = MakeFile(dir + "/README");
    std::string plain = MakeFile(dir + "/not-executable.sh");
    const std::pair<std::string, std::string> cases[] = {
        {"open", "https://example.org/a b?q=1"},
        {"print", "HTTP://example.org/"},
        {"", "MailTo:someone@example.org"},
        {"open", unknown},
        {"", unknown},
        {"Open", bare},
        {"open", plain},
        {"open", dir},
    };
    for (const auto& [verb, file] : cases) {
        auto call = Call(verb, file);
        EXPECT_EQ(call.argv, (Argv{"xdg-open", file})) << verb << " " << file;
        EXPECT_GT(call.result, 32);
    }
}

TEST_F(ShellExecuteTest, MissingFileIsNotFound)
{
    Register(".xyz", "xyzfile");
    Register("xyzfile\\shell\\open\\command", "/bin/echo %1");
    for (const std::string verb : {"open", "", "print"}) {
        for (const std::string& file : {dir + "/missing.xyz", dir + "/missing", std::string()}) {
            auto call = Call(verb, file);
            EXPECT_EQ(call.result, shell::SE_ERR_FNF) << verb << " " << file;
            EXPECT_TRUE(call.argv.empty());
        }
    }
}

TEST_F(ShellExecuteTest, ExecutableStartsWithParameters)
{
    std::string program = MakeFile(dir + "/tool.xyz", 0755);
    Register(".xyz", "xyzfile");
    Register("xyzfile\\shell\\open\\command", "/bin/echo %1");
    auto call = Call("open", program, R"(-a "b c" d\"e)", "/tmp");
    EXPECT_EQ(call.argv, (Argv{program, "-a", "b c", "d\"e"}));
    EXPECT_EQ(call.folder, "/tmp");
    EXPECT_EQ(call.parameters, R"(-a "b c" d\"e)");
    // A relative name is found in the folder and started by its full path.
    EXPECT_EQ(Call("", "tool.xyz", "", dir).argv, (Argv{program}));
}

TEST_F(ShellExecuteTest, StartsRegisteredCommandForReal)
{
    shell::SetStartingEnabled(true);
    std::string source = dir + "/source.cpy";
    WriteText(source, "copied bytes");
    Register(".cpy", "cpyfile");
    Register("cpyfile\\shell\\duplicate\\command", "\"/bin/cp\" \"%1\" copy.txt");
    // The command runs in the given folder, so the relative target lands there.
    EXPECT_GT(shell::ShellExecute(0, "duplicate", source, "", dir, shell::SW_HIDE), 32);
    ASSERT_TRUE(WaitForFile(dir + "/copy.txt"));
    for (int i = 0; i < 100 && ReadText(dir + "/copy.txt").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ReadText(dir + "/copy.txt"), "copied bytes");
}

TEST_F(ShellExecuteTest, RecordsCallsFromManyThreads)
{
    constexpr int threads = 4, perThread = 100;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                shell::ShellExecute(0, "open", "https://example.org/" + std::to_string(t * perThread + i), "", "", 1);
        });
    for (auto& w : workers)
        w.join();
    auto calls = shell::RecordedCalls();
    ASSERT_EQ(calls.size(), size_t{threads * perThread});
    std::vector<bool> seen(threads * perThread);
    for (const auto& call : calls)
        seen.at(std::stoul(call.file.substr(std::string("https://example.org/").size()))) = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
    EXPECT_EQ(shell::RecordedStarts().size(), size_t{threads * perThread});
}

class StartProcessTest : public ::testing::Test {
protected:
    void SetUp() override { shell::ClearRecordedCalls(); }
    void TearDown() override { shell::SetStartingEnabled(true); }
    TempDir dir;
};

TEST_F(StartProcessTest, ReportsProgramsThatCannotRun)
{
    std::string plain = MakeFile(dir.file("plain"), 0644);
    const std::pair<Argv, std::string> cases[] = {
        {{}, ""},
        {{"/nonexistent/program"}, ""},
        {{"vintrel-no-such-program-anywhere"}, ""},
        {{plain}, ""},
        {{dir.path()}, ""},
        {{"/bin/true"}, dir.file("no-such-folder")},
    };
    for (const auto& [argv, folder] : cases)
        EXPECT_FALSE(shell::StartProcess(argv, folder)) << (argv.empty() ? "(empty)" : argv[0]) << " in " << folder;
    EXPECT_TRUE(shell::StartProcess({"/bin/true"}, dir.path()));
}

TEST_F(StartProcessTest, RunsDetachedWithoutLeavingAChild)
{
    std::string target = dir.file("touched");
    ASSERT_TRUE(shell::StartProcess({"touch", target}));   // found on PATH
    ASSERT_TRUE(WaitForFile(target));
    // The program belongs to init now: there is nothing of ours to reap.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(StartProcessTest, StartingOffRecordsAndRunsNothing)
{
    shell::SetStartingEnabled(false);
    std::string target = dir.file("touched");
    EXPECT_TRUE(shell::StartProcess({"/usr/bin/touch", target}));
    EXPECT_TRUE(shell::StartProcess({"/nonexistent/program", "x"}));
    EXPECT_EQ(shell::RecordedStarts(), (std::vector<Argv>{{"/usr/bin/touch", target}, {"/nonexistent/program", "x"}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    struct stat st {};
    EXPECT_NE(::stat(target.c_str(), &st), 0);
}

TEST(DesktopFolder, ReadsUserDirsFile)
{
    struct Case {
        const char* what;
        std::optional<std::string> content;   // nullopt: no file
        std::string expected;                 // "~" stands for $HOME
        bool xdgConfigHome = true;            // else the file is in ~/.config
    };
    const Case cases[] = {
        {"no file", std::nullopt, "~/Desktop"},
        {"home relative", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "~/Schreibtisch"},
        {"among others",
         "# written by the user dirs tool\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
         "XDG_DESKTOP_DIR=\"$HOME/My Desk/\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n",
         "~/My Desk"},
        {"absolute", "XDG_DESKTOP_DIR=\"/srv/desk\"\n", "/srv/desk"},
        {"escaped quote", "XDG_DESKTOP_DIR=\"$HOME/a \\\"b\\\"\"\n", "~/a \"b\""},
        {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", "~"},
        {"no desktop line", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", "~/Desktop"},
        {"other variable", "XDG_DESKTOP_DIR=\"$HOMEWORK/x\"\n", "~/Desktop"},
        {"commented out", "# XDG_DESKTOP_DIR=\"/srv/desk\"\n", "~/Desktop"},
        {"in ~/.config", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", "~/Bureau", false},
    };
    for (const auto& c : cases) {
        TempDir home;
        std::string config = c.xdgConfigHome ? home.file("conf") : home.file(".config");
        ::mkdir(config.c_str(), 0755);
        if (c.content)
            WriteText(config + "/user-dirs.dirs", *c.content);
        ScopedEnv homeVar("HOME", home.path() + "/");
        ScopedEnv configVar("XDG_CONFIG_HOME", c.xdgConfigHome ? std::optional(config) : std::nullopt);
        std::string expected = c.expected[0] == '~' ? home.path() + c.expected.substr(1) : c.expected;
        EXPECT_EQ(shell::DesktopFolder(), expected) << c.what;
    }
}

class WallpaperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        shell::SetStartingEnabled(false);
        shell::ClearRecordedCalls();
    }
    void TearDown() override { shell::SetStartingEnabled(true); }
    IsolatedEnvironment env;
};

TEST_F(WallpaperTest, WritesRegistryValue)
{
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", std::nullopt);
    ASSERT_TRUE(shell::SetWallpaper("/pictures/first.jpg"));
    ASSERT_TRUE(shell::SetWallpaper("/pictures/second one.jpg"));
    session::Registry reg(session::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Control Panel\\Desktop"));
    EXPECT_EQ(reg.ReadString("Wallpaper"), "/pictures/second one.jpg");
    EXPECT_TRUE(shell::RecordedStarts().empty());
}

TEST_F(WallpaperTest, AppliesOnKnownDesktops)
{
    const std::string path = "/tmp/my pics/día #1.jpg";
    const std::string uri = "file:///tmp/my%20pics/d%C3%ADa%20%231.jpg";
    const Argv gnome = {"gsettings", "set", "org.gnome.desktop.background", "picture-uri", uri};
    const Argv gnomeDark = {"gsettings", "set", "org.gnome.desktop.background", "picture-uri-dark", uri};
    const std::pair<std::string, std::vector<Argv>> cases[] = {
        {"GNOME", {gnome, gnomeDark}},
        {"ubuntu:GNOME", {gnome, gnomeDark}},
        {"Unity", {gnome, gnomeDark}},
        {"X-Cinnamon", {{"gsettings", "set", "org.cinnamon.desktop.background", "picture-uri", uri}}},
        {"MATE", {{"gsettings", "set", "org.mate.background", "picture-filename", path}}},
        {"KDE", {{"plasma-apply-wallpaperimage", path}}},
        {"XFCE", {}},   // listing the image properties would start a program
        {"sway", {}},
        {"", {}},
    };
    for (const auto& [name, starts] : cases) {
        ScopedEnv desktop("XDG_CURRENT_DESKTOP", name);
        shell::ClearRecordedCalls();
        EXPECT_TRUE(shell::SetWallpaper(path));
        EXPECT_EQ(shell::RecordedStarts(), starts) << name;
    }
}

TEST_F(WallpaperTest, FailsWhenRegistryCannotBeWritten)
{
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
    ScopedEnv store("VINTREL_REGISTRY", env.dir().path());   // a folder where the file should be
    session::RegistryStore::ResetDefault();
    EXPECT_FALSE(shell::SetWallpaper("/pictures/a.jpg"));
    EXPECT_TRUE(shell::RecordedStarts().empty());
}
