// The nearest double to a decimal mantissa times a power of ten, by 128-bit products with exact powers' leading bits.
//
// Eisel and Lemire's method (D. Lemire, "Number parsing at a gigabyte per
// second", Software: Practice and Experience 51, 2021; the form of Go's
// strconv, after N. Tao): the mantissa, shifted to fill 64 bits, times the
// leading 64 (then 128) bits of 10^power, rounded down, gives the double's
// 54 leading bits, unless those 128 bits cannot tell the product from a
// halfway point, which the checks below catch and leave to the caller.
#include "input/nearest_double.hpp"

#include <array>
#include <bit>

namespace trapft {
namespace {

constexpr int entries = 2 * nearest_double_powers + 1;

// The leading 128 bits of 10^e, rounded down, as {high, low} with the top bit
// of high set: 10^e ≈ (high·2^64 + low)·2^(⌊e·log2 10⌋ − 127).
struct power_bits {
    std::uint64_t high;
    std::uint64_t low;
};

// Unsigned integers of up to 32·limbs bits, least significant limb first:
// just enough arithmetic to find the table exactly, as the program is compiled.
constexpr int limbs = 24;  // 768 bits: 10^129 takes 429, 2^575 a few more
using big = std::array<std::uint32_t, limbs>;

constexpr int bit_length(const big& x) {
    for (int i = limbs - 1; i >= 0; --i) {
        const std::uint32_t limb = x[static_cast<std::size_t>(i)];
        if (limb != 0) return 32 * i + static_cast<int>(std::bit_width(limb));
    }
    return 0;
}

constexpr bool bit_of(const big& x, int b) { return (x[static_cast<std::size_t>(b / 32)] >> (b % 32)) & 1u; }

constexpr void times_ten(big& x) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : x) {
        const std::uint64_t product = std::uint64_t{limb} * 10 + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
}

constexpr void divide_by_ten(big& x) {
    std::uint64_t remainder = 0;
    for (int i = limbs - 1; i >= 0; --i) {
        const std::uint64_t part = (remainder << 32) | x[static_cast<std::size_t>(i)];
        x[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(part / 10);
        remainder = part % 10;
    }
}

// The 128 bits of x from bit `top` down (bits below 0 are zero).
constexpr power_bits leading_bits(const big& x, int top) {
    power_bits p{0, 0};
    for (int b = top; b > top - 128; --b) {
        const bool bit = b >= 0 && bit_of(x, b);
        p.high = (p.high << 1) | (p.low >> 63);
        p.low = (p.low << 1) | std::uint64_t{bit};
    }
    return p;
}

// 10^e for e ≥ 0 is its own leading bits; for e < 0 they are those of
// ⌊2^575 / 10^−e⌋, found by dividing by ten −e times (the floor of a floor
// is the floor of the whole quotient), which keeps at least 128 bits.
constexpr std::array<power_bits, entries> make_table() {
    std::array<power_bits, entries> table{};
    big power{}, inverse{};
    power[0] = 1;
    inverse[575 / 32] = 1u << (575 % 32);
    for (int e = 0; e <= nearest_double_powers; ++e) {
        table[static_cast<std::size_t>(nearest_double_powers + e)] = leading_bits(power, bit_length(power) - 1);
        table[static_cast<std::size_t>(nearest_double_powers - e)] = leading_bits(inverse, bit_length(inverse) - 1);
        times_ten(power);
        divide_by_ten(inverse);
    }
    return table;
}

constexpr std::array<power_bits, entries> powers = make_table();

__extension__ typedef unsigned __int128 uint128;

struct product {
    std::uint64_t high;
    std::uint64_t low;
};

product multiply(std::uint64_t a, std::uint64_t b) {
    const uint128 p = static_cast<uint128>(a) * b;
    return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
}

}  // namespace

bool nearest_double(std::uint64_t mantissa, std::int64_t power, bool negative, double& value) {
    if (mantissa == 0 || power < -nearest_double_powers || power > nearest_double_powers) return false;
    const power_bits& ten = powers[static_cast<std::size_t>(power + nearest_double_powers)];
    // Normalized: the mantissa's top bit set. ⌊e·log2 10⌋ is 217706·e >> 16 here.
    const int zeros = std::countl_zero(mantissa);
    mantissa <<= zeros;
    std::uint64_t exponent =
        static_cast<std::uint64_t>(((217706 * power) >> 16) + 64 + 1023) - static_cast<std::uint64_t>(zeros);
    product x = multiply(mantissa, ten.high);
    // Where the 64 bits leave the rounding open, the next 64 of the power.
    if ((x.high & 0x1FF) == 0x1FF && x.low + mantissa < mantissa) {
        const product y = multiply(mantissa, ten.low);
        product merged{x.high, x.low + y.high};
        if (merged.low < x.low) ++merged.high;
        if ((merged.high & 0x1FF) == 0x1FF && merged.low + 1 == 0 && y.low + mantissa < mantissa) return false;
        x = merged;
    }
    // 54 bits, then the nearest 53 (a halfway product would need more).
    const std::uint64_t top = x.high >> 63;
    std::uint64_t bits = x.high >> (top + 9);
    exponent -= 1 ^ top;
    if (x.low == 0 && (x.high & 0x1FF) == 0 && (bits & 3) == 1) return false;
    bits += bits & 1;
    bits >>= 1;
    if ((bits >> 53) > 0) {
        bits >>= 1;
        ++exponent;
    }
    if (exponent - 1 >= 0x7FF - 1) return false;  // subnormal, or past the largest double
    const std::uint64_t word = (exponent << 52) | (bits & 0x000FFFFFFFFFFFFF) | (std::uint64_t{negative} << 63);
    value = std::bit_cast<double>(word);
    return true;
}

}  // namespace trapft
