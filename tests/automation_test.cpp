// The automation channel: the server driven in-process through a real socket
// (a client thread talks while this thread runs the loop), the words of a
// line, vintrel-auto, and the running program driven from outside.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/automation/server.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"
#include "tests/test_support.h"

using namespace ui;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

const std::string kAuto = std::string(VINTREL_PROGRAM_DIR) + "/vintrel-auto";
constexpr auto kPatience = std::chrono::seconds(15);

sockaddr_un AddressOf(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), std::min(path.size() + 1, sizeof a.sun_path - 1));
    return a;
}

// A listening socket that never answers, as a hung program's would be.
int ListenAt(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = AddressOf(path);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
        throw std::runtime_error("cannot listen at " + path);
    return fd;
}

// The client end of the channel, every read within a time limit.
class Connection {
public:
    explicit Connection(const std::string& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un a = AddressOf(path);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot connect to " + path);
    }
    ~Connection() { ::close(m_fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Write(const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("the server stopped reading");
            done += static_cast<size_t>(n);
        }
    }

    // The next line, or "<closed>" / "<no reply>".
    std::string Line()
    {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        for (;;) {
            if (auto end = m_buffer.find('\n'); end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || ::poll(&p, 1, 100) < 0)
                return "<no reply>";
            if (!p.revents)
                continue;
            char buf[4096];
            ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return "<closed>";
            m_buffer.append(buf, static_cast<size_t>(n));
        }
    }

    // Sends one line; the reply, a listing's lines joined with '\n'.
    std::string Ask(const std::string& line)
    {
        Write(line + "\n");
        std::string reply = Line();
        auto space = line.find(' ');
        if (reply == "OK" && automation::IsListing(line.substr(0, space)))
            for (std::string l; l != "." && l != "<closed>" && l != "<no reply>";)
                reply += "\n" + (l = Line());
        return reply;
    }

private:
    int m_fd;
    std::string m_buffer;
};

struct Exchange {
    std::string request;
    std::string reply;   // "ERR" alone: any error
};

void ExpectReplies(Connection& c, const std::vector<Exchange>& table)
{
    for (const auto& [request, reply] : table) {
        std::string got = c.Ask(request);
        if (reply == "ERR")
            EXPECT_TRUE(got.starts_with("ERR ")) << request << " -> " << got;
        else
            EXPECT_EQ(got, reply) << request;
    }
}

} // namespace

// ---- the words of a line ------------------------------------------------------------

TEST(AutomationWords, QuotedWordsComeBackAsTheyWere)
{
    for (std::string w : {"plain", "", "two words", "say \"hi\"", "C:\\dir\\", "line\nbreak\r\tend", "caf\xc3\xa9",
                          "a|b", "\"", "\\n"}) {
        std::string line = "set " + automation::Quote(w) + " " + automation::Quote(w);
        EXPECT_EQ(line.find('\n'), std::string::npos) << w;
        EXPECT_EQ(automation::SplitWords(line), (std::vector<std::string>{"set", w, w})) << line;
    }
    EXPECT_EQ(automation::Quote("plain"), "plain");
}

TEST(AutomationWords, LinesSplitAtBlanksAndBadQuotingIsRefused)
{
    EXPECT_EQ(automation::SplitWords(" get\t \"a b\"  \"\" x\\y "),
              (std::vector<std::string>{"get", "a b", "", "x\\y"}));
    EXPECT_TRUE(automation::SplitWords("   ").empty());
    for (const char* bad : {"\"open", "a\"b", "\"a\"b", "\"\\q\"", "\"ends\\", "x \"y"})
        EXPECT_THROW(automation::SplitWords(bad), std::invalid_argument) << bad;
}

// ---- the server in-process ------------------------------------------------------------

