#pragma once
// The desktop session: the runtime state that the user's processes share.
// It lives in one folder ($VINTREL_SESSION, else $XDG_RUNTIME_DIR/vintrel, else
// /tmp/vintrel-<uid>), created with mode 0700 and refused when another user
// owns it, when it is a symbolic link, or when others may write to it. The
// shared tables (atoms, registered messages, windows, tray icons, the headless
// clipboard) are one SQLite database in it; each process also has its message
// socket there.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys/error.h"

struct sqlite3;

namespace session {

class SessionError : public sys::Error {
public:
    using sys::Error::Error;
};

// The folder this process uses, by the rules above (not checked).
std::string SessionFolderPath();
// Creates the folder (mode 0700) when it is missing and checks it; throws
// SessionError with a clear message when it may not be used.
void CheckSessionFolder(const std::string& path);

class Session {
public:
    // Opens the session at `folder` (checked, created when missing).
    explicit Session(const std::string& folder);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The session of this process, opened at SessionFolderPath() on first use.
    static Session& Current();
    // Drops the current session (tests that change $VINTREL_SESSION).
    static void ResetCurrent();

    const std::string& Folder() const { return m_folder; }
    std::string PathOf(const std::string& name) const { return m_folder + "/" + name; }

    // Runs `body` in one write transaction of the shared database.
    template <class F> auto Write(F&& body) -> decltype(body(static_cast<sqlite3*>(nullptr)));
    sqlite3* Db() const { return m_db; }

private:
    void Begin();
    void Commit();
    void Rollback();
    std::string m_folder;
    sqlite3* m_db = nullptr;
};

template <class F>
auto Session::Write(F&& body) -> decltype(body(static_cast<sqlite3*>(nullptr)))
{
    Begin();
    try {
        if constexpr (std::is_void_v<decltype(body(m_db))>) {
            body(m_db);
            Commit();
        } else {
            auto result = body(m_db);
            Commit();
            return result;
        }
    } catch (...) {
        Rollback();
        throw;
    }
}

// The identity of a live process: its pid and its start time, so that a
// reused pid is not taken for the process that died.
struct ProcessId {
    std::int64_t pid = 0;
    std::int64_t start = 0;
};
ProcessId ThisProcess();
bool ProcessAlive(const ProcessId& p);

// ---- global atoms ------------------------------------------------------------
// A text of 1 to 255 bytes gets an atom in 0xC000..0xFFFF; the same text in any
// letter case gets the same atom and raises its count; deleting lowers the
// count and the atom goes at zero.
using ATOM = std::uint16_t;
ATOM GlobalAddAtom(const std::string& text);
ATOM GlobalFindAtom(const std::string& text);
// Copies at most size-1 bytes of the atom's text and a terminating zero into
// `buffer`; returns the number of bytes copied, 0 (with an empty text) for an
// unknown atom or 0.
unsigned GlobalGetAtomName(ATOM atom, char* buffer, int size);
// Returns 0 when the count was lowered, the atom itself when it is unknown.
ATOM GlobalDeleteAtom(ATOM atom);

// ---- registered window messages -------------------------------------------------
// The same name (any letter case) gives the same number, 0xC000..0xFFFF, in every
// process of the session; 0 for an empty name.
unsigned RegisterWindowMessage(const std::string& name);

// ---- named mutexes ------------------------------------------------------------------
// Held by every process that created it, while it runs; it exists as long as
// one holder lives (the kernel drops a dead process's hold). Of several
// processes creating it at once, exactly one sees that it did not exist.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    bool AlreadyExisted() const { return m_alreadyExisted; }

private:
    int m_fd = -1;
    bool m_alreadyExisted = false;
};

} // namespace session
