#include "platform/session/registry.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace session;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

const std::string kTool = std::string(VINTREL_PROGRAM_DIR) + "/vintrel-reg";
const std::string kSqliteShell = "/usr/bin/sqlite3";
const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
const std::string kDone = "The operation completed successfully.\n";

// Sets or unsets (empty value) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return "(no RegistryError)";
}

// Runs vintrel-reg with both output streams caught.
struct ToolResult {
    int status = -1;
    std::string out, err;
};

ToolResult Reg(const TempDir& dir, const std::vector<std::string>& args)
{
    const std::string outFile = dir.file("tool.out"), errFile = dir.file("tool.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ToolResult r;
    if (rc != 0)
        return r;
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.out = ReadText(outFile);
    r.err = ReadText(errFile);
    return r;
}

// Waits for forked children; each reports success by exiting with 0.
void ExpectChildrenSucceed(const std::vector<pid_t>& children)
{
    for (pid_t pid : children) {
        int st = 0;
        ASSERT_EQ(::waitpid(pid, &st, 0), pid);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "child " << pid << " status " << st;
    }
}

// Forks `count` children that wait at a gate and then all run `body` at once.
std::vector<pid_t> ForkTogether(int count, const std::function<void(int)>& body)
{
    int gate[2];
    if (::pipe(gate) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            char c;
            while (::read(gate[0], &c, 1) < 0 && errno == EINTR) {}
            int rc = 0;
            try {
                body(i);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "child %d: %s\n", i, e.what());
                rc = 1;
            }
            ::_exit(rc);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);   // opens the gate
    return children;
}

class RegistryStoreTest : public testing::Test {
protected:
    TempDir dir;
    RegistryStore store{dir.file("registry.sqlite3")};
};
using RegistryClassTest = RegistryStoreTest;

// ---- store -----------------------------------------------------------------

TEST_F(RegistryStoreTest, NamesMatchInAnyAsciiCaseAndKeepTheirFirstSpelling)
{
    EXPECT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "Software\\MixedCase\\Inner"));
    EXPECT_FALSE(store.CreateKey(HKEY_CURRENT_USER, "SOFTWARE\\mixedcase\\INNER"));
    for (const char* spelling : {"software\\mixedcase\\inner", "SOFTWARE\\MIXEDCASE\\INNER",
                                 "\\Software\\MixedCase\\Inner\\", "Software\\\\MixedCase\\Inner"})
        EXPECT_TRUE(store.KeyExists(HKEY_CURRENT_USER, spelling)) << spelling;
    EXPECT_FALSE(store.KeyExists(HKEY_LOCAL_MACHINE, "Software\\MixedCase"));
    EXPECT_EQ(store.SubKeys(HKEY_CURRENT_USER, "SOFTWARE"), std::vector<std::string>{"MixedCase"});

    // Only ASCII letters fold.
    EXPECT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "Software\\\xC3\x84rger"));
    EXPECT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "Software\\\xC3\xA4rger"));

    const std::string key = "Software\\MixedCase";
    ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, key, {"Colour", REG_SZ, "red", 0}));
    ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, "software\\MIXEDCASE", {"COLOUR", REG_SZ, "blue", 0}));
    auto values = store.Values(HKEY_CURRENT_USER, key);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "Colour");
    EXPECT_EQ(values[0].text, "blue");
    auto v = store.GetValue(HKEY_CURRENT_USER, key, "colour");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->name, "Colour");
}