namespace {

struct AutomationChannel : ::testing::Test {
    IsolatedEnvironment env;
    Application app;
    Form main{app, "Main", "TMain"};
    Form tool{app, "Tool", "TTool"};
    Button save{&main, "Save"};
    Button fail{&main, "Fail"};
    Edit name{&main, "Name"};
    CheckBox wrap{&main, "Wrap"};
    Panel panel{&main, "Panel"};
    ComboBox kind{&panel, "Kind"};
    ListView list{&panel, "List"};
    PopupMenu menu{main, "ListMenu"};
    Button ask{&tool, "Ask"};
    std::vector<std::string> events;
    std::unique_ptr<automation::Server> server;

    void SetUp() override
    {
        session::Session::ResetCurrent();
        app.Title = "Test";
        main.SetCaption("Main window");
        tool.SetCaption("Tool window");
        save.SetCaption("Save");
        save.SetBounds(8, 8, 75, 25);
        fail.SetCaption("Fail");
        wrap.SetCaption("Wrap lines");
        save.OnClick = [this] { events.push_back("save"); };
        fail.OnClick = [] { throw std::runtime_error("disk full"); };
        name.OnChange = [this] { events.push_back("name: " + name.Text()); };
        wrap.OnClick = [this] { events.push_back(std::string("wrap ") + (wrap.Checked() ? "1" : "0")); };
        kind.SetItems({"Audio", "Video", "Other"});
        kind.OnSelect = [this] { events.push_back("kind " + std::to_string(kind.ItemIndex())); };
        list.MultiSelect = true;
        list.AddColumn("Title", 100);
        list.AddColumn("Size", 50);
        list.AddItem("a.mp3", {"3 MB"});
        list.AddItem("b mp3", {"4 MB"});
        list.AddItem("c.mp3");
        list.OnSelectItem = [this](ListItem& item, bool on) {
            events.push_back("row " + std::to_string(item.Index()) + (on ? " on" : " off"));
        };
        list.OnColumnClick = [this](int column) { events.push_back("column " + std::to_string(column)); };
        menu.Add("mnuSort", "Sort").OnClick = [this] { events.push_back("sort"); };
        menu.Add("mnuView", "View").Add("mnuDetails", "Details").SetEnabled(false);
        menu.OnPopup = [this] { events.push_back("popup"); };
        tool.OnShow = [this] { events.push_back("tool shown"); };
        app.CreateForm(main);
        app.CreateForm(tool);
        main.Show();
        server = std::make_unique<automation::Server>(app, session::SessionFolderPath(), "/opt/vintrel");
    }

    void TearDown() override
    {
        server.reset();
        session::MessagePort::ResetCurrent();
        session::Session::ResetCurrent();
    }

    // Runs `work` on another thread while this thread runs the loop.
    void WhileLoopRuns(const std::function<void()>& work)
    {
        std::atomic<bool> done{false};
        std::thread t([&] {
            try {
                work();
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
            done = true;
            app.Post([] {});
        });
        while (!done)
            app.HandleMessage();
        t.join();
    }

    void Talk(const std::function<void(Connection&)>& client)
    {
        WhileLoopRuns([&] {
            Connection c(server->SocketPath());
            client(c);
        });
    }
};

} // namespace

TEST_F(AutomationChannel, ListsWindowsControlsAndMenus)
{
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"windows", "OK\nMain TMain 1 1 \"Main window\"\nTool TTool 0 0 \"Tool window\"\n."},
            {"controls main",
             "OK\n"
             "control Save TButton Main 1 1 8 8 75 25 Save\n"
             "control Fail TButton Main 1 1 0 0 0 0 Fail\n"
             "control Name TEdit Main 1 1 0 0 0 0 \"\"\n"
             "control Wrap TCheckBox Main 1 1 0 0 0 0 \"Wrap lines\"\n"
             "control Panel TPanel Main 1 1 0 0 0 0 \"\"\n"
             "control Kind TComboBox Panel 1 1 0 0 0 0 \"\"\n"
             "control List TListView Panel 1 1 0 0 0 0 \"\"\n"
             "menu ListMenu ListMenu 1 1 \"\"\n"
             "menu mnuSort ListMenu/mnuSort 1 1 Sort\n"
             "menu mnuView ListMenu/mnuView 1 1 View\n"
             "menu mnuDetails ListMenu/mnuView/mnuDetails 0 1 Details\n"
             "."},
            {"controls Nowhere", "ERR"},
        });
    });
}

