// The COM runtime: variants, error information, type libraries and the calls
// they drive, their registration, and finding servers through the registry.
// A small automation class of the test's own stands in for a server's.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sqlite3.h>
#include <thread>

#include "platform/com/com.h"
#include "platform/com/runtime.h"
#include "platform/com/server.h"
#include "platform/com/typelib.h"
#include "platform/session/registry.h"
#include "tests/com_support.h"
#include "tests/test_support.h"

using namespace com;
using testing_support::IsolatedEnvironment;

namespace {

// ---- A test automation class --------------------------------------------------------

constexpr GUID LIBID_Test = {0x1D0C51A0, 0x2B7E, 0x4C11, {0x9A, 0x01, 0x30, 0x5E, 0x7B, 0x40, 0x21, 0x10}};
constexpr GUID IID_ITestDual = {0x1D0C51A1, 0x2B7E, 0x4C11, {0x9A, 0x01, 0x30, 0x5E, 0x7B, 0x40, 0x21, 0x10}};
constexpr GUID CLSID_TestObject = {0x1D0C51A2, 0x2B7E, 0x4C11, {0x9A, 0x01, 0x30, 0x5E, 0x7B, 0x40, 0x21, 0x10}};

struct ITestDual : IDispatch {
    virtual HRESULT Echo(BSTR text, BSTR* result) = 0;
    virtual HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) = 0;
    virtual HRESULT Fail(std::int32_t code) = 0;
    virtual HRESULT get_Flag(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Flag(VARIANT_BOOL value) = 0;
    virtual HRESULT Mix(std::int8_t a, std::int16_t b, std::uint8_t c, std::uint16_t d, std::uint32_t e,
                        VARIANT_BOOL f, BSTR g, BSTR* out) = 0;

protected:
    ~ITestDual() = default;
};

constexpr std::uint16_t kIn = PARAMFLAG_FIN;
constexpr std::uint16_t kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

constexpr TypeLibParam kEchoParams[] = {{"Text", VT_BSTR, kIn}, {"Result", VT_BSTR, kRetval}};
constexpr TypeLibParam kAddParams[] = {{"A", VT_I4, kIn}, {"B", VT_I4, kIn}, {"Sum", VT_I4, kRetval}};
constexpr TypeLibParam kFailParams[] = {{"Code", VT_I4, kIn}};
constexpr TypeLibParam kFlagGet[] = {{"Value", VT_BOOL, kRetval}};
constexpr TypeLibParam kFlagPut[] = {{"Value", VT_BOOL, kIn}};
constexpr TypeLibParam kMixParams[] = {
    {"A", VT_I1, kIn}, {"B", VT_I2, kIn}, {"C", VT_UI1, kIn}, {"D", VT_UI2, kIn},
    {"E", VT_UI4, kIn}, {"F", VT_BOOL, kIn}, {"G", VT_BSTR, kIn}, {"Out", VT_BSTR, kRetval},
};

constexpr TypeLibFunc kFuncs[] = {
    {"Echo", 1, INVOKE_FUNC, CC_STDCALL, VT_HRESULT, kEchoParams, 2, "Gives its text back"},
    {"Add", 2, INVOKE_FUNC, CC_STDCALL, VT_HRESULT, kAddParams, 3, nullptr},
    {"Fail", 3, INVOKE_FUNC, CC_STDCALL, VT_HRESULT, kFailParams, 1, nullptr},
    {"Flag", 4, INVOKE_PROPERTYGET, CC_STDCALL, VT_HRESULT, kFlagGet, 1, nullptr},
    {"Flag", 4, INVOKE_PROPERTYPUT, CC_STDCALL, VT_HRESULT, kFlagPut, 1, nullptr},
    {"Mix", 5, INVOKE_FUNC, CC_STDCALL, VT_HRESULT, kMixParams, 8, nullptr},
};

constexpr std::uint16_t kDual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
constexpr TypeLibInterface kInterfaces[] = {
    {"ITestDual", IID_ITestDual, 1, 0, kDual, IID_IDispatch, kFuncs, 6, "Test interface"},
};
constexpr TypeLibCoClass kCoClasses[] = {
    {"TestObject", CLSID_TestObject, 1, 0, TYPEFLAG_FCANCREATE, IID_ITestDual, "Test object"},
};
constexpr TypeLibImport kImports[] = {{"stdole", LIBID_stdole, 2, 0}};
constexpr TypeLibResource kTestLib = {
    kTypeLibMagic, kTypeLibFormat, sizeof(TypeLibResource), "TestLib", LIBID_Test, 1, 0, 0x40C, SYS_WIN32, 0,
    "Test library", kImports, 1, kInterfaces, 1, kCoClasses, 1,
};

class TTestObject final : public AutoObject<ITestDual> {
public:
    using AutoObject::AutoObject;

