#pragma once
// Type libraries: the form in which a library carries one, loading it into
// ITypeLib/ITypeInfo objects, calls driven by it (the type information's
// GetIDsOfNames and Invoke), and its registration under HKEY_CLASSES_ROOT.
#include <string>

#include "platform/com/com.h"

namespace com {

// ---- The type library resource -------------------------------------------------
//
// A shared library carries its type libraries as constant data compiled into
// it: the tables below, handed out by the exported function
//
//     extern "C" const com::TypeLibResource* DllGetTypeLibResource(unsigned number);
//
// which returns resource `number` (1 is the library's own type library) or
// nullptr. The tables hold names, identifiers and numbers, no code. Texts are
// UTF-8 and zero-terminated; a help string may be null.
//
// A loader believes a resource only when it holds together, and refuses it
// with TYPE_E_UNSUPFORMAT (wrong magic, format or size) or TYPE_E_INVDATAREAD
// (anything else below) otherwise:
//   - a table pointer is set whenever its count is not 0;
//   - names are identifiers (ASCII letters, digits and '_', not starting with
//     a digit); type names are unique in the library, function names in their
//     interface and parameter names in their function, letter case ignored,
//     except that a property's get and put functions share their name;
//   - GUIDs of types are unique and not GUID_NULL;
//   - an interface derives from IUnknown or IDispatch (its `base`), which come
//     from the standard OLE automation library, so that library must be among
//     the imports; a dual interface derives from IDispatch and is also marked
//     automation-compatible and dispatchable;
//   - functions are INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT or
//     INVOKE_PROPERTYPUTREF, CC_STDCALL, and return VT_HRESULT; one name has one
//     member identifier, and one identifier one name;
//   - parameters are PARAMFLAG_FIN of one of VT_I1, VT_I2, VT_I4, VT_UI1, VT_UI2,
//     VT_UI4, VT_INT, VT_UINT, VT_BOOL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, or,
//     last only, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL whose `type` is the type it
//     points at; at most eight in all;
//   - a coclass's default interface is one of the library's interfaces.
//
// A function's entry in its interface's table follows from its place in the
// list: after the base interface's entries (three for IUnknown, seven for
// IDispatch), in the order given.

constexpr std::uint32_t kTypeLibMagic = 0x424C5456;   // "VTLB"
constexpr std::uint32_t kTypeLibFormat = 1;

struct TypeLibParam {
    const char* name;
    VARTYPE type;
    std::uint16_t flags;            // PARAMFLAG_*
};

struct TypeLibFunc {
    const char* name;
    MEMBERID memid;
    INVOKEKIND invkind;
    CALLCONV callconv;
    VARTYPE result;                 // VT_HRESULT
    const TypeLibParam* params;
    std::uint32_t paramCount;
    const char* helpString;
};

struct TypeLibInterface {
    const char* name;
    GUID iid;
    std::uint16_t majorVersion, minorVersion;
    std::uint16_t typeFlags;        // TYPEFLAG_*
    GUID base;                      // IID_IDispatch or IID_IUnknown
    const TypeLibFunc* funcs;
    std::uint32_t funcCount;
    const char* helpString;
};

struct TypeLibCoClass {
    const char* name;
    GUID clsid;
    std::uint16_t majorVersion, minorVersion;
    std::uint16_t typeFlags;        // TYPEFLAG_FCANCREATE for a creatable class
    GUID defaultInterface;          // the IID of one of the library's interfaces
    const char* helpString;
};

struct TypeLibImport {
    const char* name;
    GUID libid;
    std::uint16_t majorVersion, minorVersion;
};

struct TypeLibResource {
    std::uint32_t magic;            // kTypeLibMagic
    std::uint32_t format;           // kTypeLibFormat
    std::uint32_t size;             // sizeof(TypeLibResource)
    const char* name;
    GUID libid;
    std::uint16_t majorVersion, minorVersion;
    LCID lcid;
    SYSKIND syskind;
    std::uint16_t libFlags;         // LIBFLAG_*
    const char* helpString;
    const TypeLibImport* imports;
    std::uint32_t importCount;
    const TypeLibInterface* interfaces;
    std::uint32_t interfaceCount;
    const TypeLibCoClass* coclasses;
    std::uint32_t coclassCount;
};

using DllGetTypeLibResourceFn = const TypeLibResource* (*)(unsigned number);

// ---- Loading ---------------------------------------------------------------------
//
// A loaded library keeps its own copy of everything: the resource may go away.
// Its type information lists, in order, the interfaces and then the coclasses.
// A dual interface shows as a TKIND_DISPATCH type whose GetRefTypeOfImplType(-1)
// gives its TKIND_INTERFACE view (and back); both list the interface's own
// functions (not the inherited IUnknown and IDispatch ones) with their offsets
// in the table. The base interfaces resolve to the standard OLE automation
// library's IUnknown and IDispatch.

HRESULT LoadTypeLibFromResource(const TypeLibResource* resource, ITypeLib** lib);
// Type library resource 1 of the shared library at `path` (loaded for the
// moment of reading). TYPE_E_CANTLOADLIBRARY when it cannot be loaded or
// carries none; the error information says why.
HRESULT LoadTypeLib(const std::string& path, ITypeLib** lib);
// The library registered for `libid` and version major.minor: the path under
// TypeLib\{libid}\major.minor\<lcid>\win32 (lcid in hexadecimal; the exact
// locale, then its primary language, then 0). TYPE_E_LIBNOTREGISTERED when
// none is registered.
HRESULT LoadRegTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor, LCID lcid, ITypeLib** lib);

