// Reads a list of frequencies, one a line, with the sample files' number grammar.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <new>

#include "input/byte_reader.hpp"
#include "input/parallel_read.hpp"
#include "trapft/reader.hpp"

namespace trapft {

load_result load_frequencies(std::FILE* stream, std::vector<double>& frequencies, const read_options& options) {
    frequencies.clear();
    constexpr auto most = static_cast<std::size_t>(INT32_MAX);
    // A regular file large enough is read in parallel, in pieces.
    std::int64_t begin = 0, end = 0;
    const int pieces = file_pieces(stream, options.threads, begin, end);
    if (pieces > 1) {
        const load_result result =
            load_file_numbers(fileno(stream), begin, end, pieces, most, frequencies, options.double_precision);
        std::fseek(stream, 0, SEEK_END);  // read to its end, as a stream would be
        if (result.status == load_status::ok && frequencies.empty()) return {load_status::no_numbers, 0};
        return result;
    }
    // Room for as many numbers as the file's bytes could hold (a byte and a
    // separator each): address space only, the pages touched as they are read.
    if (pieces > 0) {
        try {
            frequencies.reserve(static_cast<std::size_t>(std::min<std::int64_t>((end - begin) / 2 + 1, INT32_MAX)));
        } catch (const std::exception&) {
        }
    }
    char buffer[1 << 14];
    byte_reader reader = stream_reader(stream, buffer, sizeof buffer, options.keep_going);
    auto fail = [&](load_status status, std::int64_t line) { return load_failure(reader, status, line); };

    double batch[256];
    std::int64_t last_line = 0;
    for (;;) {
        std::size_t read = read_plain_numbers(reader, options.double_precision, INT64_MAX, batch, std::size(batch), last_line);
        if (read == 0) {
            // Anything else, a number across the buffer's end too, one at a time.
            if (!skip_space(reader)) break;
            const std::int64_t line = reader.line;
            if (!read_number(reader, options.double_precision, batch[0])) return fail(load_status::not_a_number, line);
            last_line = line;
            read = 1;
        }
        if (frequencies.size() + read > most) return fail(load_status::too_many_samples, last_line);
        try {
            frequencies.insert(frequencies.end(), batch, batch + read);
        } catch (const std::bad_alloc&) {
            return fail(load_status::out_of_memory, 0);
        }
    }
    if (reader.failed) return fail(load_status::read_error, 0);
    if (frequencies.empty()) return {load_status::no_numbers, 0};
    return {};
}

std::string frequency_load_message(const load_result& result, const std::string& name) {
    const std::string file = "Error reading frequency file " + name;
    const std::string line = std::to_string(result.line);
    switch (result.status) {
    case load_status::not_a_number: return file + ": line " + line + ": not a number.";
    case load_status::no_numbers: return file + ": no frequencies.";
    case load_status::too_many_samples: return file + ": more than 2147483647 frequencies.";
    case load_status::out_of_memory: return file + ": not enough memory for the frequencies.";
    case load_status::stopped: return file + ": stopped.";
    case load_status::time_without_value:
    case load_status::read_error:
    case load_status::ok: break;
    }
    return file + ".";
}

}  // namespace trapft
