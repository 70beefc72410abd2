// Reads a regular file's samples in pieces, on several threads.
#pragma once

#include <cstdint>
#include <cstdio>

#include "input/sample_set.hpp"

namespace trapft {

// The least bytes worth a thread of their own.
inline constexpr std::int64_t min_piece_bytes = std::int64_t{1} << 19;

// Reserves room in both tables for as many pairs as `bytes` of text could
// hold (a pair takes at least four bytes, "1 2" and a separator), at most
// `most`: address space only, as the pages are touched by the pairs read,
// which saves copying the tables as they grow. Where that much cannot be
// had, the tables are left to grow.
void reserve_pairs(sample_set& samples, std::int64_t bytes, std::int64_t most);

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
