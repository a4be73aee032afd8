// Growth, borrowing and release of the dynamic array record.
#include <gtest/gtest.h>

#include <orvane/host.h>

#include "model/dynArray.h"
#include "model/systemRecord.h"

namespace {

struct LiveBlocks {
    int64_t before = orvane::allocStats().liveBlocks;
    int64_t delta() const { return orvane::allocStats().liveBlocks - before; }
};

TEST(DynArrayGrowth, CapacityStartsAt16AndDoubles) {
    LiveBlocks live;
    DynArray<double> *a = nullptr;
    initArray(&a, 2);
    EXPECT_EQ(a->data, nullptr);
    EXPECT_EQ(a->allocatedSize, 0);
    EXPECT_TRUE(a->canFreeData);

    struct Step {
        int32_t rows, cols, capacity;
    } steps[] = {{1, 1, 16}, {1, 16, 16}, {1, 17, 32}, {3, 11, 64}, {2, 3, 64}};
    for (const Step &s : steps) {
        resize2D(a, s.rows, s.cols);
        EXPECT_EQ(a->allocatedSize, s.capacity) << s.rows << "x" << s.cols;
    }
    releaseArray(&a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(live.delta(), 0);
}

TEST(DynArrayGrowth, FreshElementsReadZeroAndKeptElementsSurvive) {
    DynArray<double> *a = nullptr;
    initArray(&a, 1);
    resize1D(a, 100);
    EXPECT_EQ(a->allocatedSize, 128);
    for (int32_t k = 0; k < 100; ++k) a->data[k] = k + 0.5;
    resize1D(a, 3);  // shrinking rewrites the extent only
    EXPECT_EQ(a->allocatedSize, 128);
    resize1D(a, 200);
    EXPECT_EQ(a->allocatedSize, 256);
    EXPECT_EQ(a->data[2], 2.5);
    EXPECT_EQ(a->data[3], 0.0);  // past oldNumel: the new block's zero, not the old value
    releaseArray(&a);
}

TEST(DynArrayGrowth, NegativeOldCountCopiesNothing) {
    DynArray<double> *a = nullptr;
    initArray(&a, 1);
    resize1D(a, 4);
    a->data[0] = 7.0;
    a->size[0] = 40;
    ensureCapacity(a, -5);
    EXPECT_EQ(a->allocatedSize, 64);
    EXPECT_EQ(a->data[0], 0.0);
    releaseArray(&a);
}

TEST(DynArrayBorrowing, GrowingABorrowedArrayCopiesAndLeavesTheLenderAlone) {
    LiveBlocks live;
    double lender[3] = {1.0, 2.0, 3.0};
    DynArray<double> *a = nullptr;
    initArray(&a, 2);
    a->size[0] = 1;
    a->size[1] = 3;
    a->data = lender;
    a->allocatedSize = 3;
    a->canFreeData = false;

    resize2D(a, 1, 5);
    EXPECT_NE(a->data, lender);
    EXPECT_TRUE(a->canFreeData);
    EXPECT_EQ(a->allocatedSize, 16);
    EXPECT_EQ(a->data[2], 3.0);
    EXPECT_EQ(a->data[4], 0.0);
    EXPECT_EQ(lender[0], 1.0);
    releaseArray(&a);
    EXPECT_EQ(live.delta(), 0);
}

TEST(DynArrayRelease, NullAndNotOwnedBlocks) {
    LiveBlocks live;
    DynArray<double> *none = nullptr;
    releaseArray(&none);  // nothing to do

    double block[2] = {1.0, 2.0};
    DynArray<double> *a = nullptr;
    initArray(&a, 2);
    a->data = block;
    a->canFreeData = false;
    releaseArray(&a);  // frees the record and the extents only
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(live.delta(), 0);
}

TEST(DynArrayRecords, ShrinkingReleasesNestedArraysAndGrowingMakesThemEmpty) {
    LiveBlocks live;
    DynArray<VariableRecord> *vars = nullptr;
    initArray(&vars, 2);
    resize2D(vars, 1, 3);
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_NE(vars->data[i].mf, nullptr);
        resize2D(vars->data[i].mf, 1, 2);
        resize2D(vars->data[i].mf->data[1].params, 1, 4);
        vars->data[i].origNumMF = 10 + i;
    }
    int64_t withThree = orvane::allocStats().liveBlocks;

    resize2D(vars, 1, 1);
    EXPECT_EQ(vars->allocatedSize, 16);
    EXPECT_EQ(vars->data[1].mf, nullptr);
    EXPECT_LT(orvane::allocStats().liveBlocks, withThree);

    resize2D(vars, 1, 2);
    ASSERT_NE(vars->data[1].mf, nullptr);
    EXPECT_EQ(numel(vars->data[1].mf), 0);
    EXPECT_EQ(vars->data[1].origNumMF, 11);  // integer fields keep what the block held

    releaseArray(&vars);
    EXPECT_EQ(live.delta(), 0);
}

TEST(DynArrayCopy, CopiesExtentsAndElements) {
    DynArray<uint8_t> *source = nullptr;
    DynArray<uint8_t> *destination = nullptr;
    initArray(&source, 2);
    initArray(&destination, 2);
    resize2D(source, 1, 7);
    std::memcpy(source->data, "mamdani", 7);
    copyArray(destination, source);
    EXPECT_TRUE(nameIs(destination, "mamdani"));
    EXPECT_FALSE(nameIs(destination, "mamdan"));
    releaseArray(&source);
    releaseArray(&destination);
}

TEST(SystemRecordLifecycle, InitAndReleaseLeaveNothing) {
    LiveBlocks live;
    SystemRecord fis;
    initSystemRecord(nullptr, &fis);
    resize2D(fis.inputMF, 1, 2);
    resize2D(fis.inputMF->data[0].mf, 1, 3);
    resize2D(fis.inputMF->data[0].mf->data[2].type, 1, 5);
    resize1D(fis.weight, 4);
    EXPECT_EQ(fis.weight->numDimensions, 1);
    releaseSystemRecord(&fis);
    EXPECT_EQ(fis.inputMF, nullptr);
    EXPECT_EQ(live.delta(), 0);
}

}  // namespace
