// A sink that keeps the lines in memory, in tables the caller owns.
#include "trapft/array_sink.hpp"

namespace trapft {

std::size_t array_sink::format(const spectrum_lines& lines, char*) {
    const spectrum_arrays& a = arrays_;
    for (std::int32_t j = 0; j < lines.count; ++j) {
        const std::int64_t line = lines.first + j;
        if (line >= a.capacity) break;  // a run longer than the tables: begin refuses it
        if (a.frequency != nullptr) a.frequency[line] = lines.frequency[j];
        if (a.real != nullptr) a.real[line * a.stride] = lines.real[j];
        if (a.imaginary != nullptr) a.imaginary[line * a.stride] = lines.imaginary[j];
        if (a.magnitude != nullptr) a.magnitude[line] = lines.magnitude[j];
    }
    return 0;
}

}  // namespace trapft
