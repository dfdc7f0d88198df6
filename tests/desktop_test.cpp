// The desktop program on a real display (CTest runs this under xvfb-run): the
// windows, the picture and page previews, the language switch and a picture
// sent to the phone. Input goes in through the GTK widgets (a row clicked, a
// button pressed) and what they show is read back from them and from the
// WebKit page.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>
#include <unistd.h>

#include "platform/image/image.h"
#include "tests/test_support.h"

using testing_support::Child;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::RunningProgram;
using testing_support::WaitFor;
using testing_support::WriteText;

namespace {

// A picture with something to see in it: a colour ramp.
ui::Bitmap Ramp(int w, int h)
{
    ui::Bitmap b;
    b.Width = w;
    b.Height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.Pixels.push_back(0xFF000000u | static_cast<std::uint32_t>(x * 255 / w) << 16 |
                               static_cast<std::uint32_t>(y * 255 / h) << 8 | 0xA0u);
    return b;
}

// A reply's value as vintrel-auto prints it, without its last line end.
std::string Value(std::string reply)
{
    if (!reply.empty() && reply.back() == '\n')
        reply.pop_back();
    return reply;
}

} // namespace

TEST(Desktop, PreviewsLocalAndWebPicturesSpeaksFrenchAndFillsTheDeliveryPage)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        GTEST_SKIP() << "no display: run under xvfb-run";
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    // The desktop libraries keep memory to the end; the leak check is for our code.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);

    std::filesystem::create_directories(folder + "/services/img");
    img::SaveJpeg(Ramp(300, 200), folder + "/services/img/5a17c0ffee42.jpg");
    Child services({VINTREL_PROGRAM_DIR "/vintrel-services", "--port", "0", "--data", folder + "/services", "--stdin-ends"});
    std::string line = services.ReadLine(20000);
    ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos) << line;
    const std::string host = line.substr(line.rfind(' ') + 1);
    for (const char* name : {"VINTREL_CONVERTER_HOST", "VINTREL_UPLOAD_HOST", "VINTREL_CONTENT_HOST", "VINTREL_IMAGEHOST_HOST"})
        ::setenv(name, host.c_str(), 1);

    img::SaveJpeg(Ramp(320, 200), folder + "/holiday.jpg");
    const std::string web = "http://" + host + "/img/5a17c0ffee42.jpg";
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", ReadText(VINTREL_PROGRAM_DIR "/color.ini"));
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    WriteText(folder + "/files.ini", folder + "/holiday.jpg\r\n" + web + "\r\nhttp://" + host + "/img/0bea0c4f00d1.jpg\r\n");

    RunningProgram p(folder, {}, "vintrel", "gtk");
    ASSERT_TRUE(p.WaitReady(30000));
    auto native = [&](const std::string& target, const std::string& what, const std::string& arg = {}) {
        std::vector<std::string> words{"native", target, what};
        if (!arg.empty())
            words.push_back(arg);
        return Value(p.Ask(words));
    };

    // The main window as designed, its title bar painted with its caption.
    ASSERT_TRUE(WaitFor([&] { return native("vinForm1", "visible") == "1"; }));
    EXPECT_EQ(native("vinForm1", "size"), "259x418");
    EXPECT_EQ(native("vinForm1", "titlebar"), "Vin Trel  v1.3");
    EXPECT_EQ(native("vinForm1.ListView1", "text"), "Name\tPath");

    // The local picture, its row clicked in the tree view: in the picture
    // control, scaled into its 233 x 150.
    p.Ask({"native", "vinForm1.ListView1", "press", "row 0"});
    std::string picture;
    EXPECT_TRUE(WaitFor([&] { return (picture = native("vinForm1.Image1", "picture")).rfind("320x200", 0) == 0; }))
        << picture;
    EXPECT_EQ(picture, "320x200 drawn 233x146 at 0,2");
    EXPECT_EQ(native("vinForm1.webbrowser1", "visible"), "0");
    EXPECT_EQ(p.Get("vinForm1.Label1", "text"), folder + "/holiday.jpg");
    EXPECT_NE(native("vinForm1.ListView1", "rows").find("*holiday.jpg\t" + folder + "/holiday.jpg"), std::string::npos);

    // A picture of the window: its designed size, and more than a blank.
    const std::string shot = testing_support::TestBinaryDir() + "/desktop-main-window.png";
    EXPECT_EQ(Value(p.Ask({"screenshot", "vinForm1", shot})), "259x418");
    ui::Bitmap seen = img::LoadPicture(shot);
    EXPECT_EQ(seen.Width, 259);
    EXPECT_EQ(seen.Height, 418);
    std::set<std::uint32_t> colours(seen.Pixels.begin(), seen.Pixels.end());
    EXPECT_GT(colours.size(), 200u);
    EXPECT_TRUE(colours.count(0xFFACB3D0u)) << "the window's background colour (172, 179, 208)";

    // The web picture: the page in the browser, its picture 190 wide.
    p.Ask({"native", "vinForm1.ListView1", "press", "row 1"});
    std::string width;
    EXPECT_TRUE(WaitFor([&] {
        width = native("vinForm1.webbrowser1", "script", "document.images.length ? String(document.images[0].width) : 'none'");
        return width == "190";
    })) << width;
    EXPECT_EQ(native("vinForm1.webbrowser1", "visible"), "1");
    EXPECT_EQ(native("vinForm1.webbrowser1", "uri"), web);

    // French, picked in the combo box and read from the widgets themselves.
    p.Ask({"native", "vinForm1.JvXPButton5", "press"});   // "Options"
    ASSERT_TRUE(WaitFor([&] { return native("Form3", "visible") == "1"; }));
    p.Ask({"native", "Form3.ComboBox2", "press", "1"});
    EXPECT_EQ(native("Form3.ComboBox2", "text"), "Français");
    EXPECT_EQ(native("Form3.Button1", "text"), "Sauver");
    EXPECT_EQ(native("vinForm1.JvXPButton1", "text"), "Chercher image");
    EXPECT_EQ(native("vinForm1.JvXPButton7", "text"), "Outils");
    // The colour panel's painted title bar keeps its own text; its window
    // title follows the language.
    EXPECT_EQ(native("Form2", "titlebar"), "Color panel");
    EXPECT_EQ(native("Form2", "text"), p.Get("Form2", "caption"));
    p.Ask({"native", "Form3", "press"});   // its title bar's close button
    EXPECT_TRUE(WaitFor([&] { return native("Form3", "visible") == "0"; }));

    // A message box is a modal dialog that waits; an answer sent while it is
    // up closes it.
    p.Ask({"show", "Form4"});
    p.Ask({"set", "Form4.Edit1", "text", "ftp:"});   // too short to be an address
    std::thread press([&] { p.Ask({"native", "Form4.Button1", "press"}); });   // "Ok"
    EXPECT_TRUE(WaitFor([&] { return native("Form4", "dialog") == "An url starts with http://"; }, 10));
    p.Ask({"answer", "button", "OK"});
    press.join();
    EXPECT_EQ(native("Form4", "dialog"), "");
    EXPECT_NE(p.Ask({"boxes"}).find("message OK 0 Vintrel \"An url starts with http://\""), std::string::npos)
        << p.Ask({"boxes"});
    p.Ask({"hide", "Form4"});

    // Radio buttons of one group: the one pressed is the one checked.
    p.Ask({"native", "Form2.RadioButton2", "press"});
    EXPECT_EQ(p.Get("Form2.RadioButton2", "checked"), "1");
    EXPECT_EQ(p.Get("Form2.RadioButton1", "checked"), "0");
    EXPECT_EQ(native("Form2.RadioButton1", "checked"), "0");

    // "2gsm" with the web picture: the delivery page, the number filled in.
    p.Ask({"native", "vinForm1.JvXPButton4", "press"});
    std::string number;
    EXPECT_TRUE(WaitFor([&] {
        number = native("Form9.WebBrowser1", "script",
                        "Array.from(document.getElementsByName('phoneNumber')).map(e => e.value).join(',')");
        return number == "0612345678";
    })) << number << p.Ask({"boxes"});
    EXPECT_EQ(native("Form9", "visible"), "1");

    // Typing in the page reaches the page the program holds.
    native("Form9.WebBrowser1", "script",
           "var f = document.getElementsByName('phoneNumber')[0]; f.value = '0700000001';"
           "f.dispatchEvent(new Event('input', {bubbles: true})); 'typed'");
    EXPECT_TRUE(WaitFor([&] {
        return p.Ask({"elements", "Form9.WebBrowser1", "input"}).find("phoneNumber 0700000001") != std::string::npos;
    })) << p.Ask({"elements", "Form9.WebBrowser1", "input"});

    // A picture clicked in the remote selector's page, with its box checked:
    // its address is shown, then added to the list.
    const std::string picked = "http://" + host + "/img/c0ffee000001.jpg";
    img::SaveJpeg(Ramp(64, 48), folder + "/services/img/c0ffee000001.jpg");
    WriteText(folder + "/pick.htm", "<p>Pick one</p><img src=\"" + picked + "\">");
    p.Ask({"show", "Form5"});
    p.Ask({"native", "Form5.CheckBox1", "press"});
    EXPECT_EQ(p.Get("Form5.CheckBox1", "checked"), "1");
    p.Ask({"navigate", "Form5.WebBrowser1", "file://" + folder + "/pick.htm"});
    EXPECT_TRUE(WaitFor([&] { return native("Form5.WebBrowser1", "script", "String(document.images.length)") == "1"; }));
    // The click after the script has answered: the box it brings up waits.
    native("Form5.WebBrowser1", "script", "setTimeout(() => document.images[0].click(), 0); 'clicking'");
    EXPECT_TRUE(WaitFor([&] { return native("Form5", "dialog") == picked; }, 10)) << native("Form5", "dialog");
    p.Ask({"answer", "button", "OK"});
    EXPECT_TRUE(WaitFor([&] { return ReadText(folder + "/files.ini").find(picked) != std::string::npos; }))
        << ReadText(folder + "/files.ini");
    p.Ask({"hide", "Form5"});

    // The list's focused row is the tree view's cursor; the selection stays.
    p.Ask({"focus", "vinForm1.ListView1", "2"});
    EXPECT_EQ(native("vinForm1.ListView1", "cursor"), "2");
    EXPECT_EQ(p.Get("vinForm1.ListView1", "selected"), "1");

    // A click on a column header sorts the list by name.
    p.Ask({"native", "vinForm1.ListView1", "press", "column 1"});
    std::string rows = native("vinForm1.ListView1", "rows");
    EXPECT_LT(rows.find("0bea0c4f00d1.jpg"), rows.find("5a17c0ffee42.jpg")) << rows;
    EXPECT_LT(rows.find("5a17c0ffee42.jpg"), rows.find("holiday.jpg")) << rows;

    // Minimised, the main window goes to the tray, and a click on the tray
    // icon brings it back. Minimising is the window manager's work: one is
    // started for it (when the machine has one).
    if (::access("/usr/bin/openbox", X_OK) == 0) {
        Child wm({"/usr/bin/openbox"});
        bool minimised = WaitFor([&] {
            p.Ask({"native", "vinForm1", "press", "minimize"});
            return WaitFor([&] { return p.Get("vinForm1", "visible") == "0"; }, 1);
        }, 15);
        EXPECT_TRUE(minimised);
        EXPECT_EQ(native("vinForm1", "visible"), "0");
        EXPECT_NE(p.Ask({"tray"}).find("vintrel"), std::string::npos);
        p.Ask({"trayclick", "left"});
        EXPECT_TRUE(WaitFor([&] { return native("vinForm1", "visible") == "1"; }, 10));
        EXPECT_EQ(p.Get("vinForm1", "visible"), "1");
    }

    // The main window's close button ends the program.
    p.Ask({"native", "vinForm1", "press"});
    EXPECT_EQ(p.Wait(20000), 0);
}

