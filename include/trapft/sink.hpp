// Where a sweep's lines go: the interface between the sweep and its output formats.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trapft {

// X(f) = real + i·imaginary at one frequency; magnitude is |X(f)|.
struct spectrum_point {
    double frequency;
    double real;
    double imaginary;
    double magnitude;
};

// Consecutive lines of a sweep as parallel tables: `first` counts from the
// first line of the run (of its slice, with parts).
struct spectrum_lines {
    std::int64_t first = 0;
    std::int32_t count = 0;
    const double* frequency = nullptr;
    const double* real = nullptr;
    const double* imaginary = nullptr;
    const double* magnitude = nullptr;
};

// A sweep calls begin once, then format on its worker threads (concurrently,
// for disjoint lines, in any order), then write on the calling thread with
// each piece's bytes in line order, then end. A false from begin, write or end
// stops the sweep with write_failed; what was written before is then a prefix
// of the whole output.
class spectrum_sink {
public:
    virtual ~spectrum_sink() = default;

    // The most bytes format gives one line (0: the sink writes nothing, as
    // when it keeps the numbers in memory).
    virtual std::size_t line_bytes() const = 0;

    // Before the first line, with the run's number of lines.
    virtual bool begin(std::int64_t lines) = 0;

    // Turns `lines` into bytes at `out` (room for lines.count × line_bytes())
    // and returns how many. Safe on any thread.
    virtual std::size_t format(const spectrum_lines& lines, char* out) = 0;

    // Writes what format gave for `lines` lines, in line order.
    virtual bool write(const char* bytes, std::size_t size, std::int32_t lines) = 0;

    // After the last line: flushes what is buffered.
    virtual bool end() = 0;
};

}  // namespace trapft
