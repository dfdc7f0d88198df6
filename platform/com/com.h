#pragma once
// The COM basics the program's automation pieces meet: result codes, GUIDs,
// IUnknown and IDispatch, BSTR strings and VARIANTs, class factories, error
// information and type information. Names, layouts and values are the Windows
// ones, so code ported from there reads the same. Type libraries are in
// typelib.h, the runtime that finds servers in runtime.h, the frame of an
// in-process server in server.h.
#include <atomic>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace com {

// ---- Result codes ----------------------------------------------------------

using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = MakeHResult(0x8002000C);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MakeHResult(0x80040151);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
constexpr HRESULT TYPE_E_INVDATAREAD = MakeHResult(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = MakeHResult(0x80028019);
constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHResult(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHResult(0x8002801D);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHResult(0x8002802B);
constexpr HRESULT TYPE_E_WRONGTYPEKIND = MakeHResult(0x8002802A);
constexpr HRESULT TYPE_E_BADMODULEKIND = MakeHResult(0x800288BD);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHResult(0x80029C4A);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// ---- GUIDs -----------------------------------------------------------------

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const GUID&, const GUID&) = default;
    friend auto operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;

// "{6B29FC40-CA47-1067-B31D-00DD010662DA}", upper case, with braces.
std::string GuidToString(const GUID& guid);
// Reads the registry form above; the braces may be left out, case does not
// matter. Nothing for anything else.
std::optional<GUID> ParseGuid(std::string_view text);

constexpr GUID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID GUID_NULL = IID_NULL;
constexpr GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr GUID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr GUID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr GUID IID_IProvideClassInfo = {0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// The standard OLE automation library, which declares IUnknown and IDispatch,
// and the proxy class that marshals every automation-compatible interface.
constexpr GUID LIBID_stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID CLSID_PSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ---- Strings ---------------------------------------------------------------

// A BSTR points at UTF-16 text that is preceded by its length in bytes and
// followed by a 0; a null BSTR is the empty string.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);                      // nullptr for nullptr
BSTR SysAllocStringLen(const OLECHAR* text, unsigned length);  // text may be nullptr: zeros
void SysFreeString(BSTR text);
unsigned SysStringLen(const BSTR text);                        // in characters

// UTF-8 to UTF-16: each byte that does not start a valid sequence becomes
// U+FFFD. UTF-16 to UTF-8: a lone surrogate becomes '?'.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
BSTR SysAllocStringUtf8(std::string_view text);
std::string BstrToUtf8(const BSTR text);

// ---- Interfaces ------------------------------------------------------------

using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

enum : std::uint16_t {
    DISPATCH_METHOD = 0x1,
    DISPATCH_PROPERTYGET = 0x2,
    DISPATCH_PROPERTYPUT = 0x4,
    DISPATCH_PROPERTYPUTREF = 0x8,
};

// Objects are deleted by their last Release, never through these pointers.
struct IUnknown {
    virtual HRESULT QueryInterface(const IID& riid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

struct ITypeInfo;
struct VARIANT;

struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;              // the arguments, last one first
    DISPID* rgdispidNamedArgs = nullptr;
    unsigned cArgs = 0;
    unsigned cNamedArgs = 0;
};

struct EXCEPINFO {
    std::uint16_t wCode = 0;
    std::uint16_t wReserved = 0;
    BSTR bstrSource = nullptr;
    BSTR bstrDescription = nullptr;
    BSTR bstrHelpFile = nullptr;
    std::uint32_t dwHelpContext = 0;
    void* pvReserved = nullptr;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*) = nullptr;
    HRESULT scode = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(unsigned* count) = 0;
    virtual HRESULT GetTypeInfo(unsigned index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(const IID& riid, OLECHAR** names, unsigned count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID dispId, const IID& riid, LCID lcid, std::uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, unsigned* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// ---- VARIANT ---------------------------------------------------------------

enum : VARTYPE {
    VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_BSTR = 8,
    VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13,
    VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_INT = 22, VT_UINT = 23, VT_BYREF = 0x4000,
    VT_CY = 6, VT_DATE = 7, VT_DECIMAL = 14, VT_I1 = 16, VT_I8 = 20, VT_UI8 = 21, VT_VOID = 24,
    VT_HRESULT = 25, VT_PTR = 26, VT_USERDEFINED = 29, VT_ARRAY = 0x2000, VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1, wReserved2, wReserved3;
    union {
        std::int32_t lVal;
        std::int16_t iVal;
        std::uint8_t bVal;
        std::uint16_t uiVal;
        std::uint32_t ulVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};

void VariantInit(VARIANT* v);
// Frees what the variant owns (its BSTR, its reference) and leaves it empty;
// a by-reference variant owns nothing.
HRESULT VariantClear(VARIANT* v);
// A deep copy: the BSTR duplicated, the interface AddRef'd.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// Flags of VariantChangeType.
enum : std::uint16_t { VARIANT_NOVALUEPROP = 0x1, VARIANT_ALPHABOOL = 0x2 };

// Converts `src` (by reference or not) to a variant of type `vt` in `dest`,
// which may be `src` itself; `dest` is cleared first unless it is `src`.
// What converts, as automation converts it with the invariant locale:
// - numbers (VT_I1..VT_UI4, VT_INT, VT_UINT, VT_R4, VT_R8) and VT_BOOL into
//   each other; a fraction rounds half to even; a value out of range is
//   DISP_E_OVERFLOW; VT_BOOL is -1 or 0, and anything but 0 becomes -1;
// - numbers to VT_BSTR as decimal text ("-1"/"0" for VT_BOOL, "True"/"False"
//   with VARIANT_ALPHABOOL), VT_R4/VT_R8 with up to 7/15 significant digits;
// - VT_BSTR to numbers: optional blanks and sign around decimal digits, with an
//   optional fraction and exponent; "True"/"False" (any case) to VT_BOOL;
//   anything else DISP_E_TYPEMISMATCH;
// - VT_EMPTY to 0, VARIANT_FALSE or ""; VT_NULL to nothing but VT_NULL;
// - VT_DISPATCH to a value through its DISPID_VALUE property (not with
//   VARIANT_NOVALUEPROP); VT_DISPATCH and VT_UNKNOWN to each other through
//   QueryInterface.
// Everything else is DISP_E_TYPEMISMATCH (DISP_E_BADVARTYPE for a type this
// runtime does not know). On failure `dest` is left as it was.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t flags, VARTYPE vt);

// ---- Class objects, error information, type information ------------------------
//
// Each interface below is a class of pure virtual functions in the order COM
// gives them, deriving from IUnknown (or IDispatch) alone, so its table is the
// one a COM caller expects: the three IUnknown entries, then the interface's
// own. Every function takes its object as the first argument and returns its
// result in the ordinary way, so a caller that knows only the table calls
// them as plain functions.

using BOOL = std::int32_t;
using MEMBERID = DISPID;
using HREFTYPE = std::uint32_t;
using SCODE = std::int32_t;

constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(std::uint32_t* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(const GUID& guid) = 0;
    virtual HRESULT SetSource(OLECHAR* source) = 0;
    virtual HRESULT SetDescription(OLECHAR* description) = 0;
    virtual HRESULT SetHelpFile(OLECHAR* helpFile) = 0;
    virtual HRESULT SetHelpContext(std::uint32_t helpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    // S_OK when the interface sets error information on failure, else S_FALSE.
    virtual HRESULT InterfaceSupportsErrorInfo(const IID& riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

struct IProvideClassInfo : IUnknown {
    // The type information of the object's class (its coclass).
    virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;

protected:
    ~IProvideClassInfo() = default;
};

// The error information of the calling thread: SetErrorInfo replaces it (null
// clears it); GetErrorInfo hands it over and clears it, S_FALSE with null
// when there is none. `reserved` must be 0.
HRESULT SetErrorInfo(std::uint32_t reserved, IErrorInfo* info);
HRESULT GetErrorInfo(std::uint32_t reserved, IErrorInfo** info);
// A new, empty error object; QueryInterface gives its IErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// Makes an error object of these parts and sets it as the thread's error
// information, as a failing method does before it returns its error.
void SetErrorInfoText(const GUID& guid, std::string_view source, std::string_view description,
                      std::string_view helpFile = {}, std::uint32_t helpContext = 0);

// ---- Type information ------------------------------------------------------------

enum TYPEKIND : std::int32_t {
    TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS,
    TKIND_UNION, TKIND_MAX
};
enum SYSKIND : std::int32_t { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 };
enum FUNCKIND : std::int32_t { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND : std::int32_t {
    INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8
};
enum CALLCONV : std::int32_t { CC_FASTCALL = 0, CC_CDECL = 1, CC_PASCAL = 2, CC_STDCALL = 4 };

enum : std::uint16_t {
    TYPEFLAG_FAPPOBJECT = 0x1, TYPEFLAG_FCANCREATE = 0x2, TYPEFLAG_FLICENSED = 0x4,
    TYPEFLAG_FPREDECLID = 0x8, TYPEFLAG_FHIDDEN = 0x10, TYPEFLAG_FCONTROL = 0x20, TYPEFLAG_FDUAL = 0x40,
    TYPEFLAG_FNONEXTENSIBLE = 0x80, TYPEFLAG_FOLEAUTOMATION = 0x100, TYPEFLAG_FRESTRICTED = 0x200,
    TYPEFLAG_FAGGREGATABLE = 0x400, TYPEFLAG_FREPLACEABLE = 0x800, TYPEFLAG_FDISPATCHABLE = 0x1000,
};
enum : std::int32_t {
    IMPLTYPEFLAG_FDEFAULT = 0x1, IMPLTYPEFLAG_FSOURCE = 0x2, IMPLTYPEFLAG_FRESTRICTED = 0x4,
};
enum : std::uint16_t {
    PARAMFLAG_NONE = 0, PARAMFLAG_FIN = 0x1, PARAMFLAG_FOUT = 0x2, PARAMFLAG_FLCID = 0x4,
    PARAMFLAG_FRETVAL = 0x8, PARAMFLAG_FOPT = 0x10, PARAMFLAG_FHASDEFAULT = 0x20,
};
enum : std::uint16_t {
    LIBFLAG_FRESTRICTED = 0x1, LIBFLAG_FCONTROL = 0x2, LIBFLAG_FHIDDEN = 0x4, LIBFLAG_FHASDISKIMAGE = 0x8,
};

struct ITypeComp;
struct ITypeLib;
struct ARRAYDESC;
struct PARAMDESCEX;
struct VARDESC;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;     // VT_PTR: what it points to
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;     // VT_USERDEFINED
    };
    VARTYPE vt;
};

struct IDLDESC {
    std::uintptr_t dwReserved;
    std::uint16_t wIDLFlags;
};

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    std::uint16_t wParamFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    std::uint32_t dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    OLECHAR* lpstrSchema;
    std::uint32_t cbSizeInstance;
    TYPEKIND typekind;
    std::uint16_t cFuncs;
    std::uint16_t cVars;
    std::uint16_t cImplTypes;
    std::uint16_t cbSizeVft;
    std::uint16_t cbAlignment;
    std::uint16_t wTypeFlags;
    std::uint16_t wMajorVerNum;
    std::uint16_t wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};

struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    std::int16_t cParams;
    std::int16_t cParamsOpt;
    std::int16_t oVft;          // the entry's offset in the interface's table, in bytes
    std::int16_t cScodes;
    ELEMDESC elemdescFunc;
    std::uint16_t wFuncFlags;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    std::uint16_t wMajorVerNum;
    std::uint16_t wMinorVerNum;
    std::uint16_t wLibFlags;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT GetFuncDesc(unsigned index, FUNCDESC** desc) = 0;
    virtual HRESULT GetVarDesc(unsigned index, VARDESC** desc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* names, unsigned maxNames, unsigned* count) = 0;
    virtual HRESULT GetRefTypeOfImplType(unsigned index, HREFTYPE* ref) = 0;
    virtual HRESULT GetImplTypeFlags(unsigned index, std::int32_t* flags) = 0;
    virtual HRESULT GetIDsOfNames(OLECHAR** names, unsigned count, MEMBERID* ids) = 0;
    virtual HRESULT Invoke(void* instance, MEMBERID memid, std::uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, unsigned* argErr) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, std::uint32_t* helpContext,
                                     BSTR* helpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dllName, BSTR* name,
                                std::uint16_t* ordinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) = 0;
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* mops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** lib, unsigned* index) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
    virtual void ReleaseVarDesc(VARDESC* desc) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    virtual unsigned GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) = 0;
    virtual HRESULT GetTypeInfoType(unsigned index, TYPEKIND* kind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(const GUID& guid, ITypeInfo** info) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** attr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    // Index -1 is the library itself.
    virtual HRESULT GetDocumentation(std::int32_t index, BSTR* name, BSTR* docString, std::uint32_t* helpContext,
                                     BSTR* helpFile) = 0;
    virtual HRESULT IsName(OLECHAR* name, std::uint32_t hash, BOOL* found) = 0;
    virtual HRESULT FindName(OLECHAR* name, std::uint32_t hash, ITypeInfo** infos, MEMBERID* ids,
                             std::uint16_t* found) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* attr) = 0;

protected:
    ~ITypeLib() = default;
};

// ---- Helpers ---------------------------------------------------------------

// Holds one reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : m_p(p)   // takes a reference of its own
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
    ComPtr(ComPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already holds (a new object's first).
    static ComPtr Attach(T* p)
    {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    T* Detach()
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    void Reset()
    {
        if (T* p = Detach())
            p->Release();
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Reference counting and QueryInterface for an object that is an IDispatch:
// it answers IID_IUnknown and IID_IDispatch, has no type information, and
// leaves names and calls to the derived class. It starts with one reference,
// its creator's (see MakeObject).
class DispatchObject : public IDispatch {
public:
    HRESULT QueryInterface(const IID& riid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    HRESULT GetTypeInfoCount(unsigned* count) override;
    HRESULT GetTypeInfo(unsigned index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(const IID& riid, OLECHAR** names, unsigned count, LCID lcid, DISPID* ids) override;

protected:
    DispatchObject() = default;
    virtual ~DispatchObject() = default;

private:
    std::atomic<std::uint32_t> m_refs{1};
};

template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args)
{
    return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

} // namespace com
