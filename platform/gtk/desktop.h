#pragma once
// The desktop front-end: GTK 3 windows for the forms, WebKitGTK for the web
// browser control, the tray icon, GLib's loop running the application's.
#include "platform/ui/application.h"

namespace desktop {

// Chooses the run: the desktop when a display is there and VINTREL_UI is
// not "headless"; VINTREL_UI=gtk insists on the desktop and throws
// sys::Error when there is no display. Installs the desktop toolkit in `app`
// when chosen (before any form is created) and says whether it did.
bool UseDesktop(ui::Application& app);

} // namespace desktop
