// The picture codecs: BMP and JPEG both ways, PNG and GIF made here with
// libpng and giflib, hand-built BMP variants, hostile and broken files, and
// our files checked by libjpeg-turbo's own cjpeg and djpeg when installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "platform/image/image.h"
#include "platform/sys/error.h"
#include "tests/test_support.h"

using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

constexpr uint32_t R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF, W = 0xFFFFFFFF, K = 0xFF000000,
                   Grey = 0xFF808080;

ui::Bitmap Make(int w, int h, const std::function<uint32_t(int, int)>& at)
{
    ui::Bitmap b{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.Pixels.push_back(at(x, y));
    return b;
}

// Red grows to the right, green downwards: a flip or a swapped channel shows.
ui::Bitmap Gradient(int w, int h)
{
    return Make(w, h, [&](int x, int y) {
        return 0xFF000080u | uint32_t(x * 255 / (w - 1)) << 16 | uint32_t(y * 255 / (h - 1)) << 8;
    });
}

std::string Hex(uint32_t v)
{
    char s[12];
    std::snprintf(s, sizeof s, "%08X", v);
    return s;
}

testing::AssertionResult Pixels(const ui::Bitmap& got, int w, int h, const std::vector<uint32_t>& want)
{
    if (got.Width != w || got.Height != h || got.Pixels.size() != want.size())
        return testing::AssertionFailure() << "size " << got.Width << "x" << got.Height << " with "
                                           << got.Pixels.size() << " pixels, want " << w << "x" << h;
    for (size_t i = 0; i < want.size(); ++i)
        if (got.Pixels[i] != want[i])
            return testing::AssertionFailure() << "pixel (" << i % w << "," << i / w << ") is "
                                               << Hex(got.Pixels[i]) << ", want " << Hex(want[i]);
    return testing::AssertionSuccess();
}

testing::AssertionResult Same(const ui::Bitmap& got, const ui::Bitmap& want)
{
    return Pixels(got, want.Width, want.Height, want.Pixels);
}

// The largest difference of one colour channel anywhere; alpha must be 0xFF.
int ColourError(const ui::Bitmap& a, const ui::Bitmap& b)
{
    EXPECT_EQ(a.Width, b.Width);
    EXPECT_EQ(a.Height, b.Height);
    int worst = 0;
    for (size_t i = 0; i < std::min(a.Pixels.size(), b.Pixels.size()); ++i) {
        EXPECT_EQ(a.Pixels[i] >> 24, 0xFFu) << "pixel " << i;
        for (int shift : {0, 8, 16})
            worst = std::max(worst, std::abs(int(a.Pixels[i] >> shift & 0xFF) - int(b.Pixels[i] >> shift & 0xFF)));
    }
    return worst;
}

double MeanError(const ui::Bitmap& a, const ui::Bitmap& b)
{
    EXPECT_EQ(a.Pixels.size(), b.Pixels.size());
    double sum = 0;
    for (size_t i = 0; i < std::min(a.Pixels.size(), b.Pixels.size()); ++i)
        for (int shift : {0, 8, 16})
            sum += std::abs(int(a.Pixels[i] >> shift & 0xFF) - int(b.Pixels[i] >> shift & 0xFF));
    return sum / double(3 * std::max<size_t>(a.Pixels.size(), 1));
}

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const sys::Error& e) {
        return e.what();
    }
    return "(no error)";
}

// ---- fixtures made with the reference libraries ----------------------------

std::string Le(uint32_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s.push_back(char(v >> (8 * i)));
    return s;
}

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int c : v)
        s.push_back(char(c));
    return s;
}

// A BMP file put together field by field. Rows are given in file order and
// padded here; palette entries are 0xRRGGBB.
struct BmpFile {
    int width = 3, height = 2; // negative height: top-down
    uint32_t headerSize = 40, bpp = 24, compression = 0, colorsUsed = 0;
    std::vector<uint32_t> masks = {};
    std::vector<uint32_t> palette = {};
    std::vector<std::string> rows = {};
    size_t cutEnd = 0;   // bytes taken off the end of the file
    uint32_t dataAt = 0; // where the pixels are said to start; 0: where they are

