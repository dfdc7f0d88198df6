#include "platform/session/session.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/session/store.h"
#include "platform/sys/files.h"

namespace session {

using detail::Stmt;

// ---- the folder --------------------------------------------------------------

std::string SessionFolderPath()
{
    if (std::string s = sys::GetEnv("VINTREL_SESSION"); !s.empty())
        return s;
    if (std::string r = sys::GetEnv("XDG_RUNTIME_DIR"); !r.empty())
        return r + "/vintrel";
    return "/tmp/vintrel-" + std::to_string(::getuid());
}

void CheckSessionFolder(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw SessionError("cannot use the session folder " + path + ": " + std::strerror(errno));
        auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            sys::MakeDirectories(path.substr(0, slash), 0700);
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            throw SessionError("cannot create the session folder " + path + ": " + std::strerror(errno));
        if (::lstat(path.c_str(), &st) != 0)
            throw SessionError("cannot use the session folder " + path + ": " + std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode))
        throw SessionError("the session folder " + path + " is a symbolic link; refusing to use it");
    if (!S_ISDIR(st.st_mode))
        throw SessionError("the session folder " + path + " is not a folder");
    if (st.st_uid != ::getuid())
        throw SessionError("the session folder " + path + " belongs to another user; refusing to use it");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        throw SessionError("the session folder " + path + " can be written by others; refusing to use it");
}

// ---- the shared database -------------------------------------------------------

namespace {

// The store was locked past the busy handler's patience.
struct StoreBusy : SessionError {
    using SessionError::SessionError;
};

void Exec(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err); rc != SQLITE_OK) {
        std::string msg = std::string("session store: ") + (err ? err : "unknown error");
        sqlite3_free(err);
        if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
            throw StoreBusy(msg);
        throw SessionError(msg);
    }
}

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS atoms(atom INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE NOCASE UNIQUE,
                                 count INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS messages(msg INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE NOCASE UNIQUE);
CREATE TABLE IF NOT EXISTS windows(hwnd INTEGER PRIMARY KEY AUTOINCREMENT, class TEXT NOT NULL,
                                   pid INTEGER NOT NULL, start INTEGER NOT NULL, parent INTEGER NOT NULL,
                                   visible INTEGER NOT NULL, title TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tray(owner INTEGER NOT NULL, id INTEGER NOT NULL, flags INTEGER NOT NULL,
                                callback INTEGER NOT NULL, icon INTEGER NOT NULL, tip TEXT NOT NULL,
                                pid INTEGER NOT NULL, start INTEGER NOT NULL, PRIMARY KEY(owner, id));
CREATE TABLE IF NOT EXISTS state(key TEXT PRIMARY KEY, value);
INSERT OR IGNORE INTO sqlite_sequence(name, seq) SELECT 'windows', 65536
  WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'windows');
)";

std::mutex g_currentMutex;
std::unique_ptr<Session> g_current;

} // namespace

