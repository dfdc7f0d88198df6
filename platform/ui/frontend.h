#pragma once
// The front-end a run uses: the desktop's windows, or the headless model.
// The desktop front-end is a module beside the program (vintrel-desktop.so)
// loaded only by a run that shows windows, so that a headless run or a
// second start that hands its work over and ends never loads GTK or WebKit.
#include <string>

#include "platform/ui/application.h"

namespace ui {

enum class FrontEnd {
    Headless,             // VINTREL_UI=headless, or no display
    Desktop,              // VINTREL_UI=gtk: windows or an error
    DesktopIfAvailable,   // a display and no VINTREL_UI: windows when they can be had
};

// From VINTREL_UI and the display (DISPLAY or WAYLAND_DISPLAY). Throws
// sys::Error for VINTREL_UI=gtk without a display and for an unknown value.
FrontEnd ChooseFrontEnd();

// Loads the desktop front-end from `programFolder` and installs it in `app`
// (before or after the forms are created). True when the desktop runs. A
// desktop that cannot be had throws sys::Error for FrontEnd::Desktop, and
// leaves the headless model (with a note on the standard error) otherwise.
bool InstallFrontEnd(Application& app, FrontEnd choice, const std::string& programFolder);

// The module's entry point, as the loader looks it up.
using InstallDesktopFunction = bool (*)(Application* app, std::string* error);
inline constexpr const char* kInstallDesktopSymbol = "vintrel_install_desktop";
inline constexpr const char* kDesktopModule = "vintrel-desktop.so";

} // namespace ui
