// Reads a regular file's samples in pieces, on several threads.
#pragma once

#include <cstdint>
#include <cstdio>

#include "trapft/reader.hpp"

namespace trapft {

// The least bytes worth a thread of their own.
inline constexpr std::int64_t min_piece_bytes = std::int64_t{1} << 19;

// Whether the stream reads a regular file, and if so the file offsets of its
// current position and of the file's end.
bool regular_file_range(std::FILE* stream, std::int64_t& begin, std::int64_t& end);

// Reads the samples in bytes [begin, end) of the regular file open as
// `descriptor`, cut into `pieces` pieces read at once (on fewer threads if
// threads cannot start), with load_samples' result on the same bytes however
// many pieces there are. The file's offset does not move.
load_result load_file_samples(int descriptor, std::int64_t begin, std::int64_t end, int pieces,
                              sample_set& samples, const read_options& options);

}  // namespace trapft
