// vintrel-reg: reads and changes the registry store from the command line, in
// the manner of the Windows reg tool.
//
//   vintrel-reg query  KEY [/v NAME | /ve] [/s]
//   vintrel-reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
//   vintrel-reg delete KEY [/v NAME | /ve] [/f]
#include "platform/session/registry.h"
#include "platform/sys/text.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace session;

constexpr const char* kUsage =
    "usage: vintrel-reg query  KEY [/v NAME | /ve] [/s]\n"
    "       vintrel-reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "       vintrel-reg delete KEY [/v NAME | /ve] [/f]\n"
    "KEY is ROOT\\Sub\\Key with ROOT one of HKCU, HKCR, HKLM, HKEY_CURRENT_USER,\n"
    "HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE. /ve names the default value, which add\n"
    "also writes when given /t or /d without /v. /s lists subkeys recursively.\n"
    "REG_DWORD data is decimal or 0x hexadecimal. Nothing asks for confirmation;\n"
    "/f is accepted and changes nothing.\n";

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

struct UsageError {
    std::string why;
};

struct Command {
    std::string op;                   // "query", "add", "delete"
    RootKey root = HKEY_CURRENT_USER;
    std::string key;                  // below the root, without empty components
    std::optional<std::string> value; // /v NAME, or "" for /ve
    bool hasData = false;             // /t or /d given
    RegValue data;
    bool recurse = false;
};

std::optional<std::uint32_t> ParseDword(const std::string& s)
{
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    std::string digits = hex ? s.substr(2) : s;
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    std::uint64_t n = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0'
              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return std::nullopt;
        n = n * (hex ? 16 : 10) + static_cast<unsigned>(d);
    }
    if (n > 0xffffffffu)
        return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

Command Parse(const std::vector<std::string>& args)
{
    if (args.size() < 2)
        throw UsageError{"too few arguments"};
    Command c;
    c.op = sys::LowerAscii(args[0]);
    if (c.op != "query" && c.op != "add" && c.op != "delete")
        throw UsageError{"unknown operation '" + args[0] + "'"};

    const std::string& key = args[1];
    auto slash = key.find('\\');
    auto root = ParseRootKey(key.substr(0, slash));
    if (!root)
        throw UsageError{"invalid key name '" + key + "'"};
    c.root = *root;
    if (slash != std::string::npos)
        for (const auto& part : sys::Split(key.substr(slash + 1), '\\'))
            if (!part.empty())
                c.key += (c.key.empty() ? "" : "\\") + part;

    std::optional<std::string> type, data;
    bool force = false;
    for (size_t i = 2; i < args.size(); ++i) {
        std::string opt = sys::LowerAscii(args[i]);
        if (opt.size() < 2 || (opt[0] != '/' && opt[0] != '-'))
            throw UsageError{"unexpected argument '" + args[i] + "'"};
        opt[0] = '/';
        auto operand = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError{args[i] + " needs a value"};
            return args[++i];
        };
        auto once = [&](bool given) {
            if (given)
                throw UsageError{"option " + args[i] + " given twice or with a conflicting one"};
        };
        if (opt == "/v") {
            once(c.value.has_value());
            c.value = operand();
        } else if (opt == "/ve") {
            once(c.value.has_value());
            c.value = "";
        } else if (opt == "/t" && c.op == "add") {
            once(type.has_value());
            type = operand();
        } else if (opt == "/d" && c.op == "add") {
            once(data.has_value());
            data = operand();
        } else if (opt == "/s" && c.op == "query") {
            once(c.recurse);
            c.recurse = true;
        } else if (opt == "/f" && c.op != "query") {
            once(force);
            force = true;
        } else {
            throw UsageError{"invalid option " + args[i] + " for " + c.op};
        }
    }

    c.hasData = type || data;
    c.data.name = c.value.value_or("");
    std::string t = sys::LowerAscii(type.value_or("REG_SZ"));
    if (t == "reg_sz") {
        c.data.type = REG_SZ;
        c.data.text = data.value_or("");
    } else if (t == "reg_dword") {
        c.data.type = REG_DWORD;
        auto n = ParseDword(data.value_or("0"));
        if (!n)
            throw UsageError{"invalid REG_DWORD data '" + *data + "'"};
        c.data.number = *n;
    } else {
        throw UsageError{"unsupported type '" + *type + "'"};
    }
    return c;
}

std::string ValueLine(const RegValue& v)
{
    std::string line = "    " + (v.name.empty() ? std::string("(Default)") : v.name);
    if (v.type == REG_DWORD) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", v.number);
        return line + "    REG_DWORD    " + hex + "\n";
    }
    return line + "    REG_SZ    " + v.text + "\n";
}

// Appends the listing of one key (and with /s those below it); counts the
// values printed.
void List(RegistryStore& store, const Command& c, const std::string& key, const std::string& shown,
          std::string& out, int& matches)
{
    std::string block = "\n" + shown + "\n";
    bool any = false;
    for (const auto& v : store.Values(c.root, key)) {
        if (c.value && !sys::EqualNoCase(v.name, *c.value))
            continue;
        block += ValueLine(v);
        any = true;
        ++matches;
    }
    if (!c.value || any)
        out += block;
    auto subkeys = store.SubKeys(c.root, key);
    if (c.recurse) {
        for (const auto& sub : subkeys)
            List(store, c, key.empty() ? sub : key + "\\" + sub, shown + "\\" + sub, out, matches);
    } else if (!c.value && !subkeys.empty()) {
        out += "\n";
        for (const auto& sub : subkeys)
            out += shown + "\\" + sub + "\n";
    }
}

int Run(const Command& c)
{
    RegistryStore& store = RegistryStore::Default();
    if (c.op == "query") {
        if (!store.KeyExists(c.root, c.key))
            return std::fputs(kNotFound, stderr), 1;
        std::string out;
        int matches = 0;
        std::string shown = std::string(RootKeyName(c.root)) + (c.key.empty() ? "" : "\\" + c.key);
        List(store, c, c.key, shown, out, matches);
        if (c.value && matches == 0)
            return std::fputs(kNotFound, stderr), 1;
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    if (c.op == "add") {
        store.CreateKey(c.root, c.key);
        // The key may have been deleted by someone else in between.
        if ((c.value || c.hasData) && !store.SetValue(c.root, c.key, c.data))
            return std::fputs(kNotFound, stderr), 1;
    } else {
        bool deleted = c.value ? store.DeleteValue(c.root, c.key, *c.value) : store.DeleteKey(c.root, c.key);
        if (!deleted)
            return std::fputs(kNotFound, stderr), 1;
    }
    std::puts("The operation completed successfully.");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "/?" || args[0] == "-h" || args[0] == "--help"))
        return std::fputs(kUsage, stdout), 0;
    try {
        return Run(Parse(args));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ERROR: %s\n%s", e.why.c_str(), kUsage);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ERROR: %s\n", e.what());
    }
    return 1;
}
