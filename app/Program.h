#pragma once
// The program: the application object and the windows, created once and
// reachable from each other through here.
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/application.h"

class TvinForm1;

class Program {
public:
    // `folder` is the program folder (where the list, options and colour files
    // live); `args` the command line, the program path first.
    Program(std::string folder, std::vector<std::string> args);
    ~Program();

    // Creates the windows and runs the loop until the main window closes.
    int Run();

    ui::Application app;
    const std::string folder;
    const std::vector<std::string> args;

    std::unique_ptr<TvinForm1> vinForm1;
};
