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

} // namespace sys
