// A second process for the session tests: it opens a window of a given class
// and reports what reaches it on stdout, or holds a named mutex until its
// stdin closes.
//
//   session_peer window CLASS
//   session_peer mutex NAME
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"
#include "platform/ui/session_link.h"

namespace {

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int RunWindow(const std::string& className)
{
    ui::Application app;
    ui::Form form(app, "PeerForm", className);
    ui::SessionLink link(app);
    app.CreateForm(form);
    unsigned atomMsg = session::RegisterWindowMessage("VintrelTest.Atom");
    unsigned slowMsg = session::RegisterWindowMessage("VintrelTest.Slow");
    unsigned seqMsg = session::RegisterWindowMessage("VintrelTest.Seq");
    std::uint64_t expected = 0;
    bool inOrder = true;
    form.OnMessage = [&](const session::Message& m, std::int64_t& result) {
        if (m.msg == atomMsg) {
            char buffer[256];
            session::GlobalGetAtomName(static_cast<session::ATOM>(m.wParam), buffer, sizeof buffer);
            session::GlobalDeleteAtom(static_cast<session::ATOM>(m.wParam));
            Say(std::string("atom ") + buffer);
            return true;
        }
        if (m.msg == slowMsg) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Say("slow handled");
            result = 4242;
            return true;
        }
        if (m.msg == seqMsg) {
            inOrder = inOrder && m.wParam == expected;
            ++expected;
            if (static_cast<std::int64_t>(expected) == m.lParam)
                Say("seq " + std::to_string(expected) + (inOrder ? " in order" : " out of order"));
            return true;
        }
        if (m.msg == session::WM_COPYDATA) {
            std::uint64_t sum = 0;
            for (auto b : m.data)
                sum += b;
            result = static_cast<std::int64_t>(m.data.size());
            Say("copydata " + std::to_string(m.data.size()) + " " + std::to_string(sum));
            return true;
        }
        return false;
    };
    app.ShowMainForm = true;
    app.Post([&] { Say("ready " + std::to_string(form.Handle)); });
    app.Run();
    Say("closed");
    return 0;
}

int RunMutex(const std::string& name)
{
    session::NamedMutex mutex(name);
    Say(mutex.AlreadyExisted() ? "existed" : "first");
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: session_peer window CLASS | mutex NAME\n");
        return 2;
    }
    std::string mode = argv[1];
    try {
        if (mode == "window")
            return RunWindow(argv[2]);
        if (mode == "mutex")
            return RunMutex(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "session_peer: %s\n", e.what());
        return 1;
    }
    return 2;
}
