#include "platform/ui/session_link.h"

#include "platform/session/session.h"

namespace ui {

SessionLink::SessionLink(Application& app) : m_app(app)
{
    auto& port = session::MessagePort::Current();
    m_watch = app.AddWatch(port.Fd(), [&port] { port.Dispatch(); });
    if (auto* headless = dynamic_cast<HeadlessToolkit*>(&app.GetToolkit())) {
        headless->ClipboardGetter = [] { return session::SessionClipboardText(); };
        headless->ClipboardSetter = [](const std::string& text) { session::SetSessionClipboardText(text); };
    }
    m_appWindow = port.CreateWindow("TApplication", 0, [this](const session::Message& m) -> std::int64_t {
        if (m.msg == session::VM_SHOWWINDOW) {
            int cmd = static_cast<int>(m.wParam);
            if (cmd == session::SW_MINIMIZE || cmd == session::SW_SHOWMINIMIZED)
                m_app.Minimize();
            else if (cmd != session::SW_HIDE)
                m_app.Restore();
        } else if (m.msg == session::VM_SETFOREGROUND) {
            m_app.Activate();
            m_app.BringToFront();
        }
        return 0;
    }, false, m_app.Title);
    app.AddListener(this);
    for (Form* form : app.Forms())
        FormCreated(*form);
}

SessionLink::~SessionLink()
{
    m_app.RemoveListener(this);
    m_app.RemoveWatch(m_watch);
    for (Form* form : m_app.Forms())
        FormDestroyed(*form);
    session::MessagePort::Current().DestroyWindow(m_appWindow);
}

void SessionLink::FormCreated(Form& form)
{
    if (form.Handle)
        return;
    form.Handle = session::MessagePort::Current().CreateWindow(
        form.ClassName(), 0, [this, &form](const session::Message& m) { return Handle(form, m); },
        form.Visible(), form.Caption());
}

void SessionLink::FormChanged(Form& form)
{
    if (form.Handle)
        session::MessagePort::Current().SetWindowState(form.Handle, form.Visible(), form.Caption());
}

void SessionLink::FormActivated(Form& form)
{
    if (form.Handle)
        session::NoteForegroundWindow(form.Handle);
}

void SessionLink::FormDestroyed(Form& form)
{
    if (!form.Handle)
        return;
    session::MessagePort::Current().DestroyWindow(form.Handle);
    form.Handle = 0;
}

std::int64_t SessionLink::Handle(Form& form, const session::Message& m)
{
    switch (m.msg) {
    case session::VM_SHOWWINDOW:
        switch (static_cast<int>(m.wParam)) {
        case session::SW_HIDE:
            form.Hide();
            break;
        case session::SW_MINIMIZE:
        case session::SW_SHOWMINIMIZED:
            m_app.Minimize();
            break;
        case session::SW_RESTORE:
            m_app.Restore();
            form.Show();
            break;
        default:
            form.Show();
            break;
        }
        return 0;
    case session::VM_SETFOREGROUND:
        m_app.Activate();
        if (m_app.Minimized())
            m_app.Restore();
        form.BringToFront();
        return 0;
    default: {
        std::int64_t result = 0;
        if (form.OnMessage && form.OnMessage(m, result))
            return result;
        if (m.msg == session::WM_CLOSE)
            form.Close();
        return 0;
    }
    }
}

} // namespace ui
