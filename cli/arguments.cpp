#include "cli/arguments.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "input/sample_set.hpp"

namespace trapft {
namespace {

bool parse_frequency(const char* text, bool double_precision, double& value) {
    std::size_t used = 0;
    return parse_float_prefix(text, std::strlen(text), value, used, double_precision);
}

// Decimal digits from `text` up to `end` (or its NUL), and nothing else, as an
// integer from `low` to `high`. Leading zeros are allowed.
bool parse_whole_integer(const char* text, char end, std::int64_t low, std::int64_t high, std::int64_t& value) {
    if (*text < '0' || *text > '9') return false;
    value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > high) return false;
    }
    return *text == end && value >= low;
}

bool parse_whole_integer(const char* text, std::int64_t low, std::int64_t high, std::int64_t& value) {
    return parse_whole_integer(text, '\0', low, high, value);
}

// K/P with 1 ≤ K ≤ P ≤ 2147483647.
bool parse_part(const char* text, std::int32_t& part, std::int32_t& parts) {
    const char* slash = std::strchr(text, '/');
    std::int64_t k = 0, p = 0;
    if (slash == nullptr || !parse_whole_integer(text, '/', 1, INT32_MAX, k) ||
        !parse_whole_integer(slash + 1, 1, INT32_MAX, p) || k > p)
        return false;
    part = static_cast<std::int32_t>(k);
    parts = static_cast<std::int32_t>(p);
    return true;
}

bool parse_tolerance(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 1e-14 && value <= 0.1;
}

enum class option_id { jobs, part, max_samples, tolerance, double_precision, no_progress, format };

struct option_entry {
    const char* long_name;  // without the leading "--"
    char short_name;        // 0: none
    bool takes_value;
    option_id id;
};

constexpr option_entry option_table[] = {
    {"jobs", 'j', true, option_id::jobs},
    {"part", 0, true, option_id::part},
    {"max-samples", 0, true, option_id::max_samples},
    {"tolerance", 'e', true, option_id::tolerance},
    {"double", 0, false, option_id::double_precision},
    {"no-progress", 0, false, option_id::no_progress},
    {"format", 'f', true, option_id::format},
};

argument_status apply_option(option_id id, const char* value, run_parameters& parameters) {
    std::int64_t number = 0;
    switch (id) {
    case option_id::jobs:
        if (!parse_whole_integer(value, 0, 1024, number)) return argument_status::invalid_jobs;
        parameters.jobs = static_cast<int>(number);
        break;
    case option_id::part:
        if (!parse_part(value, parameters.part, parameters.parts)) return argument_status::invalid_part;
        break;
    case option_id::max_samples:
        if (!parse_whole_integer(value, 1, INT32_MAX, number)) return argument_status::invalid_max_samples;
        parameters.max_samples = static_cast<std::int32_t>(number);
        break;
    case option_id::tolerance:
        if (!parse_tolerance(value, parameters.tolerance)) return argument_status::invalid_tolerance;
        break;
    case option_id::double_precision: parameters.double_precision = true; break;
    case option_id::no_progress: parameters.progress = false; break;
    case option_id::format:
        if (std::strcmp(value, "text") == 0) parameters.format = output_format::text;
        else if (std::strcmp(value, "csv") == 0) parameters.format = output_format::csv;
        else if (std::strcmp(value, "npy") == 0) parameters.format = output_format::npy;
        else return argument_status::invalid_format;
        break;
    }
    return argument_status::run;
}

// Reads the option at argv[index] (and its value, which may be the next
// argument); advances index past what it took.
argument_status parse_option(int argc, const char* const* argv, int& index, run_parameters& parameters) {
    const char* const text = argv[index];
    parameters.bad_option = text;
    const option_entry* entry = nullptr;
    const char* value = nullptr;  // attached: --name=value or -xvalue
    if (text[1] == '-') {
        const char* const name = text + 2;
        const char* const equals = std::strchr(name, '=');
        const std::size_t length = equals ? static_cast<std::size_t>(equals - name) : std::strlen(name);
        for (const option_entry& e : option_table)
            if (std::strlen(e.long_name) == length && std::strncmp(e.long_name, name, length) == 0) entry = &e;
        if (equals != nullptr) value = equals + 1;
    } else {
        for (const option_entry& e : option_table)
            if (e.short_name != 0 && e.short_name == text[1]) entry = &e;
        if (entry != nullptr && text[2] != '\0') value = text + 2;
    }
    ++index;
    if (entry == nullptr) return argument_status::unknown_option;
    if (!entry->takes_value) {
        if (value != nullptr) return argument_status::unexpected_value;
        return apply_option(entry->id, nullptr, parameters);
    }
    if (value == nullptr) {
        if (index == argc) return argument_status::missing_value;
        value = argv[index++];
    }
    return apply_option(entry->id, value, parameters);
}

bool is_help(const char* text) { return std::strcmp(text, "--help") == 0 || std::strcmp(text, "-h") == 0; }

}  // namespace

argument_status parse_arguments(int argc, const char* const* argv, run_parameters& parameters) {
    if (argc == 2 && is_help(argv[1])) return argument_status::help;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return argument_status::version;

    parameters = {};
    parameters.jobs = 1;
    parameters.part = 1;
    parameters.parts = 1;
    parameters.max_samples = max_samples;
    parameters.progress = true;
    int index = 1;
    while (index < argc && argv[index][0] == '-' && argv[index][1] != '\0') {
        if (std::strcmp(argv[index], "--") == 0) {
            ++index;
            break;
        }
        // Help and version stand alone; beside other arguments they are misuse.
        if (is_help(argv[index]) || std::strcmp(argv[index], "--version") == 0) return argument_status::usage;
        const argument_status status = parse_option(argc, argv, index, parameters);
        if (status != argument_status::run) return status;
    }
    parameters.bad_option = nullptr;
    if (argc - index < 4) return argument_status::usage;

    const char* const* positional = argv + index;
    parameters.path = positional[0];
    const bool wide = parameters.double_precision;
    if (!parse_frequency(positional[1], wide, parameters.start_frequency)) return argument_status::invalid_start;
    if (!parse_frequency(positional[2], wide, parameters.end_frequency)) return argument_status::invalid_end;
    if (!parse_count(positional[3], parameters.count)) return argument_status::invalid_count;
    return argument_status::run;
}

}  // namespace trapft
