#pragma once
// The frame of an in-process automation server: the module with its type
// library, its objects and what its four exports do (ComServer), the class
// factory of an automation class (AutoObjectFactory), and the base of an
// automation object whose IDispatch is driven by the type library
// (AutoObject).
//
// A server library defines one ComServer and its factories as objects of
// namespace scope, so they exist from the moment the library is loaded, and
// exports
//     DllGetClassObject, DllCanUnloadNow, DllRegisterServer, DllUnregisterServer
// (extern "C", see runtime.h for their types) that call the ComServer, and
//     DllGetTypeLibResource
// (see typelib.h) that hands out its type library.
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/runtime.h"
#include "platform/com/typelib.h"
#include "platform/sys/error.h"

namespace com {

// An error that carries a COM result code.
class OleSysError : public sys::Error {
public:
    OleSysError(const std::string& message, HRESULT code) : sys::Error(message), m_code(code) {}
    HRESULT ErrorCode() const { return m_code; }

private:
    HRESULT m_code;
};

// Throws OleSysError for a failed result, with the thread's error description
// as its message when there is one, else "OLE error XXXXXXXX".
void OleCheck(HRESULT hr);

// Turns the exception being handled into a method's failed result: an
// OleSysError's code, else E_UNEXPECTED; the thread's error information gets
// `errorIID`, `source`, the exception's message as description and
// `helpFile`. Call it only inside a catch block.
HRESULT HandleSafeCallException(const GUID& errorIID, std::string_view source, std::string_view helpFile = {});

// How a class is offered. For an in-process server instancing changes nothing;
// the threading model is registered as the "ThreadingModel" value, except for
// the single-threaded model, which is the absence of that value.
enum class Instancing { Internal, SingleInstance, MultiInstance };
enum class ThreadingModel { Single, Apartment, Free, Both, Neutral };

class AutoObjectFactory;

class ComServer {
public:
    // `typeLib` is the module's type library (its resource 1); `inModule` any
    // address inside the module, by which its file is found.
    ComServer(const TypeLibResource& typeLib, const void* inModule);
    ~ComServer();
    ComServer(const ComServer&) = delete;
    ComServer& operator=(const ComServer&) = delete;

    // The module's full path. There is no short (8.3) form of a path here, so
    // this is what registration writes, blanks and all.
    const std::string& ServerFileName() const { return m_file; }
    // Null when the resource could not be read (TypeLibError says why).
    ITypeLib* TypeLib() const { return m_typeLib.Get(); }
    HRESULT TypeLibError() const { return m_typeLibError; }

    // Live objects, and references to factories (LockServer included): the
    // module may go only when none is left.
    void CountObject(bool created);
    void CountFactory(bool held);

    HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object);
    HRESULT CanUnloadNow() const;
    // Registration: S_OK, or E_FAIL with error information saying what failed.
    HRESULT RegisterServer();
    HRESULT UnregisterServer();
    // Registers the type library and then every factory's class; unregisters
    // in the same order. Throws when anything fails (type library
    // unregistration excepted, whose result is ignored).
    void UpdateRegistry(bool doRegister);

private:
    friend class AutoObjectFactory;
    std::string m_file;
    ComPtr<ITypeLib> m_typeLib;
    HRESULT m_typeLibError = S_OK;
    std::vector<AutoObjectFactory*> m_factories;
    std::atomic<int> m_objects{0};
    std::atomic<int> m_factoryRefs{0};
};

// The class factory of an automation class; what it knows of the class comes
// from the server's type library (the coclass with its class identifier and
// the coclass's default interface).
class AutoObjectFactory final : public IClassFactory {
public:
    // A new object with one reference, its creator's.
    using Creator = IUnknown* (*)(AutoObjectFactory& factory);

    AutoObjectFactory(ComServer& server, Creator create, const CLSID& clsid, Instancing instancing,
                      ThreadingModel threading);
    ~AutoObjectFactory() = default;
    AutoObjectFactory(const AutoObjectFactory&) = delete;
    AutoObjectFactory& operator=(const AutoObjectFactory&) = delete;

    ComServer& Server() const { return m_server; }
    const CLSID& ClassID() const { return m_clsid; }
    const std::string& ClassName() const { return m_className; }
    // The library's name, a dot and the class's name.
    const std::string& ProgID() const { return m_progId; }
    // The class's help string.
    const std::string& Description() const { return m_description; }
    ITypeInfo* ClassInfo() const { return m_classInfo.Get(); }
    // The default interface, and its identifier, which is also the one error
    // information carries.
    ITypeInfo* DispTypeInfo() const { return m_dispTypeInfo.Get(); }
    const IID& DispIntfIID() const { return m_dispIID; }
    Instancing GetInstancing() const { return m_instancing; }
    ThreadingModel GetThreadingModel() const { return m_threading; }

