#include "platform/com/com.h"

#include "platform/sys/text.h"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace com {

// ---- GUIDs -----------------------------------------------------------------

std::string GuidToString(const GUID& g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buf;
}

std::optional<GUID> ParseGuid(std::string_view s)
{
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    if (s.size() != 36)
        return std::nullopt;
    std::uint8_t bytes[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i++] != '-')
                return std::nullopt;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = hex(s[i]), lo = hex(s[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    GUID g{};
    g.Data1 = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(g.Data4, bytes + 8, 8);
    return g;
}

// ---- Strings ---------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* text, unsigned length)
{
    auto* block = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t) + (std::size_t(length) + 1) * 2));
    if (!block)
        throw std::bad_alloc();
    block[0] = length * 2;
    BSTR s = reinterpret_cast<BSTR>(block + 1);
    if (text)
        std::memcpy(s, text, std::size_t(length) * 2);
    else
        std::memset(s, 0, std::size_t(length) * 2);
    s[length] = 0;
    return s;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    unsigned n = 0;
    while (text[n])
        ++n;
    return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(reinterpret_cast<std::uint32_t*>(text) - 1);
}

unsigned SysStringLen(const BSTR text)
{
    return text ? reinterpret_cast<const std::uint32_t*>(text)[-1] / 2 : 0;
}

std::u16string Utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        unsigned len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        char32_t cp = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        bool ok = len != 0 && i + len <= s.size();
        for (unsigned k = 1; ok && k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            ok = (c & 0xC0) == 0x80;
            cp = cp << 6 | (c & 0x3F);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF))
            ok = false;
        if (!ok) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = '?';
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | cp >> 6));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | cp >> 12));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | cp >> 18));
            out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

BSTR SysAllocStringUtf8(std::string_view text)
{
    std::u16string w = Utf8ToUtf16(text);
    return SysAllocStringLen(w.data(), static_cast<unsigned>(w.size()));
}

std::string BstrToUtf8(const BSTR text)
{
    return Utf16ToUtf8(std::u16string_view(text ? text : u"", SysStringLen(text)));
}

// ---- VARIANT ---------------------------------------------------------------