TEST_F(RegistryStoreTest, ValuesKeepTheirPlaceWhenOverwrittenAndNeedAnExistingKey)
{
    const std::string key = "Software\\Order";
    store.CreateKey(HKEY_CURRENT_USER, key);
    for (const char* name : {"b", "a", "", "c"})
        store.SetValue(HKEY_CURRENT_USER, key, {name, REG_SZ, std::string("text ") + name, 0});
    store.SetValue(HKEY_CURRENT_USER, key, {"B", REG_DWORD, "", 0xdeadbeef});

    auto values = store.Values(HKEY_CURRENT_USER, key);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].name, "b");
    EXPECT_EQ(values[0].type, REG_DWORD);
    EXPECT_EQ(values[0].number, 0xdeadbeefu);
    EXPECT_EQ(values[1].name, "a");
    EXPECT_EQ(values[2].name, "");
    EXPECT_EQ(values[2].text, "text ");
    EXPECT_EQ(values[3].name, "c");

    EXPECT_TRUE(store.DeleteValue(HKEY_CURRENT_USER, key, "A"));
    EXPECT_FALSE(store.DeleteValue(HKEY_CURRENT_USER, key, "a"));
    EXPECT_FALSE(store.GetValue(HKEY_CURRENT_USER, key, "a"));

    EXPECT_FALSE(store.SetValue(HKEY_CURRENT_USER, "Software\\Missing", {"x", REG_SZ, "y", 0}));
    EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "Software\\Missing"));
    EXPECT_TRUE(store.Values(HKEY_CURRENT_USER, "Software\\Missing").empty());
}

TEST_F(RegistryStoreTest, DeleteKeyRemovesTheWholeSubtreeAndNothingElse)
{
    const auto cu = HKEY_CURRENT_USER;
    for (const char* k : {"A\\B\\C", "A\\B2", "AB", "Other\\A"})
        store.CreateKey(cu, k);
    std::string deep = "A\\Deep";
    for (int i = 0; i < 60; ++i)
        deep += "\\" + std::to_string(i);
    store.CreateKey(cu, deep);
    for (const char* k : {"A", "A\\B\\C", "AB", "Other\\A"})
        store.SetValue(cu, k, {"v", REG_SZ, k, 0});

    EXPECT_TRUE(store.DeleteKey(cu, "a"));
    for (const std::string& k : {std::string("A"), std::string("A\\B"), std::string("A\\B\\C"), std::string("A\\B2"), deep})
        EXPECT_FALSE(store.KeyExists(cu, k)) << k;
    EXPECT_EQ(store.SubKeys(cu, ""), (std::vector<std::string>{"AB", "Other"}));
    EXPECT_EQ(store.GetValue(cu, "AB", "v")->text, "AB");
    EXPECT_EQ(store.GetValue(cu, "Other\\A", "v")->text, "Other\\A");

    EXPECT_FALSE(store.DeleteKey(cu, "A"));
    store.CreateKey(cu, "A\\B\\C");
    EXPECT_TRUE(store.Values(cu, "A").empty());
    EXPECT_TRUE(store.Values(cu, "A\\B\\C").empty());

    EXPECT_THROW(store.DeleteKey(cu, "\\"), RegistryError);
    EXPECT_TRUE(store.KeyExists(cu, "AB"));

    // Nothing of the deleted subtree is left behind out of reach.
    if (::access(kSqliteShell.c_str(), X_OK) == 0) {
        auto check = testing_support::Run({kSqliteShell, dir.file("registry.sqlite3"), "PRAGMA foreign_key_check"});
        EXPECT_EQ(check.status, 0);
        EXPECT_EQ(check.out, "");
    }
}

struct SeedCase {
    const char* label;
    bool executableOnPath;   // a runnable xdg-open in the second PATH folder
};

TEST(RegistryStoreSeed, NewStoreHasTheDesktopFileAssociations)
{
    for (const SeedCase& c : {SeedCase{"xdg-open on PATH", true}, SeedCase{"no xdg-open on PATH", false}}) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        // The first folder has an xdg-open that cannot be run; it must be passed over.
        ::mkdir(dir.file("bin1").c_str(), 0700);
        ::mkdir(dir.file("bin2").c_str(), 0700);
        WriteText(dir.file("bin1/xdg-open"), "#!/bin/sh\n");
        ::chmod(dir.file("bin1/xdg-open").c_str(), 0600);
        if (c.executableOnPath) {
            WriteText(dir.file("bin2/xdg-open"), "#!/bin/sh\n");
            ::chmod(dir.file("bin2/xdg-open").c_str(), 0700);
        }
        ScopedEnv path("PATH", dir.file("bin1") + ":" + dir.file("bin2"));
        RegistryStore store(dir.file("registry.sqlite3"));
        Registry reg(store, HKEY_CLASSES_ROOT);

        for (auto [ext, type] : {std::pair{".jpg", "jpegfile"}, {".jpeg", "jpegfile"}, {".bmp", "Paint.Picture"},
                                 {".htm", "htmlfile"}, {".html", "htmlfile"}}) {
            ASSERT_TRUE(reg.OpenKey(std::string("\\") + ext, false)) << ext;
            EXPECT_EQ(reg.ReadString(""), type) << ext;
        }
        ASSERT_TRUE(reg.OpenKey("\\htmlfile\\shell\\open\\command", false));
        std::string opener = c.executableOnPath ? dir.file("bin2/xdg-open") : "/usr/bin/xdg-open";
        EXPECT_EQ(reg.ReadString(""), "\"" + opener + "\" %1");
    }
}

