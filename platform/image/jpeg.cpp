// JPEG through libjpeg(-turbo). The library reports errors through a callback
// that must not return; ours jumps back to the setjmp in Run*, whose frame
// holds no object with a destructor, and the caller throws from there.
#include "platform/image/codecs.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

namespace img::detail {

namespace {

constexpr J_COLOR_SPACE kPixelSpace = kBgraInMemory ? JCS_EXT_BGRA : JCS_EXT_ARGB;

struct ErrorManager {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    const char* failure; // what a failure is called in the reason
    bool ranOut;         // the data ended before the end marker
    char reason[JMSG_LENGTH_MAX + 32];
};

[[noreturn]] void OnError(j_common_ptr cinfo)
{
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (e->ranOut) {
        std::snprintf(e->reason, sizeof e->reason, "truncated JPEG data");
    } else {
        char text[JMSG_LENGTH_MAX];
        cinfo->err->format_message(cinfo, text);
        std::snprintf(e->reason, sizeof e->reason, "%s (%s)", e->failure, text);
    }
    std::longjmp(e->jump, 1);
}

// Warnings are not printed. Running out of data is one for libjpeg: it ends
// the data there and pads the picture with grey. The decoder reads ahead, so
// the data may end with no pixel lost (a file without its end marker); it is
// truncated only once the decoder needs bits that are not there.
void OnMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF)
        e->ranOut = true;
    else if (e->ranOut && cinfo->err->msg_code == JWRN_HIT_MARKER)
        OnError(cinfo);
    cinfo->err->num_warnings++;
}

jpeg_error_mgr* Attach(ErrorManager& e, const char* failure)
{
    jpeg_std_error(&e.mgr);
    e.mgr.error_exit = OnError;
    e.mgr.emit_message = OnMessage;
    e.failure = failure;
    e.ranOut = false;
    e.reason[0] = '\0';
    return &e.mgr;
}

// Adobe's CMYK (all JPEG CMYK in practice) is stored inverted: 255 is no ink.
void CmykToPixels(uint32_t* row, int width, bool inverted)
{
    auto* p = reinterpret_cast<const unsigned char*>(row);
    for (int x = 0; x < width; ++x, p += 4) {
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted)
            c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        row[x] = 0xFF000000u | (c * k / 255) << 16 | (m * k / 255) << 8 | (y * k / 255);
    }
}

bool RunDecode(jpeg_decompress_struct& cinfo, ErrorManager& errors, const std::string& bytes, ui::Bitmap& out)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    CheckSize("JPEG", cinfo.image_width, cinfo.image_height);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : kPixelSpace;
    jpeg_start_decompress(&cinfo);
    out.Width = static_cast<int>(cinfo.output_width);
    out.Height = static_cast<int>(cinfo.output_height);
    out.Pixels.resize(size_t(out.Width) * size_t(out.Height));
    while (cinfo.output_scanline < cinfo.output_height) {
        uint32_t* row = &out.Pixels[size_t(cinfo.output_scanline) * size_t(out.Width)];
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row)};
        jpeg_read_scanlines(&cinfo, rows, 1);
        if (cmyk)
            CmykToPixels(row, out.Width, cinfo.saw_Adobe_marker);
    }
    // No jpeg_finish_decompress: every pixel is in, and a file that lacks only
    // its end marker is still a whole picture.
    return true;
}

bool RunEncode(jpeg_compress_struct& cinfo, ErrorManager& errors, const ui::Bitmap& picture, int quality,
               unsigned char** buffer, unsigned long* size)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_mem_dest(&cinfo, buffer, size);
    cinfo.image_width = static_cast<JDIMENSION>(picture.Width);
    cinfo.image_height = static_cast<JDIMENSION>(picture.Height);
    cinfo.input_components = 4;
    cinfo.in_color_space = kPixelSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint32_t* row = &picture.Pixels[size_t(cinfo.next_scanline) * size_t(picture.Width)];
        // libjpeg does not write through the row pointers it is given.
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(row))};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

} // namespace

ui::Bitmap DecodeJpeg(const std::string& bytes)
{
    jpeg_decompress_struct cinfo{};
    ErrorManager errors;
    cinfo.err = Attach(errors, "bad JPEG data");
    jpeg_create_decompress(&cinfo);
    struct Done {
        jpeg_decompress_struct& c;
        ~Done() { jpeg_destroy_decompress(&c); }
    } done{cinfo};
    ui::Bitmap out;
    if (!RunDecode(cinfo, errors, bytes, out))
        throw BadPicture(errors.reason);
    return out;
}

std::string EncodeJpeg(const ui::Bitmap& picture, int quality)
{
    CheckEncodable(picture);
    jpeg_compress_struct cinfo{};
    ErrorManager errors;
    cinfo.err = Attach(errors, "cannot make JPEG data");
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    struct Done {
        jpeg_compress_struct& c;
        unsigned char*& b;
        ~Done() { jpeg_destroy_compress(&c); std::free(b); }
    } done{cinfo, buffer};
    if (!RunEncode(cinfo, errors, picture, std::clamp(quality, 1, 100), &buffer, &size))
        throw BadPicture(errors.reason);
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

} // namespace img::detail
