// GIF through giflib: the first frame only, read line by line onto a canvas
// of the screen's size (grown if the frame sticks out), so nothing larger
// than one line is held besides the result.
#include "platform/image/codecs.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace img::detail {

namespace {

struct Source {
    const std::string& bytes;
    size_t at = 0;
    bool ranOut = false; // a read found fewer bytes than it asked for
};

int Read(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* in = static_cast<Source*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(std::max(length, 0)), in->bytes.size() - in->at);
    std::memcpy(buffer, in->bytes.data() + in->at, n);
    in->at += n;
    in->ranOut |= n < static_cast<size_t>(std::max(length, 0));
    return static_cast<int>(n);
}

[[noreturn]] void Fail(int error, const Source& source)
{
    if (source.ranOut || error == D_GIF_ERR_READ_FAILED)
        throw BadPicture("truncated GIF data");
    const char* text = GifErrorString(error);
    throw BadPicture(std::string("bad GIF data (") + (text ? text : "unknown error") + ")");
}

// The order in which an interlaced frame's rows arrive.
std::vector<int> RowOrder(int height, bool interlaced)
{
    std::vector<int> rows;
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    for (auto [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = first; y < height; y += step)
            rows.push_back(y);
    return rows;
}

} // namespace

ui::Bitmap DecodeGif(const std::string& bytes)
{
    Source source{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, Read, &error);
    if (!gif)
        Fail(error, source);
    struct Done {
        GifFileType* g;
        ~Done() { DGifCloseFile(g, nullptr); }
    } done{gif};

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR)
            Fail(gif->Error, source);
        if (record == TERMINATE_RECORD_TYPE)
            throw BadPicture("GIF file without a picture");
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                Fail(gif->Error, source);
            GraphicsControlBlock control;
            if (code == GRAPHICS_EXT_FUNC_CODE && block &&
                DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparent = control.TransparentColor;
            while (block)
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    Fail(gif->Error, source);
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            break;
        } else {
            throw BadPicture("bad GIF data (unknown record)");
        }
    }

    if (DGifGetImageDesc(gif) == GIF_ERROR)
        Fail(gif->Error, source);
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors)
        throw BadPicture("GIF picture without colours");
    const long long width = std::max<long long>(gif->SWidth, frame.Left + frame.Width);
    const long long height = std::max<long long>(gif->SHeight, frame.Top + frame.Height);
    CheckSize("GIF", width, height);

    ui::Bitmap out;
    out.Width = static_cast<int>(width);
    out.Height = static_cast<int>(height);
    out.Pixels.assign(size_t(width * height), 0);
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    // A frame without width has no data to read.
    for (int y : RowOrder(frame.Width > 0 ? frame.Height : 0, frame.Interlace)) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            Fail(gif->Error, source);
        uint32_t* dest = &out.Pixels[size_t(frame.Top + y) * size_t(out.Width) + size_t(frame.Left)];
        for (int x = 0; x < frame.Width; ++x) {
            const int index = line[size_t(x)];
            if (index == transparent)
                continue;
            uint32_t px = 0xFF000000u;
            if (index < colors->ColorCount) {
                const GifColorType& c = colors->Colors[index];
                px |= uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
            }
            dest[x] = px;
        }
    }
    return out;
}

} // namespace img::detail
