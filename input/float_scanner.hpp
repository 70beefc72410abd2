// Recognises the text of one "%f" number a character at a time.
#pragma once

#include <cstdint>

namespace trapft {

enum class float_state : std::uint8_t {
    start, sign,
    zero, integer, dot, fraction,                      // decimal mantissa
    exponent_mark, exponent_sign, exponent,            // e, sign, digits
    hex_mark, hex_integer, hex_dot, hex_fraction,      // after 0x
    hex_exponent_mark, hex_exponent_sign, hex_exponent,
    infinity, not_a_number, payload, payload_closed,   // inf[inity], nan[(...)]
};

// An input item as the C library's scanf defines it: the longest prefix that is,
// or can still begin, a floating-point number, taken without backtracking.
struct float_scanner {
    float_state state = float_state::start;
    std::uint8_t letters = 0;  // letters of "infinity" or "nan" matched so far
};

// Whether `c` continues the item; if so the scanner takes it.
bool float_scanner_take(float_scanner& scanner, char c);

// Whether the item taken so far is a whole number rather than only the start of one.
bool float_scanner_complete(const float_scanner& scanner);

}  // namespace trapft
