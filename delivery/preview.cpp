#include "delivery/preview.h"

#include "app/Program.h"
#include "platform/session/registry.h"
#include "platform/shell/shell.h"
#include "platform/sys/clock.h"
#include "platform/sys/text.h"

bool beginwithhttp(const std::string& text)
{
    return text.size() >= 7 && sys::LowerAscii(text.substr(0, 7)) == "http://";
}

bool BrowseURL(const std::string& address)
{
    std::string value;
    session::Registry reg(session::HKEY_CLASSES_ROOT);
    if (reg.OpenKeyReadOnly("\\htmlfile\\shell\\open\\command"))
        value = reg.ReadString("");
    if (value.empty())
        return false;
    // The program is the text between the first two double quotes; a value
    // without quotes gives an empty program, which the shell cannot start.
    std::string program;
    if (auto open = value.find('"'); open != std::string::npos) {
        auto close = value.find('"', open + 1);
        program = value.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    shell::ShellExecute(0, "open", program, address, "", shell::SW_SHOWNORMAL);
    return true;
}

void pause(Program& program, int ms)
{
    const std::uint32_t start = sys::GetTickCount();
    while (sys::GetTickCount() - start <= static_cast<std::uint32_t>(ms)) {
        program.app.ProcessMessages();
        // Wait a little for something to do rather than spin.
        program.app.HandleMessageWithin(1);
    }
}
