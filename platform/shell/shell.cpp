#include "platform/shell/shell.h"

#include "platform/session/registry.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace shell {

namespace {

std::mutex g_recordMutex;
std::vector<ShellCall> g_calls;
std::vector<std::vector<std::string>> g_starts;
std::atomic<bool> g_starting{true};

bool IsExecutableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The file execve needs for argv[0]: a name without a slash is looked up on
// PATH (here, so that the child does nothing but execute). Empty when none.
std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    for (const auto& dir : sys::Split(sys::GetEnv("PATH", "/usr/local/bin:/usr/bin:/bin"), ':')) {
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return {};
}

void WaitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void ReportAndExit(int fd, int err)
{
    [[maybe_unused]] ssize_t n = ::write(fd, &err, sizeof err);
    ::_exit(127);
}

// Forks and executes `argv`. Whether the exec worked comes back through a
// close-on-exec pipe: it closes empty when it did, and carries the errno when
// it did not. With `detach` an intermediate child forks the program and exits
// at once, so the program is re-parented and never left as our zombie; without
// it the caller waits for the returned child. Returns -1 with `err` set when
// the program could not be executed.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& folder, int stdoutFd, bool detach,
            int& err)
{
    std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        err = ENOENT;
        return -1;
    }
    // Everything the child needs is made now: after fork it may only make
    // async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const char* dir = folder.empty() ? nullptr : folder.c_str();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        err = errno;
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        if (detach) {
            ::setsid();
            pid_t grandchild = ::fork();
            if (grandchild < 0)
                ReportAndExit(report[1], errno);
            if (grandchild > 0)
                ::_exit(0);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        if (stdoutFd >= 0 && ::dup2(stdoutFd, STDOUT_FILENO) < 0)
            ReportAndExit(report[1], errno);
        // A program started for the desktop lives on its own: it must not
        // keep our input or output open (whoever reads our output would wait
        // for it to end).
        if (detach) {
            int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
            }
        }
        if (dir && ::chdir(dir) != 0)
            ReportAndExit(report[1], errno);
        ::execve(program.c_str(), args.data(), environ);
        ReportAndExit(report[1], errno);
    }
    int forkErr = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        err = forkErr;
        return -1;
    }
    int childErr = 0;
    ssize_t n;
    do
        n = ::read(report[0], &childErr, sizeof childErr);
    while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (detach || n > 0)
        WaitFor(pid);
    if (n > 0) {
        err = childErr;
        return -1;
    }
    return pid;
}

// Runs `argv` and returns what it printed on stdout; kills it and returns
// nothing when it takes longer than `timeout`.
std::string Capture(const std::vector<std::string>& argv, std::chrono::milliseconds timeout)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    int err = 0;
    pid_t pid = Spawn(argv, {}, out[1], false, err);
    ::close(out[1]);
    std::string text;
    if (pid > 0) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(pid, SIGKILL);
                text.clear();
                break;
            }
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buf, static_cast<size_t>(n));
        }
        WaitFor(pid);
    }
    ::close(out[0]);
    return text;
}

bool IsAddress(const std::string& file)
{
    return sys::StartsWithNoCase(file, "http://") || sys::StartsWithNoCase(file, "https://") ||
           sys::StartsWithNoCase(file, "mailto:");
}

// The command registered for `verb` on the type of `path`, with the file put
// in and then split into arguments, as the desktop does: a command that
// quotes "%1" gets the path as one argument, one that does not gets a path
// with blanks in pieces (the program joins them again). Empty when nothing
// is registered.
std::vector<std::string> RegisteredCommand(const std::string& path, const std::string& verb)
{
    std::string name = path.substr(path.rfind('/') + 1);
    auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string line;
    try {
        auto& store = session::RegistryStore::Default();
        auto text = [&](const std::string& key) {
            auto v = store.GetValue(session::HKEY_CLASSES_ROOT, key, "");
            return v && v->type == session::REG_SZ ? v->text : std::string();
        };
        std::string type = text(name.substr(dot));
        if (type.empty())
            return {};
        std::string v = verb.empty() ? text(type + "\\shell") : verb;
        line = text(type + "\\shell\\" + (v.empty() ? "open" : v) + "\\command");
    } catch (const sys::Error&) {
        return {};   // an unreadable registry has no associations
    }
    std::string command;
    bool placed = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 1 < line.size() && (line[i + 1] == '1' || line[i + 1] == 'L' || line[i + 1] == 'l')) {
            command += path;
            placed = true;
            ++i;
        } else {
            command += line[i];
        }
    }
    auto args = SplitCommandLine(command);
    if (!args.empty() && !placed)
        args.push_back(path);
    return args;
}

// What a ShellExecute call starts; empty, with `error` set, when it starts
// nothing.
std::vector<std::string> Resolve(const std::string& verb, const std::string& file, const std::string& parameters,
                                 const std::string& folder, int& error)
{
    if (IsAddress(file))
        return {"xdg-open", file};
    error = SE_ERR_FNF;
    if (file.empty())
        return {};
    std::error_code ec;
    std::string path = std::filesystem::absolute(std::filesystem::path(folder) / file, ec).string();
    struct stat st {};
    if (ec || ::stat(path.c_str(), &st) != 0)
        return {};
    bool open = verb.empty() || sys::EqualNoCase(verb, "open");
    if (open && S_ISREG(st.st_mode) && (st.st_mode & 0111)) {
        std::vector<std::string> argv{path};
        for (auto& p : SplitCommandLine(parameters))
            argv.push_back(std::move(p));
        return argv;
    }
    if (auto command = RegisteredCommand(path, verb); !command.empty())
        return command;
    if (open)
        return {"xdg-open", path};
    error = SE_ERR_NOASSOC;
    return {};
}