    std::string Build() const
    {
        std::string info;
        if (headerSize == 12) {
            info = Le(12, 4) + Le(width, 2) + Le(height, 2) + Le(1, 2) + Le(bpp, 2);
        } else {
            info = Le(headerSize, 4) + Le(width, 4) + Le(height, 4) + Le(1, 2) + Le(bpp, 2) + Le(compression, 4) +
                   Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(colorsUsed, 4) + Le(0, 4);
            std::string m;
            for (uint32_t mask : masks)
                m += Le(mask, 4);
            if (headerSize == 40)
                info += m;
            else
                info += (m + std::string(headerSize, '\0')).substr(0, headerSize - 40);
        }
        for (uint32_t c : palette)
            info += Le(c, headerSize == 12 ? 3 : 4);
        std::string pixels;
        for (const auto& row : rows)
            pixels += row + std::string((4 - row.size() % 4) % 4, '\0');
        const uint32_t at = 14 + uint32_t(info.size());
        std::string file = "BM" + Le(at + uint32_t(pixels.size()), 4) + Le(0, 4) + Le(dataAt ? dataAt : at, 4);
        file += info + pixels;
        return file.substr(0, file.size() - cutEnd);
    }
};

std::string PngOf(uint32_t format, int w, int h, const std::vector<uint8_t>& buffer,
                  const std::vector<uint8_t>& colormap = {}, int colormapEntries = 0)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = format;
    image.colormap_entries = colormapEntries;
    png_alloc_size_t size = 0;
    const void* map = colormap.empty() ? nullptr : colormap.data();
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, buffer.data(), 0, map)) << image.message;
    std::string out(size, '\0');
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, buffer.data(), 0, map)) << image.message;
    out.resize(size);
    return out;
}

// Replaces a PNG's width and height, with a correct checksum.
std::string WithPngSize(std::string png, uint32_t w, uint32_t h)
{
    auto be = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    png.replace(16, 8, be(w) + be(h));
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17));
    png.replace(29, 4, be(crc));
    return png;
}

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint32_t> pixels = {};  // colour indexes, in the order written
    std::vector<uint32_t> colours = {}; // a local table (0xRRGGBB), or none
    int transparent = -1;
    bool interlaced = false;
};

int WriteToString(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), size_t(length));
    return length;
}

ColorMapObject* MapOf(const std::vector<uint32_t>& colours)
{
    if (colours.empty())
        return nullptr;
    std::vector<GifColorType> c;
    for (uint32_t v : colours)
        c.push_back({GifByteType(v >> 16), GifByteType(v >> 8), GifByteType(v)});
    return GifMakeMapObject(int(c.size()), c.data()); // size must be a power of two
}

std::string GifOf(int sw, int sh, const std::vector<uint32_t>& global, const std::vector<GifFrame>& frames)
{
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToString, &error);
    EXPECT_NE(gif, nullptr);
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = MapOf(global);
    EXPECT_EQ(EGifPutScreenDesc(gif, sw, sh, 8, 0, map), GIF_OK);
    GifFreeMapObject(map);
    for (const auto& f : frames) {
        if (f.transparent >= 0) {
            GraphicsControlBlock gcb{};
            gcb.TransparentColor = f.transparent;
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext), GIF_OK);
        }
        ColorMapObject* local = MapOf(f.colours);
        EXPECT_EQ(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local), GIF_OK);
        GifFreeMapObject(local);
        std::vector<GifPixelType> line(size_t(f.width));
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x)
                line[size_t(x)] = GifPixelType(f.pixels[size_t(y * f.width + x)]);
            EXPECT_EQ(EGifPutLine(gif, line.data(), f.width), GIF_OK);
        }
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    return out;
}

// Cuts a GIF's global colour table down to its first `entries` (0, or a power
// of two), leaving the picture data as it is.
std::string WithGlobalTable(std::string gif, int entries)
{
    const int flags = static_cast<unsigned char>(gif[10]);
    EXPECT_TRUE(flags & 0x80) << "no global table to cut";
    const int had = 2 << (flags & 7);
    gif.erase(size_t(13 + 3 * entries), size_t(3 * (had - entries)));
    const int bits = entries ? std::countr_zero(unsigned(entries)) - 1 : 0;
    gif[10] = char(entries ? (flags & ~0x07) | bits : flags & ~0x87);
    return gif;
}

// A JPEG written straight with libjpeg: 8x8 blocks of one colour each.
std::string JpegOf(J_COLOR_SPACE space, int components, int w, int h, const std::vector<uint8_t>& samples)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&samples[c.next_scanline * size_t(w * components)]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string out(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return out;
}

// ---- BMP -------------------------------------------------------------------

