// The colour panel: the colour-picker control on its own, then the panel's
// swatches, buttons and colour file with the main window they colour.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <csignal>
#include <dirent.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/ui/gammapanel.h"
#include "settings/TForm2.h"
#include "settings/colorfile.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;
using ui::MouseButton;
using ui::TColor;

namespace {

// ---- The picker on its own ---------------------------------------------------

struct Change {
    TColor foreground, background;        // as the event hands them over
    TColor heldForeground, heldBackground; // as the control holds them then
    bool operator==(const Change&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Change& c)
{
    return os << "{" << c.foreground << ", " << c.background << " / " << c.heldForeground << ", " << c.heldBackground << "}";
}

struct Picker {
    ui::Application app;
    ui::Form form{app, "Form1", "TForm1"};
    ui::GammaPanel panel{&form, "JvGammaPanel1"};
    std::vector<Change> changes;

    Picker()
    {
        panel.SetBounds(16, 8, 65, 250);
        panel.OnChangeColor = [this](TColor fg, TColor bg) {
            changes.push_back({fg, bg, panel.ForegroundColor(), panel.BackgroundColor()});
        };
    }
    TColor Chart(int x, int y) const { return panel.ChartColorAt(x, y).value(); }
};

int Red(TColor c) { return c & 0xFF; }
int Green(TColor c) { return (c >> 8) & 0xFF; }
int Blue(TColor c) { return (c >> 16) & 0xFF; }

TEST(GammaPanel, ChartFadesEachHueFromWhiteToBlack)
{
    Picker p;
    const ui::GammaPanel::Area chart = p.panel.ChartArea();
    ASSERT_GT(chart.height, 100);
    const int mid = (chart.height - 1) / 2;
    for (int x = 0; x < chart.width; ++x) {
        SCOPED_TRACE("column " + std::to_string(x));
        EXPECT_EQ(p.Chart(x, 0), ui::clWhite);
        EXPECT_EQ(p.Chart(x, chart.height - 1), ui::clBlack);
        // Half way down every colour is a pure hue: one channel full, one empty.
        TColor pure = p.Chart(x, mid);
        EXPECT_EQ(std::max({Red(pure), Green(pure), Blue(pure)}), 255);
        EXPECT_EQ(std::min({Red(pure), Green(pure), Blue(pure)}), 0);
        // Each channel only darkens going down.
        for (int y = 1; y < chart.height; ++y) {
            TColor above = p.Chart(x, y - 1), here = p.Chart(x, y);
            ASSERT_TRUE(Red(here) <= Red(above) && Green(here) <= Green(above) && Blue(here) <= Blue(above))
                << "at y " << y << ": " << here << " below " << above;
            ASSERT_FALSE(ui::IsSystemColor(here));
        }
    }
    // The hue goes once round the circle from red, left to right.
    EXPECT_EQ(p.Chart(0, mid), ui::RGB(255, 0, 0));
    const TColor third = p.Chart(chart.width / 3, mid), twoThirds = p.Chart(2 * chart.width / 3, mid);
    EXPECT_EQ(Green(third), 255) << third;
    EXPECT_EQ(Blue(twoThirds), 255) << twoThirds;
    const TColor last = p.Chart(chart.width - 1, mid);
    EXPECT_EQ(Red(last), 255) << last;
    EXPECT_EQ(Green(last), 0) << last;
}

TEST(GammaPanel, PartsLieInsideAndApartAtAnySize)
{
    Picker p;
    for (auto [w, h] : {std::pair{65, 250}, std::pair{120, 400}, std::pair{56, 61}}) {
        SCOPED_TRACE(std::to_string(w) + " by " + std::to_string(h));
        p.panel.SetBounds(0, 0, w, h);
        using Area = ui::GammaPanel::Area;
        const Area parts[] = {p.panel.ChartArea(), p.panel.ForegroundSwatchArea(), p.panel.BackgroundSwatchArea(),
                              p.panel.SwapArea()};
        for (const Area& a : parts) {
            EXPECT_GT(a.width, 0);
            EXPECT_GT(a.height, 0);
            EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.left + a.width <= w && a.top + a.height <= h);
        }
        for (size_t i = 0; i < std::size(parts); ++i)
            for (size_t j = i + 1; j < std::size(parts); ++j) {
                const Area &a = parts[i], &b = parts[j];
                bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                             a.top + a.height <= b.top || b.top + b.height <= a.top;
                EXPECT_TRUE(apart) << "parts " << i << " and " << j << " overlap";
            }
        // The chart answers exactly over its own area.
        const Area chart = p.panel.ChartArea();
        EXPECT_TRUE(p.panel.ChartColorAt(chart.width - 1, chart.height - 1).has_value());
        for (auto [x, y] : {std::pair{-1, 0}, std::pair{0, -1}, std::pair{chart.width, 0}, std::pair{0, chart.height}})
            EXPECT_FALSE(p.panel.ChartColorAt(x, y).has_value()) << x << "," << y;
    }
}

TEST(GammaPanel, PressesOnThePanel)
{
    // Starting from black on white, one press each.
    constexpr TColor kDialog = ui::RGB(1, 2, 3);
    enum Where { Chart, Readout, ForegroundSwatch, BackgroundSwatch, SwapControl };
    struct Case {
        const char* name;
        Where where;
        MouseButton button;
        std::optional<ui::DialogAnswer> answer;
        bool enabled;
        // Expected: colours afterwards (-1: the chart's colour at the press).
        TColor foreground, background;
        bool changed;
        const char* dialog;   // the dialog: "ok", "cancelled", or nullptr for none shown
    };
    const Case cases[] = {
        {"left on the chart", Chart, MouseButton::Left, {}, true, -1, ui::clWhite, true, nullptr},
        {"right on the chart", Chart, MouseButton::Right, {}, true, ui::clBlack, -1, true, nullptr},
        {"middle on the chart", Chart, MouseButton::Middle, {}, true, ui::clBlack, ui::clWhite, false, nullptr},
        {"on the readout", Readout, MouseButton::Left, {}, true, ui::clBlack, ui::clWhite, false, nullptr},
        {"swap", SwapControl, MouseButton::Left, {}, true, ui::clWhite, ui::clBlack, true, nullptr},
        {"swap with the right button", SwapControl, MouseButton::Right, {}, true, ui::clBlack, ui::clWhite, false, nullptr},
        {"foreground swatch, OK", ForegroundSwatch, MouseButton::Left, ui::ColorAnswer{kDialog}, true, kDialog,
         ui::clWhite, true, "ok"},
        {"background swatch, OK", BackgroundSwatch, MouseButton::Left, ui::ColorAnswer{kDialog}, true, ui::clBlack,
         kDialog, true, "ok"},
        {"foreground swatch, cancelled", ForegroundSwatch, MouseButton::Left, ui::CancelAnswer{}, true, ui::clBlack,
         ui::clWhite, false, "cancelled"},
        {"background swatch, right button", BackgroundSwatch, MouseButton::Right, {}, true, ui::clBlack, ui::clWhite,
         false, nullptr},
        {"disabled, on the chart", Chart, MouseButton::Left, {}, false, ui::clBlack, ui::clWhite, false, nullptr},
        {"disabled, swap", SwapControl, MouseButton::Left, {}, false, ui::clBlack, ui::clWhite, false, nullptr},
        {"disabled, swatch", ForegroundSwatch, MouseButton::Left, ui::ColorAnswer{kDialog}, false, ui::clBlack,
         ui::clWhite, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picker p;
        EXPECT_EQ(p.panel.ForegroundColor(), ui::clBlack);
        EXPECT_EQ(p.panel.BackgroundColor(), ui::clWhite);
        p.panel.SetEnabled(c.enabled);
        if (c.answer)
            p.app.QueueAnswer(*c.answer);
        auto centre = [](const ui::GammaPanel::Area& a) { return std::pair{a.left + a.width / 2, a.top + a.height / 2}; };
        const ui::GammaPanel::Area chart = p.panel.ChartArea();
        auto [x, y] = c.where == Chart              ? std::pair{chart.width / 3, chart.height / 2}
                      : c.where == Readout          ? std::pair{chart.width / 2, chart.height + 4}
                      : c.where == ForegroundSwatch ? centre(p.panel.ForegroundSwatchArea())
                      : c.where == BackgroundSwatch ? centre(p.panel.BackgroundSwatchArea())
                                                    : centre(p.panel.SwapArea());
        const TColor picked = p.panel.ChartColorAt(x, y).value_or(-1);
        p.panel.MouseDown(x, y, c.button);

        const TColor fg = c.foreground == -1 ? picked : c.foreground;
        const TColor bg = c.background == -1 ? picked : c.background;
        EXPECT_EQ(p.panel.ForegroundColor(), fg);
        EXPECT_EQ(p.panel.BackgroundColor(), bg);
        if (c.changed)
            EXPECT_EQ(p.changes, (std::vector<Change>{{fg, bg, fg, bg}}));
        else
            EXPECT_TRUE(p.changes.empty());
        ASSERT_EQ(p.app.Shown().size(), c.dialog ? 1u : 0u);
        if (c.dialog) {
            EXPECT_EQ(p.app.Shown()[0].kind, "color");
            EXPECT_EQ(p.app.Shown()[0].result, c.dialog == std::string("ok") ? std::to_string(kDialog) : c.dialog);
        }
    }
}

TEST(GammaPanel, EveryPickAndSwapIsReported)
{
    Picker p;
    const TColor red = p.Chart(0, 94), pale = p.Chart(30, 10);
    EXPECT_TRUE(p.panel.PickAt(0, 94, MouseButton::Left));
    EXPECT_TRUE(p.panel.PickAt(0, 94, MouseButton::Left));   // the same colour again still counts
    EXPECT_TRUE(p.panel.PickAt(30, 10, MouseButton::Right));
    p.panel.Swap();
    EXPECT_FALSE(p.panel.PickAt(0, p.panel.ChartArea().height, MouseButton::Left));
    EXPECT_EQ(p.changes, (std::vector<Change>{
                             {red, ui::clWhite, red, ui::clWhite},
                             {red, ui::clWhite, red, ui::clWhite},
                             {red, pale, red, pale},
                             {pale, red, pale, red},
                         }));
    // Setting a colour from the program is no user's change.
    p.panel.SetForegroundColor(ui::clBlue);
    p.panel.SetBackgroundColor(ui::clGreen);
    EXPECT_EQ(p.changes.size(), 4u);
    EXPECT_EQ(p.panel.ForegroundColor(), ui::clBlue);
}

TEST(GammaPanel, ReadoutFollowsThePointerOverTheChart)
{
    Picker p;
    EXPECT_FALSE(p.panel.HotColor().has_value());
    p.panel.MouseMove(10, 40);
    EXPECT_EQ(p.panel.HotColor(), p.panel.ChartColorAt(10, 40));
    p.panel.MouseMove(50, 150);
    EXPECT_EQ(p.panel.HotColor(), p.panel.ChartColorAt(50, 150));
    const auto fg = p.panel.ForegroundSwatchArea();
    p.panel.MouseMove(fg.left, fg.top);
    EXPECT_FALSE(p.panel.HotColor().has_value());
    p.panel.MouseMove(10, 40);
    p.panel.MouseLeave();
    EXPECT_FALSE(p.panel.HotColor().has_value());
    EXPECT_TRUE(p.changes.empty());
    EXPECT_EQ(p.panel.ForegroundColor(), ui::clBlack);
}

// ---- The panel with the main window ------------------------------------------

using Colours = std::array<TColor, 3>;   // background, picture frame, list

constexpr Colours kDesign = {13677484, ui::clBtnText, 12435644};
constexpr Colours kReset = {6582129, 0, 12639424};
constexpr Colours kSaved = {10, 20, 30};
const std::string kSavedText = "10\r\n20\r\n30\r\n";

std::string Text(const Colours& c)
{
    return std::to_string(c[0]) + "\r\n" + std::to_string(c[1]) + "\r\n" + std::to_string(c[2]) + "\r\n";
}

struct ColourPanel : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;
    TForm2* panel = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }

