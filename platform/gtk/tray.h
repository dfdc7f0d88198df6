#pragma once
// The tray icons of this process on the desktop: an Ayatana AppIndicator
// where a status-notifier host is running, else a status icon. Clicks reach
// the icon's owner as its callback message with the mouse message the icon
// record expects (513 for a left click, 516 for the menu button).
#include <map>
#include <memory>
#include <utility>

#include "platform/session/windows.h"

namespace desktop {

class TrayIcons {
public:
    TrayIcons();
    ~TrayIcons();
    TrayIcons(const TrayIcons&) = delete;
    TrayIcons& operator=(const TrayIcons&) = delete;

    // NIM_ADD, NIM_MODIFY, NIM_DELETE, as the program did them.
    void Changed(unsigned message, const session::TrayIcon& icon);

    struct Icon;

private:
    bool m_indicator;
    std::map<std::pair<session::HWND, unsigned>, std::unique_ptr<Icon>> m_icons;
};

} // namespace desktop
