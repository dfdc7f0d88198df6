#pragma once
// Inside the picture module: one decoder per format and the checks they
// share. A decoder throws BadPicture with the reason alone; image.cpp puts
// the file's name in front.
#include <bit>
#include <stdexcept>
#include <string>

#include "platform/ui/controls.h"

namespace img::detail {

struct BadPicture : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws unless w x h is a picture we are willing to hold in memory.
void CheckSize(const char* format, long long width, long long height);

// Throws unless the bitmap has pixels and exactly Width x Height of them.
void CheckEncodable(const ui::Bitmap& picture);

// The pixel layout of ui::Bitmap in memory as bytes: B, G, R, A on a
// little-endian machine, A, R, G, B on a big-endian one.
constexpr bool kBgraInMemory = std::endian::native == std::endian::little;

ui::Bitmap DecodeJpeg(const std::string& bytes);
ui::Bitmap DecodeBmp(const std::string& bytes);
ui::Bitmap DecodePng(const std::string& bytes);
ui::Bitmap DecodeGif(const std::string& bytes);

std::string EncodeJpeg(const ui::Bitmap& picture, int quality);
std::string EncodeBmp(const ui::Bitmap& picture);

} // namespace img::detail
