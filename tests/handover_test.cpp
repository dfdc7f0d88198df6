// Second starts, the tray, and addresses posted from outside, between real
// processes.
#include <gtest/gtest.h>

#include <csignal>

#include "app/TUnPas2.h"
#include "platform/session/registry.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::RunningProgram;
using testing_support::WriteText;

namespace {

struct Handover : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    void SetUp() override
    {
        WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
        WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
        WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
        WriteText(folder + "/files.ini", "");
    }
    bool KeyExists(const std::string& name)
    {
        return session::RegistryStore::Default().KeyExists(session::HKEY_CURRENT_USER, "Software\\UnPas2" + name);
    }
    // A later copy's whole life: it hands over, and ends by itself.
    int SecondStart(std::vector<std::string> args, const std::string& name = "vintrel")
    {
        args.insert(args.begin(), folder + "/" + name);
        testing_support::Child second(args);
        return second.Wait(20000);
    }
    static std::string Rows(RunningProgram& p) { return p.Ask({"rows", "vinForm1.ListView1"}); }
};

} // namespace

TEST(CommandLineBlockLayout, PackedLittleEndian)
{
    std::vector<std::string> args = {"/opt/vintrel", std::string(300, 'x'), "b"};
    auto block = CommandLineBlock::Build(true, args, "user");
    ASSERT_EQ(block.size(), 66053u);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 2);   // the count, little-endian
    EXPECT_EQ(block[2] | block[3] | block[4], 0);
    EXPECT_EQ(block[5], 12);  // entry 0: the program path
    EXPECT_EQ(std::string(block.begin() + 6, block.begin() + 18), "/opt/vintrel");
    EXPECT_EQ(block[5 + 256], 255);   // entry 1 cut to 255
    EXPECT_EQ(block[5 + 512], 1);
    EXPECT_EQ(block[5 + 768], 0);     // entries after n stay zero
    EXPECT_EQ(block[65797], 4);
    EXPECT_EQ(std::string(block.begin() + 65798, block.begin() + 65802), "user");
    std::vector<std::string> many(300, "a");
    auto full = CommandLineBlock::Build(false, many, "");
    EXPECT_EQ(full[1] | (full[2] << 8), 256);
}

TEST_F(Handover, SecondStartHandsItsCommandLineOverAndEnds)
{
    RunningProgram first(folder);
    ASSERT_TRUE(first.WaitReady());
    EXPECT_TRUE(KeyExists("vintrel"));
    EXPECT_EQ(SecondStart({"/pics/my", "cat.jpg"}), 0);
    std::string rows = Rows(first);
    EXPECT_NE(rows.find("0 0 0 \"my cat.jpg\" \"/pics/my cat.jpg\""), std::string::npos) << rows;
    // The row reached the file through the second start's own intake.
    EXPECT_EQ(ReadText(folder + "/files.ini"), "/pics/my cat.jpg\r\n");
    EXPECT_TRUE(KeyExists("vintrel"));   // ending a later copy leaves the record

    // 300 arguments: 256 arrive; a long one arrives cut to 255.
    std::vector<std::string> many(300, "p");
    many[0] = std::string(300, 'q');
    EXPECT_EQ(SecondStart(many), 0);
    rows = Rows(first);
    std::string expected = std::string(255, 'q');
    for (int i = 1; i < 256; ++i)
        expected += " p";
    EXPECT_NE(rows.find(expected + "\"\n"), std::string::npos);
    EXPECT_EQ(rows.find(expected + " p\""), std::string::npos);

    first.Ask({"close", "TvinForm1"});
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_FALSE(KeyExists("vintrel"));   // ending the first copy removes it
}

TEST_F(Handover, TwoProgramNamesDoNotSeeEachOther)
{
    RunningProgram first(folder);
    ASSERT_TRUE(first.WaitReady());
    RunningProgram other(folder, {}, "vintrel-b");
    ASSERT_TRUE(other.WaitReady());
    EXPECT_TRUE(KeyExists("vintrel"));
    EXPECT_TRUE(KeyExists("vintrel-b"));
    other.Ask({"close", "TvinForm1"});
    EXPECT_EQ(other.Wait(), 0);
    first.Ask({"close", "TvinForm1"});
    EXPECT_EQ(first.Wait(), 0);
}

