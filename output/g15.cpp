// The "%.15g" text of a double from its shortest round-trip digits.
//
// Method. Let s = S·10^e be the shortest decimal that reads back as a normal v, the one
// nearest v among those (Dragonbox, or libstdc++'s shortest std::to_chars
// where Dragonbox is absent). s lies within v's rounding interval, less than
// half a unit of the 15th digit from v, so when S has at most 15 digits, s is
// v rounded to 15 digits. When S has 16 or 17 digits, s is v correctly
// rounded to that many (the interval is symmetric unless v is a power of
// two), so the digits beyond the 15th decide the rounding unless they are
// exactly 5 or 50: only then may the 15-digit midpoint B lie between s and v,
// or on v. That case, and powers of two, compare v = m·2^q2 with
// B = D·10^q exactly in 128-bit integers, and round half to even as printf
// does. Where B's exponent is too far out for 128 bits, the number takes
// std::to_chars's exact fixed-precision path instead. The 15 digits are then
// laid out as %g lays them out.
#include "output/g15.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#ifdef TRAPFT_HAVE_DRAGONBOX
#include <dragonbox/dragonbox.h>
#endif

namespace trapft {
namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr std::uint64_t powers_of_ten[20] = {
    1u,
    10u,
    100u,
    1000u,
    10000u,
    100000u,
    1000000u,
    10000000u,
    100000000u,
    1000000000u,
    10000000000u,
    100000000000u,
    1000000000000u,
    10000000000000u,
    100000000000000u,
    1000000000000000u,
    10000000000000000u,
    100000000000000000u,
    1000000000000000000u,
    10000000000000000000u};

// 5^k up to the largest below 2^64.
constexpr int max_power_of_five = 27;
constexpr auto powers_of_five = [] {
    struct table {
        std::uint64_t value[max_power_of_five + 1];
    } t{};
    t.value[0] = 1;
    for (int k = 1; k <= max_power_of_five; ++k) t.value[k] = t.value[k - 1] * 5;
    return t;
}();

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of 0 < x < 10^19.
int digit_count(std::uint64_t x) {
    const int t = (static_cast<int>(std::bit_width(x)) * 1233) >> 12;
    return t + (x >= powers_of_ten[t]);
}

// Sign of x·2^shift − y.
int compare_scaled(uint128 x, int shift, uint128 y) {
    if (shift < 0) return -compare_scaled(y, -shift, x);
    if (shift >= 128) return x != 0 ? 1 : (y != 0 ? -1 : 0);
    if (shift > 0 && (x >> (128 - shift)) != 0) return 1;
    const uint128 scaled = x << shift;
    return (scaled > y) - (scaled < y);
}

// Sign of m·2^q2 − d·10^q for d < 10^17, or 2 when 5^|q| exceeds 64 bits.
int compare_with_decimal(std::uint64_t m, int q2, std::uint64_t d, int q) {
    if (q >= 0) {
        if (q > max_power_of_five) return 2;
        // m·2^q2 against d·5^q·2^q.
        return compare_scaled(m, q2 - q, static_cast<uint128>(d) * powers_of_five.value[q]);
    }
    if (-q > max_power_of_five) return 2;
    // m·5^−q·2^(q2 − q) against d.
    return compare_scaled(static_cast<uint128>(m) * powers_of_five.value[-q], q2 - q, d);
}

struct decimal {
    std::uint64_t significand;  // no trailing zero
    int exponent;
};

// The shortest decimal that reads back as the positive finite `magnitude`.
decimal shortest(double magnitude) {
#ifdef TRAPFT_HAVE_DRAGONBOX
    const auto d = jkj::dragonbox::to_decimal(magnitude, jkj::dragonbox::policy::sign::ignore);
    return {d.significand, d.exponent};
#else
    // "d.ddde±x": the digits, then the exponent of the first.
    char text[32];
    const char* const end = std::to_chars(text, text + sizeof text, magnitude,
                                          std::chars_format::scientific).ptr;
    std::uint64_t significand = 0;
    int digits = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p == '.') continue;
        significand = significand * 10 + static_cast<std::uint64_t>(*p - '0');
        ++digits;
    }
    const bool negative = p[1] == '-';
    int exponent = 0;
    for (p += 2; p != end; ++p) exponent = exponent * 10 + (*p - '0');
    return {significand, (negative ? -exponent : exponent) - (digits - 1)};
