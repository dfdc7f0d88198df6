#include "settings/language.h"

#include "app/Program.h"
#include "settings/TForm3.h"

int LanguageIndex(const Program& program)
{
    return program.Form3->ComboBox2.ItemIndex();
}

std::optional<std::string> ByLanguage(const Program& program, const std::string& english,
                                      const std::string& french)
{
    std::optional<std::string> text;
    if (LanguageIndex(program) == 0)
        text = english;
    if (LanguageIndex(program) == 1)
        text = french;
    return text;
}

void ShowLanguageMessage(Program& program, const std::string& english, const std::string& french)
{
    if (auto text = ByLanguage(program, english, french))
        program.app.ShowMessage(*text);
}
