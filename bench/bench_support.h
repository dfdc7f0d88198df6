#pragma once
// Small helpers the benchmarks share.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Asks a running program's automation channel one question; its first reply
// line, "" when it cannot.
inline std::string Ask(const std::string& socketPath, const std::string& line)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return {};
    }
    std::string request = line + "\n", reply;
    [[maybe_unused]] auto w = ::write(fd, request.data(), request.size());
    char buf[4096];
    ssize_t n;
    while (reply.find('\n') == std::string::npos && (n = ::read(fd, buf, sizeof buf)) > 0)
        reply.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return reply.substr(0, reply.find('\n'));
}

} // namespace bench