#endif
}

// Writes the `count` digits of x at `first`.
void write_digits(char* first, std::uint64_t x, int count) {
    char* p = first + count;
    while (count >= 2) {
        const auto pair = static_cast<std::size_t>(x % 100) * 2;
        x /= 100;
        p -= 2;
        std::memcpy(p, digit_pairs + pair, 2);
        count -= 2;
    }
    if (count) *--p = static_cast<char>('0' + x);
}

// %g's layout of S·10^e, S of at most 15 digits and no trailing zero.
char* lay_out(char* p, std::uint64_t significand, int exponent) {
    char digits[16];
    const int count = digit_count(significand);
    write_digits(digits, significand, count);
    const int point = exponent + count;  // digits before the decimal point
    if (point > 15 || point < -3) {
        *p++ = digits[0];
        if (count > 1) {
            *p++ = '.';
            std::memcpy(p, digits + 1, static_cast<std::size_t>(count - 1));
            p += count - 1;
        }
        int scientific = point - 1;
        *p++ = 'e';
        *p++ = scientific < 0 ? '-' : '+';
        if (scientific < 0) scientific = -scientific;
        if (scientific >= 100) {
            *p++ = static_cast<char>('0' + scientific / 100);
            scientific %= 100;
        }
        std::memcpy(p, digit_pairs + scientific * 2, 2);
        return p + 2;
    }
    if (point <= 0) {
        std::memcpy(p, "0.0000", static_cast<std::size_t>(2 - point));
        p += 2 - point;
        std::memcpy(p, digits, static_cast<std::size_t>(count));
        return p + count;
    }
    if (count <= point) {
        std::memcpy(p, digits, static_cast<std::size_t>(count));
        p += count;
        std::memset(p, '0', static_cast<std::size_t>(point - count));
        return p + (point - count);
    }
    std::memcpy(p, digits, static_cast<std::size_t>(point));
    p += point;
    *p++ = '.';
    std::memcpy(p, digits + point, static_cast<std::size_t>(count - point));
    return p + (count - point);
}

}  // namespace

char* write_g15(char* first, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    char* p = first;
    if (bits >> 63) *p++ = '-';
    if (biased == 0x7ff) {
        std::memcpy(p, fraction != 0 ? "nan" : "inf", 3);
        return p + 3;
    }
    if (biased == 0) {
        if (fraction == 0) {
            *p = '0';
            return p + 1;
        }
        // Subnormals carry too few bits for the shortcut below.
        return std::to_chars(first, first + g15_max_length, value, std::chars_format::general, 15).ptr;
    }

    decimal s = shortest(std::bit_cast<double>(bits & ~(std::uint64_t{1} << 63)));
    const int count = digit_count(s.significand);
    if (count > 15) {
        const std::uint64_t unit = powers_of_ten[count - 15];
        const std::uint64_t half = unit / 2;
        std::uint64_t head = s.significand / unit;
        const std::uint64_t tail = s.significand % unit;
        bool up = tail > half;
        if (tail == half || fraction == 0) {
            // The exact value decides: v against B = (10·head + 5)·10^(e + count − 16).
            const int sign = compare_with_decimal(fraction | (std::uint64_t{1} << 52), biased - 1075,
                                                  head * 10 + 5, s.exponent + count - 16);
            if (sign == 2) {
                return std::to_chars(first, first + g15_max_length, value, std::chars_format::general, 15).ptr;
            }
            up = sign > 0 || (sign == 0 && (head & 1) != 0);
        }
        head += up;
        s.exponent += count - 15;
        while (head % 10 == 0) {
            head /= 10;
            ++s.exponent;
        }
        s.significand = head;
    }
    return lay_out(p, s.significand, s.exponent);
}

}  // namespace trapft