TEST(PictureBmp, RoundTripKeepsEveryPixelAtEveryRowPadding)
{
    // Widths 1 to 4 leave 1, 2, 3 and 0 bytes of padding per row.
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {3, 2}, {4, 5}, {5, 4}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        auto picture = Make(w, h, [&](int x, int y) { return uint32_t(x * 0x010305 + y * 0x300C0B) * 0x9E3779B1u; });
        auto opaque = picture;
        for (auto& p : opaque.Pixels)
            p |= 0xFF000000u; // 24-bit: no alpha survives
        EXPECT_TRUE(Same(img::DecodePicture(img::EncodeBmp(picture), "mem.bmp"), opaque));
    }
}

TEST(PictureBmp, WritesTheWindowsLayout)
{
    // 2x2: top row red, green; bottom row blue, white.
    const std::string want = Bytes({'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                                    40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                                    16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0,   // bottom row first, B G R
                                    0, 0, 0xFF, 0, 0xFF, 0, 0, 0});
    EXPECT_EQ(img::EncodeBmp(ui::Bitmap{2, 2, {R, G, B, W}}), want);
}

TEST(PictureBmp, DecodesEveryLayout)
{
    // The picture in every case but the last two: red green blue / white black grey.
    const std::vector<uint32_t> six = {R, G, B, W, K, Grey};
    const std::vector<uint32_t> sixColours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0, 0x808080};
    const std::string rgbTop = Bytes({0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0});
    const std::string rgbBottom = Bytes({0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80, 0x80, 0x80});
    const std::string indexTop = Bytes({0, 1, 2}), indexBottom = Bytes({3, 4, 5});
    struct Case {
        const char* name;
        BmpFile file;
        std::vector<uint32_t> want;
    };
    const std::vector<Case> cases = {
        {"24-bit, bottom-up", {.rows = {rgbBottom, rgbTop}}, six},
        {"24-bit, top-down", {.height = -2, .rows = {rgbTop, rgbBottom}}, six},
        {"24-bit, last row unpadded", {.rows = {rgbBottom, rgbTop}, .cutEnd = 3}, six},
        {"8-bit palette", {.bpp = 8, .colorsUsed = 6, .palette = sixColours, .rows = {indexBottom, indexTop}}, six},
        {"8-bit palette, top-down",
         {.height = -2, .bpp = 8, .colorsUsed = 6, .palette = sixColours, .rows = {indexTop, indexBottom}}, six},
        {"8-bit palette shorter than the depth, count not given",
         {.bpp = 8, .palette = sixColours, .rows = {indexBottom, indexTop}}, six},
        {"4-bit palette",
         {.bpp = 4, .colorsUsed = 6, .palette = sixColours, .rows = {Bytes({0x34, 0x50}), Bytes({0x01, 0x20})}}, six},
        {"OS/2 header, 8-bit palette",
         {.headerSize = 12, .bpp = 8, .palette = sixColours, .rows = {indexBottom, indexTop}}, six},
        {"OS/2 header, 24-bit", {.headerSize = 12, .rows = {rgbBottom, rgbTop}}, six},
        {"16-bit 5-5-5",
         {.bpp = 16, .rows = {Bytes({0xFF, 0x7F, 0, 0, 0x10, 0x42}), Bytes({0, 0x7C, 0xE0, 0x03, 0x1F, 0})}},
         {R, G, B, W, K, 0xFF838383}},
        {"16-bit 5-6-5 masks after the header",
         {.bpp = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F},
          .rows = {Bytes({0xFF, 0xFF, 0, 0, 0x10, 0x84}), Bytes({0, 0xF8, 0xE0, 0x07, 0x1F, 0})}},
         {R, G, B, W, K, 0xFF838183}},
        {"32-bit, spare byte ignored",
         {.bpp = 32, .rows = {Bytes({0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0x12, 0x80, 0x80, 0x80, 0}),
                              Bytes({0, 0, 0xFF, 0x7F, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0x01})}},
         six},
        {"32-bit with alpha mask, V5 header",
         {.headerSize = 124, .bpp = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
          .rows = {Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x80, 0x80, 0x80, 0x80}),
                   Bytes({0, 0, 0xFF, 0x40, 0, 0xFF, 0, 0xFF, 0xFF, 0, 0, 0xFF})}},
         {0x40FF0000, G, B, W, 0x00000000, 0x80808080}},
        {"32-bit with alpha mask but no alpha anywhere",
         {.headerSize = 56, .bpp = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
          .rows = {Bytes({0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0x80, 0x80, 0x80, 0}),
                   Bytes({0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0})}},
         six},
        {"1-bit palette",
         {.bpp = 1, .palette = {0, 0xFFFFFF}, .rows = {Bytes({0x20}), Bytes({0xA0})}},
         {W, K, W, K, K, W}},
        {"8-bit index past the palette is black",
         {.bpp = 8, .colorsUsed = 1, .palette = {0xFF0000}, .rows = {Bytes({0, 0, 0}), Bytes({0, 200, 255})}},
         {R, K, K, R, R, R}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Pixels(img::DecodePicture(c.file.Build(), "case.bmp"), 3, 2, c.want));
    }
}

