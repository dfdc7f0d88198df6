#include "platform/sys/clock.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <locale.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace sys {

void ThrowErrno(const std::string& what, int err)
{
    throw Error(what + ": " + std::strerror(err));
}

// ---- files ---------------------------------------------------------------

std::string ExecutablePath()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n < 0)
        ThrowErrno("cannot find the program file", errno);
    return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableFolder()
{
    std::string p = ExecutablePath();
    auto slash = p.rfind('/');
    return slash == 0 ? std::string("/") : p.substr(0, slash);
}

namespace {
struct Fd {
    int fd = -1;
    ~Fd() { if (fd >= 0) ::close(fd); }
};
}

AtomicWriter::AtomicWriter(const std::string& path) : m_path(path)
{
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    // A file marked read-only stays as it is, whoever asks (root included).
    if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
        ThrowErrno("cannot write " + path, EACCES);
    if (exists && S_ISDIR(st.st_mode))
        ThrowErrno("cannot write " + path, EISDIR);
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    m_temp = dir + "/." + base + ".XXXXXX";
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    if (m_fd < 0)
        ThrowErrno("cannot write " + path, errno);
    // Keep the old file's permissions where there is one, else the usual 0644
    // less the umask.
    if (exists) {
        ::fchmod(m_fd, st.st_mode & 07777);
    } else {
        mode_t um = ::umask(0);
        ::umask(um);
        ::fchmod(m_fd, 0666 & ~um);
    }
}

AtomicWriter::~AtomicWriter()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temp.c_str());
    }
}

void AtomicWriter::Commit(std::string_view content)
{
    if (m_fd < 0)
        throw Error("cannot write " + m_path + ": already written");
    const char* p = content.data();
    size_t left = content.size();
    auto fail = [&](int err) {
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_temp.c_str());
        ThrowErrno("cannot write " + m_path, err);
    };
    while (left > 0) {
        ssize_t w = ::write(m_fd, p, left);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    if (::fsync(m_fd) != 0)
        fail(errno);
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(m_temp.c_str());
        ThrowErrno("cannot write " + m_path, err);
    }
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        int err = errno;
        ::unlink(m_temp.c_str());
        ThrowErrno("cannot write " + m_path, err);
    }
}

void WriteFileAtomic(const std::string& path, std::string_view content)
{
    AtomicWriter(path).Commit(content);
}

std::string ReadFile(const std::string& path)
{
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0)
        ThrowErrno("cannot open " + path, errno);
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno("cannot read " + path, errno);
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::string data = ReadFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        lines.emplace_back(data, start, i - start);
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < data.size())
        lines.emplace_back(data, start, data.size() - start);
    return lines;
}

void AppendToFile(const std::string& path, std::string_view text)
{
    Fd f;
    f.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (f.fd < 0)
        ThrowErrno("cannot open " + path + " for appending", errno);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t w = ::write(f.fd, p, left);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno("cannot write " + path, errno);
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    if (::close(f.fd) != 0) {
        f.fd = -1;
        ThrowErrno("cannot write " + path, errno);
    }
    f.fd = -1;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectories(const std::string& path, unsigned mode)
{
    if (path.empty() || IsDirectory(path))
        return;
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(path.substr(0, slash), mode);
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        ThrowErrno("cannot create folder " + path, errno);
}

std::string GetEnv(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// ---- text ----------------------------------------------------------------

std::string LowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> Split(std::string_view s, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        auto pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

int StrToInt(const std::string& text)
{
    auto bad = [&]() -> int { throw Error("'" + text + "' is not a valid integer value"); };
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return bad();
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return bad();
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            return bad();
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return bad();
    return static_cast<int>(value);
}

int CompareCollated(const std::string& a, const std::string& b)
{
    // The environment's collation, looked up once; "C" when it names none.
    static locale_t collation = [] {
        locale_t l = ::newlocale(LC_COLLATE_MASK, "", static_cast<locale_t>(nullptr));
        return l ? l : ::newlocale(LC_COLLATE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return ::strcoll_l(a.c_str(), b.c_str(), collation);
}

// ---- time and chance -------------------------------------------------------

namespace {
std::mutex g_tickMutex;
std::function<std::uint32_t()> g_tickSource;
std::atomic<std::uint32_t> g_seed{0};
}

std::uint32_t GetTickCount()
{
    {
        std::lock_guard lock(g_tickMutex);
        if (g_tickSource)
            return g_tickSource();
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void SetTickSource(std::function<std::uint32_t()> source)
{
    std::lock_guard lock(g_tickMutex);
    g_tickSource = std::move(source);
}

void Randomize()
{
    auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
    g_seed = static_cast<std::uint32_t>(ns ^ (ns >> 32));
}

void SetRandSeed(std::uint32_t seed) { g_seed = seed; }
std::uint32_t RandSeed() { return g_seed; }

std::int32_t Random(std::int32_t range)
{
    std::uint32_t s = g_seed.load() * 0x08088405u + 1u;
    g_seed = s;
    if (range <= 0)
        return 0;
    return static_cast<std::int32_t>((static_cast<std::uint64_t>(s) * static_cast<std::uint32_t>(range)) >> 32);
}

} // namespace sys
