// The session between real processes: atoms, registered messages, windows and
// messages, mutexes, the tray, the session folder's checks.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"
#include "platform/ui/session_link.h"
#include "tests/test_support.h"

using namespace session;
using testing_support::Child;
using testing_support::IsolatedEnvironment;

namespace {

std::string Peer() { return testing_support::TestBinaryDir() + "/session_peer"; }

// A peer process with a window of `className`, ready when constructed.
struct PeerWindow {
    Child child;
    HWND hwnd = 0;
    explicit PeerWindow(const std::string& className) : child({Peer(), "window", className})
    {
        std::string line = child.ReadLine();
        EXPECT_EQ(line.rfind("ready ", 0), 0u) << line;
        hwnd = static_cast<HWND>(std::stoul(line.substr(6)));
    }
};

struct SessionTest : ::testing::Test {
    IsolatedEnvironment env;
};

} // namespace

TEST_F(SessionTest, AtomPostedToAnotherProcessIsReadAndDeleted)
{
    PeerWindow a("X");
    HWND found = FindWindow("X");
    ASSERT_EQ(found, a.hwnd);
    ATOM atom = GlobalAddAtom("http://example.com/a b.jpg");
    ASSERT_NE(atom, 0);
    ASSERT_TRUE(PostMessage(found, RegisterWindowMessage("VintrelTest.Atom"), atom, 0));
    EXPECT_EQ(a.child.ReadLine(), "atom http://example.com/a b.jpg");
    char buffer[16] = "x";
    EXPECT_EQ(GlobalGetAtomName(atom, buffer, sizeof buffer), 0u);   // the receiver deleted it
    EXPECT_STREQ(buffer, "");
}

TEST_F(SessionTest, SendMessageWaitsForTheHandlersResult)
{
    PeerWindow a("X");
    auto start = std::chrono::steady_clock::now();
    std::int64_t result = SendMessage(a.hwnd, RegisterWindowMessage("VintrelTest.Slow"), 0, 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 4242);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_EQ(a.child.ReadLine(0), "slow handled");   // already said before SendMessage returned

    std::vector<std::uint8_t> block(66053);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7);
    std::uint64_t sum = 0;
    for (auto b : block)
        sum += b;
    EXPECT_EQ(SendCopyData(a.hwnd, 0, 0, block.data(), block.size()), 66053);
    EXPECT_EQ(a.child.ReadLine(), "copydata 66053 " + std::to_string(sum));
}

TEST_F(SessionTest, PostedBurstArrivesInOrder)
{
    PeerWindow a("X");
    unsigned seq = RegisterWindowMessage("VintrelTest.Seq");
    constexpr int kCount = 2000;
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(PostMessage(a.hwnd, seq, static_cast<std::uint64_t>(i), kCount));
    EXPECT_EQ(a.child.ReadLine(), "seq 2000 in order");
}

