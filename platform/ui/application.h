#pragma once
// Forms, the application with its message loop, message boxes, dialogs, the
// clipboard and text measurement.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/session/windows.h"
#include "platform/ui/controls.h"

namespace ui {

class Application;

enum class CloseAction { caNone, caHide, caFree, caMinimize };

// A top-level window. Forms are created once and live until the program ends.
class Form : public Control {
public:
    // `className` is the window class ("TvinForm1", "TForm3").
    Form(Application& app, std::string name, std::string className);
    ~Form() override;

    const char* ClassName() const override { return m_className.c_str(); }
    Application& App() const { return m_app; }

    // Show: visible (OnShow when it was hidden), brought to front and made the
    // active window (OnActivate when it was not). Hide: hidden (OnHide); if it
    // was the active window, the main form becomes active when it is visible.
    void Show();
    void Hide();
    void SetVisible(bool v) override;
    // OnClose with caHide for a secondary form (caFree... for the main one);
    // the main form's close ends the loop, a secondary's hides it.
    void Close();
    void BringToFront();
    bool Active() const;
    void SetCaption(const std::string& text) override;

    const std::vector<PopupMenu*>& Menus() const { return m_menus; }

    // How a desktop front-end frames the window: a tool window has a small
    // title bar; a fixed one cannot be resized. A painted caption is a title
    // bar drawn in gradient steps from `start` with its own text (which the
    // window's caption does not change).
    bool ToolWindow = false;
    bool Resizable = true;
    struct GradientCaption {
        TColor start = clGray;
        std::string text;
        int steps = 16;
    };
    std::optional<GradientCaption> PaintedCaption;
    // The menu a right click on the window or one of its controls opens.
    PopupMenu* ContextMenu = nullptr;
    MenuItem* FindMenuItem(const std::string& name);

    NotifyEvent OnCreate, OnShow, OnHide, OnActivate, OnDestroy;
    std::function<void(CloseAction&)> OnClose;

    // Window handle given by the session, 0 until then.
    std::uint32_t Handle = 0;
    // Messages from other processes for this window (after the session's own
    // show and foreground requests): true when handled, with its result.
    std::function<bool(const session::Message&, std::int64_t& result)> OnMessage;

private:
    friend class Application;
    friend class PopupMenu;
    Application& m_app;
    std::string m_className;
    std::vector<PopupMenu*> m_menus;
    bool m_created = false;
    bool m_destroyed = false;
};

// Message box buttons, icons and results, with their Windows values.
enum : unsigned {
    MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5,
    MB_ICONHAND = 0x10, MB_ICONSTOP = 0x10, MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30, MB_ICONWARNING = 0x30, MB_ICONASTERISK = 0x40,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x000, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// The buttons a box of these flags shows, in order, and the default one.
std::vector<int> MessageBoxButtons(unsigned flags);
int MessageBoxDefault(unsigned flags);
const char* ButtonName(int id);          // "OK", "Cancel", "Yes" ...
int ButtonFromName(const std::string&);  // 0 when unknown

// The file-open dialog. Filter: "Description|pattern;pattern|Description|...".
enum OpenOption : unsigned { ofAllowMultiSelect = 0x200, ofFileMustExist = 0x1000, ofHideReadOnly = 0x4 };
struct OpenDialog {
    std::string Title;
    std::string Filter;
    int FilterIndex = 1;
    std::string InitialDir;
    unsigned Options = ofHideReadOnly;
    std::string FileName;            // the first chosen file
    std::vector<std::string> Files;  // all chosen files
    bool Execute(Application& app);  // false when cancelled
};

struct ColorDialog {
    TColor Color = clBlack;
    bool Execute(Application& app);
};

// One box or dialog that was shown, as a test or the automation channel reads it.
struct ShownDialog {
    std::string kind;      // "message", "open", "color"
    std::string caption;
    std::string text;      // a message box's text, a dialog's filter
    unsigned flags = 0;
    std::string result;    // "Yes", "cancelled", the chosen files joined by '|', a colour
};

// An answer queued for the next box or dialog of a headless run.
struct ButtonAnswer { int id; };                       // IDYES, IDOK ...
struct FilesAnswer { std::vector<std::string> files; };
struct ColorAnswer { TColor color; };
struct CancelAnswer {};                                 // the dialog's or box's Cancel
using DialogAnswer = std::variant<ButtonAnswer, FilesAnswer, ColorAnswer, CancelAnswer>;

// What a front-end provides: peers for controls, modal boxes and dialogs,
// the clipboard, text measurement. The headless toolkit records and answers
// from the queue.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    virtual void AttachPeers(Form&) {}
    virtual int MessageBox(Application& app, const std::string& text, const std::string& caption, unsigned flags) = 0;
    virtual bool OpenFiles(Application& app, OpenDialog& dialog) = 0;
    virtual bool PickColor(Application& app, TColor& color) = 0;
    virtual std::string ClipboardText() = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    // Width in screen dots of `text` in `control`'s font.
    virtual int TextWidth(const Control& control, const std::string& text) = 0;