Session::Session(const std::string& folder) : m_folder(folder)
{
    CheckSessionFolder(folder);
    std::string path = PathOf("session.sqlite3");
    int rc = sqlite3_open_v2(path.c_str(), &m_db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw SessionError("cannot open the session store " + path + ": " + msg);
    }
    ::chmod(path.c_str(), 0600);
    sqlite3_busy_timeout(m_db, 10000);
    try {
        // The session is runtime state: losing it with the machine is fine,
        // so it trades durability for speed.
        // Processes that open a new store at the same moment can see it
        // locked before the busy handler applies; they wait their turn.
        for (int attempt = 0;; ++attempt) {
            try {
                Exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
                Write([](sqlite3* db) { Exec(db, kSchema); });
                break;
            } catch (const StoreBusy&) {
                if (attempt >= 500)
                    throw;
                ::usleep(20000);
            }
        }
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

Session::~Session() { sqlite3_close(m_db); }

Session& Session::Current()
{
    std::lock_guard lock(g_currentMutex);
    if (!g_current)
        g_current = std::make_unique<Session>(SessionFolderPath());
    return *g_current;
}

void Session::ResetCurrent()
{
    std::lock_guard lock(g_currentMutex);
    g_current.reset();
}

void Session::Begin() { Exec(m_db, "BEGIN IMMEDIATE"); }
void Session::Commit() { Exec(m_db, "COMMIT"); }
void Session::Rollback() { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }

// ---- processes -----------------------------------------------------------------

namespace {
std::int64_t StartTimeOf(std::int64_t pid)
{
    std::string stat;
    try {
        stat = sys::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    } catch (const sys::Error&) {
        return -1;
    }
    // Field 22, counted after the command name in parentheses (which may
    // itself hold blanks and parentheses).
    auto close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    size_t pos = close + 2;
    for (int field = 3; field < 22; ++field) {
        pos = stat.find(' ', pos);
        if (pos == std::string::npos)
            return -1;
        ++pos;
    }
    return std::strtoll(stat.c_str() + pos, nullptr, 10);
}
}

ProcessId ThisProcess()
{
    static const ProcessId self{::getpid(), StartTimeOf(::getpid())};
    // A forked child has its own pid: look again when it differs.
    if (self.pid != ::getpid())
        return {::getpid(), StartTimeOf(::getpid())};
    return self;
}

bool ProcessAlive(const ProcessId& p)
{
    if (p.pid <= 0)
        return false;
    return StartTimeOf(p.pid) == p.start;
}

// ---- atoms and registered messages ------------------------------------------------

namespace {
constexpr std::int64_t kFirstAtom = 0xC000, kLastAtom = 0xFFFF;

// The lowest free number of a table's range.
std::int64_t FreeNumber(sqlite3* db, const char* maxSql, const char* listSql)
{
    Stmt max(db, maxSql);
    std::int64_t next = max.Step() && !max.IsNull(0) ? max.Int(0) + 1 : kFirstAtom;
    if (next <= kLastAtom)
        return next;
    Stmt all(db, listSql);
    std::int64_t want = kFirstAtom;
    while (all.Step() && all.Int(0) == want)
        ++want;
    if (want > kLastAtom)
        throw SessionError("the atom table is full");
    return want;
}
}

ATOM GlobalAddAtom(const std::string& text)
{
    if (text.empty() || text.size() > 255)
        return 0;
    return Session::Current().Write([&](sqlite3* db) -> ATOM {
        Stmt find(db, "SELECT atom FROM atoms WHERE name = ?");
        find.Bind(1, text);
        if (find.Step()) {
            auto atom = find.Int(0);
            Stmt(db, "UPDATE atoms SET count = count + 1 WHERE atom = ?").Bind(1, atom).Step();
            return static_cast<ATOM>(atom);
        }
        auto atom = FreeNumber(db, "SELECT MAX(atom) FROM atoms", "SELECT atom FROM atoms ORDER BY atom");
        Stmt(db, "INSERT INTO atoms(atom, name, count) VALUES(?, ?, 1)").Bind(1, atom).Bind(2, text).Step();
        return static_cast<ATOM>(atom);
    });
}

ATOM GlobalFindAtom(const std::string& text)
{
    if (text.empty() || text.size() > 255)
        return 0;
    Stmt find(Session::Current().Db(), "SELECT atom FROM atoms WHERE name = ?");
    find.Bind(1, text);
    return find.Step() ? static_cast<ATOM>(find.Int(0)) : 0;
}

unsigned GlobalGetAtomName(ATOM atom, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    if (atom < kFirstAtom)
        return 0;
    Stmt get(Session::Current().Db(), "SELECT name FROM atoms WHERE atom = ?");
    get.Bind(1, atom);
    if (!get.Step())
        return 0;
    std::string name = get.Text(0);
    size_t n = std::min(name.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

ATOM GlobalDeleteAtom(ATOM atom)
{
    if (atom < kFirstAtom)
        return atom;
    return Session::Current().Write([&](sqlite3* db) -> ATOM {
        Stmt get(db, "SELECT count FROM atoms WHERE atom = ?");
        get.Bind(1, atom);
        if (!get.Step())
            return atom;
        if (get.Int(0) <= 1)
            Stmt(db, "DELETE FROM atoms WHERE atom = ?").Bind(1, atom).Step();
        else
            Stmt(db, "UPDATE atoms SET count = count - 1 WHERE atom = ?").Bind(1, atom).Step();
        return 0;
    });
}

unsigned RegisterWindowMessage(const std::string& name)
{
    if (name.empty())
        return 0;
    return Session::Current().Write([&](sqlite3* db) -> unsigned {
        Stmt find(db, "SELECT msg FROM messages WHERE name = ?");
        find.Bind(1, name);
        if (find.Step())
            return static_cast<unsigned>(find.Int(0));
        auto msg = FreeNumber(db, "SELECT MAX(msg) FROM messages", "SELECT msg FROM messages ORDER BY msg");
        Stmt(db, "INSERT INTO messages(msg, name) VALUES(?, ?)").Bind(1, msg).Bind(2, name).Step();
        return static_cast<unsigned>(msg);
    });
}

// ---- named mutexes -----------------------------------------------------------------

NamedMutex::NamedMutex(const std::string& name)
{
    Session& s = Session::Current();
    std::string hex;
    static const char* digits = "0123456789abcdef";
    for (unsigned char c : name) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    // Creators take turns under the guard, so that between "nobody holds it"
    // and "I hold it" no other creator can look.
    int guard = ::open(s.PathOf("mutexes.guard").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (guard < 0)
        sys::ThrowErrno("cannot create the mutex " + name, errno);
    while (::flock(guard, LOCK_EX) != 0 && errno == EINTR) {
    }
    m_fd = ::open(s.PathOf("mutex-" + hex.substr(0, 200) + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        int err = errno;
        ::close(guard);
        sys::ThrowErrno("cannot create the mutex " + name, err);
    }
    m_alreadyExisted = ::flock(m_fd, LOCK_EX | LOCK_NB) != 0;
    while (::flock(m_fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    ::close(guard);
}

NamedMutex::~NamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace session