TEST_F(AutomationChannel, FormsAreShownActivatedAndClosedByNameOrClass)
{
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"activate Tool", "ERR"},   // not shown: nothing to activate
            {"show ttool", "OK"},
            {"windows", "OK\nMain TMain 1 0 \"Main window\"\nTool TTool 1 1 \"Tool window\"\n."},
            {"activate Main", "OK"},
            {"get Main active", "OK 1"},
            {"close Tool", "OK"},
            {"get Tool visible", "OK 0"},
            {"hide Main", "OK"},
            {"show Main", "OK"},
            {"close TMain", "OK"},
        });
    });
    EXPECT_EQ(events, (std::vector<std::string>{"tool shown"}));
    EXPECT_TRUE(app.Terminated());   // closing the main form ends the program
}

TEST_F(AutomationChannel, PropertiesAreReadAndSetThroughTheirSetters)
{
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"set Main.Name text \"two words\"", "OK"},
            {"get main.name TEXT", "OK \"two words\""},
            {"set Main.Wrap checked yes", "OK"},
            {"get Main.Wrap checked", "OK 1"},
            {"set Main.Save width 0x40", "OK"},
            {"get Main.Save width", "OK 64"},
            {"set Main.Save color -16777198", "OK"},
            {"get Main.Save color", "OK -16777198"},
            {"set Main.Save fontcolor 0xFF000012", "OK"},   // the same colour written unsigned
            {"get Main.Save fontcolor", "OK -16777198"},
            {"set Main.Save enabled 0", "OK"},
            {"get Main.Save enabled", "OK 0"},
            {"set Main.Kind itemindex 1", "OK"},
            {"get Main.Kind text", "OK Video"},
            {"get Main.Kind items", "OK Audio|Video|Other"},
            {"set Main.Kind itemindex 3", "ERR"},
            {"get Main.List items", "OK \"a.mp3|b mp3|c.mp3\""},
            {"get Main.List count", "OK 3"},
            {"set Main.List focused 2", "OK"},
            {"get Main.List focused", "OK 2"},
            {"set Tool visible 1", "OK"},
            {"get Tool active", "OK 1"},
            {"get Main.mnuSort caption", "OK Sort"},
            {"get Main.mnuDetails enabled", "OK 0"},
            {"get Main.Save checked", "ERR"},
            {"set Main.List count 5", "ERR"},
            {"set Main.Save width wide", "ERR"},
            {"set Main.Save width 99999999999", "ERR"},
            {"set Main.Wrap checked maybe", "ERR"},
            {"get Main.Save", "ERR"},
        });
    });
    EXPECT_EQ(name.Text(), "two words");
    EXPECT_EQ(save.Width(), 64);
    EXPECT_FALSE(save.Enabled());
    EXPECT_EQ(kind.ItemIndex(), 1);
    // Setting text raises OnChange and checking raises OnClick, as the setters
    // do; setting the item index is no user's pick and raises no OnSelect.
    EXPECT_EQ(events, (std::vector<std::string>{"name: two words", "wrap 1", "tool shown"}));
}

TEST_F(AutomationChannel, ClicksRaiseEventsAndAThrowingHandlerLeavesTheErrorBox)
{
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"click Main.Save", "OK"},
            {"click Main.Wrap", "OK"},
            {"click Main.Fail", "OK"},
            {"boxes", "OK\nmessage OK 16 Test \"disk full\"\n."},
            {"click Main.Name", "ERR"},          // an edit is not clicked
            {"click Main.mnuSort", "OK"},
            {"click Main.mnuDetails", "ERR"},    // disabled
            {"popup Main.ListMenu", "OK"},
            {"popup Main.mnuSort", "ERR"},
            {"set Main.Save enabled 0", "OK"},
            {"click Main.Save", "ERR"},
            {"ping", "OK"},
        });
    });
    EXPECT_EQ(events, (std::vector<std::string>{"save", "wrap 1", "sort", "popup"}));
    ASSERT_EQ(app.Shown().size(), 1u);
    EXPECT_EQ(app.Shown()[0].flags, MB_OK | MB_ICONSTOP);
}

