// trapft: the trapezoidal Fourier transform of unevenly sampled data.
#include <unistd.h>

#include <cstdio>

#include "cli/arguments.hpp"
#include "input/sample_set.hpp"
#include "spectrum/spectrum.hpp"

#ifndef TRAPFT_VERSION
#define TRAPFT_VERSION "unknown"
#endif

namespace {

using namespace trapft;

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

constexpr const char* usage_line = "Usage: trapft SAMPLE_FILE START_FREQUENCY END_FREQUENCY COUNT\n";

constexpr const char* help_text =
    "Prints the continuous-time spectrum X(f) = integral of x(t)*exp(-i*2*pi*f*t) dt\n"
    "of the (time, value) pairs in SAMPLE_FILE, by the trapezoidal rule over the\n"
    "samples in file order, at COUNT frequencies from START_FREQUENCY in equal\n"
    "steps to END_FREQUENCY (cycles per unit of the time column).\n"
    "Each output line holds: frequency, real part, imaginary part, magnitude.\n"
    "Numbers are read in single precision; at most 16384 samples.\n";

int fail(const char* message, int status) {
    std::fputs(message, stderr);
    return status;
}

int report_load_failure(const load_result& result) {
    switch (result.status) {
    case load_status::not_a_number:
        std::fprintf(stderr, "Error reading file: line %lld: not a number.\n",
                     static_cast<long long>(result.line));
        break;
    case load_status::time_without_value:
        std::fprintf(stderr, "Error reading file: line %lld: time without a value.\n",
                     static_cast<long long>(result.line));
        break;
    case load_status::too_many_samples:
        std::fprintf(stderr, "Error reading file: more than %d samples.\n", max_samples);
        break;
    case load_status::read_error:
    case load_status::ok:
        std::fputs("Error reading file.\n", stderr);
        break;
    }
    return exit_failure;
}

// Help and version go to standard output, which can fail like any output.
int print(const char* first, const char* second) {
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    if (std::fflush(stdout) != 0) return fail("Error writing output.\n", exit_failure);
    return exit_ok;
}

// One per run and too large for the stack.
sample_set samples;
spectrum_work work;

// Standard output's buffer when it is not a terminal: sixteen times the usual
// block, so a long sweep makes few writes. Fixed, so memory stays flat
// whatever the count.
char output_buffer[1 << 16];

}  // namespace

int main(int argc, char** argv) {
    run_parameters parameters{};
    switch (parse_arguments(argc, argv, parameters)) {
    case argument_status::run: break;
    case argument_status::help: return print(usage_line, help_text);
    case argument_status::version: return print("trapft " TRAPFT_VERSION "\n", "");
    case argument_status::usage: return fail(usage_line, exit_usage);
    case argument_status::invalid_start: return fail("Invalid start frequency.\n", exit_usage);
    case argument_status::invalid_end: return fail("Invalid end frequency.\n", exit_usage);
    case argument_status::invalid_count: return fail("Invalid frequency count.\n", exit_usage);
    }

    std::FILE* const file = std::fopen(parameters.path, "r");
    if (file == nullptr) return fail("Error opening file.\n", exit_failure);

    const load_result loaded = load_samples(file, samples);
    if (loaded.status != load_status::ok) return report_load_failure(loaded);

    if (isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    const bool written = run_sweep(samples, parameters.start_frequency, parameters.end_frequency,
                                   parameters.count, stdout, work);
    if (!written || std::fflush(stdout) != 0) return fail("Error writing output.\n", exit_failure);
    return exit_ok;
}