TEST(RegistryStoreSeed, OnlyANewFileIsSeeded)
{
    TempDir dir;
    const std::string path = dir.file("registry.sqlite3");
    {
        RegistryStore store(path);
        store.SetValue(HKEY_CLASSES_ROOT, ".jpg", {"", REG_SZ, "MyViewer.Image", 0});
        store.DeleteKey(HKEY_CLASSES_ROOT, ".bmp");
    }
    RegistryStore again(path);
    EXPECT_EQ(again.GetValue(HKEY_CLASSES_ROOT, ".jpg", "")->text, "MyViewer.Image");
    EXPECT_FALSE(again.KeyExists(HKEY_CLASSES_ROOT, ".bmp"));
}

// A missing file and an empty one are both new stores: seeded, owner only.
TEST(RegistryStoreFile, NewStoreIsCreatedWithItsFolderForTheOwnerOnly)
{
    for (bool emptyFileFirst : {false, true}) {
        SCOPED_TRACE(emptyFileFirst ? "empty file" : "no file");
        TempDir dir;
        const std::string path = dir.file("deeper/config/registry.sqlite3");
        mode_t old = ::umask(0);
        if (emptyFileFirst) {
            ::mkdir(dir.file("deeper").c_str(), 0755);
            ::mkdir(dir.file("deeper/config").c_str(), 0755);
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
        }
        {
            RegistryStore store(path);
            store.CreateKey(HKEY_CURRENT_USER, "Software\\Vintrel");
        }
        ::umask(old);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        RegistryStore again(path);
        EXPECT_TRUE(again.KeyExists(HKEY_CURRENT_USER, "software\\vintrel"));
        EXPECT_TRUE(again.KeyExists(HKEY_CLASSES_ROOT, ".jpg"));
    }
}

TEST(RegistryStoreFile, PathComesFromTheEnvironment)
{
    struct Case {
        std::string registry, xdg, home, expected;
    };
    const Case cases[] = {
        {"/r/mine.sqlite3", "/x", "/h", "/r/mine.sqlite3"},
        {"", "/x", "/h", "/x/vintrel/registry.sqlite3"},
        {"", "", "/h", "/h/.config/vintrel/registry.sqlite3"},
        {"", "relative/config", "/h", "/h/.config/vintrel/registry.sqlite3"},
    };
    for (const auto& c : cases) {
        ScopedEnv r("VINTREL_REGISTRY", c.registry), x("XDG_CONFIG_HOME", c.xdg), h("HOME", c.home);
        EXPECT_EQ(RegistryPath(), c.expected);
    }
}

TEST(RegistryStoreFile, CorruptOrForeignFileIsReportedAndLeftAlone)
{
    std::string noise;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 8192; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise += static_cast<char>(seed >> 24);
    }
    struct Case {
        const char* label;
        std::string bytes;   // empty: a SQLite database of another program
    };
    const Case cases[] = {
        {"random bytes", noise},
        {"text", "this is not a database\n"},
        {"database header over garbage", std::string("SQLite format 3\0", 16) + std::string(4080, '\xA5')},
        {"another program's database", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        IsolatedEnvironment env;
        const std::string path = env.dir().file("registry.sqlite3");
        if (c.bytes.empty()) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES ('keep me')", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else {
            WriteText(path, c.bytes);
        }
        const std::string before = ReadText(path);

        std::string message = ErrorOf([&] { RegistryStore store(path); });
        EXPECT_NE(message.find("registry store " + path + " cannot be read: "), std::string::npos) << message;
        EXPECT_THROW(Registry reg, RegistryError);

        auto r = Reg(env.dir(), {"add", "HKCU\\Software\\Vintrel", "/v", "x", "/d", "y"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("ERROR: registry store " + path + " cannot be read: ", 0), 0u) << r.err;

        EXPECT_TRUE(ReadText(path) == before) << "the file was changed";
    }
}

