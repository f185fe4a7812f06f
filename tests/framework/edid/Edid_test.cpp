#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "EdidReference.h"
#include "EdidTestSupport.h"
#include "edid/Edid.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"

namespace
{
const std::vector<uint8_t> k1080p = MakeDescriptor({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 0, 0, 0x1E});
const std::vector<uint8_t> k720p = MakeDescriptor({7425, 1280, 370, 720, 30, 110, 40, 5, 5, 0, 0, 0x1E});

std::vector<uint8_t> Patterned(size_t uiSize)
{
    std::vector<uint8_t> aBytes(uiSize);
    for (size_t i = 0; i < uiSize; i++)
        aBytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return aBytes;
}

// An EDID 2.0 block: vendor SAM, "ACME<TAB>PANEL 21<LF>", serial, a luminance table of two
// entries, one frequency range, two timing codes and one detailed timing (1080p), preferred.
std::vector<uint8_t> MakeEdid2()
{
    std::vector<uint8_t> aBlock(256, 0);
    aBlock[0] = 0x20;
    aBlock[1] = 0x4C;
    aBlock[2] = 0x2D;
    const char szProduct[] = "ACME\tPANEL 21\n";
    memcpy(&aBlock[8], szProduct, strlen(szProduct));
    const char szSerial[] = "SN12345\n";
    memcpy(&aBlock[40], szSerial, strlen(szSerial));
    aBlock[126] = 0x64;  // luminance table, one frequency range, preferred mode
    aBlock[127] = 0x11;  // one detailed timing, two timing codes
    const uint8_t auiSection[] = {
        0x02, 0x10, 0x20,                                // luminance: 2 entries
        12, 30, 7, 20, 0x39, 25, 44, 0x01,               // frequency range
        104, 0x00, 178, 60,                              // 1920 x 1080 at 60 Hz
        64, 0x40, 100, 50,                               // 1280 x 1280 interlaced at 50 Hz
    };
    memcpy(&aBlock[128], auiSection, sizeof(auiSection));
    std::copy(k1080p.begin(), k1080p.end(), aBlock.begin() + 128 + sizeof(auiSection));
    uint8_t uiSum = 0;
    for (size_t i = 0; i < 255; i++)
        uiSum = static_cast<uint8_t>(uiSum + aBlock[i]);
    aBlock[255] = static_cast<uint8_t>(0x100 - uiSum);
    return aBlock;
}
} // namespace

TEST(EdidRead, ParsesDriverDump)
{
    CPlatformRoot oRoot;
    const std::vector<uint8_t> aBlock = CEdid1Builder().SetDescriptor(0, k1080p).SetPreferred(true).Bytes();
    oRoot.WriteEdid(MakeDriverDump(aBlock));

    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    EXPECT_EQ(128u, poEdid->GetSize());
    std::vector<uint8_t> aCopy(128);
    EXPECT_EQ(128u, poEdid->GetEdidBuffer(aCopy.data(), 128));
    EXPECT_EQ(aBlock, aCopy);
    EXPECT_TRUE(poEdid->IsChecksumValid());

    // Each display has its own file.
    EXPECT_EQ(nullptr, CEdid::Read(1));
    oRoot.WriteEdid(MakeDriverDump(aBlock), 1);
    poEdid.reset(CEdid::Read(1));
    EXPECT_NE(nullptr, poEdid);
}

TEST(EdidRead, RefusesMalformedDumps)
{
    CPlatformRoot oRoot;
    const std::string oDump = MakeDriverDump(CEdid1Builder().Bytes());

    EXPECT_EQ(nullptr, CEdid::Read(0));  // no file
    oRoot.WriteEdid("");
    EXPECT_EQ(nullptr, CEdid::Read(0));

    std::string oShifted = oDump;
    oShifted.replace(0, 5, "0010:");  // the first line labelled 0010:
    oRoot.WriteEdid(oShifted);
    EXPECT_EQ(nullptr, CEdid::Read(0));

    oRoot.WriteEdid(oDump.substr(0, oDump.size() - 7));  // last line cut short
    EXPECT_EQ(nullptr, CEdid::Read(0));

    std::string oBadDigit = oDump;
    oBadDigit[6 + 3 * 5] = 'g';
    oRoot.WriteEdid(oBadDigit);
    EXPECT_EQ(nullptr, CEdid::Read(0));

    oRoot.WriteEdid("no dump here\n");
    EXPECT_EQ(nullptr, CEdid::Read(0));
}

