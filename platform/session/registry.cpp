#include "platform/session/registry.h"

#include "platform/sys/files.h"
#include "platform/sys/text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

// ---- names and paths -------------------------------------------------------

namespace {

constexpr RootKey kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
constexpr const char* kShortRootNames[] = {"HKCR", "HKCU", "HKLM"};

// The components of a key path; empty ones (leading, trailing or doubled
// backslashes) are dropped.
std::vector<std::string> PathParts(const std::string& key)
{
    std::vector<std::string> parts;
    for (auto& part : sys::Split(key, '\\'))
        if (!part.empty())
            parts.push_back(std::move(part));
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts)
{
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : "\\") + part;
    return out;
}

// The program the desktop opens documents with: xdg-open from $PATH.
std::string DesktopOpener()
{
    for (const auto& dir : sys::Split(sys::GetEnv("PATH"), ':')) {
        if (dir.empty() || dir[0] != '/')
            continue;
        std::string candidate = dir + "/xdg-open";
        if (sys::FileExists(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "/usr/bin/xdg-open";
}

} // namespace

const char* RootKeyName(RootKey root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    }
    return "";
}

std::optional<RootKey> ParseRootKey(const std::string& name)
{
    for (size_t i = 0; i < std::size(kRoots); ++i)
        if (sys::EqualNoCase(name, RootKeyName(kRoots[i])) || sys::EqualNoCase(name, kShortRootNames[i]))
            return kRoots[i];
    return std::nullopt;
}

std::string RegistryPath()
{
    if (std::string path = sys::GetEnv("VINTREL_REGISTRY"); !path.empty())
        return path;
    std::string config = sys::GetEnv("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {   // a relative one is to be ignored
        std::string home = sys::GetEnv("HOME");
        if (home.empty()) {
            const passwd* pw = ::getpwuid(::getuid());
            if (!pw || !pw->pw_dir || !*pw->pw_dir)
                throw RegistryError("cannot find the registry store: $HOME is not set");
            home = pw->pw_dir;
        }
        config = home + "/.config";
    }
    return config + "/vintrel/registry.sqlite3";
}

// ---- the store -----------------------------------------------------------
//
// Keys form a tree in one table; the three roots are rows 1 to 3 so that
// values may sit on a root as well. Names are declared COLLATE NOCASE, which
// folds ASCII only, so lookups and the unique indexes ignore ASCII case and
// the stored name keeps its first spelling. Rows come back in rowid order,
// which is creation order (an upsert keeps the row).

namespace {

constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"(
CREATE TABLE keys(
    id     INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES keys(id),
    name   TEXT NOT NULL COLLATE NOCASE);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, name);
CREATE TABLE vals(
    key  INTEGER NOT NULL REFERENCES keys(id),
    name TEXT NOT NULL COLLATE NOCASE,
    type INTEGER NOT NULL,
    data,
    UNIQUE(key, name));
INSERT INTO keys(id, parent, name) VALUES
    (1, NULL, 'HKEY_CLASSES_ROOT'), (2, NULL, 'HKEY_CURRENT_USER'), (3, NULL, 'HKEY_LOCAL_MACHINE');
)";

// A key and everything below it, as a CTE over ?1.
#define VINTREL_SUBTREE \
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "

std::int64_t RootId(RootKey root) { return static_cast<std::int64_t>(root) + 1; }

} // namespace

struct RegistryStore::Impl {
    std::string path;
    sqlite3* db = nullptr;
    std::mutex mutex;           // one call at a time on this connection
    bool writing = false;       // for the wording of errors
    std::map<const char*, sqlite3_stmt*> statements;
    std::vector<std::pair<RootKey, std::vector<std::string>>> denied;   // lower-case paths

