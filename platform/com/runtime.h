#pragma once
// The COM runtime of a process: class objects and objects of in-process
// servers found through the registry, and letting go of servers no longer in
// use.
//
// One runtime per process. A server library links the platform layer
// statically like every program here, so a program that loads servers exports
// its own symbols (CMake ENABLE_EXPORTS): the loaded server then binds to the
// program's platform layer, and both see one session, one registry, one shell
// and one error information per thread, as every module of a Windows process
// sees the one system library of each. A server loaded into a program that does
// not export them still works on its own copy, but its error information does
// not reach the program's GetErrorInfo.
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"

namespace com {

// Where an object may run; only in-process servers exist here.
enum : std::uint32_t {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};

// The source of the error information the runtime sets on its own failures.
constexpr const char* kRuntimeErrorSource = "COM runtime";

// The exports of an in-process server library.
using DllGetClassObjectFn = HRESULT (*)(const CLSID& clsid, const IID& iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

// The class identifier registered for a program identifier: the default value
// of HKEY_CLASSES_ROOT\<progId>\CLSID. CO_E_CLASSSTRING when there is none or
// it is not a class identifier in braces (the error information says which).
HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid);

// The class object of an in-process server: the library named by the default
// value of HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 is loaded (once; it
// stays loaded until CoFreeUnusedLibraries finds it unused) and asked through
// its DllGetClassObject. REGDB_E_CLASSNOTREG when no library is registered
// (or `context` leaves out in-process servers), CO_E_DLLNOTFOUND when it
// cannot be loaded, CO_E_ERRORINDLL when it has no DllGetClassObject;
// REGDB_E_READREGDB when the registry cannot be read. Failures of the
// runtime's own come with error information that says what went wrong.
HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, void* reserved, const IID& iid, void** object);
// The class object's CreateInstance, the class object released again.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** object);
// What a script's "new ActiveXObject(progId)" does: CLSIDFromProgID, then
// CoCreateInstance of an in-process server for IDispatch.
HRESULT CreateOleObject(std::string_view progId, IDispatch** object);

// Unloads every loaded server library whose DllCanUnloadNow says S_OK.
void CoFreeUnusedLibraries();
// The files of the server libraries loaded now, in the order they were loaded.
std::vector<std::string> LoadedServerLibraries();

} // namespace com
