#pragma once
// The registry: a persistent, per-user store of keys and values, kept in one
// SQLite database ($VINTREL_REGISTRY, else $XDG_CONFIG_HOME/vintrel/
// registry.sqlite3, else ~/.config/vintrel/registry.sqlite3, mode 0600).
//
// Three roots: HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE. Key and
// value names compare case-insensitively (ASCII) and keep the spelling they were
// created with. Values are REG_SZ (text) or REG_DWORD (32-bit number); the
// default value of a key has the empty name. Several processes may read and
// write the same store at once. A store that cannot be opened or read (a
// corrupt file, a folder in its place) throws sys::Error with a message that
// names the file; it is never reset silently.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys/error.h"

namespace session {

enum class RootKey { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
using enum RootKey;

const char* RootKeyName(RootKey root);                 // "HKEY_CURRENT_USER"
// Accepts the long names and HKCU, HKCR, HKLM, in any letter case.
std::optional<RootKey> ParseRootKey(const std::string& name);

enum class ValueType : std::uint32_t { REG_SZ = 1, REG_DWORD = 4 };
using enum ValueType;

struct RegValue {
    std::string name;       // "" for the default value
    ValueType type = REG_SZ;
    std::string text;       // REG_SZ data
    std::uint32_t number = 0; // REG_DWORD data
};

class RegistryError : public sys::Error {
public:
    using sys::Error::Error;
};

// The path of the store this process uses.
std::string RegistryPath();

// Low-level access to the store. Key paths are relative to a root, components
// separated by backslashes; leading, trailing and doubled backslashes are
// ignored. Every call is its own transaction.
class RegistryStore {
public:
    // Opens (creating and seeding a new one) the store at `path`.
    explicit RegistryStore(const std::string& path);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The store of this process, opened at RegistryPath() on first use.
    static RegistryStore& Default();
    // Drops the default store so the next Default() opens RegistryPath()
    // again (tests that change $VINTREL_REGISTRY).
    static void ResetDefault();

    const std::string& Path() const;

    bool KeyExists(RootKey root, const std::string& key);
    // Creates the key and its missing parents. Returns true when it was new.
    bool CreateKey(RootKey root, const std::string& key);
    // Deletes the key with all its subkeys and values; false if it did not exist.
    bool DeleteKey(RootKey root, const std::string& key);

    std::optional<RegValue> GetValue(RootKey root, const std::string& key, const std::string& name);
    // Writes a value; the key must exist (false otherwise).
    bool SetValue(RootKey root, const std::string& key, const RegValue& value);
    bool DeleteValue(RootKey root, const std::string& key, const std::string& name);

    // Refuses every change at or below a key, as a registry whose keys the
    // user may not write does (tests of what the program does then).
    // Creating or writing there throws RegistryError; deleting reports false.
    void DenyWrites(RootKey root, const std::string& key);
    void AllowAllWrites();

    // Subkey names and values of a key, in the order they were created.
    std::vector<std::string> SubKeys(RootKey root, const std::string& key);
    std::vector<RegValue> Values(RootKey root, const std::string& key);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The program's view of the registry, in the manner of a TRegistry object:
// a root key, at most one open key, and reads and writes on that key.
class Registry {
public:
    explicit Registry(RootKey root = HKEY_CURRENT_USER);
    explicit Registry(RegistryStore& store, RootKey root = HKEY_CURRENT_USER);

    RootKey Root() const { return m_root; }
    void SetRootKey(RootKey root);   // closes the open key

    // A path with a leading backslash starts at the root; without one it is
    // relative to the open key, if any. Returns false when the key does not
    // exist and may not be created. Creating fails with RegistryError when the
    // store refuses.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();
    bool HasOpenKey() const { return m_open.has_value(); }
    const std::string& CurrentPath() const;   // "" when no key is open

    bool KeyExists(const std::string& key);
    bool DeleteKey(const std::string& key);    // with all its subkeys
    bool CreateKey(const std::string& key);

    bool ValueExists(const std::string& name);
    // A missing value reads as ""; a value of another type throws.
    std::string ReadString(const std::string& name);
    void WriteString(const std::string& name, const std::string& value);
    // A missing value or one of another type throws RegistryError.
    std::int32_t ReadInteger(const std::string& name);
    void WriteInteger(const std::string& name, std::int32_t value);
    bool DeleteValue(const std::string& name);

    std::vector<std::string> GetKeyNames();
    std::vector<std::string> GetValueNames();

private:
    std::string Resolve(const std::string& key) const;
    const std::string& OpenPathOrThrow() const;

    RegistryStore* m_store;
    RootKey m_root;
    std::optional<std::string> m_open;
};

} // namespace session
