// CEdid: the monitor's EDID as the display driver reports it, and the answers the display side
// needs from it: version, checksum, manufacturer, name and serial strings, range limits, the
// secondary GTF curve, and the timings announced (detailed, standard, established), each as a
// CDetailedTiming. Two layouts are understood: EDID 1.x (the 128-byte base block; extension
// blocks are kept but not read) and EDID 2.0 (one 256-byte block).
#ifndef EDID_H
#define EDID_H

#include "edid/DetailedTiming.h"

class CEdid final
{
public:
    // ---- Version 1.x -----------------------------------------------------------------------

    enum EEdidVersion1
    {
        ESTABLISHED_MAX_INDEX = 17,
        STANDARD_MAX_INDEX = 8,
        DETAILED_MAX_INDEX = 4,
        DETAILED_DESCRIPTOR_SIZE = 18,
        MANUFACTURE_YEAR_BASE = 1990,
        DETAILED_DESCRIPTOR_HEADER_SIZE = 3,
        DETAILED_DESCRIPTOR_EXTRA_STD_TIMING_MAX_NBR = 6,
        EDID_1_X_STRING_MAX_LENGTH = 13,
        EDID_2_0_MANUFACTURER_MAX_LENGTH = 32,
        EDID_2_0_SERIAL_NUMBER_MAX_LENGTH = 16,
        EDID_STRING_TERMINATOR = 10,  // LF
        EDID_STRING_SEPARATOR = 9     // TAB
    };

    // Bit masks over byte35 | byte36 << 8 | byte37 << 16.
    enum EEstablishedTiming
    {
        ESTABLISHED_NONE = 0,
        ESTABLISHED_I_720x400_70 = 128,
        ESTABLISHED_I_720x400_88 = 64,
        ESTABLISHED_I_640x480_60 = 32,
        ESTABLISHED_I_640x480_67 = 16,
        ESTABLISHED_I_640x480_72 = 8,
        ESTABLISHED_I_640x480_75 = 4,
        ESTABLISHED_I_800x600_56 = 2,
        ESTABLISHED_I_800x600_60 = 1,
        ESTABLISHED_II_800x600_72 = 32768,
        ESTABLISHED_II_800x600_75 = 16384,
        ESTABLISHED_II_832x624_75 = 8192,
        ESTABLISHED_II_1024x768_87i = 4096,
        ESTABLISHED_II_1024x768_60 = 2048,
        ESTABLISHED_II_1024x768_70 = 1024,
        ESTABLISHED_II_1024x768_75 = 512,
        ESTABLISHED_II_1280x1024_75 = 256,
        ESTABLISHED_MANUFACTURER_1152x870_75 = 8388608
    };

    // The feature-support byte (offset 24), bit 0 first.
    struct SEdid1FeatureSupport
    {
        MUINT8 bGTF : 1;
        MUINT8 bPreferredMode : 1;
        MUINT8 bStandardDefColorSpace : 1;
        MUINT8 uiDisplayType : 2;
        MUINT8 bActiveOFF : 1;
        MUINT8 bSuspend : 1;
        MUINT8 bStanby : 1;
    };

    // A standard timing: width / 8 - 31, then refresh - 60 and the aspect code.
    struct SStandard
    {
        MUINT8 uiHorizontalActive;
        MUINT8 uiRefreshRate : 6;
        MUINT8 uiAspectRatio : 2;
    };

    // The first 5 bytes of an 18-byte descriptor: a monitor descriptor has a zero signature and
    // flag, anything else is a detailed timing.
    struct SDetailedDescHeader
    {
        enum EDetailedDescType
        {
            DETAILED_DESCRIPTOR_TYPE_DETAILED_TIMING = 1,
            DETAILED_DESCRIPTOR_TYPE_MONITOR_SERIAL_NUMBER = 255,
            DETAILED_DESCRIPTOR_TYPE_STRING = 254,
            DETAILED_DESCRIPTOR_TYPE_MONITOR_RANGE_LIMITS = 253,
            DETAILED_DESCRIPTOR_TYPE_MONITOR_NAME = 252,
            DETAILED_DESCRIPTOR_TYPE_EXTRA_COLOR_DATA = 251,
            DETAILED_DESCRIPTOR_TYPE_EXTRA_STD_TIMING = 250
        };

