// The core alone on a sample file, into in-memory tables: what the Python module's calls are compared against.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "trapft/reader.hpp"
#include "trapft/array_sink.hpp"
#include "trapft/sweep.hpp"

// trapft_core_timing FILE START END COUNT TOLERANCE JOBS: loads FILE as the
// tool does (through single precision), then prints the seconds that
// run_sweep takes to fill tables of the lines, as the module fills its arrays.
int main(int argc, char** argv) {
    if (argc != 7) {
        std::fputs("Usage: trapft_core_timing FILE START END COUNT TOLERANCE JOBS\n", stderr);
        return 2;
    }
    std::FILE* const file = std::fopen(argv[1], "r");
    if (file == nullptr) {
        std::fputs("Error opening file.\n", stderr);
        return 1;
    }
    trapft::sample_set samples;
    trapft::read_options reading;
    reading.capacity = 1 << 30;
    if (trapft::load_samples(file, samples, reading).status != trapft::load_status::ok) {
        std::fputs("Error reading file.\n", stderr);
        return 1;
    }
    std::fclose(file);
    trapft::sweep_options options;
    options.tolerance = std::strtod(argv[5], nullptr);
    options.jobs = std::atoi(argv[6]);
    const auto count = static_cast<std::int32_t>(std::atol(argv[4]));
    const std::int64_t lines = trapft::sweep_lines(count, options);
    std::vector<double> frequency(static_cast<std::size_t>(lines));
    std::vector<double> transform(2 * static_cast<std::size_t>(lines));
    std::vector<double> magnitude(static_cast<std::size_t>(lines));
    trapft::spectrum_arrays arrays;
    arrays.frequency = frequency.data();
    arrays.real = transform.data();
    arrays.imaginary = transform.data() + 1;
    arrays.stride = 2;
    arrays.magnitude = magnitude.data();
    arrays.capacity = lines;
    trapft::array_sink sink(arrays);
    const auto started = std::chrono::steady_clock::now();
    const trapft::sweep_status status =
        trapft::run_sweep(samples, std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr), count, options, sink);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (status != trapft::sweep_status::ok) {
        std::fprintf(stderr, "%s\n", trapft::sweep_message(status));
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}