TEST_F(SessionTest, MessageToKilledProcessIsDropped)
{
    HWND hwnd;
    {
        PeerWindow a("X");
        hwnd = a.hwnd;
        ASSERT_EQ(FindWindow("X"), hwnd);
        a.child.Kill(SIGKILL);
        a.child.Wait();
    }
    EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 0);
    EXPECT_EQ(FindWindow("X"), 0u);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SessionTest, ShowAndCloseAnotherProcessesWindow)
{
    PeerWindow a("X");
    ASSERT_TRUE(ShowWindow(a.hwnd, SW_HIDE));
    for (int i = 0; i < 200 && EnumWindows().at(0).visible; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(EnumWindows().at(0).visible);
    EXPECT_EQ(FindWindow("X"), a.hwnd);   // hidden windows are found too
    ASSERT_TRUE(SetForegroundWindow(a.hwnd));
    EXPECT_EQ(GetForegroundWindow(), a.hwnd);
    ASSERT_TRUE(PostMessage(a.hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(a.child.ReadLine(), "closed");
    EXPECT_EQ(a.child.Wait(), 0);
    EXPECT_EQ(FindWindow("X"), 0u);
}

TEST_F(SessionTest, TenSimultaneousMutexCreatorsHaveOneFirst)
{
    std::vector<std::unique_ptr<Child>> peers;
    for (int i = 0; i < 10; ++i)
        peers.push_back(std::make_unique<Child>(std::vector<std::string>{Peer(), "mutex", "UnPas2vintrel"}));
    int first = 0;
    for (auto& p : peers) {
        std::string line = p->ReadLine();
        ASSERT_TRUE(line == "first" || line == "existed") << line;
        first += line == "first";
    }
    EXPECT_EQ(first, 1);
    for (auto& p : peers) {
        p->Kill(SIGKILL);
        p->Wait();
    }
    // Every holder died without letting go; the next creator is first.
    Child next({Peer(), "mutex", "UnPas2vintrel"});
    EXPECT_EQ(next.ReadLine(), "first");
    Child again({Peer(), "mutex", "UnPas2vintrel"});
    EXPECT_EQ(again.ReadLine(), "existed");
    Child other({Peer(), "mutex", "UnPas2other"});
    EXPECT_EQ(other.ReadLine(), "first");
}

TEST_F(SessionTest, AtomTable)
{
    const std::string s255(255, 'a'), s256(256, 'a');
    ATOM a = GlobalAddAtom("Vintrel");
    ASSERT_GE(a, 0xC000);
    struct Case {
        const char* what;
        ATOM atom;
        int size;
        const char* text;
        unsigned copied;
    };
    const Case cases[] = {
        {"whole text", a, 256, "Vintrel", 7},
        {"buffer too short keeps size-1 bytes", a, 4, "Vin", 3},
        {"buffer of one byte", a, 1, "", 0},
        {"atom 0", 0, 256, "", 0},
        {"unknown atom", 0xFFF0, 256, "", 0},
    };
    for (const auto& c : cases) {
        char buffer[300];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GlobalGetAtomName(c.atom, buffer, c.size), c.copied) << c.what;
        EXPECT_STREQ(buffer, c.text) << c.what;
    }
    EXPECT_EQ(GlobalAddAtom("VINTREL"), a);          // other letter case, same atom, count 2
    EXPECT_EQ(GlobalAddAtom(s256), 0);
    ATOM longest = GlobalAddAtom(s255);
    EXPECT_NE(longest, 0);
    EXPECT_NE(longest, a);
    EXPECT_EQ(GlobalDeleteAtom(a), 0);
    EXPECT_EQ(GlobalFindAtom("Vintrel"), a);         // count 1: still there
    EXPECT_EQ(GlobalDeleteAtom(a), 0);
    EXPECT_EQ(GlobalFindAtom("Vintrel"), 0);         // count 0: gone
    EXPECT_EQ(GlobalDeleteAtom(a), a);               // unknown now
}

TEST_F(SessionTest, RegisteredMessagesAreSharedAndCaseInsensitive)
{
    unsigned m = RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD");
    EXPECT_GE(m, 0xC000u);
    EXPECT_LE(m, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("vintrel.wm_newdownload"), m);
    EXPECT_NE(RegisterWindowMessage("Other"), m);
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

TEST_F(SessionTest, TrayIconClickIsPostedToItsOwner)
{
    ui::Application app;
    ui::Form form(app, "F", "TTrayOwner");
    ui::SessionLink link(app);
    app.CreateForm(form);
    std::vector<std::int64_t> clicks;
    form.OnMessage = [&](const Message& m, std::int64_t&) {
        if (m.msg == 1025 && m.wParam == 7)
            clicks.push_back(m.lParam);
        return m.msg == 1025;
    };
    NOTIFYICONDATA nid {};
    nid.cbSize = sizeof nid;
    nid.hWnd = form.Handle;
    nid.uID = 7;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = 1025;
    std::strcpy(nid.szTip, "Vintrel");
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &nid));
    auto icons = TrayIcons();
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].tip, "Vintrel");
    ASSERT_TRUE(ClickTrayIcon(form.Handle, 7, WM_RBUTTONDOWN));
    for (int i = 0; i < 200 && clicks.empty(); ++i) {
        app.ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(clicks, (std::vector<std::int64_t>{516}));
    ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &nid));
    EXPECT_TRUE(TrayIcons().empty());
}

TEST(SessionFolder, RefusedWhenUnsafe)
{
    testing_support::TempDir dir;
    std::string good = dir.file("good");
    CheckSessionFolder(good);   // created
    struct stat st {};
    ASSERT_EQ(::stat(good.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_THROW(CheckSessionFolder(open), SessionError);

    std::string link = dir.file("link");
    ASSERT_EQ(::symlink(good.c_str(), link.c_str()), 0);
    EXPECT_THROW(CheckSessionFolder(link), SessionError);

    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    std::string theirs = dir.file("theirs");
    ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    try {
        CheckSessionFolder(theirs);
        ADD_FAILURE() << "a folder of another user was accepted";
    } catch (const SessionError& e) {
        EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos) << e.what();
    }
}
