// The "%.15g" text of a double by exact integer arithmetic.
//
// Method. A normal v is m·2^q with m < 2^53. With k = ⌊log10 v⌋ (from the
// binary exponent and one comparison with a table of powers of ten),
// v·10^p for p = 14 − k lies in [10^14, 10^15), and for 0 ≤ p ≤ 55 it is
// m·5^p·2^(q + p): 5^p is exact in 128 bits, so the 192-bit product of m and
// 5^p (both shifted to their top bits) holds v·10^p's integer part in its top
// word and all of its fraction below. The 15 digits are rounded half to even
// on that exact value, as printf rounds, with no approximation to prove. For
// 2^50 ≤ v < 2^77 (p < 0, v from about 1e15 to 1.5e23) an integer division
// by 10^−p does the same. That covers 2^−136 ≤ |v| < 2^77 (from about 1e-41);
// subnormals and the rest take std::to_chars's exact, slower fixed-precision
// path. The digits come sixteen at a time from SSE2 (or 64-bit word)
// arithmetic and are laid out as %g lays them out, with whole 16-byte stores
// straight from registers (a line built in memory and copied out stalls on
// store forwarding).
#include "output/g15.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

// SSE2 is part of every x86-64; elsewhere, or when asked, the same in 64-bit words.
#if defined(__SSE2__) && !defined(TRAPFT_G15_WORDS)
#define TRAPFT_G15_SSE2
#include <emmintrin.h>
#endif

