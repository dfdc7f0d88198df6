#pragma once
// Prepared statements on the session store (private to platform/session).
#include <cstdint>
#include <sqlite3.h>
#include <string>

#include "platform/session/session.h"

namespace session::detail {

[[noreturn]] inline void Fail(sqlite3* db)
{
    throw SessionError(std::string("session store: ") + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// A prepared statement that finalises itself.
struct Stmt {
    sqlite3* db;
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* db_, const char* sql) : db(db_)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
            Fail(db);
    }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    Stmt& Bind(int i, std::int64_t v)
    {
        sqlite3_bind_int64(s, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v)
    {
        sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool Step()
    {
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        Fail(db);
    }
    bool IsNull(int col) { return sqlite3_column_type(s, col) == SQLITE_NULL; }
    std::int64_t Int(int col) { return sqlite3_column_int64(s, col); }
    std::string Text(int col)
    {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, col))) : std::string();
    }
};

} // namespace session::detail
