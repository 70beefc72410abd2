// The tool's command line, parsed into what one run needs.
#pragma once

#include <cstdint>

namespace trapft {

struct run_parameters {
    const char* path;
    double start_frequency;
    double end_frequency;
    std::int32_t count;
};

// What the command line asks for; each refusal names the argument at fault.
enum class argument_status {
    run,            // `parameters` holds a run
    help,           // --help or -h alone
    version,        // --version alone
    usage,          // fewer than four arguments
    invalid_start,  // the start frequency does not begin with a number
    invalid_end,    // the end frequency does not begin with a number
    invalid_count,  // the count is not an int32 integer
};

// Reads argv[1..4] (arguments past the fourth are ignored) in order: start,
// end, count. `parameters` is complete only when the result is run; the path
// points into argv. Reads nothing at or past argv[argc].
argument_status parse_arguments(int argc, const char* const* argv, run_parameters& parameters);

}  // namespace trapft
