// NumPy .npy output: one array of shape (lines, 4) of little-endian doubles.
#pragma once

#include "trapft/file_sink.hpp"

namespace trapft {

// The .npy format, version 1.0, dtype '<f8', C order, shape (lines, 4): each
// row frequency, real, imaginary, magnitude. The header goes first, so the
// file streams into a pipe.
class npy_sink final : public file_sink {
public:
    std::size_t line_bytes() const override { return 4 * sizeof(double); }
    bool begin(std::int64_t lines) override;
    std::size_t format(const spectrum_lines& lines, char* out) override;
};

// Writes the .npy header of an array of `lines` rows of four doubles at
// `out`, which has room for 128 bytes; returns its size (a multiple of 64).
std::size_t npy_header(std::int64_t lines, char* out);

}  // namespace trapft