    HRESULT Echo(BSTR text, BSTR* result) override
    {
        *result = SysAllocStringLen(text, SysStringLen(text));
        return S_OK;
    }
    HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) override
    {
        *sum = a + b;
        return S_OK;
    }
    HRESULT Fail(std::int32_t code) override
    {
        return SafeCall([&] {
            if (code != 0)
                throw OleSysError("refused with a code", code);
            throw sys::Error("plain failure");
        });
    }
    HRESULT get_Flag(VARIANT_BOOL* value) override
    {
        *value = m_flag;
        return S_OK;
    }
    HRESULT put_Flag(VARIANT_BOOL value) override
    {
        m_flag = value;
        return S_OK;
    }
    HRESULT Mix(std::int8_t a, std::int16_t b, std::uint8_t c, std::uint16_t d, std::uint32_t e, VARIANT_BOOL f,
                BSTR g, BSTR* out) override
    {
        std::string text = std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                           std::to_string(d) + " " + std::to_string(e) + " " + std::to_string(f) + " " +
                           BstrToUtf8(g);
        *out = SysAllocStringUtf8(text);
        return S_OK;
    }

private:
    VARIANT_BOOL m_flag = VARIANT_FALSE;
};

IUnknown* CreateTestObject(AutoObjectFactory& factory)
{
    return static_cast<ITestDual*>(new TTestObject(factory));
}

ComServer g_server(kTestLib, &kTestLib);
AutoObjectFactory g_factory(g_server, CreateTestObject, CLSID_TestObject, Instancing::MultiInstance,
                            ThreadingModel::Apartment);

// ---- Helpers ----------------------------------------------------------------------

template <class T>
ComPtr<T> Adopt(void* p)
{
    return ComPtr<T>::Attach(static_cast<T*>(p));
}

ComPtr<IDispatch> NewTestObject()
{
    void* p = nullptr;
    EXPECT_EQ(g_factory.CreateInstance(nullptr, IID_IDispatch, &p), S_OK);
    return Adopt<IDispatch>(p);
}

ComPtr<ITypeLib> LoadTestLib()
{
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadTypeLibFromResource(&kTestLib, &lib), S_OK);
    return ComPtr<ITypeLib>::Attach(lib);
}

// A variant that frees itself.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    Var(const Var&) = delete;
    ~Var() { VariantClear(&v); }
    static Var I4(std::int32_t n) { Var r; r.v.vt = VT_I4; r.v.lVal = n; return r; }
    static Var R8(double d) { Var r; r.v.vt = VT_R8; r.v.dblVal = d; return r; }
    static Var Bool(bool b) { Var r; r.v.vt = VT_BOOL; r.v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; return r; }
    static Var Str(std::string_view s) { Var r; r.v.vt = VT_BSTR; r.v.bstrVal = SysAllocStringUtf8(s); return r; }
    static Var Of(VARTYPE vt) { Var r; r.v.vt = vt; return r; }
    Var(Var&& o) noexcept : v(o.v) { VariantInit(&o.v); }
};

// The call a script makes: arguments given first to last.
struct Call {
    HRESULT hr = S_OK;
    Var result;
    EXCEPINFO excep{};
    unsigned argErr = 999;
    ~Call()
    {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
};

void Invoke(IDispatch* object, DISPID id, std::uint16_t flags, std::vector<Var>& args, Call& call,
            std::vector<DISPID> named = {})
{
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(it->v);
    DISPPARAMS params{reversed.data(), named.data(), static_cast<unsigned>(reversed.size()),
                      static_cast<unsigned>(named.size())};
    call.hr = object->Invoke(id, IID_NULL, 0, flags, &params, &call.result.v, &call.excep, &call.argErr);
}

std::string Text(const BSTR s) { return BstrToUtf8(s); }

using com_support::ErrorInfoSeen;
using com_support::TakeErrorInfo;
using com_support::TakeText;

// An object whose value property is a text, as script objects have.
class ValueObject final : public DispatchObject {
public:
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                   unsigned*) override
    {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !result)
            return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringUtf8("http://example.com/v.jpg");
        return S_OK;
    }
};

} // namespace

// ---- VARIANT conversion -------------------------------------------------------------

