#include "platform/ui/color.h"

#include <array>

namespace ui {

namespace {
// RRGGBB, as people write them; converted below.
constexpr std::array<std::uint32_t, 31> kSystemRgb = {
    0xC8C8C8, 0x000000, 0x0054E3, 0x7A96DF, 0xFFFFFF, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xD4D0C8, 0xD4D0C8, 0x808080, 0x316AC5, 0xFFFFFF, 0xECE9D8,
    0xACA899, 0xACA899, 0x000000, 0xD8E4F8, 0xFFFFFF, 0x716F64, 0xF1EFE2, 0x000000,
    0xFFFFE1, 0xB5D5FF, 0x000080, 0x3D95FF, 0x9DB9EB, 0x316AC5, 0xECE9D8,
};
}

std::uint32_t ColorToRGB(TColor color)
{
    auto u = static_cast<std::uint32_t>(color);
    if (IsSystemColor(color)) {
        std::uint32_t index = u & 0xFF;
        if (index >= kSystemRgb.size() || (u & 0x00FFFF00u) != 0)
            return 0;
        std::uint32_t rrggbb = kSystemRgb[index];
        return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16);
    }
    return u & 0x00FFFFFFu;
}

} // namespace ui
