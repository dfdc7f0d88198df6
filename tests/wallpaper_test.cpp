// "Set as Wallpaper" from the main window's context menu.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/image/image.h"
#include "platform/session/registry.h"
#include "platform/shell/shell.h"
#include "settings/TForm3.h"
#include "sharing/wallpaper.h"
#include "tests/test_support.h"

using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

constexpr const char* kPrevious = "/previous/wallpaper.bmp";

struct WallpaperCommand : ::testing::Test {
    IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;

    std::string File(const std::string& name) const { return folder + "/" + name; }
    std::string Background() const { return File("vintrelbackground.bmp"); }

    void SetUp() override
    {
        shell::SetStartingEnabled(false);
        shell::ClearRecordedCalls();
        WriteText(File("color.ini"), "1\r\n2\r\n3\r\n");
        WriteText(File("url.ini"), "http://127.0.0.1:9/\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
        // Selecting rows here is only a way to pick the entry; the preview
        // (and its send invitation, drawn at random) is tested elsewhere.
        main->ListView1.OnSelectItem = nullptr;
        SetLanguage(0);
    }
    void TearDown() override { shell::SetStartingEnabled(true); }

    void SetLanguage(int index) { program->Form3->ComboBox2.SetItemIndex(index); }

    // A picture with a different colour in every pixel, so a picture read
    // back at another size or with its pixels moved does not compare equal.
    static ui::Bitmap Pattern(int width, int height)
    {
        ui::Bitmap b;
        b.Width = width;
        b.Height = height;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                b.Pixels.push_back(0xFF000000u | static_cast<std::uint32_t>(x * 6) << 16 |
                                   static_cast<std::uint32_t>(y * 9) << 8 | 0x40u);
        return b;
    }
    std::string Jpeg(const std::string& path) const
    {
        img::SaveJpeg(Pattern(37, 23), path);
        return path;
    }
    std::string Bmp(const std::string& path) const
    {
        img::SaveBmp(Pattern(5, 4), path);
        return path;
    }

    std::optional<std::string> Wallpaper() const
    {
        session::Registry reg(session::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly("\\Control Panel\\Desktop") || !reg.ValueExists("Wallpaper"))
            return std::nullopt;
        return reg.ReadString("Wallpaper");
    }

    std::vector<ui::ShownDialog> Boxes() const
    {
        std::vector<ui::ShownDialog> out;
        for (const auto& d : program->app.Shown())
            if (d.kind == "message")
                out.push_back(d);
        return out;
    }

    // The list holds exactly these entries, the given rows selected; then the
    // command as the menu gives it, inside the loop's error handling.
    void Run(const std::vector<std::string>& entries, const std::vector<int>& selected)
    {
        main->ListView1.Clear();
        for (const auto& e : entries)
            main->AddRow(e);
        for (int row : selected)
            main->ListView1.SetSelected(row, true);
        program->app.Deliver([&] { main->SetasWallpaper1.Click(); });
    }
};

// Width, height and bits per pixel from a Windows bitmap's headers.
struct BmpHeader {
    bool valid = false;
    std::int32_t width = 0, height = 0;
    int bits = 0;
};
BmpHeader ReadBmpHeader(const std::string& bytes)
{
    BmpHeader h;
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0)
        return h;
    auto le = [&](size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
        return v;
    };
    h.valid = le(2, 4) == bytes.size();
    h.width = static_cast<std::int32_t>(le(18, 4));
    h.height = static_cast<std::int32_t>(le(22, 4));
    h.bits = static_cast<int>(le(28, 2));
    return h;
}

} // namespace

TEST(WallpaperExtension, LastComponentFromItsLastDotLowered)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/p/a.bmp", ".bmp"},
        {"/p/A.BMP", ".bmp"},
        {"/p/a.JpG", ".jpg"},
        {"/p/a.tar.jpg", ".jpg"},
        {"/p/a.", "."},
        {"/p/.jpg", ".jpg"},
        {"/p.bmp/name", ""},
        {"/p/name", ""},
        {"name.BMP", ".bmp"},
        {"/p/\xC3\x89T\xC3\x89.\xC3\x89JPG", ".\xC3\x89jpg"},   // only A to Z are lowered
    };
    for (auto [path, ext] : cases)
        EXPECT_EQ(WallpaperExtension(path), ext) << path;
}