void VariantInit(VARIANT* v)
{
    std::memset(static_cast<void*>(v), 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_DISPATCH: if (v->pdispVal) v->pdispVal->Release(); break;
        case VT_UNKNOWN: if (v->punkVal) v->punkVal->Release(); break;
        default: break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VariantClear(dest);
    *dest = *src;
    if (src->vt == VT_BSTR)
        dest->bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
    else if (src->vt == VT_DISPATCH && src->pdispVal)
        src->pdispVal->AddRef();
    else if (src->vt == VT_UNKNOWN && src->punkVal)
        src->punkVal->AddRef();
    return S_OK;
}

// ---- DispatchObject --------------------------------------------------------

HRESULT DispatchObject::QueryInterface(const IID& riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

std::uint32_t DispatchObject::AddRef() { return ++m_refs; }

std::uint32_t DispatchObject::Release()
{
    std::uint32_t left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT DispatchObject::GetTypeInfoCount(unsigned* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(unsigned, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT DispatchObject::GetIDsOfNames(const IID&, OLECHAR**, unsigned count, LCID, DISPID* ids)
{
    for (unsigned i = 0; ids && i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

} // namespace com

namespace com {

// ---- VariantChangeType -------------------------------------------------------

namespace {

bool IsIntegerType(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool IsNumberType(VARTYPE vt) { return IsIntegerType(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_BOOL; }

// A number on its way between types: exact for every integer type, a double
// for the real ones.
struct Number {
    bool real = false;
    std::int64_t i = 0;
    double d = 0;
};

bool Range(VARTYPE vt, std::int64_t& lo, std::int64_t& hi)
{
    switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; return true;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; return true;
    case VT_I4: case VT_INT: lo = INT32_MIN; hi = INT32_MAX; return true;
    case VT_UI1: lo = 0; hi = UINT8_MAX; return true;
    case VT_UI2: lo = 0; hi = UINT16_MAX; return true;
    case VT_UI4: case VT_UINT: lo = 0; hi = UINT32_MAX; return true;
    default: return false;
    }
}

Number ReadNumber(VARTYPE vt, const void* p)
{
    Number n;
    switch (vt) {
    case VT_I1: n.i = *static_cast<const std::int8_t*>(p); break;
    case VT_I2: n.i = *static_cast<const std::int16_t*>(p); break;
    case VT_I4: case VT_INT: n.i = *static_cast<const std::int32_t*>(p); break;
    case VT_UI1: n.i = *static_cast<const std::uint8_t*>(p); break;
    case VT_UI2: n.i = *static_cast<const std::uint16_t*>(p); break;
    case VT_UI4: case VT_UINT: n.i = *static_cast<const std::uint32_t*>(p); break;
    case VT_BOOL: n.i = *static_cast<const VARIANT_BOOL*>(p) ? -1 : 0; break;
    case VT_R4: n.real = true; n.d = *static_cast<const float*>(p); break;
    case VT_R8: n.real = true; n.d = *static_cast<const double*>(p); break;
    default: break;
    }
    return n;
}

HRESULT WriteNumber(const Number& n, VARTYPE vt, VARIANT& out)
{
    out.vt = vt;
    if (vt == VT_BOOL) {
        out.boolVal = (n.real ? n.d != 0 : n.i != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (vt == VT_R8) {
        out.dblVal = n.real ? n.d : static_cast<double>(n.i);
        return S_OK;
    }
    if (vt == VT_R4) {
        double d = n.real ? n.d : static_cast<double>(n.i);
        if (std::isnan(d) || std::fabs(d) > FLT_MAX)
            return DISP_E_OVERFLOW;
        out.fltVal = static_cast<float>(d);
        return S_OK;
    }
    std::int64_t lo = 0, hi = 0;
    Range(vt, lo, hi);
    std::int64_t v = n.i;
    if (n.real) {
        double r = std::nearbyint(n.d);   // the default rounding: half to even
        if (std::isnan(r) || r < static_cast<double>(lo) || r > static_cast<double>(hi))
            return DISP_E_OVERFLOW;
        v = static_cast<std::int64_t>(r);
    }
    if (v < lo || v > hi)
        return DISP_E_OVERFLOW;
    switch (vt) {
    case VT_I1: out.bVal = static_cast<std::uint8_t>(static_cast<std::int8_t>(v)); break;
    case VT_I2: out.iVal = static_cast<std::int16_t>(v); break;
    case VT_I4: case VT_INT: out.lVal = static_cast<std::int32_t>(v); break;
    case VT_UI1: out.bVal = static_cast<std::uint8_t>(v); break;
    case VT_UI2: out.uiVal = static_cast<std::uint16_t>(v); break;
    case VT_UI4: case VT_UINT: out.ulVal = static_cast<std::uint32_t>(v); break;
    default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

std::string NumberText(const Number& n, VARTYPE from, std::uint16_t flags)
{
    if (from == VT_BOOL && (flags & VARIANT_ALPHABOOL))
        return n.i ? "True" : "False";
    if (!n.real)
        return std::to_string(n.i);
    char buf[64];
    std::snprintf(buf, sizeof buf, from == VT_R4 ? "%.7G" : "%.15G", n.d);
    return buf;
}

// Decimal text: blanks, sign, digits with an optional fraction and exponent,
// blanks. Nothing for anything else.
std::optional<Number> ParseNumber(std::string_view s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    std::string_view body = s;
    if (!body.empty() && (body.front() == '+' || body.front() == '-'))
        body.remove_prefix(1);
    if (body.empty())
        return std::nullopt;
    bool digits = false, integer = true;
    std::size_t i = 0;
    for (; i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])); ++i)
        digits = true;
    if (i < body.size() && body[i] == '.') {
        integer = false;
        for (++i; i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])); ++i)
            digits = true;
    }
    if (!digits)
        return std::nullopt;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        integer = false;
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-'))
            ++i;
        std::size_t start = i;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])))
            ++i;
        if (i == start)
            return std::nullopt;
    }
    if (i != body.size())
        return std::nullopt;
    // from_chars takes no '+'.
    std::string text(s.front() == '+' ? s.substr(1) : s);
    Number n;
    if (integer) {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n.i);
        if (ec == std::errc() && end == text.data() + text.size())
            return n;
    }
    n.real = true;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n.d);
    if (ec == std::errc::result_out_of_range)
        n.d = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    else if (ec != std::errc())
        return std::nullopt;
    return n;
}

