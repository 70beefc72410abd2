#include "input/parallel_read.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <system_error>
#include <vector>

#include "input/byte_reader.hpp"
#include "input/pairs.hpp"
#include "spectrum/parallel.hpp"

namespace trapft {
namespace {

constexpr std::size_t piece_buffer_bytes = std::size_t{1} << 16;

// What one piece holds: the numbers of the items that begin in it. An item
// that begins in a piece belongs to it wholly, and so does every item of the
// same run of non-space bytes: the next piece starts after that run.
struct piece {
    std::int64_t start = 0;
    std::int64_t limit = 0;
    std::vector<double> numbers;
    // The first piece's numbers go straight into the samples as pairs (its
    // first number is a time), which saves copying them after.
    sample_set* pairs = nullptr;
    pending_time pending;
    load_status status = load_status::ok;  // not_a_number, read_error or out_of_memory
    std::int64_t failure_line = 0;         // of the item that is not a number, counted from the piece's start
    std::int64_t last_line = 0;            // of the last number read, counted likewise
    std::int64_t line_feeds = 0;           // in [start, limit), when the piece was read to its limit
};

// The numbers the piece holds so far.
std::size_t numbers_in(const piece& p) {
    return p.pairs == nullptr ? p.numbers.size() : 2 * p.pairs->times.size() + (p.pending.waiting ? 1 : 0);
}

// Appends `n` numbers to the piece (into the samples, as append_pairs, with
// room for `most` pairs). Throws std::bad_alloc, the piece then being of no
// further use.
void append(piece& p, const double* numbers, std::size_t n, std::size_t most) {
    if (p.pairs == nullptr) p.numbers.insert(p.numbers.end(), numbers, numbers + n);
    else append_pairs(*p.pairs, p.pending, numbers, n, most);
}

// Reads the piece's items, at most `most` of them.
void read_piece(int descriptor, std::int64_t begin, std::int64_t end, std::size_t most, bool double_precision,
                char* buffer, piece& p) {
    p.numbers.clear();
    p.pending = {};
    if (p.pairs != nullptr) {
        p.pairs->times.clear();
        p.pairs->values.clear();
    }
    p.status = load_status::ok;
    if (p.start == p.limit) return;
    // Room for as many numbers as the piece's bytes could hold, one byte and
    // one separator each (in the samples, for the pairs of the whole file, as
    // the other pieces' join them): address space only, as the pages are
    // touched by the numbers read. Without it, the tables grow in steps.
    const auto at_most = static_cast<std::int64_t>(std::min<std::size_t>(most, INT64_MAX));
    if (p.pairs == nullptr) {
        try {
            p.numbers.reserve(static_cast<std::size_t>(std::min<std::int64_t>((p.limit - p.start) / 2 + 1, at_most)));
        } catch (const std::exception&) {
        }
    } else {
        reserve_pairs(*p.pairs, end - begin, at_most / 2 + 1);
    }
    byte_reader reader;
    reader.descriptor = descriptor;
    reader.offset = p.start;
    reader.end = end;
    reader.buffer = buffer;
    reader.capacity = piece_buffer_bytes;
    char c;
    if (p.start > begin) {
        // The bytes that go on from before the start belong to the piece
        // before; a piece wholly inside them holds nothing.
        reader.offset = p.start - 1;
        if (!peek(reader, c)) {
            p.status = load_status::read_error;  // the file ended early or failed
            return;
        }
        const bool inside = !is_space(c);
        ++reader.position;
        while (inside && reader_offset(reader) < p.limit && peek(reader, c) && !is_space(c)) ++reader.position;
        if (reader_offset(reader) >= p.limit) {
            p.line_feeds = 0;
            return;
        }
    }
    double batch[256];
    while (numbers_in(p) < most) {
        const std::size_t wanted = std::min(std::size(batch), most - numbers_in(p));
        std::size_t read = read_plain_numbers(reader, double_precision, p.limit, batch, wanted, p.last_line);
        if (read == 0) {
            // Anything else, a number across the buffer's end too, one at a time.
            if (!skip_space(reader, p.limit)) break;
            const std::int64_t line = reader.line;
            if (!read_number(reader, double_precision, batch[0])) {
                p.status = load_status::not_a_number;
                p.failure_line = line;
                break;
            }
            p.last_line = line;
            read = 1;
        }
        try {
            append(p, batch, read, most / 2 + 1);
        } catch (const std::bad_alloc&) {
            p.status = load_status::out_of_memory;
            break;
        }
    }
    if (reader.failed) p.status = load_status::read_error;
    p.line_feeds = reader.line - 1;
}

}  // namespace

bool regular_file_range(std::FILE* stream, std::int64_t& begin, std::int64_t& end) {
    const int descriptor = fileno(stream);
    struct stat status;
    if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const off_t position = ftello(stream);
    if (position < 0 || position > status.st_size) return false;
    begin = position;
    end = status.st_size;
    return true;
}

namespace {

// The file's bytes [begin, end) cut into count pieces, read at once (pieces
// without a thread are read by the others), at most `most` numbers each;
// parts[0].pairs, where set, takes the first piece's numbers as pairs.
bool read_pieces(int descriptor, std::int64_t begin, std::int64_t end, std::size_t count, std::size_t most,
                 bool double_precision, std::vector<piece>& parts, std::vector<char>& buffers, sample_set* pairs) {
    try {
        parts.resize(count);
        buffers.resize(count * piece_buffer_bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::int64_t bytes = end - begin;
    const auto pieces = static_cast<std::int64_t>(count);
    auto boundary = [&](std::int64_t k) {  // begin + bytes·k/count, without overflow
        return begin + bytes / pieces * k + bytes % pieces * k / pieces;
    };
    for (std::size_t k = 0; k < count; ++k) {
        parts[k].start = boundary(static_cast<std::int64_t>(k));
        parts[k].limit = boundary(static_cast<std::int64_t>(k) + 1);
    }
    parts[0].pairs = pairs;
    thread_team team(static_cast<int>(count));
    team.run(static_cast<int>(count), static_cast<int>(count), [&](int k) {
        const auto at = static_cast<std::size_t>(k);
        read_piece(descriptor, begin, end, most, double_precision, buffers.data() + at * piece_buffer_bytes, parts[at]);
    });
    return true;
}

// The first failure in file order, unless the number past `allowed` was read
// before it (too_many_samples, at its line); else ok, with the numbers read
// and the line of the last.
load_result first_failure(int descriptor, std::int64_t begin, std::int64_t end, bool double_precision,
                          std::vector<piece>& parts, char* buffer, std::size_t allowed, std::size_t& numbers,
                          std::int64_t& last_line) {
    numbers = 0;
    last_line = 0;
    std::int64_t lines_before = 0;
    for (piece& p : parts) {
        if (numbers + numbers_in(p) > allowed) {
            // The line of the number past it: read the piece again up to it.
            const std::size_t index = allowed - numbers;
            read_piece(descriptor, begin, end, index + 1, double_precision, buffer, p);
            return {load_status::too_many_samples, lines_before + p.last_line};
        }
        if (p.status != load_status::ok)
            return {p.status, p.status == load_status::not_a_number ? lines_before + p.failure_line : 0};
        if (numbers_in(p) != 0) last_line = lines_before + p.last_line;
        numbers += numbers_in(p);
        lines_before += p.line_feeds;
    }
    return {};
}

}  // namespace

int file_pieces(std::FILE* stream, int threads, std::int64_t& begin, std::int64_t& end) {
    if (!regular_file_range(stream, begin, end)) return 0;
    const std::int64_t pieces = std::min<std::int64_t>(resolve_jobs(threads), (end - begin) / min_piece_bytes);
    return static_cast<int>(std::max<std::int64_t>(pieces, 1));
}

load_result load_file_samples(int descriptor, std::int64_t begin, std::int64_t end, int pieces,
                              sample_set& samples, const read_options& options) {
    samples.times.clear();
    samples.values.clear();
    const bool double_precision = options.double_precision;
    // A piece needs no more than the numbers of one pair past the capacity.
    const std::size_t most = 2 * static_cast<std::size_t>(std::max(options.capacity, 0)) + 1;
    const std::size_t count = static_cast<std::size_t>(std::max(pieces, 1));
    std::vector<piece> parts;
    std::vector<char> buffers;
    if (!read_pieces(descriptor, begin, end, count, most, double_precision, parts, buffers, &samples))
        return {load_status::out_of_memory, 0};

    // The first failure in file order decides, unless the pair past the
    // capacity was read before it.
    std::size_t before = 0;
    std::int64_t last_line = 0;
    const load_result failure =
        first_failure(descriptor, begin, end, double_precision, parts, buffers.data(), most - 1, before, last_line);
    if (failure.status != load_status::ok) return failure;
    if (before % 2 != 0) return {load_status::time_without_value, last_line};

    const std::size_t pairs = std::max<std::size_t>(before / 2, 1);
    try {
        samples.times.reserve(pairs);
        samples.values.reserve(pairs);
    } catch (const std::bad_alloc&) {
        return {load_status::out_of_memory, 0};
    }
    if (before == 0) {
        // As from a stream: a file without numbers gives one sample (0, 0).
        samples.times.push_back(0.0);
        samples.values.push_back(0.0);
        return {};
    }
    // The first piece's pairs are in place; the others' numbers join them
    // (within the room reserved above), a time left over pairing with the
    // next piece's first number.
    for (std::size_t k = 1; k < count; ++k) {
        append(parts[0], parts[k].numbers.data(), parts[k].numbers.size(), pairs);
        std::vector<double>().swap(parts[k].numbers);  // memory back as soon as copied
    }
    return {};
}

load_result load_file_numbers(int descriptor, std::int64_t begin, std::int64_t end, int pieces, std::size_t allowed,
                              std::vector<double>& numbers, bool double_precision) {
    numbers.clear();
    const std::size_t count = static_cast<std::size_t>(std::max(pieces, 1));
    std::vector<piece> parts;
    std::vector<char> buffers;
    if (!read_pieces(descriptor, begin, end, count, allowed + 1, double_precision, parts, buffers, nullptr))
        return {load_status::out_of_memory, 0};
    std::size_t total = 0;
    std::int64_t last_line = 0;
    const load_result failure =
        first_failure(descriptor, begin, end, double_precision, parts, buffers.data(), allowed, total, last_line);
    if (failure.status != load_status::ok) return failure;
    try {
        numbers.reserve(total);
    } catch (const std::bad_alloc&) {
        return {load_status::out_of_memory, 0};
    }
    for (piece& p : parts) {
        numbers.insert(numbers.end(), p.numbers.begin(), p.numbers.end());
        std::vector<double>().swap(p.numbers);
    }
    return {};
}

}  // namespace trapft