// ---- Registration ------------------------------------------------------------------
//
// RegisterTypeLib writes under HKEY_CLASSES_ROOT, in this order:
//   TypeLib\{LIBID}\M.m                 default: the library's help string
//   TypeLib\{LIBID}\M.m\<lcid>\win32    default: `path`  (lcid in hexadecimal,
//                                       "win64"/"win16"/"mac" for those kinds)
//   TypeLib\{LIBID}\M.m\FLAGS           default: the library flags in decimal
//   TypeLib\{LIBID}\M.m\HELPDIR         default: `helpDir`, else the folder of `path`
// and for each dual or automation-compatible interface:
//   Interface\{IID}                     default: its name
//   Interface\{IID}\ProxyStubClsid      default: {00020424-0000-0000-C000-000000000046}
//   Interface\{IID}\ProxyStubClsid32    default: the same
//   Interface\{IID}\TypeLib             default: {LIBID}; "Version": "M.m"
// Versions are written in hexadecimal. TYPE_E_REGISTRYACCESS when a key
// cannot be written (what was written stays).
HRESULT RegisterTypeLib(ITypeLib* lib, const std::string& path, const std::string& helpDir);
// Undoes it: the Interface keys whose TypeLib names this library and version,
// the <lcid>\<platform> key, the <lcid> key once empty, and, when no other
// locale is left, FLAGS, HELPDIR, the version key and (once empty) the
// library's key. A key is deleted only when it has no subkeys left, as the
// system deletes keys. TYPE_E_REGISTRYACCESS when the version is not registered.
HRESULT UnRegisterTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor, LCID lcid, SYSKIND syskind);

// ---- Dispatch through type information -----------------------------------------

// GetIDsOfNames of an IDispatch described by `info`.
HRESULT DispGetIDsOfNames(ITypeInfo* info, OLECHAR** names, unsigned count, DISPID* ids);
// Invoke of an IDispatch described by `info`: `instance` is the interface whose
// table `info` describes. See ITypeInfo::Invoke below.
HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID memid, std::uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, unsigned* argErr);

// What ITypeInfo::Invoke of these type libraries does:
//   - the function is the one with `memid` whose invoke kind is among `flags`
//     (DISPATCH_METHOD calls a function, DISPATCH_PROPERTYGET a property get...),
//     else DISP_E_MEMBERNOTFOUND;
//   - named arguments: only DISPID_PROPERTYPUT for a property put, else
//     DISP_E_NONAMEDARGS;
//   - the argument count must be the count of the function's in-parameters,
//     else DISP_E_BADPARAMCOUNT;
//   - each argument (arguments come last one first) is converted to its
//     parameter's type with VariantChangeType; when that fails, its error is
//     returned and `argErr` gets the argument's index in `rgvarg`;
//   - the function is called through its entry in the instance's table; its
//     retval parameter, if any, comes back in `result`;
//   - a failed result gives DISP_E_EXCEPTION, with `excep` filled from the
//     thread's error information (source, description, help) and `scode` set
//     to the result; without `excep` the error information stays in place.

} // namespace com
