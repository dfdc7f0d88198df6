// Corvane_ComHost: the in-process automation server that the browser's image
// menu page ("add.htm") creates. Its one object, TCorvane, hands the address
// of a picture to the running program, or starts the program with it.
#include "comhost/Corvane_ComHost.h"

#include "platform/com/server.h"
#include "platform/session/registry.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/shell/shell.h"

// The library is built with hidden symbols; these are its entry points.
#define CORVANE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace com;

namespace {

// ---- The type library, resource 1 ----------------------------------------------------

constexpr TypeLibParam kAddUrlParams[] = {
    {"URL", VT_BSTR, PARAMFLAG_FIN},
    {"Title", VT_BSTR, PARAMFLAG_FIN},
};

constexpr TypeLibFunc kICorvaneFuncs[] = {
    {"AddUrl", 1, INVOKE_FUNC, CC_STDCALL, VT_HRESULT, kAddUrlParams, 2, nullptr},
};

constexpr TypeLibInterface kInterfaces[] = {
    {"ICorvane", corvane::IID_ICorvane, 1, 0,
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, IID_IDispatch, kICorvaneFuncs, 1,
     "Interface dispatch pour Corvane Objet"},
};

constexpr TypeLibCoClass kCoClasses[] = {
    {"Corvane", corvane::CLSID_Corvane, 1, 0, TYPEFLAG_FCANCREATE, corvane::IID_ICorvane, "Corvane Objet"},
};

constexpr TypeLibImport kImports[] = {
    {"stdole", LIBID_stdole, 2, 0},
};

constexpr TypeLibResource kTypeLib = {
    kTypeLibMagic, kTypeLibFormat, sizeof(TypeLibResource),
    "Corvane_ComHost", corvane::LIBID_Corvane_ComHost, 1, 0, 1033, SYS_WIN32, 0,
    "Corvane_ComHost (biblioth\xC3\xA8que)",
    kImports, 1, kInterfaces, 1, kCoClasses, 1,
};

// ---- TCorvane -----------------------------------------------------------------------

class TCorvane final : public AutoObject<corvane::ICorvane> {
public:
    using AutoObject::AutoObject;
    HRESULT AddUrl(BSTR URL, BSTR Title) override;
};

// Wide text to the 8-bit text the program reads (UTF-8 here), up to the
// first zero as a C string ends.
std::string AnsiText(const BSTR text)
{
    std::string s = BstrToUtf8(text);
    return s.substr(0, s.find('\0'));
}

// The program running (its main window exists, shown or hidden) gets the
// address through the atom table and its registered message; otherwise the
// program is started with the address as its command line.
HRESULT TCorvane::AddUrl(BSTR URL, BSTR Title)
{
    return SafeCall([&] {
        std::string str = AnsiText(URL);
        std::string title = AnsiText(Title);   // not used further
        (void)title;
        session::HWND window = session::FindWindow("TvinForm1");
        if (window != 0) {
            // 0 when the text cannot be added (longer than 255): the message goes anyway.
            session::ATOM atom = session::GlobalAddAtom(str);
            session::PostMessage(window, session::RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD"), atom, 0);
            return;
        }
        std::string program;
        session::Registry reg(session::HKEY_LOCAL_MACHINE);
        if (reg.OpenKey("SOFTWARE\\VinTrel", false)) {
            program = reg.ReadString("");
            reg.CloseKey();
        }
        shell::ShellExecute(0, "Open", program, str, "", shell::SW_SHOWNORMAL);
    });
}

IUnknown* CreateCorvane(AutoObjectFactory& factory)
{
    return static_cast<corvane::ICorvane*>(new TCorvane(factory));
}

// Made when the library is loaded, in this order.
ComServer g_server(kTypeLib, &kTypeLib);
AutoObjectFactory g_factory(g_server, CreateCorvane, corvane::CLSID_Corvane, Instancing::SingleInstance,
                            ThreadingModel::Single);

} // namespace

CORVANE_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object)
{
    return g_server.GetClassObject(clsid, iid, object);
}

CORVANE_EXPORT HRESULT DllCanUnloadNow() { return g_server.CanUnloadNow(); }

CORVANE_EXPORT HRESULT DllRegisterServer() { return g_server.RegisterServer(); }

CORVANE_EXPORT HRESULT DllUnregisterServer() { return g_server.UnregisterServer(); }

CORVANE_EXPORT const TypeLibResource* DllGetTypeLibResource(unsigned number)
{
    return number == 1 ? &kTypeLib : nullptr;
}