TEST(RegistryStoreFile, FolderInPlaceOfTheStoreIsReported)
{
    TempDir dir;
    const std::string path = dir.file("registry.sqlite3");
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    std::string message = ErrorOf([&] { RegistryStore store(path); });
    EXPECT_NE(message.find(path), std::string::npos) << message;
}

// Several processes open a store that does not exist yet at the same moment
// (so they race to create and seed it) and then all write to it.
TEST(RegistryStoreConcurrency, ProcessesCreatingAndWritingOneStoreLoseNothing)
{
    TempDir dir;
    const std::string path = dir.file("registry.sqlite3");
    constexpr int kProcesses = 4, kWrites = 40;
    auto children = ForkTogether(kProcesses, [&](int p) {
        RegistryStore store(path);
        Registry own(store);
        own.OpenKey("\\Software\\Race\\P" + std::to_string(p), true);
        for (int i = 0; i < kWrites; ++i) {
            own.WriteInteger("n" + std::to_string(i), p * 1000 + i);
            store.CreateKey(HKEY_CURRENT_USER, "Software\\Race\\Shared");
            store.SetValue(HKEY_CURRENT_USER, "Software\\Race\\Shared",
                           {"p" + std::to_string(p) + "_" + std::to_string(i), REG_SZ, "x", 0});
        }
    });
    ExpectChildrenSucceed(children);

    RegistryStore store(path);
    Registry reg(store);
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_TRUE(reg.OpenKey("\\Software\\Race\\P" + std::to_string(p), false));
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(reg.ReadInteger("n" + std::to_string(i)), p * 1000 + i);
    }
    EXPECT_EQ(store.Values(HKEY_CURRENT_USER, "Software\\Race\\Shared").size(), size_t{kProcesses * kWrites});
    EXPECT_EQ(store.SubKeys(HKEY_CLASSES_ROOT, ""),
              (std::vector<std::string>{".jpg", ".jpeg", ".bmp", ".htm", ".html", "htmlfile"}));
    EXPECT_EQ(store.Values(HKEY_CLASSES_ROOT, ".jpg").size(), 1u);

    if (::access(kSqliteShell.c_str(), X_OK) == 0) {
        EXPECT_EQ(testing_support::Run({kSqliteShell, path, "PRAGMA integrity_check"}).out, "ok\n");
    }
}

// ---- the Registry object -------------------------------------------------------

TEST_F(RegistryClassTest, OpenKeyTakesAbsoluteAndRelativePaths)
{
    Registry reg(store);
    EXPECT_FALSE(reg.OpenKey("Software\\Vintrel", false));
    EXPECT_FALSE(reg.HasOpenKey());
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vintrel", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Vintrel");
    ASSERT_TRUE(reg.OpenKey("Sub\\Deeper", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Vintrel\\Sub\\Deeper");
    EXPECT_TRUE(store.KeyExists(HKEY_CURRENT_USER, "Software\\Vintrel\\Sub\\Deeper"));

    EXPECT_FALSE(reg.OpenKey("Missing", false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Vintrel\\Sub\\Deeper");

    ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE"));
    EXPECT_TRUE(reg.KeyExists("Vintrel\\Sub"));
    EXPECT_TRUE(reg.KeyExists("\\Software\\Vintrel"));
    EXPECT_FALSE(reg.KeyExists("\\Vintrel"));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Vintrel"});

    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_EQ(reg.CurrentPath(), "");
    EXPECT_FALSE(reg.OpenKey("\\Software\\Vintrel", false));
}

TEST_F(RegistryClassTest, ReadsWriteAndCheckTypes)
{
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vintrel", true));
    reg.WriteString("", "the default");
    reg.WriteString("Name", "Ann");
    reg.WriteInteger("Count", -5);

    EXPECT_EQ(reg.ReadString(""), "the default");
    EXPECT_EQ(reg.ReadString("NAME"), "Ann");
    EXPECT_EQ(reg.ReadInteger("count"), -5);
    EXPECT_EQ(store.GetValue(HKEY_CURRENT_USER, "Software\\Vintrel", "Count")->number, 0xfffffffbu);
    EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"", "Name", "Count"}));

    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_FALSE(reg.ValueExists("Missing"));
    EXPECT_TRUE(reg.ValueExists("name"));
    EXPECT_NE(ErrorOf([&] { reg.ReadString("Count"); }).find("Invalid data type for 'Count'"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { reg.ReadInteger("Name"); }).find("Invalid data type for 'Name'"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { reg.ReadInteger("Missing"); }).find("'Missing'"), std::string::npos);

    // Writing another type replaces the value.
    reg.WriteInteger("Name", 7);
    EXPECT_THROW(reg.ReadString("Name"), RegistryError);
    EXPECT_TRUE(reg.DeleteValue("name"));
    EXPECT_FALSE(reg.DeleteValue("name"));
    EXPECT_EQ(reg.ReadString("Name"), "");
}