TEST(ComVariant, ConvertsAsAutomationDoes)
{
    struct Case {
        const char* what;
        std::function<Var()> from;
        VARTYPE to;
        std::uint16_t flags;
        HRESULT hr;
        std::string expect;   // the result as text (VT_BSTR) or number
    };
    auto asText = [](const VARIANT& v) -> std::string {
        switch (v.vt) {
        case VT_BSTR: return BstrToUtf8(v.bstrVal);
        case VT_I4: return std::to_string(v.lVal);
        case VT_UI1: return std::to_string(v.bVal);
        case VT_I2: return std::to_string(v.iVal);
        case VT_BOOL: return std::to_string(v.boolVal);
        case VT_R8: return std::to_string(v.dblVal);
        default: return "vt " + std::to_string(v.vt);
        }
    };
    const Case cases[] = {
        {"integer to text", [] { return Var::I4(-42); }, VT_BSTR, 0, S_OK, "-42"},
        {"boolean to text", [] { return Var::Bool(true); }, VT_BSTR, 0, S_OK, "-1"},
        {"boolean to words", [] { return Var::Bool(false); }, VT_BSTR, VARIANT_ALPHABOOL, S_OK, "False"},
        {"real to text", [] { return Var::R8(0.1); }, VT_BSTR, 0, S_OK, "0.1"},
        {"empty to text", [] { return Var::Of(VT_EMPTY); }, VT_BSTR, 0, S_OK, ""},
        {"empty to number", [] { return Var::Of(VT_EMPTY); }, VT_I4, 0, S_OK, "0"},
        {"null to text", [] { return Var::Of(VT_NULL); }, VT_BSTR, 0, DISP_E_TYPEMISMATCH, ""},
        {"text with blanks", [] { return Var::Str(" 12 "); }, VT_I4, 0, S_OK, "12"},
        {"text with exponent", [] { return Var::Str("1e3"); }, VT_I4, 0, S_OK, "1000"},
        {"text half to even", [] { return Var::Str("2.5"); }, VT_I4, 0, S_OK, "2"},
        {"real half to even", [] { return Var::R8(3.5); }, VT_I4, 0, S_OK, "4"},
        {"not a number", [] { return Var::Str("12abc"); }, VT_I4, 0, DISP_E_TYPEMISMATCH, ""},
        {"no hexadecimal", [] { return Var::Str("0x10"); }, VT_I4, 0, DISP_E_TYPEMISMATCH, ""},
        {"empty text", [] { return Var::Str(""); }, VT_I4, 0, DISP_E_TYPEMISMATCH, ""},
        {"too large for I4", [] { return Var::Str("99999999999"); }, VT_I4, 0, DISP_E_OVERFLOW, ""},
        {"too large for UI1", [] { return Var::I4(256); }, VT_UI1, 0, DISP_E_OVERFLOW, ""},
        {"negative for UI1", [] { return Var::I4(-1); }, VT_UI1, 0, DISP_E_OVERFLOW, ""},
        {"words to boolean", [] { return Var::Str("TRUE"); }, VT_BOOL, 0, S_OK, "-1"},
        {"number to boolean", [] { return Var::I4(7); }, VT_BOOL, 0, S_OK, "-1"},
        {"object's value", [] { Var r; r.v.vt = VT_DISPATCH; r.v.pdispVal = MakeObject<ValueObject>().Detach(); return r; },
         VT_BSTR, 0, S_OK, "http://example.com/v.jpg"},
        {"object without value property", [] { Var r; r.v.vt = VT_DISPATCH; r.v.pdispVal = MakeObject<ValueObject>().Detach(); return r; },
         VT_BSTR, VARIANT_NOVALUEPROP, DISP_E_TYPEMISMATCH, ""},
        {"null object", [] { return Var::Of(VT_DISPATCH); }, VT_BSTR, 0, DISP_E_TYPEMISMATCH, ""},
        {"unknown to text", [] { return Var::Of(VT_UNKNOWN); }, VT_BSTR, 0, DISP_E_TYPEMISMATCH, ""},
        {"unknown type", [] { return Var::Of(VT_CY); }, VT_BSTR, 0, DISP_E_BADVARTYPE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Var from = c.from();
        Var to = Var::I4(31337);
        EXPECT_EQ(VariantChangeType(&to.v, &from.v, c.flags, c.to), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(to.v.vt, c.to);
            EXPECT_EQ(asText(to.v), c.expect);
        } else {
            EXPECT_EQ(to.v.lVal, 31337);   // left as it was
        }
    }
}

TEST(ComVariant, ReadsThroughReferencesAndConvertsInPlace)
{
    BSTR text = SysAllocStringUtf8("17");
    Var ref;
    ref.v.vt = VT_BSTR | VT_BYREF;
    ref.v.byref = &text;
    Var out;
    ASSERT_EQ(VariantChangeType(&out.v, &ref.v, 0, VT_I4), S_OK);
    EXPECT_EQ(out.v.lVal, 17);
    SysFreeString(text);   // the reference never owned it

    Var same = Var::Str("-3");
    ASSERT_EQ(VariantChangeType(&same.v, &same.v, 0, VT_I2), S_OK);   // the text is freed (ASan would tell)
    EXPECT_EQ(same.v.vt, VT_I2);
    EXPECT_EQ(same.v.iVal, -3);
}

// ---- Error information ------------------------------------------------------------

TEST(ComErrorInfo, BelongsToItsThreadAndIsTakenOnce)
{
    SetErrorInfoText(IID_ITestDual, "Some.Source", "what went wrong");
    std::thread([] { EXPECT_FALSE(TakeErrorInfo().present); }).join();
    ErrorInfoSeen seen = TakeErrorInfo();
    ASSERT_TRUE(seen.present);
    EXPECT_EQ(seen.guid, IID_ITestDual);
    EXPECT_EQ(seen.source, "Some.Source");
    EXPECT_EQ(seen.description, "what went wrong");
    IErrorInfo* again = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
    EXPECT_EQ(again, nullptr);
}

// ---- Loading type libraries -----------------------------------------------------------

TEST(ComTypeLibResource, RefusesResourcesThatDoNotHoldTogether)
{
    struct Case {
        const char* what;
        HRESULT hr;
        std::function<void(TypeLibResource&, TypeLibInterface&, std::vector<TypeLibFunc>&, TypeLibCoClass&)> spoil;
    };
    static const TypeLibParam doubleParam[] = {{"X", VT_R8, kIn}};
    static const TypeLibParam retvalFirst[] = {{"R", VT_I4, kRetval}, {"X", VT_I4, kIn}};
    static const TypeLibParam twice[] = {{"X", VT_I4, kIn}, {"x", VT_I4, kIn}};
    const Case cases[] = {
        {"wrong magic", TYPE_E_UNSUPFORMAT, [](auto& r, auto&, auto&, auto&) { r.magic = 0x12345678; }},
        {"later format", TYPE_E_UNSUPFORMAT, [](auto& r, auto&, auto&, auto&) { r.format = 2; }},
        {"other size", TYPE_E_UNSUPFORMAT, [](auto& r, auto&, auto&, auto&) { r.size -= 8; }},
        {"library name not an identifier", TYPE_E_INVDATAREAD, [](auto& r, auto&, auto&, auto&) { r.name = "2nd lib"; }},
        {"no library identifier", TYPE_E_INVDATAREAD, [](auto& r, auto&, auto&, auto&) { r.libid = GUID_NULL; }},
        {"missing table", TYPE_E_INVDATAREAD, [](auto& r, auto&, auto&, auto&) { r.coclasses = nullptr; }},
        {"standard library not imported", TYPE_E_INVDATAREAD, [](auto& r, auto&, auto&, auto&) { r.importCount = 0; }},
        {"dual on IUnknown", TYPE_E_INVDATAREAD, [](auto&, auto& i, auto&, auto&) { i.base = IID_IUnknown; }},
        {"unknown base", TYPE_E_INVDATAREAD, [](auto&, auto& i, auto&, auto&) { i.base = CLSID_TestObject; }},
        {"interface and class share an identifier", TYPE_E_INVDATAREAD,
         [](auto&, auto&, auto&, auto& c) { c.clsid = IID_ITestDual; }},
        {"default interface elsewhere", TYPE_E_INVDATAREAD,
         [](auto&, auto&, auto&, auto& c) { c.defaultInterface = IID_IDispatch; }},
        {"result not HRESULT", TYPE_E_INVDATAREAD, [](auto&, auto&, auto& f, auto&) { f[0].result = VT_I4; }},
        {"not stdcall", TYPE_E_INVDATAREAD, [](auto&, auto&, auto& f, auto&) { f[0].callconv = CC_CDECL; }},
        {"parameter the runtime cannot pass", TYPE_E_INVDATAREAD,
         [](auto&, auto&, auto& f, auto&) { f[2].params = doubleParam; }},
        {"retval not last", TYPE_E_INVDATAREAD,
         [](auto&, auto&, auto& f, auto&) { f[2].params = retvalFirst; f[2].paramCount = 2; }},
        {"parameter named twice", TYPE_E_INVDATAREAD,
         [](auto&, auto&, auto& f, auto&) { f[2].params = twice; f[2].paramCount = 2; }},
        {"name with two identifiers", TYPE_E_INVDATAREAD, [](auto&, auto&, auto& f, auto&) { f[4].memid = 9; }},
        {"identifier with two names", TYPE_E_INVDATAREAD, [](auto&, auto&, auto& f, auto&) { f[1].memid = 1; }},
        {"method declared twice", TYPE_E_INVDATAREAD, [](auto&, auto&, auto& f, auto&) { f[1] = f[0]; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TypeLibResource r = kTestLib;
        TypeLibInterface i = kInterfaces[0];
        std::vector<TypeLibFunc> funcs(std::begin(kFuncs), std::end(kFuncs));
        TypeLibCoClass cls = kCoClasses[0];
        c.spoil(r, i, funcs, cls);
        i.funcs = funcs.data();
        if (r.interfaces)
            r.interfaces = &i;
        if (r.coclasses)
            r.coclasses = &cls;
        ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
        EXPECT_EQ(LoadTypeLibFromResource(&r, &lib), c.hr);
        EXPECT_EQ(lib, nullptr);
        EXPECT_FALSE(TakeErrorInfo().description.empty());
    }
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadTypeLibFromResource(nullptr, &lib), TYPE_E_UNSUPFORMAT);
}

// What a COM caller walks: the dual interface's dispatch view and table view,
// the offsets of its entries, the class and the standard bases.
TEST(ComTypeLib, DescribesTheDualInterfaceAsCallersExpect)
{
    auto lib = LoadTestLib();
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_EQ(la->guid, LIBID_Test);
    EXPECT_EQ(la->lcid, 0x40Cu);
    EXPECT_EQ(la->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(la);

    ITypeInfo* raw = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ITestDual, &raw), S_OK);
    auto dispatchView = ComPtr<ITypeInfo>::Attach(raw);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(dispatchView->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_DISPATCH);
    EXPECT_EQ(ta->wTypeFlags & kDual, kDual);
    EXPECT_EQ(ta->cFuncs, 6);
    EXPECT_EQ(ta->cbSizeVft, 7 * sizeof(void*));
    dispatchView->ReleaseTypeAttr(ta);

    HREFTYPE ref = 0;
    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(static_cast<unsigned>(-1), &ref), S_OK);
    ASSERT_EQ(dispatchView->GetRefTypeInfo(ref, &raw), S_OK);
    auto tableView = ComPtr<ITypeInfo>::Attach(raw);
    ASSERT_EQ(tableView->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
    EXPECT_EQ(ta->cbSizeVft, (7 + 6) * sizeof(void*));
    tableView->ReleaseTypeAttr(ta);

    // Mix is the sixth entry after IDispatch's seven; its retval shows as a
    // pointer in the table view and as the result in the dispatch view.
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(tableView->GetFuncDesc(5, &fd), S_OK);
    EXPECT_EQ(fd->memid, 5);
    EXPECT_EQ(fd->oVft, static_cast<short>((7 + 5) * sizeof(void*)));
    EXPECT_EQ(fd->cParams, 8);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(fd->lprgelemdescParam[7].tdesc.vt, VT_PTR);
    EXPECT_EQ(fd->lprgelemdescParam[7].tdesc.lptdesc->vt, VT_BSTR);
    EXPECT_EQ(fd->lprgelemdescParam[7].paramdesc.wParamFlags, kRetval);
    tableView->ReleaseFuncDesc(fd);
    ASSERT_EQ(dispatchView->GetFuncDesc(5, &fd), S_OK);
    EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
    EXPECT_EQ(fd->cParams, 7);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_BSTR);
    dispatchView->ReleaseFuncDesc(fd);

    BSTR names[4] = {};
    unsigned count = 0;
    ASSERT_EQ(dispatchView->GetNames(2, names, 4, &count), S_OK);
    ASSERT_EQ(count, 3u);   // Add, A, B: the retval is no argument
    EXPECT_EQ(TakeText(names[0]) + " " + TakeText(names[1]) + " " + TakeText(names[2]), "Add A B");

    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(dispatchView->GetRefTypeInfo(ref, &raw), S_OK);
    auto base = ComPtr<ITypeInfo>::Attach(raw);
    ASSERT_EQ(base->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID_IDispatch);
    base->ReleaseTypeAttr(ta);

    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_TestObject, &raw), S_OK);
    auto coclass = ComPtr<ITypeInfo>::Attach(raw);
    std::int32_t implFlags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, &raw), S_OK);
    auto defaultInterface = ComPtr<ITypeInfo>::Attach(raw);
    ASSERT_EQ(defaultInterface->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID_ITestDual);
    defaultInterface->ReleaseTypeAttr(ta);
}

