#include <gtest/gtest.h>

#include <cstring>

#include "EdidTestSupport.h"
#include "edid/DetailedTiming.h"

namespace
{
CDetailedTiming Decode(const std::vector<uint8_t>& raDescriptor)
{
    CDetailedTiming::SDetailedRaw oRaw;
    memcpy(&oRaw, raDescriptor.data(), sizeof(oRaw));
    CDetailedTiming oTiming;
    oTiming.SetTiming(oRaw);
    return oTiming;
}
} // namespace

TEST(DetailedTiming, Decodes1080p60Descriptor)
{
    // The CTA 1080p60 descriptor as monitors store it.
    const CDetailedTiming oTiming =
        Decode({0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x0F, 0x28, 0x21, 0x00, 0x00, 0x1E});
    EXPECT_EQ(1920, oTiming.GetHorizontalActive());
    EXPECT_EQ(1080, oTiming.GetVerticalActive());
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    EXPECT_EQ(88, oTiming.GetHorizontalFrontPorch());
    EXPECT_EQ(44, oTiming.GetHorizontalSync());
    EXPECT_EQ(148, oTiming.GetHorizontalBackPorch());
    EXPECT_EQ(4, oTiming.GetVerticalFrontPorch());
    EXPECT_EQ(5, oTiming.GetVerticalSync());
    EXPECT_EQ(36, oTiming.GetVerticalBackPorch());
    EXPECT_EQ(67500, oTiming.GetHorizontalRate());
    EXPECT_EQ(60, oTiming.GetVerticalRate());
    EXPECT_TRUE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_TRUE(oTiming.IsVerticalPolarityPositive());
    EXPECT_FALSE(oTiming.IsInterlaced());
    EXPECT_FALSE(oTiming.IsOverscan());
}

TEST(DetailedTiming, MonitorDescriptorAndZeroSizesLeaveRecordCleared)
{
    CDetailedTiming oTiming = Decode(MakeTextDescriptor(0xFC, "ABC 2410"));
    EXPECT_EQ(CDetailedTiming(), oTiming);

    // A stale record is cleared too.
    oTiming.SetPixelClock(1);
    CDetailedTiming::SDetailed oDetailed = {};
    oDetailed.uiPixelClock = 14850;
    oDetailed.uiHActive = 1920;  // no vertical size
    oTiming.SetDetailed(oDetailed);
    EXPECT_EQ(CDetailedTiming(), oTiming);
}

TEST(DetailedTiming, PolarityOnlyForDigitalSeparateSync)
{
    SDescriptorFields oFields = {14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 0, 0, 0x1A};
    CDetailedTiming oTiming = Decode(MakeDescriptor(oFields));
    EXPECT_TRUE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsVerticalPolarityPositive());

    oFields.uiFlags = 0x18;
    oTiming = Decode(MakeDescriptor(oFields));
    EXPECT_FALSE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsVerticalPolarityPositive());

    // Analog composite with serration and sync on green: the same bits mean something else.
    oFields.uiFlags = 0x06;
    oTiming = Decode(MakeDescriptor(oFields));
    EXPECT_FALSE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsVerticalPolarityPositive());
    EXPECT_EQ(60, oTiming.GetVerticalRate());
}

TEST(DetailedTiming, InterlacedDescriptorGivesFieldRate)
{
    // 1080i60: 540 lines per field, blanking 22.5 stored as 22, 74.25 MHz.
    const CDetailedTiming oTiming = Decode(MakeDescriptor({7425, 1920, 280, 540, 22, 88, 44, 2, 5, 0, 0, 0x9E}));
    EXPECT_TRUE(oTiming.IsInterlaced());
    EXPECT_EQ(540, oTiming.GetVerticalActive());
    EXPECT_EQ(60, oTiming.GetVerticalRate());
    EXPECT_EQ(33750, oTiming.GetHorizontalRate());
}

TEST(DetailedTiming, BordersGoToOverscanFieldsOnly)
{
    const CDetailedTiming oPlain = Decode(MakeDescriptor({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 0, 0, 0x1E}));
    const CDetailedTiming oBordered = Decode(MakeDescriptor({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 8, 6, 0x1E}));
    EXPECT_EQ(8, oBordered.GetHorizontalOverscan());
    EXPECT_EQ(6, oBordered.GetVerticalOverscan());
    EXPECT_EQ(oPlain.GetHorizontalBackPorch(), oBordered.GetHorizontalBackPorch());
    EXPECT_EQ(oPlain.GetVerticalBackPorch(), oBordered.GetVerticalBackPorch());
    EXPECT_EQ(oPlain.GetHorizontalRate(), oBordered.GetHorizontalRate());
    EXPECT_EQ(oPlain.GetVerticalRate(), oBordered.GetVerticalRate());
    EXPECT_FALSE(oBordered.IsOverscan());
}

TEST(DetailedTiming, RatesOfFastClocksDoNotOverflow)
{
    // 3840x2160 at 60 Hz with 594 MHz: pixel clock x 10000 is beyond 32 bits.
    CDetailedTiming oTiming = Decode(MakeDescriptor({59400, 3840, 560, 2160, 90, 176, 88, 8, 10, 0, 0, 0x1E}));
    EXPECT_EQ(594000, oTiming.GetPixelClock());
    EXPECT_EQ(135000, oTiming.GetHorizontalRate());
    EXPECT_EQ(60, oTiming.GetVerticalRate());

    // The largest clock a descriptor holds, with the smallest totals.
    oTiming = Decode(MakeDescriptor({0xFFFF, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x1E}));
    EXPECT_EQ(655350, oTiming.GetPixelClock());
    EXPECT_EQ(655350000, oTiming.GetHorizontalRate());
    EXPECT_EQ(655350000, oTiming.GetVerticalRate());
}

TEST(DetailedTiming, WholeRecordCopies)
{
    const CDetailedTiming oSource = Decode(MakeDescriptor({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 2, 2, 0x1E}));
    CDetailedTiming::SDetailedTiming oRecord;
    oSource.GetTiming(oRecord);
    CDetailedTiming oCopy;
    oCopy.SetTiming(oRecord);
    EXPECT_EQ(oSource, oCopy);
    CDetailedTiming oOther;
    oCopy.GetTiming(oOther);
    EXPECT_EQ(oSource, oOther);
    oOther.SetVerticalRefresh(61u);
    EXPECT_NE(oSource, oOther);
    oOther.Clear();
    EXPECT_EQ(CDetailedTiming(), oOther);
}
