// Feeds arbitrary bytes to load_samples and checks its result against a plain
// second reading: either every pair exactly as strtof (or strtod, in double
// precision) reads its text, or the documented error at the right line; with
// the default capacity and a small one, from a stream and from a file cut into
// pieces read on several threads. Aborts on any difference.
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/plain_number.hpp"
#include "input/parallel_read.hpp"
#include "trapft/reader.hpp"

namespace {

using trapft::load_status;

struct expectation {
    load_status status = load_status::ok;
    std::int64_t line = 0;
    bool reached_end = false;   // the reading looked for a byte past the last
    std::vector<double> numbers;  // times and values in file order
    std::vector<std::int64_t> time_lines;  // the line of each time
};

// The documented reading: items separated by white space, taken in pairs, at
// most `capacity` of them.
expectation expect(const std::string& text, std::int32_t capacity, bool double_precision) {
    expectation e;
    std::size_t position = 0;
    std::int64_t line = 1;
    auto skip_space = [&] {
        for (; position < text.size() && plain::is_space(text[position]); ++position)
            if (text[position] == '\n') ++line;
        if (position == text.size()) e.reached_end = true;
        return position < text.size();
    };
    auto fail = [&](load_status status, std::int64_t at) {
        e.status = status;
        e.line = at;
        return e;
    };
    std::int64_t time_line = 0;
    while (skip_space()) {
        for (int half = 0; half < 2; ++half) {
            if (half == 1 && !skip_space()) return fail(load_status::time_without_value, time_line);
            if (half == 0) {
                time_line = line;
                e.time_lines.push_back(line);
            }
            const plain::item item =
                plain::read_item(text.data() + position, text.size() - position, double_precision);
            if (position + item.size == text.size()) e.reached_end = true;
            if (!item.whole) return fail(load_status::not_a_number, line);
            if (half == 0 && e.numbers.size() == 2 * static_cast<std::size_t>(capacity))
                return fail(load_status::too_many_samples, line);
            e.numbers.push_back(item.value);
            position += item.size;  // an item holds no line feed
        }
    }
    if (e.numbers.empty()) e.numbers = {0.0, 0.0};
    return e;
}

// A stream over `text` handed out in small pieces, ending in an error instead
// of the end of input when `fails_at_end`.
struct source {
    const std::string* text;
    std::size_t position;
    std::size_t piece;
    bool fails_at_end;
};

ssize_t read_source(void* cookie, char* buffer, std::size_t size) {
    source& s = *static_cast<source*>(cookie);
    if (s.position == s.text->size()) return s.fails_at_end ? -1 : 0;
    std::size_t n = std::min({size, s.piece, s.text->size() - s.position});
    std::memcpy(buffer, s.text->data() + s.position, n);
    s.position += n;
    return static_cast<ssize_t>(n);
}

void check(bool condition) {
    if (!condition) std::abort();
}

// The reading of `text` from a stream handed out in pieces of `piece` bytes,
// or, with `pieces` nonzero, from a file cut into that many pieces.
trapft::load_result load(const std::string& text, trapft::sample_set& samples, const trapft::read_options& options,
                         std::size_t piece, bool fails_at_end, int pieces) {
    if (pieces != 0) {
        const int file = memfd_create("samples", 0);
        check(file >= 0 && write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
        const trapft::load_result got = trapft::load_file_samples(
            file, 0, static_cast<std::int64_t>(text.size()), pieces, samples, options);
        close(file);
        return got;
    }
    source s{&text, 0, piece, fails_at_end};
    std::FILE* stream = fopencookie(&s, "r", {read_source, nullptr, nullptr, nullptr});
    check(stream != nullptr);
    const trapft::load_result got = trapft::load_samples(stream, samples, options);
    std::fclose(stream);
    return got;
}

void run(const std::string& text, const expectation& e, const trapft::read_options& options,
         std::size_t piece, bool fails_at_end, int pieces = 0) {
    // A set that held another file: nothing of it may pass for this one's.
    trapft::sample_set samples;
    samples.times.assign(99, 1.0);
    samples.times.assign(3, -1234.5);
    samples.values.assign(5, -1234.5);
    const trapft::load_result got = load(text, samples, options, piece, fails_at_end, pieces);

    const std::size_t capacity = static_cast<std::size_t>(options.capacity);
    if (fails_at_end && e.reached_end) {
        check(got.status == load_status::read_error);
    } else {
        check(got.status == e.status);
        if (e.status != load_status::ok && e.status != load_status::read_error) check(got.line == e.line);
    }
    if (got.status != load_status::ok) {
        check(samples.times.size() <= capacity && samples.values.size() <= capacity);
        if (got.status != load_status::too_many_samples) return;
    }
    // What is stored, after a refusal too, is the file's first pairs; the tables
    // hold them and grow with them, not with the capacity.
    const std::size_t expected_count = e.numbers.size() / 2;
    std::size_t stored = std::min(samples.times.size(), samples.values.size());
    if (got.status == load_status::ok) {
        check(samples.times.size() == expected_count && samples.values.size() == expected_count);
        stored = expected_count;
    }
    check(stored <= expected_count && expected_count <= capacity);
    check(samples.times.capacity() <= std::max<std::size_t>(1024, 2 * expected_count));
    for (std::size_t k = 0; k < stored; ++k) {
        check(plain::same_number(samples.times[k], e.numbers[2 * k]));
        check(plain::same_number(samples.values[k], e.numbers[2 * k + 1]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    const std::size_t piece = 1 + size % 13;
    const std::int32_t small_capacity = static_cast<std::int32_t>(1 + hash % 8);
    expectation single;
    for (const bool double_precision : {false, true}) {
        const trapft::read_options options{.double_precision = double_precision};
        const expectation whole = expect(text, trapft::max_samples, double_precision);
        run(text, whole, options, 1 << 20, false);
        run(text, whole, options, piece, false);
        run(text, whole, options, piece, true);
        const trapft::read_options small{.capacity = small_capacity, .double_precision = double_precision};
        const expectation few = expect(text, small_capacity, double_precision);
        run(text, few, small, piece, false);
        run(text, few, small, piece, true);
        // Cut into pieces, their borders anywhere: inside numbers, CRLF, errors.
        const int pieces = 2 + static_cast<int>((hash >> 4) % 7);
        run(text, whole, options, 0, false, pieces);
        run(text, few, small, 0, false, pieces);
        if (double_precision == ((hash >> 8) % 2 != 0)) single = whole;
    }

    // Copies of a short well-formed input, each on its own line and so read as
    // alone, enough to fill the tables and to pass them; on a share of the
    // inputs only, as each such run reads some 16384 pairs.
    if (size == 0 || size > 64 || hash % 16 != 0) return 0;
    if (single.status != load_status::ok || text.find_first_not_of(" \t\n\v\f\r") == std::string::npos)
        return 0;
    const trapft::read_options options{.double_precision = (hash >> 8) % 2 != 0};
    const std::size_t pairs = single.numbers.size() / 2;
    for (std::size_t copies : {trapft::max_samples / pairs, trapft::max_samples / pairs + 1}) {
        expectation e;
        std::string many;
        for (std::size_t k = 0; k < copies; ++k) {
            many += text + "\n";
            e.numbers.insert(e.numbers.end(), single.numbers.begin(), single.numbers.end());
        }
        if (e.numbers.size() > 2 * std::size_t{trapft::max_samples}) {
            e.status = load_status::too_many_samples;
            // The first pair that does not fit, in its copy of the text.
            const std::int64_t lines_per_copy = 1 + std::count(text.begin(), text.end(), '\n');
            const std::size_t refused = std::size_t{trapft::max_samples};
            e.line = static_cast<std::int64_t>(refused / pairs) * lines_per_copy
                     + single.time_lines[refused % pairs];
            e.numbers.resize(2 * std::size_t{trapft::max_samples});
        }
        run(many, e, options, 1 << 20, false);
        run(many, e, options, 0, false, 2 + static_cast<int>((hash >> 4) % 7));
    }
    return 0;
}
