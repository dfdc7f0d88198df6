#include "platform/ui/application.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/sys/error.h"
#include "platform/sys/text.h"

namespace ui {

// ---- Form ------------------------------------------------------------------

Form::Form(Application& app, std::string name, std::string className)
    : Control(nullptr, std::move(name)), m_app(app), m_className(std::move(className))
{
    Control::SetVisible(false);
}

Form::~Form()
{
    auto& forms = m_app.m_forms;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (m_app.m_mainForm == this)
        m_app.m_mainForm = nullptr;
    if (m_app.m_active == this)
        m_app.m_active = nullptr;
}

void Form::SetVisible(bool v)
{
    if (v == Visible())
        return;
    Control::SetVisible(v);
    // As the window procedure does, an error in these handlers is shown and
    // whoever showed or hid the form goes on.
    if (v) {
        if (OnShow)
            m_app.Deliver(OnShow);
        m_app.SetActiveForm(this);
    } else {
        if (OnHide)
            m_app.Deliver(OnHide);
        m_app.FormHidden(*this);
    }
    m_app.Notify([this](FormListener& l) { l.FormChanged(*this); });
}

void Form::SetCaption(const std::string& text)
{
    if (text == Caption())
        return;
    Control::SetCaption(text);
    m_app.Notify([this](FormListener& l) { l.FormChanged(*this); });
}

void Form::Show()
{
    // Showing a hidden form activates it; one already shown comes forward.
    // (Activating it twice would run its activation handler twice, even when
    // that handler has just brought another window forward.)
    if (!Visible())
        SetVisible(true);
    else
        BringToFront();
}

void Form::Hide() { SetVisible(false); }

void Form::BringToFront()
{
    if (Visible())
        m_app.SetActiveForm(this);
}

bool Form::Active() const { return m_app.ActiveForm() == this; }

void Form::Close()
{
    bool isMain = m_app.MainForm() == this;
    CloseAction action = isMain ? CloseAction::caFree : CloseAction::caHide;
    if (OnClose)
        OnClose(action);
    if (action == CloseAction::caNone)
        return;
    if (isMain)
        m_app.Terminate();
    else if (action == CloseAction::caMinimize)
        m_app.Minimize();
    else
        Hide();
}

MenuItem* Form::FindMenuItem(const std::string& name)
{
    for (PopupMenu* menu : m_menus)
        if (MenuItem* found = menu->Find(name))
            return found;
    return nullptr;
}

// ---- message box helpers ------------------------------------------------------

std::vector<int> MessageBoxButtons(unsigned flags)
{
    switch (flags & 0xF) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
    }
}

int MessageBoxDefault(unsigned flags)
{
    auto buttons = MessageBoxButtons(flags);
    size_t which = (flags & 0xF00) >> 8;
    return buttons[which < buttons.size() ? which : 0];
}

namespace {
constexpr const char* kButtonNames[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
}

const char* ButtonName(int id)
{
    return id >= 1 && id <= 7 ? kButtonNames[id] : "";
}

int ButtonFromName(const std::string& name)
{
    for (int id = 1; id <= 7; ++id)
        if (sys::EqualNoCase(name, kButtonNames[id]))
            return id;
    return 0;
}

// ---- the headless toolkit -----------------------------------------------------

namespace {

void PrintShown(const ShownDialog& d)
{
    std::fprintf(stderr, "[headless %s] \"%s\": %s -> %s\n", d.kind.c_str(), d.caption.c_str(),
                 d.text.c_str(), d.result.c_str());
}

} // namespace

int HeadlessToolkit::MessageBox(Application& app, const std::string&, const std::string&, unsigned flags)
{
    auto buttons = MessageBoxButtons(flags);
    if (auto* next = app.PeekAnswer()) {
        if (auto* b = std::get_if<ButtonAnswer>(next);
            b && std::find(buttons.begin(), buttons.end(), b->id) != buttons.end()) {
            int result = b->id;
            app.TakeAnswer();
            return result;
        }
        if (std::holds_alternative<CancelAnswer>(*next)) {
            app.TakeAnswer();
            bool hasCancel = std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end();
            return hasCancel ? IDCANCEL : MessageBoxDefault(flags);
        }
    }
    return MessageBoxDefault(flags);
}

bool HeadlessToolkit::OpenFiles(Application& app, OpenDialog& dialog)
{
    if (auto* next = app.PeekAnswer()) {
        if (auto* files = std::get_if<FilesAnswer>(next)) {
            std::vector<std::string> chosen = files->files;
            app.TakeAnswer();
            if (chosen.empty())
                return false;
            if (!(dialog.Options & ofAllowMultiSelect))
                chosen.resize(1);
            dialog.Files = chosen;
            dialog.FileName = chosen.front();
            return true;
        }
        if (std::holds_alternative<CancelAnswer>(*next))
            app.TakeAnswer();
    }
    return false;
}

bool HeadlessToolkit::PickColor(Application& app, TColor& color)
{
    if (auto* next = app.PeekAnswer()) {
        if (auto* c = std::get_if<ColorAnswer>(next)) {
            color = c->color;
            app.TakeAnswer();
            return true;
        }
        if (std::holds_alternative<CancelAnswer>(*next))
            app.TakeAnswer();
    }
    return false;
}

std::string HeadlessToolkit::ClipboardText()
{
    return ClipboardGetter ? ClipboardGetter() : m_clipboard;
}

void HeadlessToolkit::SetClipboardText(const std::string& text)
{
    if (ClipboardSetter)
        ClipboardSetter(text);
    else
        m_clipboard = text;
}

int HeadlessToolkit::TextWidth(const Control&, const std::string& text) { return HeadlessTextWidth(text); }

// ---- dialogs -------------------------------------------------------------------

bool OpenDialog::Execute(Application& app)
{
    Files.clear();
    FileName.clear();
    bool ok = app.GetToolkit().OpenFiles(app, *this);
    std::string chosen;
    for (const auto& f : Files)
        chosen += (chosen.empty() ? "" : "|") + f;
    app.RecordShown({"open", Title, Filter, Options, ok ? chosen : "cancelled"});
    return ok;
}

bool ColorDialog::Execute(Application& app)
{
    TColor c = Color;
    bool ok = app.GetToolkit().PickColor(app, c);
    if (ok)
        Color = c;
    app.RecordShown({"color", "", "", 0, ok ? std::to_string(c) : "cancelled"});
    return ok;
}

// ---- Application -----------------------------------------------------------------

Application::Application() : m_toolkit(std::make_unique<HeadlessToolkit>())
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        sys::ThrowErrno("cannot create the message loop", errno);
}

