#pragma once
// Pictures in and out: JPEG, BMP, PNG and GIF files read into a ui::Bitmap,
// JPEG and BMP files written from one. Files are recognised by their first
// bytes, never by their name. Everything that fails throws sys::Error with a
// message naming the file.
#include <string>

#include "platform/ui/controls.h"

namespace img {

// The largest picture we decode; bigger ones are refused before any pixel
// memory is taken.
constexpr int kMaxPictureSide = 30000;
constexpr long long kMaxPicturePixels = 200'000'000;

// Reads a JPEG, BMP, PNG or GIF file (a GIF's first frame, on a canvas of the
// GIF's screen size; what the frame leaves uncovered and its transparent
// colour come out as 0x00000000). PNG and GIF transparency is kept, not
// premultiplied; JPEG and BMP pixels are opaque except a BMP with an alpha
// mask. A palette index past the end of its palette gives opaque black.
ui::Bitmap LoadPicture(const std::string& path);

// Reads a picture as an image control does: the format comes from the file's
// extension (.jpg and .jpeg JPEG, .bmp BMP, .png PNG) and the content must be
// of that format; any other extension is refused.
ui::Bitmap LoadPictureByExtension(const std::string& path);

// The same from bytes in memory; `nameForErrors` goes into the messages.
ui::Bitmap DecodePicture(const std::string& bytes, const std::string& nameForErrors);

// Encoders. Alpha is dropped: JPEG and 24-bit BMP carry none. Quality runs
// from 1 to 100 (values outside are clamped). An empty picture, or one whose
// pixel count does not match its size, throws sys::Error.
std::string EncodeJpeg(const ui::Bitmap& picture, int quality = 90);
// A 24-bit Windows bitmap: file and info headers, bottom-up rows padded to
// four bytes.
std::string EncodeBmp(const ui::Bitmap& picture);

// Encode into memory, then replace `path` atomically.
void SaveJpeg(const ui::Bitmap& picture, const std::string& path, int quality = 90);
void SaveBmp(const ui::Bitmap& picture, const std::string& path);

// Whether the name ends in .jpg, .jpeg, .bmp, .png or .gif (any case).
bool IsPictureFileName(const std::string& path);

} // namespace img