    // A front-end with a loop of its own runs the application's: it watches
    // the application's descriptors (id 0 is the wake-up of posted work) and
    // waits for one round of work. The headless toolkit leaves the loop to the
    // application.
    virtual bool OwnsLoop() const { return false; }
    virtual void AddWatch(int /*id*/, int /*fd*/, std::function<void()> /*ready*/) {}
    virtual void RemoveWatch(int /*id*/) {}
    virtual void Wait(int /*timeoutMs*/) {}

    // What a native peer shows, for tests and the automation channel: `what`
    // names the question ("text", "visible", "size", "picture", "script",
    // "screenshot"); `argument` goes with it. Throws sys::Error when there is
    // no such peer or question.
    virtual std::string Native(Control& control, const std::string& what, const std::string& argument);
};

// The headless toolkit: boxes and dialogs answered from the application's
// queue (default button, or cancelled, when it is empty); the clipboard kept in
// the process unless hooks send it elsewhere (the session's, shared by the
// user's headless processes).
class HeadlessToolkit final : public Toolkit {
public:
    int MessageBox(Application& app, const std::string& text, const std::string& caption, unsigned flags) override;
    bool OpenFiles(Application& app, OpenDialog& dialog) override;
    bool PickColor(Application& app, TColor& color) override;
    std::string ClipboardText() override;
    void SetClipboardText(const std::string& text) override;
    int TextWidth(const Control& control, const std::string& text) override;

    std::function<std::string()> ClipboardGetter;
    std::function<void(const std::string&)> ClipboardSetter;

private:
    std::string m_clipboard;
};

// Told about the forms' lives, for those who mirror them elsewhere (the
// session's window directory).
class FormListener {
public:
    virtual ~FormListener() = default;
    virtual void FormCreated(Form&) {}
    virtual void FormChanged(Form&) {}     // visible or caption
    virtual void FormActivated(Form&) {}
    virtual void FormDestroyed(Form&) {}
};

// The headless width of a text: a fixed table of character widths of an
// 8-point sans-serif font (documented in textwidth.cpp), so column fitting is
// the same on every machine.
int HeadlessTextWidth(const std::string& text);

// The application: one message loop for the process.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    std::string Title;

    // Registers a form (the first becomes the main form) and raises OnCreate.
    void CreateForm(Form& form);
    Form* MainForm() const { return m_mainForm; }
    const std::vector<Form*>& Forms() const { return m_forms; }
    Form* FindForm(const std::string& nameOrClass) const;

