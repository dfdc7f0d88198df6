// The language switch: every caption it sets in English and in French, the
// texts it must leave alone, and the phone model list it resets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
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
#include "test_support.h"

namespace {

constexpr int kEnglish = 0;
constexpr int kFrench = 1;
constexpr int kDesign = -100;   // no switch has run yet

// A host name no build uses by default, so the menu texts below can only come
// from the image host client's domain.
constexpr const char* kHost = "img.vintrel.test";

const std::optional<std::string> kUnchanged = std::nullopt;

// One text the switch sets. `control` is a control or menu item name, "" for
// the window's title, "ComboBox1[0]" for the model list's first entry. A memo
// reads as its lines joined with '\n'.
struct Caption {
    const char* window;
    const char* control;
    std::optional<std::string> english;
    std::optional<std::string> french;
};

const std::vector<Caption>& Captions()
{
    static const std::vector<Caption> table = {
        {"vinForm1", "JvXPButton1", "Search Picture", "Chercher image"},
        {"vinForm1", "JvXPButton3", "+", "+"},
        {"vinForm1", "JvXPButton2", "-", "-"},
        {"vinForm1", "JvXPButton7", "Tools", "Outils"},
        {"vinForm1", "JvXPButton6", "Colors", "Couleurs"},
        {"vinForm1", "Delete1", "Delete", "Effacer"},
        {"vinForm1", "Use1", "Load on Gsm !", "Envoyer sur le portable !"},
        {"vinForm1", "Copy1", "Copy", "Copier"},
        {"vinForm1", "Copylink1", "Copy link", "Copier lien"},
        {"vinForm1", "Copyforforum1", "Copy for forum", "Copier pour forum"},
        {"vinForm1", "Copyforwebsite1", "Copy for website", "Copier pour site web"},
        {"vinForm1", "imagehost1", "On img.vintrel.test ", "Sur img.vintrel.test "},
        {"vinForm1", "Openimagehostwebsite1", "Open img.vintrel.test website",
         "Aller sur img.vintrel.test"},
        {"vinForm1", "Copylink2", "If the link is hosted on img.vintrel.test:",
         "Si le lien est sur img.vintrel.test:"},
        {"vinForm1", "forWebsites1", "Copy for Websites", "Copier pour sites web"},
        {"vinForm1", "forforums1", "Copy for forums 1", "Copier pour forum 1"},
        {"vinForm1", "Forforums21", "Copy for forums 2", "Copier pour forum 2"},
        {"vinForm1", "Youneedtopastedirectlinktoimageonly1", "And if not:", "Et sinon"},
        {"vinForm1", "Upload1", "Upload/Transload to img.vintrel.test",
         "Charger/Transcharger sur img.vintrel.test"},
        {"vinForm1", "Addweblink1", "Add a weblink", "Ajouter un lien web"},
        {"vinForm1", "Addalocalfile1", "Add a local file", "Ajouter un fichier local"},
        {"vinForm1", "SetasWallpaper1", "Set as Wallpaper", "Mettre en fond d'ecran"},
        {"vinForm1", "truc1", "Show", "Ouvrir"},
        {"vinForm1", "chouette1", "Close", "Fermer"},

        {"Form3", "Button1", "Save", "Sauver"},
        {"Form3", "Button2", "Close", "Fermer"},
        {"Form3", "GroupBox1", "Phone number", "Numéro de téléphone"},
        {"Form3", "ComboBox1[0]", "[- Choose your mobile -]", "[- Choisi ton mobile -]"},

        {"Form2", "", "color panel", "Options de couleurs"},
        {"Form2", "Button1", "Save", "Sauve"},
        {"Form2", "Button4", "Use", "Charge"},
        {"Form2", "RadioButton1", "Background", "Fond"},
        {"Form2", "RadioButton2", "Screen", "Ecran"},
        {"Form2", "RadioButton3", "List", "Liste"},

        {"Form4", "", "Enter the url of your picture", "Entrez l adresse de l image"},
        {"Form4", "Button2", "Close", "Fermer"},

        {"Form5", "Button1", "Back", "Retour"},
        {"Form5", "Button2", "Forward", "Suivant"},
        {"Form5", "Button5", "Home", "démarrage"},
        {"Form5", "Button4", "Set home", "Selection démarrage"},
        {"Form5", "CheckBox1", "Check this box to select a picture",
         "Cochez cette case et sélectionnez une image"},

        {"Form6", "Label1", "Choose a file to use the software", "Choisi un fichier pour le logiciel"},
        {"Form6", "JvXPButton1", "Choose file on disk", "Choisi un fichier local"},
        {"Form6", "JvXPButton2", "Choose remote file", "Choisi un fichier sur le net"},

        {"Form7", "", "Send to your friend", kUnchanged},
        {"Form7", "GroupBox2", kUnchanged, "Envoie à tes amis"},
        {"Form7", "Label5", "Subject", "Sujet"},
        {"Form7", "Edit2", "My new picture", "Mon portable"},
        {"Form7", "RichEdit1",
         "Hello,\nI have just changed the picture of my gsm.\nI uploaded the following picture:",
         "Salut,\nJe viens de changer mon image sur mon portable.\nJ ai chagé l image suivante:\n"
         "(ca fait un peu too much comme message, non ?)"},
        {"Form7", "CheckBox1", "Append picture url", "Ajouter le lien image"},
        {"Form7", "GroupBox1", "Get a ringtone or pictures", "Pour une sonnerie ou une image"},
        {"Form7", "JvXPButton1", "Go online", "Aller en line"},
        {"Form7", "JvXPButton2", "close", "fermer"},
        {"Form7", "JvXPButton3", "send", "envoi"},

        {"Form8", "", "Mail list", "Liste de mails"},
        {"Form8", "Button1", "Add", "Ajout"},
        {"Form8", "Button2", "Remove line", "Effacer ligne"},
        {"Form8", "Button3", "Close", "fermer"},

        {"Form9", "", "Ready to send", "Pret à envoyer"},

        {"Form10", "Button1", "load", "charge"},
        {"Form10", "Button2", "save", "sauve"},
    };
    return table;
}

// Texts that read the same whatever the language.
struct Fixed {
    const char* window;
    const char* control;
    const char* text;
};

const std::vector<Fixed>& FixedTexts()
{
    static const std::vector<Fixed> table = {
        {"vinForm1", "JvXPButton4", "2gsm"},
        {"vinForm1", "JvXPButton5", "Options"},
        {"vinForm1", "JvXPButton8", "H"},
        {"vinForm1", "JvXPButton9", "s"},
        {"vinForm1", "ListView1#0", "Name"},
        {"vinForm1", "ListView1#1", "Path"},
        {"Form3", "", "Options"},
        {"Form3", "ComboBox2", "English\nFrançais"},
        {"Form2", "Button2", "Ok"},
        {"Form2", "Button3", "Reinit"},
        {"Form2", "Button5", "Reset"},
        {"Form4", "Button1", "Ok"},
        {"Form5", "", "Remote selector"},
        {"Form5", "Label1", "Url"},
        {"Form5", "Button3", "Go"},
        {"Form5", "Button6", "Stop"},
        {"Form7", "Label1", "(sponsor)"},
        {"Form7", "Label4", "Body"},
        {"Form7", "Button1", "Mail"},
        {"Form10", "", "bmp to jpg"},
    };
    return table;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\n" : "") + lines[i];
    return out;
}

ui::Form& Window(Program& p, const std::string& name)
{
    static const std::map<std::string, ui::Form* (*)(Program&)> windows = {
        {"vinForm1", [](Program& q) -> ui::Form* { return q.vinForm1.get(); }},
        {"Form2", [](Program& q) -> ui::Form* { return q.Form2.get(); }},
        {"Form3", [](Program& q) -> ui::Form* { return q.Form3.get(); }},
        {"Form4", [](Program& q) -> ui::Form* { return q.Form4.get(); }},
        {"Form5", [](Program& q) -> ui::Form* { return q.Form5.get(); }},
        {"Form6", [](Program& q) -> ui::Form* { return q.Form6.get(); }},
        {"Form7", [](Program& q) -> ui::Form* { return q.Form7.get(); }},
        {"Form8", [](Program& q) -> ui::Form* { return q.Form8.get(); }},
        {"Form9", [](Program& q) -> ui::Form* { return q.Form9.get(); }},
        {"Form10", [](Program& q) -> ui::Form* { return q.Form10.get(); }},
    };
    return *windows.at(name)(p);
}

// What a window shows for a control of the tables above.
std::string Read(Program& p, const std::string& window, const std::string& control)
{
    ui::Form& form = Window(p, window);
    if (control.empty())
        return form.Caption();
    if (control == "ComboBox1[0]") {
        const auto& items = p.Form3->ComboBox1.Items();
        return items.empty() ? "<empty list>" : items[0];
    }
    if (control.starts_with("ListView1#")) {
        const auto& columns = p.vinForm1->ListView1.Columns();
        const size_t i = std::stoul(control.substr(10));
        return i < columns.size() ? columns[i].Caption : "<no column>";
    }
    if (ui::MenuItem* item = form.FindMenuItem(control))
        return item->Caption();
    ui::Control* c = form.FindControl(control);
    if (!c || c == &form)
        return "<no control " + control + ">";
    if (auto* memo = dynamic_cast<ui::Memo*>(c))
        return Joined(memo->Lines());
    if (auto* list = dynamic_cast<ui::ComboBox*>(c))
        return Joined(list->Items());
    return c->Caption();
}

const char* LanguageName(int index)
{
    switch (index) {
    case kDesign: return "Design";
    case kEnglish: return "English";
    case kFrench: return "French";
    default: return "None";
    }
}

class LanguageSwitch : public ::testing::Test {
protected:
    LanguageSwitch()
    {
        if (const char* old = std::getenv("VINTREL_IMAGEHOST_HOST"))
            m_savedHost = old;
        setenv("VINTREL_IMAGEHOST_HOST", kHost, 1);
        program = std::make_unique<Program>(env.dir().path(), std::vector<std::string>{"vintrel"});
        program->Start();
        // The model catalogue may not be loaded here; a short list stands in.
        if (program->Form3->ComboBox1.Items().empty())
            program->Form3->ComboBox1.SetItems(
                {"[- Choose your mobile -]", "Alcatel OT 535", "Nokia 3310", "Sagem MyX5"});
    }
    ~LanguageSwitch() override
    {
        program.reset();
        if (m_savedHost)
            setenv("VINTREL_IMAGEHOST_HOST", m_savedHost->c_str(), 1);
        else
            unsetenv("VINTREL_IMAGEHOST_HOST");
    }