// ---- Names and calls driven by the type library ----------------------------------------

TEST(ComDispatch, NamesLookUpMembersAndParameters)
{
    auto object = NewTestObject();
    struct Case {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    const Case cases[] = {
        {{u"Echo"}, S_OK, {1}},
        {{u"eCHO"}, S_OK, {1}},
        {{u"Flag"}, S_OK, {4}},
        {{u"Add", u"b", u"A"}, S_OK, {2, 1, 0}},
        {{u"Add", u"C", u"A"}, DISP_E_UNKNOWNNAME, {2, DISPID_UNKNOWN, 0}},
        {{u"Add", u"Sum"}, DISP_E_UNKNOWNNAME, {2, DISPID_UNKNOWN}},   // a retval is no argument
        {{u"Nothing", u"A"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
        {{u"QueryInterface"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> copies = c.names;
        std::vector<OLECHAR*> names;
        for (auto& n : copies)
            names.push_back(n.data());
        std::vector<DISPID> ids(names.size(), 12345);
        SCOPED_TRACE(Utf16ToUtf8(c.names[0]));
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names.data(), static_cast<unsigned>(names.size()), 0, ids.data()),
                  c.hr);
        EXPECT_EQ(ids, c.ids);
    }
    std::u16string echo = u"Echo";
    OLECHAR* one[] = {echo.data()};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_ITestDual, one, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST(ComDispatch, ArgumentsAreCheckedConvertedAndPassed)
{
    auto object = NewTestObject();
    struct Case {
        const char* what;
        DISPID id;
        std::uint16_t flags;
        std::function<std::vector<Var>()> args;
        HRESULT hr;
        std::string result;    // text of the result, for S_OK
        unsigned argErr = 999; // index in rgvarg (last argument is 0)
    };
    auto args = [](auto... v) {
        return [=] {
            std::vector<Var> a;
            (a.push_back(v()), ...);
            return a;
        };
    };
    auto i4 = [](std::int32_t n) { return [n] { return Var::I4(n); }; };
    auto str = [](const char* s) { return [s] { return Var::Str(s); }; };
    auto of = [](VARTYPE vt) { return [vt] { return Var::Of(vt); }; };
    const Case cases[] = {
        {"numbers", 2, DISPATCH_METHOD, args(i4(2), i4(40)), S_OK, "42"},
        {"text converted to a number", 2, DISPATCH_METHOD, args(i4(2), str("40")), S_OK, "42"},
        {"method called as property get too", 2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args(i4(1), i4(1)), S_OK, "2"},
        {"number converted to text", 1, DISPATCH_METHOD, args(i4(7)), S_OK, "7"},
        {"empty converted to text", 1, DISPATCH_METHOD, args(of(VT_EMPTY)), S_OK, ""},
        {"every type in its place", 5, DISPATCH_METHOD,
         args(i4(-5), i4(-300), i4(200), i4(65000), str("4000000000"), i4(1), str("g")), S_OK,
         "-5 -300 200 65000 4000000000 -1 g"},
        {"first argument of two not a number", 2, DISPATCH_METHOD, args(str("x"), i4(1)), DISP_E_TYPEMISMATCH, "", 1},
        {"last argument null", 2, DISPATCH_METHOD, args(i4(1), of(VT_NULL)), DISP_E_TYPEMISMATCH, "", 0},
        {"argument out of range", 5, DISPATCH_METHOD,
         args(i4(128), i4(0), i4(0), i4(0), i4(0), i4(0), str("")), DISP_E_OVERFLOW, "", 6},
        {"too few arguments", 2, DISPATCH_METHOD, args(i4(1)), DISP_E_BADPARAMCOUNT, ""},
        {"too many arguments", 1, DISPATCH_METHOD, args(i4(1), i4(2)), DISP_E_BADPARAMCOUNT, ""},
        {"unknown member", 99, DISPATCH_METHOD, args(), DISP_E_MEMBERNOTFOUND, ""},
        {"method put as a property", 1, DISPATCH_PROPERTYPUT, args(str("x")), DISP_E_MEMBERNOTFOUND, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Var> a = c.args();
        Call call;
        Invoke(object.Get(), c.id, c.flags, a, call);
        EXPECT_EQ(call.hr, c.hr);
        EXPECT_EQ(call.argErr, c.argErr);
        if (c.hr == S_OK) {
            Var text;
            ASSERT_EQ(VariantChangeType(&text.v, &call.result.v, 0, VT_BSTR), S_OK);
            EXPECT_EQ(Text(text.v.bstrVal), c.result);
        }
    }
}

TEST(ComDispatch, PropertiesAndNamedArguments)
{
    auto object = NewTestObject();
    std::vector<Var> value;
    value.push_back(Var::Bool(true));
    Call put;
    Invoke(object.Get(), 4, DISPATCH_PROPERTYPUT, value, put, {DISPID_PROPERTYPUT});
    EXPECT_EQ(put.hr, S_OK);
    std::vector<Var> none;
    Call get;
    Invoke(object.Get(), 4, DISPATCH_PROPERTYGET, none, get);
    EXPECT_EQ(get.hr, S_OK);
    EXPECT_EQ(get.result.v.vt, VT_BOOL);
    EXPECT_EQ(get.result.v.boolVal, VARIANT_TRUE);

    std::vector<Var> arg;
    arg.push_back(Var::Str("x"));
    Call named;
    Invoke(object.Get(), 1, DISPATCH_METHOD, arg, named, {0});
    EXPECT_EQ(named.hr, DISP_E_NONAMEDARGS);

    DISPPARAMS params{};
    EXPECT_EQ(object->Invoke(1, IID_ITestDual, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

// An exception leaving a method: its code (or E_UNEXPECTED) and error
// information with the class's program identifier as source, whether the
// method is called through its table or through Invoke.
TEST(ComDispatch, ErrorsBecomeResultsWithErrorInformation)
{
    auto object = NewTestObject();
    void* p = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_ITestDual, &p), S_OK);
    auto dual = Adopt<ITestDual>(p);

    struct Case {
        std::int32_t code;
        HRESULT hr;
        const char* description;
    };
    const Case cases[] = {
        {E_ACCESSDENIED, E_ACCESSDENIED, "refused with a code"},
        {0, E_UNEXPECTED, "plain failure"},
        {1, E_UNEXPECTED, "refused with a code"},   // a code that is no failure cannot be the result
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(dual->Fail(c.code), c.hr);
        ErrorInfoSeen seen = TakeErrorInfo();
        EXPECT_TRUE(seen.present);
        EXPECT_EQ(seen.guid, IID_ITestDual);
        EXPECT_EQ(seen.source, "TestLib.TestObject");
        EXPECT_EQ(seen.description, c.description);

        std::vector<Var> a;
        a.push_back(Var::I4(c.code));
        Call call;
        Invoke(object.Get(), 3, DISPATCH_METHOD, a, call);
        EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(call.excep.scode, c.hr);
        EXPECT_EQ(Text(call.excep.bstrSource), "TestLib.TestObject");
        EXPECT_EQ(Text(call.excep.bstrDescription), c.description);
        EXPECT_FALSE(TakeErrorInfo().present);   // taken into the exception information
    }

    // Without room for exception information, the error information stays.
    std::vector<Var> a;
    a.push_back(Var::I4(0));
    std::vector<VARIANT> args{a[0].v};
    DISPPARAMS params{args.data(), nullptr, 1, 0};
    EXPECT_EQ(object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfo().description, "plain failure");
}

TEST(ComAutoObject, AnswersItsInterfacesAndItsClass)
{
    auto object = NewTestObject();
    const std::pair<GUID, bool> interfaces[] = {
        {IID_IUnknown, true}, {IID_IDispatch, true}, {IID_ITestDual, true}, {IID_ISupportErrorInfo, true},
        {IID_IProvideClassInfo, true}, {IID_IClassFactory, false}, {IID_ITypeInfo, false},
    };
    void* p = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, &p), S_OK);
    auto support = Adopt<ISupportErrorInfo>(p);
    for (auto [iid, answered] : interfaces) {
        SCOPED_TRACE(GuidToString(iid));
        void* q = nullptr;
        EXPECT_EQ(object->QueryInterface(iid, &q), answered ? S_OK : E_NOINTERFACE);
        if (q)
            static_cast<IUnknown*>(q)->Release();
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(iid), answered ? S_OK : S_FALSE);
    }
    ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, &p), S_OK);
    auto provide = Adopt<IProvideClassInfo>(p);
    ITypeInfo* raw = nullptr;
    ASSERT_EQ(provide->GetClassInfo(&raw), S_OK);
    auto info = ComPtr<ITypeInfo>::Attach(raw);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_COCLASS);
    EXPECT_EQ(ta->guid, CLSID_TestObject);
    info->ReleaseTypeAttr(ta);

    void* none = reinterpret_cast<void*>(1);
    IUnknown* outer = object.Get();
    EXPECT_EQ(g_factory.CreateInstance(outer, IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(none, nullptr);
}

// ---- Registration of type libraries ---------------------------------------------------

namespace {

struct ComRegistry : ::testing::Test {
    IsolatedEnvironment env;
    session::RegistryStore& store = session::RegistryStore::Default();

    std::string Default(const std::string& key, const std::string& name = "")
    {
        auto v = store.GetValue(session::HKEY_CLASSES_ROOT, key, name);
        return v ? v->text : "<missing>";
    }
    void Write(const std::string& key, const session::RegValue& value)
    {
        store.CreateKey(session::HKEY_CLASSES_ROOT, key);
        store.SetValue(session::HKEY_CLASSES_ROOT, key, value);
    }
    void WriteText(const std::string& key, const std::string& text) { Write(key, {"", session::REG_SZ, text, 0}); }
    bool Exists(const std::string& key) { return store.KeyExists(session::HKEY_CLASSES_ROOT, key); }
};

} // namespace

TEST_F(ComRegistry, TypeLibraryRegistrationIsFoundAndUndone)
{
    auto lib = LoadTestLib();
    const std::string libKey = "TypeLib\\" + GuidToString(LIBID_Test);
    const std::string iface = "Interface\\" + GuidToString(IID_ITestDual);
    // Another version of the library, and an interface of another library.
    WriteText(libKey + "\\2.0\\0\\win32", "/elsewhere/lib2.so");
    WriteText("Interface\\{00000000-1111-2222-3333-444444444444}\\TypeLib", GuidToString(LIBID_Test));
    Write("Interface\\{00000000-1111-2222-3333-444444444444}\\TypeLib", {"Version", session::REG_SZ, "2.0", 0});

    ASSERT_EQ(RegisterTypeLib(lib.Get(), "/opt/test lib/lib.so", ""), S_OK);
    EXPECT_EQ(Default(libKey + "\\1.0"), "Test library");
    EXPECT_EQ(Default(libKey + "\\1.0\\40c\\win32"), "/opt/test lib/lib.so");
    EXPECT_EQ(Default(libKey + "\\1.0\\FLAGS"), "0");
    EXPECT_EQ(Default(libKey + "\\1.0\\HELPDIR"), "/opt/test lib");
    EXPECT_EQ(Default(iface), "ITestDual");
    EXPECT_EQ(Default(iface + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Default(iface + "\\TypeLib"), GuidToString(LIBID_Test));
    EXPECT_EQ(Default(iface + "\\TypeLib", "Version"), "1.0");

    // Found by its exact locale, by its primary language, not by another
    // language's: the registered file does not exist, so loading it fails.
    ITypeLib* found = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Test, 1, 0, 0x40C, &found), TYPE_E_CANTLOADLIBRARY);
    EXPECT_NE(TakeErrorInfo().description.find("/opt/test lib/lib.so"), std::string::npos);
    EXPECT_EQ(LoadRegTypeLib(LIBID_Test, 1, 0, 0x409, &found), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_Test, 1, 1, 0x40C, &found), TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(UnRegisterTypeLib(LIBID_Test, 1, 0, 0x40C, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(libKey + "\\1.0"));
    EXPECT_FALSE(Exists(iface));
    EXPECT_TRUE(Exists(libKey + "\\2.0\\0\\win32"));
    EXPECT_TRUE(Exists("Interface\\{00000000-1111-2222-3333-444444444444}"));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Test, 1, 0, 0x40C, SYS_WIN32), TYPE_E_REGISTRYACCESS);
}

