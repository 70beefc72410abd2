// The sinks (text, CSV, .npy, arrays) against each other, and the sweep's own refusals.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "trapft/array_sink.hpp"
#include "trapft/npy_sink.hpp"
#include "trapft/text_sink.hpp"
#include "spectrum/nufft/nufft.hpp"
#include "trapft/sweep.hpp"
#include "random_samples.hpp"
#include "sweep_output.hpp"

namespace {

using sweep_output::format;
using trapft::sweep_options;
using trapft::sweep_status;

// The rows of a .npy file as this test reads the format: magic, version 1.0,
// a little-endian header length, the dictionary, then the data, aligned.
struct npy_file {
    bool valid = false;
    std::int64_t rows = -1;
    std::vector<double> data;
};

npy_file read_npy(const std::string& bytes) {
    npy_file file;
    if (bytes.size() < 10 || bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)) != 0) return file;
    const std::size_t length = static_cast<unsigned char>(bytes[8]) + 256u * static_cast<unsigned char>(bytes[9]);
    if ((10 + length) % 64 != 0 || bytes.size() < 10 + length || bytes[9 + length] != '\n') return file;
    const std::string header = bytes.substr(10, length);
    long long rows = -1;
    const std::size_t shape = header.find("'shape': (");
    if (header.find("'descr': '<f8'") == std::string::npos ||
        header.find("'fortran_order': False") == std::string::npos || shape == std::string::npos ||
        std::sscanf(header.c_str() + shape, "'shape': (%lld, 4)", &rows) != 1)
        return file;
    const std::size_t size = bytes.size() - 10 - length;
    if (size != static_cast<std::size_t>(rows) * 32) return file;
    file.rows = rows;
    file.data.resize(size / sizeof(double));
    if (size > 0) std::memcpy(file.data.data(), bytes.data() + 10 + length, size);
    file.valid = true;
    return file;
}

std::string text_of(const std::vector<double>& row) {
    char line[128];
    std::snprintf(line, sizeof line, "%.15g %.15g %.15g %.15g\n", row[0], row[1], row[2], row[3]);
    return line;
}

// Every format carries the same numbers: CSV is the text with commas under a
// header (the first part only), .npy rows print as the text's lines and hold
// the arrays' very doubles; with threads, parts and the fast evaluation.
TEST(sinks, carry_the_same_numbers_in_every_format) {
    const trapft::sample_set s = random_samples(300, 7);
    struct run_case {
        const char* name;
        sweep_options options;
    };
    std::vector<run_case> runs = {{"exact", {}}, {"three jobs", {3, 1, 1, 0.0, {}}}, {"part 2 of 3", {1, 2, 3, 0.0, {}}}};
    if (trapft::fast_evaluation_available()) {
        runs.push_back({"fast", {2, 1, 1, 1e-9, {}}});
        runs.push_back({"fast part 1 of 4", {1, 1, 4, 1e-9, {}}});
    }
    for (const run_case& r : runs) {
        SCOPED_TRACE(r.name);
        const std::int32_t count = 2500;
        const auto text = sweep_output::sweep(s, -20, 20, count, r.options, format::text);
        const auto csv = sweep_output::sweep(s, -20, 20, count, r.options, format::csv);
        const auto npy = sweep_output::sweep(s, -20, 20, count, r.options, format::npy);
        ASSERT_EQ(text.status, sweep_status::ok);
        ASSERT_EQ(csv.status, sweep_status::ok);
        ASSERT_EQ(npy.status, sweep_status::ok);

        std::string commas = text.bytes;
        for (char& c : commas) c = c == ' ' ? ',' : c;
        EXPECT_EQ(csv.bytes, "frequency,real,imaginary,magnitude\n" + commas);

        const npy_file file = read_npy(npy.bytes);
        ASSERT_TRUE(file.valid);
        const std::int64_t lines = trapft::sweep_lines(count, r.options);
        ASSERT_EQ(file.rows, lines);
        std::string printed;
        for (std::int64_t j = 0; j < file.rows; ++j)
            printed += text_of({file.data.begin() + 4 * j, file.data.begin() + 4 * j + 4});
        EXPECT_EQ(printed, text.bytes);

        // Arrays in memory, the transform interleaved as complex numbers.
        std::vector<double> frequency(static_cast<std::size_t>(lines)), transform(2 * frequency.size()),
            magnitude(frequency.size());
        trapft::array_sink arrays({frequency.data(), transform.data(), transform.data() + 1, magnitude.data(), 2, lines});
        ASSERT_EQ(trapft::run_sweep(s, -20, 20, count, r.options, arrays), sweep_status::ok);
        for (std::size_t j = 0; j < frequency.size(); ++j) {
            const double row[4] = {frequency[j], transform[2 * j], transform[2 * j + 1], magnitude[j]};
            ASSERT_EQ(std::memcmp(row, &file.data[4 * j], sizeof row), 0) << "line " << j;
        }
    }
    // A CSV part after the first has no header; an empty run's .npy is an empty array.
    EXPECT_EQ(sweep_output::sweep(s, 0, 1, 3, {1, 2, 2, 0.0, {}}, format::csv_without_header).bytes.find("freq"),
              std::string::npos);
    EXPECT_EQ(read_npy(sweep_output::sweep(s, 0, 1, 0, {}, format::npy).bytes).rows, 0);
}

