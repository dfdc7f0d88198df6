// The desktop start: from launching the program with a list of 1,000 entries
// until its main window is on the screen and the first row's picture is in
// the picture control; then the memory the program holds (and, apart, that of
// the browser engine's helper processes).
//
//   desktop_bench [--short]
//
// Without a display it runs itself again under xvfb-run.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_support.h"
#include "platform/automation/server.h"
#include "platform/image/image.h"
#include "platform/session/session.h"
#include "platform/sys/files.h"

using bench::Ask;
using bench::Clock;
using bench::Median;
using bench::Ms;
namespace fs = std::filesystem;

namespace {

long ResidentKb(pid_t pid) { return bench::StatusKb(std::to_string(pid), "VmRSS:"); }

// The processes whose parent is `pid` (the browser engine's helpers).
std::vector<pid_t> Children(pid_t pid)
{
    std::vector<pid_t> out;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(e.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid)
            out.push_back(std::atoi(name.c_str()));
    }
    return out;
}

struct Start {
    double answerMs = -1;     // the automation channel answers (the program is up)
    double shownMs = -1;      // main window mapped
    double previewMs = -1;    // and the first picture in the picture control
    long residentKb = 0;
    long helpersKb = 0;
};

Start TimeStart(const std::string& program)
{
    Start s;
    auto start = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string socketPath = automation::SocketPathOf(session::SessionFolderPath(), pid);
    while (Ms(start) < 20000) {
        std::string visible = Ask(socketPath, "native vinForm1 visible");
        if (s.answerMs < 0 && !visible.empty())
            s.answerMs = Ms(start);
        if (s.shownMs < 0 && visible == "OK 1")
            s.shownMs = Ms(start);
        if (s.shownMs >= 0) {
            std::string picture = Ask(socketPath, "native vinForm1.Image1 picture");
            if (picture.rfind("OK ", 0) == 0 && picture != "OK none") {
                s.previewMs = Ms(start);
                break;
            }
        }
        ::usleep(1000);
    }
    // Memory once the start has settled.
    ::usleep(500000);
    s.residentKb = ResidentKb(pid);
    for (pid_t child : Children(pid))
        s.helpersKb += ResidentKb(child);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "--short";
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        if (::access("/usr/bin/xvfb-run", X_OK) != 0) {
            std::printf("desktop start: no display and no xvfb-run; not measured\n");
            return 0;
        }
        std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                                const_cast<char*>("-screen 0 1024x768x24")};
        std::string self = sys::ExecutablePath();
        args.push_back(self.data());
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execv("/usr/bin/xvfb-run", args.data());
        std::perror("xvfb-run");
        return 1;
    }

    std::string folder = (fs::temp_directory_path() / "vintrel-desktopbench-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return 1;
    ::setenv("VINTREL_SESSION", (folder + "/session").c_str(), 1);
    ::setenv("VINTREL_REGISTRY", (folder + "/registry.sqlite3").c_str(), 1);
    ::setenv("VINTREL_UI", "gtk", 1);
    ::setenv("VINTREL_AUTOMATION", "1", 1);
    ::setenv("HOME", folder.c_str(), 1);
    sys::WriteFileAtomic(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    sys::WriteFileAtomic(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    sys::WriteFileAtomic(folder + "/color.ini", "13677484\r\n-16777198\r\n12435644\r\n");
    ui::Bitmap picture;
    picture.Width = 640;
    picture.Height = 480;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            picture.Pixels.push_back(0xFF000000u | static_cast<std::uint32_t>(x * 255 / 640) << 16 |
                                     static_cast<std::uint32_t>(y * 255 / 480) << 8 | 0x80u);
    img::SaveJpeg(picture, folder + "/first.jpg");
    bench::WriteList(folder, "first.jpg", 1000);

    std::string built = fs::path(sys::ExecutablePath()).parent_path().parent_path() / "bin" / "vintrel";
    std::string program = folder + "/vintrel";
    fs::copy_file(built, program, fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(built).parent_path() / "vintrel-desktop.so", folder + "/vintrel-desktop.so",
                  fs::copy_options::overwrite_existing);

    std::vector<double> answered, shown, previewed, resident, helpers;
    for (int r = 0; r < (quick ? 1 : 5); ++r) {
        Start s = TimeStart(program);
        answered.push_back(s.answerMs);
        shown.push_back(s.shownMs);
        previewed.push_back(s.previewMs);
        resident.push_back(static_cast<double>(s.residentKb));
        helpers.push_back(static_cast<double>(s.helpersKb));
    }
    std::printf("desktop start with 1,000 entries (%s mode, display %s)\n", quick ? "short" : "full", std::getenv("DISPLAY"));
    std::printf("  to the program answering on its automation channel: %.1f ms\n", Median(answered));
    std::printf("  to the main window shown: %.1f ms\n", Median(shown));
    std::printf("  to the first picture previewed: %.1f ms (goal < 500 ms)\n", Median(previewed));
    std::printf("  resident memory of vintrel after start: %.1f MB (browser engine helpers apart: %.1f MB)\n",
                Median(resident) / 1024, Median(helpers) / 1024);
    fs::remove_all(folder);
    return 0;
}
