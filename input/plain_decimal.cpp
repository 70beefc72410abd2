#include "input/plain_decimal.hpp"

#include <bit>
#include <charconv>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>

#include "input/nearest_double.hpp"

namespace trapft {
namespace {

static_assert(std::endian::native == std::endian::little, "the digit scan reads bytes in memory order");

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::uint64_t load_eight(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// High bit set in each byte that is not a decimal digit. A byte's carry or
// borrow reaches only the bytes after it, which follow a non-digit already.
std::uint64_t non_digits(std::uint64_t word) {
    return ((word + 0x4646464646464646) | (word - 0x3030303030303030)) & 0x8080808080808080;
}

// The end of the run of decimal digits that starts at p.
const char* skip_digits(const char* p, const char* end) {
    for (; end - p >= 8; p += 8) {
        const std::uint64_t others = non_digits(load_eight(p));
        if (others != 0) return p + std::countr_zero(others) / 8;
    }
    while (p < end && is_digit(*p)) ++p;
    return p;
}

// The value of eight decimal digits, the first most significant.
std::uint64_t eight_digits(const char* p) {
    std::uint64_t word = load_eight(p) - 0x3030303030303030;
    word = word * 10 + (word >> 8);  // pairs of digits in every other byte
    return (((word & 0x000000FF000000FF) * (100 + (std::uint64_t{1000000} << 32))) +
            (((word >> 16) & 0x000000FF000000FF) * (1 + (std::uint64_t{10000} << 32)))) >> 32;
}

// Appends the digits of [p, end) to `mantissa`, which they keep below 10^19.
std::uint64_t append_digits(std::uint64_t mantissa, const char* p, const char* end) {
    for (; end - p >= 8; p += 8) mantissa = mantissa * 100000000 + eight_digits(p);
    for (; p < end; ++p) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    return mantissa;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// Their inverses, each the nearest double.
constexpr double inverse_powers[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                     1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                     1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
constexpr int largest_exact_power = 22;
constexpr std::uint64_t largest_exact_integer = std::uint64_t{1} << 53;
constexpr std::int64_t kept_digits = 19;       // a uint64 holds any 19 decimal digits
constexpr std::int64_t exponent_cap = 100000;  // past any finite nonzero result

// How far, in units of the last place, the double's 29 bits below a float's
// mantissa lie from a float midpoint (1 followed by 28 zeros).
std::uint64_t distance_to_float_midpoint(double x) {
    const std::uint64_t low = std::bit_cast<std::uint64_t>(x) & ((std::uint64_t{1} << 29) - 1);
    const std::uint64_t midpoint = std::uint64_t{1} << 28;
    return low > midpoint ? low - midpoint : midpoint - low;
}

// Whether long double has the x87 extended format: a 64-bit mantissa, its
// leading bit explicit, in the first 8 bytes.
constexpr bool wide_mantissa = std::numeric_limits<long double>::digits == 64 &&
                               std::numeric_limits<long double>::max_exponent == 16384;

// Whether long double arithmetic rounds to its full 64 bits here: a narrower
// x87 precision setting, or an emulator, rounds it shorter.
bool wide_arithmetic() {
    volatile long double one = 1.0L;
    return one + 0x1p-63L != 1.0L;
}

// Whether a normal long double of that format lies exactly halfway between
// two neighbouring doubles: its 11 bits below a double's mantissa are 1
// followed by zeros.
bool is_double_midpoint(long double x) {
    std::uint64_t mantissa;
    std::memcpy(&mantissa, &x, sizeof mantissa);
    return (mantissa & 0x7ff) == 0x400;
}

}  // namespace

std::size_t read_plain_decimal(const char* text, const char* end, bool double_precision, double& value) {
    const char* p = text;
    const bool negative = p < end && *p == '-';
    p += p < end && (*p == '-' || *p == '+');
    const char* const integer = p;
    const char* const integer_end = p = skip_digits(p, end);
    const char* fraction = p;
    const char* fraction_end = p;
    if (p < end && *p == '.') {
        fraction = p + 1;
        fraction_end = p = skip_digits(fraction, end);
    }
    if (integer == integer_end && fraction == fraction_end) return 0;

    std::int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool exponent_negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        if (p == end || !is_digit(*p)) return 0;  // "1e" and "1e+" hold no number
        for (; p < end && is_digit(*p); ++p)
            if (exponent < exponent_cap) exponent = exponent * 10 + (*p - '0');
        if (exponent_negative) exponent = -exponent;
    }
    // Any other character would continue the item ("0x1", "1.5.2", "2Hz"),
    // and the end of the text may hold more of it.
    if (p == end || !is_space(*p)) return 0;
    const std::size_t used = static_cast<std::size_t>(p - text);

    // Leading zeros, in both parts, add nothing to the mantissa.
    const char* first = integer;
    while (first < integer_end && *first == '0') ++first;
    if (first == integer_end) {
        first = fraction;
        while (first < fraction_end && *first == '0') ++first;
    }
    const std::int64_t significant = first < integer_end ? (integer_end - first) + (fraction_end - fraction)
                                                         : fraction_end - first;
    if (significant == 0) {
        value = negative ? -0.0 : 0.0;
        return used;
    }
    if (significant <= kept_digits) {
        const std::uint64_t mantissa = append_digits(append_digits(0, integer, integer_end), fraction, fraction_end);
        const std::int64_t power = exponent - (fraction_end - fraction);
        const bool small_power = power >= -largest_exact_power && power <= largest_exact_power;
        const double m = static_cast<double>(mantissa);
        const std::uint64_t sign = std::uint64_t{negative} << 63;
        if (double_precision) {
            // Both operands exact: one correctly rounded operation gives
            // the nearest double.
            if (small_power && mantissa <= largest_exact_integer) {
                const double x = power < 0 ? m / exact_powers[-power] : m * exact_powers[power];
                value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) | sign);
                return used;
            }
            // Products with the power's leading 128 bits settle nearly all the rest.
            if (nearest_double(mantissa, power, negative, value)) return used;
            // A wider type holds the mantissa and the power exactly: one
            // rounding to its 64 bits, and a second one to double that is
            // right unless the first landed exactly halfway between doubles.
            if (small_power && wide_mantissa && wide_arithmetic()) {
                const long double wide = static_cast<long double>(mantissa);
                const long double power_of_ten = static_cast<long double>(exact_powers[power < 0 ? -power : power]);
                const long double x = power < 0 ? wide / power_of_ten : wide * power_of_ten;
                if (!is_double_midpoint(x)) {
                    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(static_cast<double>(x)) | sign);
                    return used;
                }
            }
        } else if (small_power) {
            // Within 3 units of the last place of the exact value (the
            // mantissa, the power and the product each rounded at most
            // once), so within 6 bit steps, units being halved a binade
            // lower: with no float midpoint that close, the nearest float
            // of this double is the nearest float of the number.
            const double x = m * (power < 0 ? inverse_powers[-power] : exact_powers[power]);
            if (x <= FLT_MAX && distance_to_float_midpoint(x) > 16) {
                const float rounded = static_cast<float>(x);
                value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(static_cast<double>(rounded)) | sign);
                return used;
            }
        }
    }
    // from_chars rounds as strtof (strtod) does; it takes no '+' and leaves
    // results out of range to the general reader.
    const char* const number = negative ? text : integer;
    if (double_precision) {
        double x = 0.0;
        const std::from_chars_result read = std::from_chars(number, p, x);
        if (read.ec != std::errc{} || read.ptr != p) return 0;
        value = x;
    } else {
        float x = 0.0f;
        const std::from_chars_result read = std::from_chars(number, p, x);
        if (read.ec != std::errc{} || read.ptr != p) return 0;
        value = static_cast<double>(x);
    }
    return used;
}

}  // namespace trapft