TEST(EdidRead, StopsAtFirstMissingLabelAndCutsTo256Bytes)
{
    CPlatformRoot oRoot;
    // Lines 0000: to 0030: only: a 64-byte version-2 guess, zero-filled behind.
    const std::vector<uint8_t> aBytes = Patterned(640);
    std::string oDump = MakeDriverDump(aBytes);
    std::string oGap = oDump;
    oGap.replace(oGap.find("0040:"), 5, "0041:");
    oRoot.WriteEdid(oGap);
    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    std::vector<uint8_t> aCopy(256);
    ASSERT_EQ(256u, poEdid->GetEdidBuffer(aCopy.data(), 256));
    EXPECT_TRUE(std::equal(aBytes.begin(), aBytes.begin() + 64, aCopy.begin()));
    EXPECT_TRUE(std::all_of(aCopy.begin() + 64, aCopy.end(), [](uint8_t uiByte) { return uiByte == 0; }));

    // 640 bytes: the first 256 are kept, the rest is parsed and dropped.
    oRoot.WriteEdid(oDump);
    poEdid.reset(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    ASSERT_EQ(256u, poEdid->GetEdidBuffer(aCopy.data(), 256));
    EXPECT_TRUE(std::equal(aBytes.begin(), aBytes.begin() + 256, aCopy.begin()));

    // A bad byte past the first 256 still makes the dump malformed.
    oDump[oDump.find("0200:") + 6] = 'x';
    oRoot.WriteEdid(oDump);
    EXPECT_EQ(nullptr, CEdid::Read(0));
}

TEST(Edid, ClassifiesVersionSizeAndChecksum)
{
    const std::vector<uint8_t> aPatterned = Patterned(256);
    CEdid oOther(aPatterned.data(), 256);
    EXPECT_FALSE(oOther.IsVersion1Format());
    EXPECT_EQ(256u, oOther.GetSize());

    CEdid oEmpty(nullptr, 128);
    EXPECT_FALSE(oEmpty.IsVersion1Format());
    EXPECT_TRUE(oEmpty.IsChecksumValid());  // 256 zero bytes
    CEdid oNegative(aPatterned.data(), -5);
    EXPECT_EQ(0u, oNegative.GetVersion());

    // A base block and one extension block whose own checksum is wrong: only the base counts.
    std::vector<uint8_t> aTwoBlocks = CEdid1Builder(4).Set(126, 1).Bytes();
    aTwoBlocks.resize(256, 0x5A);
    CEdid oWithExtension(aTwoBlocks.data(), 256);
    EXPECT_TRUE(oWithExtension.IsVersion1Format());
    EXPECT_EQ(128u, oWithExtension.GetSize());
    EXPECT_TRUE(oWithExtension.IsChecksumValid());
    EXPECT_EQ(1u, oWithExtension.GetVersion());
    EXPECT_EQ(4u, oWithExtension.GetRevision());
    std::vector<uint8_t> aCopy(300, 0xEE);
    EXPECT_EQ(128u, oWithExtension.GetEdidBuffer(aCopy.data(), 300));
    EXPECT_EQ(0xEE, aCopy[128]);
    EXPECT_EQ(10u, oWithExtension.GetEdidBuffer(aCopy.data(), 10));
    EXPECT_EQ(0u, oWithExtension.GetEdidBuffer(nullptr, 10));
    EXPECT_EQ(0u, oWithExtension.GetEdidBuffer(aCopy.data(), 0));

    // A wrong checksum is reported, and the data is used all the same.
    std::vector<uint8_t> aBad = CEdid1Builder().SetDescriptor(0, k1080p).SetPreferred(true).Bytes();
    aBad[127] ^= 1;
    CEdid oBad(aBad.data(), 128);
    EXPECT_FALSE(oBad.IsChecksumValid());
    CDetailedTiming oPreferred;
    EXPECT_TRUE(oBad.GetPreferredMode(oPreferred));
    EXPECT_EQ(148500, oPreferred.GetPixelClock());
}

TEST(Edid, SizeFromDataReadsOnlyWholeChunksInsideBuffer)
{
    std::vector<uint8_t> aBytes = Patterned(384);
    EXPECT_EQ(384u, CEdid::GetEdidSizeFromData(384, aBytes.data()));
    std::fill(aBytes.begin() + 128, aBytes.begin() + 256, 0);
    EXPECT_EQ(128u, CEdid::GetEdidSizeFromData(384, aBytes.data()));
    EXPECT_EQ(0u, CEdid::GetEdidSizeFromData(0, aBytes.data()));
    EXPECT_EQ(0u, CEdid::GetEdidSizeFromData(384, nullptr));

    // 200 bytes on the heap: the partial second chunk is not looked at (the address sanitizer
    // would report a read past it) and does not count.
    std::unique_ptr<uint8_t[]> puiExact(new uint8_t[200]);
    memset(puiExact.get(), 0x11, 200);
    EXPECT_EQ(128u, CEdid::GetEdidSizeFromData(200, puiExact.get()));
    EXPECT_EQ(0u, CEdid::GetEdidSizeFromData(100, puiExact.get()));
}

TEST(Edid, ManufacturerIdAndName)
{
    char szText[64];
    CEdid oSamsung = CEdid1Builder().Set(8, 0x4C).Set(9, 0x2D).Build();
    EXPECT_EQ(3u, oSamsung.GetManufacturerID(szText, sizeof(szText)));
    EXPECT_STREQ("SAM", szText);
    EXPECT_EQ(7u, oSamsung.GetManufacturerName(szText, sizeof(szText)));
    EXPECT_STREQ("Samsung", szText);

    CEdid oDell = CEdid1Builder().Build();  // 0x10 0xAC
    EXPECT_EQ(3u, oDell.GetManufacturerID(szText, sizeof(szText)));
    EXPECT_STREQ("DEL", szText);
    EXPECT_EQ(19u, oDell.GetManufacturerName(szText, sizeof(szText)));
    EXPECT_STREQ("Dell Computer Corp.", szText);
    EXPECT_EQ(0u, oDell.GetManufacturerID(szText, 3));
    EXPECT_EQ(0u, oDell.GetManufacturerID(nullptr, 4));
    memset(szText, 'x', sizeof(szText));
    EXPECT_EQ(4u, oDell.GetManufacturerName(szText, 4));  // cut to the buffer
    EXPECT_EQ("Dell", std::string(szText, 4));
    EXPECT_EQ('x', szText[4]);
    EXPECT_EQ(0u, oDell.GetManufacturerName(nullptr, 4));

    // The second PHL and NEC entries never win.
    CEdid oNec = CEdid1Builder().Set(8, 0x38).Set(9, 0xA3).Build();
    EXPECT_EQ(3u, oNec.GetManufacturerName(szText, sizeof(szText)));
    EXPECT_STREQ("NEC", szText);

    CEdid oUnknown = CEdid1Builder().Set(8, 0x6B).Set(9, 0x5A).Build();  // ZZZ
    EXPECT_EQ(3u, oUnknown.GetManufacturerID(szText, sizeof(szText)));
    EXPECT_STREQ("ZZZ", szText);
    memset(szText, 'x', sizeof(szText));
    EXPECT_EQ(0u, oUnknown.GetManufacturerName(szText, sizeof(szText)));
    EXPECT_STREQ("", szText);
}

TEST(Edid, DescriptorStrings)
{
    CEdid oEdid = CEdid1Builder()
                      .SetDescriptor(0, MakeTextDescriptor(0xFF, "SN-0042"))
                      .SetDescriptor(1, MakeTextDescriptor(0xFC, "ABC 2410"))
                      .SetDescriptor(2, MakeTextDescriptor(0xFE, "VA1616wSERIES"))
                      .Build();
    char szText[256];
    ASSERT_TRUE(oEdid.GetDetailedMonitorName(szText, sizeof(szText)));
    EXPECT_STREQ("ABC 2410", szText);
    ASSERT_TRUE(oEdid.GetDetailedSerialNumber(szText, sizeof(szText)));
    EXPECT_STREQ("SN-0042", szText);
    ASSERT_TRUE(oEdid.GetDetailedMonitorString(szText, sizeof(szText)));
    EXPECT_STREQ("VA1616wSERIES", szText);  // 13 characters, no LF
    EXPECT_FALSE(oEdid.GetDetailedExtraColorData());

    memset(szText, 'x', sizeof(szText));
    ASSERT_TRUE(oEdid.GetDetailedMonitorName(szText, 5));
    EXPECT_EQ("ABC 2x", std::string(szText, 6));  // cut, no terminator

    // A name of an LF only, and no name at all.
    CEdid oEmpty = CEdid1Builder().SetDescriptor(0, MakeTextDescriptor(0xFC, "")).Build();
    EXPECT_FALSE(oEmpty.GetDetailedMonitorName(szText, sizeof(szText)));
    EXPECT_FALSE(oEmpty.GetDetailedSerialNumber(szText, sizeof(szText)));
}

TEST(Edid, StandardTimings)
{
    CEdid oEdid =
        CEdid1Builder().SetStandard(0, 0xD1, 0xC0).SetStandard(1, 0x81, 0xC0).SetStandard(2, 0x81, 0x80).Build();
    CDetailedTiming oTiming;
    ASSERT_TRUE(oEdid.GetStandard(0, oTiming));
    EXPECT_EQ(1920, oTiming.GetHorizontalActive());
    EXPECT_EQ(1080, oTiming.GetVerticalActive());
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    ASSERT_TRUE(oEdid.GetStandard(1, oTiming));
    EXPECT_EQ(720, oTiming.GetVerticalActive());
    EXPECT_EQ(74250, oTiming.GetPixelClock());
    ASSERT_TRUE(oEdid.GetStandard(2, oTiming));
    EXPECT_EQ(1024, oTiming.GetVerticalActive());
    EXPECT_EQ(108000, oTiming.GetPixelClock());
    EXPECT_FALSE(oEdid.GetStandard(3, oTiming));  // 01 01: unused
    EXPECT_FALSE(oEdid.GetStandard(8, oTiming));
    EXPECT_EQ(3u, oEdid.GetStandardNumber());

    // Aspect code 0: 16:10 from revision 3 on, 1:1 before (which the mode table lacks: GTF).
    CEdid oRevision3 = CEdid1Builder(3).SetStandard(0, 0x81, 0x00).Build();
    ASSERT_TRUE(oRevision3.GetStandard(0, oTiming));
    EXPECT_EQ(800, oTiming.GetVerticalActive());
    EXPECT_EQ(71000, oTiming.GetPixelClock());
    CEdid oRevision2 = CEdid1Builder(2).SetStandard(0, 0x81, 0x00).Build();
    CDetailedTiming oGtf;
    const MBOOL32 bGtf = CGtf::GetGtfTimingBasedOnVRate(oGtf, 1280, 1280, 60, false, false, nullptr);
    EXPECT_EQ(bGtf, oRevision2.GetStandard(0, oTiming));
    EXPECT_EQ(oGtf, oTiming);
    EXPECT_EQ(1280, oTiming.GetVerticalActive());

    // Extra standard timings: six per descriptor.
    CEdid oExtra =
        CEdid1Builder().SetDescriptor(2, MakeMonitorDescriptor(0xFA, {0xD1, 0xC0, 0x81, 0xC0, 0x01, 0x01})).Build();
    ASSERT_TRUE(oExtra.GetDetailedExtraStdTiming(1, oTiming));
    EXPECT_EQ(74250, oTiming.GetPixelClock());
    EXPECT_FALSE(oExtra.GetDetailedExtraStdTiming(2, oTiming));
    EXPECT_FALSE(oExtra.GetDetailedExtraStdTiming(6, oTiming));
}

TEST(Edid, EstablishedTimings)
{
    CEdid oEdid = CEdid1Builder()
                      .SetEstablished(CEdid::ESTABLISHED_I_720x400_70 | CEdid::ESTABLISHED_I_640x480_60 |
                                      CEdid::ESTABLISHED_I_640x480_67)
                      .Build();
    CDetailedTiming oTiming;
    ASSERT_TRUE(oEdid.GetEstablished(0u, oTiming, true));
    EXPECT_EQ(25175, oTiming.GetPixelClock());
    EXPECT_FALSE(oEdid.GetEstablished(1u, oTiming, true));

    CDetailedTiming oGtf;
    ASSERT_TRUE(oEdid.GetEstablished(0u, oTiming, false));
    CGtf::GetGtfTimingBasedOnVRate(oGtf, 720, 400, 70, false, false, nullptr);
    EXPECT_EQ(oGtf, oTiming);
    ASSERT_TRUE(oEdid.GetEstablished(1u, oTiming, false));
    EXPECT_EQ(25175, oTiming.GetPixelClock());
    ASSERT_TRUE(oEdid.GetEstablished(2u, oTiming, false));
    CGtf::GetGtfTimingBasedOnVRate(oGtf, 640, 480, 67, false, false, nullptr);
    EXPECT_EQ(oGtf, oTiming);
    EXPECT_FALSE(oEdid.GetEstablished(3u, oTiming, false));
    EXPECT_FALSE(oEdid.GetEstablished(17u, oTiming, false));

    // By name: not announced gives a cleared record.
    EXPECT_FALSE(oEdid.GetEstablished(CEdid::ESTABLISHED_II_1024x768_87i, oTiming, false));
    EXPECT_EQ(CDetailedTiming(), oTiming);
    EXPECT_FALSE(oEdid.GetEstablished(CEdid::ESTABLISHED_NONE, oTiming, false));

    CEdid oInterlaced = CEdid1Builder().SetEstablished(CEdid::ESTABLISHED_II_1024x768_87i).Build();
    ASSERT_TRUE(oInterlaced.GetEstablished(CEdid::ESTABLISHED_II_1024x768_87i, oTiming, true));
    EXPECT_TRUE(oTiming.IsInterlaced());
    EXPECT_EQ(43, oTiming.GetVerticalRate());
    EXPECT_EQ(44900, oTiming.GetPixelClock());
}

TEST(Edid, DetailedPreferredAndRanges)
{
    const std::vector<uint8_t> aRange = {50, 76, 30, 83, 17, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    CEdid1Builder oBuilder(3);
    oBuilder.SetDescriptor(0, MakeTextDescriptor(0xFC, "MONITOR"))
        .SetDescriptor(1, k720p)
        .SetDescriptor(2, MakeMonitorDescriptor(0xFD, aRange))
        .SetDescriptor(3, k1080p)
        .SetPreferred(true);
    CEdid oEdid = oBuilder.Build();

    CDetailedTiming oTiming;
    EXPECT_EQ(2u, oEdid.GetDetailedNumber());
    ASSERT_TRUE(oEdid.GetPreferredMode(oTiming));  // the first timing after the name
    EXPECT_EQ(74250, oTiming.GetPixelClock());
    ASSERT_TRUE(oEdid.GetDetailed(1, oTiming));
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    EXPECT_FALSE(oEdid.GetDetailed(2, oTiming));

    CEdid::SRangeLimits oLimits = {};
    ASSERT_TRUE(oEdid.GetDetailedMonitorRangeLimits(oLimits, 0));
    EXPECT_EQ(50u, oLimits.uiVRateMin);
    EXPECT_EQ(76u, oLimits.uiVRateMax);
    EXPECT_EQ(30u, oLimits.uiHRateMin);
    EXPECT_EQ(83u, oLimits.uiHRateMax);
    EXPECT_EQ(0u, oLimits.uiMinPixClock);
    EXPECT_EQ(170000u, oLimits.uiMaxPixClock);

    // Only index 0 exists in version 1, even with two range descriptors.
    CEdid oTwoRanges = CEdid1Builder()
                           .SetDescriptor(0, MakeMonitorDescriptor(0xFD, aRange))
                           .SetDescriptor(1, MakeMonitorDescriptor(0xFD, aRange))
                           .Build();
    EXPECT_FALSE(oTwoRanges.GetDetailedMonitorRangeLimits(oLimits, 1));
    EXPECT_EQ(0u, oTwoRanges.GetDetailedNumber());

    CEdid oNotPreferred = oBuilder.SetPreferred(false).Build();
    EXPECT_FALSE(oNotPreferred.IsPreferredModeAvailable());
    EXPECT_FALSE(oNotPreferred.GetPreferredMode(oTiming));
}

TEST(Edid, SecondaryGtfCurveOnlyInRevision3)
{
    // Range limits with a secondary curve: start 64 kHz, C 40, M 3600, K 128, J 35.
    const std::vector<uint8_t> aRange = {50, 200, 30, 130, 35, 0x02, 0x00, 0x20, 0x50, 0x10, 0x0E, 0x80, 0x46};
    CEdid::SGtfSecFormulaParams oParams = {};
    CEdid oRevision3 = CEdid1Builder(3).SetDescriptor(1, MakeMonitorDescriptor(0xFD, aRange)).Build();
    ASSERT_TRUE(oRevision3.GetGtfSecondFormulaParameters(oParams));
    EXPECT_EQ(64u, oParams.uiStartFreqSecCurve);
    EXPECT_EQ(40u, oParams.uiCValue);
    EXPECT_EQ(3600u, oParams.uiMValue);
    EXPECT_EQ(128u, oParams.uiKValue);
    EXPECT_EQ(35u, oParams.uiJValue);

    CEdid oRevision4 = CEdid1Builder(4).SetDescriptor(1, MakeMonitorDescriptor(0xFD, aRange)).Build();
    EXPECT_FALSE(oRevision4.GetGtfSecondFormulaParameters(oParams));
    EXPECT_FALSE(CEdid1Builder(3).Build().GetGtfSecondFormulaParameters(oParams));
}

TEST(Edid, Version2Layout)
{
    const std::vector<uint8_t> aBlock = MakeEdid2();
    CEdid oEdid(aBlock.data(), 256);
    char szText[256];
    EXPECT_FALSE(oEdid.IsVersion1Format());
    EXPECT_EQ(2u, oEdid.GetVersion());
    EXPECT_EQ(0u, oEdid.GetRevision());
    EXPECT_TRUE(oEdid.IsChecksumValid());
    EXPECT_EQ(3u, oEdid.GetManufacturerID(szText, sizeof(szText)));
    EXPECT_STREQ("SAM", szText);
    ASSERT_TRUE(oEdid.GetDetailedMonitorName(szText, sizeof(szText)));
    EXPECT_STREQ("PANEL 21", szText);
    ASSERT_TRUE(oEdid.GetDetailedSerialNumber(szText, sizeof(szText)));
    EXPECT_STREQ("SN12345", szText);
    EXPECT_FALSE(oEdid.GetDetailedMonitorString(szText, sizeof(szText)));

    CEdid::SRangeLimits oLimits = {};
    ASSERT_TRUE(oEdid.GetDetailedMonitorRangeLimits(oLimits, 0));
    EXPECT_EQ(48u, oLimits.uiVRateMin);
    EXPECT_EQ(123u, oLimits.uiVRateMax);
    EXPECT_EQ(30u, oLimits.uiHRateMin);
    EXPECT_EQ(81u, oLimits.uiHRateMax);
    EXPECT_EQ(25000u, oLimits.uiMinPixClock);
    EXPECT_EQ(300000u, oLimits.uiMaxPixClock);
    EXPECT_FALSE(oEdid.GetDetailedMonitorRangeLimits(oLimits, 1));

    CDetailedTiming oTiming;
    EXPECT_EQ(2u, oEdid.GetStandardNumber());
    ASSERT_TRUE(oEdid.GetStandard(0, oTiming));
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    ASSERT_TRUE(oEdid.GetStandard(1, oTiming));  // not in the mode table: size and rate only
    EXPECT_EQ(1280, oTiming.GetHorizontalActive());
    EXPECT_EQ(1280, oTiming.GetVerticalActive());
    EXPECT_EQ(50, oTiming.GetVerticalRate());
    EXPECT_TRUE(oTiming.IsInterlaced());
    EXPECT_EQ(0, oTiming.GetPixelClock());

    EXPECT_EQ(1u, oEdid.GetDetailedNumber());
    ASSERT_TRUE(oEdid.GetPreferredMode(oTiming));
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    EXPECT_EQ(1080, oTiming.GetVerticalActive());

    // Nothing of version 1 answers.
    oTiming.SetPixelClock(1);
    EXPECT_FALSE(oEdid.GetEstablished(0u, oTiming, false));
    EXPECT_EQ(CDetailedTiming(), oTiming);
    CEdid::SGtfSecFormulaParams oParams;
    EXPECT_FALSE(oEdid.GetGtfSecondFormulaParameters(oParams));
}

TEST(Edid, Version2EntriesOutsideSectionAreAbsent)
{
    std::vector<uint8_t> aBlock = MakeEdid2();
    aBlock[127] = 0xFF;  // 31 timing codes and 7 detailed timings: more than 127 bytes
    CEdid oEdid(aBlock.data(), 256);
    CDetailedTiming oTiming;
    // Codes start at 11: the 29 of them that end by byte 127 of the section exist.
    EXPECT_EQ(29u, oEdid.GetStandardNumber());
    EXPECT_FALSE(oEdid.GetStandard(29, oTiming));
    EXPECT_EQ(0u, oEdid.GetDetailedNumber());
    EXPECT_FALSE(oEdid.GetPreferredMode(oTiming));

    // A product field without TAB or LF holds no name.
    memset(&aBlock[8], 'A', 32);
    CEdid oNoSeparator(aBlock.data(), 256);
    char szText[64];
    EXPECT_FALSE(oNoSeparator.GetDetailedMonitorName(szText, sizeof(szText)));
}