std::string Home()
{
    std::string home = sys::GetEnv("HOME");
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::getuid()))
            home = pw->pw_dir;
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string FileUri(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// Hands the wallpaper to the first desktop in $XDG_CURRENT_DESKTOP we know.
void ApplyWallpaper(const std::string& path)
{
    if (path.empty())
        return;
    std::error_code ec;
    std::string file = std::filesystem::absolute(path, ec).string();
    if (ec)
        return;
    for (const auto& desktop : sys::Split(sys::LowerAscii(sys::GetEnv("XDG_CURRENT_DESKTOP")), ':')) {
        if (desktop == "gnome" || desktop == "unity") {
            for (const char* key : {"picture-uri", "picture-uri-dark"})
                StartProcess({"gsettings", "set", "org.gnome.desktop.background", key, FileUri(file)});
        } else if (desktop == "cinnamon" || desktop == "x-cinnamon") {
            StartProcess({"gsettings", "set", "org.cinnamon.desktop.background", "picture-uri", FileUri(file)});
        } else if (desktop == "mate") {
            StartProcess({"gsettings", "set", "org.mate.background", "picture-filename", file});
        } else if (desktop == "xfce") {
            // One image property per monitor and workspace; listing them
            // runs a program, so it is left out when starting is off.
            if (!StartingEnabled())
                return;
            std::string list = Capture({"xfconf-query", "-c", "xfce4-desktop", "-l"}, std::chrono::seconds(3));
            for (const auto& prop : sys::Split(list, '\n'))
                if (prop.ends_with("/last-image"))
                    StartProcess({"xfconf-query", "-c", "xfce4-desktop", "-p", prop, "-s", file});
        } else if (desktop == "kde") {
            StartProcess({"plasma-apply-wallpaperimage", file});
        } else {
            continue;
        }
        return;
    }
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> args;
    std::string arg;
    bool inArg = false, quoted = false;
    for (size_t i = 0; i < line.size();) {
        char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArg)
                args.push_back(std::move(arg));
            arg.clear();
            inArg = false;
            ++i;
            continue;
        }
        inArg = true;
        if (c == '\\') {
            size_t count = 0;
            for (; i < line.size() && line[i] == '\\'; ++i)
                ++count;
            if (i < line.size() && line[i] == '"') {
                arg.append(count / 2, '\\');
                if (count % 2) {   // an odd backslash makes the quote literal
                    arg += '"';
                    ++i;
                }
            } else {
                arg.append(count, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                arg += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            arg += c;
            ++i;
        }
    }
    if (inArg)
        args.push_back(std::move(arg));
    return args;
}

int ShellExecute(unsigned /*owner*/, const std::string& verb, const std::string& file,
                 const std::string& parameters, const std::string& folder, int show)
{
    ShellCall call{verb, file, parameters, folder, show, {}, 0};
    call.argv = Resolve(verb, file, parameters, folder, call.result);
    if (!call.argv.empty())
        call.result = StartProcess(call.argv, folder) ? SE_OK : SE_ERR_FNF;
    std::lock_guard lock(g_recordMutex);
    g_calls.push_back(call);
    return call.result;
}

std::vector<ShellCall> RecordedCalls()
{
    std::lock_guard lock(g_recordMutex);
    return g_calls;
}

std::vector<std::vector<std::string>> RecordedStarts()
{
    std::lock_guard lock(g_recordMutex);
    return g_starts;
}

void ClearRecordedCalls()
{
    std::lock_guard lock(g_recordMutex);
    g_calls.clear();
    g_starts.clear();
}

void SetStartingEnabled(bool enabled) { g_starting = enabled; }
bool StartingEnabled() { return g_starting; }

bool StartProcess(const std::vector<std::string>& argv, const std::string& folder)
{
    if (argv.empty() || argv[0].empty())
        return false;
    {
        std::lock_guard lock(g_recordMutex);
        g_starts.push_back(argv);
    }
    if (!g_starting)
        return true;
    int err = 0;
    return Spawn(argv, folder, -1, true, err) >= 0;
}

std::string DesktopFolder()
{
    const std::string home = Home();
    std::string folder = home + "/Desktop";
    std::ifstream in(sys::GetEnv("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs");
    const std::string key = "XDG_DESKTOP_DIR=";
    for (std::string line; std::getline(in, line);) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line.compare(i, key.size(), key) != 0)
            continue;
        // The file is shell syntax: a value in double quotes, backslash escapes.
        std::string value;
        i += key.size();
        bool quoted = i < line.size() && line[i] == '"';
        for (i += quoted; i < line.size(); ++i) {
            char c = line[i];
            if (quoted ? c == '"' : (c == ' ' || c == '\t' || c == '#'))
                break;
            if (c == '\\' && i + 1 < line.size())
                c = line[++i];
            value += c;
        }
        if (value.starts_with("$HOME") && (value.size() == 5 || value[5] == '/'))
            value = home + value.substr(5);
        if (value.starts_with("/"))
            folder = value;   // the last assignment wins, as in the shell
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool SetWallpaper(const std::string& path)
{
    try {
        session::Registry reg(session::HKEY_CURRENT_USER);
        if (!reg.OpenKey("\\Control Panel\\Desktop", true))
            return false;
        reg.WriteString("Wallpaper", path);
    } catch (const sys::Error&) {
        return false;
    }
    ApplyWallpaper(path);
    return true;
}

} // namespace shell