// ---- JPEG ------------------------------------------------------------------

TEST(PictureJpeg, RoundTripIsCloseAndOpaque)
{
    // Sizes off the 16-pixel blocks; one pixel transparent to show alpha goes.
    auto picture = Gradient(61, 37);
    picture.Pixels[5] &= 0x00FFFFFF;
    auto decoded = img::DecodePicture(img::EncodeJpeg(picture), "mem.jpg");
    EXPECT_LE(ColourError(decoded, picture), 12);
}

TEST(PictureJpeg, QualityTradesSizeForFidelity)
{
    const auto picture = Make(64, 64, [](int x, int y) { return 0xFF000000u | uint32_t(x * 7 ^ y * 13) * 0x010101u; });
    const std::string low = img::EncodeJpeg(picture, 10), high = img::EncodeJpeg(picture, 100);
    EXPECT_LT(low.size(), high.size() / 2);
    EXPECT_LT(MeanError(img::DecodePicture(high, "high"), picture) * 4,
              MeanError(img::DecodePicture(low, "low"), picture));
}

TEST(PictureJpeg, DecodesGreyAndCmykFiles)
{
    // 16x8: left half one colour, right half another.
    std::vector<uint8_t> grey, cmyk;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            grey.push_back(x < 8 ? 0x30 : 0xC0);
            // Adobe CMYK is stored inverted (255 = no ink): red, then blue.
            for (int v : x < 8 ? std::vector<int>{255, 0, 0, 255} : std::vector<int>{0, 0, 255, 255})
                cmyk.push_back(uint8_t(v));
        }
    auto halves = [](uint32_t left, uint32_t right) {
        return Make(16, 8, [=](int x, int) { return x < 8 ? left : right; });
    };
    const auto greyJpeg = img::DecodePicture(JpegOf(JCS_GRAYSCALE, 1, 16, 8, grey), "grey.jpg");
    EXPECT_LE(ColourError(greyJpeg, halves(0xFF303030, 0xFFC0C0C0)), 2);
    EXPECT_LE(ColourError(img::DecodePicture(JpegOf(JCS_CMYK, 4, 16, 8, cmyk), "cmyk.jpg"), halves(R, B)), 6);
}

TEST(PictureJpeg, MissingEndMarkerStillGivesThePicture)
{
    const auto picture = Gradient(40, 24);
    const std::string jpeg = img::EncodeJpeg(picture);
    ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
    const auto whole = img::DecodePicture(jpeg, "whole.jpg");
    EXPECT_TRUE(Same(img::DecodePicture(jpeg.substr(0, jpeg.size() - 2), "cut.jpg"), whole));
}

// ---- PNG -------------------------------------------------------------------

TEST(PicturePng, DecodesEveryColourTypeWithStraightAlpha)
{
    struct Case {
        const char* name;
        std::string png;
        std::vector<uint32_t> want; // 2x2
    };
    const std::vector<Case> cases = {
        {"RGBA", PngOf(PNG_FORMAT_RGBA, 2, 2, {255, 0, 0, 128, 0, 0, 0, 0, 10, 20, 30, 255, 255, 255, 255, 1}),
         {0x80FF0000, 0x00000000, 0xFF0A141E, 0x01FFFFFF}},
        {"RGB", PngOf(PNG_FORMAT_RGB, 2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3}), {R, G, B, 0xFF010203}},
        {"grey", PngOf(PNG_FORMAT_GRAY, 2, 2, {0, 0x40, 0x80, 0xFF}), {K, 0xFF404040, Grey, W}},
        {"grey and alpha", PngOf(PNG_FORMAT_GA, 2, 2, {0x40, 0xFF, 0x40, 0x80, 0xFF, 0, 0, 0x20}),
         {0xFF404040, 0x80404040, 0x00FFFFFF, 0x20000000}},
        {"palette with alpha",
         PngOf(PNG_FORMAT_RGBA_COLORMAP, 2, 2, {0, 1, 2, 1}, {255, 0, 0, 255, 0, 0, 255, 100, 0, 255, 0, 0}, 3),
         {R, 0x640000FF, 0x0000FF00, 0x640000FF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Pixels(img::DecodePicture(c.png, "case.png"), 2, 2, c.want));
    }
}

