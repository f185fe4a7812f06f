#include <gtest/gtest.h>

#include "base-omx.h"

TEST(PixelFormat, ValuesAreTheColourFormatCodes)
{
    EXPECT_EQ(25u, static_cast<MUINT32>(OmxPixFmt_YUV422));
    EXPECT_EQ(21u, static_cast<MUINT32>(OmxPixFmt_YUV420));
    EXPECT_EQ(11u, static_cast<MUINT32>(OmxPixFmt_RGB888));
}

TEST(PixelFormat, PitchAndBufferSizeOfEachFormat)
{
    EXPECT_EQ(3840u, GetPitch(1920, OmxPixFmt_YUV422));
    EXPECT_EQ(1920u, GetPitch(1920, OmxPixFmt_YUV420));
    EXPECT_EQ(5760u, GetPitch(1920, OmxPixFmt_RGB888));
    const tagMSIZE32 oFullHd{1920, 1080};
    EXPECT_EQ(4147200u, GetBufferSize(oFullHd, OmxPixFmt_YUV422));
    EXPECT_EQ(3110400u, GetBufferSize(oFullHd, OmxPixFmt_YUV420));
    EXPECT_EQ(6220800u, GetBufferSize(oFullHd, OmxPixFmt_RGB888));
    EXPECT_EQ(13u, GetBufferSize({3, 3}, OmxPixFmt_YUV420));  // 27 / 2, truncated
}

TEST(PixelFormat, AnyOtherValueGivesZero)
{
    for (MUINT32 uiValue : {0u, 10u, 12u, 20u, 22u, 24u, 26u, 0x7F000000u})
    {
        const auto eFormat = static_cast<OmxPixelFormat>(uiValue);
        EXPECT_EQ(0u, GetPitch(1920, eFormat)) << uiValue;
        EXPECT_EQ(0u, GetBufferSize({1920, 1080}, eFormat)) << uiValue;
    }
}
