// The EDID parser and the timing record on built EDIDs, for what the real dumps of
// EdidRealData_test.cpp do not show: the driver's dump format and malformed dumps, EDID 2.0, the
// manufacturer table, strings cut to the caller's buffer, revision-dependent readings. Each EDID
// is compared whole through a one-line description of every answer the parser gives.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>

#include "EdidReference.h"
#include "TempDir.h"
#include "Words.h"
#include "edid/Edid.h"
#include "edid/Gtf.h"

namespace
{
typedef std::vector<uint8_t> TBytes;

TBytes operator+(TBytes a, const TBytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An 18-byte detailed timing descriptor: clock (10 kHz), H active, H blank, V active, V blank,
// H sync offset, H sync width, V sync offset, V sync width, H border, V border, flags.
TBytes Timing(const std::vector<unsigned>& a)
{
    return {uint8_t(a[0]), uint8_t(a[0] >> 8), uint8_t(a[1]), uint8_t(a[2]), uint8_t((a[1] >> 8) << 4 | a[2] >> 8),
            uint8_t(a[3]), uint8_t(a[4]), uint8_t((a[3] >> 8) << 4 | a[4] >> 8), uint8_t(a[5]), uint8_t(a[6]),
            uint8_t((a[7] & 15) << 4 | (a[8] & 15)),
            uint8_t((a[5] >> 8) << 6 | (a[6] >> 8) << 4 | (a[7] >> 4) << 2 | a[8] >> 4), 0x10, 0x09, 0x00,
            uint8_t(a[9]), uint8_t(a[10]), uint8_t(a[11])};
}
const TBytes k1080p = Timing({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 0, 0, 0x1E});
const TBytes k720p = Timing({7425, 1280, 370, 720, 30, 110, 40, 5, 5, 0, 0, 0x1E});

// A monitor descriptor with up to 13 bytes of payload padded with spaces; a text as monitors
// store it, with an LF after one shorter than 13 characters.
TBytes Descriptor(uint8_t uiType, TBytes aPayload = {})
{
    aPayload.resize(13, 0x20);
    return TBytes{0, 0, 0, uiType, 0} + aPayload;
}
TBytes Text(uint8_t uiType, const std::string& roText)
{
    return Descriptor(uiType, TBytes(roText.begin(), roText.end()) + TBytes(roText.size() < 13 ? 1 : 0, '\n'));
}
const size_t kSlot[4] = {54, 72, 90, 108};  // the descriptors' offsets

TBytes Summed(TBytes aBlock)
{
    aBlock.back() = static_cast<uint8_t>(-std::accumulate(aBlock.begin(), aBlock.end() - 1, 0));
    return aBlock;
}

// An EDID 1.x base block: header, vendor DEL, version 1.<revision>, no timings announced, four
// dummy descriptors; the patches (offset, bytes) laid over it; the checksum set.
TBytes Block(uint8_t uiRevision, const std::vector<std::pair<size_t, TBytes>>& aoPatches = {})
{
    TBytes aBlock = TBytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0x10, 0xAC} + TBytes(8, 0) +
                    TBytes{1, uiRevision} + TBytes(18, 0) + TBytes(16, 0x01) + Descriptor(0x10) + Descriptor(0x10) +
                    Descriptor(0x10) + Descriptor(0x10) + TBytes(2, 0);
    for (const auto& roPatch : aoPatches)
        std::copy(roPatch.second.begin(), roPatch.second.end(), aBlock.begin() + roPatch.first);
    return Summed(aBlock);
}

// Every answer of the parser on one line: version, size, checksum, manufacturer and its name,
// the strings, the preferred timing, the numbers of detailed and standard timings, the standard,
// extra standard and established timings (size, rate, clock), range limits and the GTF curve. (Which
// established timings VESA's table has, the real dumps show.)
std::string Describe(const TBytes& raBytes)
{
    const CEdid oEdid(raBytes.data(), int32_t(raBytes.size()));
    char sz[64] = {};
    std::string o = "v" + std::to_string(oEdid.GetVersion()) + "." + std::to_string(oEdid.GetRevision()) + " " +
                    std::to_string(oEdid.GetSize()) + (oEdid.IsChecksumValid() ? " ok " : " bad ");
    o += std::string(oEdid.GetManufacturerID(sz, sizeof(sz)) ? sz : "-") + " '";
    o += std::string(oEdid.GetManufacturerName(sz, sizeof(sz)) ? sz : "") + "'";
    for (const auto& roString : {std::make_pair(&CEdid::GetDetailedMonitorName, " name="),
                                 std::make_pair(&CEdid::GetDetailedSerialNumber, " serial="),
                                 std::make_pair(&CEdid::GetDetailedMonitorString, " string=")})
        o += (oEdid.*roString.first)(sz, sizeof(sz)) ? roString.second + std::string(sz) : "";
    CDetailedTiming oT;
    const auto fnShort = [&oT]
    {
        return " " + std::to_string(oT.GetHorizontalActive()) + "x" + std::to_string(oT.GetVerticalActive()) +
               (oT.IsInterlaced() ? "i" : "p") + std::to_string(oT.GetVerticalRate()) + "/" +
               std::to_string(oT.GetPixelClock());
    };
    o += oEdid.GetPreferredMode(oT) ? " preferred" + fnShort() : "";
    o +=
        " dtd=" + std::to_string(oEdid.GetDetailedNumber()) + " std=" + std::to_string(oEdid.GetStandardNumber()) + ":";
    for (MUINT32 i = 0; i < 32; ++i)
        o += oEdid.GetStandard(i, oT) ? fnShort() : "";
    o += " extra:";
    for (MUINT32 i = 0; i < 6; ++i)
        o += oEdid.GetDetailedExtraStdTiming(i, oT) ? fnShort() : "";
    o += " established:";
    for (MUINT32 i = 0; oEdid.GetEstablished(i, oT, false); ++i)
        o += fnShort();
    CEdid::SRangeLimits oLimits;
    CEdid::SGtfSecFormulaParams oCurve;
    for (MUINT32 i = 0; i < 2; ++i)
        o += oEdid.GetDetailedMonitorRangeLimits(oLimits, i) ? " range" + std::to_string(i) + ":" : "";
    for (uint32_t uiWord : oEdid.GetDetailedMonitorRangeLimits(oLimits, 0) ? Words(oLimits) : std::vector<uint32_t>())
        o += " " + std::to_string(uiWord);
    o += oEdid.GetGtfSecondFormulaParameters(oCurve) ? " curve:" : "";
    for (uint32_t uiWord : oEdid.GetGtfSecondFormulaParameters(oCurve) ? Words(oCurve) : std::vector<uint32_t>())
        o += " " + std::to_string(uiWord);
    return o;
}
} // namespace

