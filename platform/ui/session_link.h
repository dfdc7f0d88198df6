#pragma once
// Connects an application to the desktop session: its message socket is read
// by the loop, every form gets a session window of its class (with visible and
// caption kept up to date in the directory), other processes' show and
// foreground requests are carried out, other messages go to the form's
// OnMessage, and a headless run shares the session's clipboard.
#include "platform/ui/application.h"

namespace ui {

class SessionLink final : public FormListener {
public:
    explicit SessionLink(Application& app);
    ~SessionLink() override;
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    // The application's own hidden window ("TApplication"): showing it
    // restores the application, making it the foreground activates it.
    session::HWND ApplicationHandle() const { return m_appWindow; }
    // Gives a form its session window now, if it has none yet.
    void EnsureHandle(Form& form) { FormCreated(form); }

    void FormCreated(Form& form) override;
    void FormChanged(Form& form) override;
    void FormActivated(Form& form) override;
    void FormDestroyed(Form& form) override;

private:
    std::int64_t Handle(Form& form, const session::Message& m);
    Application& m_app;
    int m_watch = 0;
    session::HWND m_appWindow = 0;
};

} // namespace ui
