#pragma once
// Small helpers the benchmarks share.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "platform/sys/files.h"

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

// A list file of `count` entries of about 60 bytes, the first one the
// picture `first` of the folder.
inline void WriteList(const std::string& folder, const std::string& first, int count)
{
    std::string content = folder + "/" + first + "\r\n";
    for (int i = 1; i < count; ++i)
        content += "/home/someone/Pictures/holidays/2024/summer/photo-" + std::to_string(100000 + i) + ".jpg\r\n";
    sys::WriteFileAtomic(folder + "/files.ini", content);
}

// A field of /proc/PROCESS/status in kB ("VmRSS:", "VmHWM:"); 0 when missing.
inline long StatusKb(const std::string& process, const char* field)
{
    std::ifstream in("/proc/" + process + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    return 0;
}

} // namespace bench
