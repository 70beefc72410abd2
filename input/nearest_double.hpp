// The nearest double to a decimal mantissa times a power of ten, by 128-bit products with exact powers' leading bits.
#pragma once

#include <cstdint>

namespace trapft {

// Stores mantissa·10^power rounded to the nearest double (ties to even),
// negated with `negative`, and returns true; returns false, storing nothing,
// for the few it leaves to a general reader: a product too close to halfway
// between doubles for 128 bits to tell, a result outside the normal doubles,
// and powers beyond ±nearest_double_powers. The mantissa is not zero.
inline constexpr int nearest_double_powers = 128;
bool nearest_double(std::uint64_t mantissa, std::int64_t power, bool negative, double& value);

}  // namespace trapft
