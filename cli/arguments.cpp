#include "cli/arguments.hpp"

#include <cstring>

#include "input/sample_set.hpp"

namespace trapft {
namespace {

bool parse_frequency(const char* text, double& value) {
    std::size_t used = 0;
    return parse_float_prefix(text, std::strlen(text), value, used);
}

}  // namespace

argument_status parse_arguments(int argc, const char* const* argv, run_parameters& parameters) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return argument_status::help;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return argument_status::version;
    if (argc < 5) return argument_status::usage;

    parameters = {argv[1], 0.0, 0.0, 0};
    if (!parse_frequency(argv[2], parameters.start_frequency)) return argument_status::invalid_start;
    if (!parse_frequency(argv[3], parameters.end_frequency)) return argument_status::invalid_end;
    if (!parse_count(argv[4], parameters.count)) return argument_status::invalid_count;
    return argument_status::run;
}

}  // namespace trapft
