#include "platform/com/runtime.h"

#include "platform/session/registry.h"

#include <dlfcn.h>
#include <mutex>

namespace com {

namespace {

struct LoadedLibrary {
    std::string file;
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;   // a library without it stays
};

std::mutex g_mutex;
std::vector<LoadedLibrary> g_loaded;

HRESULT Fail(HRESULT hr, const std::string& text)
{
    SetErrorInfoText(GUID_NULL, kRuntimeErrorSource, text);
    return hr;
}

// The library's DllGetClassObject, the library loaded first if need be. The
// library is loaded outside the lock: its start-up may use the runtime.
HRESULT Load(const std::string& file, DllGetClassObjectFn& get)
{
    {
        std::lock_guard lock(g_mutex);
        for (const LoadedLibrary& l : g_loaded)
            if (l.file == file) {
                get = l.getClassObject;
                return S_OK;
            }
    }
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return Fail(CO_E_DLLNOTFOUND, "cannot load " + file + ": " + (why ? why : "unknown error"));
    }
    LoadedLibrary l{file, handle, reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject")),
                    reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"))};
    if (!l.getClassObject) {
        ::dlclose(handle);
        return Fail(CO_E_ERRORINDLL, file + " is not an in-process server: it has no DllGetClassObject");
    }
    std::lock_guard lock(g_mutex);
    for (const LoadedLibrary& other : g_loaded)
        if (other.file == file) {   // another thread was quicker
            ::dlclose(handle);
            get = other.getClassObject;
            return S_OK;
        }
    g_loaded.push_back(l);
    get = l.getClassObject;
    return S_OK;
}

} // namespace

HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid)
{
    if (!progId || !clsid)
        return E_INVALIDARG;
    *clsid = GUID_NULL;
    std::string name = Utf16ToUtf8(progId);
    if (name.empty() || name.find('\\') != std::string::npos)
        return Fail(CO_E_CLASSSTRING, "'" + name + "' is not a program identifier");
    std::string key = name + "\\CLSID";
    try {
        auto value = session::RegistryStore::Default().GetValue(session::HKEY_CLASSES_ROOT, key, "");
        if (!value)
            return Fail(CO_E_CLASSSTRING, "no class is registered for the program identifier " + name);
        std::optional<GUID> id;
        if (value->type == session::REG_SZ && value->text.size() == 38 && value->text.front() == '{')
            id = ParseGuid(value->text);
        if (!id)
            return Fail(CO_E_CLASSSTRING,
                        "HKEY_CLASSES_ROOT\\" + key + " does not hold a class identifier in braces");
        *clsid = *id;
        return S_OK;
    } catch (const sys::Error& e) {
        return Fail(REGDB_E_READREGDB, e.what());
    }
}

HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, void*, const IID& iid, void** object)
{
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    std::string cls = GuidToString(clsid);
    if (!(context & CLSCTX_INPROC_SERVER))
        return Fail(REGDB_E_CLASSNOTREG, "class " + cls + " is asked for without in-process servers");
    std::string key = "CLSID\\" + cls + "\\InprocServer32";
    std::string file;
    try {
        auto value = session::RegistryStore::Default().GetValue(session::HKEY_CLASSES_ROOT, key, "");
        if (!value)
            return Fail(REGDB_E_CLASSNOTREG, "class " + cls + " is not registered");
        if (value->type != session::REG_SZ || value->text.empty())
            return Fail(REGDB_E_CLASSNOTREG, "HKEY_CLASSES_ROOT\\" + key + " does not hold the path of a library");
        file = value->text;
    } catch (const sys::Error& e) {
        return Fail(REGDB_E_READREGDB, e.what());
    }
    DllGetClassObjectFn get = nullptr;
    HRESULT hr = Load(file, get);
    if (FAILED(hr))
        return hr;
    return get(clsid, iid, object);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid, void** object)
{
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    void* raw = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, &raw);
    if (FAILED(hr))
        return hr;
    auto factory = ComPtr<IClassFactory>::Attach(static_cast<IClassFactory*>(raw));
    return factory->CreateInstance(outer, iid, object);
}

HRESULT CreateOleObject(std::string_view progId, IDispatch** object)
{
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    std::u16string name = Utf8ToUtf16(progId);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr))
        return hr;
    void* raw = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch, &raw);
    *object = static_cast<IDispatch*>(raw);
    return hr;
}

void CoFreeUnusedLibraries()
{
    std::vector<void*> unused;
    {
        std::lock_guard lock(g_mutex);
        std::erase_if(g_loaded, [&](const LoadedLibrary& l) {
            if (!l.canUnloadNow || l.canUnloadNow() != S_OK)
                return false;
            unused.push_back(l.handle);
            return true;
        });
    }
    for (void* handle : unused)
        ::dlclose(handle);
}

std::vector<std::string> LoadedServerLibraries()
{
    std::lock_guard lock(g_mutex);
    std::vector<std::string> files;
    for (const LoadedLibrary& l : g_loaded)
        files.push_back(l.file);
    return files;
}

} // namespace com