Application::~Application()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void Application::SetToolkit(std::unique_ptr<Toolkit> toolkit)
{
    m_toolkit = std::move(toolkit);
    if (m_toolkit->OwnsLoop()) {
        m_toolkit->AddWatch(0, m_wakeFd, [this] {
            std::uint64_t count;
            [[maybe_unused]] auto r = ::read(m_wakeFd, &count, sizeof count);
            RunPosted();
        });
        for (const auto& w : m_watches)
            m_toolkit->AddWatch(w.id, w.fd, [this, id = w.id] { DeliverWatch(id); });
    }
    for (Form* f : m_forms)
        m_toolkit->AttachPeers(*f);
}

std::string Toolkit::Native(Control& control, const std::string&, const std::string&)
{
    throw sys::Error("No native window shows " + control.Name() + ": this run is headless.");
}

void Application::CreateForm(Form& form)
{
    if (form.m_created)
        return;
    form.m_created = true;
    m_forms.push_back(&form);
    if (!m_mainForm)
        m_mainForm = &form;
    m_toolkit->AttachPeers(form);
    Notify([&form](FormListener& l) { l.FormCreated(form); });
    if (form.OnCreate)
        Deliver(form.OnCreate);
}

Form* Application::FindForm(const std::string& nameOrClass) const
{
    for (Form* f : m_forms)
        if (sys::EqualNoCase(f->Name(), nameOrClass) || sys::EqualNoCase(f->ClassName(), nameOrClass))
            return f;
    return nullptr;
}

void Application::Run()
{
    if (ShowMainForm && m_mainForm && !m_terminated)
        Deliver([this] { m_mainForm->Show(); });
    while (!m_terminated)
        Iterate(-1);
    DestroyForms();
}

void Application::DestroyForms()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    std::vector<Form*> forms = m_forms;
    for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
        Form* f = *it;
        if (f->m_destroyed)
            continue;
        f->m_destroyed = true;
        f->Control::SetVisible(false);
        Deliver([f] {
            if (f->OnDestroy)
                f->OnDestroy();
        });
        Notify([f](FormListener& l) { l.FormDestroyed(*f); });
    }
    m_active = nullptr;
}

void Application::ProcessMessages() { Iterate(0); }
void Application::HandleMessage() { Iterate(-1); }
void Application::HandleMessageWithin(int ms) { Iterate(ms < 0 ? 0 : ms); }

void Application::Terminate()
{
    m_terminated = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
}

void Application::Post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_postMutex);
        m_posted.push_back(std::move(work));
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
}

void Application::Deliver(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
}

void Application::ShowException(const std::exception& e)
{
    // A failing box must not take the loop down with it.
    try {
        MessageBox(e.what(), Title, MB_OK | MB_ICONSTOP);
    } catch (...) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
}

int Application::AddWatch(int fd, std::function<void()> onReadable)
{
    int id = m_nextWatch++;
    m_watches.push_back({id, fd, std::move(onReadable)});
    if (m_toolkit->OwnsLoop())
        m_toolkit->AddWatch(id, fd, [this, id] { DeliverWatch(id); });
    return id;
}

void Application::RemoveWatch(int id)
{
    std::erase_if(m_watches, [id](const Watch& w) { return w.id == id; });
    if (m_toolkit->OwnsLoop())
        m_toolkit->RemoveWatch(id);
}

void Application::DeliverWatch(int id)
{
    auto it = std::find_if(m_watches.begin(), m_watches.end(), [id](const Watch& w) { return w.id == id; });
    if (it == m_watches.end())
        return;
    auto handler = it->onReadable;   // the handler may remove its own watch
    Deliver(handler);
}