        MUINT8 auiSignature[DETAILED_DESCRIPTOR_HEADER_SIZE];
        MUINT8 uiDescriptorType;
        MUINT8 uiFlag;
    };

    struct SEdidVersion1
    {
        MUINT8 ucHeader[8];
        MUINT8 ucVendProdID[10];
        MUINT8 ucEDIDVer[2];  // version, revision
        MUINT8 ucBasicInfo[5];  // the last byte is the SEdid1FeatureSupport
        MUINT8 ucColorCharact[10];
        MUINT8 ucEstabTiming[3];
        MUINT8 ucStdTiming[16];  // eight SStandard
        MUINT8 ucDetailedTiming[72];  // four 18-byte descriptors
        MUINT8 ucExtensionFlag;
        MUINT8 ucChecksum;
    };

    // ---- Version 2.0 -----------------------------------------------------------------------

    struct SEdidVersion2
    {
        MUINT8 ucVersion;  // version in the high nibble, revision in the low one
        MUINT8 ucVendProdID2[7];
        MUINT8 ucProductID[32];  // manufacturer name, TAB, product name, LF
        MUINT8 ucSerialNum[16];
        MUINT8 ucUnused[8];
        MUINT8 ucDisplayParam[15];
        MUINT8 ucDisplayDevice[5];
        MUINT8 ucDisplayResponse[2];
        MUINT8 ucLuminance[28];
        MUINT8 ucDisplaySpacial[10];
        MUINT8 ucUnused2;
        MUINT8 ucGTFSupport;
        MUINT8 ucMapOfTiming[2];  // SEdid2TimingMapping
        MUINT8 ucTiming[127];
        MUINT8 ucChecksum2;
    };

    // What the timing section (ucTiming) holds, bit 0 of byte 126 first.
    struct SEdid2TimingMapping
    {
        MUINT16 uiDetailedRangeLimitsCount : 2;
        MUINT16 uiFrequencyRangeCount : 3;
        MUINT16 bLuminanceTableAvailable : 1;
        MUINT16 bPreferredMode : 1;
        MUINT16 bExtentionFlag : 1;
        MUINT16 uiDetailedTimingDescCount : 3;
        MUINT16 uiTimingCodesCount : 5;
    };

    // The entries of the timing section, in the order they are stored.
    enum EEdid2TimingType
    {
        EDID2_TYPE_LUMINANCE_TABLES = 1,
        EDID2_TYPE_FREQUENCY_RANGES = 2,
        EDID2_TYPE_DETAILED_RANGE_LIMITS = 3,
        EDID2_TYPE_TIMING_CODES = 4,
        EDID2_TYPE_DETAILED_TIMINGS = 5
    };

    enum EEdid2TimingSize
    {
        EDID2_SIZE_FREQUENCY_RANGE = 8,
        EDID2_SIZE_DETAILED_RANGE_LIMITS = 27,
        EDID2_SIZE_TIMING_CODE = 4,
        EDID2_SIZE_DETAILED_TIMING = 18
    };

    // First byte of the luminance table.
    struct SLumaFormat
    {
        MUINT8 uiEntryCount : 5;
        MUINT8 uiReserved : 2;
        MUINT8 bSeparateChannel : 1;
    };

    // A frequency-range entry: each rate is High x 4 + Low, each clock (Low + High x 256) MHz.
    struct Edid2RangeLimitRaw
    {
        MUINT8 uiVRateMinHigh;
        MUINT8 uiVRateMaxHigh;
        MUINT8 uiHRateMinHigh;
        MUINT8 uiHRateMaxHigh;
        MUINT8 uiHRateMaxLow : 2;
        MUINT8 uiHRateMinLow : 2;
        MUINT8 uiVRateMaxLow : 2;
        MUINT8 uiVRateMinLow : 2;
        MUINT8 uiMinPixelClockLow;
        MUINT8 uiMaxPixelClockLow;
        MUINT8 uiMaxPixelClockHigh : 4;
        MUINT8 uiMinPixelClockHigh : 4;
    };

