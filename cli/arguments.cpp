#include "cli/arguments.hpp"

#include <charconv>
#include <cstring>

#include "trapft/reader.hpp"
#include "trapft/limits.hpp"

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

// Decimal, like the integer options, and nothing else: digits with an optional
// point and fraction (".5" and "5." too), then an optional exponent, e or E
// with an optional sign and digits. No sign, blank, hexadecimal, inf or nan.
// Correctly rounded, whatever the locale.
bool parse_tolerance(const char* text, double& value) {
    const char* p = text;
    const auto digits = [&p] {
        const char* const from = p;
        while (*p >= '0' && *p <= '9') ++p;
        return p != from;
    };
    bool mantissa = digits();
    if (*p == '.') {
        ++p;
        mantissa = digits() || mantissa;
    }
    if (!mantissa) return false;
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!digits()) return false;
    }
    if (*p != '\0') return false;
    const std::from_chars_result read = std::from_chars(text, p, value);
    return read.ec == std::errc{} && read.ptr == p && value >= min_tolerance && value <= max_tolerance;
}

bool parse_format(const char* text, output_format& format) {
    if (std::strcmp(text, "text") == 0) format = output_format::text;
    else if (std::strcmp(text, "csv") == 0) format = output_format::csv;
    else if (std::strcmp(text, "npy") == 0) format = output_format::npy;
    else return false;
    return true;
}

enum class option_id {
    jobs, part, max_samples, tolerance, format, frequencies, double_precision, no_progress, help, version
};

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
    {"format", 'f', true, option_id::format},
    {"frequencies", 0, true, option_id::frequencies},
    {"double", 0, false, option_id::double_precision},
    {"no-progress", 0, false, option_id::no_progress},
    {"help", 'h', false, option_id::help},
    {"version", 0, false, option_id::version},
};

// The entry that `text` (which begins with '-') names, or null; `value` is the
// attached value (--name=value or -xvalue), or null.
const option_entry* find_option(const char* text, const char*& value) {
    value = nullptr;
    if (text[1] == '-') {
        const char* const name = text + 2;
        const char* const equals = std::strchr(name, '=');
        const std::size_t length = equals ? static_cast<std::size_t>(equals - name) : std::strlen(name);
        if (equals != nullptr) value = equals + 1;
        for (const option_entry& e : option_table)
            if (std::strlen(e.long_name) == length && std::strncmp(e.long_name, name, length) == 0) return &e;
        return nullptr;
    }
    if (text[1] != '\0' && text[2] != '\0') value = text + 2;
    for (const option_entry& e : option_table)
        if (e.short_name != 0 && e.short_name == text[1]) return &e;
    return nullptr;
}

argument_status apply_option(option_id id, const char* value, run_parameters& parameters) {
    std::int64_t number = 0;
    switch (id) {
    case option_id::jobs:
        if (!parse_whole_integer(value, 0, max_jobs, number)) return argument_status::invalid_jobs;
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
    case option_id::format:
        if (!parse_format(value, parameters.format)) return argument_status::invalid_format;
        break;
    case option_id::frequencies: parameters.frequency_path = value; break;
    case option_id::double_precision: parameters.double_precision = true; break;
    case option_id::no_progress: parameters.progress = false; break;
    // Help and version stand alone; beside other arguments they are misuse.
    case option_id::help:
    case option_id::version: return argument_status::usage;
    }
    return argument_status::run;
}

// Reads the option at argv[index] (and its value, which may be the next
// argument); advances index past what it took.
argument_status parse_option(int argc, const char* const* argv, int& index, run_parameters& parameters) {
    const char* const text = argv[index];
    parameters.bad_option = text;
    const char* value = nullptr;
    const option_entry* const entry = find_option(text, value);
    ++index;
    if (entry == nullptr) return argument_status::unknown_option;
    if (!entry->takes_value) {
        if (value != nullptr) return argument_status::unexpected_value;
        return apply_option(entry->id, nullptr, parameters);
    }
    if (value == nullptr && index < argc) value = argv[index++];
    if (value == nullptr || *value == '\0') return argument_status::missing_value;
    return apply_option(entry->id, value, parameters);
}

bool is_option(const char* text) {
    const char* value = nullptr;
    return text[0] == '-' && text[1] != '\0' && find_option(text, value) != nullptr;
}

// Bytes of the well-formed UTF-8 character at `p`; 1 for ASCII or a byte that
// begins none. Stops at the first byte that does not fit, so never passes a NUL.
std::size_t character_size(const unsigned char* p) {
    std::size_t size = 1;
    unsigned low = 0x80, high = 0xBF;  // the second byte's range, narrower after some leads
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        size = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        size = 3;
        if (p[0] == 0xE0) low = 0xA0;   // no overlong form
        if (p[0] == 0xED) high = 0x9F;  // no surrogate
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        size = 4;
        if (p[0] == 0xF0) low = 0x90;   // no overlong form
        if (p[0] == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 1;
    }
    if (p[1] < low || p[1] > high) return 1;
    for (std::size_t k = 2; k < size; ++k)
        if (p[k] < 0x80 || p[k] > 0xBF) return 1;
    return size;
}

}  // namespace

std::size_t option_name_size(const char* option) {
    if (option[0] == '\0' || option[1] == '\0') return std::strlen(option);
    if (option[1] == '-') return std::strcspn(option, "=");
    return 1 + character_size(reinterpret_cast<const unsigned char*>(option + 1));
}

argument_status parse_arguments(int argc, const char* const* argv, run_parameters& parameters) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return argument_status::help;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return argument_status::version;

    parameters = {};
    parameters.jobs = 1;
    parameters.part = 1;
    parameters.parts = 1;
    parameters.max_samples = max_samples;
    parameters.progress = true;
    parameters.format = output_format::text;
    int index = 1;
    while (index < argc && argv[index][0] == '-' && argv[index][1] != '\0') {
        if (std::strcmp(argv[index], "--") == 0) {
            ++index;
            break;
        }
        const argument_status status = parse_option(argc, argv, index, parameters);
        if (status != argument_status::run) return status;
    }
    parameters.bad_option = nullptr;
    if (parameters.frequency_path != nullptr) {
        if (argc - index < 1) return argument_status::usage;
        if (argc - index > 1) return argument_status::list_and_grid;
        parameters.path = argv[index];
        if (std::strcmp(parameters.path, "-") == 0 && std::strcmp(parameters.frequency_path, "-") == 0)
            return argument_status::both_from_input;
        return argument_status::run;
    }
    if (argc - index < 4) return argument_status::usage;

    const char* const* positional = argv + index;
    parameters.path = positional[0];
    const bool wide = parameters.double_precision;
    if (!parse_frequency(positional[1], wide, parameters.start_frequency)) return argument_status::invalid_start;
    if (!parse_frequency(positional[2], wide, parameters.end_frequency)) return argument_status::invalid_end;
    if (!parse_count(positional[3], parameters.count)) return argument_status::invalid_count;
    parameters.ignored = positional + 4;
    parameters.ignored_count = argc - index - 4;
    for (int k = 0; k < parameters.ignored_count; ++k)
        if (is_option(parameters.ignored[k])) parameters.ignored_option = true;
    return argument_status::run;
}

}  // namespace trapft