TEST(PicturePng, DecodesSixteenBitFiles)
{
    // Linear 16-bit samples; full and none are exact in any gamma.
    std::vector<uint16_t> samples = {65535, 0, 0, 0, 65535, 0, 0, 0, 65535, 65535, 65535, 65535};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 2;
    image.format = PNG_FORMAT_LINEAR_RGB;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, samples.data(), 0, nullptr));
    std::string png(size, '\0');
    ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, samples.data(), 0, nullptr));
    png.resize(size);
    ASSERT_EQ(png[24], 16) << "bit depth in IHDR";
    EXPECT_TRUE(Pixels(img::DecodePicture(png, "deep.png"), 2, 2, {R, G, B, W}));
}

// ---- GIF -------------------------------------------------------------------

TEST(PictureGif, FirstFrameOnItsCanvas)
{
    const std::vector<uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0, 0x808080, 0x123456, 0x654321};
    std::vector<uint32_t> sixteen;
    for (uint32_t i = 0; i < 16; ++i)
        sixteen.push_back(i * 0x100F01);
    std::vector<uint32_t> tenRows;
    for (uint32_t y = 0; y < 10; ++y)
        tenRows.push_back(0xFF000000 | y * 0x100F01);
    // An interlaced frame's rows travel in four passes: 0 8 | 4 | 2 6 | 1 3 5 7 9.
    const std::vector<uint32_t> interlacedOrder = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};

    struct Case {
        const char* name;
        std::string gif;
        int w, h;
        std::vector<uint32_t> want;
    };
    const std::vector<Case> cases = {
        {"one frame filling the screen",
         GifOf(3, 2, colours, {{.width = 3, .height = 2, .pixels = {0, 1, 2, 3, 4, 5}}}),
         3, 2, {R, G, B, W, K, Grey}},
        {"interlaced",
         GifOf(1, 10, sixteen, {{.width = 1, .height = 10, .pixels = interlacedOrder, .interlaced = true}}),
         1, 10, tenRows},
        {"transparent colour",
         GifOf(3, 1, colours, {{.width = 3, .height = 1, .pixels = {0, 6, 0}, .transparent = 6}}),
         3, 1, {R, 0, R}},
        {"frame inside a larger screen",
         GifOf(4, 3, colours, {{.left = 1, .top = 1, .width = 2, .height = 2, .pixels = {0, 1, 2, 3}}}),
         4, 3, {0, 0, 0, 0, 0, R, G, 0, 0, B, W, 0}},
        {"local colour table wins",
         GifOf(2, 1, colours, {{.width = 2, .height = 1, .pixels = {0, 1}, .colours = {0x0000FF, 0xFFFFFF}}}),
         2, 1, {B, W}},
        {"only the first frame",
         GifOf(2, 1, colours, {{.width = 2, .height = 1, .pixels = {0, 0}},
                               {.width = 2, .height = 1, .pixels = {1, 1}}}),
         2, 1, {R, R}},
        {"no global table",
         GifOf(2, 1, {}, {{.width = 2, .height = 1, .pixels = {1, 0}, .colours = {0x0000FF, 0xFFFFFF}}}),
         2, 1, {W, B}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Pixels(img::DecodePicture(c.gif, "case.gif"), c.w, c.h, c.want));
    }
}

TEST(PictureGif, IndexPastTheColourTableIsBlack)
{
    // Written with four colours and index 3, then the table cut to two: the
    // picture data still says 3.
    const std::vector<uint32_t> four = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    const std::string gif = WithGlobalTable(GifOf(2, 1, four, {{.width = 2, .height = 1, .pixels = {0, 3}}}), 2);
    EXPECT_TRUE(Pixels(img::DecodePicture(gif, "short-table.gif"), 2, 1, {R, K}));
}

// ---- broken and hostile input -----------------------------------------------

