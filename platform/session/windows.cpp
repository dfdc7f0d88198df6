#include "platform/session/windows.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/session/session.h"
#include "platform/session/store.h"

namespace session {

using detail::Stmt;

namespace {

// ---- the store -------------------------------------------------------------------

// The owner of a window: its process, so a message can reach it.
struct Owner {
    HWND hwnd = 0;
    ProcessId process;
};

std::optional<Owner> OwnerOf(HWND hwnd)
{
    Stmt q(Session::Current().Db(), "SELECT pid, start FROM windows WHERE hwnd = ?");
    q.Bind(1, hwnd);
    if (!q.Step())
        return std::nullopt;
    return Owner{hwnd, {q.Int(0), q.Int(1)}};
}

// Removes the windows and tray icons of a process that has gone.
void ForgetProcess(const ProcessId& p)
{
    Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "DELETE FROM windows WHERE pid = ? AND start = ?").Bind(1, p.pid).Bind(2, p.start).Step();
        Stmt(db, "DELETE FROM tray WHERE pid = ? AND start = ?").Bind(1, p.pid).Bind(2, p.start).Step();
    });
}

std::string SocketPathOf(std::int64_t pid)
{
    return Session::Current().PathOf("msg-" + std::to_string(pid) + ".sock");
}

// ---- the wire -----------------------------------------------------------------------

constexpr std::uint32_t kMagic = 0x56574d31;   // "VWM1"
constexpr std::uint32_t kPost = 1, kSend = 2;
constexpr std::uint32_t kMaxData = 64u << 20;

struct Frame {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint32_t hwnd;
    std::uint32_t msg;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint64_t dwData;
    std::uint32_t size;
    std::uint32_t reserved;
};
static_assert(sizeof(Frame) == 48);

bool WriteAll(int fd, const void* data, size_t size)
{
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size)
{
    auto p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

sockaddr_un AddressOf(const std::string& path)
{
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        throw SessionError("the session folder's path is too long for a socket: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

// Connects to the process owning `owner`; -1 when it is gone (and then its
// windows leave the directory).
int ConnectTo(const Owner& owner)
{
    if (!ProcessAlive(owner.process)) {
        ForgetProcess(owner.process);
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr = AddressOf(SocketPathOf(owner.process.pid));
    while (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINTR)
            continue;
        ::close(fd);
        if (errno == ECONNREFUSED || errno == ENOENT)
            ForgetProcess(owner.process);
        return -1;
    }
    return fd;
}

std::mutex g_portMutex;
std::unique_ptr<MessagePort> g_port;

} // namespace

struct PortAccess {
    static MessagePort* Make() { return new MessagePort(); }
};

// ---- the port ---------------------------------------------------------------------------

MessagePort& MessagePort::Current()
{
    std::lock_guard lock(g_portMutex);
    if (!g_port || (g_port && g_port->m_path != SocketPathOf(::getpid())))
        g_port.reset(PortAccess::Make());
    return *g_port;
}

void MessagePort::ResetCurrent()
{
    std::lock_guard lock(g_portMutex);
    g_port.reset();
}

MessagePort::MessagePort()
{
    m_path = SocketPathOf(::getpid());
    ::unlink(m_path.c_str());
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        sys::ThrowErrno("cannot open the message socket", errno);
    sockaddr_un addr = AddressOf(m_path);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_fd, SOMAXCONN) != 0) {
        int err = errno;
        ::close(m_fd);
        sys::ThrowErrno("cannot open the message socket " + m_path, err);
    }
}

MessagePort::~MessagePort()
{
    // A forked child shares the parent's port object but not its identity.
    if (m_path == SocketPathOf(::getpid())) {
        try {
            ProcessId self = ThisProcess();
            Session::Current().Write([&](sqlite3* db) {
                for (auto& [hwnd, proc] : m_windows)
                    Stmt(db, "DELETE FROM windows WHERE hwnd = ?").Bind(1, hwnd).Step();
                Stmt(db, "DELETE FROM tray WHERE pid = ? AND start = ?").Bind(1, self.pid).Bind(2, self.start).Step();
            });
        } catch (...) {
        }
        ::unlink(m_path.c_str());
    }
    ::close(m_fd);
}