namespace trapft {
namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr auto powers_of_ten = [] {
    struct table {
        std::uint64_t value[20];
        constexpr std::uint64_t operator[](int k) const { return value[k]; }
    } t{};
    t.value[0] = 1;
    for (int k = 1; k < 20; ++k) t.value[k] = t.value[k - 1] * 10;
    return t;
}();

// 5^p·2^(127 − L), L the position of the leading bit of 5^p, exact for
// p ≤ 55 (5^55 < 2^128); shift = 10 − L − p, so that v·10^p's fraction
// starts below bit shift − q of the top word.
constexpr int max_scale = 55;
struct scaled_power {
    std::uint64_t high;
    std::uint64_t low;
    int shift;
};
constexpr auto scaled_powers_of_five = [] {
    struct table {
        scaled_power value[max_scale + 1];
    } t{};
    uint128 five = 1;
    for (int p = 0; p <= max_scale; ++p, five *= 5) {
        int leading = 127;
        while ((five >> leading) == 0) --leading;
        const uint128 scaled = five << (127 - leading);
        t.value[p] = {static_cast<std::uint64_t>(scaled >> 64), static_cast<std::uint64_t>(scaled),
                      10 - leading - p};
    }
    return t;
}();

// The bits of the least double ≥ 10^(j + 1), for j = −41 to 14: a positive
// v is below 10^(j + 1) exactly when its bits are below these. Above 10^0 the
// power is a double; below, it is the least m·2^e ≥ 2^−r / 5^r, r = −j − 1,
// with m = ⌈2^t / 5^r⌉ by long division.
constexpr int min_threshold = -41;
constexpr auto power_of_ten_bits = [] {
    struct table {
        std::uint64_t value[15 - min_threshold];
    } t{};
    for (int j = min_threshold; j < 15; ++j) {
        const int power = j + 1;
        if (power >= 0) {
            std::uint64_t ten = 1;
            for (int k = 0; k < power; ++k) ten *= 10;
            t.value[j - min_threshold] = std::bit_cast<std::uint64_t>(static_cast<double>(ten));
            continue;
        }
        const int r = -power;
        uint128 five = 1;
        for (int k = 0; k < r; ++k) five *= 5;
        int length = 0;
        while ((five >> length) != 0) ++length;
        const int top = 52 + length;  // 2^top / 5^r lies in (2^52, 2^53)
        uint128 rest = 0;
        std::uint64_t m = 0;
        for (int bit = top; bit >= 0; --bit) {
            rest = rest * 2 + (bit == top ? 1 : 0);
            m = m * 2 + (rest >= five ? 1 : 0);
            if (rest >= five) rest -= five;
        }
        m += rest != 0;
        int exponent = -r - top;  // v = m·2^exponent
        if (m == std::uint64_t{1} << 53) {
            m >>= 1;
            ++exponent;
        }
        t.value[j - min_threshold] =
            static_cast<std::uint64_t>(exponent + 52 + 1023) << 52 | (m - (std::uint64_t{1} << 52));
    }
    return t;
}();

// The largest −p that the division path takes (v < 2^77): 10^8, times 2^2
// and 10 for the cases it meets, stays within 64 bits, and m·2^q within 128.
constexpr int max_divisor_power = 8;

// 15 significant digits and the exponent of the first: v ≈ digits·10^(exponent − 14).
struct decimal15 {
    std::uint64_t digits;  // 10^14 ≤ digits < 10^15
    int exponent;
};

// Rounds n (15 or 16 digits) plus a fraction to 15 digits, half to even:
// `half` is the fraction's first bit, `sticky` whether any later bit is set.
// Bit operations, not conditions: these bits are random, and branches on
// them would mispredict.
decimal15 round_to_15(std::uint64_t n, std::uint64_t half, std::uint64_t sticky, int exponent) {
    const std::uint64_t sixteen = n >= powers_of_ten[15];
    const std::uint64_t tenth = n / 10;
    const std::uint64_t last = n - tenth * 10;  // the 16th digit, when there is one
    const std::uint64_t up_from_16 =
        static_cast<std::uint64_t>(last > 5) | (static_cast<std::uint64_t>(last == 5) & (half | sticky | tenth));
    const std::uint64_t up_from_15 = half & (sticky | n);
    n = (sixteen != 0 ? tenth : n) + ((sixteen != 0 ? up_from_16 : up_from_15) & 1);
    exponent += static_cast<int>(sixteen);
    if (n == powers_of_ten[15]) [[unlikely]] {
        n = powers_of_ten[14];
        ++exponent;
    }
    return {n, exponent};
}

#ifndef TRAPFT_G15_SSE2
// Eight ASCII digits of x < 10^8, first digit in the lowest byte: two 4-digit
// lanes, then four 2-digit lanes, then eight digits, each split by a
// multiply-and-shift that divides exactly below 10^4 and 10^2 (checked
// exhaustively when written).
std::uint64_t eight_digits(std::uint32_t x) {
    std::uint64_t y = (x / 10000) | (static_cast<std::uint64_t>(x % 10000) << 32);
    std::uint64_t z = ((y * 10486) >> 20) & 0x0000007f0000007f;
    y = z | ((y - 100 * z) << 16);
    z = ((y * 103) >> 10) & 0x000f000f000f000f;
    y = z | ((y - 10 * z) << 8);
    return y;
}
#endif

// The bytes below byte n, for n = 0 to 16.
constexpr auto low_bytes = [] {
    struct table {
        uint128 mask[17];
    } t{};
    for (int n = 0; n <= 16; ++n) t.mask[n] = n == 16 ? ~uint128{0} : (uint128{1} << (8 * n)) - 1;
    return t;
}();

// '.' in byte n, for n = 0 to 15.
constexpr auto points = [] {
    struct table {
        uint128 at[16];
    } t{};
    for (int n = 0; n < 16; ++n) t.at[n] = uint128{'.'} << (8 * n);
    return t;
}();

#ifdef TRAPFT_G15_SSE2
using digit_text = __m128i;

// The 16 digits of high·10^8 + low (high, low < 10^8) as bytes, first digit
// in byte 0: both split by 10^4, each 4-digit part's leading 1 to 4 digits
// by multiply-high, and each digit as the difference of neighbours (W. Muła's
// SSE2 method, on both halves at once; checked exhaustively for every half
// below 10^8 when written).
__m128i sixteen_digits(std::uint32_t high, std::uint32_t low) {
    alignas(16) static constexpr std::uint32_t div_10000[4] = {0xd1b71759, 0, 0xd1b71759, 0};
    alignas(16) static constexpr std::uint32_t ten_thousand[4] = {10000, 0, 10000, 0};
    alignas(16) static constexpr std::uint16_t div_powers[8] = {8389, 5243, 13108, 32768, 8389, 5243, 13108, 32768};
    alignas(16) static constexpr std::uint16_t shift_powers[8] = {1 << 7, 1 << 11, 1 << 13, 1 << 15,
                                                                  1 << 7, 1 << 11, 1 << 13, 1 << 15};
    alignas(16) static constexpr std::uint16_t tens[8] = {10, 10, 10, 10, 10, 10, 10, 10};
    const auto load = [](const void* table) { return _mm_load_si128(static_cast<const __m128i*>(table)); };
    const __m128i both = _mm_set_epi64x(low, high);
    const __m128i first_four = _mm_srli_epi64(_mm_mul_epu32(both, load(div_10000)), 45);
    const __m128i last_four = _mm_sub_epi32(both, _mm_mul_epu32(first_four, load(ten_thousand)));
    // 16-bit words: high's two parts, 0, 0, low's two parts, 0, 0; times 4.
    const __m128i parts = _mm_slli_epi16(_mm_or_si128(first_four, _mm_slli_epi64(last_four, 16)), 2);
    const __m128i high_parts = _mm_unpacklo_epi16(parts, parts);
    const __m128i low_parts = _mm_unpackhi_epi16(parts, parts);
    const auto digits = [&](__m128i spread) {  // each part four times → its four digits
        const __m128i leading = _mm_mulhi_epu16(_mm_mulhi_epu16(spread, load(div_powers)), load(shift_powers));
        return _mm_sub_epi16(leading, _mm_slli_epi64(_mm_mullo_epi16(leading, load(tens)), 16));
    };
    return _mm_packus_epi16(digits(_mm_unpacklo_epi32(high_parts, high_parts)),
                            digits(_mm_unpacklo_epi32(low_parts, low_parts)));
}

// The 15 digits of d in bytes 0 to 14 (byte 15 is 0), and how many there
// are up to the last nonzero one.
[[gnu::always_inline]] inline digit_text make_text(std::uint64_t digits, int& count) {
    const auto high = static_cast<std::uint32_t>(digits / 100000000);  // byte 0 below is a leading 0
    const auto low = static_cast<std::uint32_t>(digits % 100000000);
    const __m128i zeros = _mm_set1_epi8('0');
    const __m128i text = _mm_srli_si128(_mm_add_epi8(sixteen_digits(high, low), zeros), 1);
    const auto nonzero = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, zeros))) & 0x7fff;
    count = static_cast<int>(std::bit_width(nonzero));
    return text;
}

