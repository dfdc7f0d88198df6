#include "app/Program.h"

#include "app/TvinForm1.h"
#include "delivery/delivery.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"
#include "delivery/TForm10.h"
#include "delivery/TForm9.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "list/TForm6.h"
#include "platform/automation/server.h"
#include "platform/session/session.h"
#include "platform/ui/session_link.h"
#include "settings/TForm2.h"
#include "settings/TForm3.h"
#include "sharing/TForm7.h"
#include "sharing/TForm8.h"

Program::Program(std::string folder_, std::vector<std::string> args_)
    : folder(std::move(folder_)), args(std::move(args_))
{
    app.Title = "Vintrel";
}

std::string Program::ProgramFile() const
{
    std::string name = args.empty() ? std::string("vintrel") : args[0].substr(args[0].find_last_of('/') + 1);
    return PathOf(name);
}

Program::~Program()
{
    // The windows go before the link that gave them their handles.
    Form5.reset();
    Form10.reset();
    Form9.reset();
    Form8.reset();
    Form7.reset();
    Form6.reset();
    Form4.reset();
    Form3.reset();
    Form2.reset();
    vinForm1.reset();
    automationServer.reset();
    sessionLink.reset();
}

void Program::Start()
{
    // The session is where second starts, the automation server and the
    // browser add-in find us; without a usable one the program does not start.
    // Tests and demos may fix what the send invitation draws.
    if (std::string seed = sys::GetEnv("VINTREL_INVITATION_SEED"); !seed.empty())
        SetInvitationSeed(static_cast<std::uint32_t>(sys::StrToInt(seed)));
    session::Session& s = session::Session::Current();
    sessionLink = std::make_unique<ui::SessionLink>(app);
    if (automation::Requested())
        automationServer = std::make_unique<automation::Server>(app, s.Folder(), folder);

    vinForm1 = std::make_unique<TvinForm1>(*this);
    // The guard is made and checks for a running copy while the main window
    // is being built, before its creation handler.
    std::string name = ProgramFile().substr(folder.size() + 1);
    vinForm1->UnPas21 = std::make_unique<TUnPas2>(*vinForm1, *sessionLink, args, name);
    vinForm1->UnPas21->StopSiDejaLance = true;
    vinForm1->UnPas21->OnOtherTryToRun = [this](bool stop, std::int32_t count, TParamArray& params,
                                                std::string& user) {
        vinForm1->UnPas21OtherTryToRun(stop, count, params, user);
    };
    vinForm1->UnPas21->Loaded();
    if (!(vinForm1->UnPas21->AlreadyRunning && vinForm1->UnPas21->StopSiDejaLance))
        ui::InstallFrontEnd(app, frontEnd, folder);
    app.CreateForm(*vinForm1);
    // The creation handler ran with no other window in existence; now the
    // others, hidden.
    Form2 = std::make_unique<TForm2>(*this);
    app.CreateForm(*Form2);
    Form3 = std::make_unique<TForm3>(*this);
    app.CreateForm(*Form3);
    Form4 = std::make_unique<TForm4>(*this);
    app.CreateForm(*Form4);
    Form6 = std::make_unique<TForm6>(*this);
    app.CreateForm(*Form6);
    Form7 = std::make_unique<TForm7>(*this);
    app.CreateForm(*Form7);
    Form8 = std::make_unique<TForm8>(*this);
    app.CreateForm(*Form8);
    Form9 = std::make_unique<TForm9>(*this);
    app.CreateForm(*Form9);
    Form10 = std::make_unique<TForm10>(*this);
    app.CreateForm(*Form10);
    Form5 = std::make_unique<TForm5>(*this);
    app.CreateForm(*Form5);
}

int Program::Run()
{
    Start();
    app.Run();
    return 0;
}