HWND MessagePort::CreateWindow(const std::string& className, HWND parent, WindowProc proc, bool visible,
                               const std::string& title)
{
    ProcessId self = ThisProcess();
    auto hwnd = Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "INSERT INTO windows(class, pid, start, parent, visible, title) VALUES(?, ?, ?, ?, ?, ?)")
            .Bind(1, className).Bind(2, self.pid).Bind(3, self.start).Bind(4, parent)
            .Bind(5, visible ? 1 : 0).Bind(6, title).Step();
        return static_cast<HWND>(sqlite3_last_insert_rowid(db));
    });
    m_windows.emplace_back(hwnd, std::make_shared<WindowProc>(std::move(proc)));
    return hwnd;
}

void MessagePort::DestroyWindow(HWND hwnd)
{
    std::erase_if(m_windows, [hwnd](const auto& w) { return w.first == hwnd; });
    Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "DELETE FROM windows WHERE hwnd = ?").Bind(1, hwnd).Step();
        Stmt(db, "DELETE FROM tray WHERE owner = ?").Bind(1, hwnd).Step();
    });
}

void MessagePort::SetWindowState(HWND hwnd, bool visible, const std::string& title)
{
    Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "UPDATE windows SET visible = ?, title = ? WHERE hwnd = ?")
            .Bind(1, visible ? 1 : 0).Bind(2, title).Bind(3, hwnd).Step();
    });
}

std::int64_t MessagePort::Deliver(const Message& m)
{
    std::shared_ptr<WindowProc> proc;
    for (auto& [hwnd, p] : m_windows)
        if (hwnd == m.hwnd)
            proc = p;
    if (!proc || !*proc)
        return 0;
    return (*proc)(m);
}

void MessagePort::Dispatch()
{
    for (;;) {
        int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;   // nothing more waiting (EAGAIN) or a transient error
        }
        // A peer that stalls mid-message must not freeze the loop for long.
        timeval tv {5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        Frame f {};
        Message m;
        bool ok = ReadAll(fd, &f, sizeof f) && f.magic == kMagic && (f.kind == kPost || f.kind == kSend) &&
                  f.size <= kMaxData;
        if (ok) {
            m.hwnd = f.hwnd;
            m.msg = f.msg;
            m.wParam = f.wParam;
            m.lParam = f.lParam;
            m.dwData = f.dwData;
            m.data.resize(f.size);
            ok = f.size == 0 || ReadAll(fd, m.data.data(), f.size);
        }
        if (!ok) {
            ::close(fd);
            continue;   // garbage or a broken peer: dropped
        }
        std::int64_t result = 0;
        try {
            result = Deliver(m);
        } catch (...) {
            if (f.kind == kSend) {
                std::int64_t zero = 0;
                WriteAll(fd, &zero, sizeof zero);
            }
            ::close(fd);
            throw;   // the loop shows it in the standard error box
        }
        if (f.kind == kSend)
            WriteAll(fd, &result, sizeof result);
        ::close(fd);
    }
}

// ---- messages ------------------------------------------------------------------------------

namespace {

std::optional<std::int64_t> Transmit(HWND hwnd, std::uint32_t kind, unsigned msg, std::uint64_t wParam,
                                     std::int64_t lParam, std::uint64_t dwData, const void* data, size_t size)
{
    if (size > kMaxData)
        throw SessionError("a message block of " + std::to_string(size) + " bytes is too large");
    auto owner = OwnerOf(hwnd);
    if (!owner)
        return std::nullopt;
    // Within this process a sent message is a call; a posted one still goes
    // through the socket so it waits its turn in the loop.
    if (kind == kSend && owner->process.pid == ::getpid()) {
        Message m{hwnd, msg, wParam, lParam, dwData, {}};
        if (size)
            m.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
        return MessagePort::Current().Deliver(m);
    }
    int fd = ConnectTo(*owner);
    if (fd < 0)
        return std::nullopt;
    Frame f{kMagic, kind, hwnd, msg, wParam, lParam, dwData, static_cast<std::uint32_t>(size), 0};
    bool ok = WriteAll(fd, &f, sizeof f) && (size == 0 || WriteAll(fd, data, size));
    std::int64_t result = 0;
    if (ok && kind == kSend)
        ok = ReadAll(fd, &result, sizeof result);
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return result;
}

} // namespace

