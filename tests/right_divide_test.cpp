// Right division of 1 by a column: an LU solve for one element, a pivoted
// least-squares solve with a rank test for more.
#include "numeric/rightDivideByColumn.h"

#include "test_systems.h"

#include <limits>

namespace {

using namespace testsys;

constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(RightDivideByColumn, SolvesOneRowAgainstTheColumn) {
    struct Case {
        std::vector<double> v, expected;
    } cases[] = {
        {{}, {}},
        {{4}, {0.25}},
        {{0}, {Inf}},  // a zero pivot is left to the division
        {{-0.0}, {-Inf}},
        {{-8}, {-0.125}},
        // Only the pivot, the entry of largest magnitude, is non-zero.
        {{0.5, 2, 1}, {0, 0.5, 0}},
        {{0.5, -4, 1}, {0, -0.25, 0}},
        {{3, 0}, {0x1.5555555555555p-2, 0}},
        // Rank 0: an all-zero column gives a zero row.
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.v));
        LeakCheck leaks;
        DynArray<double> *v = newArray<double>(1);
        DynArray<double> *R = newArray<double>(2);
        setVector(v, c.v);
        runClean([&](zorbTLS *tls) { rightDivideByColumn(tls, 1.0, v, R); });
        ASSERT_EQ(R->size[0], 1);
        ASSERT_EQ(R->size[1], static_cast<int32_t>(c.expected.size()));
        for (size_t k = 0; k < c.expected.size(); ++k) EXPECT_SAME_BITS(R->data[k], c.expected[k]);
        releaseArray(&R);
        releaseArray(&v);
        leaks.expectNone();
    }
}

}  // namespace
