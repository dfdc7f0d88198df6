// PNG through libpng's simplified reader, which turns every colour type and
// depth into 8-bit sRGB with straight (not premultiplied) alpha.
#include "platform/image/codecs.h"

#include <png.h>

namespace img::detail {

namespace {

std::string Reason(const png_image& image)
{
    const std::string message = image.message;
    if (message == "read beyond end of data")
        return "truncated PNG data";
    return "bad PNG data (" + message + ")";
}

} // namespace

ui::Bitmap DecodePng(const std::string& bytes)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    struct Done {
        png_image& i;
        ~Done() { png_image_free(&i); }
    } done{image};
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
        throw BadPicture(Reason(image));
    CheckSize("PNG", image.width, image.height);
    image.format = kBgraInMemory ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    ui::Bitmap out;
    out.Width = static_cast<int>(image.width);
    out.Height = static_cast<int>(image.height);
    out.Pixels.resize(size_t(out.Width) * size_t(out.Height));
    if (!png_image_finish_read(&image, nullptr, out.Pixels.data(), 0, nullptr))
        throw BadPicture(Reason(image));
    return out;
}

} // namespace img::detail
