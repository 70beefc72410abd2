#include "input/float_scanner.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace trapft {
namespace {

// Bound of the point position and the exponent: far past where every double
// overflows or underflows, far below where the arithmetic would.
constexpr std::int64_t saturation = std::int64_t{1} << 40;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_payload_char(char c) {
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'z') || c == '_';
}

constexpr char infinity_word[] = "infinity";
constexpr char nan_word[] = "nan";

// One mantissa digit (decimal or hexadecimal). The value is kept as
// 0.digits × base^point: leading zeros only move the point.
void add_digit(float_scanner& scanner, char c) {
    if (scanner.digit_count == 0 && c == '0') {
        if (scanner.in_fraction && scanner.point > -saturation) --scanner.point;
        return;
    }
    if (!scanner.in_fraction && scanner.point < saturation) ++scanner.point;
    const int limit = scanner.double_precision ? double_kept_digits : kept_digits;
    if (scanner.digit_count < limit) scanner.digits[scanner.digit_count++] = c;
    else if (c != '0') scanner.sticky = true;
}

// Keeps what the conversion needs of `c`, taken into state `next`.
void record(float_scanner& scanner, float_state next, char c) {
    using enum float_state;
    switch (next) {
    case sign: scanner.negative = c == '-'; break;
    case hex_mark: scanner.hex = true; break;
    case zero: case integer: add_digit(scanner, c); break;
    case dot: scanner.in_fraction = true; break;
    case fraction:
        if (c == '.') scanner.in_fraction = true;
        else add_digit(scanner, c);
        break;
    case exponent_sign: scanner.exponent_negative = c == '-'; break;
    case exponent:
        scanner.exponent_value = std::min(scanner.exponent_value * 10 + (c - '0'), saturation);
        break;
    default: break;
    }
}

bool is_mantissa_digit(const float_scanner& scanner, char c) {
    return scanner.hex ? is_hex_digit(c) : is_digit(c);
}

bool is_exponent_mark(const float_scanner& scanner, char c) {
    return lower(c) == (scanner.hex ? 'p' : 'e');
}

// Whether `c` continues the item; if so the scanner takes it.
bool take_one(float_scanner& scanner, char c) {
    using enum float_state;
    float_state next = scanner.state;
    switch (scanner.state) {
    case start:
        if (c == '+' || c == '-') { next = sign; break; }
        [[fallthrough]];
    case sign:
        if (c == '0') next = zero;
        else if (is_digit(c)) next = integer;
        else if (c == '.') next = dot;
        else if (lower(c) == 'i') next = infinity;
        else if (lower(c) == 'n') next = not_a_number;
        else return false;
        if (next == infinity || next == not_a_number) scanner.letters = 1;
        break;
    case zero:
        if (lower(c) == 'x') { next = hex_mark; break; }
        [[fallthrough]];
    case integer:
        if (is_mantissa_digit(scanner, c)) next = integer;
        else if (c == '.') next = fraction;
        else if (is_exponent_mark(scanner, c)) next = exponent_mark;
        else return false;
        break;
    case hex_mark:
        if (is_hex_digit(c)) next = integer;
        else if (c == '.') next = dot;
        else return false;
        break;
    case dot:
        if (!is_mantissa_digit(scanner, c)) return false;
        next = fraction;
        break;
    case fraction:
        if (is_mantissa_digit(scanner, c)) next = fraction;
        else if (is_exponent_mark(scanner, c)) next = exponent_mark;
        else return false;
        break;
    case exponent_mark:
        if (c == '+' || c == '-') { next = exponent_sign; break; }
        [[fallthrough]];
    case exponent_sign:
    case exponent:
        if (!is_digit(c)) return false;  // decimal, in hexadecimal numbers too
        next = exponent;
        break;
    case infinity:
        if (scanner.letters >= sizeof infinity_word - 1 || lower(c) != infinity_word[scanner.letters])
            return false;
        ++scanner.letters;
        break;
    case not_a_number:
        if (scanner.letters < sizeof nan_word - 1) {
            if (lower(c) != nan_word[scanner.letters]) return false;
            ++scanner.letters;
        } else if (c == '(') {
            next = payload;
        } else {
            return false;
        }
        break;
    case payload:
        if (c == ')') next = payload_closed;
        else if (!is_payload_char(c)) return false;
        break;
    case payload_closed:
        return false;
    }
    record(scanner, next, c);
    scanner.state = next;
    return true;
}

}  // namespace

std::size_t float_scanner_take(float_scanner& scanner, const char* text, std::size_t size) {
    std::size_t taken = 0;
    while (taken < size && take_one(scanner, text[taken])) ++taken;
    return taken;
}

bool float_scanner_complete(const float_scanner& scanner) {
    using enum float_state;
    switch (scanner.state) {
    case zero: case integer: case fraction: case exponent: case payload_closed:
        return true;
    case infinity:
        return scanner.letters == 3 || scanner.letters == sizeof infinity_word - 1;
    case not_a_number:
        return scanner.letters == sizeof nan_word - 1;
    default:
        return false;
    }
}

double float_scanner_value(const float_scanner& scanner) {
    using enum float_state;
    // A bounded text that converts exactly as the whole item would.
    char text[double_kept_digits + 32];
    char* p = text;
    if (scanner.negative) *p++ = '-';
    if (scanner.state == infinity) {
        p = std::copy_n("inf", 3, p);
    } else if (scanner.state == not_a_number || scanner.state == payload_closed) {
        p = std::copy_n("nan", 3, p);
    } else if (scanner.digit_count == 0) {
        *p++ = '0';
    } else {
        const bool hex = scanner.hex;
        if (hex) p = std::copy_n("0x", 2, p);
        p = std::copy_n("0.", 2, p);
        p = std::copy_n(scanner.digits, scanner.digit_count, p);
        if (scanner.sticky) *p++ = '1';
        const std::int64_t written = scanner.exponent_negative ? -scanner.exponent_value : scanner.exponent_value;
        const std::int64_t scale = std::clamp((hex ? 4 : 1) * scanner.point + written,
                                              -saturation, saturation);
        *p++ = hex ? 'p' : 'e';
        p = std::to_chars(p, text + sizeof text, scale).ptr;
    }
    *p = '\0';
    // from_chars rounds decimal text as strtof (strtod) does, at twice its
    // speed, but leaves out-of-range results (overflow, underflow) and
    // hexadecimal to it.
    if (scanner.double_precision) {
        if (!scanner.hex) {
            double value = 0.0;
            const std::from_chars_result read = std::from_chars(text, p, value);
            if (read.ec == std::errc{} && read.ptr == p) return value;
        }
        return std::strtod(text, nullptr);
    }
    if (!scanner.hex) {
        float value = 0.0f;
        const std::from_chars_result read = std::from_chars(text, p, value);
        if (read.ec == std::errc{} && read.ptr == p) return static_cast<double>(value);
    }
    return static_cast<double>(std::strtof(text, nullptr));
}

}  // namespace trapft
