#include "input/float_scanner.hpp"

namespace trapft {
namespace {

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

}  // namespace

bool float_scanner_take(float_scanner& scanner, char c) {
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
        if (is_digit(c)) next = integer;
        else if (c == '.') next = fraction;
        else if (lower(c) == 'e') next = exponent_mark;
        else return false;
        break;
    case dot:
        if (!is_digit(c)) return false;
        next = fraction;
        break;
    case fraction:
        if (is_digit(c)) next = fraction;
        else if (lower(c) == 'e') next = exponent_mark;
        else return false;
        break;
    case exponent_mark:
        if (c == '+' || c == '-') { next = exponent_sign; break; }
        [[fallthrough]];
    case exponent_sign:
    case exponent:
        if (!is_digit(c)) return false;
        next = exponent;
        break;
    case hex_mark:
        if (is_hex_digit(c)) next = hex_integer;
        else if (c == '.') next = hex_dot;
        else return false;
        break;
    case hex_integer:
        if (is_hex_digit(c)) next = hex_integer;
        else if (c == '.') next = hex_fraction;
        else if (lower(c) == 'p') next = hex_exponent_mark;
        else return false;
        break;
    case hex_dot:
        if (!is_hex_digit(c)) return false;
        next = hex_fraction;
        break;
    case hex_fraction:
        if (is_hex_digit(c)) next = hex_fraction;
        else if (lower(c) == 'p') next = hex_exponent_mark;
        else return false;
        break;
    case hex_exponent_mark:
        if (c == '+' || c == '-') { next = hex_exponent_sign; break; }
        [[fallthrough]];
    case hex_exponent_sign:
    case hex_exponent:
        if (!is_digit(c)) return false;
        next = hex_exponent;
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
    scanner.state = next;
    return true;
}

bool float_scanner_complete(const float_scanner& scanner) {
    using enum float_state;
    switch (scanner.state) {
    case zero: case integer: case fraction: case exponent:
    case hex_integer: case hex_fraction: case hex_exponent:
    case payload_closed:
        return true;
    case infinity:
        return scanner.letters == 3 || scanner.letters == sizeof infinity_word - 1;
    case not_a_number:
        return scanner.letters == sizeof nan_word - 1;
    default:
        return false;
    }
}

}  // namespace trapft
