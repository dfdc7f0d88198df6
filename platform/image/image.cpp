#include "platform/image/image.h"

#include "platform/image/codecs.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace img {

namespace detail {

void CheckSize(const char* format, long long width, long long height)
{
    auto size = std::to_string(width) + "x" + std::to_string(height);
    if (width <= 0 || height <= 0)
        throw BadPicture(std::string(format) + " picture has no pixels (" + size + ")");
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        throw BadPicture(std::string(format) + " picture too large (" + size + ")");
}

void CheckEncodable(const ui::Bitmap& picture)
{
    if (picture.Width <= 0 || picture.Height <= 0)
        throw BadPicture("the picture is empty");
    if (picture.Pixels.size() != static_cast<size_t>(picture.Width) * static_cast<size_t>(picture.Height))
        throw BadPicture("the picture's pixels do not match its size");
}

} // namespace detail

namespace {

// Runs `f`, turning a BadPicture into a sys::Error that starts with `what`.
template <class F>
auto Explained(const std::string& what, F f)
{
    try {
        return f();
    } catch (const detail::BadPicture& e) {
        throw sys::Error(what + ": " + e.what());
    }
}

} // namespace

ui::Bitmap DecodePicture(const std::string& bytes, const std::string& nameForErrors)
{
    return Explained("cannot read picture " + nameForErrors, [&] {
        auto startsWith = [&](std::string_view magic) { return std::string_view(bytes).starts_with(magic); };
        if (bytes.empty())
            throw detail::BadPicture("the file is empty");
        if (startsWith("\xFF\xD8\xFF"))
            return detail::DecodeJpeg(bytes);
        if (startsWith("\x89PNG\r\n\x1A\n"))
            return detail::DecodePng(bytes);
        if (startsWith("GIF87a") || startsWith("GIF89a"))
            return detail::DecodeGif(bytes);
        if (startsWith("BM"))
            return detail::DecodeBmp(bytes);
        throw detail::BadPicture("not a JPEG, BMP, PNG or GIF picture");
    });
}

ui::Bitmap LoadPicture(const std::string& path)
{
    return DecodePicture(sys::ReadFile(path), path);
}

ui::Bitmap LoadPictureByExtension(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    auto dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : sys::LowerAscii(name.substr(dot));
    ui::Bitmap (*decode)(const std::string&) = nullptr;
    if (ext == ".jpg" || ext == ".jpeg")
        decode = detail::DecodeJpeg;
    else if (ext == ".bmp")
        decode = detail::DecodeBmp;
    else if (ext == ".png")
        decode = detail::DecodePng;
    if (!decode)
        throw sys::Error("cannot read picture " + path + ": unknown picture file extension (" +
                         (ext.empty() ? std::string("none") : ext) + ")");
    std::string bytes = sys::ReadFile(path);
    return Explained("cannot read picture " + path, [&] {
        if (bytes.empty())
            throw detail::BadPicture("the file is empty");
        return decode(bytes);
    });
}

std::string EncodeJpeg(const ui::Bitmap& picture, int quality)
{
    return Explained("cannot encode picture", [&] { return detail::EncodeJpeg(picture, quality); });
}

std::string EncodeBmp(const ui::Bitmap& picture)
{
    return Explained("cannot encode picture", [&] { return detail::EncodeBmp(picture); });
}

void SaveJpeg(const ui::Bitmap& picture, const std::string& path, int quality)
{
    auto bytes = Explained("cannot write " + path, [&] { return detail::EncodeJpeg(picture, quality); });
    sys::WriteFileAtomic(path, bytes);
}

void SaveBmp(const ui::Bitmap& picture, const std::string& path)
{
    auto bytes = Explained("cannot write " + path, [&] { return detail::EncodeBmp(picture); });
    sys::WriteFileAtomic(path, bytes);
}

bool IsPictureFileName(const std::string& path)
{
    auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return false;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "jpg" || ext == "jpeg" || ext == "bmp" || ext == "png" || ext == "gif";
}

} // namespace img