    // Starts the program with these colours saved (none: no colour file), lets
    // the main window's first activation read them and opens the panel with
    // the main window's "Colors".
    void Start(std::optional<std::string> colourFile)
    {
        WriteText(File("options.ini"), "0612345678\r\n0\r\n0\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        if (colourFile)
            WriteText(File("color.ini"), *colourFile);
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
        panel = program->Form2.get();
        main->Show();
        ASSERT_FALSE(panel->Visible());
        main->JvXPButton6.Click();
        ASSERT_TRUE(panel->Visible());
    }
    // As the loop runs a handler: an error goes to the standard error box.
    void Press(ui::Button& b)
    {
        program->app.Deliver([&] { b.Click(); });
    }
    Colours Shown() const { return {main->Color(), main->GroupBox2.Color(), main->ListView1.Color()}; }
    Colours Swatches() const { return {panel->Panel1.Color(), panel->Panel2.Color(), panel->Panel3.Color()}; }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& d : program->app.Shown())
            if (d.kind == "message")
                out.push_back(d.text);
        return out;
    }
    std::optional<std::string> ColourFile() const
    {
        if (::access(File("color.ini").c_str(), F_OK) != 0)
            return std::nullopt;
        return ReadText(File("color.ini"));
    }
};

TEST_F(ColourPanel, ShowingTakesTheMainWindowsColoursEachTime)
{
    Start(kSavedText);
    EXPECT_EQ(Swatches(), kSaved);
    Press(panel->Button5);   // "Reset"
    // "Colors" again while the panel is open keeps the edits.
    main->JvXPButton6.Click();
    EXPECT_EQ(Swatches(), kReset);
    // Closing hands the activation back to the main window, which reads the
    // file; the next showing starts from that.
    WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
    Press(panel->Button2);   // "Ok"
    EXPECT_FALSE(panel->Visible());
    EXPECT_EQ(Shown(), (Colours{1, 2, 3}));
    main->JvXPButton6.Click();
    EXPECT_EQ(Swatches(), (Colours{1, 2, 3}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ColourPanel, ButtonSequences)
{
    enum Step { Reset, Use, Save, Ok, Colors };
    struct Case {
        const char* name;
        std::optional<std::string> file;   // before the start
        std::vector<Step> steps;
        Colours shown, swatches;
        std::optional<std::string> fileAfter;
        size_t boxes;   // all error boxes, the first activation's included
    };
    const Case cases[] = {
        {"save without changes writes the design colours", std::nullopt, {Save}, kDesign, kDesign, Text(kDesign), 1},
        {"save without changes rewrites the saved colours", kSavedText, {Save}, kSaved, kSaved, kSavedText, 0},
        {"reset alone touches nothing", kSavedText, {Reset}, kSaved, kReset, kSavedText, 0},
        {"reset then ok", kSavedText, {Reset, Ok}, kSaved, kReset, kSavedText, 0},
        {"reset then ok, no colour file", std::nullopt, {Reset, Ok}, kDesign, kReset, std::nullopt, 2},
        {"reset then ok, next showing", kSavedText, {Reset, Ok, Colors}, kSaved, kSaved, kSavedText, 0},
        {"reset then use", kSavedText, {Reset, Use}, kReset, kReset, kSavedText, 0},
        {"use lasts until the next activation", kSavedText, {Reset, Use, Ok}, kSaved, kReset, kSavedText, 0},
        {"use lasts without a colour file", std::nullopt, {Reset, Use, Ok, Colors}, kReset, kReset, std::nullopt, 2},
        {"reset then save", kSavedText, {Reset, Save}, kReset, kReset, Text(kReset), 0},
        {"saved colours come back at activation", kSavedText, {Reset, Save, Ok, Colors}, kReset, kReset, Text(kReset), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(File("color.ini").c_str());
        Start(c.file);
        for (Step s : c.steps)
            switch (s) {
            case Reset: Press(panel->Button5); break;
            case Use: Press(panel->Button4); break;
            case Save: Press(panel->Button1); break;
            case Ok: Press(panel->Button2); break;
            case Colors: main->JvXPButton6.Click(); break;
            }
        EXPECT_EQ(Shown(), c.shown);
        EXPECT_EQ(Swatches(), c.swatches);
        EXPECT_EQ(ColourFile(), c.fileAfter);
        EXPECT_EQ(Boxes().size(), c.boxes);
        program.reset();
    }
}

TEST_F(ColourPanel, ReinitReadsTheFileIntoTheSwatchesThenUsesThem)
{
    struct Case {
        const char* name;
        std::optional<std::string> file;
        Colours swatches;
        bool applied;   // the main window shows the swatches; else it keeps the saved colours
    };
    const Case cases[] = {
        {"three colours", "7\r\n8\r\n9\r\n", {7, 8, 9}, true},
        {"button text on line 2", "1\r\n-16777198\r\n3\r\n", {1, ui::clBtnText, 3}, true},
        {"blanks, bare line ends and trailing text", "\r\n  7 and more\n\n8\r9\t", {7, 8, 9}, true},
        {"extremes", "16777215\r\n-2147483648\r\n2147483647\r\n", {16777215, INT32_MIN, INT32_MAX}, true},
        {"no colour file", std::nullopt, kReset, false},
        {"empty file", "", kReset, false},
        {"two lines", "7\r\n8\r\n", {7, 8, kReset[2]}, false},
        {"not an integer on line 2", "7\r\nteal\r\n9\r\n", {7, kReset[1], kReset[2]}, false},
        {"a number with letters", "7x\r\n8\r\n9\r\n", kReset, false},
        {"too large", "7\r\n8\r\n4294967296\r\n", {7, 8, kReset[2]}, false},
        {"binary garbage", std::string("\x00\xff\xfe\r\n\x01\x02", 7), kReset, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start(kSavedText);
        if (c.file)
            WriteText(File("color.ini"), *c.file);
        else
            ::unlink(File("color.ini").c_str());
        // After "Reset" the swatches differ from both the file and the window.
        Press(panel->Button5);
        Press(panel->Button3);   // "Reinit"
        EXPECT_EQ(Swatches(), c.swatches);
        EXPECT_EQ(Shown(), c.applied ? c.swatches : kSaved);
        EXPECT_EQ(Boxes().size(), c.applied ? 0u : 1u);
        EXPECT_EQ(ColourFile(), c.file);   // reading never writes
        program.reset();
    }
}

TEST_F(ColourPanel, PickerSetsTheChosenSwatchWithItsForegroundColour)
{
    Start(kSavedText);
    ui::GammaPanel& picker = panel->JvGammaPanel1;
    const TColor red = picker.ChartColorAt(0, 94).value();
    const TColor pale = picker.ChartColorAt(30, 10).value();
    constexpr TColor kDialog = ui::RGB(9, 8, 7), kOtherDialog = ui::RGB(1, 1, 1);
    enum Action { LeftPick, RightPick, SwapColours, ForegroundDialog, BackgroundDialog, ForegroundCancelled };
    struct Case {
        const char* name;
        int swatch;   // 1..3: the swatch clicked first
        Action action;
        TColor expected;   // what that swatch holds afterwards
    };
    // The picker starts black on white and keeps its colours from row to row.
    const Case cases[] = {
        {"right pick on List takes the foreground as it is", 3, RightPick, ui::clBlack},
        {"left pick on Screen", 2, LeftPick, red},
        {"the same colour again on Background", 1, LeftPick, red},
        {"swap on List", 3, SwapColours, pale},
        {"colour dialog of the foreground on Screen", 2, ForegroundDialog, kDialog},
        {"colour dialog of the background on Background", 1, BackgroundDialog, kDialog},   // the foreground
        {"cancelled dialog on List leaves it", 3, ForegroundCancelled, pale},
    };
    SwatchPanel* swatches[] = {&panel->Panel1, &panel->Panel2, &panel->Panel3};
    ui::RadioButton* radios[] = {&panel->RadioButton1, &panel->RadioButton2, &panel->RadioButton3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Colours before = Swatches();
        swatches[c.swatch - 1]->Click();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(radios[i]->Checked(), i == c.swatch - 1) << "radio " << i + 1;
        switch (c.action) {
        case LeftPick: picker.PickAt(0, 94, MouseButton::Left); break;
        case RightPick: picker.PickAt(30, 10, MouseButton::Right); break;
        case SwapColours: picker.Swap(); break;
        case ForegroundDialog:
            program->app.QueueAnswer(ui::ColorAnswer{kDialog});
            picker.ClickForegroundSwatch();
            break;
        case BackgroundDialog:
            program->app.QueueAnswer(ui::ColorAnswer{kOtherDialog});
            picker.ClickBackgroundSwatch();
            break;
        case ForegroundCancelled:
            program->app.QueueAnswer(ui::CancelAnswer{});
            picker.ClickForegroundSwatch();
            break;
        }
        Colours want = before;
        want[c.swatch - 1] = c.expected;
        EXPECT_EQ(Swatches(), want);
        EXPECT_EQ(Shown(), kSaved);   // nothing reaches the main window without a button
    }
    EXPECT_EQ(picker.ForegroundColor(), kDialog);
    EXPECT_EQ(picker.BackgroundColor(), kOtherDialog);
    EXPECT_EQ(ReadText(File("color.ini")), kSavedText);
}

TEST_F(ColourPanel, FailedSaveLeavesTheOldFileWholeAndTheColoursApplied)
{
    Start(kSavedText);
    Press(panel->Button5);
    // A file size limit below the file's size makes the write fail, as a full
    // disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 4;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    Press(panel->Button1);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ReadText(File("color.ini")), kSavedText);
    EXPECT_EQ(Shown(), kReset);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("color.ini"), std::string::npos) << Boxes()[0];
    // No half-written file is left beside it.
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name).find("color") != std::string::npos)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    EXPECT_EQ(names, std::vector<std::string>{"color.ini"});
}

TEST(ColourFile, WriterGivesBackWhatTheReaderTakes)
{
    testing_support::TempDir dir;
    const std::string path = dir.file("color.ini");
    WriteText(path, "old\r\ncontent that is longer than the new one\r\n");
    writecolorfile(path, 6582129, ui::clBtnText, 0);
    EXPECT_EQ(ReadText(path), "6582129\r\n-16777198\r\n0\r\n");
    std::vector<std::pair<int, TColor>> read;
    readcolorfile(path, [&](int i, TColor c) { read.emplace_back(i, c); });
    EXPECT_EQ(read, (std::vector<std::pair<int, TColor>>{{0, 6582129}, {1, ui::clBtnText}, {2, 0}}));
    // A missing folder is an error naming the file.
    try {
        writecolorfile(dir.file("gone/color.ini"), 1, 2, 3);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("gone/color.ini"), std::string::npos) << e.what();
    }
}

} // namespace
