#include "platform/ui/frontend.h"

#include <dlfcn.h>

#include <cstdio>

#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

namespace ui {

FrontEnd ChooseFrontEnd()
{
    std::string ui = sys::LowerAscii(sys::GetEnv("VINTREL_UI"));
    if (ui == "headless")
        return FrontEnd::Headless;
    if (!ui.empty() && ui != "gtk")
        throw sys::Error("VINTREL_UI is \"" + ui + "\": it can be \"gtk\" or \"headless\".");
    bool display = !sys::GetEnv("DISPLAY").empty() || !sys::GetEnv("WAYLAND_DISPLAY").empty();
    if (ui == "gtk") {
        if (!display)
            throw sys::Error("VINTREL_UI=gtk asks for the desktop, but there is no display (DISPLAY and WAYLAND_DISPLAY are not set).");
        return FrontEnd::Desktop;
    }
    return display ? FrontEnd::DesktopIfAvailable : FrontEnd::Headless;
}

bool InstallFrontEnd(Application& app, FrontEnd choice, const std::string& programFolder)
{
    if (choice == FrontEnd::Headless)
        return false;
    std::string error;
    const std::string path = programFolder + "/" + kDesktopModule;
    // Kept loaded to the end: the windows live in it.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = ::dlerror();
        error = "The desktop front-end " + path + " cannot be loaded: " + (why ? why : "unknown error");
    } else if (auto install = reinterpret_cast<InstallDesktopFunction>(::dlsym(module, kInstallDesktopSymbol)); !install) {
        error = "The desktop front-end " + path + " has no entry point.";
    } else if (install(&app, &error)) {
        return true;
    }
    if (choice == FrontEnd::Desktop)
        throw sys::Error(error);
    std::fprintf(stderr, "vintrel: %s Running without windows.\n", error.c_str());
    return false;
}

} // namespace ui
