// Reads the common plain decimal number in one tight pass, leaving the rest to float_scanner.
#pragma once

#include <cstddef>

namespace trapft {

// Reads a number written as [sign] digits [. digits] [e [sign] digits] at
// `text` and followed, before `end`, by white space: stores the value strtof
// gives it, widened (strtod's, with double_precision), and returns the bytes
// taken. Returns 0, storing nothing, for any other text, for one that reaches
// `end`, and for the few values it leaves to the general reader.
std::size_t read_plain_decimal(const char* text, const char* end, bool double_precision, double& value);

}  // namespace trapft
