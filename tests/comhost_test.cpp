// Corvane_ComHost.so, the automation server: its exports, its registration,
// its type library, its object and AddUrl in both branches, in-process and
// through the regsvr and corvane-addurl commands, and the browser page that
// calls it. A stand-in process (comhost_peer) plays the running program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "comhost/Corvane_ComHost.h"
#include "platform/com/com.h"
#include "platform/com/runtime.h"
#include "platform/com/typelib.h"
#include "platform/session/registry.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/shell/shell.h"
#include "platform/sys/text.h"
#include "tests/com_support.h"
#include "tests/test_support.h"

extern char** environ;

using namespace com;
using corvane::ICorvane;
using testing_support::Child;
using testing_support::IsolatedEnvironment;

namespace {

const std::string kLibrary = VINTREL_PROGRAM_DIR "/Corvane_ComHost.so";
const std::string kProgID = "Corvane_ComHost.Corvane";
const std::string kClsid = "{5B3F81C5-7A64-4D19-9E2B-6C0D4F8A1E37}";
const std::string kLibid = "{5B3F81C2-7A64-4D19-9E2B-6C0D4F8A1E37}";
const std::string kIid = "{5B3F81C3-7A64-4D19-9E2B-6C0D4F8A1E37}";

std::string Peer() { return testing_support::TestBinaryDir() + "/comhost_peer"; }

// A program found on PATH, or "" when there is none.
std::string OnPath(std::initializer_list<const char*> names)
{
    for (const char* name : names)
        for (const auto& dir : sys::Split(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin", ':')) {
            std::string file = dir + "/" + name;
            if (::access(file.c_str(), X_OK) == 0)
                return file;
        }
    return {};
}

// Runs a program and keeps what it writes on stdout and on stderr.
struct Output {
    int status = -1;
    std::string out, err;
};

Output RunCapturing(const std::vector<std::string>& argv)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    Output result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    int open = 2;
    while (rc == 0 && open > 0 && ::poll(fds, 2, 60000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                into[i]->append(buf, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int st = 0;
    if (rc == 0 && ::waitpid(pid, &st, 0) == pid)
        result.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return result;
}

// The registry as the `sqlite3` command reads it: every key with its values,
// "path|value name|type|data", in the order they were created.
std::vector<std::string> RegistryRows(const std::string& database)
{
    static const char* query =
        "WITH RECURSIVE tree(id, path) AS ("
        " SELECT id, name FROM keys WHERE parent IS NULL"
        " UNION ALL SELECT keys.id, tree.path || '\\' || keys.name FROM keys JOIN tree ON keys.parent = tree.id)"
        " SELECT tree.path, coalesce(vals.name, ''), coalesce(vals.type, ''), coalesce(vals.data, '')"
        " FROM tree LEFT JOIN vals ON vals.key = tree.id ORDER BY tree.id, vals.rowid;";
    std::string sqlite3 = OnPath({"sqlite3"});
    EXPECT_FALSE(sqlite3.empty()) << "the sqlite3 command is needed";
    Output o = RunCapturing({sqlite3, "-batch", "-separator", "|", database, query});
    EXPECT_EQ(o.status, 0) << o.err;
    return sys::Split(o.out.substr(0, o.out.empty() ? 0 : o.out.size() - 1), '\n');
}

// The rows of `after` that `before` does not have, in order.
std::vector<std::string> Added(const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    std::vector<std::string> added;
    for (const auto& row : after)
        if (std::find(before.begin(), before.end(), row) == before.end())
            added.push_back(row);
    return added;
}

using com_support::ErrorInfoSeen;
using com_support::TakeErrorInfo;
using com_support::TakeText;

// A BSTR for the length of a call.
struct Bstr {
    BSTR s;
    explicit Bstr(std::u16string_view text) : s(SysAllocStringLen(text.data(), static_cast<unsigned>(text.size()))) {}
    explicit Bstr(std::string_view utf8) : s(SysAllocStringUtf8(utf8)) {}
    ~Bstr() { SysFreeString(s); }
    Bstr(const Bstr&) = delete;
};

// The fake program: a "TvinForm1" window in another process.
struct Receiver {
    Child child;
    session::HWND hwnd = 0;
    explicit Receiver(bool hidden = false)
        : child(hidden ? std::vector<std::string>{Peer(), "receiver", "hidden"}
                       : std::vector<std::string>{Peer(), "receiver"})
    {
        std::string line = child.ReadLine();
        EXPECT_EQ(line.rfind("ready ", 0), 0u) << line;
        hwnd = line.size() > 6 ? static_cast<session::HWND>(std::stoul(line.substr(6))) : 0;
    }
    // "<atom> <address>" of the next address it took.
    std::string NextDownload()
    {
        std::string line = child.ReadLine();
        return line.rfind("download ", 0) == 0 ? line.substr(9) : "<" + line + ">";
    }
};

// Everything of the server's, loaded as the browser loads it.
struct Server {
    void* handle = ::dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F Get(const char* name)
    {
        return reinterpret_cast<F>(handle ? ::dlsym(handle, name) : nullptr);
    }
    DllGetClassObjectFn getClassObject = Get<DllGetClassObjectFn>("DllGetClassObject");
    DllCanUnloadNowFn canUnloadNow = Get<DllCanUnloadNowFn>("DllCanUnloadNow");
    DllRegisterServerFn registerServer = Get<DllRegisterServerFn>("DllRegisterServer");
    DllUnregisterServerFn unregisterServer = Get<DllUnregisterServerFn>("DllUnregisterServer");
    ~Server()
    {
        if (handle)
            ::dlclose(handle);
    }

    ComPtr<IClassFactory> Factory()
    {
        void* p = nullptr;
        EXPECT_EQ(getClassObject(corvane::CLSID_Corvane, IID_IClassFactory, &p), S_OK);
        return ComPtr<IClassFactory>::Attach(static_cast<IClassFactory*>(p));
    }
    template <class T>
    ComPtr<T> Create(const IID& iid)
    {
        void* p = nullptr;
        EXPECT_EQ(Factory()->CreateInstance(nullptr, iid, &p), S_OK);
        return ComPtr<T>::Attach(static_cast<T*>(p));
    }
};

struct ComHost : ::testing::Test {
    IsolatedEnvironment env;
    Server server;
    session::RegistryStore& store = session::RegistryStore::Default();

    void SetUp() override
    {
        ASSERT_NE(server.handle, nullptr) << ::dlerror();
        ASSERT_TRUE(server.getClassObject && server.canUnloadNow && server.registerServer && server.unregisterServer);
        shell::SetStartingEnabled(false);
        shell::ClearRecordedCalls();
    }
    void TearDown() override
    {
        shell::SetStartingEnabled(true);
        shell::ClearRecordedCalls();
        store.AllowAllWrites();
        TakeErrorInfo();
        EXPECT_EQ(server.canUnloadNow(), S_OK) << "a test left an object or a lock behind";
    }

    std::string Database() const { return env.dir().file("registry.sqlite3"); }
    void SetProgramPath(const session::RegValue& value)
    {
        store.CreateKey(session::HKEY_LOCAL_MACHINE, "SOFTWARE\\VinTrel");
        store.SetValue(session::HKEY_LOCAL_MACHINE, "SOFTWARE\\VinTrel", value);
    }
};

const std::string kRegistered[] = {
    "HKEY_CLASSES_ROOT\\TypeLib|||",
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "|||",
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "\\1.0||1|Corvane_ComHost (biblioth\xC3\xA8que)",
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "\\1.0\\409|||",
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "\\1.0\\409\\win32||1|" + kLibrary,
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "\\1.0\\FLAGS||1|0",
    "HKEY_CLASSES_ROOT\\TypeLib\\" + kLibid + "\\1.0\\HELPDIR||1|" VINTREL_PROGRAM_DIR,
    "HKEY_CLASSES_ROOT\\Interface|||",
    "HKEY_CLASSES_ROOT\\Interface\\" + kIid + "||1|ICorvane",
    "HKEY_CLASSES_ROOT\\Interface\\" + kIid + "\\ProxyStubClsid||1|{00020424-0000-0000-C000-000000000046}",
    "HKEY_CLASSES_ROOT\\Interface\\" + kIid + "\\ProxyStubClsid32||1|{00020424-0000-0000-C000-000000000046}",
    "HKEY_CLASSES_ROOT\\Interface\\" + kIid + "\\TypeLib||1|" + kLibid,
    "HKEY_CLASSES_ROOT\\Interface\\" + kIid + "\\TypeLib|Version|1|1.0",
    "HKEY_CLASSES_ROOT\\CLSID|||",
    "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid + "||1|Corvane Objet",
    "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid + "\\InprocServer32||1|" + kLibrary,
    "HKEY_CLASSES_ROOT\\Corvane_ComHost.Corvane||1|Corvane Objet",
    "HKEY_CLASSES_ROOT\\Corvane_ComHost.Corvane\\Clsid||1|" + kClsid,
    "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid + "\\ProgID||1|Corvane_ComHost.Corvane",
    "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid + "\\Version||1|1.0",
    "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid + "\\TypeLib||1|" + kLibid,
};

// What stays after unregistration: the parents, which others share.
const std::string kParents[] = {
    "HKEY_CLASSES_ROOT\\TypeLib|||",
    "HKEY_CLASSES_ROOT\\Interface|||",
    "HKEY_CLASSES_ROOT\\CLSID|||",
};

} // namespace

// ---- Exports ------------------------------------------------------------------------

TEST_F(ComHost, ClassObjectOnlyForItsClassAndInterfaces)
{
    struct Case {
        GUID clsid;
        GUID iid;
        HRESULT hr;
    };
    const Case cases[] = {
        {corvane::CLSID_Corvane, IID_IClassFactory, S_OK},
        {corvane::CLSID_Corvane, IID_IUnknown, S_OK},
        {corvane::CLSID_Corvane, IID_IDispatch, E_NOINTERFACE},
        {corvane::CLSID_Corvane, corvane::IID_ICorvane, E_NOINTERFACE},
        {corvane::IID_ICorvane, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {corvane::LIBID_Corvane_ComHost, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {GUID_NULL, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(GuidToString(c.clsid) + " " + GuidToString(c.iid));
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(server.getClassObject(c.clsid, c.iid, &p), c.hr);
        EXPECT_EQ(p != nullptr, c.hr == S_OK);
        if (p)
            static_cast<IUnknown*>(p)->Release();
    }
}

TEST_F(ComHost, UnloadableOnlyWithoutObjectsFactoriesOrLocks)
{
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    {
        auto factory = server.Factory();
        EXPECT_EQ(server.canUnloadNow(), S_FALSE);   // a held factory is in use
        void* p = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &p), S_OK);
        auto object = ComPtr<IDispatch>::Attach(static_cast<IDispatch*>(p));
        factory.Reset();
        EXPECT_EQ(server.canUnloadNow(), S_FALSE);   // the object
        object.Reset();
        EXPECT_EQ(server.canUnloadNow(), S_OK);
    }
    server.Factory()->LockServer(1);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);   // the lock, with no reference left
    server.Factory()->LockServer(0);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    server.Factory()->LockServer(0);   // one unlock too many changes nothing
    server.Factory()->LockServer(1);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    server.Factory()->LockServer(0);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ComHost, FactoryMakesObjectsWithTheirInterfacesOnly)
{
    auto factory = server.Factory();
    const std::pair<GUID, HRESULT> interfaces[] = {
        {corvane::IID_ICorvane, S_OK}, {IID_IDispatch, S_OK}, {IID_IUnknown, S_OK},
        {IID_ISupportErrorInfo, S_OK}, {IID_IProvideClassInfo, S_OK}, {IID_IClassFactory, E_NOINTERFACE},
    };
    for (auto [iid, hr] : interfaces) {
        SCOPED_TRACE(GuidToString(iid));
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, &p), hr);
        EXPECT_EQ(p != nullptr, hr == S_OK);
        if (p)
            static_cast<IUnknown*>(p)->Release();
    }
    auto object = server.Create<IUnknown>(IID_IUnknown);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(object.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
}

// ---- Registration -----------------------------------------------------------------------

TEST_F(ComHost, RegistrationWritesItsKeysInOrderAndUnregistrationRemovesThem)
{
    std::vector<std::string> before = RegistryRows(Database());
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(server.registerServer(), S_OK);
    std::vector<std::string> registered = RegistryRows(Database());
    EXPECT_EQ(Added(before, registered), std::vector<std::string>(std::begin(kRegistered), std::end(kRegistered)));

    ASSERT_EQ(server.registerServer(), S_OK);   // again: the same content
    EXPECT_EQ(RegistryRows(Database()), registered);

    ASSERT_EQ(server.unregisterServer(), S_OK);
    std::vector<std::string> after = RegistryRows(Database());
    EXPECT_EQ(Added(before, after), std::vector<std::string>(std::begin(kParents), std::end(kParents)));
    EXPECT_TRUE(Added(after, before).empty());

    ASSERT_EQ(server.unregisterServer(), S_OK);   // nothing left to remove is no failure
}

// As the system deletes keys, a key that holds someone else's subkey stays,
// and so does that subkey.
TEST_F(ComHost, UnregistrationLeavesKeysThatHoldOthersSubkeys)
{
    ASSERT_EQ(server.registerServer(), S_OK);
    store.CreateKey(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid + "\\Implemented Categories");
    store.CreateKey(session::HKEY_CLASSES_ROOT, "Corvane_ComHost.Corvane\\CurVer");
    ASSERT_EQ(server.unregisterServer(), S_OK);
    EXPECT_EQ(store.SubKeys(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid),
              std::vector<std::string>{"Implemented Categories"});
    EXPECT_EQ(store.SubKeys(session::HKEY_CLASSES_ROOT, "Corvane_ComHost.Corvane"),
              std::vector<std::string>{"CurVer"});
    EXPECT_FALSE(store.KeyExists(session::HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid));
    EXPECT_FALSE(store.KeyExists(session::HKEY_CLASSES_ROOT, "Interface\\" + kIid));
}

TEST_F(ComHost, RegistrationThatCannotWriteFailsAndSaysWhere)
{
    store.DenyWrites(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid + "\\InprocServer32");
    EXPECT_EQ(server.registerServer(), E_FAIL);
    ErrorInfoSeen seen = TakeErrorInfo();
    EXPECT_NE(seen.description.find("CLSID\\" + kClsid + "\\InprocServer32"), std::string::npos)
        << seen.description;
    // What came before stays written; what comes after is not.
    EXPECT_TRUE(store.KeyExists(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid));
    EXPECT_FALSE(store.KeyExists(session::HKEY_CLASSES_ROOT, kProgID));
}

// ---- The type library -----------------------------------------------------------------------

TEST_F(ComHost, TypeLibraryAsACallerReadsIt)
{
    ITypeLib* raw = nullptr;
    ASSERT_EQ(LoadTypeLib(kLibrary, &raw), S_OK);
    auto lib = ComPtr<ITypeLib>::Attach(raw);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(TakeText(name), "Corvane_ComHost");
    EXPECT_EQ(TakeText(doc), "Corvane_ComHost (biblioth\xC3\xA8que)");
    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_EQ(GuidToString(la->guid), kLibid);
    EXPECT_EQ(la->wMajorVerNum, 1);
    EXPECT_EQ(la->wMinorVerNum, 0);
    EXPECT_EQ(la->lcid, 1033u);
    EXPECT_EQ(la->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(la);

    ITypeInfo* ti = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(corvane::IID_ICorvane, &ti), S_OK);
    auto icorvane = ComPtr<ITypeInfo>::Attach(ti);
    ASSERT_EQ(icorvane->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(TakeText(name), "ICorvane");
    EXPECT_EQ(TakeText(doc), "Interface dispatch pour Corvane Objet");
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(icorvane->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(ta->wMajorVerNum, 1);
    EXPECT_EQ(ta->cFuncs, 1);
    icorvane->ReleaseTypeAttr(ta);
    HREFTYPE ref = 0;
    ASSERT_EQ(icorvane->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(icorvane->GetRefTypeInfo(ref, &ti), S_OK);
    auto base = ComPtr<ITypeInfo>::Attach(ti);
    ASSERT_EQ(base->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID_IDispatch);
    base->ReleaseTypeAttr(ta);

    // AddUrl: dispatch identifier 1, the first entry after IDispatch's seven,
    // two BSTRs in, HRESULT.
    ASSERT_EQ(icorvane->GetRefTypeOfImplType(static_cast<unsigned>(-1), &ref), S_OK);
    ASSERT_EQ(icorvane->GetRefTypeInfo(ref, &ti), S_OK);
    auto table = ComPtr<ITypeInfo>::Attach(ti);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(table->GetFuncDesc(0, &fd), S_OK);
    EXPECT_EQ(fd->memid, 1);
    EXPECT_EQ(fd->invkind, INVOKE_FUNC);
    EXPECT_EQ(fd->callconv, CC_STDCALL);
    EXPECT_EQ(fd->oVft, static_cast<short>(7 * sizeof(void*)));
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(fd->cParams, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fd->lprgelemdescParam[i].tdesc.vt, VT_BSTR);
        EXPECT_EQ(fd->lprgelemdescParam[i].paramdesc.wParamFlags, PARAMFLAG_FIN);
    }
    table->ReleaseFuncDesc(fd);
    BSTR names[3] = {};
    unsigned count = 0;
    ASSERT_EQ(table->GetNames(1, names, 3, &count), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(TakeText(names[0]) + " " + TakeText(names[1]) + " " + TakeText(names[2]), "AddUrl URL Title");

    ASSERT_EQ(lib->GetTypeInfoOfGuid(corvane::CLSID_Corvane, &ti), S_OK);
    auto coclass = ComPtr<ITypeInfo>::Attach(ti);
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(TakeText(name), "Corvane");
    EXPECT_EQ(TakeText(doc), "Corvane Objet");
    ASSERT_EQ(coclass->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_COCLASS);
    EXPECT_EQ(ta->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(ta->wMajorVerNum, 1);
    coclass->ReleaseTypeAttr(ta);
    std::int32_t implFlags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);

    // The object tells the same class.
    auto object = server.Create<IProvideClassInfo>(IID_IProvideClassInfo);
    ASSERT_EQ(object->GetClassInfo(&ti), S_OK);
    auto classInfo = ComPtr<ITypeInfo>::Attach(ti);
    ASSERT_EQ(classInfo->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, corvane::CLSID_Corvane);
    classInfo->ReleaseTypeAttr(ta);
}

TEST_F(ComHost, RegisteredTypeLibraryAndClassAreFoundThroughTheRegistry)
{
    ASSERT_EQ(server.registerServer(), S_OK);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(corvane::LIBID_Corvane_ComHost, 1, 0, 1033, &lib), S_OK);
    lib->Release();

    IDispatch* raw = nullptr;
    ASSERT_EQ(CreateOleObject(kProgID, &raw), S_OK);
    auto object = ComPtr<IDispatch>::Attach(raw);
    EXPECT_EQ(LoadedServerLibraries(), std::vector<std::string>{kLibrary});
    CoFreeUnusedLibraries();
    EXPECT_EQ(LoadedServerLibraries(), std::vector<std::string>{kLibrary});   // its object lives
    object.Reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(LoadedServerLibraries().empty());
    ASSERT_EQ(server.unregisterServer(), S_OK);
}

// ---- Dispatch ---------------------------------------------------------------------------

TEST_F(ComHost, NamesAndCallsFollowTheTypeLibrary)
{
    auto object = server.Create<IDispatch>(IID_IDispatch);
    unsigned count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    struct NameCase {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    const NameCase names[] = {
        {{u"AddUrl"}, S_OK, {1}},
        {{u"ADDURL"}, S_OK, {1}},
        {{u"AddUrl", u"Title", u"url"}, S_OK, {1, 1, 0}},
        {{u"AddUrls"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{u"AddUrl", u"Address"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}},
    };
    for (const NameCase& c : names) {
        SCOPED_TRACE(Utf16ToUtf8(c.names.back()));
        std::vector<std::u16string> copies = c.names;
        std::vector<OLECHAR*> ptrs;
        for (auto& n : copies)
            ptrs.push_back(n.data());
        std::vector<DISPID> ids(ptrs.size(), 77);
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, ptrs.data(), static_cast<unsigned>(ptrs.size()), 0, ids.data()),
                  c.hr);
        EXPECT_EQ(ids, c.ids);
    }

    struct CallCase {
        const char* what;
        DISPID id;
        std::vector<VARTYPE> args;   // first to last
        HRESULT hr;
        unsigned argErr;
    };
    const CallCase calls[] = {
        {"one argument", 1, {VT_BSTR}, DISP_E_BADPARAMCOUNT, 999},
        {"three arguments", 1, {VT_BSTR, VT_BSTR, VT_BSTR}, DISP_E_BADPARAMCOUNT, 999},
        {"address null", 1, {VT_NULL, VT_BSTR}, DISP_E_TYPEMISMATCH, 1},
        {"title an object", 1, {VT_BSTR, VT_DISPATCH}, DISP_E_TYPEMISMATCH, 0},
        {"no such member", 2, {VT_BSTR, VT_BSTR}, DISP_E_MEMBERNOTFOUND, 999},
    };
    for (const CallCase& c : calls) {
        SCOPED_TRACE(c.what);
        std::vector<VARIANT> args(c.args.size());
        for (std::size_t i = 0; i < c.args.size(); ++i) {
            VARIANT& v = args[c.args.size() - 1 - i];
            VariantInit(&v);
            v.vt = c.args[i];
            if (v.vt == VT_BSTR)
                v.bstrVal = SysAllocStringUtf8("http://example.com/x.jpg");
        }
        DISPPARAMS params{args.data(), nullptr, static_cast<unsigned>(args.size()), 0};
        unsigned argErr = 999;
        EXPECT_EQ(object->Invoke(c.id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &argErr), c.hr);
        EXPECT_EQ(argErr, c.argErr);
        for (VARIANT& v : args)
            VariantClear(&v);
    }
    EXPECT_TRUE(shell::RecordedCalls().empty());   // no call got through
}

// ---- AddUrl while the program runs -------------------------------------------------------------

TEST_F(ComHost, RunningProgramGetsTheAddressThroughAnAtom)
{
    struct Case {
        const char* what;
        bool hidden;
        std::u16string url;
        std::string arrives;   // the address the program reads
        bool atom;             // whether an atom carried it
    };
    const std::u16string longUrl = u"http://example.com/" + std::u16string(300, u'a') + u".jpg";
    const Case cases[] = {
        {"shown", false, u"http://example.com/pic.jpg", "http://example.com/pic.jpg", true},
        {"hidden in the tray", true, u"http://example.com/pic.jpg", "http://example.com/pic.jpg", true},
        {"text without an 8-bit form", false, u"http://example.com/caf\u00e9\xD800.jpg",
         "http://example.com/caf\xC3\xA9?.jpg", true},
        {"text with a zero", false, std::u16string(u"http://example.com/a.jpg\0tail", 29), "http://example.com/a.jpg",
         true},
        {"longer than an atom holds", false, longUrl, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver program(c.hidden);
        auto corvane = server.Create<ICorvane>(corvane::IID_ICorvane);
        Bstr url(c.url), title(std::u16string_view(u"The page"));
        ASSERT_EQ(corvane->AddUrl(url.s, title.s), S_OK);
        std::string got = program.NextDownload();
        auto space = got.find(' ');
        ASSERT_NE(space, std::string::npos) << got;
        auto atom = static_cast<session::ATOM>(std::stoul(got.substr(0, space)));
        EXPECT_EQ(got.substr(space + 1), c.arrives);
        EXPECT_EQ(atom != 0, c.atom);
        char buffer[8] = "x";
        EXPECT_EQ(session::GlobalGetAtomName(atom, buffer, sizeof buffer), 0u);   // the receiver deleted it
        EXPECT_TRUE(shell::RecordedCalls().empty());
    }
}

// ---- AddUrl while the program does not run --------------------------------------------------------

TEST_F(ComHost, NoProgramStartsItFromThePathRecord)
{
    struct Case {
        const char* what;
        std::function<void()> record;
        std::string url;
        std::string file;                  // what the shell was asked to open
        std::vector<std::string> started;  // what it started
    };
    const std::string program = Peer();
    const Case cases[] = {
        {"address as the only argument", [&] { SetProgramPath({"", session::REG_SZ, program, 0}); },
         "http://example.com/pic.jpg", program, {program, "http://example.com/pic.jpg"}},
        {"address with blanks, unquoted", [&] { SetProgramPath({"", session::REG_SZ, program, 0}); },
         "http://example.com/a b.jpg", program, {program, "http://example.com/a", "b.jpg"}},
        {"record missing", [&] { store.DeleteKey(session::HKEY_LOCAL_MACHINE, "SOFTWARE\\VinTrel"); },
         "http://example.com/pic.jpg", "", {}},
        {"record without the value", [&] { store.CreateKey(session::HKEY_LOCAL_MACHINE, "SOFTWARE\\VinTrel"); },
         "http://example.com/pic.jpg", "", {}},
        {"record empty", [&] { SetProgramPath({"", session::REG_SZ, "", 0}); }, "http://example.com/pic.jpg", "", {}},
        {"record naming nothing", [&] { SetProgramPath({"", session::REG_SZ, "/nowhere/vintrel", 0}); },
         "http://example.com/pic.jpg", "/nowhere/vintrel", {}},
    };
    // One object for all: nothing is kept from one call to the next.
    auto corvane = server.Create<ICorvane>(corvane::IID_ICorvane);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.DeleteKey(session::HKEY_LOCAL_MACHINE, "SOFTWARE\\VinTrel");
        c.record();
        shell::ClearRecordedCalls();
        Bstr url(c.url), title(std::string_view("The page"));
        EXPECT_EQ(corvane->AddUrl(url.s, title.s), S_OK);
        auto calls = shell::RecordedCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].verb, "Open");
        EXPECT_EQ(calls[0].file, c.file);
        EXPECT_EQ(calls[0].parameters, c.url);
        EXPECT_EQ(calls[0].folder, "");
        EXPECT_EQ(calls[0].show, shell::SW_SHOWNORMAL);
        EXPECT_EQ(calls[0].argv, c.started);
    }
}

// A program path record that cannot be read as text is the one error AddUrl
// reports: E_UNEXPECTED with error information from the class.
TEST_F(ComHost, UnreadablePathRecordIsReportedWithTheProgramIdentifier)
{
    SetProgramPath({"", session::REG_DWORD, "", 1});
    auto corvane = server.Create<ICorvane>(corvane::IID_ICorvane);
    Bstr url(std::string_view("http://example.com/pic.jpg")), title(std::string_view(""));
    EXPECT_EQ(corvane->AddUrl(url.s, title.s), E_UNEXPECTED);
    ErrorInfoSeen seen = TakeErrorInfo();
    ASSERT_TRUE(seen.present);
    EXPECT_EQ(seen.guid, corvane::IID_ICorvane);
    EXPECT_EQ(seen.source, kProgID);
    EXPECT_EQ(seen.description, "Invalid data type for ''");

    // Through IDispatch, as a script calls it.
    void* p = nullptr;
    ASSERT_EQ(corvane->QueryInterface(IID_ISupportErrorInfo, &p), S_OK);
    auto support = ComPtr<ISupportErrorInfo>::Attach(static_cast<ISupportErrorInfo*>(p));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(corvane::IID_ICorvane), S_OK);
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringUtf8("");
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringUtf8("http://example.com/pic.jpg");
    DISPPARAMS params{args, nullptr, 2, 0};
    EXCEPINFO excep{};
    EXPECT_EQ(corvane->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_UNEXPECTED);
    EXPECT_EQ(TakeText(excep.bstrSource), kProgID);
    EXPECT_EQ(TakeText(excep.bstrDescription), "Invalid data type for ''");
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    EXPECT_TRUE(shell::RecordedCalls().empty());
}

// The window is looked for on every call: a program that starts or ends
// between two calls changes the branch.
TEST_F(ComHost, EachCallLooksForTheProgramAgain)
{
    SetProgramPath({"", session::REG_SZ, Peer(), 0});
    auto corvane = server.Create<ICorvane>(corvane::IID_ICorvane);
    auto add = [&](const char* address) {
        Bstr url(std::string_view{address}), title(std::string_view(""));
        EXPECT_EQ(corvane->AddUrl(url.s, title.s), S_OK);
    };
    add("http://example.com/1.jpg");
    EXPECT_EQ(shell::RecordedCalls().size(), 1u);
    {
        Receiver program;
        add("http://example.com/2.jpg");
        std::string got = program.NextDownload();
        EXPECT_EQ(got.substr(got.find(' ') + 1), "http://example.com/2.jpg");
        EXPECT_EQ(shell::RecordedCalls().size(), 1u);
        program.child.Kill(SIGKILL);
        program.child.Wait();
    }
    add("http://example.com/3.jpg");
    ASSERT_EQ(shell::RecordedCalls().size(), 2u);
    EXPECT_EQ(shell::RecordedCalls()[1].parameters, "http://example.com/3.jpg");
}

// ---- The commands ------------------------------------------------------------------------------

namespace {

struct Commands : ComHost {
    const std::string regsvr = VINTREL_PROGRAM_DIR "/regsvr";
    const std::string addurl = VINTREL_PROGRAM_DIR "/corvane-addurl";
};

// Waits for the file a started comhost_peer writes.
std::string WaitForFile(const std::string& path)
{
    for (int i = 0; i < 1000; ++i) {
        if (::access(path.c_str(), F_OK) == 0)
            return testing_support::ReadText(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "<never written>";
}

} // namespace

TEST_F(Commands, RegsvrRegistersAndUnregisters)
{
    Output o = RunCapturing({regsvr, kLibrary});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "DllRegisterServer in " + kLibrary + " succeeded.\n");
    auto value = store.GetValue(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid + "\\InprocServer32", "");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->text, kLibrary);