TEST(EdidRead, ReadsTheDriversDumpOfEachDisplayAndRefusesMalformedOnes)
{
    CTempDir oRoot;
    CScopedEnv oRootEnv("PELLIX_PLATFORM_ROOT", oRoot.Path().string());
    const auto fnRead = [&](const std::string& roDump, unsigned uiDisplay = 0) {
        oRoot.Write("sys/devices/platform/vpss/display" + std::to_string(uiDisplay) + "/edid", roDump);
        return std::unique_ptr<CEdid>(CEdid::Read(uiDisplay));
    };
    const auto fnCopy = [](const CEdid& roEdid) {
        TBytes aCopy(256);
        aCopy.resize(roEdid.GetEdidBuffer(aCopy.data(), 256));
        return aCopy;
    };
    TBytes aLong(640);
    std::iota(aLong.begin(), aLong.end(), 3);
    const TBytes aBlock = Block(3, {{kSlot[0], k1080p}});
    const std::string oDump = MakeDriverDump(aBlock);
    EXPECT_EQ(nullptr, CEdid::Read(1));  // no file
    std::unique_ptr<CEdid> poEdid = fnRead(oDump, 1);
    ASSERT_NE(nullptr, poEdid);
    EXPECT_EQ(aBlock, fnCopy(*poEdid));
    // Lines 0000: to 0030: only: 64 bytes, zeros behind. 640 bytes: the first 256 kept.
    std::string oGap = MakeDriverDump(aLong);
    oGap.replace(oGap.find("0040:"), 5, "0041:");
    ASSERT_NE(nullptr, poEdid = fnRead(oGap));
    EXPECT_EQ(TBytes(aLong.begin(), aLong.begin() + 64) + TBytes(192, 0), fnCopy(*poEdid));
    ASSERT_NE(nullptr, poEdid = fnRead(MakeDriverDump(aLong)));
    EXPECT_EQ(TBytes(aLong.begin(), aLong.begin() + 256), fnCopy(*poEdid));
    // Empty, no dump, a first line labelled 0010:, the last line cut short, a bad digit, and a
    // bad byte past the first 256.
    std::string oShifted = oDump, oBadDigit = oDump, oBadLate = MakeDriverDump(aLong);
    oShifted.replace(0, 5, "0010:");
    oBadDigit[6 + 3 * 5] = 'g';
    oBadLate[oBadLate.find("0200:") + 6] = 'x';
    for (const std::string& roBad : {std::string(), std::string("no dump here\n"), oShifted,
                                     oDump.substr(0, oDump.size() - 7), oBadDigit, oBadLate})
        EXPECT_EQ(nullptr, fnRead(roBad)) << roBad.substr(0, 60);
}