bool PostMessage(HWND hwnd, unsigned msg, std::uint64_t wParam, std::int64_t lParam)
{
    return Transmit(hwnd, kPost, msg, wParam, lParam, 0, nullptr, 0).has_value();
}

std::int64_t SendMessage(HWND hwnd, unsigned msg, std::uint64_t wParam, std::int64_t lParam)
{
    return Transmit(hwnd, kSend, msg, wParam, lParam, 0, nullptr, 0).value_or(0);
}

std::int64_t SendCopyData(HWND hwnd, HWND from, std::uint64_t dwData, const void* data, std::size_t size)
{
    return Transmit(hwnd, kSend, WM_COPYDATA, from, 0, dwData, data, size).value_or(0);
}

HWND FindWindow(const std::string& className)
{
    for (;;) {
        Stmt q(Session::Current().Db(),
               "SELECT hwnd, pid, start FROM windows WHERE class = ? AND parent = 0 ORDER BY hwnd LIMIT 1");
        q.Bind(1, className);
        if (!q.Step())
            return 0;
        ProcessId p{q.Int(1), q.Int(2)};
        auto hwnd = static_cast<HWND>(q.Int(0));
        if (ProcessAlive(p))
            return hwnd;
        ForgetProcess(p);
    }
}

bool IsWindow(HWND hwnd)
{
    auto owner = OwnerOf(hwnd);
    if (!owner)
        return false;
    if (ProcessAlive(owner->process))
        return true;
    ForgetProcess(owner->process);
    return false;
}

std::vector<WindowInfo> EnumWindows()
{
    std::vector<WindowInfo> out;
    std::vector<ProcessId> dead;
    {
        Stmt q(Session::Current().Db(),
               "SELECT hwnd, class, pid, start, parent, visible, title FROM windows ORDER BY hwnd");
        while (q.Step()) {
            ProcessId p{q.Int(2), q.Int(3)};
            if (!ProcessAlive(p)) {
                dead.push_back(p);
                continue;
            }
            out.push_back({static_cast<HWND>(q.Int(0)), q.Text(1), p.pid, static_cast<HWND>(q.Int(4)),
                           q.Int(5) != 0, q.Text(6)});
        }
    }
    for (auto& p : dead)
        ForgetProcess(p);
    return out;
}

bool ShowWindow(HWND hwnd, int cmd)
{
    return PostMessage(hwnd, VM_SHOWWINDOW, static_cast<std::uint64_t>(cmd), 0);
}

bool SetForegroundWindow(HWND hwnd)
{
    if (!IsWindow(hwnd))
        return false;
    NoteForegroundWindow(hwnd);
    return PostMessage(hwnd, VM_SETFOREGROUND, 0, 0);
}

HWND GetForegroundWindow()
{
    Stmt q(Session::Current().Db(), "SELECT value FROM state WHERE key = 'foreground'");
    if (!q.Step())
        return 0;
    auto hwnd = static_cast<HWND>(q.Int(0));
    return IsWindow(hwnd) ? hwnd : 0;
}

void NoteForegroundWindow(HWND hwnd)
{
    Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "INSERT OR REPLACE INTO state(key, value) VALUES('foreground', ?)").Bind(1, hwnd).Step();
    });
}

bool GetCursorPos(POINT* point)
{
    if (!point)
        return false;
    if (CursorPositionSource() && CursorPositionSource()(*point))
        return true;
    *point = {100, 100};
    return true;
}

std::function<bool(POINT&)>& CursorPositionSource()
{
    static std::function<bool(POINT&)> source;
    return source;
}

// ---- tray ---------------------------------------------------------------------------------

