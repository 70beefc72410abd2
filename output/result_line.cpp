// The result line: four numbers as "%.15g" prints them, blank or comma separated.
#include "output/result_line.hpp"

#include <charconv>

namespace trapft {
namespace {

char* put_value(char* first, double value) {
    return std::to_chars(first, first + 22, value, std::chars_format::general, 15).ptr;
}

}  // namespace

char* write_result_line(char* first, const spectrum_point& point, char separator) {
    char* p = put_value(first, point.frequency);
    *p++ = separator;
    p = put_value(p, point.real);
    *p++ = separator;
    p = put_value(p, point.imaginary);
    *p++ = separator;
    p = put_value(p, point.magnitude);
    *p++ = '\n';
    return p;
}

result_line format_result_line(const spectrum_point& point) {
    result_line line;
    line.size = static_cast<std::size_t>(write_result_line(line.text, point) - line.text);
    return line;
}

}  // namespace trapft
