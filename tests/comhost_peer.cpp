// The program's part for the automation server's tests, in a process of its
// own.
//
//   comhost_peer receiver [hidden]
//     A main window of class "TvinForm1" (hidden with "hidden") that takes the
//     registered message "Vintrel.WM_NEWDOWNLOAD" as the program does: it reads
//     the atom in wParam into a 255-character buffer and deletes it, then says
//     "download <atom> <text>". Says "ready <window>" first.
//
//   comhost_peer [ARGUMENT...]   (with $COMHOST_PEER_OUTPUT set)
//     A program started by the server: writes its arguments, one a line, to
//     that file (whole, by a rename) and ends.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"
#include "platform/ui/session_link.h"

namespace {

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int RunReceiver(bool hidden)
{
    ui::Application app;
    ui::Form form(app, "vinForm1", "TvinForm1");
    ui::SessionLink link(app);
    app.CreateForm(form);
    unsigned newDownload = session::RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD");
    form.OnMessage = [&](const session::Message& m, std::int64_t&) {
        if (m.msg != newDownload)
            return false;
        char buffer[255];
        auto atom = static_cast<session::ATOM>(m.wParam & 0xFFFF);
        session::GlobalGetAtomName(atom, buffer, sizeof buffer);
        session::GlobalDeleteAtom(atom);
        Say("download " + std::to_string(atom) + " " + buffer);
        return true;
    };
    app.ShowMainForm = !hidden;
    app.Post([&] { Say("ready " + std::to_string(form.Handle)); });
    app.Run();
    return 0;
}

int RecordArguments(const char* output, int argc, char** argv)
{
    std::string part = std::string(output) + ".part";
    {
        std::ofstream f(part, std::ios::binary);
        for (int i = 1; i < argc; ++i)
            f << argv[i] << '\n';
        if (!f)
            return 1;
    }
    return std::rename(part.c_str(), output) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "receiver")
        return RunReceiver(argc == 3 && std::string(argv[2]) == "hidden");
    if (const char* output = std::getenv("COMHOST_PEER_OUTPUT"))
        return RecordArguments(output, argc, argv);
    std::fprintf(stderr, "usage: comhost_peer receiver [hidden] | ARGUMENT... with $COMHOST_PEER_OUTPUT\n");
    return 2;
}
