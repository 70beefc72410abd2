// Splits arbitrary bytes at NUL bytes into a command line and checks
// parse_arguments against a plain second reading of it, written with the C
// library's conversions (strtoll, strtod, strtof, mbrlen). Aborts on any difference.
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "fuzz/plain_number.hpp"

namespace {

using trapft::argument_status;
using trapft::run_parameters;
using status = argument_status;

void check(bool condition) {
    if (!condition) std::abort();
}

// Digits only, from low to high, through strtoll.
bool bounded(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && value >= low && value <= high;
}

// A decimal number that strtod reads whole, beginning with a digit or a point,
// without letters other than the exponent's.
bool decimal(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && text.find_first_not_of("0123456789.eE+-") == std::string::npos &&
           (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.') && end == text.c_str() + text.size();
}

status apply(const std::string& name, const std::string& value, run_parameters& p) {
    long long a = 0, b = 0;
    const std::size_t slash = value.find('/');
    if (name == "jobs" && bounded(value, 0, 1024, a)) p.jobs = static_cast<int>(a);
    else if (name == "jobs") return status::invalid_jobs;
    else if (name == "max-samples" && bounded(value, 1, INT32_MAX, a)) p.max_samples = static_cast<std::int32_t>(a);
    else if (name == "max-samples") return status::invalid_max_samples;
    else if (name == "part" && slash != std::string::npos && bounded(value.substr(0, slash), 1, INT32_MAX, a) &&
             bounded(value.substr(slash + 1), 1, INT32_MAX, b) && a <= b)
        p.part = static_cast<std::int32_t>(a), p.parts = static_cast<std::int32_t>(b);
    else if (name == "part") return status::invalid_part;
    else if (name == "tolerance" && !(decimal(value, p.tolerance) && p.tolerance >= 1e-14 && p.tolerance <= 0.1))
        return status::invalid_tolerance;
    else if (name == "format" && value == "text") p.format = trapft::output_format::text;  // the last one counts
    else if (name == "format" && value == "csv") p.format = trapft::output_format::csv;
    else if (name == "format" && value == "npy") p.format = trapft::output_format::npy;
    else if (name == "format") return status::invalid_format;
    return status::run;
}

// The long name of the option that a word spells, or "".
std::string option_name(const std::string& w) {
    static const std::string names[] = {"jobs", "part", "max-samples", "tolerance", "format",
                                        "frequencies", "double", "no-progress", "help", "version"};
    static const char letters[] = {'j', 0, 0, 'e', 'f', 0, 0, 0, 'h', 0};  // the short forms, by name
    const std::string name = w.compare(0, 2, "--") == 0 ? w.substr(2, w.find('=') - 2) : "";
    for (std::size_t k = 0; k < 10; ++k)
        if (w.size() > 1 && w[0] == '-' && (name == names[k] || (letters[k] != 0 && w[1] == letters[k])))
            return names[k];
    return "";
}

// The size of an option's name as written: to "=" for long options, else "-"
// and one character as the C library decodes UTF-8, if a Unicode scalar value
// (or one byte).
std::size_t name_size(const std::string& w) {
    if (w.size() < 2 || w[1] == '-') return std::min(w.size(), w.find('='));
    std::mbstate_t state{};
    wchar_t c = 0;
    const std::size_t n = std::mbrtowc(&c, w.c_str() + 1, w.size() - 1, &state);
    const bool scalar = c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
    return 1 + (n >= 1 && n <= 4 && scalar ? n : 1);
}

struct reading {
    status result = status::run;
    std::size_t word = 0;  // the option at fault, or the path
    run_parameters p{};
    bool listed = false;   // --frequencies, naming `list`
    std::string list;
};

reading failed(status result, std::size_t word) {
    reading r;
    r.result = result;
    r.word = word;
    return r;
}

reading expect(const std::vector<std::string>& words) {
    reading r;
    r.p.jobs = r.p.part = r.p.parts = 1;
    r.p.max_samples = 16384;
    r.p.progress = true;
    const std::size_t n = words.size();
    if (n == 2 && (words[1] == "--help" || words[1] == "-h")) return failed(status::help, 0);
    if (n == 2 && words[1] == "--version") return failed(status::version, 0);
    std::size_t i = 1;
    for (; i < n && words[i].size() > 1 && words[i][0] == '-'; ++i) {
        const std::string& w = words[i];
        if (w == "--") { ++i; break; }
        const std::size_t at = i;
        const std::string name = option_name(w);
        const bool attached = w[1] == '-' ? w.find('=') != std::string::npos : w.size() > 2;
        const std::string value = !attached ? "" : w.substr(w[1] == '-' ? w.find('=') + 1 : 2);
        if (name.empty()) return failed(status::unknown_option, at);
        if (name == "double" || name == "no-progress" || name == "help" || name == "version") {
            if (attached) return failed(status::unexpected_value, at);
            if (name == "help" || name == "version") return failed(status::usage, at);
            (name == "double" ? r.p.double_precision : r.p.progress) = name == "double";
            continue;
        }
        const std::string given = attached || i + 1 == n ? value : words[++i];
        if (given.empty()) return failed(status::missing_value, at);
        if (name == "frequencies") {
            r.listed = true;
            r.list = given;  // the last one counts
            continue;
        }
        if ((r.result = apply(name, given, r.p)) != status::run) return failed(r.result, at);
    }
    if (r.listed) {
        if (n - i < 1) return failed(status::usage, 0);
        if (n - i > 1) return failed(status::list_and_grid, 0);
        if (words[i] == "-" && r.list == "-") return failed(status::both_from_input, 0);
        r.word = i;
        return r;
    }
    if (n - i < 4) return failed(status::usage, 0);
    const auto frequency = [&](const std::string& word, double& value) {
        const char* text = word.c_str();
        while (plain::is_space(*text)) ++text;
        const plain::item item = plain::read_item(text, std::strlen(text), r.p.double_precision);
        value = item.value;
        return item.whole;
    };
    if (!frequency(words[i + 1], r.p.start_frequency)) return failed(status::invalid_start, 0);
    if (!frequency(words[i + 2], r.p.end_frequency)) return failed(status::invalid_end, 0);
    if (!plain::read_count(words[i + 3].c_str(), r.p.count)) return failed(status::invalid_count, 0);
    r.word = i;
    r.p.ignored_count = static_cast<int>(n - i - 4);
    for (std::size_t k = i + 4; k < n; ++k) r.p.ignored_option = r.p.ignored_option || !option_name(words[k]).empty();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    check(utf8);
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

    run_parameters got{};
    const status result = trapft::parse_arguments(argc, argv.get(), got);
    const reading want = expect(words);
    check(result == want.result);
    if (result == status::run) {
        const run_parameters& p = want.p;
        check(got.path == argv[want.word] && got.count == p.count);
        check(plain::same_number(got.start_frequency, p.start_frequency));
        check(plain::same_number(got.end_frequency, p.end_frequency));
        check(got.jobs == p.jobs && got.part == p.part && got.parts == p.parts && got.max_samples == p.max_samples);
        check(got.tolerance == p.tolerance && got.format == p.format);
        check(got.double_precision == p.double_precision && got.progress == p.progress);
        check((got.frequency_path != nullptr) == want.listed);
        check(!want.listed || got.frequency_path == want.list);
        check(want.listed ? got.ignored == nullptr && got.ignored_count == 0
                          : got.ignored == argv.get() + want.word + 4 && got.ignored_count == p.ignored_count);
        check(got.ignored_option == p.ignored_option);
    } else if (result >= status::unknown_option) {  // the errors from here on name the option at fault
        check(got.bad_option == argv[want.word]);
        check(trapft::option_name_size(got.bad_option) == name_size(words[want.word]));
    }
    return 0;
}
