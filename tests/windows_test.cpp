// The nine secondary windows as they come out of their constructors: class,
// title, hidden, and the controls other windows and the language switch reach
// by name, with their texts and places.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Program.h"
#include "delivery/TForm10.h"
#include "delivery/TForm9.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "list/TForm6.h"
#include "platform/sys/text.h"
#include "settings/TForm2.h"
#include "settings/TForm3.h"
#include "sharing/TForm7.h"
#include "sharing/TForm8.h"
#include "test_support.h"

namespace {

// One program with every secondary window built on it.
struct SecondaryWindows : ::testing::Test {
    testing_support::TempDir dir;
    Program program{dir.path(), {"vintrel"}};
    TForm2 form2{program};
    TForm3 form3{program};
    TForm4 form4{program};
    TForm6 form6{program};
    TForm7 form7{program};
    TForm8 form8{program};
    TForm9 form9{program};
    TForm10 form10{program};
    TForm5 form5{program};

    std::vector<ui::Form*> All()
    {
        return {&form2, &form3, &form4, &form6, &form7, &form8, &form9, &form10, &form5};
    }
    ui::Form& ByClass(const std::string& className)
    {
        for (ui::Form* f : All())
            if (className == f->ClassName())
                return *f;
        throw std::runtime_error("no window of class " + className);
    }
};

struct Bounds {
    int left, top, width, height;
    bool operator==(const Bounds&) const = default;
};
Bounds BoundsOf(const ui::Control& c) { return {c.Left(), c.Top(), c.Width(), c.Height()}; }
std::ostream& operator<<(std::ostream& os, const Bounds& b)
{
    return os << b.left << "," << b.top << " " << b.width << "x" << b.height;
}

void ForEachControl(ui::Control& c, const std::function<void(ui::Control&)>& f)
{
    f(c);
    for (ui::Control* child : c.Children())
        ForEachControl(*child, f);
}

} // namespace

TEST_F(SecondaryWindows, EachHasItsClassNameTitleAndStartsHidden)
{
    struct Case {
        const char* className;
        const char* name;
        const char* caption;
        int width, height;
    };
    const Case cases[] = {
        {"TForm2", "Form2", "Color panel", 312, 306},
        {"TForm3", "Form3", "Options", 198, 227},
        {"TForm4", "Form4", "Enter the url of your picture", 344, 94},
        {"TForm6", "Form6", "", 190, 100},
        {"TForm7", "Form7", "Tools for nothing", 0, 0},
        {"TForm8", "Form8", "Mail list", 0, 0},
        {"TForm9", "Form9", "Ready to send", 659, 591},
        {"TForm10", "Form10", "bmp to jpg", 353, 270},
        {"TForm5", "Form5", "Remote selector", 802, 517},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.className);
        ui::Form& f = ByClass(c.className);
        EXPECT_EQ(f.Name(), c.name);
        EXPECT_EQ(f.Caption(), c.caption);
        EXPECT_FALSE(f.Visible());
        if (c.width) {   // 0: a size of our own choosing
            EXPECT_EQ(f.Width(), c.width);
            EXPECT_EQ(f.Height(), c.height);
        }
    }
    // The two windows whose place on the screen is part of their design.
    EXPECT_EQ(BoundsOf(form2), (Bounds{126, 149, 312, 306}));
    EXPECT_EQ(BoundsOf(form3), (Bounds{388, 241, 198, 227}));
}

