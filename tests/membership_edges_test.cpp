// Built-in membership functions at their edges: break points, NaN, infinities,
// signed zeros and degenerate parameters, and the row form against the point
// form bit for bit.
#include <gtest/gtest.h>
#include <orvane/host.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "membership/membershipFunctions.h"
#include "tests/membership_forms.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// NaN matches any NaN; everything else compares by bits, so -0.0 != 0.0.
bool sameValue(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

class MembershipEdges : public ::testing::Test {
protected:
    void SetUp() override { liveBlocks = orvane::allocStats().liveBlocks; }
    void TearDown() override {
        EXPECT_EQ(orvane::allocStats().liveBlocks, liveBlocks);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
    int64_t liveBlocks = 0;
};

struct EdgeRow {
    int line;
    const char *name;
    ScalarFn fn;
    double p[4];
    double x;
    double expected;
};

#define ROW(fn, p0, p1, p2, p3, x, y) \
    { __LINE__, #fn, fn, {p0, p1, p2, p3}, x, y }

const EdgeRow kEdgeRows[] = {
    // trimf: open sides, apex by equality, reciprocal then product.
    ROW(trimf, 0, 5, 10, 0, 0.0, 0.0),
    ROW(trimf, 0, 5, 10, 0, 10.0, 0.0),
    ROW(trimf, 0, 5, 10, 0, 5.0, 1.0),
    ROW(trimf, 0, 5, 10, 0, 2.5, 0.5),
    ROW(trimf, 0, 5, 10, 0, 1.0, 0x1.999999999999ap-3),
    ROW(trimf, 0, 10, 30, 0, 3.0, 0x1.3333333333334p-2),    // 3/10 would be ...333p-2
    ROW(trimf, 0, 98, 200, 0, 49.0, 0x1.fffffffffffffp-2),  // 49/98 would be 0.5
    ROW(trimf, 0, 5, 10, 0, kNaN, 0.0),
    ROW(trimf, 0, 5, 10, 0, kInf, 0.0),
    ROW(trimf, 0, 5, 10, 0, -kInf, 0.0),
    ROW(trimf, 2, 2, 2, 0, 2.0, 1.0),
    ROW(trimf, 2, 2, 2, 0, 0x1.fffffffffffffp+0, 0.0),
    ROW(trimf, 2, 2, 2, 0, 0x1.0000000000001p+1, 0.0),
    ROW(trimf, 0, 0, 10, 0, 0.0, 1.0),  // zero-width left side is never divided by
    ROW(trimf, 0, 0, 10, 0, 5.0, 0.5),
    ROW(trimf, 0, 10, 10, 0, 10.0, 1.0),
    ROW(trimf, 0, 0, 10, 0, -0.0, 1.0),
    ROW(trimf, 10, 5, 0, 0, 7.0, 0.0),  // disordered: only the apex survives
    ROW(trimf, 10, 5, 0, 0, 5.0, 1.0),
    ROW(trimf, 0, kNaN, 10, 0, 5.0, 0.0),

    // trapmf: rising ramp closed at a, open at b; falling open at c, closed at d.
    ROW(trapmf, 0, 0, 5, 5, -1.0, 0.0),
    ROW(trapmf, 0, 0, 5, 5, 0.0, 1.0),
    ROW(trapmf, 0, 0, 5, 5, -0.0, 1.0),
    ROW(trapmf, 0, 0, 5, 5, 2.5, 1.0),
    ROW(trapmf, 0, 0, 5, 5, 5.0, 1.0),
    ROW(trapmf, 0, 0, 5, 5, 0x1.4000000000001p+2, 0.0),
    ROW(trapmf, 0, 0, 5, 5, -0x1p-1074, 0.0),
    ROW(trapmf, 0, 0, 5, 5, kNaN, 0.0),
    ROW(trapmf, 0, 0, 5, 5, kInf, 0.0),
    ROW(trapmf, 0, 0, 5, 5, -kInf, 0.0),
    ROW(trapmf, 0, 2, 4, 6, 0.0, 0.0),
    ROW(trapmf, 0, 2, 4, 6, 1.0, 0.5),
    ROW(trapmf, 0, 2, 4, 6, 2.0, 1.0),
    ROW(trapmf, 0, 2, 4, 6, 5.0, 0.5),
    ROW(trapmf, 0, 2, 4, 6, 6.0, 0.0),
    ROW(trapmf, 0, 6, 2, 4, 3.0, 0.5),                   // crossed shoulders: the top stays below 1
    ROW(trapmf, 0, 6, 2, 4, 2.5, 0x1.aaaaaaaaaaaaap-2),  // 2.5/6 would be ...aabp-2
    ROW(trapmf, kNaN, 2, 4, 6, 1.0, 0.0),

    // gaussmf: the quotient n/s as it stands; sigma = 0 gives -0/0 at the centre.
    ROW(gaussmf, 1, 0, 0, 0, 0.0, 1.0),
    ROW(gaussmf, 1, 0, 0, 0, 1.0, 0x1.368b2fc6f960ap-1),
    ROW(gaussmf, -1, 0, 0, 0, -1.0, 0x1.368b2fc6f960ap-1),
    ROW(gaussmf, 1, 0, 0, 0, 3.0, 0x1.6c0504695c417p-7),
    ROW(gaussmf, 3, 0, 0, 0, 7.0, 0x1.0d395b8d27b9ap-4),  // n * (1/s) would be ...b9cp-4
    ROW(gaussmf, 0, 3, 0, 0, 3.0, kNaN),
    ROW(gaussmf, 0, 3, 0, 0, 4.0, 0.0),
    ROW(gaussmf, 0, 3, 0, 0, 2.0, 0.0),
    ROW(gaussmf, 2, 0, 0, 0, kInf, 0.0),
    ROW(gaussmf, 2, 0, 0, 0, -kInf, 0.0),
    ROW(gaussmf, 2, 0, 0, 0, kNaN, kNaN),
    ROW(gaussmf, kInf, 0, 0, 0, 1.0, 1.0),
    ROW(gaussmf, kInf, 0, 0, 0, kInf, kNaN),

    // gbellmf: at the centre b = 0 gives 0.5 and b < 0 gives 0 without pow.
    ROW(gbellmf, 2, 4, 6, 0, 6.0, 1.0),
    ROW(gbellmf, 2, 4, 6, 0, 8.0, 0.5),
    ROW(gbellmf, 2, 4, 6, 0, 4.0, 0.5),
    ROW(gbellmf, 2, 4, 6, 0, 10.0, 0x1.fe01fe01fe020p-9),
    ROW(gbellmf, 2, 4, 6, 0, kInf, 0.0),
    ROW(gbellmf, 2, 4, 6, 0, -kInf, 0.0),
    ROW(gbellmf, 2, 4, 6, 0, kNaN, kNaN),
    ROW(gbellmf, 2, 0, 6, 0, 6.0, 0.5),
    ROW(gbellmf, 2, 0, 6, 0, 100.0, 0.5),
    ROW(gbellmf, 2, 0, 6, 0, kNaN, 0.5),  // pow(NaN, 0) is 1
    ROW(gbellmf, 2, -1, 6, 0, 6.0, 0.0),
    ROW(gbellmf, 2, -1, 6, 0, 8.0, 0.5),
    ROW(gbellmf, 2, kNaN, 6, 0, 6.0, kNaN),
    ROW(gbellmf, 0, 2, 6, 0, 6.0, kNaN),  // 0 * (1/0)
    ROW(gbellmf, 0, 2, 6, 0, 7.0, 0.0),
    ROW(gbellmf, 10, 1, 0, 0, 3.0, 0x1.d5b98a919d5b9p-1),

    // sigmf: slope 0 is flat at 0.5 for every finite x.
    ROW(sigmf, 0, 5, 0, 0, 3.0, 0.5),
    ROW(sigmf, 0, 5, 0, 0, -1e300, 0.5),
    ROW(sigmf, 0, 5, 0, 0, kInf, kNaN),
    ROW(sigmf, 2, 0, 0, 0, 0.0, 0.5),
    ROW(sigmf, 2, 0, 0, 0, 1.0, 0x1.c2f7d5a8a79c9p-1),
    ROW(sigmf, 2, 0, 0, 0, kInf, 1.0),
    ROW(sigmf, 2, 0, 0, 0, -kInf, 0.0),
    ROW(sigmf, 1, 0, 0, 0, -800.0, 0.0),
    ROW(sigmf, 1, 0, 0, 0, 800.0, 1.0),
    ROW(sigmf, 2, 0, 0, 0, kNaN, kNaN),

    // smf: 0 up to a, 1 from b; a step at the midpoint when a >= b.
    ROW(smf, 0, 1, 0, 0, 0.0, 0.0),
    ROW(smf, 0, 1, 0, 0, 0.25, 0.125),
    ROW(smf, 0, 1, 0, 0, 0.5, 0.5),
    ROW(smf, 0, 1, 0, 0, 0.75, 0.875),
    ROW(smf, 0, 1, 0, 0, 1.0, 1.0),
    ROW(smf, 0, 1, 0, 0, kInf, 1.0),
    ROW(smf, 0, 1, 0, 0, -kInf, 0.0),
    ROW(smf, 0, 1, 0, 0, kNaN, 0.0),
    ROW(smf, 0, 3, 0, 0, 1.0, 0x1.c71c71c71c71cp-3),
    ROW(smf, 0, 3, 0, 0, 2.0, 0x1.8e38e38e38e39p-1),
    ROW(smf, 0, 10, 0, 0, 3.0, 0x1.70a3d70a3d70cp-3),  // with 3/10: ...70ap-3
    ROW(smf, 2, 2, 0, 0, 2.0, 1.0),
    ROW(smf, 2, 2, 0, 0, 0x1.fffffffffffffp+0, 0.0),
    ROW(smf, 2, 2, 0, 0, kNaN, 0.0),
    ROW(smf, 3, 1, 0, 0, 2.0, 1.0),
    ROW(smf, 3, 1, 0, 0, 0x1.fffffffffffffp+0, 0.0),
    ROW(smf, kNaN, 1, 0, 0, 0.5, 0.0),

    // zmf: 1 up to a, 0 from b; recip(a - b) rounds like recip(b - a).
    ROW(zmf, 0, 1, 0, 0, 0.0, 1.0),
    ROW(zmf, 0, 1, 0, 0, 0.25, 0.875),
    ROW(zmf, 0, 1, 0, 0, 0.5, 0.5),
    ROW(zmf, 0, 1, 0, 0, 0.75, 0.125),
    ROW(zmf, 0, 1, 0, 0, 1.0, 0.0),
    ROW(zmf, 0, 1, 0, 0, kInf, 0.0),
    ROW(zmf, 0, 1, 0, 0, -kInf, 1.0),
    ROW(zmf, 0, 1, 0, 0, kNaN, 0.0),
    ROW(zmf, 0, 3, 0, 0, 1.0, 0x1.8e38e38e38e39p-1),
    ROW(zmf, 0, 3, 0, 0, 2.0, 0x1.c71c71c71c71cp-3),
    ROW(zmf, 0, 10, 0, 0, 3.0, 0x1.a3d70a3d70a3dp-1),  // with 3/-10: ...a3ep-1
    ROW(zmf, 2, 2, 0, 0, 2.0, 1.0),
    ROW(zmf, 2, 2, 0, 0, 0x1.0000000000001p+1, 0.0),
    ROW(zmf, 2, 2, 0, 0, kNaN, 0.0),
    ROW(zmf, 3, 1, 0, 0, 2.0, 1.0),

    // gauss2mf: both Gaussians always evaluated, so a NaN one spoils all.
    ROW(gauss2mf, 1, 0, 1, 5, 2.5, 1.0),
    ROW(gauss2mf, 1, 0, 1, 5, 0.0, 1.0),
    ROW(gauss2mf, 1, 0, 1, 5, 5.0, 1.0),
    ROW(gauss2mf, 1, 0, 1, 5, -1.0, 0x1.368b2fc6f960ap-1),
    ROW(gauss2mf, 1, 0, 1, 5, 6.0, 0x1.368b2fc6f960ap-1),
    ROW(gauss2mf, 1, 0, 1, 5, kInf, 0.0),
    ROW(gauss2mf, 1, 0, 1, 5, -kInf, 0.0),
    ROW(gauss2mf, 1, 0, 1, 5, kNaN, kNaN),
    ROW(gauss2mf, 0, 0, 1, 5, 0.0, kNaN),
    ROW(gauss2mf, 0, 0, 1, 5, 2.0, 1.0),
    ROW(gauss2mf, 0, 0, 1, 5, -1.0, 0.0),
    ROW(gauss2mf, kNaN, 0, 1, 5, 2.0, kNaN),
    ROW(gauss2mf, 1, 5, 1, 0, 2.5, 0x1.fa0e9586aebc8p-10),  // crossed centres

    // dsigmf, psigmf: two sigmoids combined.
    ROW(dsigmf, 5, 2, 5, 7, 4.5, 0x1.ffff05e8d3192p-1),
    ROW(dsigmf, 5, 2, 5, 7, kInf, 0.0),
    ROW(dsigmf, 5, 2, 5, 7, -kInf, 0.0),
    ROW(dsigmf, 5, 2, 5, 7, kNaN, kNaN),
    ROW(dsigmf, 1, 0, 1, 0, 3.0, 0.0),
    ROW(dsigmf, 1, 0, 1, 0, -3.0, 0.0),
    ROW(psigmf, 2, 3, -2, 7, 5.0, 0x1.edbf6cddc71c1p-1),
    ROW(psigmf, 2, 3, -2, 7, kInf, 0.0),
    ROW(psigmf, 2, 3, -2, 7, kNaN, kNaN),

    // pimf: smf (a, b) times zmf (c, d), step cases included.
    ROW(pimf, 0, 1, 2, 3, 1.5, 1.0),
    ROW(pimf, 0, 1, 2, 3, 0.5, 0.5),
    ROW(pimf, 0, 1, 2, 3, 2.5, 0.5),
    ROW(pimf, 0, 1, 2, 3, -1.0, 0.0),
    ROW(pimf, 0, 1, 2, 3, 4.0, 0.0),
    ROW(pimf, 0, 1, 2, 3, kNaN, 0.0),
    ROW(pimf, 2, 2, 5, 5, 2.0, 1.0),
    ROW(pimf, 2, 2, 5, 5, 5.0, 1.0),
    ROW(pimf, 2, 2, 5, 5, 0x1.4000000000001p+2, 0.0),
    ROW(pimf, 0, 4, 1, 3, 2.0, 0.25),
};

#undef ROW

TEST_F(MembershipEdges, PointValues) {
    for (const EdgeRow &row : kEdgeRows) {
        const double y = row.fn(row.x, row.p);
        EXPECT_TRUE(sameValue(y, row.expected)) << "row at line " << row.line << ": " << row.name << " at " << row.x
                                                << " gave " << std::hexfloat << y << ", expected " << row.expected;
    }
}

// ---- Row form against point form.

// Ordinary and degenerate parameter sets; every function reads the first
// two, three or four of each.
const std::vector<std::vector<double>> kParamSets = {
    {0, 5, 10, 15},
    {-3, 0.5, 2, 7},
    {0, 0, 5, 5},
    {2, 2, 2, 2},
    {10, 5, 0, -5},
    {0, 6, 2, 4},
    {1, 0, 1, 0},
    {0, 3, 0, 3},
    {0.1, -1, 3, 1e-3},
    {-2, 1, -2, 4},
    {0, 98, 200, 300},
    {1e-300, 1e-300, 2e-300, 3e-300},
    {1e300, -1e300, 1e300, 1e301},
    {kNaN, 1, 2, 3},
    {0, kNaN, 2, 3},
    {0, 1, kNaN, 3},
    {0, 1, 2, kNaN},
    {-kInf, 0, kInf, 1},
    {kInf, 0, 1, kInf},
    {-0.0, 0.0, -0.0, 0.0},
    {3, 0.5, -1, 0.5},
};

std::vector<double> gridFor(const std::vector<double> &p) {
    std::vector<double> xs = {kNaN,
                              -kInf,
                              kInf,
                              0.0,
                              -0.0,
                              0x1p-1074,
                              -0x1p-1074,
                              std::numeric_limits<double>::max(),
                              -std::numeric_limits<double>::max()};
    for (size_t i = 0; i < p.size(); ++i) {
        xs.push_back(p[i]);
        xs.push_back(std::nextafter(p[i], kInf));
        xs.push_back(std::nextafter(p[i], -kInf));
        for (size_t j = i + 1; j < p.size(); ++j) {
            xs.push_back((p[i] + p[j]) / 2.0);
            xs.push_back(std::nextafter((p[i] + p[j]) / 2.0, kInf));
            xs.push_back(std::nextafter((p[i] + p[j]) / 2.0, -kInf));
        }
    }
    for (int k = 0; k <= 200; ++k) xs.push_back(-20.0 + 0.2 * k);
    return xs;
}

TEST_F(MembershipEdges, RowFormMatchesPointFormBitForBit) {
    for (const FunctionForms &f : kForms) {
        for (const std::vector<double> &p : kParamSets) {
            const std::vector<double> grid = gridFor(p);
            std::vector<double> got;
            auto outcome = orvane::runInCall([&](zorbTLS *tls) {
                DynArray<double> *xs;
                DynArray<double> *out;
                initArray(&xs, 2);
                initArray(&out, 2);
                resize2D(xs, 1, static_cast<int32_t>(grid.size()));
                for (size_t k = 0; k < grid.size(); ++k) xs->data[k] = grid[k];
                resize2D(out, 3, 40);  // the previous extent must not survive
                f.vector(tls, xs, p.data(), out);
                EXPECT_EQ(out->size[0], 1);
                EXPECT_EQ(out->size[1], static_cast<int32_t>(grid.size()));
                got.assign(out->data, out->data + grid.size());
                releaseArray(&out);
                releaseArray(&xs);
            });
            ASSERT_FALSE(outcome.error.has_value());
            for (size_t k = 0; k < grid.size(); ++k) {
                const double expected = f.scalar(grid[k], p.data());
                EXPECT_EQ(std::bit_cast<uint64_t>(got[k]), std::bit_cast<uint64_t>(expected))
                    << f.name << " [" << p[0] << " " << p[1] << " " << p[2] << " " << p[3] << "] at " << std::hexfloat
                    << grid[k] << ": row " << got[k] << ", point " << expected;
            }
        }
    }
}

TEST_F(MembershipEdges, EmptyRowGivesOneByZero) {
    const double p[4] = {0, 1, 2, 3};
    for (const FunctionForms &f : kForms) {
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            DynArray<double> *xs;
            DynArray<double> *out;
            initArray(&xs, 2);
            initArray(&out, 2);
            resize2D(xs, 1, 0);
            resize2D(out, 1, 5);
            f.vector(tls, xs, p, out);
            EXPECT_EQ(out->size[0], 1) << f.name;
            EXPECT_EQ(out->size[1], 0) << f.name;
            releaseArray(&out);
            releaseArray(&xs);
        });
        ASSERT_FALSE(outcome.error.has_value());
    }
}

}  // namespace
