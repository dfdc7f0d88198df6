// The headless control model: the loop, forms, the list view, boxes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/ui/application.h"

using namespace ui;

namespace {

struct TwoForms : ::testing::Test {
    Application app;
    Form main{app, "Main", "TMain"};
    Form tool{app, "Tool", "TTool"};
    Button button{&main, "Button1"};
    std::vector<std::string> events;

    void SetUp() override
    {
        app.Title = "Test";
        main.OnActivate = [this] { events.push_back("main activate"); };
        tool.OnActivate = [this] { events.push_back("tool activate"); };
        main.OnDestroy = [this] { events.push_back("main destroy"); };
        tool.OnDestroy = [this] { events.push_back("tool destroy"); };
        app.CreateForm(main);
        app.CreateForm(tool);
    }
};

} // namespace

TEST_F(TwoForms, ThrowingHandlerShowsErrorBoxAndLoopGoesOn)
{
    button.OnClick = [] { throw std::runtime_error("Cannot open file \"x\""); };
    int clicks = 0;
    app.Post([&] { app.Deliver([&] { button.Click(); }); });
    app.Post([&] { ++clicks; main.Close(); });
    app.Run();
    ASSERT_EQ(app.Shown().size(), 1u);
    EXPECT_EQ(app.Shown()[0].kind, "message");
    EXPECT_EQ(app.Shown()[0].text, "Cannot open file \"x\"");
    EXPECT_EQ(app.Shown()[0].caption, "Test");
    EXPECT_EQ(app.Shown()[0].flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(clicks, 1);   // the work after the failing handler still ran
}

TEST_F(TwoForms, ClosingSecondaryHidesAndReactivatesMain)
{
    main.Show();
    tool.Show();
    tool.Close();
    EXPECT_FALSE(tool.Visible());
    EXPECT_FALSE(app.Terminated());
    EXPECT_EQ(app.ActiveForm(), &main);
    // OnActivate runs at every activation, not only the first.
    EXPECT_EQ(events, (std::vector<std::string>{"main activate", "tool activate", "main activate"}));
}

TEST_F(TwoForms, ClosingMainEndsLoopAndDestroysEveryForm)
{
    app.Post([&] { tool.Show(); main.Close(); });
    app.Run();   // returns only because the main form closed
    EXPECT_TRUE(app.Terminated());
    EXPECT_FALSE(main.Visible());
    EXPECT_FALSE(tool.Visible());
    std::vector<std::string> destroyed(events.end() - 2, events.end());
    EXPECT_EQ(destroyed, (std::vector<std::string>{"tool destroy", "main destroy"}));
}

TEST_F(TwoForms, CloseActionNoneKeepsMainOpen)
{
    main.OnClose = [](CloseAction& a) { a = CloseAction::caNone; };
    main.Show();
    main.Close();
    EXPECT_FALSE(app.Terminated());
    EXPECT_TRUE(main.Visible());
}

TEST(ApplicationLoop, WorkPostedFromAnotherThreadWakesTheLoop)
{
    Application app;
    Form main{app, "Main", "TMain"};
    app.CreateForm(main);
    std::thread t([&] { app.Post([&] { main.Close(); }); });
    app.Run();
    t.join();
    EXPECT_TRUE(app.Terminated());
}

TEST(ListViewModel, SelectionFocusAndEvents)
{
    Application app;
    Form f{app, "F", "TF"};
    ListView lv{&f, "ListView1"};
    lv.MultiSelect = true;
    for (const char* n : {"c", "a", "b"})
        lv.AddItem(n, {std::string("/p/") + n});
    std::vector<std::pair<std::string, bool>> seen;
    lv.OnSelectItem = [&](ListItem& item, bool sel) { seen.emplace_back(item.Caption, sel); };

    EXPECT_EQ(lv.Selected(), nullptr);
    lv.SetSelected(2, true);
    lv.SetSelected(0, true);
    EXPECT_EQ(lv.SelCount(), 2);
    EXPECT_EQ(lv.Selected()->Caption, "c");   // first in list order, not first chosen
    lv.SetFocused(2);
    EXPECT_EQ(lv.ItemFocused()->Caption, "b");

    seen.clear();
    lv.ClickRow(1);
    EXPECT_EQ(lv.SelCount(), 1);
    EXPECT_EQ(lv.Selected()->Caption, "a");
    EXPECT_EQ(lv.ItemFocused()->Caption, "a");
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"c", false}, {"b", false}, {"a", true}}));

    // Sorting moves rows with their states.
    lv.Sort([](const ListItem& a, const ListItem& b) { return a.Caption.compare(b.Caption); });
    EXPECT_EQ(lv.Item(0).Caption, "a");
    EXPECT_TRUE(lv.Item(0).Selected());
    EXPECT_TRUE(lv.Item(0).Focused());
    EXPECT_EQ(lv.Item(2).Index(), 2);

    lv.Delete(0);
    EXPECT_EQ(lv.SelCount(), 0);
    EXPECT_EQ(lv.ItemFocused(), nullptr);
    EXPECT_THROW(lv.Item(5), std::out_of_range);
}