TEST(PictureBadInput, EveryFailureIsAnErrorNamingTheFile)
{
    const std::string jpeg = img::EncodeJpeg(Gradient(300, 200));
    std::string hugeJpeg = jpeg;
    {
        auto sof = hugeJpeg.find("\xFF\xC0");
        ASSERT_NE(sof, std::string::npos);
        hugeJpeg.replace(sof + 5, 4, Bytes({0xEA, 0x60, 0xEA, 0x60})); // 60000 x 60000
    }
    const std::string png = PngOf(PNG_FORMAT_RGB, 16, 16, std::vector<uint8_t>(16 * 16 * 3, 0x55));
    std::string badCrc = png;
    badCrc[30] = char(badCrc[30] ^ 0x5A);
    const std::vector<uint32_t> two = {0xFF0000, 0x0000FF};
    std::vector<uint32_t> noise;
    for (uint32_t i = 0; i < 64 * 64; ++i)
        noise.push_back(i * 2654435761u >> 31);
    const std::string gif = GifOf(64, 64, two, {{.width = 64, .height = 64, .pixels = noise}});
    std::string gifHuge = gif;
    gifHuge.replace(6, 4, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    const std::string row(9, '\x10'); // 3 pixels of 24 bits

    struct Case {
        const char* name;
        std::string bytes; // "-" for no file at all
        const char* says;
    };
    const std::vector<Case> cases = {
        {"missing file", "-", "No such file"},
        {"empty file", "", "the file is empty"},
        {"text file", "hello, world\n", "not a JPEG, BMP, PNG or GIF picture"},
        {"JPEG cut in half", jpeg.substr(0, jpeg.size() / 2), "truncated JPEG data"},
        {"JPEG cut inside its headers", jpeg.substr(0, 100), "truncated JPEG data"},
        {"JPEG marker then rubbish", "\xFF\xD8\xFF" + std::string(200, 'x'), "bad JPEG data"},
        {"JPEG of 60000 x 60000", hugeJpeg, "JPEG picture too large (60000x60000)"},
        {"PNG cut in half", png.substr(0, png.size() / 2), "truncated PNG data"},
        {"PNG cut after its signature", png.substr(0, 8), "truncated PNG data"},
        {"PNG header checksum wrong", badCrc, "bad PNG data"},
        {"PNG of 40000 x 1", WithPngSize(png, 40000, 1), "PNG picture too large (40000x1)"},
        {"PNG of 20000 x 20000", WithPngSize(png, 20000, 20000), "PNG picture too large (20000x20000)"},
        {"BMP of just its magic", "BM", "truncated BMP data"},
        {"BMP zero wide", BmpFile{.width = 0, .rows = {""}}.Build(), "BMP picture has no pixels (0x2)"},
        {"BMP negative width", BmpFile{.width = -3, .rows = {row}}.Build(), "BMP picture has no pixels (-3x2)"},
        {"BMP zero high", BmpFile{.height = 0}.Build(), "BMP picture has no pixels (3x0)"},
        {"BMP of 1000000 x 1000000", BmpFile{.width = 1000000, .height = 1000000, .rows = {row}}.Build(),
         "BMP picture too large"},
        {"BMP of 20000 x 20000", BmpFile{.width = 20000, .height = 20000, .rows = {row}}.Build(),
         "BMP picture too large"},
        {"BMP height of -2^31", BmpFile{.height = INT32_MIN, .rows = {row}}.Build(),
         "BMP picture too large (3x2147483648)"},
        {"BMP pixels cut short", BmpFile{.rows = {row, row}, .cutEnd = 4}.Build(), "truncated BMP data"},
        {"BMP palette past the end", BmpFile{.bpp = 8, .colorsUsed = 256, .dataAt = 2000}.Build(),
         "truncated BMP data"},
        {"BMP RLE", BmpFile{.bpp = 8, .compression = 1, .palette = two, .rows = {row, row}}.Build(),
         "RLE-compressed BMP"},
        {"BMP of 7 bits", BmpFile{.bpp = 7, .rows = {row, row}}.Build(), "unsupported BMP bit depth 7"},
        {"BMP header of 20 bytes", BmpFile{.headerSize = 20}.Build(), "unsupported BMP header size 20"},
        {"GIF rubbish", "GIF89a" + std::string(40, '\x7F'), "GIF data"},
        {"GIF cut inside its picture", gif.substr(0, gif.size() * 2 / 3), "truncated GIF data"},
        {"GIF without a picture", GifOf(4, 4, two, {}), "GIF file without a picture"},
        {"GIF screen of 65535 x 65535", gifHuge, "GIF picture too large (65535x65535)"},
        {"GIF without colours", WithGlobalTable(GifOf(2, 1, two, {{.width = 2, .height = 1, .pixels = {0, 1}}}), 0),
         "GIF picture without colours"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".pic");
        if (c.bytes != "-")
            WriteText(path, c.bytes);
        const std::string message = ErrorOf([&] { img::LoadPicture(path); });
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

TEST(PictureBadInput, DamagedFilesOnlyEverThrowSysError)
{
    // Valid files of each format with bytes overwritten at random (a fixed
    // seed): decoding gives a picture or a sys::Error, never anything else,
    // and never touches memory it should not (run under the sanitizers).
    const std::vector<std::pair<const char*, std::string>> sources = {
        {"jpg", img::EncodeJpeg(Gradient(40, 30))},
        {"bmp", BmpFile{.bpp = 8, .palette = {1, 2, 3, 4, 5, 6}, .rows = {Bytes({3, 4, 5}), Bytes({0, 1, 2})}}.Build()},
        {"png", PngOf(PNG_FORMAT_RGBA_COLORMAP, 2, 2, {0, 1, 2, 1}, {255, 0, 0, 255, 0, 0, 255, 100, 0, 255, 0, 0}, 3)},
        {"gif", GifOf(3, 5, {0xFF0000, 0x00FF00},
                      {{.width = 3, .height = 5, .pixels = std::vector<uint32_t>(15, 1), .interlaced = true}})},
    };
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    for (const auto& [format, good] : sources) {
        int decoded = 0, refused = 0;
        for (int round = 0; round < 400; ++round) {
            std::string bytes = good;
            for (int hits = 1 + next() % 4; hits > 0; --hits)
                bytes[next() % bytes.size()] = char(next());
            if (next() % 4 == 0)
                bytes.resize(next() % bytes.size());
            try {
                const auto picture = img::DecodePicture(bytes, "damaged");
                ASSERT_EQ(picture.Pixels.size(), size_t(picture.Width) * size_t(picture.Height)) << format;
                ++decoded;
            } catch (const sys::Error&) {
                ++refused;
            }
        }
        // Both outcomes happen, or the damage was not exercising anything.
        EXPECT_GT(decoded, 0) << format;
        EXPECT_GT(refused, 0) << format;
    }
}

TEST(PictureBadInput, MemoryDecodingNamesTheGivenName)
{
    EXPECT_EQ(ErrorOf([] { img::DecodePicture("GIF87a", "attachment 3"); }),
              "cannot read picture attachment 3: truncated GIF data");
    EXPECT_EQ(ErrorOf([] { img::DecodePicture("", "clipboard"); }),
              "cannot read picture clipboard: the file is empty");
}

// ---- saving ------------------------------------------------------------------

TEST(PictureSave, FilesReadBackAndReplaceOldOnes)
{
    TempDir dir;
    const auto picture = Gradient(30, 20);
    const std::string bmp = dir.file("a.bmp"), jpg = dir.file("a.jpg");
    WriteText(bmp, "old contents");
    img::SaveBmp(picture, bmp);
    img::SaveJpeg(picture, jpg, 95);
    EXPECT_TRUE(Same(img::LoadPicture(bmp), picture));
    EXPECT_LE(ColourError(img::LoadPicture(jpg), picture), 12);
    EXPECT_EQ(ReadText(jpg), img::EncodeJpeg(picture, 95));
    // Named .jpg but holding a BMP: the content decides.
    const std::string misnamed = dir.file("really-a-bmp.jpg");
    img::SaveBmp(picture, misnamed);
    EXPECT_TRUE(Same(img::LoadPicture(misnamed), picture));
}

TEST(PictureSave, RefusesBadPicturesAndLeavesTheFileAlone)
{
    TempDir dir;
    const std::string path = dir.file("keep.bmp");
    WriteText(path, "old contents");
    struct Case {
        const char* name;
        ui::Bitmap picture;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"empty", {}, "the picture is empty"},
        {"negative width", {-2, 2, {1, 2, 3, 4}}, "the picture is empty"},
        {"pixels missing", {2, 2, {R, G, B}}, "the picture's pixels do not match its size"},
        {"pixels to spare", {1, 1, {R, G}}, "the picture's pixels do not match its size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf([&] { img::SaveBmp(c.picture, path); }), "cannot write " + path + ": " + c.says);
        EXPECT_EQ(ErrorOf([&] { img::SaveJpeg(c.picture, path); }), "cannot write " + path + ": " + c.says);
        EXPECT_EQ(ErrorOf([&] { img::EncodeBmp(c.picture); }), std::string("cannot encode picture: ") + c.says);
        EXPECT_EQ(ErrorOf([&] { img::EncodeJpeg(c.picture); }), std::string("cannot encode picture: ") + c.says);
    }
    EXPECT_EQ(ReadText(path), "old contents");
    const std::string nowhere = dir.file("no/such/folder/a.bmp");
    EXPECT_NE(ErrorOf([&] { img::SaveBmp(Gradient(4, 4), nowhere); }).find(nowhere), std::string::npos);
}

TEST(PictureFileName, KnowsThePictureExtensions)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"a.jpg", true}, {"A.JPG", true}, {"photo.Jpeg", true}, {"/x/y/scan.bmp", true}, {"b.PNG", true},
        {"c.gif", true}, {"archive.jpg.txt", false}, {"a.tif", false}, {"jpg", false}, {"a.", false},
        {"", false}, {"folder.jpg/readme", false}, {"a.jpgx", false},
    };
    for (const auto& [name, want] : cases)
        EXPECT_EQ(img::IsPictureFileName(name), want) << name;
}

