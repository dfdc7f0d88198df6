#include "sharing/wallpaper.h"

#include "app/Program.h"
#include "platform/image/image.h"
#include "platform/shell/shell.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"
#include "settings/language.h"

std::string WallpaperExtension(const std::string& path)
{
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : sys::LowerAscii(name.substr(dot));
}

namespace {

// A ".bmp" file is set as it is, but one that holds no bitmap must not become
// the wallpaper: the desktops we hand it to would take it and show nothing.
// It is refused here, and like any refused wallpaper that is not reported.
bool IsBitmapFile(const std::string& path)
{
    try {
        img::LoadPictureByExtension(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void SetAsWallpaper(Program& program, const std::string& address)
{
    if (!sys::FileExists(address)) {
        ShowLanguageMessage(program, "Not possible", "Impossible");
        return;
    }
    const std::string ext = WallpaperExtension(address);
    if (ext == ".bmp") {
        // A refused wallpaper is not reported.
        if (IsBitmapFile(address))
            shell::SetWallpaper(address);
    } else if (ext == ".jpg") {
        // Decoded and written before the setting changes: a picture that
        // fails on the way leaves the wallpaper as it was.
        const ui::Bitmap picture = img::LoadPictureByExtension(address);
        const std::string bitmap = program.PathOf(kWallpaperBitmap);
        img::SaveBmp(picture, bitmap);
        shell::SetWallpaper(bitmap);
    }
}
