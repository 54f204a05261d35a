#include "MyBase.h"

#include <gtest/gtest.h>

TEST(Round, HalvesGoToEvenAndOutOfRangeRaises) {
    for (auto [x, r] : {std::pair{0.5L, 0},
                        {1.5L, 2},
                        {2.5L, 2},
                        {-0.5L, 0},
                        {-1.5L, -2},
                        {2.4999L, 2},
                        {32767.5L, 32768}})
        EXPECT_EQ(Round(x), r) << double(x);
    EXPECT_THROW(Round(3e9L), EIntOverflow);
    EXPECT_THROW(Round(std::numeric_limits<Extended>::quiet_NaN()), EIntOverflow);
    EXPECT_EQ(Round64(3e9L), 3000000000LL);
}

TEST(Checked, OverflowRaises) {
    EXPECT_EQ(CheckedMul<int32_t>(65536, 32767), 2147418112);
    EXPECT_THROW(CheckedMul<int32_t>(65536, 32768), EIntOverflow);
    EXPECT_THROW(CheckedAdd<int32_t>(INT32_MAX, 1), EIntOverflow);
    EXPECT_THROW(CheckedSub<uint32_t>(0u, 1u), EIntOverflow);
    EXPECT_THROW((CheckedCast<int16_t>(40000)), EIntOverflow);
    EXPECT_EQ((CheckedCast<uint8_t>(255)), 255);
}