TEST_F(RegistryClassTest, WritesNeedAnOpenKeyThatStillExists)
{
    Registry reg(store);
    EXPECT_THROW(reg.WriteString("Name", "x"), RegistryError);
    EXPECT_THROW(reg.WriteInteger("Count", 1), RegistryError);
    EXPECT_TRUE(store.Values(HKEY_CURRENT_USER, "").empty());
    EXPECT_EQ(reg.ReadString("Name"), "");
    EXPECT_THROW(reg.ReadInteger("Count"), RegistryError);

    ASSERT_TRUE(reg.OpenKey("\\Software\\Gone", true));
    store.DeleteKey(HKEY_CURRENT_USER, "Software\\Gone");
    EXPECT_THROW(reg.WriteString("Name", "x"), RegistryError);
    EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "Software\\Gone"));
}

TEST_F(RegistryClassTest, DeleteKeyTakesSubkeysAlongAndReportsAMissingKey)
{
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vintrel\\Windows\\Main", true));
    reg.WriteInteger("Left", 10);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vintrel", false));
    EXPECT_TRUE(reg.CreateKey("Recent"));
    EXPECT_TRUE(reg.CreateKey("recent"));

    EXPECT_TRUE(reg.DeleteKey("WINDOWS"));
    EXPECT_FALSE(reg.KeyExists("Windows\\Main"));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Recent"});
    EXPECT_FALSE(reg.DeleteKey("Windows"));
    EXPECT_FALSE(reg.DeleteKey("\\Nowhere\\At\\All"));
}

TEST(RegistryDefaultStore, FollowsRegistryPathAndIsReopenedAfterReset)
{
    IsolatedEnvironment env;
    const std::string first = env.dir().file("registry.sqlite3");
    {
        Registry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Vintrel", true));
        reg.WriteString("Where", "first");
    }
    EXPECT_EQ(RegistryStore::Default().Path(), first);
    EXPECT_EQ(RegistryStore(first).GetValue(HKEY_CURRENT_USER, "Software\\Vintrel", "Where")->text, "first");

    const std::string second = env.dir().file("other/registry.sqlite3");
    ::setenv("VINTREL_REGISTRY", second.c_str(), 1);
    EXPECT_EQ(RegistryStore::Default().Path(), first);
    RegistryStore::ResetDefault();
    EXPECT_EQ(RegistryStore::Default().Path(), second);
    EXPECT_FALSE(Registry().KeyExists("\\Software\\Vintrel"));
}

// ---- vintrel-reg ---------------------------------------------------------------