// The value a by-reference variant points at, as a plain variant that shares
// (does not own) its BSTR or interface.
bool Dereference(const VARIANT& src, VARIANT& plain)
{
    VariantInit(&plain);
    if (!(src.vt & VT_BYREF)) {
        plain = src;
        return true;
    }
    VARTYPE vt = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
    if (!src.byref)
        return false;
    if (vt == VT_VARIANT) {
        const VARIANT& inner = *src.pvarVal;
        return !(inner.vt & VT_BYREF) ? (plain = inner, true) : Dereference(inner, plain);
    }
    plain.vt = vt;
    if (IsNumberType(vt)) {
        switch (vt) {
        case VT_I1: case VT_UI1: plain.bVal = *static_cast<std::uint8_t*>(src.byref); break;
        case VT_I2: case VT_UI2: case VT_BOOL: plain.uiVal = *static_cast<std::uint16_t*>(src.byref); break;
        case VT_R8: plain.dblVal = *static_cast<double*>(src.byref); break;
        default: plain.ulVal = *static_cast<std::uint32_t*>(src.byref); break;
        }
        return true;
    }
    switch (vt) {
    case VT_BSTR: plain.bstrVal = *static_cast<BSTR*>(src.byref); return true;
    case VT_DISPATCH: plain.pdispVal = *static_cast<IDispatch**>(src.byref); return true;
    case VT_UNKNOWN: plain.punkVal = *static_cast<IUnknown**>(src.byref); return true;
    case VT_ERROR: plain.scode = *static_cast<HRESULT*>(src.byref); return true;
    default: return false;
    }
}

bool KnownType(VARTYPE vt)
{
    return vt == VT_EMPTY || vt == VT_NULL || IsNumberType(vt) || vt == VT_BSTR || vt == VT_DISPATCH ||
           vt == VT_UNKNOWN || vt == VT_ERROR;
}

HRESULT Convert(const VARIANT& value, std::uint16_t flags, VARTYPE vt, VARIANT& out)
{
    VariantInit(&out);
    const VARTYPE from = value.vt;
    if (from == vt || vt == VT_EMPTY) {
        if (vt == VT_EMPTY)
            return S_OK;
        return VariantCopy(&out, &value);
    }
    if (from == VT_NULL || vt == VT_NULL || from == VT_ERROR || vt == VT_ERROR)
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (from != VT_DISPATCH && from != VT_UNKNOWN)
            return DISP_E_TYPEMISMATCH;
        IUnknown* object = from == VT_DISPATCH ? static_cast<IUnknown*>(value.pdispVal) : value.punkVal;
        out.vt = vt;
        if (!object)
            return S_OK;
        void* p = nullptr;
        HRESULT hr = object->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
        if (FAILED(hr)) {
            VariantInit(&out);
            return DISP_E_TYPEMISMATCH;
        }
        if (vt == VT_DISPATCH)
            out.pdispVal = static_cast<IDispatch*>(p);
        else
            out.punkVal = static_cast<IUnknown*>(p);
        return S_OK;
    }
    if (from == VT_DISPATCH) {
        if ((flags & VARIANT_NOVALUEPROP) || !value.pdispVal)
            return DISP_E_TYPEMISMATCH;
        DISPPARAMS none;
        VARIANT prop;
        VariantInit(&prop);
        HRESULT hr = value.pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &prop,
                                            nullptr, nullptr);
        if (FAILED(hr)) {
            VariantClear(&prop);
            return DISP_E_TYPEMISMATCH;
        }
        hr = Convert(prop, flags | VARIANT_NOVALUEPROP, vt, out);
        VariantClear(&prop);
        return hr;
    }
    if (from == VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;

    if (vt == VT_BSTR) {
        std::string text;
        if (IsNumberType(from))
            text = NumberText(ReadNumber(from, &value.lVal), from, flags);
        else if (from != VT_EMPTY)
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_BSTR;
        out.bstrVal = SysAllocStringUtf8(text);
        return S_OK;
    }
    // A number or VT_BOOL from here on.
    Number n;
    if (IsNumberType(from)) {
        n = ReadNumber(from, &value.lVal);
    } else if (from == VT_BSTR) {
        std::string text = BstrToUtf8(value.bstrVal);
        if (vt == VT_BOOL && (sys::EqualNoCase(text, "true") || sys::EqualNoCase(text, "false"))) {
            n.i = sys::EqualNoCase(text, "true") ? -1 : 0;
        } else if (auto parsed = ParseNumber(text)) {
            n = *parsed;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    } else if (from != VT_EMPTY) {
        return DISP_E_TYPEMISMATCH;
    }
    HRESULT hr = WriteNumber(n, vt, out);
    if (FAILED(hr))
        VariantInit(&out);
    return hr;
}

} // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t flags, VARTYPE vt)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (!KnownType(vt))
        return DISP_E_BADVARTYPE;
    VARIANT value;
    if (!Dereference(*src, value))
        return DISP_E_BADVARTYPE;
    if (!KnownType(value.vt))
        return DISP_E_BADVARTYPE;
    VARIANT out;
    HRESULT hr = Convert(value, flags, vt, out);
    if (FAILED(hr))
        return hr;
    VariantClear(dest);   // when it is the source, its own value is replaced
    *dest = out;
    return S_OK;
}

