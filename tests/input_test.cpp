#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "input/sample_set.hpp"

namespace {

using trapft::load_status;

double widened(const char* text) { return static_cast<double>(std::strtof(text, nullptr)); }

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct float_case {
    const char* text;
    bool ok;
    const char* value;  // the text strtof must read to the same float
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
        {"1e-50", true, "0", 5},
        {"0000000000000000000000000000001", true, "1", 31},
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
    for (const float_case& c : cases) {
        SCOPED_TRACE(c.text);
        double value = -123.0;
        std::size_t used = 99;
        EXPECT_EQ(trapft::parse_float_prefix(c.text, std::strlen(c.text), value, used), c.ok);
        EXPECT_EQ(used, c.used);
        if (!c.ok) continue;
        if (std::isnan(widened(c.value))) {
            EXPECT_TRUE(std::isnan(value));
        } else {
            EXPECT_TRUE(same_bits(value, widened(c.value))) << value;
        }
    }
}

TEST(parse_float_prefix, widens_the_nearest_float_exactly) {
    double value = 0.0;
    std::size_t used = 0;
    ASSERT_TRUE(trapft::parse_float_prefix("0.1", 3, value, used));
    EXPECT_EQ(value, 0.100000001490116119384765625);
    ASSERT_TRUE(trapft::parse_float_prefix("16777217", 8, value, used));
    EXPECT_EQ(value, 16777216.0);
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

// Numbers far longer than any float needs: the digits past those kept may
// only tip a tie, and must do so exactly as the whole text would.
TEST(parse_float_prefix, converts_numbers_of_any_length_exactly) {
    const std::string zeros(3000, '0');
    const std::string ties[] = {
        "1.000000059604644775390625",  // halfway between 1 and the next float
        power_of_half(150),            // halfway between 0 and the least subnormal
        "340282356779733661637539395458142568448",  // halfway to overflow
        "0x1.000001",
    };
    std::vector<std::string> texts;
    for (const std::string& tie : ties) {
        const bool has_point = tie.find('.') != std::string::npos;
        const std::string longer = has_point ? tie + zeros : tie + "." + zeros;
        texts.insert(texts.end(), {tie, longer, longer + "1", "-" + longer + "1", longer + "1e0"});
    }
    texts.insert(texts.end(), {
        "0." + zeros + "1e3001", "1" + zeros + "e-3000", "0x0." + zeros + "1p12004",
        "1e99999999999999999999999", "1e-99999999999999999999999", "0e99999999999999999999",
        "-0x0p-99999999999999999", zeros + "." + zeros, "nan(" + zeros + ")",
    });
    std::mt19937_64 rng(3);
    for (int k = 0; k < 2000; ++k) {
        std::string text = std::to_string(rng() % 1000);
        text.append(".").append(std::to_string(rng())).append(std::to_string(rng()));
        text.append(rng() % 200, '0');
        if (rng() % 2 != 0) text.append(std::to_string(rng() % 10));
        text.append("e").append(std::to_string(static_cast<int>(rng() % 120) - 80));
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        double value = 0.0;
        std::size_t used = 0;
        ASSERT_TRUE(trapft::parse_float_prefix(text.data(), text.size(), value, used));
        EXPECT_EQ(used, text.size());
        const double expected = widened(text.c_str());
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(value));
        } else {
            EXPECT_TRUE(same_bits(value, expected)) << value << " vs " << expected;
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
    std::unique_ptr<trapft::sample_set> samples = std::make_unique<trapft::sample_set>();
};

loaded load_text(const std::string& text) {
    loaded out;
    // fmemopen refuses a zero size; an empty file is a stream that is at its end.
    std::FILE* stream = text.empty() ? std::fopen("/dev/null", "r")
                                     : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    out.result = trapft::load_samples(stream, *out.samples);
    std::fclose(stream);
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
        ASSERT_EQ(l.samples->count, 2);
        EXPECT_EQ(l.samples->times[0], 0.0);
        EXPECT_EQ(l.samples->values[0], 1.0);
        EXPECT_EQ(l.samples->times[1], 1.0);
        EXPECT_EQ(l.samples->values[1], 1.0);
    }
}

TEST(load_samples, holds_the_single_precision_value_of_each_number) {
    const loaded l = load_text("0.1 -3.3\n1e39 1e-46\n-inf nan\n");
    ASSERT_EQ(l.result.status, load_status::ok);
    ASSERT_EQ(l.samples->count, 3);
    EXPECT_EQ(l.samples->times[0], 0.100000001490116119384765625);
    EXPECT_EQ(l.samples->values[0], widened("-3.3"));
    EXPECT_EQ(l.samples->times[1], INFINITY);
    EXPECT_TRUE(same_bits(l.samples->values[1], 0.0));
    EXPECT_EQ(l.samples->times[2], -INFINITY);
    EXPECT_TRUE(std::isnan(l.samples->values[2]));
}

TEST(load_samples, gives_one_empty_sample_for_a_file_without_numbers) {
    for (const char* text : {"", " ", "\n\n\t\r\n"}) {
        const loaded l = load_text(text);
        ASSERT_EQ(l.result.status, load_status::ok);
        ASSERT_EQ(l.samples->count, 1);
        EXPECT_EQ(l.samples->times[0], 0.0);
        EXPECT_EQ(l.samples->values[0], 0.0);
    }
}

TEST(load_samples, reports_malformed_text_with_its_line) {
    using namespace std::literals;
    struct error_case {
        std::string_view text;
        load_status status;
        std::int64_t line;
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
    };
    for (const error_case& c : cases) {
        SCOPED_TRACE(c.text);
        const loaded l = load_text(std::string(c.text));
        EXPECT_EQ(l.result.status, c.status);
        EXPECT_EQ(l.result.line, c.line);
    }
}

std::string pairs(int n) {
    std::string text;
    for (int k = 0; k < n; ++k) text += std::to_string(k) + " " + std::to_string(n - k) + "\n";
    return text;
}

TEST(load_samples, reads_exactly_max_samples_and_refuses_more) {
    const loaded full = load_text(pairs(trapft::max_samples));
    ASSERT_EQ(full.result.status, load_status::ok);
    ASSERT_EQ(full.samples->count, trapft::max_samples);
    EXPECT_EQ(full.samples->times[trapft::max_samples - 1], trapft::max_samples - 1);
    EXPECT_EQ(full.samples->values[trapft::max_samples - 1], 1.0);

    const loaded over = load_text(pairs(trapft::max_samples + 1));
    EXPECT_EQ(over.result.status, load_status::too_many_samples);
    EXPECT_EQ(load_text(pairs(trapft::max_samples) + "x").result.status, load_status::not_a_number);
}

TEST(load_samples, reports_a_stream_that_fails_to_read) {
    std::FILE* directory = std::fopen(".", "r");
    ASSERT_NE(directory, nullptr);
    auto samples = std::make_unique<trapft::sample_set>();
    EXPECT_EQ(trapft::load_samples(directory, *samples).status, load_status::read_error);
    std::fclose(directory);
}

}  // namespace