TEST_F(AutomationChannel, ListRowsAreSelectedFocusedAndPicked)
{
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"clickrow Main.List 1", "OK"},
            {"select Main.List 2", "OK"},
            {"get Main.List selected", "OK 1|2"},
            {"get Main.List selcount", "OK 2"},
            {"deselect Main.List 1", "OK"},
            {"focus Main.List 0", "OK"},
            {"rows Main.List", "OK\n0 0 1 a.mp3 \"3 MB\"\n1 0 0 \"b mp3\" \"4 MB\"\n2 1 0 c.mp3\n."},
            {"columnclick Main.List 1", "OK"},
            {"columnclick Main.List 2", "ERR"},
            {"select Main.List 3", "ERR"},
            {"select Main.List -1", "ERR"},
            {"clickrow Main.Kind 0", "ERR"},
            {"pick Main.Kind 2", "OK"},
            {"pick Main.Kind 3", "ERR"},
            {"pick Main.List 0", "ERR"},
            {"rows Main.Kind", "OK\n0 0 0 Audio\n1 0 0 Video\n2 1 1 Other\n."},
        });
    });
    EXPECT_EQ(events, (std::vector<std::string>{"row 1 on", "row 2 on", "row 1 off", "column 1", "kind 2"}));
}

TEST_F(AutomationChannel, HandlerThatRunsTheLoopIsAnsweredBeforeTheNextLine)
{
    // Old handlers pump the loop while they work; a line that arrives
    // meanwhile waits for the reply to the one being carried out.
    std::atomic<bool> inHandler{false}, nextSent{false};
    Button pump{&tool, "Pump"};
    pump.OnClick = [&] {
        inHandler = true;
        while (!nextSent)
            std::this_thread::yield();
        app.ProcessMessages();
        events.push_back("pumped");
    };
    Talk([&](Connection& c) {
        c.Write("click Tool.Pump\n");
        while (!inHandler)
            std::this_thread::yield();
        c.Write("set Main.Name text next\n");
        nextSent = true;
        EXPECT_EQ(c.Line(), "OK");
        EXPECT_EQ(c.Line(), "OK");
    });
    EXPECT_EQ(events, (std::vector<std::string>{"pumped", "name: next"}));
}

TEST_F(AutomationChannel, AnswersAreQueuedForTheComingBoxesAndDialogs)
{
    ask.OnClick = [this] {
        app.MessageBox("Delete the list?", "Confirm", MB_YESNO | MB_ICONQUESTION);
        OpenDialog open;
        open.Title = "Add";
        open.Filter = "Audio|*.mp3";
        open.Options |= ofAllowMultiSelect;
        open.Execute(app);
        ColorDialog color;
        color.Execute(app);
        app.MessageBox("Go on?", "Confirm", MB_OKCANCEL);
    };
    app.SetClipboardText("copied text");
    Talk([](Connection& c) {
        ExpectReplies(c, {
            {"answer button yes", "OK"},
            {"answer files \"/music/a b.mp3\" /music/c.mp3", "OK"},
            {"answer color 0xFF", "OK"},
            {"answer cancel", "OK"},
            {"answer button Maybe", "ERR"},
            {"answer color", "ERR"},
            {"answer", "ERR"},
            {"click Tool.Ask", "OK"},
            {"boxes",
             "OK\n"
             "message Yes 36 Confirm \"Delete the list?\"\n"
             "open \"/music/a b.mp3|/music/c.mp3\" 516 Add Audio|*.mp3\n"
             "color 255 0 \"\" \"\"\n"
             "message Cancel 1 Confirm \"Go on?\"\n"
             "."},
            {"clipboard", "OK \"copied text\""},
            {"pid", "OK " + std::to_string(::getpid())},
            {"folder", "OK /opt/vintrel"},
        });
    });
    EXPECT_EQ(app.PendingAnswers(), 0u);
}

