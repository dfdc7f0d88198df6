// vintrel-auto: sends one command to a running program's automation channel
// and prints the reply (see docs/automation.md).
//
//   vintrel-auto [--pid PID | --folder DIR] [--timeout SECONDS] COMMAND [ARGS...]
//
// Exit status: 0 for an OK reply, 1 for an ERR reply or a failed exchange, 2
// when no program is found.
#include "platform/automation/server.h"
#include "platform/session/session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: vintrel-auto [--pid PID | --folder DIR] [--timeout SECONDS] COMMAND [ARGS...]\n"
    "Sends COMMAND to a running program's automation channel and prints the reply.\n"
    "--pid picks the program by process id, --folder by its program folder; without\n"
    "either the only running program is used. The reply must come within --timeout\n"
    "seconds (10). Exit status: 0 OK, 1 ERR or a failed exchange, 2 no program found.\n";

constexpr int kFailed = 1, kNotFound = 2;

struct Exit {
    int status;
    std::string message;
    bool showUsage = false;
};

Exit UsageError(const std::string& message) { return {kFailed, message, true}; }

// A connected socket, or -1 when nothing listens at `path`.
int Connect(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

std::optional<long> ParseDigits(const std::string& s)
{
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stol(s);
}

std::string Canonical(const std::string& path)
{
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

std::string FirstLine(const std::string& path)
{
    std::ifstream f(path);
    std::string line;
    std::getline(f, line);
    return line;
}

struct Program {
    long pid;
    int fd;
};

// The programs whose socket takes a connection, those run from `folder` when
// it is given.
std::vector<Program> LivePrograms(const std::string& session, const std::string& folder)
{
    std::vector<Program> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(session, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.starts_with("auto-") || !name.ends_with(".sock"))
            continue;
        auto pid = ParseDigits(name.substr(5, name.size() - 10));
        if (!pid)
            continue;
        if (!folder.empty() && Canonical(FirstLine(automation::InfoPathOf(session, *pid))) != Canonical(folder))
            continue;
        if (int fd = Connect(it->path().string()); fd >= 0)
            found.push_back({*pid, fd});
    }
    std::sort(found.begin(), found.end(), [](const Program& a, const Program& b) { return a.pid < b.pid; });
    return found;
}

int FindProgram(const std::optional<long>& pid, const std::string& folder)
{
    std::string session = session::SessionFolderPath();
    if (pid) {
        int fd = Connect(automation::SocketPathOf(session, *pid));
        if (fd < 0)
            throw Exit{kNotFound, "no program with automation runs as process " + std::to_string(*pid)};
        return fd;
    }
    auto found = LivePrograms(session, folder);
    if (found.size() == 1)
        return found[0].fd;
    std::string where = folder.empty() ? "" : " from " + folder;
    if (found.empty())
        throw Exit{kNotFound, "no program with automation runs" + where};
    std::string pids;
    for (const auto& p : found) {
        pids += " " + std::to_string(p.pid);
        ::close(p.fd);
    }
    throw Exit{kNotFound, "several programs run" + where + " (processes" + pids + "); choose one with --pid"};
}

// Reads the reply's lines, all within one time limit.
class Reader {
public:
    Reader(int fd, int seconds) : m_fd(fd), m_deadline(std::chrono::steady_clock::now() + std::chrono::seconds(seconds)) {}

    std::string Line()
    {
        for (;;) {
            if (auto end = m_buffer.find('\n'); end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0)
                throw Exit{kFailed, "no reply in time"};
            char buf[65536];
            ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw Exit{kFailed, "the program closed the connection without a full reply"};
            m_buffer.append(buf, static_cast<size_t>(n));
        }
    }

private:
    int m_fd;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_buffer;
};

int Main(const std::vector<std::string>& args)
{
    std::optional<long> pid;
    std::string folder;
    int timeout = 10;
    size_t i = 0;
    for (; i < args.size() && args[i].starts_with("--"); i += 2) {
        const std::string& opt = args[i];
        if (opt == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == "--") {
            ++i;
            break;
        }
        if (i + 1 == args.size())
            throw UsageError(opt + " needs a value");
        const std::string& value = args[i + 1];
        if (opt == "--pid" && (pid = ParseDigits(value)))
            continue;
        if (opt == "--folder" && !value.empty()) {
            folder = value;
            continue;
        }
        if (auto n = ParseDigits(value); opt == "--timeout" && n && *n > 0 && *n <= 3600) {
            timeout = static_cast<int>(*n);
            continue;
        }
        throw UsageError("bad option " + opt + " " + value);
    }
    if (i >= args.size())
        throw UsageError("no command given");
    if (pid && !folder.empty())
        throw UsageError("--pid and --folder do not go together");

    std::string line;
    for (size_t k = i; k < args.size(); ++k)
        line += (k > i ? " " : "") + automation::Quote(args[k]);
    line += '\n';

    int fd = FindProgram(pid, folder);
    for (size_t done = 0; done < line.size();) {
        ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Exit{kFailed, std::string("cannot send the command: ") + std::strerror(errno)};
        done += static_cast<size_t>(n);
    }

    Reader reader(fd, timeout);
    std::string reply = reader.Line();
    if (reply.starts_with("ERR"))
        throw Exit{kFailed, reply.size() > 4 ? reply.substr(4) : "failed"};
    if (reply == "OK" && automation::IsListing(args[i])) {
        for (std::string l = reader.Line(); l != "."; l = reader.Line())
            std::printf("%s\n", l.c_str());
    } else if (reply.starts_with("OK ")) {
        // One value: printed as it is, not as the line carries it.
        std::string value = reply.substr(3);
        try {
            if (auto words = automation::SplitWords(value); words.size() == 1)
                value = words[0];
        } catch (const std::invalid_argument&) {
        }
        std::fwrite(value.data(), 1, value.size(), stdout);
        std::fputc('\n', stdout);
    } else if (reply != "OK") {
        throw Exit{kFailed, "unexpected reply: " + reply};
    }
    ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Main(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Exit& e) {
        std::fprintf(stderr, "vintrel-auto: %s\n", e.message.c_str());
        if (e.showUsage)
            std::fputs(kUsage, stderr);
        return e.status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vintrel-auto: %s\n", e.what());
        return kFailed;
    }
}
