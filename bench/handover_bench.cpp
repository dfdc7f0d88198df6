// Pictures from outside into a running program: a second start handing its
// command line over, corvane-addurl through the automation server, and a
// burst of addresses posted with atoms.
//
//   handover_bench [--short]
//
// It runs its own copy of the program, headless, in a private folder and
// session, and watches the list through the automation channel.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_support.h"
#include "platform/automation/server.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/sys/files.h"

using namespace bench;
namespace fs = std::filesystem;

namespace {

pid_t Start(const std::vector<std::string>& argv)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

int Rows(const std::string& socket)
{
    std::string reply = Ask(socket, "get vinForm1.ListView1 count");
    return reply.size() > 3 ? std::atoi(reply.c_str() + 3) : -1;
}

bool WaitRows(const std::string& socket, int rows)
{
    auto start = Clock::now();
    while (Rows(socket) < rows)
        if (Ms(start) > 20000)
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "--short";
    const int rounds = quick ? 3 : 15;
    const int burst = quick ? 50 : 200;
    std::string folder = (fs::temp_directory_path() / "vintrel-handover-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return 1;
    ::setenv("VINTREL_SESSION", (folder + "/session").c_str(), 1);
    ::setenv("VINTREL_REGISTRY", (folder + "/registry.sqlite3").c_str(), 1);
    ::setenv("VINTREL_UI", "headless", 1);
    ::setenv("VINTREL_INVITATION_SEED", "18", 1);
    const std::string bin = fs::path(sys::ExecutablePath()).parent_path().parent_path() / "bin";
    const std::string program = folder + "/vintrel";
    fs::copy_file(bin + "/vintrel", program);
    sys::WriteFileAtomic(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    sys::WriteFileAtomic(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    sys::WriteFileAtomic(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    sys::WriteFileAtomic(folder + "/files.ini", "");
    Start({bin + "/vintrel-reg", "add", "HKLM\\SOFTWARE\\VinTrel", "/ve", "/d", program, "/f"});
    ::wait(nullptr);
    Start({bin + "/regsvr", bin + "/Corvane_ComHost.so"});
    ::wait(nullptr);

    ::setenv("VINTREL_AUTOMATION", "1", 1);
    pid_t first = Start({program});
    ::unsetenv("VINTREL_AUTOMATION");
    const std::string socket = automation::SocketPathOf(session::SessionFolderPath(), first);
    auto begin = Clock::now();
    while (Rows(socket) < 0 && Ms(begin) < 20000)
        ::usleep(2000);

    std::printf("pictures from outside (%s mode, %d rounds)\n", quick ? "short" : "full", rounds);
    int rows = 0;
    std::vector<double> seconds, addurl;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        pid_t second = Start({program, "/pics/second start " + std::to_string(i) + ".jpg"});
        ::waitpid(second, nullptr, 0);
        WaitRows(socket, ++rows);
        seconds.push_back(Ms(start));
    }
    std::printf("  second start, launch to its exit with the row shown: median %.1f ms (goal < 100 ms)\n",
                Median(seconds));
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        pid_t call = Start({bin + "/corvane-addurl", "http://127.0.0.1:9/addurl-" + std::to_string(i) + ".jpg"});
        ::waitpid(call, nullptr, 0);
        WaitRows(socket, ++rows);
        addurl.push_back(Ms(start));
    }
    std::printf("  corvane-addurl, call to the row in the list: median %.1f ms (goal < 20 ms)\n", Median(addurl));

    unsigned message = session::RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD");
    session::HWND window = session::FindWindow("TvinForm1");
    std::vector<std::string> addresses;
    auto start = Clock::now();
    for (int i = 0; i < burst; ++i) {
        addresses.push_back("http://127.0.0.1:9/burst-" + std::to_string(1000 + i) + ".jpg");
        session::PostMessage(window, message, session::GlobalAddAtom(addresses.back()), 0);
    }
    bool all = WaitRows(socket, rows + burst);
    double burstMs = Ms(start);
    std::string file = sys::ReadFile(folder + "/files.ini");
    size_t at = 0;
    bool inOrder = true;
    for (const auto& a : addresses) {
        size_t found = file.find(a, at);
        inOrder = inOrder && found != std::string::npos;
        at = found == std::string::npos ? at : found;
    }
    int atomsLeft = 0;
    for (const auto& a : addresses)
        atomsLeft += session::GlobalFindAtom(a) != 0;
    std::printf("  burst of %d posted addresses: %s, %s, %d atoms left, in %.1f ms\n", burst,
                all ? "all added" : "NOT ALL ADDED", inOrder ? "in order" : "OUT OF ORDER", atomsLeft, burstMs);

    Ask(socket, "close TvinForm1");
    ::waitpid(first, nullptr, 0);
    fs::remove_all(folder);
    return all && inOrder && atomsLeft == 0 ? 0 : 1;
}
