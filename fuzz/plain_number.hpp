// A plain second reading of "%f" and "%d" items, built on the C library's own
// strtof (or strtod) and strtol, against which the fuzz targets check the tool's readers.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace plain {

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether `prefix` can still grow into text that strtof reads whole. Every
// unfinished number is finished by one of these endings.
inline bool can_begin_number(const std::string& prefix) {
    static const char* const endings[] = {
        "", "0", ")", "an", "n", "nfinity", "finity", "inity", "nity", "ity", "ty", "y",
    };
    for (const char* ending : endings) {
        const std::string whole = prefix + ending;
        char* end = nullptr;
        std::strtof(whole.c_str(), &end);
        if (!whole.empty() && end == whole.c_str() + whole.size()) return true;
    }
    return false;
}

struct item {
    std::size_t size = 0;  // bytes of the "%f" input item: the longest prefix that can begin a number
    bool whole = false;    // the item is a number
    double value = 0.0;    // its float, widened (or its double), when whole
};

// The "%f" input item at the start of `text` (no leading white space). Prefixes
// that can begin a number are closed under shortening, so a binary search finds
// the longest; none holds white space or a NUL byte. What is a number does not
// depend on the precision: only the value is rounded to double on request.
inline item read_item(const char* text, std::size_t size, bool double_precision = false) {
    std::size_t high = 0;
    while (high < size && text[high] != '\0' && !is_space(text[high])) ++high;
    std::size_t low = 0;  // can_begin_number holds for `low` bytes
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (can_begin_number(std::string(text, middle))) low = middle;
        else high = middle - 1;
    }
    item result;
    result.size = low;
    const std::string taken(text, low);
    char* end = nullptr;
    result.value = double_precision ? std::strtod(taken.c_str(), &end)
                                    : static_cast<double>(std::strtof(taken.c_str(), &end));
    result.whole = low > 0 && end == taken.c_str() + low;
    return result;
}

// "%d" through strtol: false without digits or outside int32.
inline bool read_count(const char* text, std::int32_t& count) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
    count = static_cast<std::int32_t>(value);
    return true;
}

// The same double to the bit; a NaN only by its sign, as the tool keeps no
// payload (no result line shows one).
inline bool same_number(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace plain