// How the run is chosen when the desktop cannot be had or is asked for wrongly.
TEST(Desktop, RunChoiceWhenTheDesktopCannotBeHad)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    testing_support::Run({"/bin/cp", VINTREL_PROGRAM_DIR "/vintrel", folder + "/vintrel"});
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    WriteText(folder + "/files.ini", "");
    const char* display = std::getenv("DISPLAY");
    struct Case {
        const char* ui;
        const char* display;   // nullptr: none
        bool module;           // the desktop front-end beside the program
        const char* says;
    } cases[] = {
        {"gtk", nullptr, true, "VINTREL_UI=gtk asks for the desktop, but there is no display"},
        {"gtk", ":99999", true, "The display :99999 cannot be opened."},
        {"windows", nullptr, true, "VINTREL_UI is \"windows\": it can be \"gtk\" or \"headless\"."},
        {"gtk", display, false, "/vintrel-desktop.so cannot be loaded"},
    };
    for (const Case& c : cases) {
        if (!c.module && !c.display)
            continue;   // no display to try the missing module on
        std::filesystem::remove(folder + "/vintrel-desktop.so");
        if (c.module)
            std::filesystem::copy_file(VINTREL_PROGRAM_DIR "/vintrel-desktop.so", folder + "/vintrel-desktop.so");
        std::vector<std::string> argv{"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                      std::string("VINTREL_UI=") + c.ui};
        if (c.display)
            argv.push_back(std::string("DISPLAY=") + c.display);
        argv.push_back(folder + "/vintrel");
        auto r = testing_support::RunMerged(argv);
        EXPECT_EQ(r.status, 1) << c.ui << " " << (c.display ? c.display : "-") << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }
}
