// Tables on fresh pages: small ones from the heap, large ones on huge-page boundaries, kept as they grow.
#include <gtest/gtest.h>

#include <cstdint>

#include "spectrum/pages.hpp"

namespace {

// Each size either side of the huge-page line: a vector written end to end
// keeps its numbers when it grows past the line, and a fixed table from the
// line on starts on a huge page (so that no two tables share one).
TEST(pages, tables_either_side_of_a_huge_page_keep_their_numbers) {
    constexpr std::size_t per_page = trapft::huge_page / sizeof(double);
    for (const std::size_t count : {std::size_t{1}, per_page / 2, per_page - 1, per_page, 3 * per_page + 5}) {
        SCOPED_TRACE(count);
        trapft::page_vector<double> grown;
        for (std::size_t i = 0; i < count; ++i) grown.push_back(static_cast<double>(i));
        grown.resize(2 * count + 1);  // past the line, or further past it
        for (std::size_t i = 0; i < count; i += 4093) ASSERT_EQ(grown[i], static_cast<double>(i));
        ASSERT_EQ(grown[count - 1], static_cast<double>(count - 1));

        const trapft::page_array<double> table = trapft::make_page_array<double>(count);
        const auto address = reinterpret_cast<std::uintptr_t>(table.get());
        if (count >= per_page) {
            EXPECT_EQ(address % trapft::huge_page, 0u);
        }
        table[0] = 1.0;
        table[count - 1] = 2.0;
        EXPECT_EQ(table[0] + table[count - 1], count == 1 ? 4.0 : 3.0);
    }
}

}  // namespace
