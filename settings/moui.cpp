#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/TForm10.h"
#include "delivery/TForm9.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "list/TForm6.h"
#include "settings/TForm2.h"
#include "settings/TForm3.h"
#include "settings/language.h"
#include "sharing/TForm7.h"
#include "sharing/TForm8.h"
#include "sharing/imagehost.h"

namespace {

// Where a text of the caption table goes.
struct FirstEntry {      // entry 0 of a list, which stays where it is
    ui::ComboBox* list;
};
struct BodyLines {       // a memo: cleared, then one line per '\n'-separated part
    ui::Memo* memo;
};
// A window's title and every other control's caption or text go through
// Control::SetCaption; menu items have their own.
using Target = std::variant<ui::Control*, ui::MenuItem*, FirstEntry, BodyLines>;

// A text one language leaves alone.
const std::optional<std::string> kUnchanged = std::nullopt;

struct Row {
    Target target;
    std::optional<std::string> english;
    std::optional<std::string> french;
};

std::vector<Row> CaptionTable(Program& p)
{
    TvinForm1& f1 = *p.vinForm1;
    TForm2& f2 = *p.Form2;
    TForm3& f3 = *p.Form3;
    TForm4& f4 = *p.Form4;
    TForm5& f5 = *p.Form5;
    TForm6& f6 = *p.Form6;
    TForm7& f7 = *p.Form7;
    TForm8& f8 = *p.Form8;
    TForm9& f9 = *p.Form9;
    TForm10& f10 = *p.Form10;
    const std::string host = ImageHostDomain();

    return {
        // Main window: buttons, context menu, tray menu.
        {&f1.JvXPButton1, "Search Picture", "Chercher image"},
        {&f1.JvXPButton3, "+", "+"},
        {&f1.JvXPButton2, "-", "-"},
        {&f1.JvXPButton7, "Tools", "Outils"},
        {&f1.JvXPButton6, "Colors", "Couleurs"},
        {&f1.Delete1, "Delete", "Effacer"},
        {&f1.Use1, "Load on Gsm !", "Envoyer sur le portable !"},
        {&f1.Copy1, "Copy", "Copier"},
        {&f1.Copylink1, "Copy link", "Copier lien"},
        {&f1.Copyforforum1, "Copy for forum", "Copier pour forum"},
        {&f1.Copyforwebsite1, "Copy for website", "Copier pour site web"},
        {&f1.imagehost1, "On " + host + " ", "Sur " + host + " "},
        {&f1.Openimagehostwebsite1, "Open " + host + " website", "Aller sur " + host},
        {&f1.Copylink2, "If the link is hosted on " + host + ":", "Si le lien est sur " + host + ":"},
        {&f1.forWebsites1, "Copy for Websites", "Copier pour sites web"},
        {&f1.forforums1, "Copy for forums 1", "Copier pour forum 1"},
        {&f1.Forforums21, "Copy for forums 2", "Copier pour forum 2"},
        {&f1.Youneedtopastedirectlinktoimageonly1, "And if not:", "Et sinon"},
        {&f1.Upload1, "Upload/Transload to " + host, "Charger/Transcharger sur " + host},
        {&f1.Addweblink1, "Add a weblink", "Ajouter un lien web"},
        {&f1.Addalocalfile1, "Add a local file", "Ajouter un fichier local"},
        {&f1.SetasWallpaper1, "Set as Wallpaper", "Mettre en fond d'ecran"},
        {&f1.truc1, "Show", "Ouvrir"},
        {&f1.chouette1, "Close", "Fermer"},

        // Options.
        {&f3.Button1, "Save", "Sauver"},
        {&f3.Button2, "Close", "Fermer"},
        {&f3.GroupBox1, "Phone number", "Numéro de téléphone"},
        {FirstEntry{&f3.ComboBox1}, "[- Choose your mobile -]", "[- Choisi ton mobile -]"},

        // Colour panel. Its painted title bar keeps its own text; this is the
        // window text behind it.
        {&f2, "color panel", "Options de couleurs"},
        {&f2.Button1, "Save", "Sauve"},
        {&f2.Button4, "Use", "Charge"},
        {&f2.RadioButton1, "Background", "Fond"},
        {&f2.RadioButton2, "Screen", "Ecran"},
        {&f2.RadioButton3, "List", "Liste"},

        // Enter address.
        {&f4, "Enter the url of your picture", "Entrez l adresse de l image"},
        {&f4.Button2, "Close", "Fermer"},

        // Remote selector.
        {&f5.Button1, "Back", "Retour"},
        {&f5.Button2, "Forward", "Suivant"},
        {&f5.Button5, "Home", "démarrage"},
        {&f5.Button4, "Set home", "Selection démarrage"},
        {&f5.CheckBox1, "Check this box to select a picture",
         "Cochez cette case et sélectionnez une image"},

        // Choose file.
        {&f6.Label1, "Choose a file to use the software", "Choisi un fichier pour le logiciel"},
        {&f6.JvXPButton1, "Choose file on disk", "Choisi un fichier local"},
        {&f6.JvXPButton2, "Choose remote file", "Choisi un fichier sur le net"},

        // Tools. English names the window after the mail frame, French renames
        // the frame instead, so neither undoes the other.
        {&f7, "Send to your friend", kUnchanged},
        {&f7.GroupBox2, kUnchanged, "Envoie à tes amis"},
        {&f7.Label5, "Subject", "Sujet"},
        {&f7.Edit2, "My new picture", "Mon portable"},
        {BodyLines{&f7.RichEdit1},
         "Hello,\n"
         "I have just changed the picture of my gsm.\n"
         "I uploaded the following picture:",
         "Salut,\n"
         "Je viens de changer mon image sur mon portable.\n"
         "J ai chagé l image suivante:\n"
         "(ca fait un peu too much comme message, non ?)"},
        {&f7.CheckBox1, "Append picture url", "Ajouter le lien image"},
        {&f7.GroupBox1, "Get a ringtone or pictures", "Pour une sonnerie ou une image"},
        {&f7.JvXPButton1, "Go online", "Aller en line"},
        {&f7.JvXPButton2, "close", "fermer"},
        {&f7.JvXPButton3, "send", "envoi"},

        // Mail list.
        {&f8, "Mail list", "Liste de mails"},
        {&f8.Button1, "Add", "Ajout"},
        {&f8.Button2, "Remove line", "Effacer ligne"},
        {&f8.Button3, "Close", "fermer"},

        // Ready to send.
        {&f9, "Ready to send", "Pret à envoyer"},

        // Bmp to jpg.
        {&f10.Button1, "load", "charge"},
        {&f10.Button2, "save", "sauve"},
    };
}

void SetText(const Target& target, const std::string& text)
{
    std::visit(
        [&text](auto&& t) {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, FirstEntry>) {
                std::vector<std::string> items = t.list->Items();
                if (items.empty())
                    return;
                const int selected = t.list->ItemIndex();
                items[0] = text;
                t.list->SetItems(std::move(items));
                t.list->SetItemIndex(selected);
            } else if constexpr (std::is_same_v<T, BodyLines>) {
                t.memo->SetLines({});
                std::string::size_type start = 0;
                for (;;) {
                    const auto end = text.find('\n', start);
                    t.memo->AddLine(text.substr(start, end - start));
                    if (end == std::string::npos)
                        break;
                    start = end + 1;
                }
            } else {
                t->SetCaption(text);
            }
        },
        target);
}

void ApplyColumn(const std::vector<Row>& table, std::optional<std::string> Row::*column)
{
    for (const Row& row : table)
        if (const auto& text = row.*column)
            SetText(row.target, *text);
}

} // namespace

void moui(Program& program)
{
    const std::vector<Row> table = CaptionTable(program);
    // Two separate tests: an index that is neither 0 nor 1 sets no text.
    if (LanguageIndex(program) == 0)
        ApplyColumn(table, &Row::english);
    if (LanguageIndex(program) == 1)
        ApplyColumn(table, &Row::french);
    // Every switch drops the model choice back to the placeholder.
    program.Form3->ComboBox1.SetItemIndex(0);
}
