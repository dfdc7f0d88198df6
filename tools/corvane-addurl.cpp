// corvane-addurl: what the browser's image menu page does, from the command
// line. It creates the automation object by its program identifier and calls
// its AddUrl through IDispatch: the running program gets the address, or the
// program is started with it.
//
//   corvane-addurl URL [TITLE]
//
// Exit status 0 when AddUrl succeeded, 1 otherwise (with the error on stderr).
#include "comhost/Corvane_ComHost.h"
#include "platform/com/com.h"
#include "platform/com/runtime.h"

#include <cstdio>
#include <string>

namespace {

using namespace com;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;

std::string Take(BSTR& text)
{
    std::string s = BstrToUtf8(text);
    SysFreeString(text);
    text = nullptr;
    return s;
}

// "description (0x........)", the description from the thread's error
// information when there is one.
std::string Explain(HRESULT hr)
{
    std::string description;
    IErrorInfo* raw = nullptr;
    if (GetErrorInfo(0, &raw) == S_OK) {
        auto info = ComPtr<IErrorInfo>::Attach(raw);
        BSTR text = nullptr;
        info->GetDescription(&text);
        description = Take(text);
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return description.empty() ? std::string(code) : description + " (" + code + ")";
}

int Fail(const std::string& what)
{
    std::fprintf(stderr, "corvane-addurl: %s\n", what.c_str());
    return 1;
}

int AddUrl(const std::string& url, const std::string& title)
{
    IDispatch* raw = nullptr;
    HRESULT hr = CreateOleObject(corvane::kProgID, &raw);
    if (FAILED(hr))
        return Fail(std::string("cannot create ") + corvane::kProgID + ": " + Explain(hr));
    auto corvane = ComPtr<IDispatch>::Attach(raw);

    std::u16string name = u"AddUrl";
    OLECHAR* names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    hr = corvane->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return Fail(std::string(corvane::kProgID) + " has no AddUrl: " + Explain(hr));

    VARIANT args[2];   // last argument first
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringUtf8(title);
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringUtf8(url);
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep;
    unsigned argErr = 0;
    hr = corvane->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, &argErr);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    VariantClear(&result);
    if (hr == DISP_E_EXCEPTION) {
        std::string source = Take(excep.bstrSource);
        std::string description = Take(excep.bstrDescription);
        BSTR helpFile = excep.bstrHelpFile;
        SysFreeString(helpFile);
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(excep.scode));
        return Fail(source + ": " + description + " (" + code + ")");
    }
    if (FAILED(hr))
        return Fail("AddUrl failed: " + Explain(hr));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: corvane-addurl URL [TITLE]\n", stderr);
        return 1;
    }
    int status = AddUrl(argv[1], argc > 2 ? argv[2] : "");
    CoFreeUnusedLibraries();
    return status;
}
