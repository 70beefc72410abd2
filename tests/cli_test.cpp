#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "process.hpp"
#include "reference.hpp"

namespace {

const std::string binary = TRAPFT_BINARY;
const std::string two_samples = process::write_file("two_samples.txt", "0 1\n1 1\n");

struct run_case {
    const char* name;
    std::vector<std::string> args;  // after the program name
    std::string out;
    std::string err;
    int status;
};

void check(const run_case& c) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const process::outcome o = process::run(argv);
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.status, c.status);
}

const std::string usage = "Usage: trapft [OPTION]... SAMPLE_FILE START_FREQUENCY END_FREQUENCY COUNT\n";
const std::string first_two = "0 1 -0 1\n0.5 0 -6.12323399573677e-17 6.12323399573677e-17\n";

TEST(trapft, runs_and_parses_its_arguments) {
    const run_case cases[] = {
        {"worked example", {two_samples, "0", "0.5", "2"}, first_two, "", 0},
        {"extra arguments ignored", {two_samples, "0", "0.5", "2", "x", "-5"}, first_two, "", 0},
        {"leading blanks and units", {two_samples, "  0Hz", " 5e-1", " 2x"}, first_two, "", 0},
        {"exponent", {two_samples, "1e1", "0", "1"}, "10 1 1.22464679914735e-15 1\n", "", 0},
        {"single-precision start", {two_samples, "0.1", "0", "1"},
         "0.100000001490116 0.904508494435852 -0.293892629933518 0.951056514848541\n", "", 0},
        {"count zero", {two_samples, "0", "1", "0"}, "", "", 0},
        {"count negative", {two_samples, "0", "1", "-7"}, "", "", 0},
        {"lowest count", {two_samples, "0", "1", "-2147483648"}, "", "", 0},
        {"count with fraction", {two_samples, "0", "0.5", "2.9"}, first_two, "", 0},
        {"options before the file", {"-j", "2", "--part", "1/1", two_samples, "0", "0.5", "2"}, first_two, "", 0},
        {"attached option values", {"-j3", "--max-samples=2", "--no-progress", two_samples, "0", "0.5", "2"},
         first_two, "", 0},
        {"more jobs than lines", {"--jobs=1024", two_samples, "0", "0.5", "2"}, first_two, "", 0},
        {"one job per processor", {"--jobs=0", two_samples, "0", "0.5", "2"}, first_two, "", 0},
        {"a part", {"--part=2/2", two_samples, "0", "0.5", "2"}, first_two.substr(9), "", 0},
        {"an empty part", {"--part=3/3", two_samples, "0", "0.5", "2"}, "", "", 0},
        {"leading zeros", {"--part=000000000000000000002/02", "--jobs=0002", two_samples, "0", "0.5", "2"},
         first_two.substr(9), "", 0},
        {"double ends the options", {"--", two_samples, "-5", "5", "1"},
         reference::sweep({0, 1}, {1, 1}, -5, 5, 1), "", 0},
        {"negative frequency after the file", {two_samples, "-5", "-4e-0", "2"},
         reference::sweep({0, 1}, {1, 1}, -5, -4, 2), "", 0},
        {"double-precision frequencies", {"--double", two_samples, "0.1", "0", "1"},
         reference::sweep({0, 1}, {1, 1}, 0.1, 0, 1), "", 0},
        // Parts whose squares overflow or underflow: the magnitude is still |X|.
        {"large parts", {"--double", process::write_file("large.txt", "0 1e200\n1 1e200\n"), "0", "0", "1"},
         "0 1e+200 -0 1e+200\n", "", 0},
        {"small parts", {"--double", process::write_file("small.txt", "0 -1e-200\n1 -1e-200\n"), "0", "0", "1"},
         "0 -1e-200 -0 1e-200\n", "", 0},
    };
    for (const run_case& c : cases) check(c);
}