    o = RunCapturing({regsvr, "-u", kLibrary});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "DllUnregisterServer in " + kLibrary + " succeeded.\n");
    EXPECT_FALSE(store.KeyExists(session::HKEY_CLASSES_ROOT, "CLSID\\" + kClsid));
    EXPECT_FALSE(store.KeyExists(session::HKEY_CLASSES_ROOT, kProgID));

    Dl_info sqlite{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&sqlite3_libversion), &sqlite), 0);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* says;
    };
    const Case failures[] = {
        {"no library", {regsvr}, "usage"},
        {"missing file", {regsvr, "/nowhere/server.so"}, "cannot load /nowhere/server.so"},
        {"library that is no server", {regsvr, sqlite.dli_fname}, "its DllRegisterServer entry point was not found"},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.what);
        o = RunCapturing(c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }
}

TEST_F(Commands, RegsvrReportsARegistryItCannotUse)
{
    testing_support::WriteText(Database(), std::string(4096, 'x'));
    Output o = RunCapturing({regsvr, kLibrary});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("failed. Return code was: 0x80004005"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(Database()), std::string::npos) << o.err;
}

TEST_F(Commands, AddurlHandsTheAddressToTheRunningProgram)
{
    ASSERT_EQ(server.registerServer(), S_OK);
    Receiver program(true);
    Output o = RunCapturing({addurl, "http://example.com/from the command line.jpg", "A page"});
    EXPECT_EQ(o.status, 0) << o.err;
    std::string got = program.NextDownload();
    EXPECT_EQ(got.substr(got.find(' ') + 1), "http://example.com/from the command line.jpg");
}