TEST_F(WallpaperCommand, ExtensionDecidesWhatIsSet)
{
    std::filesystem::create_directory(File("dir.bmp"));
    enum class Kind { Bmp, Jpeg };
    enum class Result { Itself, Background, Nothing };
    struct Case {
        std::string name;
        Kind content;
        Result result;
    };
    const Case cases[] = {
        {"plain.bmp", Kind::Bmp, Result::Itself},
        {"CAPITALS.BMP", Kind::Bmp, Result::Itself},
        {"two.jpg.bmp", Kind::Bmp, Result::Itself},
        {"photo.jpg", Kind::Jpeg, Result::Background},
        {"Photo.JPG", Kind::Jpeg, Result::Background},
        {"two.bmp.jpg", Kind::Jpeg, Result::Background},
        {"with space #1.jpg", Kind::Jpeg, Result::Background},
        {"photo.jpeg", Kind::Jpeg, Result::Nothing},
        {"picture.png", Kind::Jpeg, Result::Nothing},
        {"picture.gif", Kind::Bmp, Result::Nothing},
        {"noextension", Kind::Bmp, Result::Nothing},
        {"trailing.", Kind::Jpeg, Result::Nothing},
        {"dir.bmp/inside", Kind::Bmp, Result::Nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = File(c.name);
        if (c.content == Kind::Bmp)
            Bmp(path);
        else
            Jpeg(path);
        std::filesystem::remove(Background());
        ASSERT_TRUE(shell::SetWallpaper(kPrevious));

        Run({path}, {0});

        EXPECT_TRUE(Boxes().empty());
        switch (c.result) {
        case Result::Itself:
            EXPECT_EQ(Wallpaper(), path);
            EXPECT_FALSE(std::filesystem::exists(Background()));
            break;
        case Result::Background: {
            EXPECT_EQ(Wallpaper(), Background());
            // The JPEG decoded at full size, every pixel kept.
            const BmpHeader h = ReadBmpHeader(ReadText(Background()));
            EXPECT_TRUE(h.valid);
            EXPECT_EQ(h.width, 37);
            EXPECT_EQ(std::abs(h.height), 23);
            const ui::Bitmap written = img::LoadPicture(Background());
            const ui::Bitmap decoded = img::LoadPicture(path);
            EXPECT_EQ(written.Width, decoded.Width);
            EXPECT_EQ(written.Height, decoded.Height);
            EXPECT_TRUE(written.Pixels == decoded.Pixels);
            break;
        }
        case Result::Nothing:
            EXPECT_EQ(Wallpaper(), kPrevious);
            EXPECT_FALSE(std::filesystem::exists(Background()));
            break;
        }
    }
}

TEST_F(WallpaperCommand, TheBackgroundIsReplacedEachTime)
{
    const std::string first = Jpeg(File("first.jpg"));
    img::SaveJpeg(Pattern(12, 30), File("second.jpg"));
    Run({first}, {0});
    Run({File("second.jpg")}, {0});
    const ui::Bitmap written = img::LoadPicture(Background());
    EXPECT_EQ(written.Width, 12);
    EXPECT_EQ(written.Height, 30);
    EXPECT_EQ(Wallpaper(), Background());
    // Nothing is left behind from the rewrites.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().find("vintrelbackground") != std::string::npos)
            names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"vintrelbackground.bmp"});
}

TEST_F(WallpaperCommand, AddressThatIsNoFileIsNotPossible)
{
    std::filesystem::create_directory(File("folder.bmp"));
    struct Case {
        std::string address;
        int language;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"http://example.com/picture.bmp", 0, "Not possible"},
        {"http://example.com/picture.jpg", 1, "Impossible"},
        {File("missing.jpg"), 0, "Not possible"},
        {File("folder.bmp"), 1, "Impossible"},
        {"http://example.com/picture.jpg", 2, std::nullopt},
        {"http://example.com/picture.jpg", -1, std::nullopt},
    };
    ASSERT_TRUE(shell::SetWallpaper(kPrevious));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + " / " + std::to_string(c.language));
        SetLanguage(c.language);
        const size_t before = Boxes().size();
        Run({c.address}, {0});
        const auto boxes = Boxes();
        if (c.message) {
            ASSERT_EQ(boxes.size(), before + 1);
            EXPECT_EQ(boxes.back().text, *c.message);
            EXPECT_EQ(boxes.back().flags, ui::MB_OK);
        } else {
            EXPECT_EQ(boxes.size(), before);
        }
        EXPECT_EQ(Wallpaper(), kPrevious);
    }
    EXPECT_FALSE(std::filesystem::exists(Background()));
}