    void Switch(int index)
    {
        program->Form3->ComboBox2.SetItemIndex(index);
        moui(*program);
    }

    std::vector<std::string> ReadAllCaptions()
    {
        std::vector<std::string> out;
        for (const Caption& c : Captions())
            out.push_back(Read(*program, c.window, c.control));
        return out;
    }

    testing_support::IsolatedEnvironment env;
    std::unique_ptr<Program> program;

private:
    std::optional<std::string> m_savedHost;
};

// ---- every text of both columns ---------------------------------------------

struct Sequence {
    int before;   // kDesign, or the language switched to first
    int after;
};

void PrintTo(const Sequence& s, std::ostream* os)
{
    *os << LanguageName(s.before) << " then " << LanguageName(s.after);
}

class LanguageColumns : public LanguageSwitch, public ::testing::WithParamInterface<Sequence> {};

// Each cell is set by its column; an unchanged cell keeps what it read before,
// whether that is the design text or the other language's.
TEST_P(LanguageColumns, SetsEveryTextOfTheColumnAndKeepsUnchangedCells)
{
    const Sequence s = GetParam();
    if (s.before != kDesign)
        Switch(s.before);
    const std::vector<std::string> before = ReadAllCaptions();

    Switch(s.after);

    for (size_t i = 0; i < Captions().size(); ++i) {
        const Caption& c = Captions()[i];
        SCOPED_TRACE(std::string(c.window) + "." + (*c.control ? c.control : "<title>"));
        const std::optional<std::string>& cell = s.after == kEnglish ? c.english : c.french;
        EXPECT_EQ(Read(*program, c.window, c.control), cell.value_or(before[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    , LanguageColumns,
    ::testing::Values(Sequence{kDesign, kEnglish}, Sequence{kDesign, kFrench},
                      Sequence{kFrench, kEnglish}, Sequence{kEnglish, kFrench},
                      Sequence{kFrench, kFrench}),
    [](const ::testing::TestParamInfo<Sequence>& info) {
        return std::string(LanguageName(info.param.before)) + "Then" +
               LanguageName(info.param.after);
    });

TEST_F(LanguageSwitch, TextsOutsideTheTableReadTheSameInBothLanguages)
{
    for (int index : {kDesign, kFrench, kEnglish, kFrench}) {
        if (index != kDesign)
            Switch(index);
        for (const Fixed& f : FixedTexts()) {
            SCOPED_TRACE(std::string(LanguageName(index)) + " " + f.window + "." + f.control);
            EXPECT_EQ(Read(*program, f.window, f.control), f.text);
        }
    }
}

TEST_F(LanguageSwitch, MainWindowTitleIsNotTranslated)
{
    const std::string title = program->vinForm1->Caption();
    Switch(kFrench);
    EXPECT_EQ(program->vinForm1->Caption(), title);
    Switch(kEnglish);
    EXPECT_EQ(program->vinForm1->Caption(), title);
}

// ---- the cases users run into --------------------------------------------------

TEST_F(LanguageSwitch, FrenchReachesHiddenWindowsAndReplacesWhatTheUserTyped)
{
    TForm2& colours = *program->Form2;
    TForm7& tools = *program->Form7;
    ASSERT_FALSE(colours.Visible());
    ASSERT_FALSE(tools.Visible());
    tools.Edit2.SetText("look at this");
    tools.RichEdit1.SetLines({"typed by the user"});
    program->Form3->ComboBox1.SetItemIndex(2);

    Switch(kFrench);

    EXPECT_EQ(colours.RadioButton1.Caption(), "Fond");
    EXPECT_EQ(colours.RadioButton2.Caption(), "Ecran");
    EXPECT_EQ(colours.RadioButton3.Caption(), "Liste");
    EXPECT_EQ(tools.Edit2.Text(), "Mon portable");
    EXPECT_EQ(tools.RichEdit1.Lines(),
              (std::vector<std::string>{"Salut,", "Je viens de changer mon image sur mon portable.",
                                        "J ai chagé l image suivante:",
                                        "(ca fait un peu too much comme message, non ?)"}));
    EXPECT_EQ(program->Form3->ComboBox1.ItemIndex(), 0);
    EXPECT_EQ(program->Form3->ComboBox1.Items()[0], "[- Choisi ton mobile -]");
    // The switch sets texts; it shows nothing.
    EXPECT_FALSE(colours.Visible());
    EXPECT_FALSE(tools.Visible());
}

TEST_F(LanguageSwitch, EnglishAfterFrenchRenamesToolsWindowAndKeepsFrenchFrame)
{
    Switch(kFrench);
    Switch(kEnglish);
    EXPECT_EQ(program->Form7->Caption(), "Send to your friend");
    EXPECT_EQ(program->Form7->GroupBox2.Caption(), "Envoie à tes amis");
}

TEST_F(LanguageSwitch, EnglishAtStartChangesTheDesignTextsThatDiffer)
{
    TForm7& tools = *program->Form7;
    ASSERT_EQ(program->Form2->Caption(), "Color panel");
    ASSERT_EQ(tools.Caption(), "Tools for nothing");
    ASSERT_EQ(tools.JvXPButton3.Caption(), "Send");
    ASSERT_EQ(program->Form5->Button4.Caption(), "Set home ");
    ASSERT_EQ(tools.RichEdit1.Lines(),
              (std::vector<std::string>{"Hello,", "I have just changed the picture of my gsm. ",
                                        "I uploaded the following picture:", "", ""}));

    Switch(kEnglish);

    EXPECT_EQ(program->Form2->Caption(), "color panel");
    EXPECT_EQ(tools.Caption(), "Send to your friend");
    EXPECT_EQ(tools.JvXPButton3.Caption(), "send");
    EXPECT_EQ(program->Form5->Button4.Caption(), "Set home");
    EXPECT_EQ(tools.RichEdit1.Lines(),
              (std::vector<std::string>{"Hello,", "I have just changed the picture of my gsm.",
                                        "I uploaded the following picture:"}));
}

// An index that is neither English nor French sets no text at all, over the
// design texts or over an earlier switch.
TEST_F(LanguageSwitch, NoLanguageLeavesEveryTextAlone)
{
    struct Case {
        int earlier;
        int index;
    };
    for (Case c : {Case{kDesign, 2}, Case{kDesign, -1}, Case{kFrench, -1}, Case{kEnglish, 2}}) {
        SCOPED_TRACE(std::string("after ") + LanguageName(c.earlier) + ", index " +
                     std::to_string(c.index));
        if (c.earlier != kDesign)
            Switch(c.earlier);
        const std::vector<std::string> before = ReadAllCaptions();
        Switch(c.index);
        EXPECT_EQ(program->Form3->ComboBox2.ItemIndex(), -1);
        EXPECT_EQ(ReadAllCaptions(), before);
    }
}

// ---- the phone model list ----------------------------------------------------

TEST_F(LanguageSwitch, EveryIndexSelectsThePlaceholderAndKeepsTheOtherEntries)
{
    struct Case {
        int index;
        const char* placeholder;
    };
    const Case cases[] = {
        {kEnglish, "[- Choose your mobile -]"},
        {kFrench, "[- Choisi ton mobile -]"},
        {2, "[- Choose your mobile -]"},
        {-1, "[- Choose your mobile -]"},
    };
    ui::ComboBox& models = program->Form3->ComboBox1;
    const std::vector<std::string> design = models.Items();
    ASSERT_GE(design.size(), 3u);
    for (const Case& c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.index));
        Switch(kEnglish);   // the design placeholder again
        models.SetItemIndex(2);

        Switch(c.index);

        EXPECT_EQ(models.ItemIndex(), 0);
        std::vector<std::string> expected = design;
        expected[0] = c.placeholder;
        EXPECT_EQ(models.Items(), expected);
        // The language list itself keeps the pick.
        EXPECT_EQ(program->Form3->ComboBox2.ItemIndex(), c.index == 2 ? -1 : c.index);
    }
}

TEST_F(LanguageSwitch, EmptyModelListStaysEmpty)
{
    ui::ComboBox& models = program->Form3->ComboBox1;
    models.SetItems({});
    Switch(kFrench);
    EXPECT_TRUE(models.Items().empty());
    EXPECT_EQ(models.ItemIndex(), -1);
    // The rest of the switch still ran.
    EXPECT_EQ(program->Form3->Button1.Caption(), "Sauver");
}

} // namespace