void Application::RunPosted()
{
    std::deque<std::function<void()>> posted;
    {
        std::lock_guard lock(m_postMutex);
        posted.swap(m_posted);
    }
    for (auto& work : posted)
        Deliver(work);
}

void Application::Iterate(int timeoutMs)
{
    bool hadWork;
    {
        std::lock_guard lock(m_postMutex);
        hadWork = !m_posted.empty();
    }
    RunPosted();
    if (hadWork || m_terminated)
        timeoutMs = 0;
    if (m_toolkit->OwnsLoop()) {
        m_toolkit->Wait(timeoutMs);
        return;
    }

    std::vector<pollfd> fds;
    fds.push_back({m_wakeFd, POLLIN, 0});
    std::vector<int> ids;
    for (const auto& w : m_watches) {
        fds.push_back({w.fd, POLLIN, 0});
        ids.push_back(w.id);
    }
    int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] auto r = ::read(m_wakeFd, &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        DeliverWatch(ids[i - 1]);
    }
}

void Application::SetActiveForm(Form* form)
{
    if (form == m_active)
        return;
    if (form && !form->Visible())
        return;
    // A form of an inactive application activates the application first.
    // Should that hide the form, the form's own activation still runs, but
    // it is not left as the active window.
    if (form && !m_appActive)
        Activate();
    m_active = form && form->Visible() ? form : nullptr;
    if (form)
        Notify([form](FormListener& l) { l.FormActivated(*form); });
    if (form && form->OnActivate)
        Deliver(form->OnActivate);
}

void Application::FormHidden(Form& form)
{
    if (m_active != &form)
        return;
    m_active = nullptr;
    // Activation passes back to the main window when it is on screen.
    if (m_mainForm && m_mainForm != &form && m_mainForm->Visible() && !m_terminated)
        SetActiveForm(m_mainForm);
}

void Application::Minimize()
{
    if (m_minimized)
        return;
    m_minimized = true;
    m_active = nullptr;
    if (OnMinimize)
        Deliver(OnMinimize);
}

void Application::Restore()
{
    if (!m_minimized)
        return;
    m_minimized = false;
    if (OnRestore)
        Deliver(OnRestore);
    if (m_mainForm && m_mainForm->Visible())
        SetActiveForm(m_mainForm);
}

void Application::BringToFront()
{
    if (m_minimized)
        Restore();
    if (!m_active && m_mainForm && m_mainForm->Visible())
        SetActiveForm(m_mainForm);
}

void Application::Activate()
{
    if (m_appActive)
        return;
    m_appActive = true;
    if (OnActivate)
        Deliver(OnActivate);
}

void Application::Deactivate()
{
    if (!m_appActive)
        return;
    m_appActive = false;
    m_active = nullptr;
    if (OnDeactivate)
        Deliver(OnDeactivate);
}

int Application::MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    int result = m_toolkit->MessageBox(*this, text, caption, flags);
    RecordShown({"message", caption, text, flags, ButtonName(result)});
    return result;
}

void Application::ShowMessage(const std::string& text) { MessageBox(text, Title, MB_OK); }

void Application::QueueAnswer(DialogAnswer answer) { m_answers.push_back(std::move(answer)); }
std::size_t Application::PendingAnswers() const { return m_answers.size(); }

std::optional<DialogAnswer> Application::TakeAnswer()
{
    if (m_answers.empty())
        return std::nullopt;
    DialogAnswer a = std::move(m_answers.front());
    m_answers.pop_front();
    return a;
}

void Application::RecordShown(ShownDialog d)
{
    if (dynamic_cast<HeadlessToolkit*>(m_toolkit.get()))
        PrintShown(d);
    m_shown.push_back(std::move(d));
}

std::string Application::ClipboardText() { return m_toolkit->ClipboardText(); }
void Application::SetClipboardText(const std::string& text) { m_toolkit->SetClipboardText(text); }
int Application::TextWidth(const Control& control, const std::string& text)
{
    return m_toolkit->TextWidth(control, text);
}

} // namespace ui

#include <csignal>
#include <fcntl.h>

namespace ui {

namespace {
int g_signalPipe = -1;   // written by the handler, read by the loop
}

void CloseMainFormOnTerminationSignals(Application& app)
{
    // A handler rather than a blocked signal: libraries start threads of
    // their own before main runs, and the signal may reach any of them.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        sys::ThrowErrno("cannot watch termination signals", errno);
    g_signalPipe = fds[1];
    struct sigaction sa {};
    sa.sa_handler = [](int) {
        int saved = errno;
        char one = 1;
        [[maybe_unused]] auto n = ::write(g_signalPipe, &one, 1);
        errno = saved;
    };
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    // An interrupt that the starting shell ignores (a background job's) stays ignored.
    struct sigaction old {};
    if (::sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
        ::sigaction(SIGINT, &sa, nullptr);
    int fd = fds[0];
    app.AddWatch(fd, [&app, fd] {
        char buf[64];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
        if (Form* main = app.MainForm())
            main->Close();
        else
            app.Terminate();
    });
}

} // namespace ui