TEST(Edid, AnswersForBuiltVersion1Blocks)
{
    // An extension block whose own checksum is wrong: only the base counts. A wrong checksum is
    // reported and the data used all the same. The manufacturer table: the second PHL and NEC
    // entries never win, ZZZ is no one's.
    TBytes aBad = Block(3, {{kSlot[0], k1080p}, {24, {0x02}}});
    aBad[127] ^= 1;
    const std::vector<std::pair<TBytes, std::string>> aoCases = {
        {Block(4, {{126, {1}}}) + TBytes(128, 0x5A),
         "v1.4 128 ok DEL 'Dell Computer Corp.' dtd=0 std=0: extra: established:"},
        {aBad,
         "v1.3 128 bad DEL 'Dell Computer Corp.' preferred 1920x1080p60/148500 dtd=1 std=0: extra: established:"},
        {Block(3, {{8, {0x4C, 0x2D}}}), "v1.3 128 ok SAM 'Samsung' dtd=0 std=0: extra: established:"},
        {Block(3, {{8, {0x38, 0xA3}}}), "v1.3 128 ok NEC 'NEC' dtd=0 std=0: extra: established:"},
        {Block(3, {{8, {0x6B, 0x5A}}}), "v1.3 128 ok ZZZ '' dtd=0 std=0: extra: established:"},
        // 13 characters take no LF; a name of an LF only is none.
        {Block(3, {{kSlot[0], Text(0xFF, "SN-0042")},
                   {kSlot[1], Text(0xFC, "ABC 2410")},
                   {kSlot[2], Text(0xFE, "VA1616wSERIES")}}),
         "v1.3 128 ok DEL 'Dell Computer Corp.' name=ABC 2410 serial=SN-0042 string=VA1616wSERIES dtd=0 std=0: extra: "
         "established:"},
        {Block(3, {{kSlot[0], Text(0xFC, "")}}), "v1.3 128 ok DEL 'Dell Computer Corp.' dtd=0 std=0: extra: established:"},
        // Standard timings from the mode table (01 01 unused), six more in a descriptor; aspect
        // code 0 is 16:10 from revision 3 on, 1:1 before (not in the table: the GTF's clock).
        // Established timings in bit order, the GTF for those outside the table (IBM's 720x400).
        {Block(3, {{38, {0xD1, 0xC0, 0x81, 0xC0, 0x81, 0x80, 0x81, 0x00}},
                   {kSlot[2], Descriptor(0xFA, {0xD1, 0xC0, 0x81, 0xC0, 1, 1, 1, 1, 1, 1, 1, 1})},
                   {35, {CEdid::ESTABLISHED_I_720x400_70 | CEdid::ESTABLISHED_I_640x480_60}},
                   {36, {0x10}}}),
         "v1.3 128 ok DEL 'Dell Computer Corp.' dtd=0 std=4: 1920x1080p60/148500 1280x720p60/74250 1280x1024p60/108000 "
         "1280x800p60/71000 extra: 1920x1080p60/148500 1280x720p60/74250 established: 720x400p70/26161 "
         "640x480p60/25175 1024x768i43/44900"},
        {Block(2, {{38, {0x81, 0x00}}}),
         "v1.2 128 ok DEL 'Dell Computer Corp.' dtd=0 std=1: 1280x1280p60/137361 extra: established:"},
        // The preferred timing is the first timing, after a name; range limits at index 0 only,
        // even with two range descriptors; the secondary GTF curve from revision 3 only.
        {Block(3, {{kSlot[0], Text(0xFC, "MONITOR")},
                   {kSlot[1], k720p},
                   {kSlot[2], Descriptor(0xFD, {50, 76, 30, 83, 17, 0x00, 0x0A})},
                   {kSlot[3], k1080p},
                   {24, {0x02}}}),
         "v1.3 128 ok DEL 'Dell Computer Corp.' name=MONITOR preferred 1280x720p60/74250 dtd=2 std=0: extra: "
         "established: range0: 50 76 30 83 0 170000 curve: 64 16 8224 32 16"},
        {Block(3, {{kSlot[0], Descriptor(0xFD, {50, 200, 30, 130, 35, 0x02, 0x00, 0x20, 0x50, 0x10, 0x0E, 0x80, 0x46})},
                   {kSlot[1], Descriptor(0xFD, {50, 76, 30, 83, 17, 0x00, 0x0A})}}),
         "v1.3 128 ok DEL 'Dell Computer Corp.' dtd=0 std=0: extra: established: range0: 50 200 30 130 0 350000 "
         "curve: 64 40 3600 128 35"},
        {Block(4,
               {{kSlot[0], Descriptor(0xFD, {50, 200, 30, 130, 35, 0x02, 0x00, 0x20, 0x50, 0x10, 0x0E, 0x80, 0x46})}}),
         "v1.4 128 ok DEL 'Dell Computer Corp.' dtd=0 std=0: extra: established: range0: 50 200 30 130 0 350000"},
        // Clock x 10000 is beyond 32 bits for 594 MHz, and for the largest clock with the smallest
        // totals: the field rate is right all the same.
        {Block(4, {{kSlot[0], Timing({59400, 3840, 560, 2160, 90, 176, 88, 8, 10, 0, 0, 0x1E})}, {24, {0x02}}}),
         "v1.4 128 ok DEL 'Dell Computer Corp.' preferred 3840x2160p60/594000 dtd=1 std=0: extra: established:"},
        {Block(4, {{kSlot[0], Timing({0xFFFF, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x1E})}, {24, {0x02}}}),
         "v1.4 128 ok DEL 'Dell Computer Corp.' preferred 1x1p655350000/655350 dtd=1 std=0: extra: established:"},
    };
    for (const auto& roCase : aoCases)
        EXPECT_EQ(roCase.second, Describe(roCase.first));
    // By name: not announced gives a cleared record.
    const TBytes aEstablished = Block(3, {{35, {CEdid::ESTABLISHED_I_640x480_60}}});
    const CEdid oEdid(aEstablished.data(), 128);
    CDetailedTiming oTiming;
    EXPECT_TRUE(oEdid.GetEstablished(CEdid::ESTABLISHED_I_640x480_60, oTiming, true));
    EXPECT_FALSE(oEdid.GetEstablished(CEdid::ESTABLISHED_II_1024x768_87i, oTiming, false) ||
                 oEdid.GetEstablished(CEdid::ESTABLISHED_NONE, oTiming, false));
    EXPECT_EQ(CDetailedTiming(), oTiming);
    // Strings and names cut to the caller's buffer, without a terminator; no buffer, nothing.
    const TBytes aNamed = Block(3, {{kSlot[0], Text(0xFC, "ABC 2410")}});
    const CEdid oNamed(aNamed.data(), 128);
    char szText[16];
    memset(szText, 'x', sizeof(szText));
    EXPECT_TRUE(oNamed.GetDetailedMonitorName(szText, 5));
    EXPECT_EQ(4u, oNamed.GetManufacturerName(szText + 8, 4));
    EXPECT_EQ("ABC 2xxxDellxxxx", std::string(szText, 16));
    EXPECT_EQ((std::vector<MUINT32>{0, 0, 0}), (std::vector<MUINT32>{oNamed.GetManufacturerID(szText, 3),
                                                                     oNamed.GetManufacturerID(nullptr, 4),
                                                                     oNamed.GetManufacturerName(nullptr, 4)}));
}

