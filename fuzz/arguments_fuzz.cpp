// Splits arbitrary bytes at NUL bytes into a command line and checks
// parse_arguments against a plain second reading of it. Aborts on any difference.
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

bool read_frequency(const char* text, double& value) {
    while (plain::is_space(*text)) ++text;
    const plain::item item = plain::read_item(text, std::strlen(text));
    value = item.value;
    return item.whole;
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

    argument_status expected = argument_status::run;
    double start = 0.0, end = 0.0;
    std::int32_t count = 0;
    if (argc == 2 && (words[1] == "--help" || words[1] == "-h")) expected = argument_status::help;
    else if (argc == 2 && words[1] == "--version") expected = argument_status::version;
    else if (argc < 5) expected = argument_status::usage;
    else if (!read_frequency(argv[2], start)) expected = argument_status::invalid_start;
    else if (!read_frequency(argv[3], end)) expected = argument_status::invalid_end;
    else if (!plain::read_count(argv[4], count)) expected = argument_status::invalid_count;

    check(status == expected);
    if (status != argument_status::run) return 0;
    check(got.path == argv[1]);
    check(plain::same_number(got.start_frequency, start));
    check(plain::same_number(got.end_frequency, end));
    check(got.count == count);
    return 0;
}
