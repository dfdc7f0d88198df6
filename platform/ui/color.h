#pragma once
// Colours are 32-bit signed integers, as the designs store them: a direct
// colour is red + 256 * green + 65536 * blue; a system colour is its Windows
// index with the top byte set to 0xFF (the button-text colour, index 18, is
// -16777198).
#include <cstdint>

namespace ui {

using TColor = std::int32_t;

constexpr TColor RGB(int r, int g, int b) { return static_cast<TColor>(r | (g << 8) | (b << 16)); }
constexpr TColor SystemColor(int index)
{
    return static_cast<TColor>(0xFF000000u | static_cast<std::uint32_t>(index));
}
constexpr bool IsSystemColor(TColor c) { return (static_cast<std::uint32_t>(c) & 0xFF000000u) == 0xFF000000u; }

constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clRed = RGB(255, 0, 0);
constexpr TColor clGreen = RGB(0, 128, 0);
constexpr TColor clBlue = RGB(0, 0, 255);
constexpr TColor clGray = RGB(128, 128, 128);
constexpr TColor clSilver = RGB(192, 192, 192);
constexpr TColor clNone = 0x1FFFFFFF;

// The system colours by index.
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor cl3DDkShadow = SystemColor(21);
constexpr TColor cl3DLight = SystemColor(22);
constexpr TColor clInfoText = SystemColor(23);
constexpr TColor clInfoBk = SystemColor(24);
constexpr TColor clHotLight = SystemColor(26);
constexpr TColor clGradientActiveCaption = SystemColor(27);
constexpr TColor clGradientInactiveCaption = SystemColor(28);
constexpr TColor clMenuHighlight = SystemColor(29);
constexpr TColor clMenuBar = SystemColor(30);

// The RGB a colour shows as, as 0x00BBGGRR. System colours resolve through a
// fixed table (the classic desktop scheme):
//   0 scroll bar C8C8C8   1 desktop 000000      2 active caption 0054E3
//   3 inactive caption 7A96DF  4 menu FFFFFF  5 window FFFFFF
//   6 window frame 000000   7 menu text 000000  8 window text 000000
//   9 caption text FFFFFF  10 active border D4D0C8  11 inactive border D4D0C8
//  12 app workspace 808080 13 highlight 316AC5  14 highlight text FFFFFF
//  15 button face ECE9D8   16 button shadow ACA899  17 grey text ACA899
//  18 button text 000000   19 inactive caption text D8E4F8
//  20 button highlight FFFFFF  21 3D dark shadow 716F64  22 3D light F1EFE2
//  23 info text 000000     24 info background FFFFE1  25 (unused) B5D5FF
//  26 hot light 000080     27 gradient active caption 3D95FF
//  28 gradient inactive caption 9DB9EB  29 menu highlight 316AC5
//  30 menu bar ECE9D8 (values written as RRGGBB). Unknown indices give black.
std::uint32_t ColorToRGB(TColor color);
inline int GetRValue(std::uint32_t rgb) { return static_cast<int>(rgb & 0xFF); }
inline int GetGValue(std::uint32_t rgb) { return static_cast<int>((rgb >> 8) & 0xFF); }
inline int GetBValue(std::uint32_t rgb) { return static_cast<int>((rgb >> 16) & 0xFF); }

} // namespace ui