TEST_F(AutomationChannel, BadLinesAreAnsweredWithErrAndTheConnectionGoesOn)
{
    Talk([this](Connection& c) {
        ExpectReplies(c, {
            {"", "ERR"},
            {"   ", "ERR"},
            {"frobnicate", "ERR"},
            {"get", "ERR"},
            {"get Main.Save text extra", "ERR"},
            {"\"open", "ERR"},
            {"get \"Main.Save\"x text", "ERR"},
            {std::string("\x01\xff\0zz", 5), "ERR"},
            {"get Nowhere.Save text", "ERR"},
            {"get Main.Nowhere text", "ERR"},
            {"trayclick middle", "ERR"},
            // Too long: answered once, whether the end comes with the excess
            // or long after it, and the next line is read as usual.
            {std::string(70000, 'x'), "ERR line too long"},
            {std::string(300000, 'x'), "ERR line too long"},
            {"ping\r", "OK"},
        });
        // Each connection keeps its own partial line; one that hangs up
        // mid-line leaves the others alone.
        Connection other(server->SocketPath());
        other.Write("pi");
        { Connection(server->SocketPath()).Write("get Main.Sa"); }
        EXPECT_EQ(c.Ask("get Main.Save caption"), "OK Save");
        other.Write("ng\n");
        EXPECT_EQ(other.Line(), "OK");
    });
}

TEST_F(AutomationChannel, SocketIsPrivateAndGoesWithTheServer)
{
    std::string sock = automation::SocketPathOf(session::SessionFolderPath(), ::getpid());
    std::string info = automation::InfoPathOf(session::SessionFolderPath(), ::getpid());
    EXPECT_EQ(server->SocketPath(), sock);
    struct stat st{};
    ASSERT_EQ(::stat(sock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadText(info), "/opt/vintrel\n");

    server.reset();
    EXPECT_NE(::access(sock.c_str(), F_OK), 0);
    EXPECT_NE(::access(info.c_str(), F_OK), 0);

    // A file left by an earlier process of the same id is replaced.
    WriteText(sock, "stale");
    server = std::make_unique<automation::Server>(app, session::SessionFolderPath(), "/opt/vintrel");
    Talk([](Connection& c) { EXPECT_EQ(c.Ask("ping"), "OK"); });
}

TEST_F(AutomationChannel, TrayClickReachesTheIconsOwnerWindow)
{
    auto& port = session::MessagePort::Current();
    std::vector<session::Message> received;
    session::HWND owner = port.CreateWindow("TTrayOwner", 0, [&](const session::Message& m) {
        received.push_back(m);
        return std::int64_t{0};
    });
    app.AddWatch(port.Fd(), [&port] { port.Dispatch(); });
    Talk([](Connection& c) { EXPECT_TRUE(c.Ask("trayclick left").starts_with("ERR ")); });   // no icon yet

    session::NOTIFYICONDATA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = owner;
    icon.uID = 7;
    icon.uFlags = session::NIF_MESSAGE | session::NIF_TIP;
    icon.uCallbackMessage = session::WM_USER + 1;
    std::strcpy(icon.szTip, "Vintrel list");
    ASSERT_TRUE(session::Shell_NotifyIcon(session::NIM_ADD, &icon));
    std::string pid = std::to_string(::getpid());
    Talk([&](Connection& c) {
        ExpectReplies(c, {
            {"tray", "OK\n" + std::to_string(owner) + " 7 " + pid + " \"Vintrel list\"\n."},
            {"trayclick RIGHT", "OK"},
        });
    });
    for (auto until = std::chrono::steady_clock::now() + kPatience;
         received.empty() && std::chrono::steady_clock::now() < until;)
        app.ProcessMessages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].msg, session::WM_USER + 1);
    EXPECT_EQ(received[0].wParam, 7u);
    EXPECT_EQ(received[0].lParam, session::WM_RBUTTONDOWN);
}

// ---- vintrel-auto ----------------------------------------------------------------------

