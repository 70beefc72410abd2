// Splits arbitrary bytes at NUL bytes into a command line and checks
// parse_arguments against a plain second reading of it. Aborts on any difference.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "fuzz/plain_number.hpp"

namespace {

using trapft::argument_status;

void check(bool condition) {
    if (!condition) std::abort();
}

bool read_frequency(const char* text, bool double_precision, double& value) {
    while (plain::is_space(*text)) ++text;
    const plain::item item = plain::read_item(text, std::strlen(text), double_precision);
    value = item.value;
    return item.whole;
}

// Decimal digits only, from low to high, through strtoll.
bool read_bounded(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && value >= low && value <= high;
}

// What a command line asks for, read the plain way.
struct reading {
    argument_status status = argument_status::run;
    std::size_t bad_word = 0;  // index of the word at fault, for option errors
    trapft::run_parameters p{};
};

reading expect(const std::vector<std::string>& words) {
    reading r;
    trapft::run_parameters& p = r.p;
    p.jobs = 1;
    p.part = p.parts = 1;
    p.max_samples = 16384;
    p.progress = true;
    const std::size_t n = words.size();
    auto is_help = [](const std::string& w) { return w == "--help" || w == "-h"; };
    if (n == 2 && is_help(words[1])) return {argument_status::help, 0, {}};
    if (n == 2 && words[1] == "--version") return {argument_status::version, 0, {}};
    auto fail = [&](argument_status status, std::size_t word) {
        r.status = status;
        r.bad_word = word;
        return r;
    };
    std::size_t i = 1;
    for (; i < n && words[i].size() > 1 && words[i][0] == '-'; ++i) {
        const std::string& w = words[i];
        if (w == "--") { ++i; break; }
        if (is_help(w) || w == "--version") return fail(argument_status::usage, 0);
        const std::size_t at = i;
        std::string name, value;
        bool has_value = false;
        if (w[1] == '-') {
            const std::size_t equals = w.find('=');
            name = w.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) { has_value = true; value = w.substr(equals + 1); }
        } else {
            if (w[1] == 'j') name = "jobs";
            if (w[1] == 'e') name = "tolerance";
            if (w.size() > 2) { has_value = true; value = w.substr(2); }
        }
        const bool flag = name == "double" || name == "no-progress";
        const bool valued = name == "jobs" || name == "part" || name == "max-samples" || name == "tolerance";
        if (!flag && !valued) return fail(argument_status::unknown_option, at);
        if (flag) {
            if (has_value) return fail(argument_status::unexpected_value, at);
            (name == "double" ? p.double_precision : p.progress) = name == "double";
            continue;
        }
        if (!has_value) {
            if (i + 1 == n) return fail(argument_status::missing_value, at);
            value = words[++i];
        }
        long long number = 0, other = 0;
        if (name == "jobs") {
            if (!read_bounded(value, 0, 1024, number)) return fail(argument_status::invalid_jobs, at);
            p.jobs = static_cast<int>(number);
        } else if (name == "max-samples") {
            if (!read_bounded(value, 1, INT32_MAX, number)) return fail(argument_status::invalid_max_samples, at);
            p.max_samples = static_cast<std::int32_t>(number);
        } else if (name == "part") {
            const std::size_t slash = value.find('/');
            if (slash == std::string::npos || !read_bounded(value.substr(0, slash), 1, INT32_MAX, number) ||
                !read_bounded(value.substr(slash + 1), 1, INT32_MAX, other) || number > other)
                return fail(argument_status::invalid_part, at);
            p.part = static_cast<std::int32_t>(number);
            p.parts = static_cast<std::int32_t>(other);
        } else {
            char* end = nullptr;
            p.tolerance = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(p.tolerance >= 1e-14 && p.tolerance <= 0.1))
                return fail(argument_status::invalid_tolerance, at);
        }
    }
    if (n - i < 4) return fail(argument_status::usage, 0);
    if (!read_frequency(words[i + 1].c_str(), p.double_precision, p.start_frequency))
        return fail(argument_status::invalid_start, 0);
    if (!read_frequency(words[i + 2].c_str(), p.double_precision, p.end_frequency))
        return fail(argument_status::invalid_end, 0);
    if (!plain::read_count(words[i + 3].c_str(), p.count)) return fail(argument_status::invalid_count, 0);
    r.bad_word = i;  // the path
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words{"trapft"};
    if (size > 0) words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) words.emplace_back();
        else words.back().push_back(static_cast<char>(data[i]));
    }
    // Exactly argc entries, without the usual null after them: reading past
    // the list shows.
    const int argc = static_cast<int>(words.size());
    auto argv = std::make_unique<const char*[]>(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) argv[i] = words[i].c_str();

    trapft::run_parameters got{};
    const argument_status status = trapft::parse_arguments(argc, argv.get(), got);
    const reading want = expect(words);
    check(status == want.status);
    switch (status) {
    case argument_status::unknown_option:
    case argument_status::missing_value:
    case argument_status::unexpected_value:
    case argument_status::invalid_jobs:
    case argument_status::invalid_part:
    case argument_status::invalid_max_samples:
    case argument_status::invalid_tolerance:
        check(got.bad_option == argv[want.bad_word]);
        return 0;
    case argument_status::run: break;
    default: return 0;
    }
    const trapft::run_parameters& p = want.p;
    check(got.path == argv[want.bad_word]);
    check(plain::same_number(got.start_frequency, p.start_frequency));
    check(plain::same_number(got.end_frequency, p.end_frequency));
    check(got.count == p.count);
    check(got.jobs == p.jobs && got.part == p.part && got.parts == p.parts);
    check(got.max_samples == p.max_samples && got.tolerance == p.tolerance);
    check(got.double_precision == p.double_precision && got.progress == p.progress);
    return 0;
}