__m128i load_mask(const uint128& mask) { return _mm_load_si128(reinterpret_cast<const __m128i*>(&mask)); }

// Bytes 0 to n − 1 of t, '.', then bytes n onwards (n ≤ 14; byte 15 of t is 0).
digit_text insert_point(digit_text t, int n) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(t, load_mask(low_bytes.mask[n])), load_mask(points.at[n])),
                        _mm_andnot_si128(load_mask(low_bytes.mask[n + 1]), _mm_slli_si128(t, 1)));
}

void store(char* to, digit_text t) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), t); }
#else
// The first digit goes in the lowest byte of each word, first in memory.
static_assert(std::endian::native == std::endian::little, "the digit words assume little-endian order");

using digit_text = uint128;

[[gnu::always_inline]] inline digit_text make_text(std::uint64_t digits, int& count) {
    const auto high = static_cast<std::uint32_t>(digits / 100000000);
    const auto low = static_cast<std::uint32_t>(digits % 100000000);
    const std::uint64_t high_digits = eight_digits(high);  // byte 0 is a leading 0
    const std::uint64_t low_digits = eight_digits(low);
    count = 15 - (low != 0 ? std::countl_zero(low_digits) / 8 : 8 + std::countl_zero(high_digits) / 8);
    constexpr std::uint64_t ascii_zeros = 0x3030303030303030;
    return ((high_digits + ascii_zeros) >> 8) | static_cast<uint128>(low_digits + ascii_zeros) << 56;
}

digit_text insert_point(digit_text t, int n) {
    return (t & low_bytes.mask[n]) | points.at[n] | ((t << 8) & ~low_bytes.mask[n + 1]);
}

void store(char* to, digit_text t) { std::memcpy(to, &t, 16); }
#endif

// %g's layout of d at p, which has 21 bytes of room: the digits are moved as
// whole words, straight from registers, and may leave scratch past the end.
[[gnu::always_inline]] inline char* lay_out(char* p, decimal15 d) {
    // The 15 digits, first in byte 0; `count` of them up to the last nonzero one.
    int count;
    const digit_text text = make_text(d.digits, count);

    const int x = d.exponent;
    if (x < -4 || x >= 15) {
        store(p, insert_point(text, 1));
        p += count > 1 ? count + 1 : 1;
        const int e = x < 0 ? -x : x;
        p[0] = 'e';
        p[1] = x < 0 ? '-' : '+';
        if (e >= 100) {
            *(p + 2) = static_cast<char>('0' + e / 100);
            ++p;
        }
        p[2] = static_cast<char>('0' + e / 10 % 10);
        p[3] = static_cast<char>('0' + e % 10);
        return p + 4;
    }
    if (x < 0) {
        std::memcpy(p, "0.000000", 8);
        store(p + 1 - x, text);
        return p + 1 - x + count;
    }
    // x + 1 digits before the point; the point only if a nonzero digit follows.
    if (count <= x + 1) {
        store(p, text);
        return p + x + 1;
    }
    store(p, insert_point(text, x + 1));
    return p + count + 1;
}

