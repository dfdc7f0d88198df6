#include "settings/registration.h"

#include <string>

#include "app/Program.h"
#include "platform/session/registry.h"
#include "settings/language.h"

namespace {

using session::Registry;

const char* const kMenuExt = "\\Software\\Microsoft\\Internet Explorer\\MenuExt\\&";
const char* const kEnglish = "Add to gsm picture list";
const char* const kFrench = "Ajouter aux images gsm";

// A key that is missing or cannot be deleted is no error.
void DeleteTree(Registry& reg, const std::string& key) { reg.DeleteKey(key); }

// Creates the whole path (failing with an error that names the key), then
// writes the values only if the key can be opened.
template <class Write> void CreateThenWrite(Registry& reg, const std::string& key, Write&& write)
{
    reg.CreateKey(key);
    if (reg.OpenKey(key, false)) {
        write(reg);
        reg.CloseKey();
    }
}

// Replaces the other language's entries by this one's.
void RegisterLanguage(Registry& reg, const std::string& name, const std::string& other, const std::string& page,
                      const std::string& command)
{
    reg.SetRootKey(session::HKEY_CURRENT_USER);
    DeleteTree(reg, kMenuExt + other);
    CreateThenWrite(reg, kMenuExt + name, [&](Registry& r) {
        r.WriteString("", page);
        r.WriteInteger("Contexts", 2);   // the image context menu only
    });
    reg.SetRootKey(session::HKEY_CLASSES_ROOT);
    for (const char* type : {"jpegfile", "Paint.Picture"}) {
        DeleteTree(reg, std::string("\\") + type + "\\shell\\" + other);
        CreateThenWrite(reg, std::string("\\") + type + "\\shell\\" + name + "\\command",
                        [&](Registry& r) { r.WriteString("", command); });
    }
}

} // namespace

void registruc(Program& program)
{
    // The page beside the program, and the program with the clicked file as
    // its argument. The placeholder is not quoted: a path with blanks reaches
    // the program in pieces, which the command-line intake joins again.
    const std::string page = program.PathOf("add.htm");
    const std::string command = "\"" + program.ProgramFile() + "\" %1";
    Registry reg(session::HKEY_CURRENT_USER);
    if (LanguageIndex(program) == 0)
        RegisterLanguage(reg, kEnglish, kFrench, page, command);
    if (LanguageIndex(program) == 1)
        RegisterLanguage(reg, kFrench, kEnglish, page, command);
}