TEST_F(WallpaperCommand, HighestSelectedEntryIsUsed)
{
    const std::string a = Bmp(File("a.bmp")), b = Bmp(File("b.bmp")), c = Bmp(File("c.bmp"));
    // Selected from the bottom up: the list order counts, not the order of
    // selection.
    Run({a, b, c}, {2, 1});
    EXPECT_EQ(Wallpaper(), b);

    // A web entry above a usable one still decides.
    Run({"http://example.com/x.bmp", a}, {1, 0});
    EXPECT_EQ(Wallpaper(), b);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes().back().text, "Not possible");
}

TEST_F(WallpaperCommand, NothingSelectedDoesNothing)
{
    ASSERT_TRUE(shell::SetWallpaper(kPrevious));
    Run({Bmp(File("a.bmp")), "http://example.com/x.jpg"}, {});
    Run({}, {});
    EXPECT_EQ(Wallpaper(), kPrevious);
    EXPECT_TRUE(Boxes().empty());
}

// A picture that fails on the way leaves the wallpaper and the last
// background as they were. A JPEG or a background that cannot be written is
// the standard error box; a ".bmp" that holds no bitmap is refused as the
// desktop refuses it, without a word.
TEST_F(WallpaperCommand, FailuresLeaveTheWallpaperAsItWas)
{
    const std::string jpeg = Jpeg(File("good.jpg"));
    {
        const std::string good = ReadText(jpeg);
        WriteText(File("truncated.jpg"), good.substr(0, good.size() / 3));
        WriteText(File("png-inside.jpg"), "\x89PNG\r\n\x1a\n" + std::string(40, '\0'));
        WriteText(File("empty.jpg"), "");
        WriteText(File("text.bmp"), "this is not a bitmap\r\n");
        WriteText(File("jpeg-inside.bmp"), good);
        WriteText(File("empty.bmp"), "");
    }
    enum class Target { Writable, Directory, ReadOnly };
    struct Case {
        std::string name;
        Target background;
        bool errorBox;
    };
    const Case cases[] = {
        {"truncated.jpg", Target::Writable, true},
        {"png-inside.jpg", Target::Writable, true},
        {"empty.jpg", Target::Writable, true},
        {"good.jpg", Target::Directory, true},
        {"good.jpg", Target::ReadOnly, true},
        {"text.bmp", Target::Writable, false},
        {"jpeg-inside.bmp", Target::Writable, false},
        {"empty.bmp", Target::Writable, false},
    };
    const std::string oldBackground = "BM an earlier background";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " / " + std::to_string(static_cast<int>(c.background)));
        std::filesystem::remove_all(Background());
        if (c.background == Target::Directory) {
            std::filesystem::create_directory(Background());
        } else {
            WriteText(Background(), oldBackground);
            ::chmod(Background().c_str(), c.background == Target::ReadOnly ? 0444 : 0644);
        }
        ASSERT_TRUE(shell::SetWallpaper(kPrevious));
        const size_t before = Boxes().size();

        Run({File(c.name)}, {0});

        EXPECT_EQ(Wallpaper(), kPrevious);
        if (c.background == Target::Directory)
            EXPECT_TRUE(std::filesystem::is_directory(Background()));
        else
            EXPECT_EQ(ReadText(Background()), oldBackground);
        const auto boxes = Boxes();
        if (c.errorBox) {
            ASSERT_EQ(boxes.size(), before + 1);
            EXPECT_EQ(boxes.back().flags, ui::MB_OK | ui::MB_ICONSTOP);
            EXPECT_EQ(boxes.back().caption, program->app.Title);
            // The error names the file it failed on.
            const std::string failed = c.background == Target::Writable ? File(c.name) : Background();
            EXPECT_NE(boxes.back().text.find(failed), std::string::npos) << boxes.back().text;
        } else {
            EXPECT_EQ(boxes.size(), before);
        }
    }
    std::filesystem::remove_all(Background());
}