    // A timing code: width / 16 - 16, flags, aspect (height per 100 of width), refresh.
    struct SStandard2
    {
        MUINT8 uiHorizontalActive;
        MUINT8 uiReserved : 6;
        MUINT8 bInterlaced : 1;
        MUINT8 uiReserved2 : 1;
        MUINT8 uiAspectRatio;
        MUINT8 uiRefreshRate;
    };

    union UEdid
    {
        SEdidVersion1 oV1;
        SEdidVersion2 oV2;
    };

    // ---- Results ---------------------------------------------------------------------------

    struct SRangeLimits
    {
        MUINT32 uiVRateMin;  // Hz
        MUINT32 uiVRateMax;
        MUINT32 uiHRateMin;  // kHz
        MUINT32 uiHRateMax;
        MUINT32 uiMinPixClock;  // kHz
        MUINT32 uiMaxPixClock;
    };

    struct SGtfSecFormulaParams
    {
        MUINT32 uiStartFreqSecCurve;  // kHz
        MUINT32 uiCValue;
        MUINT32 uiMValue;
        MUINT32 uiKValue;
        MUINT32 uiJValue;
    };

    struct SManufacturer
    {
        const MCHAR8* szManufID;
        const MCHAR8* szManufName;
    };

    // Manufacturer IDs and names, first match wins; ended by a pair of nulls.
    static const SManufacturer s_aoManufaturerTable[];

    // The 8 bytes that start a version-1 EDID, and the signature and flag of a monitor
    // descriptor.
    static const MUINT8 EDID_V1_HEADER[8];
    static const MUINT8 EDID_V1_DETAILED_DESC_HEADER_SIGNATURE[DETAILED_DESCRIPTOR_HEADER_SIZE];
    static constexpr MUINT8 EDID_V1_DETAILED_DESC_HEADER_FLAG = 0;

    // ---- Operations ------------------------------------------------------------------------

    // Reads the EDID of a display from the driver's hex dump. A new object owned by the caller,
    // or null for a missing, empty or malformed dump.
    static CEdid* Read(MUINT uiDisplayIndex);

    // Copies iSize bytes (at most 256; a longer EDID is cut to its first 256 bytes) and
    // classifies the layout: data starting with the version-1 header is version 1, anything
    // else version 2.
    CEdid(const MUINT8* pData, MINT32 iSize);
    CEdid(const CEdid&) = delete;
    CEdid& operator=(const CEdid&) = delete;

    // 128 x the leading chunks of 128 bytes holding a nonzero byte. Only whole chunks within
    // the buffer count.
    static MUINT32 GetEdidSizeFromData(MUINT32 uiEdidBufferSize, const MUINT8* pauiEdidBuffer);

    // Copies min(uiBufferSize, GetSize()) bytes; returns the count.
    virtual MUINT32 GetEdidBuffer(MUINT8* puiBuffer, MUINT32 uiBufferSize) const;
    // 128 for version 1 (the base block only), 256 for version 2.
    virtual MUINT32 GetSize() const;
    // The first GetSize() bytes sum to 0 modulo 256.
    virtual MBOOL32 IsChecksumValid() const;
    // Version 1: the uiIndex-th of the eight standard timings; version 2: the uiIndex-th timing
    // code. False for an unused or missing entry.
    virtual MBOOL32 GetStandard(MUINT32 uiIndex, CDetailedTiming& roTiming) const;
    // The uiIndex-th detailed timing descriptor.
    virtual MBOOL32 GetDetailed(MUINT32 uiIndex, CDetailedTiming& roTiming) const;

    MUINT32 GetVersion() const;
    MUINT32 GetRevision() const;
    MBOOL32 IsVersion1Format() const { return m_bVersion1; }

    // The three-letter ID and a NUL into a buffer of at least 4 bytes; returns 3, else 0.
    MUINT32 GetManufacturerID(MCHAR8* pszManufacturerID, MUINT32 uiBufferSize) const;
    // The maker's name, cut to the buffer; returns its length, 0 when the ID is not known.
    MUINT32 GetManufacturerName(MCHAR8* pszManufacturerName, MUINT32 uiBufferSize) const;