TEST(RegistryTool, AddQueryDeleteRoundTrip)
{
    IsolatedEnvironment env;
    const TempDir& dir = env.dir();
    const std::string key = "HKCU\\Software\\UnPas2vintrel";
    for (const std::vector<std::string>& add : {
             std::vector<std::string>{"add", key, "/v", "Greeting", "/d", "hello world", "/f"},
             {"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "0x1F"},
             {"add", "hkey_current_user\\software\\unpas2vintrel\\Child"},
             {"ADD", key, "/ve", "/d", "\"/usr/bin/viewer\" %1"}}) {
        auto r = Reg(dir, add);
        EXPECT_EQ(r.status, 0) << add[2] << r.err;
        EXPECT_EQ(r.out, kDone);
    }

    RegistryStore store(RegistryPath());
    const auto cu = HKEY_CURRENT_USER;
    EXPECT_EQ(store.GetValue(cu, "Software\\UnPas2vintrel", "Greeting")->text, "hello world");
    EXPECT_EQ(store.GetValue(cu, "Software\\UnPas2vintrel", "Count")->number, 31u);
    EXPECT_EQ(store.GetValue(cu, "Software\\UnPas2vintrel", "")->text, "\"/usr/bin/viewer\" %1");
    EXPECT_EQ(store.SubKeys(cu, "Software\\UnPas2vintrel"), std::vector<std::string>{"Child"});

    const std::string shown = "HKEY_CURRENT_USER\\Software\\UnPas2vintrel";
    auto q = Reg(dir, {"query", key});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out, "\n" + shown + "\n"
                     "    Greeting    REG_SZ    hello world\n"
                     "    Count    REG_DWORD    0x1f\n"
                     "    (Default)    REG_SZ    \"/usr/bin/viewer\" %1\n"
                     "\n" + shown + "\\Child\n");
    EXPECT_EQ(Reg(dir, {"query", key, "/v", "COUNT"}).out, "\n" + shown + "\n    Count    REG_DWORD    0x1f\n");
    EXPECT_EQ(Reg(dir, {"query", key, "/ve"}).out, "\n" + shown + "\n    (Default)    REG_SZ    \"/usr/bin/viewer\" %1\n");

    auto dv = Reg(dir, {"delete", key, "/v", "greeting", "/f"});
    EXPECT_EQ(dv.status, 0);
    EXPECT_EQ(dv.out, kDone);
    EXPECT_FALSE(store.GetValue(cu, "Software\\UnPas2vintrel", "Greeting"));
    EXPECT_TRUE(store.GetValue(cu, "Software\\UnPas2vintrel", "Count"));

    auto dk = Reg(dir, {"delete", key, "/f"});
    EXPECT_EQ(dk.status, 0);
    EXPECT_EQ(dk.out, kDone);
    EXPECT_FALSE(store.KeyExists(cu, "Software\\UnPas2vintrel"));
    EXPECT_FALSE(store.KeyExists(cu, "Software\\UnPas2vintrel\\Child"));
    EXPECT_TRUE(store.KeyExists(cu, "Software"));
}

