// The bmp to jpg window: load turns the current bitmap into the working
// picture, save writes it as "quenvalbore.jpg" beside the program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/TForm10.h"
#include "platform/image/image.h"
#include "platform/sys/files.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

struct ConverterTest : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    TForm10* form = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }
    std::string Output() const { return File("quenvalbore.jpg"); }

    void SetUp() override
    {
        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        form = program->Form10.get();
    }

    // A bitmap with something in it: a gradient, so that a picture shifted,
    // cut or taken from elsewhere shows.
    ui::Bitmap Gradient(int width, int height, std::uint32_t tint) const
    {
        ui::Bitmap b;
        b.Width = width;
        b.Height = height;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                b.Pixels.push_back(0xFF000000u | tint | static_cast<std::uint32_t>((x * 255 / width) << 8) |
                                   static_cast<std::uint32_t>(y * 255 / height));
        return b;
    }
    std::string Bitmap(const std::string& name, const ui::Bitmap& picture) const
    {
        img::SaveBmp(picture, File(name));
        return File(name);
    }
    void Preview(const std::string& path)
    {
        program->vinForm1->Label1.SetCaption(path);
        program->vinForm1->webbrowser1.SetWidth(0);
    }
    size_t Boxes() const { return program->app.Shown().size(); }

    // The size djpeg reads from a JPEG file: "640 480".
    static std::string JpegSize(const std::string& path)
    {
        auto result = testing_support::Run({"/usr/bin/djpeg", "-pnm", path});
        if (result.status != 0 || !result.out.starts_with("P6\n"))
            return "not a JPEG";
        return result.out.substr(3, result.out.find('\n', 3) - 3);
    }
};

} // namespace

TEST_F(ConverterTest, BitmapBecomesAJpegOfItsSizeBesideTheProgram)
{
    const ui::Bitmap picture = Gradient(640, 480, 0x00800000u);
    Preview(Bitmap("photo.bmp", picture));
    form->Button1.Click();
    EXPECT_EQ(form->Image2.Width(), 640);
    EXPECT_EQ(form->Image2.Height(), 480);
    form->Button2.Click();

    EXPECT_EQ(JpegSize(Output()), "640 480");
    // What is saved has been through the codec twice: load draws the JPEG
    // rendering back over the bitmap, save encodes that again.
    const std::string once = img::EncodeJpeg(picture);
    EXPECT_EQ(ReadText(Output()), img::EncodeJpeg(img::DecodePicture(once, "once")));
    EXPECT_NE(ReadText(Output()), once);
}

TEST_F(ConverterTest, SecondConversionHoldsOnlyTheSecondPicture)
{
    Preview(Bitmap("big.bmp", Gradient(640, 480, 0x00FF0000u)));
    form->Button1.Click();
    form->Button2.Click();

    ui::Bitmap small;
    small.Width = 8;
    small.Height = 6;
    small.Pixels.assign(48, 0xFF0000FFu);
    Preview(Bitmap("small.bmp", small));
    form->Button1.Click();
    form->Button2.Click();

    EXPECT_EQ(JpegSize(Output()), "8 6");
    ui::Bitmap saved = img::LoadPicture(Output());
    for (std::uint32_t pixel : saved.Pixels) {
        EXPECT_LT((pixel >> 16) & 0xFF, 16u);   // no red from the first picture
        EXPECT_GT(pixel & 0xFF, 0xE0u);
    }
}

TEST_F(ConverterTest, FileThatIsNotABitmapIsRefused)
{
    struct Case {
        const char* name;
        std::string content;
    };
    ui::Bitmap tiny;
    tiny.Width = 2;
    tiny.Height = 2;
    tiny.Pixels.assign(4, 0xFF336699u);
    const Case cases[] = {
        {"jpeg.bmp", img::EncodeJpeg(tiny)},
        {"text.bmp", "BM but nothing after it"},
        {"empty.bmp", ""},
        {"missing.bmp", "(no file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content != "(no file)")
            WriteText(File(c.name), c.content);
        Preview(File(c.name));
        const size_t boxes = Boxes();
        program->app.Deliver([&] { form->Button1.Click(); });
        EXPECT_EQ(Boxes(), boxes + 1);
        EXPECT_NE(program->app.Shown().back().text.find(File(c.name)), std::string::npos)
            << program->app.Shown().back().text;
    }
    EXPECT_FALSE(sys::FileExists(Output()));
}

// The output is written whole or not at all; where it cannot be, save
// reports it and what was there stays.
TEST_F(ConverterTest, OutputThatCannotBeWritten)
{
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"a folder of that name",
         [&] { sys::MakeDirectories(Output(), 0755); },
         [&] { EXPECT_TRUE(sys::IsDirectory(Output())); }},
        {"a read-only file",
         [&] {
             WriteText(Output(), "old");
             ::chmod(Output().c_str(), 0444);
         },
         [&] { EXPECT_EQ(ReadText(Output()), "old"); }},
    };
    Preview(Bitmap("photo.bmp", Gradient(32, 24, 0)));
    form->Button1.Click();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        const size_t boxes = Boxes();
        program->app.Deliver([&] { form->Button2.Click(); });
        EXPECT_EQ(Boxes(), boxes + 1);
        EXPECT_NE(program->app.Shown().back().text.find(Output()), std::string::npos)
            << program->app.Shown().back().text;
        c.check();
        std::error_code ignored;
        ::chmod(Output().c_str(), 0644);
        std::filesystem::remove_all(Output(), ignored);
    }
}