TEST_F(SecondaryWindows, ControlsAreFoundByNameWithTextAndPlace)
{
    struct Case {
        const char* window;
        const char* control;
        const char* className;
        const char* parent;   // the control it sits in
        const char* caption;
        Bounds bounds;        // {} when the place is our own choice
    };
    const Case cases[] = {
        {"TForm2", "JvGammaPanel1", "TJvGammaPanel", "Form2", "", {16, 8, 65, 250}},
        {"TForm2", "Panel3", "TPanel", "Form2", "", {104, 128, 49, 41}},
        {"TForm2", "RadioButton2", "TRadioButton", "Form2", "Screen", {176, 80, 97, 17}},
        {"TForm2", "Button3", "TButton", "Form2", "Reinit", {104, 184, 49, 25}},
        {"TForm2", "Button4", "TButton", "Form2", "Use", {168, 232, 49, 25}},
        {"TForm2", "Button2", "TButton", "Form2", "Ok", {240, 232, 49, 25}},
        {"TForm3", "GroupBox1", "TGroupBox", "Form3", "Phone number", {8, 16, 177, 49}},
        {"TForm3", "Edit1", "TEdit", "GroupBox1", "", {16, 16, 145, 21}},
        {"TForm3", "ComboBox1", "TComboBox", "Form3", "[- Choose your mobile -]", {16, 80, 161, 19}},
        {"TForm3", "ComboBox2", "TComboBox", "Form3", "English", {56, 120, 89, 19}},
        {"TForm3", "Button2", "TButton", "Form3", "Close", {112, 160, 67, 25}},
        {"TForm4", "Edit1", "TEdit", "Form4", "", {}},
        {"TForm4", "Button1", "TButton", "Form4", "Ok", {}},
        {"TForm4", "Button2", "TButton", "Form4", "Close", {}},
        {"TForm6", "Label1", "TLabel", "Form6", "Choose a file to use the software", {}},
        {"TForm6", "JvXPButton1", "TButton", "Form6", "Choose file on disk", {}},
        {"TForm6", "JvXPButton2", "TButton", "Form6", "Choose remote file", {}},
        {"TForm7", "Edit1", "TEdit", "GroupBox2", "", {}},
        {"TForm7", "Edit2", "TEdit", "GroupBox2", "My new picture", {}},
        {"TForm7", "CheckBox1", "TCheckBox", "GroupBox2", "Append picture url", {}},
        {"TForm7", "JvXPButton3", "TButton", "GroupBox2", "Send", {}},
        {"TForm7", "JvXPButton1", "TButton", "GroupBox1", "Go online", {}},
        {"TForm7", "Label1", "TLabel", "GroupBox1", "(sponsor)", {}},
        {"TForm7", "JvXPButton2", "TButton", "Form7", "close", {}},
        {"TForm8", "ListBox1", "TListBox", "Form8", "", {}},
        {"TForm8", "Button2", "TButton", "Form8", "Remove line", {}},
        {"TForm8", "Button3", "TButton", "Form8", "Close", {}},
        {"TForm9", "WebBrowser1", "TWebBrowser", "Form9", "", {}},
        {"TForm10", "Button1", "TButton", "Form10", "load", {}},
        {"TForm10", "Button2", "TButton", "Form10", "save", {}},
        {"TForm5", "Edit1", "TEdit", "Form5", "", {}},
        {"TForm5", "Button5", "TButton", "Form5", "Home", {}},
        {"TForm5", "Button4", "TButton", "Form5", "Set home ", {}},
        {"TForm5", "CheckBox1", "TCheckBox", "Form5", "Check this box to select a picture", {}},
        {"TForm5", "WebBrowser1", "TWebBrowser", "Form5", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.window) + "." + c.control);
        ui::Control* control = ByClass(c.window).FindControl(c.control);
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->ClassName(), c.className);
        ASSERT_NE(control->Parent(), nullptr);
        EXPECT_EQ(control->Parent()->Name(), c.parent);
        EXPECT_EQ(control->Caption(), c.caption);
        EXPECT_TRUE(control->Visible());
        if (c.bounds != Bounds{}) {
            EXPECT_EQ(BoundsOf(*control), c.bounds);
        }
    }
    // Sizes fixed where the rest of the layout is ours.
    EXPECT_EQ(form4.Edit1.Width(), 289);
    EXPECT_EQ(form9.WebBrowser1.Width(), 649);
    EXPECT_EQ(form9.WebBrowser1.Height(), 555);
    EXPECT_EQ(form5.Edit1.Width(), 233);
    EXPECT_EQ(form5.WebBrowser1.Width(), 777);
    EXPECT_EQ(form5.WebBrowser1.Height(), 425);
    EXPECT_GE(form5.WebBrowser1.Top(), form5.CheckBox1.Top() + form5.CheckBox1.Height());
    EXPECT_EQ(form10.Image1.Width(), 105);
    EXPECT_EQ(form10.Image2.Height(), 105);
}

// A name found twice would make lookups by name reach the wrong control, and
// a control poking out of its parent would be cut off on screen.
TEST_F(SecondaryWindows, NamesAreUniqueAndControlsLieInsideTheirParent)
{
    for (ui::Form* form : All()) {
        SCOPED_TRACE(form->ClassName());
        std::set<std::string> names;
        ForEachControl(*form, [&](ui::Control& c) {
            EXPECT_TRUE(names.insert(sys::LowerAscii(c.Name())).second) << "twice: " << c.Name();
            if (ui::Control* parent = c.Parent()) {
                SCOPED_TRACE(c.Name());
                EXPECT_GE(c.Left(), 0);
                EXPECT_GE(c.Top(), 0);
                EXPECT_GT(c.Width(), 0);
                EXPECT_GT(c.Height(), 0);
                EXPECT_LE(c.Left() + c.Width(), parent->Width());
                EXPECT_LE(c.Top() + c.Height(), parent->Height());
            }
        });
    }
}

TEST_F(SecondaryWindows, DesignStateBeyondCaptions)
{
    // Colour panel: desktop-coloured window, "Background" picked at start.
    EXPECT_EQ(form2.Color(), ui::clBackground);
    EXPECT_TRUE(form2.RadioButton1.Checked());
    EXPECT_FALSE(form2.RadioButton2.Checked());
    EXPECT_FALSE(form2.RadioButton3.Checked());
    EXPECT_EQ(form2.RadioButton3.Color(), ui::clBtnFace);

    // Options: the language is the index, English first and selected.
    EXPECT_EQ(form3.Color(), ui::clGradientInactiveCaption);
    EXPECT_EQ(form3.ComboBox2.Items(), (std::vector<std::string>{"English", "Français"}));
    EXPECT_EQ(form3.ComboBox2.ItemIndex(), 0);

    // Tools: the body keeps its trailing blank and the two empty lines.
    EXPECT_EQ(form7.RichEdit1.Lines(),
              (std::vector<std::string>{"Hello,", "I have just changed the picture of my gsm. ",
                                        "I uploaded the following picture:", "", ""}));
    EXPECT_FALSE(form7.CheckBox1.Checked());

    // Mail list: several addresses can be picked at once.
    EXPECT_TRUE(form8.ListBox1.MultiSelect);

    // Remote selector: picking is off until the user ticks the box.
    EXPECT_FALSE(form5.CheckBox1.Checked());
}