// ---- checked by libjpeg-turbo's own tools -------------------------------------

std::string FindTool(const std::string& name)
{
    std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(path, folder, ':');)
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return {};
}

// A binary PPM (P6) or PGM (P5) as djpeg writes them.
ui::Bitmap ReadPnm(const std::string& bytes)
{
    std::istringstream in(bytes);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    const int channels = magic == "P6" ? 3 : 1;
    if (!in || (magic != "P6" && magic != "P5") || max != 255) {
        ADD_FAILURE() << "not a PPM or PGM file: " << magic;
        return {};
    }
    const std::string data = bytes.substr(size_t(in.tellg()));
    EXPECT_EQ(data.size(), size_t(w * h * channels));
    return Make(w, h, [&](int x, int y) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + (y * w + x) * channels;
        return channels == 3 ? 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2] : 0xFF000000u | p[0] * 0x010101u;
    });
}

class PictureCheckedByTools : public testing::Test {
protected:
    void SetUp() override
    {
        m_djpeg = FindTool("djpeg");
        m_cjpeg = FindTool("cjpeg");
        if (m_djpeg.empty() || m_cjpeg.empty())
            GTEST_SKIP() << "cjpeg/djpeg not installed (Debian package libjpeg-turbo-progs)";
    }
    std::string Djpeg(std::vector<std::string> options, const std::string& jpeg, const std::string& out)
    {
        options.insert(options.begin(), m_djpeg);
        for (const std::string& a : {std::string("-outfile"), out, jpeg})
            options.push_back(a);
        EXPECT_EQ(testing_support::Run(options).status, 0) << jpeg;
        return ReadText(out);
    }
    TempDir m_dir;
    std::string m_djpeg, m_cjpeg;
};