TEST_F(ComRegistry, RegistrationThatCannotWriteFails)
{
    auto lib = LoadTestLib();
    store.DenyWrites(session::HKEY_CLASSES_ROOT, "Interface");
    EXPECT_EQ(RegisterTypeLib(lib.Get(), "/opt/lib.so", ""), TYPE_E_REGISTRYACCESS);
    EXPECT_NE(TakeErrorInfo().description.find("Interface"), std::string::npos);
    store.AllowAllWrites();
}

// ---- Finding servers through the registry ---------------------------------------------

// Every registry value the runtime reads may hold anything; each kind of
// garbage gives its error, and error information that names the trouble.
TEST_F(ComRegistry, GarbageInTheRegistryGivesClearErrors)
{
    const std::string cls = GuidToString(CLSID_TestObject);
    Dl_info sqlite{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&sqlite3_libversion), &sqlite), 0);

    struct Case {
        const char* what;
        std::function<void()> write;
        HRESULT progIdResult;
        const char* progIdSays;   // for a failure
        HRESULT createResult;
        const char* createSays;
    };
    const std::string progKey = "Test.Object\\CLSID";
    const std::string serverKey = "CLSID\\" + cls + "\\InprocServer32";
    const Case cases[] = {
        {"nothing registered", [] {}, CO_E_CLASSSTRING, "no class is registered for the program identifier Test.Object",
         REGDB_E_CLASSNOTREG, "is not registered"},
        {"class identifier as a number", [&] { Write(progKey, {"", session::REG_DWORD, "", 7}); },
         CO_E_CLASSSTRING, "Test.Object\\CLSID does not hold a class identifier", REGDB_E_CLASSNOTREG, "is not registered"},
        {"class identifier without braces", [&] { WriteText(progKey, cls.substr(1, 36)); }, CO_E_CLASSSTRING,
         "Test.Object\\CLSID does not hold a class identifier", REGDB_E_CLASSNOTREG, "is not registered"},
        {"library path as a number",
         [&] { WriteText(progKey, cls); Write(serverKey, {"", session::REG_DWORD, "", 1}); }, S_OK, "",
         REGDB_E_CLASSNOTREG, "InprocServer32 does not hold the path of a library"},
        {"empty library path", [&] { WriteText(progKey, cls); WriteText(serverKey, ""); }, S_OK, "",
         REGDB_E_CLASSNOTREG, "InprocServer32 does not hold the path of a library"},
        {"missing library", [&] { WriteText(progKey, cls); WriteText(serverKey, "/nowhere/server.so"); }, S_OK, "",
         CO_E_DLLNOTFOUND, "cannot load /nowhere/server.so"},
        {"library that is no server", [&] { WriteText(progKey, cls); WriteText(serverKey, sqlite.dli_fname); },
         S_OK, "", CO_E_ERRORINDLL, "it has no DllGetClassObject"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.DeleteKey(session::HKEY_CLASSES_ROOT, "Test.Object");
        store.DeleteKey(session::HKEY_CLASSES_ROOT, "CLSID\\" + cls);
        c.write();
        CLSID found{};
        EXPECT_EQ(CLSIDFromProgID(u"Test.Object", &found), c.progIdResult);
        EXPECT_EQ(found, c.progIdResult == S_OK ? CLSID_TestObject : GUID_NULL);
        ErrorInfoSeen seen = TakeErrorInfo();
        if (c.progIdResult != S_OK) {
            EXPECT_EQ(seen.source, kRuntimeErrorSource);
            EXPECT_NE(seen.description.find(c.progIdSays), std::string::npos) << seen.description;
        }
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(CLSID_TestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
                  c.createResult);
        EXPECT_EQ(object, nullptr);
        seen = TakeErrorInfo();
        EXPECT_EQ(seen.source, kRuntimeErrorSource);
        EXPECT_NE(seen.description.find(c.createSays), std::string::npos) << seen.description;
    }
    EXPECT_TRUE(LoadedServerLibraries().empty());
}

TEST(ComRuntime, UnreadableRegistryIsReportedNotTakenForEmpty)
{
    IsolatedEnvironment env;
    testing_support::WriteText(env.dir().file("registry.sqlite3"), std::string(4096, 'x'));
    session::RegistryStore::ResetDefault();
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Object", &found), REGDB_E_READREGDB);
    EXPECT_NE(TakeErrorInfo().description.find("registry.sqlite3"), std::string::npos);
    void* object = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TestObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
              REGDB_E_READREGDB);
}
