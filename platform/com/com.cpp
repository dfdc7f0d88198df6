#include "platform/com/com.h"

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
