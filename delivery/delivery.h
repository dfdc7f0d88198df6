#pragma once
// Sending the current picture to a phone: what the send shares with the rest
// of the program.
#include <cstdint>
#include <optional>

// The temporary converted picture, in the program folder: the bmp to jpg
// window writes a local bitmap here as a JPEG, the send uploads it and then
// removes it.
inline constexpr const char* kConvertedPictureName = "quenvalbore.jpg";

// The send invitation seeds the random source from the clock before it draws.
// With a seed set here it seeds with that one instead, so what it does is
// known beforehand (std::nullopt goes back to the clock).
void SetInvitationSeed(std::optional<std::uint32_t> seed);
