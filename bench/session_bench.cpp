// Messaging between two processes of a session: how long a posted message
// takes to reach the other process's window, a 66053-byte WM_COPYDATA round
// trip, a burst of posts, FindWindow and the atom table.
//
//   session_bench [--short]
//
// It starts itself a second time as the receiving process, in a private
// session folder, and prints its figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"
#include "platform/ui/session_link.h"

using namespace session;
using Clock = std::chrono::steady_clock;

namespace {

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The receiving process: one window; reports on stdout.
int RunPeer()
{
    ui::Application app;
    ui::Form form(app, "BenchForm", "VintrelBench");
    ui::SessionLink link(app);
    app.CreateForm(form);
    unsigned ping = RegisterWindowMessage("VintrelBench.Ping");
    unsigned burst = RegisterWindowMessage("VintrelBench.Burst");
    unsigned report = RegisterWindowMessage("VintrelBench.Report");
    std::vector<double> latencies;
    std::uint64_t expected = 0;
    bool inOrder = true;
    std::int64_t burstStart = 0;
    form.OnMessage = [&](const Message& m, std::int64_t& result) {
        if (m.msg == ping) {
            latencies.push_back(static_cast<double>(NowNs() - m.lParam) / 1e6);
        } else if (m.msg == burst) {
            if (expected == 0)
                burstStart = static_cast<std::int64_t>(m.lParam);
            inOrder = inOrder && m.wParam == expected;
            ++expected;
        } else if (m.msg == report) {
            std::printf("%.4f %llu %d %.1f\n", Median(latencies), static_cast<unsigned long long>(expected),
                        inOrder ? 1 : 0, static_cast<double>(NowNs() - burstStart) / 1e6);
            std::fflush(stdout);
            form.Close();
        } else if (m.msg == WM_COPYDATA) {
            result = static_cast<std::int64_t>(m.data.size());
        } else {
            return false;
        }
        return true;
    };
    app.Post([] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    app.Run();
    return 0;
}

template <class F> double TimeMs(F&& f)
{
    auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--peer")
        return RunPeer();
    bool quick = argc > 1 && std::string(argv[1]) == "--short";
    const int rounds = quick ? 200 : 2000;
    const int burstCount = quick ? 2000 : 10000;

    std::string folder = (std::filesystem::temp_directory_path() / "vintrel-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return 1;
    ::setenv("VINTREL_SESSION", (folder + "/session").c_str(), 1);

    int out[2];
    if (::pipe(out) != 0)
        return 1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execl("/proc/self/exe", argv[0], "--peer", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* peer = ::fdopen(out[0], "r");
    char line[256];
    if (!std::fgets(line, sizeof line, peer)) {
        std::fprintf(stderr, "the receiving process did not start\n");
        return 1;
    }

    std::vector<double> find, add, get, del, copy;
    HWND hwnd = 0;
    for (int i = 0; i < rounds; ++i) {
        find.push_back(TimeMs([&] { hwnd = FindWindow("VintrelBench"); }));
        ATOM atom = 0;
        add.push_back(TimeMs([&] { atom = GlobalAddAtom("http://bench.example/" + std::to_string(i) + ".jpg"); }));
        char name[256];
        get.push_back(TimeMs([&] { GlobalGetAtomName(atom, name, sizeof name); }));
        del.push_back(TimeMs([&] { GlobalDeleteAtom(atom); }));
    }
    unsigned ping = RegisterWindowMessage("VintrelBench.Ping");
    for (int i = 0; i < rounds; ++i) {
        PostMessage(hwnd, ping, 0, NowNs());
        ::usleep(200);   // one at a time, so each is measured alone
    }
    std::vector<std::uint8_t> block(66053, 0x5A);
    for (int i = 0; i < rounds; ++i)
        copy.push_back(TimeMs([&] { SendCopyData(hwnd, 0, 0, block.data(), block.size()); }));
    unsigned burst = RegisterWindowMessage("VintrelBench.Burst");
    std::int64_t start = NowNs();
    for (int i = 0; i < burstCount; ++i)
        PostMessage(hwnd, burst, static_cast<std::uint64_t>(i), start);
    PostMessage(hwnd, RegisterWindowMessage("VintrelBench.Report"), 0, 0);

    double postMedian = 0, burstMs = 0;
    unsigned long long handled = 0;
    int inOrder = 0;
    if (!std::fgets(line, sizeof line, peer) ||
        std::sscanf(line, "%lf %llu %d %lf", &postMedian, &handled, &inOrder, &burstMs) != 4) {
        std::fprintf(stderr, "no report from the receiving process\n");
        return 1;
    }
    ::waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(folder);

    std::printf("session messaging between two processes (%s mode, %d rounds)\n", quick ? "short" : "full", rounds);
    std::printf("  posted message handled in the other process: median %.3f ms (goal < 1 ms)\n", postMedian);
    std::printf("  SendMessage WM_COPYDATA of 66053 bytes, round trip: median %.3f ms (goal < 2 ms)\n", Median(copy));
    std::printf("  burst of %d posts: %llu handled, %s, in %.1f ms\n", burstCount, handled,
                inOrder ? "in order" : "OUT OF ORDER", burstMs);
    std::printf("  FindWindow: median %.3f ms (goal < 1 ms)\n", Median(find));
    std::printf("  atom add / get / delete: median %.3f / %.3f / %.3f ms (goal < 1 ms each)\n", Median(add),
                Median(get), Median(del));
    return handled == static_cast<unsigned long long>(burstCount) && inOrder ? 0 : 1;
}