TEST_F(Commands, AddurlStartsTheProgramWhenNoneRuns)
{
    ASSERT_EQ(server.registerServer(), S_OK);
    SetProgramPath({"", session::REG_SZ, Peer(), 0});
    std::string output = env.dir().file("started.txt");
    ::setenv("COMHOST_PEER_OUTPUT", output.c_str(), 1);
    Output o = RunCapturing({addurl, "http://example.com/a b.jpg"});
    ::unsetenv("COMHOST_PEER_OUTPUT");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(WaitForFile(output), "http://example.com/a\nb.jpg\n");
}

TEST_F(Commands, AddurlSaysWhatWentWrong)
{
    struct Case {
        const char* what;
        bool registered;
        std::function<void()> record;
        std::string says;
    };
    const Case cases[] = {
        {"server not registered", false, [] {},
         "cannot create Corvane_ComHost.Corvane: no class is registered for the program identifier "
         "Corvane_ComHost.Corvane (0x800401F3)"},
        {"path record a number", true, [&] { SetProgramPath({"", session::REG_DWORD, "", 5}); },
         "Corvane_ComHost.Corvane: Invalid data type for '' (0x8000FFFF)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.registered) {
            ASSERT_EQ(server.registerServer(), S_OK);
        }
        c.record();
        Output o = RunCapturing({addurl, "http://example.com/pic.jpg"});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "corvane-addurl: " + c.says + "\n");
    }
    Output usage = RunCapturing({addurl});
    EXPECT_EQ(usage.status, 1);
    EXPECT_NE(usage.err.find("usage"), std::string::npos);
}