    // Writes, in this order, under HKEY_CLASSES_ROOT (C the class identifier,
    // P the program identifier):
    //   CLSID\C                 default: the description
    //   CLSID\C\InprocServer32  default: the server's file ("ThreadingModel" only
    //                           for a model other than the single-threaded one)
    //   P                       default: the description
    //   P\Clsid                 default: C
    //   CLSID\C\ProgID          default: P
    //   CLSID\C\Version         default: the type library's version, "%d.%d"
    //   CLSID\C\TypeLib         default: the type library's identifier
    // Unregistering deletes, in this order, CLSID\C\TypeLib, CLSID\C\Version,
    // CLSID\C\ProgID, P\Clsid, P, CLSID\C\InprocServer32 and CLSID\C, each
    // only when it has no subkeys (as the system deletes keys); a key that is
    // not there is no error. Throws when a key cannot be written.
    void UpdateRegistry(bool doRegister);

    // Turns the exception being handled into a failed result with error
    // information whose source is the program identifier.
    HRESULT HandleException() const;

    HRESULT QueryInterface(const IID& riid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    // Refuses aggregation (CLASS_E_NOAGGREGATION).
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    ComServer& m_server;
    Creator m_create;
    CLSID m_clsid;
    Instancing m_instancing;
    ThreadingModel m_threading;
    bool m_ready = false;
    std::string m_className, m_progId, m_description, m_libId, m_version;
    ComPtr<ITypeInfo> m_classInfo, m_dispTypeInfo;
    IID m_dispIID = IID_NULL;
    std::atomic<std::uint32_t> m_refs{0};
    std::atomic<int> m_locks{0};
};

// Helpers of AutoObject that need no template.
HRESULT AutoGetTypeInfo(const AutoObjectFactory& factory, unsigned index, ITypeInfo** info);
HRESULT AutoGetIDsOfNames(const AutoObjectFactory& factory, const IID& riid, OLECHAR** names, unsigned count,
                          DISPID* ids);
HRESULT AutoInvoke(const AutoObjectFactory& factory, void* instance, DISPID dispId, const IID& riid,
                   std::uint16_t flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, unsigned* argErr);

// The base of an automation object: `Dual` is its dual interface (an
// IDispatch with the methods of the type library's default interface, in
// order), which the derived class implements. It answers IUnknown, IDispatch,
// `Dual` (by the type library's identifier), ISupportErrorInfo and
// IProvideClassInfo; names and calls go through the type information, and
// so through `Dual`'s table. It counts itself among the server's objects.
template <class Dual>
class AutoObject : public Dual, public ISupportErrorInfo, public IProvideClassInfo {
public:
    explicit AutoObject(AutoObjectFactory& factory) : m_factory(factory) { m_factory.Server().CountObject(true); }
    AutoObject(const AutoObject&) = delete;
    AutoObject& operator=(const AutoObject&) = delete;

    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = Find(riid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override
    {
        std::uint32_t left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT GetTypeInfoCount(unsigned* count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(unsigned index, LCID, ITypeInfo** info) override
    {
        return AutoGetTypeInfo(m_factory, index, info);
    }
    HRESULT GetIDsOfNames(const IID& riid, OLECHAR** names, unsigned count, LCID, DISPID* ids) override
    {
        return AutoGetIDsOfNames(m_factory, riid, names, count, ids);
    }
    HRESULT Invoke(DISPID dispId, const IID& riid, LCID, std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, unsigned* argErr) override
    {
        return AutoInvoke(m_factory, static_cast<Dual*>(this), dispId, riid, flags, params, result, excep, argErr);
    }

    HRESULT InterfaceSupportsErrorInfo(const IID& riid) override { return Find(riid) ? S_OK : S_FALSE; }

    HRESULT GetClassInfo(ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = m_factory.ClassInfo();
        if (!*info)
            return E_UNEXPECTED;
        (*info)->AddRef();
        return S_OK;
    }

protected:
    virtual ~AutoObject() { m_factory.Server().CountObject(false); }

    AutoObjectFactory& Factory() const { return m_factory; }

    // Runs a method's body: an exception that leaves it becomes the failed
    // result, with error information (see AutoObjectFactory::HandleException).
    template <class Body>
    HRESULT SafeCall(Body&& body) noexcept
    {
        try {
            body();
            return S_OK;
        } catch (...) {
            return m_factory.HandleException();
        }
    }

private:
    void* Find(const IID& riid)
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_factory.DispIntfIID())
            return static_cast<Dual*>(this);
        if (riid == IID_ISupportErrorInfo)
            return static_cast<ISupportErrorInfo*>(this);
        if (riid == IID_IProvideClassInfo)
            return static_cast<IProvideClassInfo*>(this);
        return nullptr;
    }

    AutoObjectFactory& m_factory;
    std::atomic<std::uint32_t> m_refs{1};
};

} // namespace com