    explicit Impl(std::string p);
    bool Denied(RootKey root, const std::string& key) const
    {
        std::vector<std::string> parts = PathParts(sys::LowerAscii(key));
        for (const auto& [r, prefix] : denied)
            if (r == root && prefix.size() <= parts.size() && std::equal(prefix.begin(), prefix.end(), parts.begin()))
                return true;
        return false;
    }
    void CheckWritable(RootKey root, const std::string& key) const
    {
        if (Denied(root, key))
            throw RegistryError(std::string("access is denied to ") + RootKeyName(root) + "\\" + JoinPath(PathParts(key)));
    }
    ~Impl() { Close(); }
    void Close();

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw RegistryError("registry store " + path + " " + what);
    }
    [[noreturn]] void FailSqlite() const
    {
        Fail(std::string(writing ? "cannot be written: " : "cannot be read: ") + sqlite3_errmsg(db));
    }
    void Exec(const char* sql)
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            FailSqlite();
    }

    // A cached statement, reset when the Stmt goes out of scope.
    class Stmt {
    public:
        Stmt(Impl& impl, const char* sql) : m_impl(impl)
        {
            sqlite3_stmt*& st = impl.statements[sql];
            if (!st && sqlite3_prepare_v3(impl.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
                impl.FailSqlite();
            m_st = st;
        }
        ~Stmt()
        {
            sqlite3_reset(m_st);
            sqlite3_clear_bindings(m_st);
        }
        Stmt(const Stmt&) = delete;
        Stmt& operator=(const Stmt&) = delete;

        Stmt& Bind(std::int64_t v) { return Check(sqlite3_bind_int64(m_st, ++m_bound, v)); }
        Stmt& Bind(const std::string& v)
        {
            return Check(sqlite3_bind_text(m_st, ++m_bound, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        }
        // True while there is a row.
        bool Step()
        {
            int rc = sqlite3_step(m_st);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                m_impl.FailSqlite();
            return rc == SQLITE_ROW;
        }
        std::int64_t Int(int col) { return sqlite3_column_int64(m_st, col); }
        std::string Text(int col)
        {
            auto p = reinterpret_cast<const char*>(sqlite3_column_text(m_st, col));
            return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_st, col))) : std::string();
        }

    private:
        Stmt& Check(int rc)
        {
            if (rc != SQLITE_OK)
                m_impl.FailSqlite();
            return *this;
        }
        Impl& m_impl;
        sqlite3_stmt* m_st = nullptr;
        int m_bound = 0;
    };

    // BEGIN (IMMEDIATE for a write, so that writers queue on the busy timeout
    // instead of failing on a lock upgrade); rolled back unless committed.
    class Transaction {
    public:
        Transaction(Impl& impl, bool write) : m_impl(impl)
        {
            impl.writing = write;
            impl.Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        }
        ~Transaction()
        {
            if (!m_done)
                sqlite3_exec(m_impl.db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void Commit()
        {
            m_impl.Exec("COMMIT");
            m_done = true;
        }

    private:
        Impl& m_impl;
        bool m_done = false;
    };

    std::int64_t UserVersion()
    {
        Stmt st(*this, "PRAGMA user_version");
        st.Step();
        return st.Int(0);
    }

    std::optional<std::int64_t> Find(RootKey root, const std::string& key)
    {
        std::int64_t id = RootId(root);
        for (const auto& part : PathParts(key)) {
            Stmt st(*this, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
            if (!st.Bind(id).Bind(part).Step())
                return std::nullopt;
            id = st.Int(0);
        }
        return id;
    }

    // Finds or creates the key and its parents; `created` tells which.
    std::int64_t Create(RootKey root, const std::string& key, bool& created)
    {
        created = false;
        std::int64_t id = RootId(root);
        for (const auto& part : PathParts(key)) {
            Stmt find(*this, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
            if (find.Bind(id).Bind(part).Step()) {
                id = find.Int(0);
                continue;
            }
            Stmt insert(*this, "INSERT INTO keys(parent, name) VALUES (?1, ?2)");
            insert.Bind(id).Bind(part).Step();
            id = sqlite3_last_insert_rowid(db);
            created = true;
        }
        return id;
    }

    void Put(std::int64_t key, const RegValue& value)
    {
        Stmt st(*this, "INSERT INTO vals(key, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                       "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
        st.Bind(key).Bind(value.name).Bind(static_cast<std::int64_t>(value.type));
        if (value.type == REG_DWORD)
            st.Bind(static_cast<std::int64_t>(value.number));
        else
            st.Bind(value.text);
        st.Step();
    }

    // What a fresh desktop has: the picture and page types, and the opener
    // for pages, written as a quoted program path and its argument.
    void Seed()
    {
        auto def = [this](const std::string& key, const std::string& text) {
            bool created = false;
            Put(Create(HKEY_CLASSES_ROOT, key, created), RegValue{"", REG_SZ, text, 0});
        };
        def(".jpg", "jpegfile");
        def(".jpeg", "jpegfile");
        def(".bmp", "Paint.Picture");
        def(".htm", "htmlfile");
        def(".html", "htmlfile");
        def("htmlfile\\shell\\open\\command", "\"" + DesktopOpener() + "\" %1");
    }

    // Sets up an empty file (ours, just created, or another process's that
    // is doing the same); refuses a database that holds something else.
    void Initialize()
    {
        std::int64_t version = UserVersion();
        if (version == 0) {
            bool created = false;
            {
                Transaction t(*this, true);
                if (UserVersion() == 0) {
                    Stmt tables(*this, "SELECT count(*) FROM sqlite_master");
                    tables.Step();
                    if (tables.Int(0) != 0)
                        Fail("cannot be read: it is not a registry store");
                    Exec(kSchema);
                    Seed();
                    ::chmod(path.c_str(), 0600);   // also when the empty file was not ours
                    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
                    created = true;
                }
                t.Commit();
            }
            // The journal mode is kept in the file; another process may hold
            // the file open now, in which case the store stays in rollback
            // mode, which the busy timeout serves as well.
            if (created)
                sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        } else if (version != kSchemaVersion) {
            Fail("cannot be read: it was written by a newer version of the program");
        }
    }
};

RegistryStore::Impl::Impl(std::string p) : path(std::move(p))
{
    try {
        auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            sys::MakeDirectories(path.substr(0, slash), 0700);
    } catch (const sys::Error& e) {
        Fail(std::string("cannot be created: ") + e.what());
    }
    if (sys::IsDirectory(path))
        Fail("cannot be opened: it is a folder");
    // Create the file ourselves so that it gets mode 0600; SQLite takes an
    // empty file for an empty database.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    else if (errno != EEXIST)
        Fail(std::string("cannot be created: ") + std::strerror(errno));

    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        db = nullptr;
        Fail("cannot be opened: " + why);
    }
    try {
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, 15000);
        Initialize();
        writing = false;
    } catch (...) {
        Close();
        throw;
    }
}

void RegistryStore::Impl::Close()
{
    for (auto& [sql, st] : statements)
        sqlite3_finalize(st);
    statements.clear();
    sqlite3_close(db);
    db = nullptr;
}

RegistryStore::RegistryStore(const std::string& path) : m(std::make_unique<Impl>(path)) {}
RegistryStore::~RegistryStore() = default;

namespace {
std::mutex g_defaultMutex;
std::unique_ptr<RegistryStore> g_default;
}

RegistryStore& RegistryStore::Default()
{
    std::lock_guard lock(g_defaultMutex);
    if (!g_default)
        g_default = std::make_unique<RegistryStore>(RegistryPath());
    return *g_default;
}

void RegistryStore::ResetDefault()
{
    std::lock_guard lock(g_defaultMutex);
    g_default.reset();
}

const std::string& RegistryStore::Path() const { return m->path; }

bool RegistryStore::KeyExists(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    Impl::Transaction t(*m, false);
    return m->Find(root, key).has_value();
}

bool RegistryStore::CreateKey(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    m->CheckWritable(root, key);
    Impl::Transaction t(*m, true);
    bool created = false;
    m->Create(root, key, created);
    t.Commit();
    return created;
}

bool RegistryStore::DeleteKey(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    if (m->Denied(root, key))
        return false;
    Impl::Transaction t(*m, true);
    auto id = m->Find(root, key);
    if (!id)
        return false;
    if (*id == RootId(root))
        throw RegistryError(std::string("cannot delete the root key ") + RootKeyName(root));
    Impl::Stmt(*m, VINTREL_SUBTREE "DELETE FROM vals WHERE key IN sub").Bind(*id).Step();
    Impl::Stmt(*m, VINTREL_SUBTREE "DELETE FROM keys WHERE id IN sub").Bind(*id).Step();
    t.Commit();
    return true;
}

std::optional<RegValue> RegistryStore::GetValue(RootKey root, const std::string& key, const std::string& name)
{
    std::lock_guard lock(m->mutex);
    Impl::Transaction t(*m, false);
    auto id = m->Find(root, key);
    if (!id)
        return std::nullopt;
    Impl::Stmt st(*m, "SELECT name, type, data FROM vals WHERE key = ?1 AND name = ?2");
    if (!st.Bind(*id).Bind(name).Step())
        return std::nullopt;
    RegValue v{st.Text(0), static_cast<ValueType>(st.Int(1)), {}, 0};
    if (v.type == REG_DWORD)
        v.number = static_cast<std::uint32_t>(st.Int(2));
    else
        v.text = st.Text(2);
    return v;
}

bool RegistryStore::SetValue(RootKey root, const std::string& key, const RegValue& value)
{
    std::lock_guard lock(m->mutex);
    m->CheckWritable(root, key);
    Impl::Transaction t(*m, true);
    auto id = m->Find(root, key);
    if (!id)
        return false;
    m->Put(*id, value);
    t.Commit();
    return true;
}

bool RegistryStore::DeleteValue(RootKey root, const std::string& key, const std::string& name)
{
    std::lock_guard lock(m->mutex);
    if (m->Denied(root, key))
        return false;
    Impl::Transaction t(*m, true);
    auto id = m->Find(root, key);
    if (!id)
        return false;
    Impl::Stmt(*m, "DELETE FROM vals WHERE key = ?1 AND name = ?2").Bind(*id).Bind(name).Step();
    bool deleted = sqlite3_changes(m->db) > 0;
    t.Commit();
    return deleted;
}

std::vector<std::string> RegistryStore::SubKeys(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    Impl::Transaction t(*m, false);
    std::vector<std::string> names;
    if (auto id = m->Find(root, key)) {
        Impl::Stmt st(*m, "SELECT name FROM keys WHERE parent = ?1 ORDER BY id");
        st.Bind(*id);
        while (st.Step())
            names.push_back(st.Text(0));
    }
    return names;
}

std::vector<RegValue> RegistryStore::Values(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    Impl::Transaction t(*m, false);
    std::vector<RegValue> values;
    if (auto id = m->Find(root, key)) {
        Impl::Stmt st(*m, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid");
        st.Bind(*id);
        while (st.Step()) {
            RegValue v{st.Text(0), static_cast<ValueType>(st.Int(1)), {}, 0};
            if (v.type == REG_DWORD)
                v.number = static_cast<std::uint32_t>(st.Int(2));
            else
                v.text = st.Text(2);
            values.push_back(std::move(v));
        }
    }
    return values;
}

// ---- the program's view ------------------------------------------------------

Registry::Registry(RootKey root) : Registry(RegistryStore::Default(), root) {}

Registry::Registry(RegistryStore& store, RootKey root) : m_store(&store), m_root(root) {}

void Registry::SetRootKey(RootKey root)
{
    CloseKey();
    m_root = root;
}

std::string Registry::Resolve(const std::string& key) const
{
    bool absolute = !key.empty() && key[0] == '\\';
    std::vector<std::string> parts = absolute || !m_open ? std::vector<std::string>{} : PathParts(*m_open);
    for (auto& part : PathParts(key))
        parts.push_back(std::move(part));
    return JoinPath(parts);
}

const std::string& Registry::OpenPathOrThrow() const
{
    if (!m_open)
        throw RegistryError("no registry key is open");
    return *m_open;
}

// A failed open leaves the current key open, as it was.
bool Registry::OpenKey(const std::string& key, bool canCreate)
{
    std::string path = Resolve(key);
    if (canCreate)
        m_store->CreateKey(m_root, path);
    else if (!m_store->KeyExists(m_root, path))
        return false;
    m_open = std::move(path);
    return true;
}

bool Registry::OpenKeyReadOnly(const std::string& key) { return OpenKey(key, false); }

void Registry::CloseKey() { m_open.reset(); }

const std::string& Registry::CurrentPath() const
{
    static const std::string none;
    return m_open ? *m_open : none;
}

bool Registry::KeyExists(const std::string& key) { return m_store->KeyExists(m_root, Resolve(key)); }

bool Registry::DeleteKey(const std::string& key) { return m_store->DeleteKey(m_root, Resolve(key)); }

// True when the key exists afterwards, whether or not it was new; a key that
// cannot be created throws an error that names it.
bool Registry::CreateKey(const std::string& key)
{
    try {
        m_store->CreateKey(m_root, Resolve(key));
    } catch (const RegistryError& e) {
        throw RegistryError("Failed to create key " + key + " (" + e.what() + ")");
    }
    return true;
}

void RegistryStore::DenyWrites(RootKey root, const std::string& key)
{
    std::lock_guard lock(m->mutex);
    m->denied.emplace_back(root, PathParts(sys::LowerAscii(key)));
}

void RegistryStore::AllowAllWrites()
{
    std::lock_guard lock(m->mutex);
    m->denied.clear();
}

bool Registry::ValueExists(const std::string& name)
{
    return m_open && m_store->GetValue(m_root, *m_open, name).has_value();
}

std::string Registry::ReadString(const std::string& name)
{
    if (!m_open)
        return {};
    auto v = m_store->GetValue(m_root, *m_open, name);
    if (!v)
        return {};
    if (v->type != REG_SZ)
        throw RegistryError("Invalid data type for '" + name + "'");
    return v->text;
}

void Registry::WriteString(const std::string& name, const std::string& value)
{
    if (!m_store->SetValue(m_root, OpenPathOrThrow(), RegValue{name, REG_SZ, value, 0}))
        throw RegistryError("Failed to set data for '" + name + "'");
}

std::int32_t Registry::ReadInteger(const std::string& name)
{
    auto v = m_open ? m_store->GetValue(m_root, *m_open, name) : std::nullopt;
    if (!v)
        throw RegistryError("Failed to get data for '" + name + "'");
    if (v->type != REG_DWORD)
        throw RegistryError("Invalid data type for '" + name + "'");
    return static_cast<std::int32_t>(v->number);
}

void Registry::WriteInteger(const std::string& name, std::int32_t value)
{
    RegValue v{name, REG_DWORD, {}, static_cast<std::uint32_t>(value)};
    if (!m_store->SetValue(m_root, OpenPathOrThrow(), v))
        throw RegistryError("Failed to set data for '" + name + "'");
}

bool Registry::DeleteValue(const std::string& name)
{
    return m_open && m_store->DeleteValue(m_root, *m_open, name);
}

std::vector<std::string> Registry::GetKeyNames()
{
    return m_open ? m_store->SubKeys(m_root, *m_open) : std::vector<std::string>{};
}

std::vector<std::string> Registry::GetValueNames()
{
    std::vector<std::string> names;
    if (m_open)
        for (auto& v : m_store->Values(m_root, *m_open))
            names.push_back(std::move(v.name));
    return names;
}

} // namespace session
