#include "platform/com/server.h"

#include "platform/session/registry.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>

namespace com {

// ---- Errors ------------------------------------------------------------------------

void OleCheck(HRESULT hr)
{
    if (SUCCEEDED(hr))
        return;
    std::string message;
    IErrorInfo* raw = nullptr;
    if (GetErrorInfo(0, &raw) == S_OK) {
        auto info = ComPtr<IErrorInfo>::Attach(raw);
        BSTR text = nullptr;
        info->GetDescription(&text);
        message = BstrToUtf8(text);
        SysFreeString(text);
    }
    if (message.empty()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "OLE error %08X", static_cast<unsigned>(hr));
        message = buf;
    }
    throw OleSysError(message, hr);
}

HRESULT HandleSafeCallException(const GUID& errorIID, std::string_view source, std::string_view helpFile)
{
    HRESULT hr = E_UNEXPECTED;
    std::string message;
    try {
        throw;
    } catch (const OleSysError& e) {
        // A code that is no failure would report success for a call that failed.
        if (FAILED(e.ErrorCode()))
            hr = e.ErrorCode();
        message = e.what();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    SetErrorInfoText(errorIID, source, message, helpFile, 0);
    return hr;
}

// ---- The module ----------------------------------------------------------------------

namespace {

std::string ModuleFile(const void* inModule)
{
    Dl_info info{};
    if (!::dladdr(inModule, &info) || !info.dli_fname || !*info.dli_fname)
        return {};
    std::error_code ec;
    auto path = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
}

std::string StemOf(const std::string& file) { return std::filesystem::path(file).stem().string(); }

std::string TextOf(BSTR s)
{
    std::string text = BstrToUtf8(s);
    SysFreeString(s);
    return text;
}

} // namespace

ComServer::ComServer(const TypeLibResource& typeLib, const void* inModule) : m_file(ModuleFile(inModule))
{
    ITypeLib* lib = nullptr;
    m_typeLibError = LoadTypeLibFromResource(&typeLib, &lib);
    m_typeLib = ComPtr<ITypeLib>::Attach(lib);
}

ComServer::~ComServer() = default;

void ComServer::CountObject(bool created)
{
    if (created)
        ++m_objects;
    else
        --m_objects;
}

void ComServer::CountFactory(bool held)
{
    if (held)
        ++m_factoryRefs;
    else
        --m_factoryRefs;
}

HRESULT ComServer::GetClassObject(const CLSID& clsid, const IID& iid, void** object)
{
    if (!object)
        return E_POINTER;
    for (AutoObjectFactory* f : m_factories)
        if (f->ClassID() == clsid)
            return f->QueryInterface(iid, object);
    *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComServer::CanUnloadNow() const { return m_objects == 0 && m_factoryRefs == 0 ? S_OK : S_FALSE; }

void ComServer::UpdateRegistry(bool doRegister)
{
    if (!m_typeLib)
        throw OleSysError("the server's type library cannot be read", m_typeLibError);
    if (m_file.empty())
        throw OleSysError("the server cannot find its own file", E_UNEXPECTED);
    if (doRegister) {
        OleCheck(RegisterTypeLib(m_typeLib.Get(), m_file, std::filesystem::path(m_file).parent_path().string()));
    } else {
        TLIBATTR* attr = nullptr;
        OleCheck(m_typeLib->GetLibAttr(&attr));
        TLIBATTR a = *attr;
        m_typeLib->ReleaseTLibAttr(attr);
        UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    }
    for (AutoObjectFactory* f : m_factories)
        f->UpdateRegistry(doRegister);
}

HRESULT ComServer::RegisterServer()
{
    try {
        UpdateRegistry(true);
        return S_OK;
    } catch (const std::exception& e) {
        SetErrorInfoText(GUID_NULL, StemOf(m_file), e.what());
        return E_FAIL;
    }
}

HRESULT ComServer::UnregisterServer()
{
    try {
        UpdateRegistry(false);
        return S_OK;
    } catch (const std::exception& e) {
        SetErrorInfoText(GUID_NULL, StemOf(m_file), e.what());
        return E_FAIL;
    }
}

// ---- The factory ---------------------------------------------------------------------

AutoObjectFactory::AutoObjectFactory(ComServer& server, Creator create, const CLSID& clsid, Instancing instancing,
                                     ThreadingModel threading)
    : m_server(server), m_create(create), m_clsid(clsid), m_instancing(instancing), m_threading(threading)
{
    m_server.m_factories.push_back(this);
    ITypeLib* lib = server.TypeLib();
    if (!lib)
        return;
    ITypeInfo* raw = nullptr;
    if (FAILED(lib->GetTypeInfoOfGuid(clsid, &raw)))
        return;
    m_classInfo = ComPtr<ITypeInfo>::Attach(raw);
    HREFTYPE ref = 0;
    raw = nullptr;
    if (FAILED(m_classInfo->GetRefTypeOfImplType(0, &ref)) || FAILED(m_classInfo->GetRefTypeInfo(ref, &raw)))
        return;
    m_dispTypeInfo = ComPtr<ITypeInfo>::Attach(raw);
    TYPEATTR* attr = nullptr;
    if (FAILED(m_dispTypeInfo->GetTypeAttr(&attr)))
        return;
    m_dispIID = attr->guid;
    m_dispTypeInfo->ReleaseTypeAttr(attr);

    BSTR name = nullptr, help = nullptr, libName = nullptr;
    m_classInfo->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
    m_className = TextOf(name);
    m_description = TextOf(help);
    lib->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr);
    m_progId = TextOf(libName) + "." + m_className;
    TLIBATTR* libAttr = nullptr;
    if (FAILED(lib->GetLibAttr(&libAttr)))
        return;
    m_libId = GuidToString(libAttr->guid);
    m_version = std::to_string(libAttr->wMajorVerNum) + "." + std::to_string(libAttr->wMinorVerNum);
    lib->ReleaseTLibAttr(libAttr);
    m_ready = true;
}

namespace {

constexpr auto kClassesRoot = session::HKEY_CLASSES_ROOT;

void CreateRegKey(const std::string& key, const std::string& name, const std::string& value)
{
    auto& store = session::RegistryStore::Default();
    try {
        store.CreateKey(kClassesRoot, key);
        if (store.SetValue(kClassesRoot, key, session::RegValue{name, session::REG_SZ, value, 0}))
            return;
    } catch (const sys::Error& e) {
        throw sys::Error("Error creating system registry entry HKEY_CLASSES_ROOT\\" + key + " (" + e.what() + ")");
    }
    throw sys::Error("Error creating system registry entry HKEY_CLASSES_ROOT\\" + key);
}

// As the system deletes a key: not while it has subkeys; a missing key is no
// error.
void DeleteRegKey(const std::string& key)
{
    auto& store = session::RegistryStore::Default();
    if (store.KeyExists(kClassesRoot, key) && store.SubKeys(kClassesRoot, key).empty())
        store.DeleteKey(kClassesRoot, key);
}

const char* ThreadingModelName(ThreadingModel model)
{
    switch (model) {
    case ThreadingModel::Apartment: return "Apartment";
    case ThreadingModel::Free: return "Free";
    case ThreadingModel::Both: return "Both";
    case ThreadingModel::Neutral: return "Neutral";
    default: return nullptr;
    }
}

} // namespace

void AutoObjectFactory::UpdateRegistry(bool doRegister)
{
    if (m_instancing == Instancing::Internal)
        return;
    if (!m_ready)
        throw OleSysError("class " + GuidToString(m_clsid) + " is not in the server's type library", E_UNEXPECTED);
    std::string cls = GuidToString(m_clsid);
    std::string classKey = "CLSID\\" + cls;
    if (doRegister) {
        CreateRegKey(classKey, "", m_description);
        CreateRegKey(classKey + "\\InprocServer32", "", m_server.ServerFileName());
        if (const char* model = ThreadingModelName(m_threading))
            CreateRegKey(classKey + "\\InprocServer32", "ThreadingModel", model);
        if (!m_progId.empty()) {
            CreateRegKey(m_progId, "", m_description);
            CreateRegKey(m_progId + "\\Clsid", "", cls);
            CreateRegKey(classKey + "\\ProgID", "", m_progId);
        }
        CreateRegKey(classKey + "\\Version", "", m_version);
        CreateRegKey(classKey + "\\TypeLib", "", m_libId);
    } else {
        DeleteRegKey(classKey + "\\TypeLib");
        DeleteRegKey(classKey + "\\Version");
        if (!m_progId.empty()) {
            DeleteRegKey(classKey + "\\ProgID");
            DeleteRegKey(m_progId + "\\Clsid");
            DeleteRegKey(m_progId);
        }
        DeleteRegKey(classKey + "\\InprocServer32");
        DeleteRegKey(classKey);
    }
}

HRESULT AutoObjectFactory::HandleException() const { return HandleSafeCallException(m_dispIID, m_progId); }

HRESULT AutoObjectFactory::QueryInterface(const IID& riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The factory lives as long as the module; references to it only keep the
// module loaded.
std::uint32_t AutoObjectFactory::AddRef()
{
    m_server.CountFactory(true);
    return ++m_refs;
}

std::uint32_t AutoObjectFactory::Release()
{
    m_server.CountFactory(false);
    return --m_refs;
}

HRESULT AutoObjectFactory::CreateInstance(IUnknown* outer, const IID& riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!m_ready)
        return E_UNEXPECTED;
    IUnknown* created = nullptr;
    try {
        created = m_create(*this);
    } catch (...) {
        return HandleException();
    }
    if (!created)
        return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

// An unlock without a lock is ignored rather than left to hold the module
// for good.
HRESULT AutoObjectFactory::LockServer(BOOL lock)
{
    if (lock) {
        ++m_locks;
        m_server.CountFactory(true);
    } else {
        int held = m_locks.load();
        while (held > 0 && !m_locks.compare_exchange_weak(held, held - 1)) {
        }
        if (held > 0)
            m_server.CountFactory(false);
    }
    return S_OK;
}

// ---- The automation object's dispatch --------------------------------------------------

HRESULT AutoGetTypeInfo(const AutoObjectFactory& factory, unsigned index, ITypeInfo** info)
{
    if (!info)
        return E_INVALIDARG;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    *info = factory.DispTypeInfo();
    if (!*info)
        return E_UNEXPECTED;
    (*info)->AddRef();
    return S_OK;
}

HRESULT AutoGetIDsOfNames(const AutoObjectFactory& factory, const IID& riid, OLECHAR** names, unsigned count,
                          DISPID* ids)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(factory.DispTypeInfo(), names, count, ids);
}

HRESULT AutoInvoke(const AutoObjectFactory& factory, void* instance, DISPID dispId, const IID& riid,
                   std::uint16_t flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, unsigned* argErr)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    // A put may be taken by value or by reference, whichever the member is.
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        flags = DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    return DispInvoke(instance, factory.DispTypeInfo(), dispId, flags, params, result, excep, argErr);
}

} // namespace com
