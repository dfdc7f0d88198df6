// The program's entry: the windows (on the desktop when there is one, else on
// the headless model; VINTREL_UI chooses), the loop, and a normal end when the
// main window closes.
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
        program.frontEnd = ui::ChooseFrontEnd();
        ui::CloseMainFormOnTerminationSignals(program.app);
        return program.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vintrel: %s\n", e.what());
        return 1;
    }
}
