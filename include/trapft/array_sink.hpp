// A sink that keeps the lines in memory, in tables the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trapft/sink.hpp"

namespace trapft {

// Destination tables of a run's lines; a null table is not filled. Line j of
// the run goes to frequency[j], real[j × stride], imaginary[j × stride] and
// magnitude[j]: stride 2 with imaginary = real + 1 fills interleaved complex
// numbers.
struct spectrum_arrays {
    double* frequency = nullptr;
    double* real = nullptr;
    double* imaginary = nullptr;
    double* magnitude = nullptr;
    std::ptrdiff_t stride = 1;
    std::int64_t capacity = 0;  // lines the tables hold
};

// Fills `arrays` from the worker threads; begin refuses a run of more lines
// than the tables hold.
class array_sink final : public spectrum_sink {
public:
    explicit array_sink(const spectrum_arrays& arrays) : arrays_(arrays) {}

    std::size_t line_bytes() const override { return 0; }
    bool begin(std::int64_t lines) override { return lines <= arrays_.capacity; }
    std::size_t format(const spectrum_lines& lines, char* out) override;
    bool write(const char*, std::size_t, std::int32_t) override { return true; }
    bool end() override { return true; }

private:
    spectrum_arrays arrays_;
};

}  // namespace trapft