// What the sweep refuses, before it reserves or writes anything.
TEST(sweep, refuses_arguments_out_of_range_with_a_status) {
    const trapft::sample_set s = random_samples(4, 7);
    trapft::sample_set uneven = s;
    uneven.values.pop_back();
    struct refusal {
        const char* name;
        sweep_options options;
        bool uneven;
        sweep_status status;
    };
    const double nan = std::nan("");
    const refusal cases[] = {
        {"jobs -1", {-1, 1, 1, 0.0, {}}, false, sweep_status::invalid_jobs},
        {"jobs 1025", {1025, 1, 1, 0.0, {}}, false, sweep_status::invalid_jobs},
        {"part 0", {1, 0, 1, 0.0, {}}, false, sweep_status::invalid_part},
        {"part 3 of 2", {1, 3, 2, 0.0, {}}, false, sweep_status::invalid_part},
        {"parts 0", {1, 1, 0, 0.0, {}}, false, sweep_status::invalid_part},
        {"tolerance -1e-9", {1, 1, 1, -1e-9, {}}, false, sweep_status::invalid_tolerance},
        {"tolerance 1e-15", {1, 1, 1, 1e-15, {}}, false, sweep_status::invalid_tolerance},
        {"tolerance 0.2", {1, 1, 1, 0.2, {}}, false, sweep_status::invalid_tolerance},
        {"tolerance NaN", {1, 1, 1, nan, {}}, false, sweep_status::invalid_tolerance},
        {"uneven tables", {}, true, sweep_status::invalid_samples},
    };
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = sweep_output::sweep(c.uneven ? trapft::sample_view(uneven) : trapft::sample_view(s), 0, 1, 10, c.options, format::npy);
        EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(got.bytes, "") << "nothing written";
        EXPECT_NE(std::string(trapft::sweep_message(c.status)), "");
    }
    // Jobs 0 is every processor, not a refusal.
    EXPECT_EQ(sweep_output::sweep(s, 0, 1, 10, {0, 1, 1, 0.0, {}}).bytes,
              sweep_output::sweep(s, 0, 1, 10).bytes);
}

// A failed write in any format, or a stop asked by the progress callback,
// leaves a prefix of the whole output.
TEST(sweep, stops_on_a_failed_write_or_when_asked_leaving_a_prefix) {
    const trapft::sample_set s = random_samples(3, 7);
    for (const format how : {format::text, format::csv, format::npy}) {
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        trapft::text_sink text;
        trapft::csv_sink csv(true);
        trapft::npy_sink npy;
        trapft::file_sink* const sink = how == format::npy ? static_cast<trapft::file_sink*>(&npy)
                                        : how == format::csv ? static_cast<trapft::file_sink*>(&csv)
                                                             : &text;
        ASSERT_TRUE(sink->open(fileno(full)));
        EXPECT_EQ(trapft::run_sweep(s, 0, 1, 100000, {2, 1, 1, 0.0, {}}, *sink), sweep_status::write_failed);
        std::fclose(full);

        std::int64_t calls = 0;
        sweep_options stopping{2, 1, 1, 0.0, [&](std::int64_t done, std::int64_t total) {
                                   EXPECT_EQ(total, 100000);
                                   EXPECT_GT(done, 0);
                                   return ++calls < 3;
                               }};
        const auto stopped = sweep_output::sweep(s, 0, 1, 100000, stopping, how);
        EXPECT_EQ(stopped.status, sweep_status::stopped);
        const auto whole = sweep_output::sweep(s, 0, 1, 100000, {}, how);
        ASSERT_LT(stopped.bytes.size(), whole.bytes.size());
        if (how != format::npy) EXPECT_EQ(whole.bytes.compare(0, stopped.bytes.size(), stopped.bytes), 0);
        else EXPECT_EQ(whole.bytes.compare(128, stopped.bytes.size() - 128, stopped.bytes, 128), 0);
    }
}

}  // namespace
