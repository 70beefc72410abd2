// Recognises the text of one "%f" number a character at a time and converts it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trapft {

enum class float_state : std::uint8_t {
    start, sign,
    zero, hex_mark,                                  // a leading 0, then 0x
    integer, dot, fraction,                          // mantissa, decimal or hexadecimal
    exponent_mark, exponent_sign, exponent,          // e (p after 0x), sign, decimal digits
    infinity, not_a_number, payload, payload_closed, // inf[inity], nan[(...)]
};

// Significant mantissa digits kept, per precision. The rounding boundaries
// (halfway between neighbours) of a float have at most 113 significant decimal
// digits, those of a double at most 767, so the digits past these can only tip
// the rounding as one "something nonzero follows" digit: numbers of any length
// convert exactly in fixed space. A float keeps fewer, to stay as fast.
inline constexpr int kept_digits = 160;
inline constexpr int double_kept_digits = 800;

// An input item as the C library's scanf defines it: the longest prefix that is,
// or can still begin, a floating-point number, taken without backtracking;
// with what its conversion needs, in fixed space.
struct float_scanner {
    float_state state = float_state::start;
    std::uint8_t letters = 0;         // letters of "infinity" or "nan" matched so far
    bool double_precision = false;    // set before the first character: round to double
    bool hex = false;                 // after 0x: hexadecimal digits, exponent after p
    bool negative = false;
    bool exponent_negative = false;
    bool in_fraction = false;
    bool sticky = false;              // a nonzero digit past the kept ones
    std::int16_t digit_count = 0;     // significant digits kept
    std::int64_t point = 0;           // point position after the first kept digit, in digits
    std::int64_t exponent_value = 0;  // the written exponent's magnitude, saturated
    char digits[double_kept_digits];  // the first kept_digits only, for a float
};

// Takes the leading characters of `text` that continue the item and returns
// how many; fewer than `size` means the item has ended. An item never holds
// white space, so the scanner can be fed a buffer at a time.
std::size_t float_scanner_take(float_scanner& scanner, const char* text, std::size_t size);

// Whether the item taken so far is a whole number rather than only the start of one.
bool float_scanner_complete(const float_scanner& scanner);

// The item's value as strtof gives it for the whole item, widened to double
// (as strtod gives it, with double_precision); the item must be complete.
// A NaN keeps its sign but not its payload, which no result shows.
double float_scanner_value(const float_scanner& scanner);

}  // namespace trapft