TEST(Edid, SizesCopiesAndVersion2)
{
    // Not version 1, no data, a negative size; copies bounded by the buffer and the data.
    TBytes aPatterned(384);
    std::iota(aPatterned.begin(), aPatterned.end(), 3);
    const CEdid oOther(aPatterned.data(), 256), oNull(nullptr, 128), oNegative(aPatterned.data(), -5);
    const TBytes aBlock = Block(3);
    const CEdid oEdid(aBlock.data(), 128);
    TBytes aCopy(300, 0xEE);
    EXPECT_EQ(
        (std::vector<MUINT32>{0, 256, 0, 1, 0, 128, 10, 0, 0, 0xEE}),
        (std::vector<MUINT32>{oOther.IsVersion1Format(), oOther.GetSize(), oNull.IsVersion1Format(),
                              oNull.IsChecksumValid() /* 256 zero bytes */, oNegative.GetVersion(),
                              oEdid.GetEdidBuffer(aCopy.data(), 300), oEdid.GetEdidBuffer(aCopy.data(), 10),
                              oEdid.GetEdidBuffer(nullptr, 10), oEdid.GetEdidBuffer(aCopy.data(), 0), aCopy[128]}));
    // The size from data: whole non-empty 128-byte chunks inside the buffer. 200 bytes on the
    // heap: the partial chunk is not looked at (ASan would see it) and does not count.
    const TBytes aHoled = TBytes(aPatterned.begin(), aPatterned.begin() + 128) + TBytes(256, 0);
    const std::unique_ptr<uint8_t[]> puiExact(new uint8_t[200]);
    memset(puiExact.get(), 0x11, 200);
    EXPECT_EQ((std::vector<MUINT32>{384, 128, 0, 0, 128, 0}),
              (std::vector<MUINT32>{
                  CEdid::GetEdidSizeFromData(384, aPatterned.data()), CEdid::GetEdidSizeFromData(384, aHoled.data()),
                  CEdid::GetEdidSizeFromData(0, aPatterned.data()), CEdid::GetEdidSizeFromData(384, nullptr),
                  CEdid::GetEdidSizeFromData(200, puiExact.get()), CEdid::GetEdidSizeFromData(100, puiExact.get())}));

    // EDID 2.0: vendor SAM, "ACME<TAB>PANEL 21<LF>", a serial, a luminance table of two entries,
    // one frequency range, two timing codes (1920x1080 at 60 Hz; 1280x1280 interlaced at 50 Hz,
    // outside the mode table: no clock) and one detailed timing, preferred. Nothing of version 1
    // answers.
    const std::string oText = std::string("ACME\tPANEL 21\n") + std::string(18, '\0') + "SN12345\n";
    TBytes aV2 =
        TBytes{0x20, 0x4C, 0x2D, 0, 0, 0, 0, 0} + TBytes(oText.begin(), oText.end()) + TBytes(78, 0) +
        TBytes{0x64, 0x11, 0x02, 0x10, 0x20, 12, 30, 7, 20, 0x39, 25, 44, 0x01, 104, 0x00, 178, 60, 64, 0x40, 100, 50} +
        k1080p + TBytes(91, 0);
    EXPECT_EQ("v2.0 256 ok SAM 'Samsung' name=PANEL 21 serial=SN12345 preferred 1920x1080p60/148500 dtd=1 std=2: "
              "1920x1080p60/148500 1280x1280i50/0 extra: established: range0: 48 123 30 81 25000 300000",
              Describe(Summed(aV2)));
    // 31 timing codes and 7 detailed timings overrun the section: the 29 codes that end by its
    // byte 127 exist, no detailed timing. A product field without TAB or LF holds no name.
    aV2[127] = 0xFF;
    memset(&aV2[8], 'A', 32);
    const std::string oOverrun = Describe(Summed(aV2));
    EXPECT_EQ("v2.0 256 ok SAM 'Samsung' serial=SN12345 dtd=0 std=29:", oOverrun.substr(0, oOverrun.find(':') + 1));
}

