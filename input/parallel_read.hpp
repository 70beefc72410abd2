// Reads a regular file's samples, or single numbers, in pieces, on several threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "trapft/reader.hpp"

namespace trapft {

// The least bytes worth a thread of their own.
inline constexpr std::int64_t min_piece_bytes = std::int64_t{1} << 19;

// Whether the stream reads a regular file, and if so the file offsets of its
// current position and of the file's end.
bool regular_file_range(std::FILE* stream, std::int64_t& begin, std::int64_t& end);

// The pieces worth reading `stream` in on up to `threads` threads (0: one per
// online processor): 0 where it reads no regular file, else at least 1, with
// the file's range from the stream's position in `begin` and `end`.
int file_pieces(std::FILE* stream, int threads, std::int64_t& begin, std::int64_t& end);

// Reads the samples in bytes [begin, end) of the regular file open as
// `descriptor`, cut into `pieces` pieces read at once (on fewer threads if
// threads cannot start), with load_samples' result on the same bytes however
// many pieces there are. The file's offset does not move.
load_result load_file_samples(int descriptor, std::int64_t begin, std::int64_t end, int pieces,
                              sample_set& samples, const read_options& options);

// The same for a file of single numbers, any number of them to a line, into
// `numbers`: at most `allowed` (one more is too_many_samples, at its line),
// with the result of reading them in order however many pieces there are.
load_result load_file_numbers(int descriptor, std::int64_t begin, std::int64_t end, int pieces, std::size_t allowed,
                              std::vector<double>& numbers, bool double_precision);

}  // namespace trapft
