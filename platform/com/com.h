#pragma once
// The COM basics the program's automation pieces meet: result codes, GUIDs,
// IUnknown and IDispatch, BSTR strings and VARIANTs. Names, layouts and values
// are the Windows ones, so code ported from there reads the same.
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

struct ITypeInfo : IUnknown {
protected:
    ~ITypeInfo() = default;
};

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