    // Strings up to their LF or TAB, cut to the buffer (without a terminator when they fill
    // it); true when at least one character was found.
    MBOOL32 GetDetailedMonitorName(MCHAR8* pszMonitorName, MUINT32 uiBufferSize) const;
    MBOOL32 GetDetailedSerialNumber(MCHAR8* pszSerialNumber, MUINT32 uiBufferSize) const;
    MBOOL32 GetDetailedMonitorString(MCHAR8* pszMonitorString, MUINT32 uiBufferSize) const;
    MBOOL32 GetDetailedExtraColorData() const;

    MBOOL32 GetDetailedMonitorRangeLimits(SRangeLimits& roRangeLimits, MUINT32 uiIndex) const;
    MBOOL32 GetGtfSecondFormulaParameters(SGtfSecFormulaParams& roParams) const;

    MBOOL32 IsPreferredModeAvailable() const;
    MBOOL32 GetPreferredMode(CDetailedTiming& roPreferredTiming) const;

    // One established timing: from the mode table, or for the modes it lacks from the GTF
    // unless bVESACompliantOnly is set. roTiming is cleared first.
    MBOOL32 GetEstablished(EEstablishedTiming eTiming, CDetailedTiming& roTiming, MBOOL32 bVESACompliantOnly) const;
    // The uiIndex-th established timing announced that resolves, in bit order.
    MBOOL32 GetEstablished(MUINT32 uiIndex, CDetailedTiming& roTiming, MBOOL32 bVESACompliantOnly) const;
    // The standard timings held in extra-standard-timing descriptors, six per descriptor.
    MBOOL32 GetDetailedExtraStdTiming(MUINT32 uiIndex, CDetailedTiming& roTiming) const;

    MUINT32 GetDetailedNumber() const;
    MUINT32 GetStandardNumber() const;

private:
    typedef SDetailedDescHeader::EDetailedDescType EDetailedDescType;

    const MUINT8* GetBytes() const { return reinterpret_cast<const MUINT8*>(&m_oEdidData); }

    const SDetailedDescHeader* GetDetailedDescriptor(EDetailedDescType eType, MUINT32 uiIndex) const;
    MBOOL32 IsDescriptorMonitorOfType(const SDetailedDescHeader* poHeader, EDetailedDescType eType) const;
    static MUINT32 GetASCIIStringFromDescriptor(const MUINT8* pucSource, MUINT32 uiSourceLength, MCHAR8* pszDest,
                                                MUINT32 uiDestSize);
    MBOOL32 GetDescriptorString(EDetailedDescType eType, MCHAR8* psz, MUINT32 uiBufferSize) const;
    const MUINT8* GetEdid2Timing(EEdid2TimingType eType, MUINT32 uiIndex) const;
    MUINT32 GetEdid2LuminanceTableSize() const;
    SEdid2TimingMapping GetEdid2TimingMapping() const;
    MBOOL32 GetStandardTiming(const SStandard* poStandard, CDetailedTiming& roTiming) const;

    UEdid m_oEdidData;
    SEdidVersion1* m_poEdid1;
    SEdidVersion2* m_poEdid2;
    MBOOL32 m_bVersion1;
    EEstablishedTiming m_aeEstablishedSeachOrder[ESTABLISHED_MAX_INDEX];
};

static_assert(sizeof(CEdid::SEdidVersion1) == 128, "an EDID 1.x base block is 128 bytes");
static_assert(sizeof(CEdid::SEdidVersion2) == 256, "an EDID 2.0 block is 256 bytes");
static_assert(sizeof(CEdid::UEdid) == 256, "the EDID copy holds 256 bytes");
static_assert(sizeof(CEdid::SEdid2TimingMapping) == 2, "the timing map is 16 bits");
static_assert(sizeof(CEdid::Edid2RangeLimitRaw) == 8, "a frequency range is 8 bytes");

#endif // EDID_H
