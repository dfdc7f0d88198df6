// Whole roads between real processes: a picture sent to the phone against the
// reference services, and an address handed over by the automation server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/image/image.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "tests/test_support.h"

using testing_support::Child;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::RunningProgram;
using testing_support::WaitFor;
using testing_support::WriteText;

namespace {

// A program folder with the program and the files a user who has run it has.
void InstallProgram(const std::string& folder)
{
    testing_support::Run({"/bin/cp", VINTREL_PROGRAM_DIR "/vintrel", folder + "/vintrel"});
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    WriteText(folder + "/files.ini", "");
}

// What the set-up does: the program path record and the automation server
// registered; then programs started from here run headless with the channel
// on and an invitation that does nothing.
bool RegisterAsInstalled(const std::string& folder)
{
    bool ok = testing_support::Run({VINTREL_PROGRAM_DIR "/vintrel-reg", "add", "HKLM\\SOFTWARE\\VinTrel", "/ve",
                                    "/d", folder + "/vintrel", "/f"}).status == 0 &&
              testing_support::Run({VINTREL_PROGRAM_DIR "/regsvr", VINTREL_PROGRAM_DIR "/Corvane_ComHost.so"}).status == 0;
    ::setenv("VINTREL_UI", "headless", 1);
    ::setenv("VINTREL_AUTOMATION", "1", 1);
    ::setenv("VINTREL_INVITATION_SEED", "18", 1);
    return ok;
}

} // namespace

TEST(EndToEnd, LocalJpegLocalBmpAndWebPictureReachTheDeliveryPage)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    Child services({VINTREL_PROGRAM_DIR "/vintrel-services", "--port", "0", "--data", folder + "/services", "--stdin-ends"});
    std::string line = services.ReadLine(20000);
    ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos) << line;
    const std::string host = line.substr(line.rfind(' ') + 1);
    for (const char* name : {"VINTREL_CONVERTER_HOST", "VINTREL_UPLOAD_HOST", "VINTREL_CONTENT_HOST", "VINTREL_IMAGEHOST_HOST"})
        ::setenv(name, host.c_str(), 1);

    ui::Bitmap b;
    b.Width = 8;
    b.Height = 6;
    b.Pixels.assign(48, 0xFF3366CCu);
    img::SaveJpeg(b, folder + "/holiday.jpg");
    img::SaveBmp(b, folder + "/drawing.bmp");
    const std::string web = "http://" + host + "/img/elsewhere.jpg";
    WriteText(folder + "/options.ini", "0612345678\r\n0\r\n0\r\n");
    WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
    WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
    WriteText(folder + "/files.ini", folder + "/holiday.jpg\r\n" + folder + "/drawing.bmp\r\n" + web + "\r\n");

    RunningProgram p(folder);
    ASSERT_TRUE(p.WaitReady());
    for (int row = 0; row < 3; ++row) {
        p.Ask({"clickrow", "vinForm1.ListView1", std::to_string(row)});
        p.Ask({"click", "vinForm1.JvXPButton4"});   // "2gsm"
        std::string fields;
        bool filled = WaitFor([&] {
            fields = p.Ask({"elements", "Form9.WebBrowser1", "input"});
            return fields.find("phoneNumber 0612345678") != std::string::npos;
        });
        EXPECT_TRUE(filled) << "row " << row << ": " << fields << p.Ask({"boxes"});
        EXPECT_EQ(p.Get("Form9", "visible"), "1");
        p.Ask({"hide", "Form9"});
    }
    // The local pictures were uploaded, the bitmap as a JPEG; the temporary
    // file is gone again.
    std::string record = ReadText(folder + "/services/requests.jsonl");
    EXPECT_NE(record.find("holiday.jpg"), std::string::npos);
    EXPECT_NE(record.find("quenvalbore.jpg"), std::string::npos);
    EXPECT_NE(record.find("elsewhere.jpg"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder + "/quenvalbore.jpg"));
    p.Ask({"close", "TvinForm1"});
    EXPECT_EQ(p.Wait(), 0);
    for (const char* name : {"VINTREL_CONVERTER_HOST", "VINTREL_UPLOAD_HOST", "VINTREL_CONTENT_HOST", "VINTREL_IMAGEHOST_HOST"})
        ::unsetenv(name);
    services.CloseStdin();
    services.Wait();
}

