#pragma once

#include <chrono>
#include <cstdint>

// Everything the simulated network sends is a function of the wall clock, so that two processes
// receiving the same source see the same pictures and hear the same sound.
namespace ndisim
{

inline int64_t epochNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// floor(value * mul / div) without overflow for epoch nanoseconds; div > 0.
inline int64_t mulDivFloor(int64_t value, int64_t mul, int64_t div)
{
    const __int128 product = static_cast<__int128>(value) * mul;
    __int128 quotient = product / div;
    if ((product % div != 0) && ((product < 0) != (div < 0)))
        --quotient;
    return static_cast<int64_t>(quotient);
}

// ceil(value * mul / div); div > 0.
inline int64_t mulDivCeil(int64_t value, int64_t mul, int64_t div)
{
    return -mulDivFloor(-value, mul, div);
}

constexpr int64_t nsPerSecond = 1000000000;

} // namespace ndisim