TEST(DetailedTiming, MonitorDescriptorsAndIncompleteRecordsLeaveItCleared)
{
    CDetailedTiming oTiming;
    const TBytes aText = Text(0xFC, "ABC 2410");
    oTiming.SetTiming(*reinterpret_cast<const CDetailedTiming::SDetailedRaw*>(aText.data()));
    EXPECT_EQ(CDetailedTiming(), oTiming);
    CDetailedTiming::SDetailed oDetailed = {};
    oDetailed.uiPixelClock = 14850;
    oDetailed.uiHActive = 1920;  // no vertical size
    oTiming.SetPixelClock(1);
    oTiming.SetDetailed(oDetailed);
    EXPECT_EQ(CDetailedTiming(), oTiming);
    // Borders go to the overscan fields alone.
    const TBytes aBordered = Timing({14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 8, 6, 0x1E});
    oTiming.SetTiming(*reinterpret_cast<const CDetailedTiming::SDetailedRaw*>(aBordered.data()));
    EXPECT_EQ(
        (std::vector<int>{8, 6, 0, 148, 36}),
        (std::vector<int>{oTiming.GetHorizontalOverscan(), oTiming.GetVerticalOverscan(), oTiming.IsOverscan() != 0,
                          oTiming.GetHorizontalBackPorch(), oTiming.GetVerticalBackPorch()}));
    // The whole record copies; one field changed makes it differ.
    CDetailedTiming::SDetailedTiming oRecord;
    oTiming.SetPixelClock(148500);
    oTiming.GetTiming(oRecord);
    CDetailedTiming oCopy;
    oCopy.SetTiming(oRecord);
    EXPECT_EQ(oTiming, oCopy);
    oCopy.SetVerticalRefresh(61u);
    EXPECT_NE(oTiming, oCopy);
}
