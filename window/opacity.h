#pragma once

// The window's opacity moves through ten levels, from 1 down to just under 0.1, in steps of the
// single-precision value nearest to 0.1. Each step is decided on the exact sum or difference
// (every one that can arise is exact in double precision) and only then rounded to single
// precision, to nearest with ties to even. Deciding after rounding would refuse the last step up
// from 0.899999976, whose exact sum 0.99999997764825820922851562 is below 1 but rounds to 1.

inline constexpr float opacityStep = 0.1f; // 0x3DCCCCCD

// One step up, or the level unchanged where the step would reach or pass full opacity.
[[nodiscard]] constexpr float raisedOpacity(float opacity)
{
    const double sum = static_cast<double>(opacity) + static_cast<double>(opacityStep);
    return sum < 1.0 ? static_cast<float>(sum) : opacity;
}

// One step down, or the level unchanged where the step would reach or pass full transparency.
[[nodiscard]] constexpr float loweredOpacity(float opacity)
{
    const double difference = static_cast<double>(opacity) - static_cast<double>(opacityStep);
    return difference > 0.0 ? static_cast<float>(difference) : opacity;
}