TEST(EndToEnd, AutomationServerStartsTheProgramThenHandsAddressesToIt)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    InstallProgram(folder);
    ASSERT_TRUE(RegisterAsInstalled(folder));
    auto addurl = [](const std::string& address) {
        return testing_support::Run({VINTREL_PROGRAM_DIR "/corvane-addurl", address, "a title"}).status;
    };
    // Nothing runs: the server starts the program with the address, which
    // appends it and hides in the tray.
    EXPECT_EQ(addurl("http://127.0.0.1:9/first.jpg"), 0);
    ASSERT_TRUE(WaitFor([] { return session::FindWindow("TvinForm1") != 0; }));
    auto ask = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {VINTREL_PROGRAM_DIR "/vintrel-auto", "--folder", folder});
        return testing_support::Run(words).out;
    };
    ASSERT_TRUE(WaitFor([&] { return ask({"get", "vinForm1.Label1", "text"}) == "http://127.0.0.1:9/first.jpg\n"; }));
    EXPECT_EQ(ask({"get", "vinForm1", "visible"}), "0\n");
    // Now it runs: two more go to it through the atom table, in order.
    EXPECT_EQ(addurl("http://127.0.0.1:9/second.jpg"), 0);
    EXPECT_EQ(addurl("http://127.0.0.1:9/third.jpg"), 0);
    EXPECT_TRUE(WaitFor([&] {
        return ReadText(folder + "/files.ini") ==
               "http://127.0.0.1:9/first.jpg\r\nhttp://127.0.0.1:9/second.jpg\r\nhttp://127.0.0.1:9/third.jpg\r\n";
    })) << ReadText(folder + "/files.ini");
    ask({"close", "TvinForm1"});
    EXPECT_TRUE(WaitFor([] { return session::FindWindow("TvinForm1") == 0; }));
    for (const char* name : {"VINTREL_UI", "VINTREL_AUTOMATION", "VINTREL_INVITATION_SEED"})
        ::unsetenv(name);
}

TEST(EndToEnd, TwoQuickCallsWithNothingRunningEndWithOneProgramHoldingBoth)
{
    IsolatedEnvironment env;
    const std::string folder = env.dir().path();
    InstallProgram(folder);
    ASSERT_TRUE(RegisterAsInstalled(folder));
    Child a({VINTREL_PROGRAM_DIR "/corvane-addurl", "http://127.0.0.1:9/a.jpg"});
    Child b({VINTREL_PROGRAM_DIR "/corvane-addurl", "http://127.0.0.1:9/b.jpg"});
    EXPECT_EQ(a.Wait(20000), 0);
    EXPECT_EQ(b.Wait(20000), 0);
    auto mains = [] {
        int n = 0;
        for (const auto& w : session::EnumWindows())
            n += w.className == "TvinForm1";
        return n;
    };
    // However the two starts met, one program is left and it holds both.
    EXPECT_TRUE(WaitFor([&] {
        std::string rows = testing_support::Run({VINTREL_PROGRAM_DIR "/vintrel-auto", "--folder", folder, "rows",
                                                 "vinForm1.ListView1"}).out;
        return mains() == 1 && rows.find("a.jpg") != std::string::npos && rows.find("b.jpg") != std::string::npos;
    }));
    std::string file = ReadText(folder + "/files.ini");
    EXPECT_NE(file.find("http://127.0.0.1:9/a.jpg\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("http://127.0.0.1:9/b.jpg\r\n"), std::string::npos) << file;
    testing_support::Run({VINTREL_PROGRAM_DIR "/vintrel-auto", "--folder", folder, "close", "TvinForm1"});
    EXPECT_TRUE(WaitFor([&] { return mains() == 0; }));
    for (const char* name : {"VINTREL_UI", "VINTREL_AUTOMATION", "VINTREL_INVITATION_SEED"})
        ::unsetenv(name);
}