    // Shows the main form and runs the loop until Terminate; then every form is
    // destroyed (OnDestroy, last created first).
    void Run();
    bool ShowMainForm = true;
    // Handles what is pending (posted work, readable sources) without waiting.
    void ProcessMessages();
    // Waits for one batch of work and handles it.
    void HandleMessage();
    // Waits at most `ms` milliseconds for work and handles what came.
    void HandleMessageWithin(int ms);
    void Terminate();
    bool Terminated() const { return m_terminated; }
    // Raises OnDestroy on every form, once (Run does this when the loop ends).
    void DestroyForms();

    // Work for the loop; safe from any thread. Exceptions are shown in the
    // standard error box.
    void Post(std::function<void()> work);
    // Runs `work` as the loop runs an event handler: an exception that leaves
    // it is shown in the standard error box and the program goes on. Native
    // input and the automation channel raise events through this.
    void Deliver(const std::function<void()>& work);
    // The standard error box: the exception's own message, the application's
    // title, an OK button and the stop icon.
    void ShowException(const std::exception& e);

    // A file descriptor watched by the loop: `onReadable` runs when it is.
    int AddWatch(int fd, std::function<void()> onReadable);
    void RemoveWatch(int id);

    // The active form: OnActivate fires every time a form becomes active.
    Form* ActiveForm() const { return m_active; }
    void SetActiveForm(Form* form);

    // The application as a whole: minimised to the tray or task bar, restored,
    // brought to front, activated from another program.
    void Minimize();
    void Restore();
    void BringToFront();
    void Activate();     // the application gains focus: OnActivate
    void Deactivate();
    bool Minimized() const { return m_minimized; }
    bool IsActive() const { return m_appActive; }
    NotifyEvent OnActivate, OnDeactivate, OnMinimize, OnRestore;

    // Boxes and dialogs.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
    void ShowMessage(const std::string& text);   // OK box with the title as caption
    // Headless answers for coming boxes and dialogs, first in first out; with
    // nothing queued a box returns its default button and a dialog is cancelled.
    void QueueAnswer(DialogAnswer answer);
    std::size_t PendingAnswers() const;
    const DialogAnswer* PeekAnswer() const { return m_answers.empty() ? nullptr : &m_answers.front(); }
    std::optional<DialogAnswer> TakeAnswer();
    const std::vector<ShownDialog>& Shown() const { return m_shown; }
    void RecordShown(ShownDialog d);

    std::string ClipboardText();
    void SetClipboardText(const std::string& text);
    int TextWidth(const Control& control, const std::string& text);

    void AddListener(FormListener* listener) { m_listeners.push_back(listener); }
    void RemoveListener(FormListener* listener) { std::erase(m_listeners, listener); }

    Toolkit& GetToolkit() { return *m_toolkit; }
    void SetToolkit(std::unique_ptr<Toolkit> toolkit);

private:
    friend class Form;
    void Iterate(int timeoutMs);   // -1 waits as long as it takes
    void FormHidden(Form& form);
    template <class F> void Notify(F&& f)
    {
        for (FormListener* l : std::vector<FormListener*>(m_listeners))
            f(*l);
    }
    std::vector<FormListener*> m_listeners;

    std::vector<Form*> m_forms;
    Form* m_mainForm = nullptr;
    Form* m_active = nullptr;
    bool m_terminated = false;
    bool m_destroyed = false;
    bool m_minimized = false;
    bool m_appActive = false;   // until its first form becomes active
    std::unique_ptr<Toolkit> m_toolkit;

    void RunPosted();
    void DeliverWatch(int id);
    mutable std::mutex m_postMutex;
    std::deque<std::function<void()>> m_posted;
    int m_wakeFd = -1;
    struct Watch { int id; int fd; std::function<void()> onReadable; };
    std::vector<Watch> m_watches;
    int m_nextWatch = 1;

    std::deque<DialogAnswer> m_answers;
    std::vector<ShownDialog> m_shown;
};

} // namespace ui

namespace ui {
// SIGTERM and SIGINT close the main form, as the user closing it would, so the
// program ends normally. The signals' handler wakes the loop, whichever
// thread it runs on.
void CloseMainFormOnTerminationSignals(Application& app);
}
