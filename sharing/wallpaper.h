#pragma once
// "Set as Wallpaper": a picture of the list becomes the desktop wallpaper.
#include <string>

class Program;

// The wallpaper bitmap: the last JPEG set as wallpaper, decoded, in the
// program folder. Overwritten each time, never deleted.
inline constexpr const char* kWallpaperBitmap = "vintrelbackground.bmp";

// The extension of a path's last component: from its last dot to the end,
// dot included, A to Z lowered; "" when that component has no dot.
std::string WallpaperExtension(const std::string& path);

// Makes the picture at `address` the wallpaper. A ".bmp" file is used as it
// is, a ".jpg" file through the wallpaper bitmap; any other extension does
// nothing. An address that is no existing file (every web address) gives
// "Not possible" in the user's language. A JPEG that does not decode or a
// wallpaper bitmap that cannot be written throws, and the wallpaper stays.
void SetAsWallpaper(Program& program, const std::string& address);