TEST_F(PictureCheckedByTools, DjpegReadsOurJpegAsWeDo)
{
    const std::string jpg = m_dir.file("ours.jpg");
    img::SaveJpeg(Gradient(61, 37), jpg);
    EXPECT_TRUE(Same(ReadPnm(Djpeg({"-ppm"}, jpg, m_dir.file("ours.ppm"))), img::LoadPicture(jpg)));
}

TEST_F(PictureCheckedByTools, CjpegReadsOurBmp)
{
    const auto picture = Gradient(50, 30);
    const std::string bmp = m_dir.file("ours.bmp"), jpg = m_dir.file("from-bmp.jpg");
    img::SaveBmp(picture, bmp);
    ASSERT_EQ(testing_support::Run({m_cjpeg, "-quality", "100", "-outfile", jpg, bmp}).status, 0);
    EXPECT_LE(ColourError(img::LoadPicture(jpg), picture), 12);
}

TEST_F(PictureCheckedByTools, WeReadDjpegsBmpFiles)
{
    const std::string jpg = m_dir.file("source.jpg");
    img::SaveJpeg(Gradient(45, 23), jpg);
    // The same options once for a BMP, once for a PNM to compare against.
    const std::vector<std::vector<std::string>> variants = {
        {}, {"-colors", "16"}, {"-colors", "8"}, {"-grayscale"}, {"-os2"}, {"-os2", "-colors", "16"},
    };
    for (const auto& options : variants) {
        std::string name;
        for (const auto& o : options)
            name += o + " ";
        SCOPED_TRACE(name);
        auto bmpOptions = options, pnmOptions = options;
        if (std::find(options.begin(), options.end(), "-os2") == options.end())
            bmpOptions.insert(bmpOptions.begin(), "-bmp");
        else
            pnmOptions.erase(std::find(pnmOptions.begin(), pnmOptions.end(), "-os2"));
        pnmOptions.insert(pnmOptions.begin(), "-pnm");
        const std::string bmp = m_dir.file("djpeg.bmp");
        Djpeg(bmpOptions, jpg, bmp);
        EXPECT_TRUE(Same(img::LoadPicture(bmp), ReadPnm(Djpeg(pnmOptions, jpg, m_dir.file("djpeg.pnm")))));
    }
}

} // namespace
