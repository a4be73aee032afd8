// The host's exp: the stored hard cases on every machine, and the lane
// kernels bit for bit against the scalar function.
#include "codegen/lanes/rowLanes.h"
#include "orvane/scalar_math.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

uint64_t bitsOf(double x) {
    uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

struct HardCase {
    double x, expected;
};

std::vector<HardCase> readHardCases() {
    std::ifstream in(FAZOLT_SOURCE_DIR "/tests/data/exp_hard_cases.txt");
    std::vector<HardCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string x, y;
        fields >> x >> y;
        cases.push_back({std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr)});
    }
    return cases;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(Exp, GivesTheStoredBitsOfTheHardCases) {
    const std::vector<HardCase> cases = readHardCases();
    ASSERT_GT(cases.size(), 300u);
    for (const HardCase &c : cases) {
        // quvExp may take the processor's fma; quvExpC99 here is built for
        // any x86-64 and takes the C library's.
        EXPECT_EQ(bitsOf(quvExp(c.x)), bitsOf(c.expected)) << std::hexfloat << c.x;
        EXPECT_EQ(bitsOf(quvExpC99(c.x)), bitsOf(c.expected)) << std::hexfloat << c.x;
    }
    for (double x : {0.0, -0.0}) EXPECT_EQ(bitsOf(quvExp(x)), bitsOf(1.0));
    EXPECT_EQ(bitsOf(quvExp(kInf)), bitsOf(kInf));
    EXPECT_EQ(bitsOf(quvExp(-kInf)), bitsOf(0.0));
    for (double x : {kNaN, -kNaN}) EXPECT_EQ(bitsOf(quvExp(x)), bitsOf(x));
}

#if defined(__x86_64__)
TEST(Exp, LanesGiveTheScalarBits) {
    std::vector<double> xs = {0.0,   -0.0,  kInf,  -kInf,  kNaN,   -kNaN,  0x1p-1074, -0x1p-1022, 1e-300, 512.0, -512.0,
                              709.9, 710.0, 710.5, -745.5, -746.0, -746.5, 1023.9,    -1023.9,    1e300,  -1e300};
    for (const HardCase &c : readHardCases()) xs.push_back(c.x);
    std::mt19937_64 random(35);
    std::uniform_real_distribution<double> wide(-760.0, 720.0), narrow(-40.0, 40.0);
    for (int i = 0; i < 30000; ++i) {
        const uint64_t u = random();
        double arbitrary;
        std::memcpy(&arbitrary, &u, sizeof arbitrary);
        xs.insert(xs.end(), {arbitrary, wide(random), narrow(random)});
    }
    while (xs.size() % 8 != 0) xs.push_back(1.0);
    const auto n = static_cast<int32_t>(xs.size());
    std::vector<double> y(xs.size());
    auto check = [&](const char *level) {
        for (size_t i = 0; i < xs.size(); ++i)
            ASSERT_EQ(bitsOf(y[i]), bitsOf(quvExp(xs[i]))) << level << ' ' << std::hexfloat << xs[i];
    };
    const LaneLevel supported = supportedLaneLevel();
    if (supported == LaneLevel::Scalar) GTEST_SKIP() << "no lanes on this processor";
    expRowsAvx2(xs.data(), n, y.data());
    check("avx2");
    if (supported != LaneLevel::Avx512) return;
    expRowsAvx512(xs.data(), n, y.data());
    check("avx512");
}
#endif

}  // namespace
