#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#if defined(__x86_64__)
#include <fpu_control.h>
#endif
#include <signal.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "input/parallel_read.hpp"
#include "trapft/reader.hpp"

namespace {

using trapft::load_status;

double widened(const char* text) { return static_cast<double>(std::strtof(text, nullptr)); }

// The number as the C library reads it in the precision asked.
double read_like_c(const char* text, bool double_precision) {
    return double_precision ? std::strtod(text, nullptr) : widened(text);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The same bits, or both NaN: the reader keeps no payload.
bool same_number(double a, double b) { return std::isnan(b) ? std::isnan(a) : same_bits(a, b); }

struct float_case {
    const char* text;
    bool ok;
    const char* value;  // the text strtof (strtod, in double precision) reads to the same value
    std::size_t used;
};

TEST(parse_float_prefix, follows_the_scanf_input_item_rule) {
    const float_case cases[] = {
        {"12.5", true, "12.5", 4},
        {"  \t12.5Hz", true, "12.5", 7},
        {"1e1", true, "10", 3},
        {"-0", true, "-0", 2},
        {"+.5", true, "0.5", 3},
        {"5.", true, "5", 2},
        {"0.1", true, "0.1", 3},
        {"1,5", true, "1", 1},
        {"1.2.3", true, "1.2", 3},
        {"1e-3x", true, "0.001", 4},
        {"0x1p-2", true, "0.25", 6},
        {"0X.8P1", true, "1", 6},
        {"0x1.8", true, "1.5", 5},
        {"0x10e", true, "270", 5},
        {"inf", true, "inf", 3},
        {"-Infinity", true, "-inf", 9},
        {"infx", true, "inf", 3},
        {"NaN", true, "nan", 3},
        {"nan(1_a)", true, "nan", 8},
        {"1e39", true, "1e39", 4},
        {"1e-50", true, "1e-50", 5},
        {"0000000000000000000000000000001", true, "1", 31},
        {"86400.001", true, "86400.001", 9},
        {"1e309", true, "1e309", 5},
        {"4.9e-324", true, "4.9e-324", 8},
        {"2.4e-324", true, "2.4e-324", 8},
        {"0x1.00000000000008p0", true, "0x1.00000000000008p0", 20},
        // Prefixes that start a number but do not finish one hold no number.
        {"12.5eV", false, nullptr, 5},
        {"1e+", false, nullptr, 3},
        {"0x", false, nullptr, 2},
        {"0xg", false, nullptr, 2},
        {"0x1p", false, nullptr, 4},
        {"-", false, nullptr, 1},
        {".", false, nullptr, 1},
        {".e1", false, nullptr, 1},
        {"infin", false, nullptr, 5},
        {"nan(", false, nullptr, 4},
        {"nan(x y)", false, nullptr, 5},
        {"", false, nullptr, 0},
        {"   ", false, nullptr, 3},
        {"Hz", false, nullptr, 0},
        {"\xEF\xBB\xBF" "1", false, nullptr, 0},
    };
    // What is a number does not depend on the precision, only its rounding.
    for (const bool double_precision : {false, true}) {
        for (const float_case& c : cases) {
            SCOPED_TRACE(std::string(c.text) + (double_precision ? " (double)" : " (float)"));
            double value = -123.0;
            std::size_t used = 99;
            const std::size_t size = std::strlen(c.text);
            EXPECT_EQ(trapft::parse_float_prefix(c.text, size, value, used, double_precision), c.ok);
            EXPECT_EQ(used, c.used);
            if (!c.ok) continue;
            EXPECT_TRUE(same_number(value, read_like_c(c.value, double_precision))) << value;
        }
    }
}

TEST(parse_float_prefix, rounds_to_the_precision_asked) {
    const struct {
        const char* text;
        bool double_precision;
        double value;
    } cases[] = {
        {"0.1", false, 0.100000001490116119384765625}, {"0.1", true, 0.1000000000000000055511151231257827},
        {"16777217", false, 16777216.0},               {"16777217", true, 16777217.0},
        {"86400.001", false, 86400.0},                 {"86400.001", true, 86400.001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double value = 0.0;
        std::size_t used = 0;
        const std::size_t size = std::strlen(c.text);
        ASSERT_TRUE(trapft::parse_float_prefix(c.text, size, value, used, c.double_precision));
        EXPECT_EQ(value, c.value);
    }
}

// Decimal digits of 2^-n, which has n digits after the point.
std::string power_of_half(int n) {
    std::string digits = "1";  // 5^n, most significant digit first
    for (int k = 0; k < n; ++k) {
        int carry = 0;
        for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
            const int d = (*it - '0') * 5 + carry;
            *it = static_cast<char>('0' + d % 10);
            carry = d / 10;
        }
        if (carry != 0) digits.insert(digits.begin(), static_cast<char>('0' + carry));
    }
    std::string text = "0.";
    text.append(static_cast<std::size_t>(n) - digits.size(), '0');
    return text.append(digits);
}

// Exact decimal text, without exponent, of the point halfway between `x` and
// the next float (or double) above it, the range taken as going on past the
// largest. Exact in long double, whose mantissa is wider than a double's.
std::string midpoint_text(double x, bool double_precision) {
    const float single = static_cast<float>(x);
    const double above = double_precision ? std::nextafter(x, INFINITY) : std::nextafter(single, INFINITY);
    const double below = double_precision ? std::nextafter(x, 0.0) : std::nextafter(single, 0.0f);
    const long double low = x;
    const long double high = std::isinf(above) ? low + (low - below) : above;
    std::vector<char> text(1500);
    std::snprintf(text.data(), text.size(), "%.1100Lf", (low + high) / 2);
    std::string digits(text.data());
    digits.erase(digits.find_last_not_of('0') + 1);
    if (digits.back() == '.') digits.pop_back();
    return digits;
}

// Numbers far longer than any float (or double) needs: the digits past those
// kept may only tip a tie, and must do so exactly as the whole text would.
TEST(parse_float_prefix, converts_numbers_of_any_length_exactly) {
    const std::string zeros(3000, '0');
    const std::vector<std::string> float_ties = {
        "1.000000059604644775390625",  // halfway between 1 and the next float
        power_of_half(150),            // halfway between 0 and the least subnormal
        "340282356779733661637539395458142568448",  // halfway to overflow
        "0x1.000001",
    };
    const std::vector<std::string> double_ties = {
        midpoint_text(1.0, true), power_of_half(1075), midpoint_text(DBL_MAX, true),
        midpoint_text(DBL_MIN, true), "0x1.00000000000008",
    };
    std::mt19937_64 rng(3);
    for (const bool double_precision : {false, true}) {
        std::vector<std::string> texts;
        for (const std::string& tie : double_precision ? double_ties : float_ties) {
            const bool has_point = tie.find('.') != std::string::npos;
            const std::string longer = has_point ? tie + zeros : tie + "." + zeros;
            texts.insert(texts.end(), {tie, longer, longer + "1", "-" + longer + "1", longer + "1e0"});
        }
        texts.insert(texts.end(), {
            "0." + zeros + "1e3001", "1" + zeros + "e-3000", "0x0." + zeros + "1p12004",
            "1e99999999999999999999999", "1e-99999999999999999999999", "0e99999999999999999999",
            "-0x0p-99999999999999999", zeros + "." + zeros, "nan(" + zeros + ")",
        });
        for (int k = 0; k < 2000; ++k) {
            std::string text = std::to_string(rng() % 1000);
            text.append(".").append(std::to_string(rng())).append(std::to_string(rng()));
            text.append(rng() % 200, '0');
            if (rng() % 2 != 0) text.append(std::to_string(rng() % 10));
            text.append("e").append(std::to_string(static_cast<int>(rng() % 120) - 80));
            texts.push_back(text);
        }
        // Random ties over the whole range, subnormals included, and the
        // numbers just past them.
        for (int k = 0; k < 1000; ++k) {
            std::uint64_t bits = rng();
            if (k % 4 == 0) bits &= double_precision ? ~(std::uint64_t{0x7ff} << 52) : 0x807fffff;
            const double x = double_precision ? std::bit_cast<double>(bits)
                                              : std::bit_cast<float>(static_cast<std::uint32_t>(bits));
            if (!std::isfinite(x)) continue;
            std::string tie = midpoint_text(x, double_precision);
            if (tie.find('.') == std::string::npos) tie += ".";
            texts.insert(texts.end(), {tie, tie + zeros + "1", tie + std::string(rng() % 900, '0') + "1"});
        }
        for (const std::string& text : texts) {
            SCOPED_TRACE(text.substr(0, 60) + (double_precision ? " (double)" : " (float)"));
            double value = 0.0;
            std::size_t used = 0;
            ASSERT_TRUE(trapft::parse_float_prefix(text.data(), text.size(), value, used, double_precision));
            EXPECT_EQ(used, text.size());
            const double expected = read_like_c(text.c_str(), double_precision);
            EXPECT_TRUE(same_number(value, expected)) << value << " vs " << expected;
        }
    }
}

TEST(parse_count, follows_the_scanf_decimal_integer_rule) {
    struct count_case {
        const char* text;
        bool ok;
        std::int32_t value;
    };
    const count_case cases[] = {
        {"3", true, 3},           {"3x", true, 3},          {"3.7", true, 3},
        {"  +12", true, 12},      {"-5", true, -5},         {"0", true, 0},
        {"2147483647", true, INT32_MAX},                    {"-2147483648", true, INT32_MIN},
        {"000000000000000000000042", true, 42},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
        {"", false, 0},           {"x3", false, 0},         {"-", false, 0},
        {"+ 3", false, 0},        {" ", false, 0},
    };
    for (const count_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::int32_t value = 77;
        EXPECT_EQ(trapft::parse_count(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
    }
}

struct loaded {
    trapft::load_result result;
    trapft::sample_set samples;
};

loaded load_text(const std::string& text, const trapft::read_options& options = {}) {
    loaded out;
    // fmemopen refuses a zero size; an empty file is a stream that is at its end.
    std::FILE* stream = text.empty() ? std::fopen("/dev/null", "r")
                                     : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    out.result = trapft::load_samples(stream, out.samples, options);
    std::fclose(stream);
    if (out.samples.times.size() != out.samples.values.size())
        ADD_FAILURE() << out.samples.times.size() << " times but " << out.samples.values.size() << " values";
    return out;
}

TEST(load_samples, reads_pairs_whatever_the_line_layout) {
    const char* layouts[] = {
        "0 1\n1 1\n", "0 1 1 1", "0 1\n\n\n1 1\n\n", "0 1\n1 1", "0 1\n1\n1\n",
        "0\t1\r\n1\t1\r\n", "\n  0 1 \n 1 1", "0 1\v1\f1", "0.0 1e0\n0x1p0 +1\n",
    };
    for (const char* text : layouts) {
        SCOPED_TRACE(text);
        const loaded l = load_text(text);
        ASSERT_EQ(l.result.status, load_status::ok);
        ASSERT_EQ(l.samples.times.size(), 2u);
        EXPECT_EQ(l.samples.times[0], 0.0);
        EXPECT_EQ(l.samples.values[0], 1.0);
        EXPECT_EQ(l.samples.times[1], 1.0);
        EXPECT_EQ(l.samples.values[1], 1.0);
    }
}

TEST(load_samples, holds_the_single_precision_value_of_each_number) {
    const loaded l = load_text("0.1 -3.3\n1e39 1e-46\n-inf nan\n");
    ASSERT_EQ(l.result.status, load_status::ok);
    ASSERT_EQ(l.samples.times.size(), 3u);
    EXPECT_EQ(l.samples.times[0], 0.100000001490116119384765625);
    EXPECT_EQ(l.samples.values[0], widened("-3.3"));
    EXPECT_EQ(l.samples.times[1], INFINITY);
    EXPECT_TRUE(same_bits(l.samples.values[1], 0.0));
    EXPECT_EQ(l.samples.times[2], -INFINITY);
    EXPECT_TRUE(std::isnan(l.samples.values[2]));
}

TEST(load_samples, holds_each_number_in_the_precision_asked) {
    const char* numbers[] = {"0.1", "-3.3", "1e39", "1e-46", "-inf", "nan", "86400.001", "1e-320",
                             "0x1.fffffffffffffp1023", "1e309"};
    std::string text;
    for (std::size_t k = 0; k < 10; ++k) text.append(numbers[k]).append(k % 2 == 0 ? " " : "\n");
    for (const bool double_precision : {false, true}) {
        const loaded l = load_text(text, {.double_precision = double_precision});
        ASSERT_EQ(l.result.status, load_status::ok);
        ASSERT_EQ(l.samples.times.size(), 5u);
        for (std::size_t k = 0; k < 10; ++k) {
            SCOPED_TRACE(std::string(numbers[k]) + (double_precision ? " (double)" : " (float)"));
            const double value = k % 2 == 0 ? l.samples.times[k / 2] : l.samples.values[k / 2];
            EXPECT_TRUE(same_number(value, read_like_c(numbers[k], double_precision))) << value;
        }
    }
}

TEST(load_samples, gives_one_empty_sample_for_a_file_without_numbers) {
    for (const std::int32_t capacity : {1, trapft::max_samples}) {
        for (const char* text : {"", " ", "\n\n\t\r\n"}) {
            const loaded l = load_text(text, {.capacity = capacity});
            ASSERT_EQ(l.result.status, load_status::ok);
            ASSERT_EQ(l.samples.times.size(), 1u);
            EXPECT_EQ(l.samples.times[0], 0.0);
            EXPECT_EQ(l.samples.values[0], 0.0);
        }
    }
}

TEST(load_samples, reports_malformed_text_with_its_line) {
    using namespace std::literals;
    struct error_case {
        std::string_view text;
        load_status status;
        std::int64_t line;
        std::int32_t capacity = trapft::max_samples;
    };
    const error_case cases[] = {
        {"time value\n0 1\n", load_status::not_a_number, 1},
        {"0 1\n1,5 2\n", load_status::not_a_number, 2},
        {"0 1\n1 1e\n", load_status::not_a_number, 2},
        {"\xEF\xBB\xBF" "0 1\n", load_status::not_a_number, 1},
        {"0 1\n\n\n2 12.5eV\n", load_status::not_a_number, 4},
        {"0 1\n1 1\n# end\n", load_status::not_a_number, 3},
        {"0 1\n1 2\n3\n", load_status::time_without_value, 3},
        {"0 1\n1 2\n3\n\n\n", load_status::time_without_value, 3},
        {"0\n", load_status::time_without_value, 1},
        {"0 1\n2 0x", load_status::not_a_number, 2},
        {"0 1\r\n1 \0 2\r\n"sv, load_status::not_a_number, 2},
        // Past the capacity: refused at the time that does not fit, once it reads.
        {"0 1\n1 1\n2 1\n", load_status::too_many_samples, 3, 2},
        {"0 1 1 1\n\n2\n", load_status::too_many_samples, 3, 2},
        {"0 1 1 1\n\n2 x\n", load_status::too_many_samples, 3, 2},
        {"0 1\n1 1\nx 2\n", load_status::not_a_number, 3, 2},
        {"0 1\n1 1", load_status::too_many_samples, 2, 1},
    };
    for (const error_case& c : cases) {
        SCOPED_TRACE(c.text);
        const loaded l = load_text(std::string(c.text), {.capacity = c.capacity});
        EXPECT_EQ(l.result.status, c.status);
        EXPECT_EQ(l.result.line, c.line);
    }
}

std::string pairs(int n) {
    std::string text;
    for (int k = 0; k < n; ++k) text += std::to_string(k) + " " + std::to_string(n - k) + "\n";
    return text;
}

TEST(load_samples, reads_exactly_its_capacity_and_refuses_more) {
    const struct {
        int pairs;
        std::int32_t capacity;
    } cases[] = {{3, 3}, {1, 1}, {trapft::max_samples, trapft::max_samples}, {2, INT32_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacity);
        const loaded full = load_text(pairs(c.pairs), {.capacity = c.capacity});
        ASSERT_EQ(full.result.status, load_status::ok);
        ASSERT_EQ(full.samples.times.size(), static_cast<std::size_t>(c.pairs));
        EXPECT_EQ(full.samples.times[std::size_t(c.pairs) - 1], c.pairs - 1);
        EXPECT_EQ(full.samples.values[std::size_t(c.pairs) - 1], 1.0);
        // The tables grow with the pairs read, not with the capacity.
        EXPECT_LE(full.samples.times.capacity(), std::max(std::size_t{1024}, 2 * std::size_t(c.pairs)));

        const loaded over = load_text(pairs(c.pairs) + pairs(1), {.capacity = c.capacity});
        EXPECT_EQ(over.result.status, c.pairs < c.capacity ? load_status::ok : load_status::too_many_samples);
        EXPECT_EQ(over.result.line, c.pairs < c.capacity ? 0 : c.pairs + 1);
        const loaded trailing = load_text(pairs(c.pairs) + "x", {.capacity = c.capacity});
        EXPECT_EQ(trailing.result.status, load_status::not_a_number);
    }
}

TEST(load_samples, reports_a_stream_that_fails_to_read) {
    std::FILE* directory = std::fopen(".", "r");
    ASSERT_NE(directory, nullptr);
    trapft::sample_set samples;
    EXPECT_EQ(trapft::load_samples(directory, samples).status, load_status::read_error);
    std::fclose(directory);
}

void count_signal(int) {}

// A pipe written in bursts while a timer's signal, whose handler returns,
// interrupts the reads: nothing read is lost, and the caller is asked at
// every interruption, which can also stop the reading.
TEST(load_samples, reads_through_interrupting_signals_and_stops_when_asked) {
    struct sigaction action {}, previous{};
    action.sa_handler = count_signal;  // no SA_RESTART: reads fail with EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopped at the first interruption" : "every interruption retried");
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        // The writer takes neither the timer's signal nor the closed pipe's.
        sigset_t blocked, old;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGALRM);
        sigaddset(&blocked, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &blocked, &old);
        std::thread writer([fd = ends[1]] {
            for (int burst = 0; burst < 10; ++burst) {
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
                const std::string line = std::to_string(burst) + " 1\n";
                if (write(fd, line.data(), line.size()) < 0) break;
            }
            close(fd);
        });
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        const itimerval every_2ms{{0, 2000}, {0, 2000}}, off{};
        setitimer(ITIMER_REAL, &every_2ms, nullptr);
        std::FILE* const stream = fdopen(ends[0], "r");
        int interruptions = 0;
        trapft::read_options options;
        options.keep_going = [&](bool interrupted) {
            interruptions += interrupted;
            return !(stop && interrupted);
        };
        trapft::sample_set samples;
        const trapft::load_result result = trapft::load_samples(stream, samples, options);
        setitimer(ITIMER_REAL, &off, nullptr);
        std::fclose(stream);
        writer.join();
        EXPECT_GT(interruptions, 0);
        if (stop) {
            EXPECT_EQ(result.status, load_status::stopped);
            EXPECT_EQ(interruptions, 1);
        } else {
            EXPECT_EQ(result.status, load_status::ok);
            EXPECT_EQ(samples.times, std::vector<double>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        }
    }
    sigaction(SIGALRM, &previous, nullptr);
}

// Numbers of up to 19 digits, read whole in one pass: those whose nearest
// double lies on or next to a float midpoint, where rounding twice would go
// wrong, and mantissas past 2^53, each beside the C library's reading.
TEST(load_samples, reads_short_decimals_as_the_c_library_does) {
    std::vector<std::string> texts = {
        "1.000000059604644775", "1.000000059604644776", "-1.000000059604644775e3", "16777217", "16777217.0",
        "9007199254740993", "9007199254740993e-22", "9999999999999999999", "0.1e-22", "1e22", "1e23",
        "3.4028235e38", "3.4028236e38", "1.17549435e-38", "7e-46", "-0.0", "0e-400", "1e-400", ".5", "5.",
        "+3.25", "00000000000000000000000000012.5", "1.2.3", "0.00000000000000000000000000000000000000000001",
    };
    std::mt19937_64 rng(11);
    for (int k = 0; k < 3000; ++k) {
        // A float midpoint, or a double's, to 17–19 significant digits.
        // Half of them where the digits times a power of ten up to 10^22 give it.
        const bool single = k % 2 == 0;
        const int range = k % 4 < 2 ? 70 : single ? 125 : 1000;
        const double x0 = std::ldexp(1.0 + static_cast<double>(rng() >> 11) * 0x1p-53,
                                     static_cast<int>(rng() % (2 * range + 1)) - range);
        const double x = single ? static_cast<float>(x0) : x0;
        const double above = single ? std::nextafter(static_cast<float>(x), INFINITY) : std::nextafter(x, INFINITY);
        char text[64];
        std::snprintf(text, sizeof text, "%.*Le", static_cast<int>(16 + rng() % 3),
                      (static_cast<long double>(x) + above) / 2);
        texts.emplace_back(text);
    }
    std::string file;
    for (const std::string& text : texts) file += text + (file.size() % 3 == 0 ? "\n" : " ");
    if (texts.size() % 2 == 0) file += "0\n";  // with "1.2.3", an odd count of texts makes pairs
    for (const bool double_precision : {false, true}) {
        const loaded l = load_text(file, {.capacity = INT32_MAX, .double_precision = double_precision});
        ASSERT_EQ(l.result.status, load_status::ok);
        std::size_t k = 0;
        for (const std::string& text : texts) {
            // "1.2.3" holds two numbers, 1.2 and .3.
            for (const std::string& number : text == "1.2.3" ? std::vector<std::string>{"1.2", ".3"}
                                                              : std::vector<std::string>{text}) {
                SCOPED_TRACE(number + (double_precision ? " (double)" : " (float)"));
                ASSERT_LT(k / 2, l.samples.times.size());
                const double got = k % 2 == 0 ? l.samples.times[k / 2] : l.samples.values[k / 2];
                EXPECT_TRUE(same_bits(got, read_like_c(number.c_str(), double_precision))) << got;
                ++k;
            }
        }
    }
}

#if defined(__x86_64__)
// Mantissas past 2^53 use extended precision when it is there; with the x87
// unit set to round short (as some libraries leave it, and as emulators
// behave), the numbers read stay strtod's.
TEST(load_samples, reads_long_mantissas_exactly_whatever_the_x87_precision) {
    std::mt19937_64 rng(5);
    std::vector<std::string> texts;
    std::string file;
    for (int k = 0; k < 4000; ++k) {
        texts.push_back(std::to_string(rng() % 1000000000 + 9007199254) + std::to_string(rng() % 10000000) +
                        "e" + std::to_string(static_cast<int>(rng() % 40) - 20));
        file += texts.back() + "\n";
    }
    fpu_control_t saved;
    _FPU_GETCW(saved);
    for (const fpu_control_t precision : {fpu_control_t{_FPU_EXTENDED}, fpu_control_t{_FPU_SINGLE}}) {
        const fpu_control_t control = static_cast<fpu_control_t>((saved & ~_FPU_EXTENDED) | precision);
        _FPU_SETCW(control);
        const loaded l = load_text(file, {.capacity = INT32_MAX, .double_precision = true});
        _FPU_SETCW(saved);
        ASSERT_EQ(l.result.status, load_status::ok);
        for (std::size_t k = 0; k < texts.size(); ++k) {
            const double got = k % 2 == 0 ? l.samples.times[k / 2] : l.samples.values[k / 2];
            ASSERT_TRUE(same_bits(got, std::strtod(texts[k].c_str(), nullptr))) << texts[k] << " " << precision;
        }
    }
}
#endif

// A file in memory, as a descriptor of a regular file.
struct memory_file {
    int descriptor = memfd_create("samples", 0);
    explicit memory_file(const std::string& text) {
        if (descriptor < 0 || write(descriptor, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            ADD_FAILURE() << "no memory file";
    }
    ~memory_file() { close(descriptor); }
};

// Files cut into pieces read at once: the pieces' borders fall inside numbers,
// runs of numbers, CRLF and errors, and every cut gives the whole reading's
// result, of samples and of single numbers.
TEST(load_file_samples, gives_the_result_of_one_reading_however_the_file_is_cut) {
    using namespace std::literals;
    struct piece_case {
        std::string text;
        std::int32_t capacity = trapft::max_samples;
    };
    std::string long_file;
    for (int k = 0; k < 40000; ++k)
        long_file += std::to_string(k) + (k % 3 == 0 ? ".5e-1\r\n" : k % 3 == 1 ? "\t0x1.8p1 " : " nan\n");
    const piece_case cases[] = {
        {"0.125 -1\r\n1.5 2.25\r\n2 0x1p3\r\n3 inf\r\n"},
        {"0 1\n1 2\n\n\n3"},  // a lone time at the end
        {"0 1\n1 2\n3 4\n5 6\n7 x\n8 9\n"},  // the error in a later piece
        {"0 1 1 1\n\n2 x\n", 2},
        {"0 1\n1 1\nx 2\n", 2},
        {"1.2.3 4\n5.6.7 8\n"},
        {"  \n\n \t"},
        {""},
        {"0 1e\n"},
        {"0 1\n1 " + std::string(300, '7') + ".5e-290\n2 " + std::string(200, '0') + "1\n"},
        {"0 1\r\n1 \0 2\r\n"s},
        {long_file},
        {long_file, 30000},
        {long_file + "1,5 2\n"},
    };
    for (const piece_case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        for (const bool double_precision : {false, true}) {
            const trapft::read_options options{.capacity = c.capacity, .double_precision = double_precision};
            const loaded whole = load_text(c.text, options);
            const memory_file file(c.text);
            const auto size = static_cast<std::int64_t>(c.text.size());
            for (const int pieces : {1, 2, 3, 8, 13}) {
                SCOPED_TRACE(pieces);
                trapft::sample_set samples;
                const trapft::load_result result =
                    trapft::load_file_samples(file.descriptor, 0, size, pieces, samples, options);
                EXPECT_EQ(result.status, whole.result.status);
                EXPECT_EQ(result.line, whole.result.line);
                if (result.status != load_status::ok) continue;
                ASSERT_EQ(samples.times.size(), whole.samples.times.size());
                ASSERT_EQ(samples.values.size(), whole.samples.values.size());
                for (std::size_t k = 0; k < samples.times.size(); ++k) {
                    ASSERT_TRUE(same_number(samples.times[k], whole.samples.times[k])) << k;
                    ASSERT_TRUE(same_number(samples.values[k], whole.samples.values[k])) << k;
                }
            }
            // The same text as a list of single numbers, as load_frequencies reads it.
            std::vector<double> listed;
            std::FILE* stream = c.text.empty() ? std::fopen("/dev/null", "r")
                                               : fmemopen(const_cast<char*>(c.text.data()), c.text.size(), "r");
            const trapft::load_result one = trapft::load_frequencies(stream, listed, options);
            std::fclose(stream);
            for (const int pieces : {2, 3, 13}) {
                SCOPED_TRACE(pieces);
                std::vector<double> numbers;
                trapft::load_result result = trapft::load_file_numbers(file.descriptor, 0, size, pieces, INT32_MAX,
                                                                       numbers, double_precision);
                if (result.status == load_status::ok && numbers.empty()) result.status = load_status::no_numbers;
                EXPECT_EQ(result.status, one.status);
                EXPECT_EQ(result.line, one.line);
                if (result.status != load_status::ok) continue;
                ASSERT_EQ(numbers.size(), listed.size());
                for (std::size_t k = 0; k < numbers.size(); ++k) ASSERT_TRUE(same_number(numbers[k], listed[k])) << k;
            }
        }
    }
}

// A stream on a large regular file, partly read already: the threads take it
// from the stream's position, as one thread does.
TEST(load_samples, reads_a_regular_file_on_threads_from_the_stream_position) {
    std::string text = "header line\n";
    for (int k = 0; k < 200000; ++k) text += std::to_string(k) + ".25 " + std::to_string(k % 7) + "e-3\n";
    ASSERT_GT(text.size(), 2 * static_cast<std::size_t>(trapft::min_piece_bytes));
    trapft::sample_set one;
    for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        memory_file file(text);
        std::FILE* stream = fdopen(file.descriptor, "r");
        ASSERT_NE(stream, nullptr);
        file.descriptor = -1;  // the stream closes it
        std::rewind(stream);
        char header[32];
        ASSERT_NE(std::fgets(header, sizeof header, stream), nullptr);
        trapft::sample_set samples;
        const trapft::load_result result =
            trapft::load_samples(stream, samples, {.capacity = 200000, .threads = threads});
        std::fclose(stream);
        ASSERT_EQ(result.status, load_status::ok);
        ASSERT_EQ(samples.times.size(), 200000u);
        EXPECT_EQ(samples.times[199999], 199999.25);
        if (threads == 1) one = samples;
        EXPECT_EQ(samples.times, one.times);
        EXPECT_EQ(samples.values, one.values);
        EXPECT_LE(samples.times.capacity(), 2 * samples.times.size());
    }
}

}  // namespace
