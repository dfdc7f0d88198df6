#pragma once
// Time and chance go through here so that tests can fix them.
#include <cstdint>
#include <functional>

namespace sys {

// Milliseconds on a monotonic clock, wrapping at 2^32 as a tick count does.
std::uint32_t GetTickCount();

// Replaces the tick source (a test's fake clock); an empty function restores
// the monotonic clock.
void SetTickSource(std::function<std::uint32_t()> source);

// The random source: a linear congruential generator with a 32-bit seed
// (seed * 0x08088405 + 1). `Random(n)` gives 0 <= r < n.
void Randomize();                 // seeds from the clock
void SetRandSeed(std::uint32_t seed);
std::uint32_t RandSeed();
std::int32_t Random(std::int32_t range);

} // namespace sys