TEST_F(Handover, KilledFirstCopyLeavesAStaleRecordTheNextFirstOverwrites)
{
    std::int32_t stale = 0;
    {
        RunningProgram first(folder);
        ASSERT_TRUE(first.WaitReady());
        session::Registry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\UnPas2vintrel", false));
        stale = reg.ReadInteger("vintrelform1");
        first.Kill(SIGKILL);
        first.Wait();
    }
    EXPECT_TRUE(KeyExists("vintrel"));
    // Without a record at all a second start still quits.
    RunningProgram next(folder);
    ASSERT_TRUE(next.WaitReady());   // a first copy: it runs
    session::Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\UnPas2vintrel", false));
    EXPECT_NE(reg.ReadInteger("vintrelform1"), stale);
    reg.CloseKey();
    session::RegistryStore::Default().DeleteKey(session::HKEY_CURRENT_USER, "Software\\UnPas2vintrel");
    EXPECT_EQ(SecondStart({"http://127.0.0.1:9/late.jpg"}), 0);   // no record: the hand-over goes nowhere
    EXPECT_EQ(ReadText(folder + "/files.ini"), "http://127.0.0.1:9/late.jpg\r\n");
    next.Ask({"close", "TvinForm1"});
    EXPECT_EQ(next.Wait(), 0);
}

TEST_F(Handover, PostedAddressesAreAddedInOrderAndTheirAtomsDeleted)
{
    RunningProgram first(folder);
    ASSERT_TRUE(first.WaitReady());
    unsigned msg = session::RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD");
    session::HWND main = session::FindWindow("TvinForm1");
    ASSERT_NE(main, 0u);
    session::ATOM a = session::GlobalAddAtom("http://127.0.0.1:9/one.jpg");
    session::ATOM b = session::GlobalAddAtom("http://127.0.0.1:9/two.jpg");
    ASSERT_TRUE(session::PostMessage(main, msg, a, 0));
    ASSERT_TRUE(session::PostMessage(main, msg, b, 0));
    // Odd ones: atom 0, a random number, a copy-data block of 10 bytes.
    ASSERT_TRUE(session::PostMessage(main, msg, 0, 0));
    ASSERT_TRUE(session::PostMessage(main, msg, 0xBEEF1234, 0));
    char ten[10] = {};
    session::Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\UnPas2vintrel", false));
    session::SendCopyData(static_cast<session::HWND>(reg.ReadInteger("vintrelUnPas2")), 0, 0, ten, sizeof ten);
    first.WaitReady();
    EXPECT_EQ(ReadText(folder + "/files.ini"), "http://127.0.0.1:9/one.jpg\r\nhttp://127.0.0.1:9/two.jpg\r\n");
    char buffer[256];
    EXPECT_EQ(session::GlobalGetAtomName(a, buffer, sizeof buffer), 0u);
    EXPECT_EQ(session::GlobalGetAtomName(b, buffer, sizeof buffer), 0u);
    std::string boxes = first.Ask({"boxes"});
    EXPECT_NE(boxes.find("An url starts with http://"), std::string::npos) << boxes;
    first.Ask({"close", "TvinForm1"});
    EXPECT_EQ(first.Wait(), 0);
}

TEST_F(Handover, AStartWithAnAddressGoesToTheTray)
{
    struct Case {
        std::string arg;
        std::string visible;
    };
    for (const Case& c : {Case{"http://127.0.0.1:9/a.jpg", "0"}, Case{"HTTP://127.0.0.1:9/a.jpg", "1"}}) {
        RunningProgram p(folder, {c.arg});
        ASSERT_TRUE(p.WaitReady());
        EXPECT_EQ(p.Get("vinForm1", "visible"), c.visible) << c.arg;
        EXPECT_NE(Rows(p).find("a.jpg"), std::string::npos);
        if (c.visible == "0") {
            // The tray icon brings it back.
            p.Ask({"trayclick", "left"});
            p.WaitReady();
            EXPECT_EQ(p.Get("vinForm1", "visible"), "1");
        }
        p.Ask({"close", "TvinForm1"});
        EXPECT_EQ(p.Wait(), 0);
    }
}
