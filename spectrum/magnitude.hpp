// The magnitude column: the root of the sum of the squares of the two parts,
// kept finite and accurate where the squares leave the range of doubles.
#pragma once

#include <cfloat>
#include <cmath>

namespace trapft {

// sqrt((real * real) + (imaginary * imaginary)), to the bit, wherever that sum
// of squares is a finite normal number. Where it overflows, or falls below the
// normal range (where its rounding stops being relative) while a part is
// nonzero, the same formula on both parts scaled by an exact power of two, then
// scaled back. An infinite or NaN part gives what the plain formula gives.
inline double spectrum_magnitude(double real, double imaginary) {
    const double squares = (real * real) + (imaginary * imaginary);
    if (squares >= DBL_MIN && squares <= DBL_MAX) return std::sqrt(squares);
    if (!std::isfinite(real) || !std::isfinite(imaginary) || (real == 0.0 && imaginary == 0.0))
        return std::sqrt(squares);
    // Finite parts whose larger one is above 2^511 (overflow) or below 2^-511
    // (underflow): scaled by 2^-600 or 2^600 it squares well inside the range,
    // and the smallest subnormal part stays normal when squared.
    const bool large = squares > DBL_MAX;
    const double in = large ? 0x1p-600 : 0x1p600;
    const double out = large ? 0x1p600 : 0x1p-600;
    const double r = real * in;
    const double i = imaginary * in;
    return std::sqrt((r * r) + (i * i)) * out;
}

}  // namespace trapft