TEST(RegistryTool, RecursiveQueryListsEveryKeyBelow)
{
    IsolatedEnvironment env;
    {
        RegistryStore store(RegistryPath());
        const auto lm = HKEY_LOCAL_MACHINE;
        store.CreateKey(lm, "Software\\Tree\\A\\Deep");
        store.CreateKey(lm, "Software\\Tree\\B");
        store.SetValue(lm, "Software\\Tree", {"v", REG_DWORD, "", 1});
        store.SetValue(lm, "Software\\Tree\\A", {"a", REG_SZ, "x", 0});
        store.SetValue(lm, "Software\\Tree\\B", {"A", REG_DWORD, "", 255});
    }
    const std::string t = "HKEY_LOCAL_MACHINE\\Software\\Tree";
    auto r = Reg(env.dir(), {"query", "HKLM\\Software\\Tree", "/s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n" + t + "\n    v    REG_DWORD    0x1\n"
                     "\n" + t + "\\A\n    a    REG_SZ    x\n"
                     "\n" + t + "\\A\\Deep\n"
                     "\n" + t + "\\B\n    A    REG_DWORD    0xff\n");

    // With /v only the keys holding that value are listed.
    r = Reg(env.dir(), {"query", "HKLM\\Software\\Tree", "/v", "a", "/s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n" + t + "\\A\n    a    REG_SZ    x\n\n" + t + "\\B\n    A    REG_DWORD    0xff\n");
}

TEST(RegistryTool, MissingKeyOrValueFailsWithTheSystemMessage)
{
    IsolatedEnvironment env;
    RegistryStore(RegistryPath()).CreateKey(HKEY_CURRENT_USER, "Software\\Present");
    const std::vector<std::vector<std::string>> cases = {
        {"query", "HKCU\\Software\\Absent"},
        {"query", "HKCU\\Software\\Present", "/v", "nothing"},
        {"query", "HKCU\\Software\\Present", "/ve"},
        {"query", "HKCU\\Software\\Present", "/v", "nothing", "/s"},
        {"delete", "HKCU\\Software\\Absent", "/f"},
        {"delete", "HKCU\\Software\\Present", "/v", "nothing", "/f"},
        {"delete", "HKCU\\Software\\Absent", "/ve"},
    };
    for (const auto& args : cases) {
        auto r = Reg(env.dir(), args);
        EXPECT_EQ(r.status, 1) << args[0] << " " << args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, kNotFound);
    }
}

TEST(RegistryTool, BadUsageIsRefusedBeforeTouchingTheStore)
{
    IsolatedEnvironment env;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"query"},
        {"frob", "HKCU\\X"},
        {"query", "HKXX\\X"},
        {"query", "X"},
        {"query", "HKCU\\X", "/v"},
        {"query", "HKCU\\X", "/d", "1"},
        {"add", "HKCU\\X", "stray"},
        {"add", "HKCU\\X", "/v", "a", "/ve"},
        {"add", "HKCU\\X", "/t", "REG_BINARY", "/d", "00"},
        {"add", "HKCU\\X", "/v", "n", "/t", "REG_DWORD", "/d", "12x"},
        {"add", "HKCU\\X", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", "HKCU\\X", "/v", "n", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKCU\\X", "/v", "n", "/t", "REG_DWORD", "/d", "0x"},
        {"delete", "HKCU\\X", "/s"},
    };
    for (const auto& args : cases) {
        auto r = Reg(env.dir(), args);
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << shown << r.err;
    }
    EXPECT_FALSE(RegistryStore(RegistryPath()).KeyExists(HKEY_CURRENT_USER, "X"));
}

TEST(RegistryTool, DwordDataIsDecimalOrHex)
{
    IsolatedEnvironment env;
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"0", 0}, {"42", 42}, {"0x1f", 31}, {"0XFF", 255}, {"4294967295", 0xffffffffu}, {"0xFFFFFFFF", 0xffffffffu},
    };
    RegistryStore store(RegistryPath());
    for (auto [data, number] : cases) {
        auto r = Reg(env.dir(), {"add", "HKCU\\Numbers", "/v", "n", "/t", "reg_dword", "/d", data});
        ASSERT_EQ(r.status, 0) << data << r.err;
        auto v = store.GetValue(HKEY_CURRENT_USER, "Numbers", "n");
        ASSERT_TRUE(v && v->type == REG_DWORD) << data;
        EXPECT_EQ(v->number, number) << data;
    }
}

TEST(RegistryTool, ConcurrentAddsFromSeveralProcessesAllLand)
{
    IsolatedEnvironment env;   // the store does not exist yet: the first adds race to create it
    constexpr int kProcesses = 4, kAdds = 8;
    auto children = ForkTogether(kProcesses, [](int p) {
        for (int i = 0; i < kAdds; ++i) {
            auto r = testing_support::Run({kTool, "add", "HKCU\\Software\\Race", "/v",
                                           "p" + std::to_string(p) + "_" + std::to_string(i), "/t", "REG_DWORD",
                                           "/d", std::to_string(p * 100 + i)});
            if (r.status != 0 || r.out != kDone)
                throw std::runtime_error("vintrel-reg add failed with status " + std::to_string(r.status));
        }
    });
    ExpectChildrenSucceed(children);

    RegistryStore store(RegistryPath());
    auto values = store.Values(HKEY_CURRENT_USER, "Software\\Race");
    EXPECT_EQ(values.size(), size_t{kProcesses * kAdds});
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kAdds; ++i) {
            auto v = store.GetValue(HKEY_CURRENT_USER, "Software\\Race", "p" + std::to_string(p) + "_" + std::to_string(i));
            ASSERT_TRUE(v);
            EXPECT_EQ(v->number, static_cast<std::uint32_t>(p * 100 + i));
        }
    EXPECT_EQ(store.Values(HKEY_CLASSES_ROOT, ".html").size(), 1u);
}

} // namespace
