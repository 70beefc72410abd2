// Feeds arbitrary bytes to load_samples and checks its result against a plain
// second reading: either every pair exactly as strtof reads its text, or the
// documented error at the right line. Aborts on any difference.
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/plain_number.hpp"
#include "input/sample_set.hpp"

namespace {

using trapft::load_status;

struct expectation {
    load_status status = load_status::ok;
    std::int64_t line = 0;
    bool reached_end = false;   // the reading looked for a byte past the last
    std::vector<double> numbers;  // times and values in file order
};

// The documented reading: items separated by white space, taken in pairs.
expectation expect(const std::string& text) {
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
            if (half == 0) time_line = line;
            const plain::item item = plain::read_item(text.data() + position, text.size() - position);
            if (position + item.size == text.size()) e.reached_end = true;
            if (!item.whole) return fail(load_status::not_a_number, line);
            if (half == 0 && e.numbers.size() == 2 * std::size_t{trapft::max_samples})
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

// Exactly the set, on the heap, so that a store past a table shows.
trapft::sample_set* const samples = new trapft::sample_set;

void run(const std::string& text, const expectation& e, std::size_t piece, bool fails_at_end) {
    // Entries left over from an earlier run must not pass for this one's.
    const std::size_t expected_count = e.numbers.size() / 2;
    for (std::size_t k = 0; k < expected_count; ++k) {
        samples->times[k] = -1234.5;
        samples->values[k] = -1234.5;
    }
    source s{&text, 0, piece, fails_at_end};
    std::FILE* stream = fopencookie(&s, "r", {read_source, nullptr, nullptr, nullptr});
    check(stream != nullptr);
    const trapft::load_result got = trapft::load_samples(stream, *samples);
    std::fclose(stream);

    if (fails_at_end && e.reached_end) {
        check(got.status == load_status::read_error);
        return;
    }
    check(got.status == e.status);
    if (e.status == load_status::not_a_number || e.status == load_status::time_without_value)
        check(got.line == e.line);
    if (e.status != load_status::ok && e.status != load_status::too_many_samples) return;
    // The pairs stored before a refusal are still the file's first ones.
    const std::int32_t count = static_cast<std::int32_t>(expected_count);
    if (e.status == load_status::ok) check(samples->count == count);
    check(count >= 1 && count <= trapft::max_samples);
    for (std::int32_t k = 0; k < count; ++k) {
        check(plain::same_number(samples->times[k], e.numbers[2 * std::size_t(k)]));
        check(plain::same_number(samples->values[k], e.numbers[2 * std::size_t(k) + 1]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const expectation once = expect(text);
    const std::size_t piece = 1 + size % 13;
    run(text, once, 1 << 20, false);
    run(text, once, piece, false);
    run(text, once, piece, true);

    // Copies of a short well-formed input, each on its own line and so read as
    // alone, enough to fill the tables and to pass them; on a share of the
    // inputs only, as each such run reads some 16384 pairs.
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    if (size == 0 || size > 64 || hash % 16 != 0) return 0;
    if (once.status != load_status::ok || text.find_first_not_of(" \t\n\v\f\r") == std::string::npos)
        return 0;
    const std::size_t pairs = once.numbers.size() / 2;
    for (std::size_t copies : {trapft::max_samples / pairs, trapft::max_samples / pairs + 1}) {
        expectation e;
        std::string many;
        for (std::size_t k = 0; k < copies; ++k) {
            many += text + "\n";
            e.numbers.insert(e.numbers.end(), once.numbers.begin(), once.numbers.end());
        }
        if (e.numbers.size() > 2 * std::size_t{trapft::max_samples}) {
            e.status = load_status::too_many_samples;
            e.numbers.resize(2 * std::size_t{trapft::max_samples});
        }
        run(many, e, 1 << 20, false);
    }
    return 0;
}