bool Shell_NotifyIcon(unsigned message, const NOTIFYICONDATA* data)
{
    if (!data || data->cbSize < sizeof(NOTIFYICONDATA))
        return false;
    ProcessId self = ThisProcess();
    std::string tip(data->szTip, strnlen(data->szTip, sizeof data->szTip));
    bool done = Session::Current().Write([&](sqlite3* db) -> bool {
        switch (message) {
        case NIM_ADD: {
            Stmt exists(db, "SELECT 1 FROM tray WHERE owner = ? AND id = ?");
            exists.Bind(1, data->hWnd).Bind(2, data->uID);
            if (exists.Step())
                return false;
            Stmt(db, "INSERT INTO tray(owner, id, flags, callback, icon, tip, pid, start) VALUES(?,?,?,?,?,?,?,?)")
                .Bind(1, data->hWnd).Bind(2, data->uID).Bind(3, data->uFlags)
                .Bind(4, (data->uFlags & NIF_MESSAGE) ? data->uCallbackMessage : 0)
                .Bind(5, (data->uFlags & NIF_ICON) ? data->hIcon : 0)
                .Bind(6, (data->uFlags & NIF_TIP) ? tip : std::string())
                .Bind(7, self.pid).Bind(8, self.start).Step();
            return true;
        }
        case NIM_MODIFY: {
            Stmt(db, "UPDATE tray SET flags = ?, callback = CASE WHEN ? THEN ? ELSE callback END,"
                     " icon = CASE WHEN ? THEN ? ELSE icon END, tip = CASE WHEN ? THEN ? ELSE tip END"
                     " WHERE owner = ? AND id = ?")
                .Bind(1, data->uFlags).Bind(2, (data->uFlags & NIF_MESSAGE) != 0).Bind(3, data->uCallbackMessage)
                .Bind(4, (data->uFlags & NIF_ICON) != 0).Bind(5, data->hIcon)
                .Bind(6, (data->uFlags & NIF_TIP) != 0).Bind(7, tip)
                .Bind(8, data->hWnd).Bind(9, data->uID).Step();
            return sqlite3_changes(db) > 0;
        }
        case NIM_DELETE:
            Stmt(db, "DELETE FROM tray WHERE owner = ? AND id = ?").Bind(1, data->hWnd).Bind(2, data->uID).Step();
            return sqlite3_changes(db) > 0;
        default:
            return false;
        }
    });
    if (done && TrayObserver())
        TrayObserver()(message, TrayIcon{data->hWnd, data->uID, data->uFlags, data->uCallbackMessage, data->hIcon, tip, self.pid});
    return done;
}

std::function<void(unsigned message, const TrayIcon& icon)>& TrayObserver()
{
    static std::function<void(unsigned, const TrayIcon&)> observer;
    return observer;
}

std::vector<TrayIcon> TrayIcons()
{
    std::vector<TrayIcon> out;
    std::vector<ProcessId> dead;
    {
        Stmt q(Session::Current().Db(),
               "SELECT owner, id, flags, callback, icon, tip, pid, start FROM tray ORDER BY rowid");
        while (q.Step()) {
            ProcessId p{q.Int(6), q.Int(7)};
            if (!ProcessAlive(p)) {
                dead.push_back(p);
                continue;
            }
            out.push_back({static_cast<HWND>(q.Int(0)), static_cast<unsigned>(q.Int(1)),
                           static_cast<unsigned>(q.Int(2)), static_cast<unsigned>(q.Int(3)),
                           static_cast<unsigned>(q.Int(4)), q.Text(5), p.pid});
        }
    }
    for (auto& p : dead)
        ForgetProcess(p);
    return out;
}

bool ClickTrayIcon(HWND owner, unsigned id, unsigned mouseMessage)
{
    for (const auto& icon : TrayIcons())
        if (icon.owner == owner && icon.id == id && icon.callbackMessage != 0)
            return PostMessage(owner, icon.callbackMessage, id, mouseMessage);
    return false;
}

// ---- clipboard -------------------------------------------------------------------------------

std::string SessionClipboardText()
{
    Stmt q(Session::Current().Db(), "SELECT value FROM state WHERE key = 'clipboard'");
    return q.Step() ? q.Text(0) : std::string();
}

void SetSessionClipboardText(const std::string& text)
{
    Session::Current().Write([&](sqlite3* db) {
        Stmt(db, "INSERT OR REPLACE INTO state(key, value) VALUES('clipboard', ?)").Bind(1, text).Step();
    });
}

} // namespace session
