// The result line: four numbers as "%.15g" prints them, blank or comma separated.
#include "output/result_line.hpp"

#include "output/g15.hpp"

namespace trapft {
namespace {

char* put_value(char* first, double value) { return write_g15(first, value); }

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
