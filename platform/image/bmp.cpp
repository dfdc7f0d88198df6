// Windows bitmaps. The format is a plain container, so we read and write it
// ourselves: the file header, an OS/2 (12 bytes) or Windows (40 to 124 bytes)
// info header, an optional palette or colour masks, then rows padded to four
// bytes, bottom row first unless the height is negative. Every offset is
// checked against the file before it is read.
#include "platform/image/codecs.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace img::detail {

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

uint32_t Le16(const unsigned char* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The file's bytes; every read is checked against the end.
class Reader {
public:
    explicit Reader(const std::string& bytes)
        : m_p(reinterpret_cast<const unsigned char*>(bytes.data())), m_n(bytes.size()) {}
    const unsigned char* at(uint64_t offset, uint64_t length) const
    {
        if (offset > m_n || length > m_n - offset)
            throw BadPicture("truncated BMP data");
        return m_p + offset;
    }
    uint32_t u16(uint64_t offset) const { return Le16(at(offset, 2)); }
    uint32_t u32(uint64_t offset) const { return Le32(at(offset, 4)); }

private:
    const unsigned char* m_p;
    size_t m_n;
};

// One colour channel under a mask, scaled to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    explicit Channel(uint32_t m) : mask(m), shift(m ? std::countr_zero(m) : 0) {}
    uint32_t operator()(uint32_t v, uint32_t none) const
    {
        if (!mask)
            return none;
        const uint64_t top = mask >> shift;
        return static_cast<uint32_t>(uint64_t((v & mask) >> shift) * 255 / top);
    }
};

} // namespace

ui::Bitmap DecodeBmp(const std::string& bytes)
{
    Reader in(bytes);
    const uint32_t dataAt = in.u32(10);
    const uint32_t headerSize = in.u32(14);
    long long width = 0, height = 0;
    uint32_t bpp = 0, compression = kRgb, colorsUsed = 0;
    bool topDown = false;
    int entrySize = 4; // palette entries: B, G, R and a spare byte
    if (headerSize == 12) {
        width = in.u16(18);
        height = in.u16(20);
        bpp = in.u16(24);
        entrySize = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        width = static_cast<int32_t>(in.u32(18));
        height = static_cast<int32_t>(in.u32(22));
        bpp = in.u16(28);
        compression = in.u32(30);
        colorsUsed = in.u32(46);
        topDown = height < 0;
        height = topDown ? -height : height;
    } else {
        throw BadPicture("unsupported BMP header size " + std::to_string(headerSize));
    }

    const uint64_t paletteAt = 14 + uint64_t(headerSize);
    uint32_t masks[4] = {};
    if (compression == kRgb) {
        if (bpp == 16)
            masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        else if (bpp == 32)
            masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        else if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
            throw BadPicture("unsupported BMP bit depth " + std::to_string(bpp));
    } else if (compression == kBitFields || compression == kAlphaBitFields) {
        if (bpp != 16 && bpp != 32)
            throw BadPicture("unsupported BMP bit depth " + std::to_string(bpp) + " with colour masks");
        // The masks follow a 40-byte header and are the start of a longer one.
        const int count = compression == kAlphaBitFields || headerSize >= 56 ? 4 : 3;
        for (int i = 0; i < count; ++i)
            masks[i] = in.u32(54 + 4 * i);
    } else if (compression == kRle8 || compression == kRle4) {
        throw BadPicture("RLE-compressed BMP pictures are not supported");
    } else {
        throw BadPicture("unsupported BMP compression " + std::to_string(compression));
    }
    CheckSize("BMP", width, height);

    std::vector<uint32_t> palette;
    if (bpp <= 8) {
        uint64_t count = colorsUsed && colorsUsed < (1u << bpp) ? colorsUsed : (1u << bpp);
        // Writers that get the count wrong still put the pixels after the
        // palette: never read palette entries from the pixels.
        if (dataAt >= paletteAt)
            count = std::min<uint64_t>(count, (dataAt - paletteAt) / entrySize);
        const unsigned char* p = in.at(paletteAt, count * entrySize);
        for (uint64_t i = 0; i < count; ++i, p += entrySize)
            palette.push_back(0xFF000000u | p[2] << 16 | p[1] << 8 | p[0]);
    }

    const uint64_t rowBytes = (uint64_t(width) * bpp + 7) / 8;
    const uint64_t stride = (rowBytes + 3) & ~uint64_t(3);
    // The last row's padding is often left out; its pixels may not be.
    const unsigned char* data = in.at(dataAt, stride * (height - 1) + rowBytes);

    ui::Bitmap out;
    out.Width = static_cast<int>(width);
    out.Height = static_cast<int>(height);
    out.Pixels.resize(static_cast<size_t>(width * height));
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    for (long long y = 0; y < height; ++y) {
        const unsigned char* row = data + y * stride;
        uint32_t* dest = &out.Pixels[static_cast<size_t>((topDown ? y : height - 1 - y) * width)];
        for (long long x = 0; x < width; ++x) {
            uint32_t px;
            if (bpp <= 8) {
                const uint64_t bit = uint64_t(x) * bpp;
                const uint32_t index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                px = index < palette.size() ? palette[index] : 0xFF000000u;
            } else if (bpp == 24) {
                const unsigned char* p = row + 3 * x;
                px = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0];
            } else {
                const unsigned char* p = row + bpp / 8 * x;
                const uint32_t v = bpp == 16 ? Le16(p) : Le32(p);
                px = alpha(v, 255) << 24 | red(v, 0) << 16 | green(v, 0) << 8 | blue(v, 0);
            }
            dest[x] = px;
        }
    }
    // Some writers declare an alpha mask and leave every alpha at zero; such a
    // picture is meant to be opaque, not invisible.
    if (masks[3] && std::all_of(out.Pixels.begin(), out.Pixels.end(), [](uint32_t p) { return p >> 24 == 0; }))
        for (auto& p : out.Pixels)
            p |= 0xFF000000u;
    return out;
}

std::string EncodeBmp(const ui::Bitmap& picture)
{
    CheckEncodable(picture);
    const uint64_t stride = (uint64_t(picture.Width) * 3 + 3) & ~uint64_t(3);
    const uint64_t imageSize = stride * uint64_t(picture.Height);
    if (imageSize > 0xFFFFFFFFu - 54)
        throw BadPicture("the picture is too large for a BMP file");

    std::string out;
    out.reserve(54 + imageSize);
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>(v >> (8 * i)));
    };
    out += "BM";
    put(static_cast<uint32_t>(54 + imageSize), 4);
    put(0, 4);                                    // reserved
    put(54, 4);                                   // where the pixels start
    put(40, 4);                                   // info header size
    put(static_cast<uint32_t>(picture.Width), 4);
    put(static_cast<uint32_t>(picture.Height), 4); // positive: bottom-up
    put(1, 2);                                    // planes
    put(24, 2);                                   // bits per pixel
    put(kRgb, 4);
    put(static_cast<uint32_t>(imageSize), 4);
    put(0, 4), put(0, 4);                         // resolution not given
    put(0, 4), put(0, 4);                         // no palette
    for (int y = picture.Height - 1; y >= 0; --y) {
        const uint32_t* row = &picture.Pixels[static_cast<size_t>(y) * picture.Width];
        for (int x = 0; x < picture.Width; ++x)
            put(row[x], 3); // B, G, R
        out.append(stride - 3 * uint64_t(picture.Width), '\0');
    }
    return out;
}

} // namespace img::detail
