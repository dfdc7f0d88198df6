#pragma once
// The single-instance guard. The first copy of the program publishes where it
// can be reached (a registry record); a later copy hands its command line to
// the first one, brings it forward and asks itself to quit. It knows nothing
// of pictures: it reports through its events.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/session/session.h"
#include "platform/session/windows.h"

namespace ui {
class Form;
class SessionLink;
}

// 257 short strings (indices 0 to 256) of at most 255 characters.
using TParamArray = std::array<std::string, 257>;
using TNotifyEvent = std::function<void()>;
using TNotifyOnOtherTryToRun =
    std::function<void(bool StopSiDejaLance, std::int32_t ParamCount, TParamArray& ParamArray, std::string& StringUser)>;

// The block a later copy sends: 66053 bytes, packed, little-endian.
namespace CommandLineBlock {
constexpr std::size_t kSize = 66053;
constexpr std::size_t kStop = 0, kCount = 1, kParams = 5, kStringUser = 65797, kEntry = 256;
// Arguments 0 to n (n at most 256), each cut to 255 characters.
std::vector<std::uint8_t> Build(bool stop, const std::vector<std::string>& args, const std::string& stringUser);
}

class TUnPas2;

// The guard's hidden child window of the main window; it takes WM_COPYDATA.
class TPourHandle {
public:
    TPourHandle(TUnPas2& guard) : m_guard(guard) {}
    ~TPourHandle();
    session::HWND Handle();   // made on first use, as a child of the owner window
    std::int64_t WMCopyData(const session::Message& m);

private:
    TUnPas2& m_guard;
    session::HWND m_handle = 0;
};

class TUnPas2 {
public:
    // `programName` is E, the program file's name as started.
    TUnPas2(ui::Form& owner, ui::SessionLink& link, std::vector<std::string> args, std::string programName);
    ~TUnPas2();
    TUnPas2(const TUnPas2&) = delete;
    TUnPas2& operator=(const TUnPas2&) = delete;

    // Published properties and events.
    TNotifyEvent OnDejaLance;
    TNotifyEvent OnPasDejaLance;
    TNotifyOnOtherTryToRun OnOtherTryToRun;
    bool StopSiDejaLance = true;
    std::string StringUser;

    // Called once the owner window's stored layout has been read.
    void Loaded();

    ui::Form& OwnerForm;
    TPourHandle PourHandle;
    std::uint32_t FirstFormHandle = 0, FirstAppHandle = 0, FirstPourHandle = 0;
    bool AlreadyRunning = false;

    void ReadInstanceRecord();
    void WriteInstanceRecord();
    void DeleteInstanceRecord();
    void SendCommandLine();

    std::string KeyName() const { return "\\Software\\UnPas2" + m_name; }
    ui::SessionLink& Link() { return m_link; }

private:
    ui::SessionLink& m_link;
    std::vector<std::string> m_args;
    std::string m_name;
    std::unique_ptr<session::NamedMutex> m_mutex;
};