TEST(trapft, reports_each_failure_on_one_line_with_nothing_on_standard_output) {
    const std::string header = process::write_file("header.txt", "time value\n0 1\n");
    const std::string comma = process::write_file("comma.txt", "0 1\n0,5 1\n");
    const std::string bom = process::write_file("bom.txt", "\xEF\xBB\xBF" "0 1\n");
    const std::string dangling = process::write_file("dangling.txt", "0 1\n1 1e\n");
    const std::string half = process::write_file("half.txt", "0 1\n\n1 2\n3\n");
    const std::string text_exponent = process::write_file("text_exponent.txt", "0 1\n1 12.5eV\n");
    std::string many;
    for (int k = 0; k <= 16384; ++k) many += std::to_string(k) + " 1\n";
    const std::string too_many = process::write_file("too_many.txt", many);

    const run_case cases[] = {
        {"no arguments", {}, "", usage, 2},
        {"three arguments", {two_samples, "0", "1"}, "", usage, 2},
        {"help with other arguments", {"--help", "0"}, "", usage, 2},
        {"start holds no number", {two_samples, "12.5eV", "1", "2"}, "", "Invalid start frequency.\n", 2},
        {"end holds no number", {two_samples, "0", "x", "2"}, "", "Invalid end frequency.\n", 2},
        {"end is a bare sign", {two_samples, "0", "-", "2"}, "", "Invalid end frequency.\n", 2},
        {"count holds no number", {two_samples, "0", "1", "many"}, "", "Invalid frequency count.\n", 2},
        {"count beyond int32", {two_samples, "0", "1", "2147483648"}, "", "Invalid frequency count.\n", 2},
        {"arguments checked before opening", {process::scratch("missing.txt"), "0", "1", ""}, "", "Invalid frequency count.\n", 2},
        {"missing file", {process::scratch("missing.txt"), "0", "1", "2"}, "", "Error opening file.\n", 1},
        {"missing file, count zero", {process::scratch("missing.txt"), "0", "1", "0"}, "", "Error opening file.\n", 1},
        {"directory", {".", "0", "1", "2"}, "", "Error reading file.\n", 1},
        {"header line", {header, "0", "1", "2"}, "", "Error reading file: line 1: not a number.\n", 1},
        {"decimal comma", {comma, "0", "1", "2"}, "", "Error reading file: line 2: not a number.\n", 1},
        {"byte-order mark", {bom, "0", "1", "2"}, "", "Error reading file: line 1: not a number.\n", 1},
        {"exponent without digits", {dangling, "0", "1", "2"}, "", "Error reading file: line 2: not a number.\n", 1},
        {"text after exponent", {text_exponent, "0", "1", "0"}, "", "Error reading file: line 2: not a number.\n", 1},
        {"half pair", {half, "0", "1", "2"}, "", "Error reading file: line 4: time without a value.\n", 1},
        {"too many samples", {too_many, "0", "1", "2"}, "", "Error reading file: more than 16384 samples.\n", 1},
        {"capacity in force", {"--max-samples=1", two_samples, "0", "1", "2"}, "",
         "Error reading file: more than 1 sample.\n", 1},
        {"unknown option", {"--bogus", two_samples, "0", "1", "2"}, "", "Unknown option --bogus.\n", 2},
        {"unknown short option", {"-x5", two_samples, "0", "1", "2"}, "", "Unknown option -x.\n", 2},
        // A terminal must not take an option's bytes as its own commands.
        {"control characters in an option", {"--\x1b]0;x\a", two_samples, "0", "1", "2"}, "",
         "Unknown option --?]0;x?.\n", 2},
        {"control character as a short option", {"-\x7f", two_samples, "0", "1", "2"}, "", "Unknown option -?.\n", 2},
        {"missing value", {"-j"}, "", "Option -j needs a value.\n", 2},
        {"flag with a value", {"--double=yes", two_samples, "0", "1", "2"}, "", "Option --double takes no value.\n", 2},
        {"jobs out of range", {"--jobs=1025", two_samples, "0", "1", "2"}, "", "Invalid number of jobs.\n", 2},
        {"jobs not a number", {"-j", "2x", two_samples, "0", "1", "2"}, "", "Invalid number of jobs.\n", 2},
        {"part beyond the parts", {"--part=3/2", two_samples, "0", "1", "2"}, "",
         "Invalid part: give K/P with 1 <= K <= P.\n", 2},
        {"part zero", {"--part", "0/2", two_samples, "0", "1", "2"}, "", "Invalid part: give K/P with 1 <= K <= P.\n", 2},
        {"part without parts", {"--part=1/", two_samples, "0", "1", "2"}, "",
         "Invalid part: give K/P with 1 <= K <= P.\n", 2},
        {"capacity zero", {"--max-samples=0", two_samples, "0", "1", "2"}, "", "Invalid maximum number of samples.\n", 2},
        {"tolerance too large", {"-e", "0.2", two_samples, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"tolerance too small", {"--tolerance=1e-15", two_samples, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"tolerance not a number", {"--tolerance=1e-6x", two_samples, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"options after the file are arguments", {two_samples, "-j", "2", "3"}, "", "Invalid start frequency.\n", 2},
        {"options checked before opening", {"--jobs=-1", process::scratch("missing.txt"), "0", "1", "2"}, "",
         "Invalid number of jobs.\n", 2},
        {"help beside options", {"-j", "2", "--help"}, "", usage, 2},
    };
    for (const run_case& c : cases) check(c);
}

// --frequencies: the listed lines in their order, each the grid's line at
// that frequency, in any format, part and jobs; its refusals name the file
// and the line, and come before anything is written.
TEST(trapft, evaluates_a_list_of_frequencies) {
    const std::string list = process::write_file("list.txt", "0.5\n0\n\n0.5\n");
    const std::string bad = process::write_file("bad_list.txt", "0.5\n1\n2Hz\n");
    const std::string empty = process::write_file("empty_list.txt", " \n");
    const std::string missing = process::scratch("missing_list.txt");
    const std::string line_half = first_two.substr(9), line_zero = first_two.substr(0, 9);
    const std::string listed = line_half + line_zero + line_half;
    const run_case cases[] = {
        {"a list", {"--frequencies=" + list, two_samples}, listed, "", 0},
        {"a list in parts, on threads", {"--frequencies", list, "--part=2/2", "-j2", two_samples}, line_half, "", 0},
        {"a list, fast", {"-e", "1e-9", "--frequencies=" + list, two_samples},
         TRAPFT_FAST_EVALUATION ? "0.5 0 0 0\n0 1 0 1\n0.5 0 0 0\n" : "",  // the direct sums: +0
         TRAPFT_FAST_EVALUATION ? "" : "The fast evaluation is not built in: it needs FFTW3.\n",
         TRAPFT_FAST_EVALUATION ? 0 : 2},
        {"a list as csv", {"--format=csv", "--frequencies=" + list, "--", two_samples},
         "frequency,real,imaginary,magnitude\n0.5,0,-6.12323399573677e-17,6.12323399573677e-17\n0,1,-0,1\n"
         "0.5,0,-6.12323399573677e-17,6.12323399573677e-17\n", "", 0},
        {"missing list", {"--frequencies=" + missing, two_samples}, "",
         "Error opening frequency file " + missing + ".\n", 1},
        {"a list with a bad line", {"--frequencies=" + bad, two_samples}, "",
         "Error reading frequency file " + bad + ": line 3: not a number.\n", 1},
        {"an empty list", {"--frequencies=" + empty, two_samples}, "",
         "Error reading frequency file " + empty + ": no frequencies.\n", 1},
        {"a list and a grid", {"--frequencies=" + list, two_samples, "0", "1", "2"}, "",
         "Give either --frequencies=FILE or START_FREQUENCY END_FREQUENCY COUNT, not both.\n", 2},
        {"both from standard input", {"--frequencies=-", "-"}, "",
         "The samples and the frequencies cannot both come from standard input.\n", 2},
        {"a list without samples", {"--frequencies=" + list}, "", usage, 2},
        {"a list checked before the samples open", {"--frequencies=" + list, process::scratch("missing.txt"), "1"}, "",
         "Give either --frequencies=FILE or START_FREQUENCY END_FREQUENCY COUNT, not both.\n", 2},
    };
    for (const run_case& c : cases) check(c);
}

// Arguments after COUNT still change nothing; an option of the tool among them
// is named in a warning, with every other argument after COUNT.
TEST(trapft, warns_of_options_after_the_count) {
    const std::string warning = "Ignoring arguments after COUNT: ";
    const run_case cases[] = {
        {"long option", {two_samples, "0", "0.5", "2", "--tolerance=1e-9"}, first_two, warning + "--tolerance=1e-9\n", 0},
        {"short option", {two_samples, "0", "0.5", "2", "x", "-j", "4"}, first_two, warning + "x -j 4\n", 0},
        {"one line", {"--", two_samples, "0", "0.5", "2", "--help", "-e\n1"}, first_two, warning + "--help -e?1\n", 0},
        {"no option of the tool", {two_samples, "0", "0.5", "2", "-5", "--bogus", "--", "-"}, first_two, "", 0},
    };
    for (const run_case& c : cases) check(c);
}

TEST(trapft, names_the_option_at_fault_and_reads_one_number_grammar) {
    const std::string missing = process::scratch("missing.txt");
    // A tolerance that is read takes the run on to the file.
    const std::string read = TRAPFT_FAST_EVALUATION ? "Error opening file.\n"
                                                    : "The fast evaluation is not built in: it needs FFTW3.\n";
    const int read_status = TRAPFT_FAST_EVALUATION ? 1 : 2;
    const run_case cases[] = {
        {"help with a value", {"-hx"}, "", "Option -h takes no value.\n", 2},
        {"version with a value", {"--version=", missing, "0", "1", "2"}, "", "Option --version takes no value.\n", 2},
        {"empty value", {"--jobs=", missing, "0", "1", "2"}, "", "Option --jobs needs a value.\n", 2},
        {"two-byte character", {"-\xC3\xA9x", missing, "0", "1", "2"}, "", "Unknown option -\xC3\xA9.\n", 2},
        {"tolerance with a blank", {"--tolerance= 1e-9", missing, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"tolerance with a plus", {"-e+1e-9", missing, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"hexadecimal tolerance", {"-e", "0x1p-30", missing, "0", "1", "2"}, "", "Invalid tolerance.\n", 2},
        {"decimal tolerances", {"-e1E-12", "-e", ".05", "--tolerance=0.01e+1", missing, "0", "1", "2"}, "", read,
         read_status},
        {"unknown format", {"--format=TEXT", missing, "0", "1", "2"}, "", "Invalid format.\n", 2},
        {"csv", {"-f", "csv", two_samples, "0", "0.5", "2"},
         "frequency,real,imaginary,magnitude\n0,1,-0,1\n0.5,0,-6.12323399573677e-17,6.12323399573677e-17\n", "", 0},
    };
    for (const run_case& c : cases) check(c);

    // Binary output is refused on a terminal, before the file is opened.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    const process::outcome o =
        process::run({binary, "-f", "npy", missing, "0", "1", "2"}, {.stdout_path = ptsname(terminal)});
    EXPECT_EQ(o.err, "Refusing to write binary output to a terminal.\n");
    EXPECT_EQ(o.status, 2);
    close(terminal);
}

TEST(trapft, answers_help_and_version) {
    const process::outcome help = process::run({binary, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u);
    EXPECT_GT(help.out.size(), usage.size());
    EXPECT_EQ(process::run({binary, "-h"}).out, help.out);

    const process::outcome version = process::run({binary, "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "trapft " TRAPFT_VERSION "\n");
}

TEST(trapft, prints_zero_spectra_for_a_file_without_numbers) {
    for (const char* text : {"", "  \n\n \t\n"}) {
        const std::string empty = process::write_file("empty.txt", text);
        const process::outcome o = process::run({binary, empty, "1", "3", "3"});
        EXPECT_EQ(o.out, "1 0 -0 0\n2 0 -0 0\n3 0 -0 0\n");
        EXPECT_EQ(o.status, 0);
    }
}

TEST(trapft, reports_a_full_output_device) {
    const process::outcome o =
        process::run({binary, two_samples, "0", "1", "2147483647"}, {.stdout_path = "/dev/full"});
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.err, "Error writing output.\n");
    EXPECT_EQ(o.status, 1);
}

// Random files in every notation the reader takes, against the plain evaluation.
TEST(trapft, matches_the_plain_evaluation_on_random_files) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 12; ++trial) {
        const int n = trial == 0 ? 16384 : static_cast<int>(rng() % 3000) + 2;
        std::string text;
        std::vector<double> t, x;
        double time = 0;
        for (int k = 0; k < 2 * n; ++k) {
            double v = k % 2 == 0 ? (time += unit(rng) - 0.1) : (unit(rng) - 0.5) * 20;
            char number[64];
            switch (rng() % 8) {
            case 0: std::snprintf(number, sizeof number, "%a", v); break;
            case 1: std::snprintf(number, sizeof number, "%.3e", v); break;
            case 2: std::snprintf(number, sizeof number, "%.20f", v); break;
            default: std::snprintf(number, sizeof number, "%.9g", v); break;
            }
            if (trial == 5 && k == 2 * n - 1) std::snprintf(number, sizeof number, "-inf");
            text += number;
            text += (k % 2 == 0) ? (rng() % 5 == 0 ? "\r\n" : "\t") : "\n";
            (k % 2 == 0 ? t : x).push_back(static_cast<double>(std::strtof(number, nullptr)));
        }
        const std::string path = process::write_file("random.txt", text);
        const double start = static_cast<double>(static_cast<float>(unit(rng) * 3));
        const double end = static_cast<double>(static_cast<float>(unit(rng) * 50));
        char start_text[32], end_text[32];
        std::snprintf(start_text, sizeof start_text, "%.9g", start);
        std::snprintf(end_text, sizeof end_text, "%.9g", end);
        const std::int32_t count = trial == 0 ? 7 : 40;
        const process::outcome o =
            process::run({binary, path, start_text, end_text, std::to_string(count)});
        SCOPED_TRACE(trial);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, reference::sweep(t, x, start, end, count));
    }
}

}  // namespace