// The numbers outside the fast path: zero, infinity, NaN, subnormals, and
// |v| below 2^−136 or from 10^15 on. Kept apart so that the fast path stays small.
[[gnu::noinline]] char* write_other(char* first, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    char* p = first + (bits >> 63);
    *first = '-';
    if (biased == 0x7ff) {
        std::memcpy(p, fraction != 0 ? "nan" : "inf", 3);
        return p + 3;
    }
    if (biased == 0 && fraction == 0) {
        *p = '0';
        return p + 1;
    }
    const int q = biased - 1075;
    const int k0 = ((biased - 1023) * 315653) >> 20;
    const int scale = 14 - k0;
    if (biased != 0 && scale <= 0 && -scale <= max_divisor_power) {
        // v ≥ 10^15 (the fast path takes the rest of k0 = 14), m·2^q an integer
        // unless q < 0: divide by 10^−scale·2^−q.
        const std::uint64_t m = fraction | (std::uint64_t{1} << 52);
        const uint128 numerator = static_cast<uint128>(m) << (q > 0 ? q : 0);
        std::uint64_t divisor = powers_of_ten[-scale] << (q < 0 ? -q : 0);
        std::uint64_t n;
        std::uint64_t rest;
        if ((numerator >> 64) == 0) {  // a 64-bit division, much cheaper, up to 2^64
            n = static_cast<std::uint64_t>(numerator) / divisor;
            rest = static_cast<std::uint64_t>(numerator) % divisor;
        } else {
            n = static_cast<std::uint64_t>(numerator / divisor);
            rest = static_cast<std::uint64_t>(numerator % divisor);
        }
        int exponent = k0;
        if (n >= powers_of_ten[15]) {  // 16 digits: one more into the fraction
            rest += n % 10 * divisor;
            n /= 10;
            divisor *= 10;
            ++exponent;
        }
        // The fraction rest / divisor against one half, exactly (the divisor is even).
        const bool half = rest >= divisor / 2;
        return lay_out(p, round_to_15(n, half, half ? rest > divisor / 2 : rest != 0, exponent));
    }
    return std::to_chars(first, first + g15_max_length, value, std::chars_format::general, 15).ptr;
}

}  // namespace

char* write_g15(char* first, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    const int k0 = ((biased - 1023) * 315653) >> 20;  // ⌊log10 2^e⌋, so 10^k0 ≤ v < 10^(k0 + 2)
    if (biased == 0 || static_cast<unsigned>(14 - k0) > max_scale) [[unlikely]] {
        return write_other(first, value);
    }
    // ⌊log10 |v|⌋ exactly, so that v·10^scale has exactly 15 digits; both
    // candidate scales are looked up at once, not one after the other.
    const std::uint64_t magnitude = bits & ~(std::uint64_t{1} << 63);
    const bool above = magnitude >= power_of_ten_bits.value[k0 - min_threshold];
    const int k = k0 + above;
    const int scale = 14 - k;
    if (scale < 0) [[unlikely]] {
        return write_other(first, value);
    }
    *first = '-';  // kept only for a negative value
    char* const p = first + (bits >> 63);
    const scaled_power& lower_scale = scaled_powers_of_five.value[13 - k0 < 0 ? 0 : 13 - k0];
    const scaled_power& upper_scale = scaled_powers_of_five.value[14 - k0];

    // v·10^scale = a·2^−(128 + u) with a = (m·2^11)·(5^scale·2^(127 − L)), the
    // 192-bit product of a 64-bit and a 128-bit number, both exact, and
    // 13 ≤ u ≤ 17: the integer part is in the top word, the fraction below.
    const std::uint64_t m = ((bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52)) << 11;
    const std::uint64_t f_low = above ? lower_scale.low : upper_scale.low;
    const std::uint64_t f_high = above ? lower_scale.high : upper_scale.high;
    const int f_shift = above ? lower_scale.shift : upper_scale.shift;
    const uint128 lower = static_cast<uint128>(m) * f_low;
    const uint128 upper = static_cast<uint128>(m) * f_high + static_cast<std::uint64_t>(lower >> 64);
    const auto top = static_cast<std::uint64_t>(upper >> 64);
    const int u = f_shift - (biased - 1075);
    const std::uint64_t below = top << (64 - u);  // the fraction's bits in the top word
    const std::uint64_t sticky =
        ((below << 1) | static_cast<std::uint64_t>(upper) | static_cast<std::uint64_t>(lower)) != 0;
    // Half to even, in bit operations: these bits are random, and branches on
    // them would mispredict.
    std::uint64_t n = top >> u;
    n += (below >> 63) & (sticky | n);
    int exponent = k;
    if (n == powers_of_ten[15]) [[unlikely]] {
        n = powers_of_ten[14];
        ++exponent;
    }
    return lay_out(p, {n, exponent});
}

}  // namespace trapft
