// Text and CSV output: the result lines, blank or comma separated.
#include "trapft/text_sink.hpp"

#include <cstring>

#include "output/result_line.hpp"

namespace trapft {

std::size_t text_sink::line_bytes() const { return max_line_length; }

bool text_sink::begin(std::int64_t) {
    return header_ == nullptr || out_.put(header_, std::strlen(header_));
}

std::size_t text_sink::format(const spectrum_lines& lines, char* out) {
    char* p = out;
    for (std::int32_t j = 0; j < lines.count; ++j)
        p = write_result_line(p, {lines.frequency[j], lines.real[j], lines.imaginary[j], lines.magnitude[j]},
                              separator_);
    return static_cast<std::size_t>(p - out);
}

}  // namespace trapft
