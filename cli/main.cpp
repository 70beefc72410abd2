// trapft: the trapezoidal Fourier transform of unevenly sampled data.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "cli/progress.hpp"
#include "trapft/reader.hpp"
#include "trapft/npy_sink.hpp"
#include "trapft/text_sink.hpp"
#include "trapft/limits.hpp"
#include "trapft/sweep.hpp"
#include "trapft/version.hpp"

namespace {

using namespace trapft;

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

constexpr const char* usage_line =
    "Usage: trapft [OPTION]... SAMPLE_FILE START_FREQUENCY END_FREQUENCY COUNT\n";

constexpr const char* list_usage_line = "   or: trapft [OPTION]... --frequencies=FILE SAMPLE_FILE\n";

constexpr const char* help_text =
    "Prints the continuous-time spectrum X(f) = integral of x(t)*exp(-i*2*pi*f*t) dt\n"
    "of the (time, value) pairs in SAMPLE_FILE (- for standard input), by the\n"
    "trapezoidal rule over the samples in file order, at COUNT frequencies from\n"
    "START_FREQUENCY in equal steps to END_FREQUENCY (cycles per unit of the time\n"
    "column). Each output line holds: frequency, real part, imaginary part, magnitude.\n"
    "\n"
    "Options (before SAMPLE_FILE; -- ends them):\n"
    "  -j, --jobs=N          evaluate on N threads (0: one per processor; default 1)\n"
    "      --part=K/P        print only the K-th of P equal slices of the lines\n"
    "      --max-samples=N   accept up to N samples (default 16384)\n"
    "      --frequencies=FILE\n"
    "                        the frequencies listed in FILE, one a line (- for\n"
    "                        standard input), in place of START END COUNT\n"
    "      --double          read numbers in double precision, not single\n"
    "  -e, --tolerance=EPS   fast evaluation, each part within EPS times the sum of\n"
    "                        |weight x value| (EPS from 1e-14 to 0.1)\n"
    "      --no-progress     no status line on a terminal's standard error\n"
    "  -f, --format=FORMAT   the output's form: text (default), csv or npy\n"
    "  -h, --help            print this help;  --version  print the version\n"
    "The output does not depend on --jobs or --part: the parts of a sweep, put\n"
    "together in order, are the whole sweep's lines.\n";

int fail(const char* message, int status) {
    std::fputs(message, stderr);
    return status;
}

// A message of the core's (without line feed), as one line.
int fail_line(const char* message, int status) {
    std::fprintf(stderr, "%s\n", message);
    return status;
}

// The core's message of a sweep that did not run through, as one line.
int fail_status(sweep_status status, int exit_status) { return fail_line(sweep_message(status), exit_status); }

int report_load_failure(const load_result& result, std::int32_t capacity) {
    std::fprintf(stderr, "%s\n", load_message(result, capacity).c_str());
    return exit_failure;
}

// Help and version go to standard output, which can fail like any output.
int print(const char* first, const char* second, const char* third = "") {
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    std::fputs(third, stdout);
    if (std::fflush(stdout) != 0) return fail("Error writing output.\n", exit_failure);
    return exit_ok;
}

// One per run.
sample_set samples;
std::vector<double> frequency_list;

// `text` with control characters as '?', for messages that quote it.
std::string visible(const char* text) {
    std::string shown(text);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return shown;
}

// Reads the list of --frequencies; false (the message printed) when it cannot.
bool load_list(const run_parameters& parameters, int& exit_status) {
    const bool from_input = std::strcmp(parameters.frequency_path, "-") == 0;
    std::FILE* const file = from_input ? stdin : std::fopen(parameters.frequency_path, "r");
    exit_status = exit_failure;
    if (file == nullptr) {
        std::fprintf(stderr, "Error opening frequency file %s.\n", visible(parameters.frequency_path).c_str());
        return false;
    }
    read_options reading;
    reading.double_precision = parameters.double_precision;
    reading.threads = parameters.jobs;
    const load_result loaded = load_frequencies(file, frequency_list, reading);
    if (!from_input) std::fclose(file);
    if (loaded.status == load_status::ok) return true;
    std::fprintf(stderr, "%s\n", frequency_load_message(loaded, visible(parameters.frequency_path)).c_str());
    return false;
}

// The message of an option that cannot be used, or null.
const char* option_message(argument_status status) {
    switch (status) {
    case argument_status::invalid_jobs: return jobs_message;
    case argument_status::invalid_part: return part_message;
    case argument_status::invalid_max_samples: return capacity_message;
    case argument_status::invalid_tolerance: return tolerance_message;
    case argument_status::invalid_format: return "Invalid format.";
    case argument_status::list_and_grid:
        return "Give either --frequencies=FILE or START_FREQUENCY END_FREQUENCY COUNT, not both.";
    case argument_status::both_from_input: return "The samples and the frequencies cannot both come from standard input.";
    default: return nullptr;
    }
}

// Writes `size` bytes of an argument to standard error, control characters
// as '?', so that no argument can send a terminal commands.
void put_visible(const char* text, std::size_t size) {
    for (std::size_t k = 0; k < size; ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        std::fputc(c < 0x20 || c == 0x7F ? '?' : c, stderr);
    }
}

// Names the option as written, without its value: "--jobs" of "--jobs=x", "-j" of "-jx".
int report_option(argument_status status, const char* option) {
    const char* before = "Unknown option ";
    const char* after = ".\n";
    if (status == argument_status::missing_value) before = "Option ", after = " needs a value.\n";
    if (status == argument_status::unexpected_value) before = "Option ", after = " takes no value.\n";
    std::fputs(before, stderr);
    put_visible(option, option_name_size(option));
    std::fputs(after, stderr);
    return exit_usage;
}

// Arguments after COUNT change nothing; an option among them was most likely
// meant to count, so the warning names them all, on one line (control
// characters shown as '?').
void warn_ignored(const run_parameters& parameters) {
    std::fputs("Ignoring arguments after COUNT:", stderr);
    for (int k = 0; k < parameters.ignored_count; ++k) {
        std::fputc(' ', stderr);
        put_visible(parameters.ignored[k], std::strlen(parameters.ignored[k]));
    }
    std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv) {
    run_parameters parameters{};
    const argument_status parsed = parse_arguments(argc, argv, parameters);
    switch (parsed) {
    case argument_status::run: break;
    case argument_status::help: return print(usage_line, list_usage_line, help_text);
    case argument_status::version: return print("trapft " TRAPFT_VERSION_STRING "\n", "");
    case argument_status::usage: return fail(usage_line, exit_usage);
    case argument_status::invalid_start: return fail("Invalid start frequency.\n", exit_usage);
    case argument_status::invalid_end: return fail("Invalid end frequency.\n", exit_usage);
    case argument_status::invalid_count: return fail_line(count_message, exit_usage);
    case argument_status::unknown_option:
    case argument_status::missing_value:
    case argument_status::unexpected_value: return report_option(parsed, parameters.bad_option);
    default: return fail_line(option_message(parsed), exit_usage);
    }

    const bool to_terminal = isatty(STDOUT_FILENO) != 0;
    if (parameters.format == output_format::npy && to_terminal)
        return fail("Refusing to write binary output to a terminal.\n", exit_usage);
    sweep_options sweep;
    sweep.jobs = parameters.jobs;
    sweep.part = parameters.part;
    sweep.parts = parameters.parts;
    sweep.tolerance = parameters.tolerance;
    const sweep_status usable = check_sweep_options(sweep);
    if (usable != sweep_status::ok) return fail_status(usable, exit_usage);
    if (parameters.ignored_option) warn_ignored(parameters);

    // "-" is standard input; "./-" names a file called "-".
    const bool from_input = std::strcmp(parameters.path, "-") == 0;
    std::FILE* const file = from_input ? stdin : std::fopen(parameters.path, "r");
    if (file == nullptr) return fail("Error opening file.\n", exit_failure);

    read_options reading;
    reading.capacity = parameters.max_samples;
    reading.double_precision = parameters.double_precision;
    reading.threads = parameters.jobs;
    const load_result loaded = load_samples(file, samples, reading);
    if (loaded.status != load_status::ok) return report_load_failure(loaded, parameters.max_samples);
    const bool listed = parameters.frequency_path != nullptr;
    int list_failure = exit_ok;
    if (listed && !load_list(parameters, list_failure)) return list_failure;
    const auto lines = listed ? static_cast<std::int32_t>(frequency_list.size()) : parameters.count;

    // The status line only where a person watches the run and the output goes elsewhere.
    progress_line progress;
    if (parameters.progress && !to_terminal && isatty(STDERR_FILENO) != 0) {
        progress_start(progress, sweep_lines(lines, sweep), stderr);
        sweep.progress = [&progress](std::int64_t done, std::int64_t) {
            progress_update(progress, done);
            return true;
        };
    }
    text_sink text;
    csv_sink csv(parameters.part == 1);
    npy_sink npy;
    file_sink* const sink = parameters.format == output_format::csv   ? static_cast<file_sink*>(&csv)
                            : parameters.format == output_format::npy ? static_cast<file_sink*>(&npy)
                                                                      : &text;
    if (!sink->open(STDOUT_FILENO)) return fail_status(sweep_status::out_of_memory, exit_failure);
    const sweep_status status =
        listed ? run_sweep(samples, frequency_list, sweep, *sink)
               : run_sweep(samples, parameters.start_frequency, parameters.end_frequency, parameters.count, sweep, *sink);
    progress_end(progress);
    if (status != sweep_status::ok) return fail_status(status, exit_failure);
    return exit_ok;
}