// ---- The browser page ------------------------------------------------------------------------

// The page's script run as the browser's image menu runs it, with the
// browser's objects played by a script: it must create the class by the
// program identifier that registration writes and call AddUrl with the
// picture's address and the page's title.
TEST_F(ComHost, BrowserPageCallsAddUrlWithThePicturesAddress)
{
    std::string node = OnPath({"node", "nodejs"});
    if (node.empty())
        GTEST_SKIP() << "no JavaScript interpreter (node) to run the page's script";
    const std::string harness = R"JS(
const fs = require('fs');
const vm = require('vm');
const html = fs.readFileSync(process.argv[2], 'utf8');
const setup = JSON.parse(process.argv[3]);
const calls = [];
const page = {
  event: { srcElement: setup.element },
  document: { title: 'Pictures of cats' },
};
const sandbox = {
  external: { menuArguments: page },
  ActiveXObject: function (progId) {
    calls.push('create ' + progId);
    if (setup.fail) { const e = new Error(setup.fail); e.description = setup.fail; throw e; }
    this.AddUrl = function (url, title) { calls.push('AddUrl(' + url + ', ' + title + ')'); };
  },
  alert: function (text) { calls.push('alert ' + text); },
};
vm.createContext(sandbox);
for (const m of html.matchAll(/<script[^>]*>([\s\S]*?)<\/script>/gi))
  vm.runInContext(m[1], sandbox);
process.stdout.write(calls.join('\n') + '\n');
)JS";
    std::string script = env.dir().file("menu.js");
    testing_support::WriteText(script, harness);

    ASSERT_EQ(server.registerServer(), S_OK);
    struct Case {
        const char* what;
        const char* setup;
        std::string expect;
    };
    const Case cases[] = {
        {"a picture", R"({"element": {"tagName": "IMG", "src": "http://example.com/cat.jpg"}})",
         "create " + kProgID + "\nAddUrl(http://example.com/cat.jpg, Pictures of cats)\n"},
        {"no server", R"({"element": {"tagName": "IMG", "src": "http://example.com/cat.jpg"}, "fail": "Automation server can't create object"})",
         "create " + kProgID + "\nalert Vintrel: Automation server can't create object\n"},
        {"not a picture", R"({"element": {"tagName": "DIV"}})", "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Output o = RunCapturing({node, script, VINTREL_PROGRAM_DIR "/add.htm", c.setup});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, c.expect);
    }
    // The identifier the page uses is the one registration wrote.
    CLSID clsid{};
    std::u16string progId = Utf8ToUtf16(kProgID);
    EXPECT_EQ(CLSIDFromProgID(progId.c_str(), &clsid), S_OK);
    EXPECT_EQ(clsid, corvane::CLSID_Corvane);
    ASSERT_EQ(server.unregisterServer(), S_OK);
}
