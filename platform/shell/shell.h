#pragma once
// The desktop shell: starting documents and programs by verb, the desktop
// folder, the wallpaper. Nothing here runs a command through a shell: every
// program is started with an argument vector.
#include <string>
#include <vector>

namespace shell {

// Window show commands, as ShellExecute takes them.
enum ShowCommand : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_NORMAL = 1, SW_SHOW = 5 };

// Results: a value above 32 is success, as ShellExecute returns.
constexpr int SE_ERR_FNF = 2;        // the program to start was not found
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_NOASSOC = 31;   // no program for this verb and file type
constexpr int SE_OK = 42;

// Splits a command line into arguments the way Windows programs do: blanks
// (space, tab) separate, double quotes group, 2n backslashes before a quote
// give n backslashes and a quote that groups, 2n+1 give n backslashes and a
// literal quote, two quotes inside a group give a literal quote, other
// backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& line);

// ShellExecute(owner, verb, file, parameters, folder, show):
// - any verb on an "http://", "https://" or "mailto:" address opens the
//   address with the desktop's opener (xdg-open) as one argument;
// - "open" or the default verb (empty) on an executable file starts it with
//   `parameters` split by SplitCommandLine, in `folder` when one is given;
// - a verb on a document looks up HKEY_CLASSES_ROOT ".ext" for the file type,
//   then "<type>\shell\<verb>\command" (the default verb is the type's "shell"
//   default value, else "open"), replaces "%1" (and "%L") with the file and
//   starts that command line;
// - "open" or the default verb with nothing registered goes to xdg-open with
//   the file as one argument; any other verb with nothing registered does
//   nothing and returns SE_ERR_NOASSOC.
int ShellExecute(unsigned owner, const std::string& verb, const std::string& file,
                 const std::string& parameters, const std::string& folder, int show);

// Every ShellExecute call is recorded, with the argument vector it started
// (empty when it started nothing).
struct ShellCall {
    std::string verb, file, parameters, folder;
    int show = 0;
    std::vector<std::string> argv;
    int result = 0;
};
std::vector<ShellCall> RecordedCalls();
// Every StartProcess call is recorded too, with its argument vector, whether
// or not starting is enabled. ClearRecordedCalls forgets both lists.
std::vector<std::vector<std::string>> RecordedStarts();
void ClearRecordedCalls();

// Tests switch starting off: calls are resolved and recorded, nothing runs.
void SetStartingEnabled(bool enabled);
bool StartingEnabled();

// Starts a program detached, with an argument vector (argv[0] is looked up on
// PATH when it has no slash), in `folder` if not empty. Returns false when it
// could not be started. Honours SetStartingEnabled.
bool StartProcess(const std::vector<std::string>& argv, const std::string& folder = {});

// The user's desktop folder: XDG_DESKTOP_DIR from user-dirs.dirs, else
// $HOME/Desktop. No trailing slash.
std::string DesktopFolder();

// Sets the desktop wallpaper: writes HKEY_CURRENT_USER "Control Panel\Desktop"
// value "Wallpaper" and, where a known desktop runs (GNOME, Cinnamon, MATE,
// XFCE, KDE Plasma), applies it there too. Applying reports nothing when it
// fails. Returns false only when the registry could not be written.
bool SetWallpaper(const std::string& path);

} // namespace shell
