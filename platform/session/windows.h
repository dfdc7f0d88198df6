#pragma once
// Windows and messages between the processes of a session.
//
// Window handles are 32-bit numbers handed out by the session; a directory of
// live windows (class, owner process, parent, visible, title) lives in the
// session store. Each process has one message socket in the session folder,
// read by its message loop, so messages reach a window's procedure on the
// user-interface thread, in the order they were posted. A message for a window
// whose process is gone is dropped without error, and the window leaves the
// directory.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace session {

using HWND = std::uint32_t;

constexpr unsigned WM_NULL = 0x0000;
constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_COPYDATA = 0x004A;
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;   // 513
constexpr unsigned WM_RBUTTONDOWN = 0x0204;   // 516

// Requests from other processes that the owner of a window carries out:
// ShowWindow (wParam: the show command) and SetForegroundWindow.
constexpr unsigned VM_SHOWWINDOW = 0x7F01;
constexpr unsigned VM_SETFOREGROUND = 0x7F02;

// Show commands.
constexpr int SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOW = 5, SW_MINIMIZE = 6,
              SW_RESTORE = 9;

struct Message {
    HWND hwnd = 0;
    unsigned msg = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    // WM_COPYDATA: the identifier field and the block.
    std::uint64_t dwData = 0;
    std::vector<std::uint8_t> data;
};

// A window procedure: the message and its result.
using WindowProc = std::function<std::int64_t(const Message&)>;

struct WindowInfo {
    HWND hwnd = 0;
    std::string className;
    std::int64_t pid = 0;
    HWND parent = 0;
    bool visible = false;
    std::string title;
};

// This process's end of the session's messaging: its windows and its socket.
class MessagePort {
public:
    // The port of this process, opened on first use in Session::Current().
    static MessagePort& Current();
    static void ResetCurrent();   // tests and forked children
    ~MessagePort();

    // A new window in the directory, its messages handed to `proc`.
    HWND CreateWindow(const std::string& className, HWND parent, WindowProc proc,
                      bool visible = false, const std::string& title = {});
    void DestroyWindow(HWND hwnd);
    void SetWindowState(HWND hwnd, bool visible, const std::string& title);

    // The socket to watch, and what to call when it is readable: handles every
    // message waiting, each on the calling thread.
    int Fd() const { return m_fd; }
    void Dispatch();

    // Called for a window of this process (SendMessage within the process).
    std::int64_t Deliver(const Message& m);

private:
    MessagePort();
    struct Impl;
    friend struct PortAccess;
    int m_fd = -1;
    std::string m_path;
    std::vector<std::pair<HWND, std::shared_ptr<WindowProc>>> m_windows;
};

// Top-level windows (parent 0) of that class, shown or hidden; 0 when none.
HWND FindWindow(const std::string& className);
bool IsWindow(HWND hwnd);
std::vector<WindowInfo> EnumWindows();

// Queues the message for the window's process and returns at once; false when
// the window is gone.
bool PostMessage(HWND hwnd, unsigned msg, std::uint64_t wParam, std::int64_t lParam);
// Waits until the window's procedure has returned and gives its result (0 when
// the window is gone).
std::int64_t SendMessage(HWND hwnd, unsigned msg, std::uint64_t wParam, std::int64_t lParam);
// WM_COPYDATA: wParam is the sending window, the block is copied across.
std::int64_t SendCopyData(HWND hwnd, HWND from, std::uint64_t dwData, const void* data, std::size_t size);

bool ShowWindow(HWND hwnd, int cmd);
bool SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
// Records the foreground window (its owner calls this when it activates).
void NoteForegroundWindow(HWND hwnd);

struct POINT {
    int x = 0;
    int y = 0;
};
// A fixed position in a headless run.
bool GetCursorPos(POINT* point);
// Where the pointer is, for a desktop front-end to tell; without it (a
// headless run) the pointer is at 100, 100.
std::function<bool(POINT& point)>& CursorPositionSource();

// ---- tray icons ---------------------------------------------------------------
// The classic 88-byte record: size, owner window, identifier, flags, callback
// message, icon, 64-byte tip.
#pragma pack(push, 1)
struct NOTIFYICONDATA {
    std::uint32_t cbSize;
    std::uint32_t hWnd;
    std::uint32_t uID;
    std::uint32_t uFlags;
    std::uint32_t uCallbackMessage;
    std::uint32_t hIcon;
    char szTip[64];
};
#pragma pack(pop)
static_assert(sizeof(NOTIFYICONDATA) == 88);

constexpr unsigned NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2;
constexpr unsigned NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;

bool Shell_NotifyIcon(unsigned message, const NOTIFYICONDATA* data);

struct TrayIcon {
    HWND owner = 0;
    unsigned id = 0;
    unsigned flags = 0;
    unsigned callbackMessage = 0;
    unsigned icon = 0;
    std::string tip;
    std::int64_t pid = 0;
};
// The icons of live processes.
std::vector<TrayIcon> TrayIcons();
// Told of every change this process makes to its icons (NIM_ADD, NIM_MODIFY,
// NIM_DELETE), so that a desktop front-end can show them.
std::function<void(unsigned message, const TrayIcon& icon)>& TrayObserver();
// A click on an icon: its callback message posted to its owner, the icon's
// identifier in wParam and the mouse message (513 left, 516 right) in lParam.
bool ClickTrayIcon(HWND owner, unsigned id, unsigned mouseMessage);

// ---- clipboard of headless runs ---------------------------------------------------
std::string SessionClipboardText();
void SetSessionClipboardText(const std::string& text);

} // namespace session
