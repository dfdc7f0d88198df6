#pragma once
// The phone models the options window offers. The options file stores the
// chosen entry's index, so every entry keeps its position for good: entry 0 is
// the "no model chosen" placeholder, 1 to 1047 the models grouped by maker,
// 1048 "Other". The texts are shown as they are, odd spellings included.
#include <array>
#include <string_view>

namespace ui {
class ComboBox;
}

inline constexpr int kPhoneModelCount = 1049;

// Entry 0 carries the English placeholder; the language switch replaces the
// text in the list, not here.
extern const std::array<std::string_view, kPhoneModelCount> kPhoneModels;

// Fills the list with every entry in order and selects entry 0.
void LoadPhoneModels(ui::ComboBox& list);
