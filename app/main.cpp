// The program's entry: the windows on the headless model (the desktop
// front-end comes later; VINTREL_UI=headless asks for this model explicitly),
// the loop, and a normal end when the main window closes.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Program.h"
#include "platform/sys/files.h"

int main(int argc, char** argv)
{
    try {
        std::vector<std::string> args(argv, argv + argc);
        Program program(sys::ExecutableFolder(), args);
        ui::CloseMainFormOnTerminationSignals(program.app);
        return program.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vintrel: %s\n", e.what());
        return 1;
    }
}
