#include "app/Program.h"

#include "app/TvinForm1.h"
#include "platform/automation/server.h"
#include "platform/session/session.h"
#include "platform/ui/session_link.h"

Program::Program(std::string folder_, std::vector<std::string> args_)
    : folder(std::move(folder_)), args(std::move(args_))
{
    app.Title = "Vintrel";
    vinForm1 = std::make_unique<TvinForm1>(*this);
}

Program::~Program() = default;

int Program::Run()
{
    // The session is where second starts, the automation server and the
    // browser add-in find us; without a usable one the program does not start.
    session::Session& s = session::Session::Current();
    ui::SessionLink link(app);
    std::unique_ptr<automation::Server> automationServer;
    if (automation::Requested())
        automationServer = std::make_unique<automation::Server>(app, s.Folder(), folder);

    app.CreateForm(*vinForm1);
    app.Run();
    return 0;
}
