#include "platform/com/typelib.h"

#include "platform/com/runtime.h"
#include "platform/session/registry.h"
#include "platform/sys/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace com {

namespace {

constexpr unsigned kPtr = sizeof(void*);
constexpr unsigned kMaxParams = 8;

// ---- The loaded form -------------------------------------------------------------

struct Param {
    std::u16string name;
    VARTYPE vt = VT_EMPTY;
    std::uint16_t flags = 0;
    bool Retval() const { return flags & PARAMFLAG_FRETVAL; }
};

struct Func {
    std::u16string name, help;
    MEMBERID memid = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    std::vector<Param> params;
    unsigned slot = 0;   // entry in the interface's table

    const Param* Retval() const { return !params.empty() && params.back().Retval() ? &params.back() : nullptr; }
    unsigned InCount() const { return static_cast<unsigned>(params.size()) - (Retval() ? 1 : 0); }
};

struct Type {
    TYPEKIND kind = TKIND_INTERFACE;   // TKIND_INTERFACE or TKIND_COCLASS
    std::u16string name, help;
    GUID guid = GUID_NULL;
    std::uint16_t major = 0, minor = 0, flags = 0;
    int base = -1;                     // interfaces: 0 IUnknown, 1 IDispatch of the standard library
    unsigned tableSize = 0;            // interfaces: entries in the table, the base's included
    std::vector<Func> funcs;
    int defaultInterface = -1;         // coclasses: index of the interface
    bool Dual() const { return kind == TKIND_INTERFACE && (flags & TYPEFLAG_FDUAL); }
};

struct Library {
    std::u16string name, help;
    GUID libid = GUID_NULL;
    std::uint16_t major = 0, minor = 0, flags = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    std::vector<Type> types;
};

// The standard OLE automation library, as far as the bases of interfaces go.
std::shared_ptr<const Library> StandardLibrary()
{
    static const std::shared_ptr<const Library> lib = [] {
        auto l = std::make_shared<Library>();
        l->name = u"stdole";
        l->help = u"OLE Automation";
        l->libid = LIBID_stdole;
        l->major = 2;
        Type unknown;
        unknown.name = u"IUnknown";
        unknown.guid = IID_IUnknown;
        unknown.flags = TYPEFLAG_FHIDDEN;
        unknown.tableSize = 3;
        Type dispatch;
        dispatch.name = u"IDispatch";
        dispatch.guid = IID_IDispatch;
        dispatch.base = 0;
        dispatch.tableSize = 7;
        l->types = {unknown, dispatch};
        return l;
    }();
    return lib;
}

// ---- Reading a resource ----------------------------------------------------------

struct BadResource {
    HRESULT hr;
    std::string why;
};

[[noreturn]] void Bad(const std::string& why) { throw BadResource{TYPE_E_INVDATAREAD, why}; }

bool IsIdentifier(const char* s)
{
    if (!s || !*s || (*s >= '0' && *s <= '9'))
        return false;
    for (; *s; ++s) {
        char c = *s;
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

std::u16string Name(const char* s, const std::string& what)
{
    if (!IsIdentifier(s))
        Bad(what + " has no valid name");
    return Utf8ToUtf16(s);
}

std::u16string Help(const char* s) { return s ? Utf8ToUtf16(s) : std::u16string(); }

bool ParamType(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_BOOL: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// Letter case ignored, as names are looked up.
bool SameName(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

Func ReadFunc(const TypeLibFunc& f, unsigned slot, const std::string& where)
{
    Func func;
    func.name = Name(f.name, "a function of " + where);
    std::string what = where + "." + f.name;
    func.help = Help(f.helpString);
    func.memid = f.memid;
    func.slot = slot;
    if (f.invkind != INVOKE_FUNC && f.invkind != INVOKE_PROPERTYGET && f.invkind != INVOKE_PROPERTYPUT &&
        f.invkind != INVOKE_PROPERTYPUTREF)
        Bad(what + " has an unknown invoke kind");
    func.invkind = f.invkind;
    if (f.callconv != CC_STDCALL)
        Bad(what + " is not stdcall");
    if (f.result != VT_HRESULT)
        Bad(what + " does not return HRESULT");
    if (f.paramCount > kMaxParams)
        Bad(what + " has more than 8 parameters");
    if (f.paramCount && !f.params)
        Bad(what + " has no parameter table");
    for (std::uint32_t i = 0; i < f.paramCount; ++i) {
        const TypeLibParam& p = f.params[i];
        Param param{Name(p.name, "a parameter of " + what), p.type, p.flags};
        bool in = p.flags == PARAMFLAG_FIN;
        bool retval = p.flags == (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL) && i + 1 == f.paramCount;
        if (!(in || retval) || !ParamType(p.type))
            Bad(what + "." + p.name + " is not a parameter this runtime can pass");
        for (const Param& other : func.params)
            if (SameName(other.name, param.name))
                Bad(what + " names two parameters " + p.name);
        func.params.push_back(std::move(param));
    }
    return func;
}

void CheckMembers(const Type& t, const std::string& where)
{
    for (std::size_t i = 0; i < t.funcs.size(); ++i)
        for (std::size_t j = i + 1; j < t.funcs.size(); ++j) {
            const Func& a = t.funcs[i];
            const Func& b = t.funcs[j];
            bool sameName = SameName(a.name, b.name);
            bool sameId = a.memid == b.memid;
            if (sameName != sameId)
                Bad(where + ": one member name must have one identifier");
            if (sameId && (a.invkind == b.invkind || a.invkind == INVOKE_FUNC || b.invkind == INVOKE_FUNC))
                Bad(where + ": member " + Utf16ToUtf8(a.name) + " is declared twice");
        }
}

std::shared_ptr<const Library> ReadResource(const TypeLibResource* r)
{
    if (!r)
        throw BadResource{TYPE_E_UNSUPFORMAT, "the library has no type library resource 1"};
    if (r->magic != kTypeLibMagic || r->format != kTypeLibFormat || r->size != sizeof(TypeLibResource))
        throw BadResource{TYPE_E_UNSUPFORMAT, "the type library resource is not of a format this runtime reads"};
    auto lib = std::make_shared<Library>();
    lib->name = Name(r->name, "the type library");
    lib->help = Help(r->helpString);
    if (r->libid == GUID_NULL)
        Bad("the type library has no identifier");
    lib->libid = r->libid;
    lib->major = r->majorVersion;
    lib->minor = r->minorVersion;
    lib->flags = r->libFlags;
    lib->lcid = r->lcid;
    if (r->syskind < SYS_WIN16 || r->syskind > SYS_WIN64)
        Bad("the type library names an unknown platform");
    lib->syskind = r->syskind;
    if ((r->importCount && !r->imports) || (r->interfaceCount && !r->interfaces) ||
        (r->coclassCount && !r->coclasses))
        Bad("a table of the type library is missing");

    bool standardImported = false;
    for (std::uint32_t i = 0; i < r->importCount; ++i) {
        Name(r->imports[i].name, "an imported library");
        if (r->imports[i].libid == LIBID_stdole)
            standardImported = true;
    }

    auto addType = [&](Type t, const std::string& what) {
        if (t.guid == GUID_NULL)
            Bad(what + " has no identifier");
        for (const Type& other : lib->types) {
            if (SameName(other.name, t.name))
                Bad("the type library names two types " + Utf16ToUtf8(t.name));
            if (other.guid == t.guid)
                Bad("the type library gives two types the identifier " + GuidToString(t.guid));
        }
        lib->types.push_back(std::move(t));
    };

    for (std::uint32_t i = 0; i < r->interfaceCount; ++i) {
        const TypeLibInterface& in = r->interfaces[i];
        Type t;
        t.kind = TKIND_INTERFACE;
        t.name = Name(in.name, "an interface");
        std::string what = "interface " + std::string(in.name);
        t.help = Help(in.helpString);
        t.guid = in.iid;
        t.major = in.majorVersion;
        t.minor = in.minorVersion;
        t.flags = in.typeFlags;
        if (in.base == IID_IUnknown)
            t.base = 0;
        else if (in.base == IID_IDispatch)
            t.base = 1;
        else
            Bad(what + " derives from neither IUnknown nor IDispatch");
        if (!standardImported)
            Bad(what + " derives from the standard OLE automation library, which is not imported");
        if (t.Dual() && (t.base != 1 || !(t.flags & TYPEFLAG_FOLEAUTOMATION) || !(t.flags & TYPEFLAG_FDISPATCHABLE)))
            Bad(what + " is dual but not a dispatchable, automation-compatible IDispatch");
        unsigned baseSlots = StandardLibrary()->types[t.base].tableSize;
        if (in.funcCount && !in.funcs)
            Bad(what + " has no function table");
        if (in.funcCount > 1000)
            Bad(what + " has too many functions");
        for (std::uint32_t k = 0; k < in.funcCount; ++k)
            t.funcs.push_back(ReadFunc(in.funcs[k], baseSlots + k, what));
        t.tableSize = baseSlots + in.funcCount;
        CheckMembers(t, what);
        addType(std::move(t), what);
    }
    std::size_t interfaces = lib->types.size();
    for (std::uint32_t i = 0; i < r->coclassCount; ++i) {
        const TypeLibCoClass& c = r->coclasses[i];
        Type t;
        t.kind = TKIND_COCLASS;
        t.name = Name(c.name, "a coclass");
        std::string what = "coclass " + std::string(c.name);
        t.help = Help(c.helpString);
        t.guid = c.clsid;
        t.major = c.majorVersion;
        t.minor = c.minorVersion;
        t.flags = c.typeFlags;
        for (std::size_t k = 0; k < interfaces; ++k)
            if (lib->types[k].guid == c.defaultInterface)
                t.defaultInterface = static_cast<int>(k);
        if (t.defaultInterface < 0)
            Bad(what + " has a default interface that is not in the library");
        addType(std::move(t), what);
    }
    return lib;
}

// ---- Helpers for the objects -----------------------------------------------------

BSTR Alloc(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<unsigned>(s.size())); }

void Give(BSTR* out, const std::u16string& s)
{
    if (out)
        *out = Alloc(s);
}

// References between types: the standard library's, and a library's own in
// their default and their table view.
constexpr HREFTYPE kRefStandard = 0x10000;
constexpr HREFTYPE kRefOwn = 0x20000;
constexpr HREFTYPE kRefTable = 0x30000;

template <class Self, class... Interfaces>
class RefCounted : public Interfaces... {
public:
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override
    {
        std::uint32_t left = --m_refs;
        if (left == 0)
            delete static_cast<Self*>(this);
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() = default;

private:
    std::atomic<std::uint32_t> m_refs{1};
};

class TypeLibObject;

// One view of one type of a loaded library.
class TypeInfoObject final : public RefCounted<TypeInfoObject, ITypeInfo> {
public:
    enum class View { Default, Table };

    TypeInfoObject(std::shared_ptr<const Library> lib, unsigned index, View view)
        : m_lib(std::move(lib)), m_index(index), m_view(view)
    {
    }

    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *object = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetTypeAttr(TYPEATTR** out) override
    {
        if (!out)
            return E_INVALIDARG;
        const Type& t = T();
        auto* a = new (std::nothrow) TYPEATTR{};
        if (!a)
            return E_OUTOFMEMORY;
        a->guid = t.guid;
        a->lcid = m_lib->lcid;
        a->memidConstructor = MEMBERID_NIL;
        a->memidDestructor = MEMBERID_NIL;
        a->cbSizeInstance = kPtr;
        a->typekind = Kind();
        a->cFuncs = static_cast<std::uint16_t>(t.funcs.size());
        a->cImplTypes = t.kind == TKIND_COCLASS ? 1 : t.base >= 0 ? 1 : 0;
        a->cbSizeVft = static_cast<std::uint16_t>(
            t.kind == TKIND_COCLASS ? 0 : (Dispatching() ? 7 : t.tableSize) * kPtr);
        a->cbAlignment = kPtr;
        a->wTypeFlags = t.flags;
        a->wMajorVerNum = t.major;
        a->wMinorVerNum = t.minor;
        a->tdescAlias.vt = VT_EMPTY;
        *out = a;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

    HRESULT GetTypeComp(ITypeComp** comp) override
    {
        if (comp)
            *comp = nullptr;
        return E_NOTIMPL;
    }

    // One block: the FUNCDESC, its parameters, and what VT_PTR parameters
    // point at.
    HRESULT GetFuncDesc(unsigned index, FUNCDESC** out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        const Type& t = T();
        if (index >= t.funcs.size())
            return TYPE_E_ELEMENTNOTFOUND;
        const Func& f = t.funcs[index];
        bool dispatching = Dispatching();
        const Param* retval = f.Retval();
        std::size_t n = dispatching ? f.InCount() : f.params.size();
        std::size_t bytes = sizeof(FUNCDESC) + n * (sizeof(ELEMDESC) + sizeof(TYPEDESC));
        void* block = std::malloc(bytes);
        if (!block)
            return E_OUTOFMEMORY;
        auto* d = new (block) FUNCDESC{};
        auto* params = reinterpret_cast<ELEMDESC*>(d + 1);
        auto* pointees = reinterpret_cast<TYPEDESC*>(params + n);
        for (std::size_t i = 0; i < n; ++i) {
            const Param& p = f.params[i];
            ELEMDESC* e = new (params + i) ELEMDESC{};
            e->paramdesc.wParamFlags = p.flags;
            if (p.Retval()) {
                TYPEDESC* to = new (pointees + i) TYPEDESC{};
                to->vt = p.vt;
                e->tdesc.vt = VT_PTR;
                e->tdesc.lptdesc = to;
            } else {
                e->tdesc.vt = p.vt;
            }
        }
        d->memid = f.memid;
        d->lprgelemdescParam = n ? params : nullptr;
        d->funckind = dispatching ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        d->invkind = f.invkind;
        d->callconv = CC_STDCALL;
        d->cParams = static_cast<std::int16_t>(n);
        d->oVft = static_cast<std::int16_t>(f.slot * kPtr);
        VARTYPE returned = VT_HRESULT;
        if (dispatching)
            returned = retval ? retval->vt : VARTYPE{VT_VOID};
        d->elemdescFunc.tdesc.vt = returned;
        *out = d;
        return S_OK;
    }
    void ReleaseFuncDesc(FUNCDESC* desc) override { std::free(desc); }

    HRESULT GetVarDesc(unsigned, VARDESC** out) override
    {
        if (out)
            *out = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    void ReleaseVarDesc(VARDESC*) override {}

    HRESULT GetNames(MEMBERID memid, BSTR* names, unsigned maxNames, unsigned* count) override
    {
        if (!names || !count)
            return E_INVALIDARG;
        *count = 0;
        const Func* f = FindFunc(memid);
        if (!f)
            return TYPE_E_ELEMENTNOTFOUND;
        std::vector<const std::u16string*> all{&f->name};
        std::size_t n = Dispatching() ? f->InCount() : f->params.size();
        for (std::size_t i = 0; i < n; ++i)
            all.push_back(&f->params[i].name);
        for (const auto* name : all) {
            if (*count >= maxNames)
                break;
            names[(*count)++] = Alloc(*name);
        }
        return S_OK;
    }

    HRESULT GetRefTypeOfImplType(unsigned index, HREFTYPE* ref) override
    {
        if (!ref)
            return E_INVALIDARG;
        const Type& t = T();
        if (index == static_cast<unsigned>(-1) && t.Dual()) {
            *ref = (m_view == View::Default ? kRefTable : kRefOwn) | m_index;
            return S_OK;
        }
        if (index != 0)
            return TYPE_E_ELEMENTNOTFOUND;
        if (t.kind == TKIND_COCLASS) {
            *ref = kRefOwn | static_cast<unsigned>(t.defaultInterface);
            return S_OK;
        }
        if (t.base < 0)
            return TYPE_E_ELEMENTNOTFOUND;
        *ref = kRefStandard | static_cast<unsigned>(t.base);
        return S_OK;
    }

    HRESULT GetImplTypeFlags(unsigned index, std::int32_t* flags) override
    {
        if (!flags)
            return E_INVALIDARG;
        const Type& t = T();
        if (index != 0 || (t.kind != TKIND_COCLASS && t.base < 0))
            return TYPE_E_ELEMENTNOTFOUND;
        *flags = t.kind == TKIND_COCLASS ? IMPLTYPEFLAG_FDEFAULT : 0;
        return S_OK;
    }

    HRESULT GetIDsOfNames(OLECHAR** names, unsigned count, MEMBERID* ids) override
    {
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        for (unsigned i = 0; i < count; ++i)
            ids[i] = MEMBERID_NIL;
        const Func* f = nullptr;
        for (const Func& candidate : T().funcs)
            if (names[0] && SameName(candidate.name, names[0])) {
                f = &candidate;
                break;
            }
        if (!f)
            return DISP_E_UNKNOWNNAME;
        ids[0] = f->memid;
        HRESULT hr = S_OK;
        for (unsigned i = 1; i < count; ++i) {
            bool found = false;
            for (unsigned k = 0; k < f->InCount() && !found; ++k)
                if (names[i] && SameName(f->params[k].name, names[i])) {
                    ids[i] = static_cast<MEMBERID>(k);
                    found = true;
                }
            if (!found)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT Invoke(void* instance, MEMBERID memid, std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, unsigned* argErr) override;

    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, std::uint32_t* helpContext,
                             BSTR* helpFile) override
    {
        const std::u16string* n = nullptr;
        const std::u16string* d = nullptr;
        if (memid == MEMBERID_NIL) {
            n = &T().name;
            d = &T().help;
        } else if (const Func* f = FindFunc(memid)) {
            n = &f->name;
            d = &f->help;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        Give(name, *n);
        Give(doc, *d);
        if (helpContext)
            *helpContext = 0;
        if (helpFile)
            *helpFile = nullptr;
        return S_OK;
    }

    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dllName, BSTR* name, std::uint16_t* ordinal) override
    {
        if (dllName)
            *dllName = nullptr;
        if (name)
            *name = nullptr;
        if (ordinal)
            *ordinal = 0;
        return TYPE_E_BADMODULEKIND;
    }

    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override
    {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        unsigned index = ref & 0xFFFF;
        switch (ref & ~0xFFFFu) {
        case kRefStandard:
            if (index >= StandardLibrary()->types.size())
                return TYPE_E_ELEMENTNOTFOUND;
            *info = new TypeInfoObject(StandardLibrary(), index, View::Default);
            return S_OK;
        case kRefOwn:
        case kRefTable:
            if (index >= m_lib->types.size())
                return TYPE_E_ELEMENTNOTFOUND;
            if ((ref & ~0xFFFFu) == kRefTable && !m_lib->types[index].Dual())
                return TYPE_E_ELEMENTNOTFOUND;
            *info = new TypeInfoObject(m_lib, index, (ref & ~0xFFFFu) == kRefTable ? View::Table : View::Default);
            return S_OK;
        default:
            return TYPE_E_ELEMENTNOTFOUND;
        }
    }

    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** address) override
    {
        if (address)
            *address = nullptr;
        return TYPE_E_BADMODULEKIND;
    }

    // A coclass makes its object as CoCreateInstance does.
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) override
    {
        if (!object)
            return E_INVALIDARG;
        *object = nullptr;
        if (T().kind != TKIND_COCLASS)
            return TYPE_E_WRONGTYPEKIND;
        return CoCreateInstance(T().guid, outer, CLSCTX_INPROC_SERVER, riid, object);
    }

    HRESULT GetMops(MEMBERID, BSTR* mops) override
    {
        if (mops)
            *mops = nullptr;
        return S_OK;
    }

    HRESULT GetContainingTypeLib(ITypeLib** lib, unsigned* index) override;

private:
    const Type& T() const { return m_lib->types[m_index]; }
    // The dispatch view of a dual interface.
    bool Dispatching() const { return T().Dual() && m_view == View::Default; }
    TYPEKIND Kind() const
    {
        return T().kind == TKIND_COCLASS ? TKIND_COCLASS : Dispatching() ? TKIND_DISPATCH : TKIND_INTERFACE;
    }
    const Func* FindFunc(MEMBERID memid) const
    {
        for (const Func& f : T().funcs)
            if (f.memid == memid)
                return &f;
        return nullptr;
    }

    std::shared_ptr<const Library> m_lib;
    unsigned m_index;
    View m_view;
};

class TypeLibObject final : public RefCounted<TypeLibObject, ITypeLib> {
public:
    explicit TypeLibObject(std::shared_ptr<const Library> lib) : m_lib(std::move(lib)) {}

    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *object = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    unsigned GetTypeInfoCount() override { return static_cast<unsigned>(m_lib->types.size()); }

    HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) override
    {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        if (index >= m_lib->types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *info = new TypeInfoObject(m_lib, index, TypeInfoObject::View::Default);
        return S_OK;
    }

    HRESULT GetTypeInfoType(unsigned index, TYPEKIND* kind) override
    {
        if (!kind)
            return E_INVALIDARG;
        if (index >= m_lib->types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        const Type& t = m_lib->types[index];
        *kind = t.kind == TKIND_COCLASS ? TKIND_COCLASS : t.Dual() ? TKIND_DISPATCH : TKIND_INTERFACE;
        return S_OK;
    }

    HRESULT GetTypeInfoOfGuid(const GUID& guid, ITypeInfo** info) override
    {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        for (std::size_t i = 0; i < m_lib->types.size(); ++i)
            if (m_lib->types[i].guid == guid)
                return GetTypeInfo(static_cast<unsigned>(i), info);
        return TYPE_E_ELEMENTNOTFOUND;
    }

    HRESULT GetLibAttr(TLIBATTR** out) override
    {
        if (!out)
            return E_INVALIDARG;
        auto* a = new (std::nothrow) TLIBATTR{};
        if (!a)
            return E_OUTOFMEMORY;
        a->guid = m_lib->libid;
        a->lcid = m_lib->lcid;
        a->syskind = m_lib->syskind;
        a->wMajorVerNum = m_lib->major;
        a->wMinorVerNum = m_lib->minor;
        a->wLibFlags = m_lib->flags;
        *out = a;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

    HRESULT GetTypeComp(ITypeComp** comp) override
    {
        if (comp)
            *comp = nullptr;
        return E_NOTIMPL;
    }

    HRESULT GetDocumentation(std::int32_t index, BSTR* name, BSTR* doc, std::uint32_t* helpContext,
                             BSTR* helpFile) override
    {
        const std::u16string* n = &m_lib->name;
        const std::u16string* d = &m_lib->help;
        if (index != -1) {
            if (index < 0 || static_cast<std::size_t>(index) >= m_lib->types.size())
                return TYPE_E_ELEMENTNOTFOUND;
            n = &m_lib->types[static_cast<std::size_t>(index)].name;
            d = &m_lib->types[static_cast<std::size_t>(index)].help;
        }
        Give(name, *n);
        Give(doc, *d);
        if (helpContext)
            *helpContext = 0;
        if (helpFile)
            *helpFile = nullptr;
        return S_OK;
    }

    // A type, function or parameter of that name; the buffer gets the name as
    // the library spells it.
    HRESULT IsName(OLECHAR* name, std::uint32_t, BOOL* found) override
    {
        if (!name || !found)
            return E_INVALIDARG;
        *found = 0;
        auto match = [&](const std::u16string& candidate) {
            if (*found || !SameName(candidate, name))
                return;
            std::memcpy(name, candidate.data(), candidate.size() * sizeof(OLECHAR));
            *found = 1;
        };
        for (const Type& t : m_lib->types) {
            match(t.name);
            for (const Func& f : t.funcs) {
                match(f.name);
                for (const Param& p : f.params)
                    match(p.name);
            }
        }
        return S_OK;
    }

    HRESULT FindName(OLECHAR* name, std::uint32_t, ITypeInfo** infos, MEMBERID* ids, std::uint16_t* found) override
    {
        if (!name || !infos || !ids || !found)
            return E_INVALIDARG;
        std::uint16_t room = *found, n = 0;
        for (std::size_t i = 0; i < m_lib->types.size() && n < room; ++i) {
            const Type& t = m_lib->types[i];
            MEMBERID id = MEMBERID_NIL;
            bool hit = SameName(t.name, name);
            for (const Func& f : t.funcs)
                if (!hit && SameName(f.name, name)) {
                    hit = true;
                    id = f.memid;
                }
            if (!hit)
                continue;
            infos[n] = new TypeInfoObject(m_lib, static_cast<unsigned>(i), TypeInfoObject::View::Default);
            ids[n++] = id;
        }
        *found = n;
        return S_OK;
    }

private:
    std::shared_ptr<const Library> m_lib;
};

HRESULT TypeInfoObject::GetContainingTypeLib(ITypeLib** lib, unsigned* index)
{
    if (!lib)
        return E_INVALIDARG;
    *lib = new TypeLibObject(m_lib);
    if (index)
        *index = m_index;
    return S_OK;
}

// ---- Calling an entry of an interface's table --------------------------------------
//
// Every parameter this runtime passes is an integer or a pointer, so each goes
// as one machine word, in the place the ABI gives that word; the function's
// own parameter types make no difference to where it finds them.

using Word = std::uintptr_t;
template <std::size_t>
using WordAt = Word;

template <std::size_t... I>
HRESULT CallWith(void* fn, void* self, const Word* args, std::index_sequence<I...>)
{
    using Entry = HRESULT (*)(void*, WordAt<I>...);
    return reinterpret_cast<Entry>(fn)(self, args[I]...);
}

HRESULT CallEntry(void* instance, unsigned slot, const std::vector<Word>& a)
{
    void* fn = (*static_cast<void***>(instance))[slot];
    const Word* p = a.data();
    switch (a.size()) {
    case 0: return CallWith(fn, instance, p, std::make_index_sequence<0>());
    case 1: return CallWith(fn, instance, p, std::make_index_sequence<1>());
    case 2: return CallWith(fn, instance, p, std::make_index_sequence<2>());
    case 3: return CallWith(fn, instance, p, std::make_index_sequence<3>());
    case 4: return CallWith(fn, instance, p, std::make_index_sequence<4>());
    case 5: return CallWith(fn, instance, p, std::make_index_sequence<5>());
    case 6: return CallWith(fn, instance, p, std::make_index_sequence<6>());
    case 7: return CallWith(fn, instance, p, std::make_index_sequence<7>());
    case 8: return CallWith(fn, instance, p, std::make_index_sequence<8>());
    default: return E_UNEXPECTED;   // the loader allows no more
    }
}

Word WordOf(const VARIANT& v)
{
    switch (v.vt) {
    case VT_I1: return static_cast<Word>(static_cast<std::intptr_t>(static_cast<std::int8_t>(v.bVal)));
    case VT_I2: return static_cast<Word>(static_cast<std::intptr_t>(v.iVal));
    case VT_I4: case VT_INT: return static_cast<Word>(static_cast<std::intptr_t>(v.lVal));
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: case VT_UINT: return v.ulVal;
    case VT_BOOL: return static_cast<Word>(static_cast<std::intptr_t>(v.boolVal));
    case VT_BSTR: return reinterpret_cast<Word>(v.bstrVal);
    case VT_DISPATCH: return reinterpret_cast<Word>(v.pdispVal);
    case VT_UNKNOWN: return reinterpret_cast<Word>(v.punkVal);
    default: return 0;
    }
}

// The converted arguments, freed however the call ends.
struct Arguments {
    std::vector<VARIANT> values;
    ~Arguments()
    {
        for (VARIANT& v : values)
            VariantClear(&v);
    }
};

} // namespace

HRESULT TypeInfoObject::Invoke(void* instance, MEMBERID memid, std::uint16_t flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excep, unsigned* argErr)
{
    if (!instance || !params)
        return E_INVALIDARG;
    if (params->cArgs && !params->rgvarg)
        return E_INVALIDARG;
    const Func* f = nullptr;
    for (const Func& candidate : T().funcs)
        if (candidate.memid == memid && (candidate.invkind & flags)) {
            f = &candidate;
            break;
        }
    if (!f)
        return DISP_E_MEMBERNOTFOUND;
    bool put = f->invkind == INVOKE_PROPERTYPUT || f->invkind == INVOKE_PROPERTYPUTREF;
    if (params->cNamedArgs > 1 ||
        (params->cNamedArgs == 1 &&
         !(put && params->rgdispidNamedArgs && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT)))
        return DISP_E_NONAMEDARGS;
    unsigned in = f->InCount();
    if (params->cArgs != in)
        return DISP_E_BADPARAMCOUNT;

    Arguments args;
    args.values.resize(in);
    std::vector<Word> words;
    for (unsigned i = 0; i < in; ++i) {
        VariantInit(&args.values[i]);
        unsigned at = params->cArgs - 1 - i;
        HRESULT hr = VariantChangeType(&args.values[i], &params->rgvarg[at], 0, f->params[i].vt);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = at;
            return hr;
        }
        words.push_back(WordOf(args.values[i]));
    }
    VARIANT out;
    VariantInit(&out);
    if (const Param* retval = f->Retval()) {
        out.vt = retval->vt;
        words.push_back(reinterpret_cast<Word>(&out.lVal));
    }

    HRESULT hr = CallEntry(instance, f->slot, words);
    if (FAILED(hr)) {
        VariantClear(&out);
        if (!excep)
            return DISP_E_EXCEPTION;
        *excep = EXCEPINFO{};
        excep->scode = hr;
        IErrorInfo* raw = nullptr;
        if (GetErrorInfo(0, &raw) == S_OK) {
            ComPtr<IErrorInfo> info = ComPtr<IErrorInfo>::Attach(raw);
            info->GetSource(&excep->bstrSource);
            info->GetDescription(&excep->bstrDescription);
            info->GetHelpFile(&excep->bstrHelpFile);
            info->GetHelpContext(&excep->dwHelpContext);
        }
        return DISP_E_EXCEPTION;
    }
    if (f->Retval()) {
        if (result)
            *result = out;
        else
            VariantClear(&out);
    }
    return S_OK;
}

// ---- Loading -----------------------------------------------------------------------

namespace {

// The runtime's own failures come with error information, so that a caller
// can say what went wrong.
HRESULT Fail(HRESULT hr, const std::string& text)
{
    SetErrorInfoText(GUID_NULL, kRuntimeErrorSource, text);
    return hr;
}

std::string Hex(std::uint32_t n)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", n);
    return buf;
}

std::string VersionText(std::uint16_t major, std::uint16_t minor) { return Hex(major) + "." + Hex(minor); }

const char* PlatformKey(SYSKIND kind)
{
    switch (kind) {
    case SYS_WIN16: return "win16";
    case SYS_MAC: return "mac";
    case SYS_WIN64: return "win64";
    default: return "win32";
    }
}

std::string LibKey(const GUID& libid, std::uint16_t major, std::uint16_t minor)
{
    return "TypeLib\\" + GuidToString(libid) + "\\" + VersionText(major, minor);
}

} // namespace

HRESULT LoadTypeLibFromResource(const TypeLibResource* resource, ITypeLib** lib)
{
    if (!lib)
        return E_INVALIDARG;
    *lib = nullptr;
    try {
        *lib = new TypeLibObject(ReadResource(resource));
        return S_OK;
    } catch (const BadResource& bad) {
        return Fail(bad.hr, "bad type library: " + bad.why);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT LoadTypeLib(const std::string& path, ITypeLib** lib)
{
    if (!lib)
        return E_INVALIDARG;
    *lib = nullptr;
    if (path.empty())
        return Fail(TYPE_E_CANTLOADLIBRARY, "no type library file named");
    // A bare name is a file in the current folder, not one to search for.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return Fail(TYPE_E_CANTLOADLIBRARY, "cannot load " + path + ": " + (why ? why : "unknown error"));
    }
    auto get = reinterpret_cast<DllGetTypeLibResourceFn>(::dlsym(handle, "DllGetTypeLibResource"));
    HRESULT hr = get ? LoadTypeLibFromResource(get(1), lib)
                     : Fail(TYPE_E_CANTLOADLIBRARY, path + " carries no type library");
    ::dlclose(handle);
    return hr;
}

HRESULT LoadRegTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor, LCID lcid, ITypeLib** lib)
{
    if (!lib)
        return E_INVALIDARG;
    *lib = nullptr;
    std::string key = LibKey(libid, major, minor);
    try {
        auto& store = session::RegistryStore::Default();
        for (LCID candidate : {lcid, lcid & 0x3FFu, 0u}) {
            for (const char* platform : {"win32", "win64"}) {
                std::string sub = key + "\\" + Hex(candidate) + "\\" + platform;
                auto value = store.GetValue(session::HKEY_CLASSES_ROOT, sub, "");
                if (!value)
                    continue;
                if (value->type != session::REG_SZ || value->text.empty())
                    return Fail(TYPE_E_LIBNOTREGISTERED,
                                "HKEY_CLASSES_ROOT\\" + sub + " does not hold the path of a type library");
                return LoadTypeLib(value->text, lib);
            }
        }
    } catch (const sys::Error& e) {
        return Fail(TYPE_E_REGISTRYACCESS, e.what());
    }
    return Fail(TYPE_E_LIBNOTREGISTERED, "type library " + GuidToString(libid) + " " +
                                             VersionText(major, minor) + " is not registered");
}

// ---- Registration --------------------------------------------------------------------

namespace {

void WriteDefault(session::RegistryStore& store, const std::string& key, const std::string& name,
                  const std::string& value)
{
    store.CreateKey(session::HKEY_CLASSES_ROOT, key);
    if (!store.SetValue(session::HKEY_CLASSES_ROOT, key, session::RegValue{name, session::REG_SZ, value, 0}))
        throw session::RegistryError("cannot write HKEY_CLASSES_ROOT\\" + key);
}

// As the system deletes a key: not while it has subkeys.
void DeleteLeaf(session::RegistryStore& store, const std::string& key)
{
    if (store.KeyExists(session::HKEY_CLASSES_ROOT, key) && store.SubKeys(session::HKEY_CLASSES_ROOT, key).empty())
        store.DeleteKey(session::HKEY_CLASSES_ROOT, key);
}

std::string TakeText(BSTR s)
{
    std::string text = BstrToUtf8(s);
    SysFreeString(s);
    return text;
}

} // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, const std::string& path, const std::string& helpDir)
{
    if (!lib || path.empty())
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    BSTR doc = nullptr;
    lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr);
    std::string help = TakeText(doc);
    std::string key = LibKey(a.guid, a.wMajorVerNum, a.wMinorVerNum);
    std::string libid = GuidToString(a.guid);
    std::string folder = helpDir;
    if (folder.empty())
        folder = std::filesystem::path(path).parent_path().string();

    try {
        auto& store = session::RegistryStore::Default();
        WriteDefault(store, key, "", help);
        WriteDefault(store, key + "\\" + Hex(a.lcid) + "\\" + PlatformKey(a.syskind), "", path);
        WriteDefault(store, key + "\\FLAGS", "", std::to_string(a.wLibFlags));
        WriteDefault(store, key + "\\HELPDIR", "", folder);

        std::string proxy = GuidToString(CLSID_PSOAInterface);
        for (unsigned i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            {
                ITypeInfo* raw = nullptr;
                if (FAILED(lib->GetTypeInfo(i, &raw)))
                    continue;
                info = ComPtr<ITypeInfo>::Attach(raw);
            }
            TYPEATTR* ta = nullptr;
            if (FAILED(info->GetTypeAttr(&ta)))
                continue;
            GUID iid = ta->guid;
            bool automation = ta->typekind == TKIND_DISPATCH ||
                              (ta->typekind == TKIND_INTERFACE &&
                               (ta->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)));
            info->ReleaseTypeAttr(ta);
            if (!automation)
                continue;
            BSTR name = nullptr;
            info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            std::string ikey = "Interface\\" + GuidToString(iid);
            WriteDefault(store, ikey, "", TakeText(name));
            WriteDefault(store, ikey + "\\ProxyStubClsid", "", proxy);
            WriteDefault(store, ikey + "\\ProxyStubClsid32", "", proxy);
            WriteDefault(store, ikey + "\\TypeLib", "", libid);
            WriteDefault(store, ikey + "\\TypeLib", "Version", VersionText(a.wMajorVerNum, a.wMinorVerNum));
        }
    } catch (const sys::Error& e) {
        return Fail(TYPE_E_REGISTRYACCESS, e.what());
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor, LCID lcid, SYSKIND syskind)
{
    std::string key = LibKey(libid, major, minor);
    std::string version = VersionText(major, minor);
    try {
        auto& store = session::RegistryStore::Default();
        constexpr auto root = session::HKEY_CLASSES_ROOT;
        if (!store.KeyExists(root, key))
            return Fail(TYPE_E_REGISTRYACCESS, "type library " + GuidToString(libid) + " " + version +
                                                   " is not registered");

        for (const std::string& iid : store.SubKeys(root, "Interface")) {
            std::string ikey = "Interface\\" + iid;
            auto lib = store.GetValue(root, ikey + "\\TypeLib", "");
            if (!lib || lib->type != session::REG_SZ || ParseGuid(lib->text) != libid)
                continue;
            auto ver = store.GetValue(root, ikey + "\\TypeLib", "Version");
            if (ver && !(ver->type == session::REG_SZ && sys::EqualNoCase(ver->text, version)))
                continue;
            for (const char* sub : {"ProxyStubClsid", "ProxyStubClsid32", "TypeLib"})
                DeleteLeaf(store, ikey + "\\" + sub);
            DeleteLeaf(store, ikey);
        }

        std::string locale = key + "\\" + Hex(lcid);
        DeleteLeaf(store, locale + "\\" + PlatformKey(syskind));
        DeleteLeaf(store, locale);
        bool otherLocales = false;
        for (const std::string& sub : store.SubKeys(root, key))
            if (!sys::EqualNoCase(sub, "FLAGS") && !sys::EqualNoCase(sub, "HELPDIR"))
                otherLocales = true;
        if (!otherLocales) {
            DeleteLeaf(store, key + "\\FLAGS");
            DeleteLeaf(store, key + "\\HELPDIR");
            DeleteLeaf(store, key);
            DeleteLeaf(store, "TypeLib\\" + GuidToString(libid));
        }
    } catch (const sys::Error& e) {
        return Fail(TYPE_E_REGISTRYACCESS, e.what());
    }
    return S_OK;
}

// ---- Dispatch helpers -------------------------------------------------------------

HRESULT DispGetIDsOfNames(ITypeInfo* info, OLECHAR** names, unsigned count, DISPID* ids)
{
    if (!info)
        return E_INVALIDARG;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID memid, std::uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, unsigned* argErr)
{
    if (!info)
        return E_INVALIDARG;
    return info->Invoke(instance, memid, flags, params, result, excep, argErr);
}

} // namespace com
