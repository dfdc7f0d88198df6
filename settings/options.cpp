#include "settings/options.h"

#include "app/Program.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"
#include "settings/TForm3.h"

bool OptionsFileExists(const Program& program)
{
    return sys::FileExists(program.PathOf("options.ini"));
}

void readoptions(Program& program)
{
    std::vector<std::string> lines = sys::ReadLines(program.PathOf("options.ini"));
    auto line = [&](size_t i) { return i < lines.size() ? lines[i] : std::string(); };
    TForm3& options = *program.Form3;
    options.Edit1.SetText(line(0));
    options.ComboBox1.SetItemIndex(sys::StrToInt(line(1)));
    options.ComboBox2.SetItemIndex(sys::StrToInt(line(2)));
}

void writeoptions(Program& program)
{
    const TForm3& options = *program.Form3;
    sys::WriteFileAtomic(program.PathOf("options.ini"),
                         options.Edit1.Text() + "\r\n" + std::to_string(options.ComboBox1.ItemIndex()) + "\r\n" +
                             std::to_string(options.ComboBox2.ItemIndex()) + "\r\n");
}