TEST(ListViewModel, SingleSelectKeepsOneRow)
{
    Application app;
    Form f{app, "F", "TF"};
    ListView lv{&f, "ListView1"};
    lv.AddItem("a");
    lv.AddItem("b");
    lv.SetSelected(0, true);
    lv.SetSelected(1, true);
    EXPECT_EQ(lv.SelCount(), 1);
    EXPECT_EQ(lv.Selected()->Caption, "b");
}

TEST(ComboBoxModel, IndexOutOfRangeSelectsNothing)
{
    Application app;
    Form f{app, "F", "TF"};
    ComboBox cb{&f, "ComboBox1"};
    cb.SetItems({"English", "French"});
    int selects = 0;
    cb.OnSelect = [&] { ++selects; };
    for (int bad : {2, 99, -5}) {
        cb.SetItemIndex(1);
        cb.SetItemIndex(bad);
        EXPECT_EQ(cb.ItemIndex(), -1) << bad;
        EXPECT_EQ(cb.Text(), "");
    }
    cb.Select(1);
    EXPECT_EQ(cb.ItemIndex(), 1);
    EXPECT_EQ(cb.Text(), "French");
    EXPECT_EQ(selects, 1);   // only the user's pick raises OnSelect
}

TEST(RadioButtonModel, ExclusiveWithinParentOnly)
{
    Application app;
    Form f{app, "F", "TF"};
    GroupBox g1{&f, "G1"}, g2{&f, "G2"};
    RadioButton a{&g1, "A"}, b{&g1, "B"}, c{&g2, "C"};
    a.SetChecked(true);
    c.SetChecked(true);
    b.Click();
    EXPECT_FALSE(a.Checked());
    EXPECT_TRUE(b.Checked());
    EXPECT_TRUE(c.Checked());
}

TEST(HeadlessDialogs, AnsweredFromQueueElseDefault)
{
    Application app;
    app.QueueAnswer(ButtonAnswer{IDNO});
    EXPECT_EQ(app.MessageBox("Send?", "Vintrel", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(app.MessageBox("Send?", "Vintrel", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(app.MessageBox("Send?", "Vintrel", MB_YESNO), IDYES);

    OpenDialog open;
    open.Options |= ofAllowMultiSelect;
    EXPECT_FALSE(open.Execute(app));   // nothing queued: cancelled
    app.QueueAnswer(FilesAnswer{{"/a.jpg", "/b.bmp"}});
    ASSERT_TRUE(open.Execute(app));
    EXPECT_EQ(open.Files, (std::vector<std::string>{"/a.jpg", "/b.bmp"}));
    EXPECT_EQ(open.FileName, "/a.jpg");

    // An answer of the wrong kind waits for its own dialog.
    app.QueueAnswer(ColorAnswer{255});
    EXPECT_EQ(app.MessageBox("x", "y", MB_OKCANCEL), IDOK);
    ColorDialog colour;
    ASSERT_TRUE(colour.Execute(app));
    EXPECT_EQ(colour.Color, 255);

    ASSERT_EQ(app.Shown().size(), 7u);
    EXPECT_EQ(app.Shown()[0].result, "No");
    EXPECT_EQ(app.Shown()[3].result, "cancelled");
    EXPECT_EQ(app.Shown()[4].result, "/a.jpg|/b.bmp");
}

TEST(Colors, SystemColorsAndDirectColors)
{
    EXPECT_EQ(clBtnText, -16777198);
    EXPECT_EQ(ColorToRGB(clBtnText), 0u);
    EXPECT_EQ(ColorToRGB(clBtnFace), 0xD8E9ECu);         // ECE9D8 as red, green, blue
    EXPECT_EQ(ColorToRGB(13677484), 13677484u);          // a direct colour is itself
    EXPECT_EQ(GetRValue(ColorToRGB(RGB(1, 2, 3))), 1);
    EXPECT_EQ(GetBValue(ColorToRGB(RGB(1, 2, 3))), 3);
    EXPECT_EQ(ColorToRGB(SystemColor(200)), 0u);          // unknown index
}

TEST(TextWidth, HeadlessTableIsFixed)
{
    EXPECT_EQ(HeadlessTextWidth(""), 0);
    EXPECT_EQ(HeadlessTextWidth("Name"), 7 + 5 + 8 + 5);
    EXPECT_EQ(HeadlessTextWidth("é"), 6);   // one character, two bytes
    EXPECT_GT(HeadlessTextWidth("WWW"), HeadlessTextWidth("iii"));
}