TEST_F(AutomationChannel, VintrelAutoFindsTheProgramAndPrintsReplies)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::string me = std::to_string(::getpid());
    const std::string tricky = "say \"hi\"\tto C:\\music\\ ";
    auto check = [&](const std::vector<Case>& cases) {
        WhileLoopRuns([&] {
            for (const auto& c : cases) {
                std::vector<std::string> argv{kAuto};
                argv.insert(argv.end(), c.args.begin(), c.args.end());
                auto r = testing_support::Run(argv);
                std::string shown = testing::PrintToString(c.args);
                EXPECT_EQ(r.status, c.status) << shown;
                EXPECT_EQ(r.out, c.out) << shown;
            }
        });
    };
    check({
        {{"set", "Main.Name", "text", tricky}, 0, ""},
        {{"--pid", me, "get", "Main.Name", "text"}, 0, tricky + "\n"},   // quoted both ways
        {{"windows"}, 0, "Main TMain 1 1 \"Main window\"\nTool TTool 0 0 \"Tool window\"\n"},
        {{"--folder", "/opt/vintrel", "pid"}, 0, me + "\n"},
        {{"get", "Main.Nowhere", "text"}, 1, ""},
        {{"--pid", "99999999", "ping"}, 2, ""},
        {{"--folder", "/elsewhere", "ping"}, 2, ""},
        {{"--pid", me, "--folder", "/opt/vintrel", "ping"}, 1, ""},
        {{}, 1, ""},
    });
    EXPECT_EQ(name.Text(), tricky);

    // Beside ours: a live program that never answers, and a socket whose
    // program died.
    std::string session = session::SessionFolderPath();
    int hung = ListenAt(automation::SocketPathOf(session, 1));
    WriteText(automation::InfoPathOf(session, 1), "/elsewhere\n");
    ::close(ListenAt(automation::SocketPathOf(session, 2)));
    check({
        {{"ping"}, 2, ""},   // two live: which one is not guessed
        {{"--folder", "/opt/vintrel", "pid"}, 0, me + "\n"},
        {{"--folder", "/elsewhere", "--timeout", "1", "ping"}, 1, ""},
        {{"--pid", "2", "ping"}, 2, ""},
    });
    ::close(hung);
}

// ---- the program driven from outside ------------------------------------------------------

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// The exit status of `pid`, or nothing when it still runs after the wait.
std::optional<int> WaitExit(pid_t pid, std::chrono::seconds patience)
{
    for (auto until = std::chrono::steady_clock::now() + patience; std::chrono::steady_clock::now() < until;) {
        int st = 0;
        if (::waitpid(pid, &st, WNOHANG) == pid)
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

} // namespace

TEST(ProgramUnderAutomation, WindowsListsTheMainWindowAndCloseEndsTheProgram)
{
    IsolatedEnvironment env;
    ScopedEnv ui("VINTREL_UI", "headless");
    ScopedEnv on("VINTREL_AUTOMATION", "1");
    const std::string program = std::string(VINTREL_PROGRAM_DIR) + "/vintrel";
    pid_t pid = ::fork();
    if (pid == 0) {
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    struct Reaper {
        pid_t pid;
        bool ended = false;
        ~Reaper()
        {
            if (!ended) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};

    std::string sock = automation::SocketPathOf(session::SessionFolderPath(), pid);
    struct stat st{};
    for (auto until = std::chrono::steady_clock::now() + kPatience;
         ::stat(sock.c_str(), &st) != 0 && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::stat(sock.c_str(), &st), 0) << "the program opened no automation socket";

    auto windows = testing_support::Run({kAuto, "--pid", std::to_string(pid), "windows"});
    EXPECT_EQ(windows.status, 0);
    // Shown; on a first run the options window is the active one.
    EXPECT_TRUE(windows.out.starts_with("vinForm1 TvinForm1 1 ")) << windows.out;

    auto close = testing_support::Run({kAuto, "--pid", std::to_string(pid), "close", "TvinForm1"});
    EXPECT_EQ(close.status, 0);
    auto status = WaitExit(pid, kPatience);
    reaper.ended = status.has_value();
    EXPECT_EQ(status, std::optional<int>(0));
    EXPECT_NE(::access(sock.c_str(), F_OK), 0);   // removed on the way out
}
