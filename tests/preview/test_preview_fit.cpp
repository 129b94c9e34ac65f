#include "core/preview/mul_div.h"
#include "core/preview/preview_fit.h"

#include <gtest/gtest.h>

#include <climits>

namespace lumiclip {
namespace {

TEST(PreviewFit, FitsIntoTheBoxKeepingProportionsWithTruncation) {
    struct Case {
        int w, h, fitW, fitH;
    };
    const Case cases[] = {
        {1024, 768, 300, 225}, {1600, 1200, 300, 225}, {250, 1000, 75, 300}, {400, 100, 300, 75},
        {200, 100, 200, 100},  {700, 301, 300, 129},   {1000, 3, 300, 0},    {3, 1000, 0, 300},
        {300, 300, 300, 300},  {301, 300, 300, 299},   {1000, 0, 300, 0},    {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitPreviewSize(c.w, c.h), QSize(c.fitW, c.fitH)) << c.w << "x" << c.h;
    }
}

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(-2, 1, 3), -1);
    EXPECT_EQ(MulDiv(5, 1, -2), -3);
    EXPECT_EQ(MulDiv(-5, -1, -2), -3);
    EXPECT_EQ(MulDiv(1024, 2540, 96), 27093);
    EXPECT_EQ(MulDiv(27093, 120, 2540), 1280);
}

TEST(MulDiv, UsesAWideProductAndReportsOverflowAndZeroDivisor) {
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
    EXPECT_EQ(MulDiv(100000, 100000, 1000), 10000000);
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(7, 3, 0), -1);
}

}  // namespace
}  // namespace lumiclip
