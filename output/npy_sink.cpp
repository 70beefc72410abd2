// NumPy .npy output: one array of shape (lines, 4) of little-endian doubles.
#include "trapft/npy_sink.hpp"

#include <bit>
#include <cstdio>
#include <cstring>

namespace trapft {

static_assert(std::endian::native == std::endian::little, "the rows are written as the machine holds them: '<f8'");

std::size_t npy_header(std::int64_t lines, char* out) {
    char dictionary[96];
    const int length = std::snprintf(dictionary, sizeof dictionary,
                                     "{'descr': '<f8', 'fortran_order': False, 'shape': (%lld, 4), }",
                                     static_cast<long long>(lines));
    // Magic, version 1.0, header length, the dictionary padded with blanks
    // and ended by a line feed so that the data starts 64-byte aligned.
    const std::size_t unpadded = 10 + static_cast<std::size_t>(length) + 1;
    const std::size_t total = (unpadded + 63) / 64 * 64;
    const std::size_t header_length = total - 10;
    std::memcpy(out, "\x93NUMPY\x01\x00", 8);
    out[8] = static_cast<char>(header_length & 0xff);
    out[9] = static_cast<char>(header_length >> 8);
    std::memcpy(out + 10, dictionary, static_cast<std::size_t>(length));
    std::memset(out + 10 + length, ' ', total - unpadded);
    out[total - 1] = '\n';
    return total;
}

bool npy_sink::begin(std::int64_t lines) {
    char header[128];
    const std::size_t size = npy_header(lines, header);
    out_.use_records(size, line_bytes());
    return out_.put(header, size);
}

std::size_t npy_sink::format(const spectrum_lines& lines, char* out) {
    for (std::int32_t j = 0; j < lines.count; ++j) {
        const double row[4] = {lines.frequency[j], lines.real[j], lines.imaginary[j], lines.magnitude[j]};
        std::memcpy(out + static_cast<std::size_t>(j) * sizeof row, row, sizeof row);
    }
    return static_cast<std::size_t>(lines.count) * line_bytes();
}

}  // namespace trapft
