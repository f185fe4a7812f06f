#include <gtest/gtest.h>

#include "ti814x-framework.h"

TEST(FitRectangle, KeepsAspectAndCentresOnEvenCoordinates)
{
    tagMRECT32 oRect{};
    ASSERT_TRUE(FitRectangle({720, 480}, {1920, 1080}, true, false, oRect));
    EXPECT_EQ(1620u, oRect.m_oSize.m_uiCx);
    EXPECT_EQ(1080u, oRect.m_oSize.m_uiCy);
    EXPECT_EQ(150, oRect.m_oPos.m_iX);
    EXPECT_EQ(0, oRect.m_oPos.m_iY);
}
