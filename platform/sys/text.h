#pragma once
// Small text helpers shared by the platform layer.
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// ASCII case folding, as the registry and the atom table compare names.
std::string LowerAscii(std::string_view s);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

std::vector<std::string> Split(std::string_view s, char sep);

// A decimal integer with an optional sign that fits in 32 bits; anything else
// (empty, blanks, "1x", "--1", too large) throws sys::Error
// "'<text>' is not a valid integer value".
int StrToInt(const std::string& text);

// Compares two texts with the user's collation (the locale of LC_ALL,
// LC_COLLATE or LANG), case-sensitive; negative, zero or positive.
int CompareCollated(const std::string& a, const std::string& b);

} // namespace sys
