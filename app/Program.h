#pragma once
// The program: the application object and the ten windows, created once at
// start in a fixed order and reachable from each other through here.
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/application.h"
#include "platform/ui/frontend.h"

namespace ui {
class SessionLink;
}
namespace automation {
class Server;
}

class TvinForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;
class TForm10;

class Program {
public:
    // `folder` is the program folder (where the list, options and colour files
    // live); `args` the command line, the program path first.
    Program(std::string folder, std::vector<std::string> args);
    ~Program();

    // Connects to the session and creates the windows: the main window
    // (whose creation handler runs first), then the others, hidden, in order.
    void Start();
    // Start, then the loop until the main window closes; every window is
    // destroyed at its end.
    int Run();

    // A file of the program folder by name.
    std::string PathOf(const std::string& name) const { return folder + "/" + name; }
    // The program file: its name as started, in the program folder.
    std::string ProgramFile() const;

    ui::Application app;
    // The windows' front-end, installed once the single-instance guard has
    // let this copy go on (a second start that hands over and ends shows none).
    ui::FrontEnd frontEnd = ui::FrontEnd::Headless;
    const std::string folder;
    const std::vector<std::string> args;

    std::unique_ptr<ui::SessionLink> sessionLink;
    std::unique_ptr<automation::Server> automationServer;

    // The windows, in the order they are created.
    std::unique_ptr<TvinForm1> vinForm1;
    std::unique_ptr<TForm2> Form2;     // colour panel
    std::unique_ptr<TForm3> Form3;     // options
    std::unique_ptr<TForm4> Form4;     // enter address
    std::unique_ptr<TForm6> Form6;     // choose file
    std::unique_ptr<TForm7> Form7;     // tools
    std::unique_ptr<TForm8> Form8;     // mail list
    std::unique_ptr<TForm9> Form9;     // ready to send
    std::unique_ptr<TForm10> Form10;   // bmp to jpg
    std::unique_ptr<TForm5> Form5;     // remote selector
};