// ---- Error information -------------------------------------------------------

namespace {

// One error object answers both for its creator (ICreateErrorInfo) and for
// whoever reads it (IErrorInfo).
class ErrorObject final : public ICreateErrorInfo, public IErrorInfo {
public:
    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo)
            *object = static_cast<ICreateErrorInfo*>(this);
        else if (riid == IID_IErrorInfo)
            *object = static_cast<IErrorInfo*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
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

    HRESULT SetGUID(const GUID& guid) override { m_guid = guid; return S_OK; }
    HRESULT SetSource(OLECHAR* text) override { m_source = Text(text); return S_OK; }
    HRESULT SetDescription(OLECHAR* text) override { m_description = Text(text); return S_OK; }
    HRESULT SetHelpFile(OLECHAR* text) override { m_helpFile = Text(text); return S_OK; }
    HRESULT SetHelpContext(std::uint32_t context) override { m_helpContext = context; return S_OK; }

    HRESULT GetGUID(GUID* guid) override { return guid ? (*guid = m_guid, S_OK) : E_INVALIDARG; }
    HRESULT GetSource(BSTR* out) override { return Give(m_source, out); }
    HRESULT GetDescription(BSTR* out) override { return Give(m_description, out); }
    HRESULT GetHelpFile(BSTR* out) override { return Give(m_helpFile, out); }
    HRESULT GetHelpContext(std::uint32_t* out) override
    {
        return out ? (*out = m_helpContext, S_OK) : E_INVALIDARG;
    }

private:
    ~ErrorObject() = default;
    static std::u16string Text(const OLECHAR* text) { return text ? std::u16string(text) : std::u16string(); }
    static HRESULT Give(const std::u16string& text, BSTR* out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = SysAllocStringLen(text.data(), static_cast<unsigned>(text.size()));
        return S_OK;
    }

    std::atomic<std::uint32_t> m_refs{1};
    GUID m_guid = GUID_NULL;
    std::u16string m_source, m_description, m_helpFile;
    std::uint32_t m_helpContext = 0;
};

thread_local ComPtr<IErrorInfo> t_errorInfo;

} // namespace

HRESULT SetErrorInfo(std::uint32_t reserved, IErrorInfo* info)
{
    if (reserved != 0)
        return E_INVALIDARG;
    t_errorInfo = ComPtr<IErrorInfo>(info);
    return S_OK;
}

HRESULT GetErrorInfo(std::uint32_t reserved, IErrorInfo** info)
{
    if (!info)
        return E_INVALIDARG;
    *info = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    *info = t_errorInfo.Detach();
    return *info ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** info)
{
    if (!info)
        return E_INVALIDARG;
    try {
        *info = new ErrorObject;
    } catch (const std::bad_alloc&) {
        *info = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void SetErrorInfoText(const GUID& guid, std::string_view source, std::string_view description,
                      std::string_view helpFile, std::uint32_t helpContext)
{
    ICreateErrorInfo* raw = nullptr;
    if (FAILED(CreateErrorInfo(&raw)))
        return;
    ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
    std::u16string s = Utf8ToUtf16(source), d = Utf8ToUtf16(description), h = Utf8ToUtf16(helpFile);
    create->SetGUID(guid);
    create->SetSource(s.data());
    create->SetDescription(d.data());
    create->SetHelpFile(h.data());
    create->SetHelpContext(helpContext);
    void* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, &info))) {
        SetErrorInfo(0, static_cast<IErrorInfo*>(info));
        static_cast<IErrorInfo*>(info)->Release();
    }
}

} // namespace com
