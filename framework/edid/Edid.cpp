#include "edid/Edid.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "GenUtils.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"

const MUINT8 CEdid::EDID_V1_HEADER[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
const MUINT8 CEdid::EDID_V1_DETAILED_DESC_HEADER_SIGNATURE[DETAILED_DESCRIPTOR_HEADER_SIZE] = {0x00, 0x00, 0x00};

const CEdid::SManufacturer CEdid::s_aoManufaturerTable[] = {
    {"AOC", "AOC International (U.S.A.), Ltd."},
    {"API", "Acer"},
    {"APP", "Apple Computer, Inc."},
    {"AST", "AST"},
    {"MAX", "Maxdata Computer Gmbh"},
    {"BRG", "Bridge Information Co., Ltd"},
    {"CPQ", "Compaq"},
    {"CTX", "CTX - Chuntex Electronic"},
    {"CPC", "Daewoo"},
    {"DWE", "Daewoo"},
    {"DEC", "DEC"},
    {"DEL", "Dell Computer Corp."},
    {"DPC", "Delta Electronics, Inc."},
    {"ECS", "ELITEGROUP Computer Systems"},
    {"EIZ", "EIZO NANAO"},
    {"ENC", "EIZO NANAO"},
    {"NAN", "EIZO NANAO"},
    {"ELS", "Elsa AG"},
    {"CCP", "EPSON"},
    {"EHJ", "EPSON"},
    {"SEC", "EPSON"},
    {"FPA", "FUJITSU"},
    {"FUJ", "FUJITSU"},
    {"FCM", "Funai Electric Company of Taiwan"},
    {"GWY", "Gateway"},
    {"HSL", "Hansol Electronics"},
    {"HIT", "Hitachi"},
    {"HTC", "Hitachi"},
    {"HWP", "Hewlett Packard"},
    {"HEI", "Hyundai Electronics Industries Co., Ltd"},
    {"IBM", "IBM"},
    {"ICL", "Fujitsu ICL"},
    {"IVM", "Iiyama"},
    {"IOD", "I-O DATA DEVICE, INC."},
    {"KDS", "Korea Data Systems"},
    {"GSM", "LG"},
    {"MAG", "MAG"},
    {"MIR", "Miro Computer Products AG"},
    {"MTC", "MITAC"},
    {"MEL", "NEC-MITSUBISHI ELECTRIC VISUAL SYSTEMS"},
    {"MDD", "MODIS"},
    {"NEC", "NEC"},
    {"ADI", "ADI"},
    {"NOK", "NOKIA"},
    {"OKI", "OKI"},
    {"PBN", "Packard Bell"},
    {"MEI", "Panasonic"},
    {"PHL", "Philips Consumer Electronics Co."},
    {"PLB", "PLB Monitor, Inc."},
    {"PGS", "Princeton Graphic Systems"},
    {"PTS", "Proview Technology Corp."},
    {"REL", "Relisys"},
    {"SAM", "Samsung"},
    {"SDI", "Samsung"},
    {"STN", "SAMTRON"},
    {"SIB", "SANYO"},
    {"SGX", "Silicon Graphics"},
    {"SML", "Smile International Corp."},
    {"SNY", "SONY Corporation"},
    {"STC", "Sampo"},
    {"TAT", "Tatung"},
    {"TAX", "Taxan"},
    {"TEA", "TEAC"},
    {"TOS", "Toshiba"},
    {"TTK", "TOTOKU"},
    {"TRL", "Royal Information Company"},
    {"TVM", "TVM"},
    {"UNM", "Unisys"},
    {"OQI", "ViewSonic"},
    {"VSC", "ViewSonic"},
    {"SHP", "Sharp"},
    {"FIM", "FIMI"},
    {"NDI", "National Display"},
    {"WKC", "Wide/Image System"},
    {"DYS", "Dooyang"},
    {"CTL", "Chilin"},
    {"BDS", "Barco"},
    {"PHL", "Philips Consumer Electronics Co."},
    {"PPM", "Clinton"},
    {"NEC", "NEC-MITSUBISHI ELECTRIC VISUAL SYSTEMS"},
    {"HYC", "Iheeyong"},
    {nullptr, nullptr},
};

namespace
{
const MUINT32 local_uiEdidMaxSize = 256;
const MUINT32 local_uiEdidBlockSize = 128;

// Byte offsets of the fields read directly.
const MUINT32 local_uiV1VendorOffset = 8;
const MUINT32 local_uiV1VersionOffset = 18;
const MUINT32 local_uiV1RevisionOffset = 19;
const MUINT32 local_uiV1FeatureOffset = 24;
const MUINT32 local_uiV1EstablishedOffset = 35;
const MUINT32 local_uiV1StandardOffset = 38;
const MUINT32 local_uiV1DescriptorOffset = 54;
const MUINT32 local_uiV2VendorOffset = 1;

// Where an EDID descriptor's payload (text, range limits, standard timings) starts.
const MUINT32 local_uiDescriptorPayload = 5;

// The driver's hex dump: a label "%04X:" with the line's byte offset, one separator, then 16
// bytes of two hex digits and one separator each.
const MUINT32 local_uiDumpBytesPerLine = 16;
const MUINT32 local_uiDumpCharsPerByte = 3;
const MUINT32 local_uiDumpCharsPerLine = local_uiDumpBytesPerLine * local_uiDumpCharsPerByte;

// An established timing and where its full timing comes from.
struct SEstablishedMode
{
    CEdid::EEstablishedTiming eTiming;
    MINT32 iHActive;
    MINT32 iVActive;
    MINT32 iVRate;
    bool bInModeTable;
};

// The interlaced 1024x768 mode (87 Hz fields) is the mode table's 43 Hz frame row.
const SEstablishedMode local_aoEstablishedModes[] = {
    {CEdid::ESTABLISHED_I_800x600_60, 800, 600, 60, true},
    {CEdid::ESTABLISHED_I_800x600_56, 800, 600, 56, true},
    {CEdid::ESTABLISHED_I_640x480_75, 640, 480, 75, true},
    {CEdid::ESTABLISHED_I_640x480_72, 640, 480, 72, true},
    {CEdid::ESTABLISHED_I_640x480_60, 640, 480, 60, true},
    {CEdid::ESTABLISHED_II_1024x768_75, 1024, 768, 75, true},
    {CEdid::ESTABLISHED_II_1024x768_70, 1024, 768, 70, true},
    {CEdid::ESTABLISHED_II_1024x768_60, 1024, 768, 60, true},
    {CEdid::ESTABLISHED_II_800x600_75, 800, 600, 75, true},
    {CEdid::ESTABLISHED_II_800x600_72, 800, 600, 72, true},
    {CEdid::ESTABLISHED_II_1280x1024_75, 1280, 1024, 75, true},
    {CEdid::ESTABLISHED_II_1024x768_87i, 1024, 768, 43, true},
    {CEdid::ESTABLISHED_I_640x480_67, 640, 480, 67, false},
    {CEdid::ESTABLISHED_I_720x400_88, 720, 400, 88, false},
    {CEdid::ESTABLISHED_I_720x400_70, 720, 400, 70, false},
    {CEdid::ESTABLISHED_II_832x624_75, 832, 624, 75, false},
    {CEdid::ESTABLISHED_MANUFACTURER_1152x870_75, 1152, 870, 75, false},
};

// Enumeration order of the established timings: their bit order, byte 35 bit 7 first.
const CEdid::EEstablishedTiming local_aeEstablishedBitOrder[CEdid::ESTABLISHED_MAX_INDEX] = {
    CEdid::ESTABLISHED_I_720x400_70,    CEdid::ESTABLISHED_I_720x400_88,     CEdid::ESTABLISHED_I_640x480_60,
    CEdid::ESTABLISHED_I_640x480_67,    CEdid::ESTABLISHED_I_640x480_72,     CEdid::ESTABLISHED_I_640x480_75,
    CEdid::ESTABLISHED_I_800x600_56,    CEdid::ESTABLISHED_I_800x600_60,     CEdid::ESTABLISHED_II_800x600_72,
    CEdid::ESTABLISHED_II_800x600_75,   CEdid::ESTABLISHED_II_832x624_75,    CEdid::ESTABLISHED_II_1024x768_87i,
    CEdid::ESTABLISHED_II_1024x768_60,  CEdid::ESTABLISHED_II_1024x768_70,   CEdid::ESTABLISHED_II_1024x768_75,
    CEdid::ESTABLISHED_II_1280x1024_75, CEdid::ESTABLISHED_MANUFACTURER_1152x870_75,
};

// Every character of a file; an empty text when it cannot be opened.
std::string local_ReadText(const std::string& roPath)
{
    std::string oText;
    std::unique_ptr<FILE, int (*)(FILE*)> hFile(fopen(roPath.c_str(), "r"), fclose);
    if (!hFile)
        return oText;
    char acChunk[4096];
    size_t uiRead;
    while ((uiRead = fread(acChunk, 1, sizeof(acChunk), hFile.get())) > 0)
        oText.append(acChunk, uiRead);
    return oText;
}

// Collects the 48 data characters of every line of the dump, from the line labelled 0000: on,
// up to the first label missing. Returns the number of lines found.
size_t local_CollectDumpLines(const std::string& roText, std::string& roCollected)
{
    size_t uiLines = 0;
    size_t uiSearchFrom = 0;
    for (;;)
    {
        char szLabel[24];
        const int iLabelLength =
            snprintf(szLabel, sizeof(szLabel), "%04llX:",
                     static_cast<unsigned long long>(uiLines) * local_uiDumpBytesPerLine);
        const size_t uiLabel = roText.find(szLabel, uiSearchFrom);
        if (uiLabel == std::string::npos)
            return uiLines;
        const size_t uiData = uiLabel + static_cast<size_t>(iLabelLength) + 1;
        if (uiData < roText.size())
            roCollected.append(roText, uiData, local_uiDumpCharsPerLine);
        uiSearchFrom = uiLabel;
        uiLines++;
    }
}

// One byte of the dump: the two characters at its position, read as "%02x".
bool local_ParseDumpByte(const std::string& roCollected, size_t uiIndex, MUINT8& ruiByte)
{
    const size_t uiPos = uiIndex * local_uiDumpCharsPerByte;
    const char szField[3] = {roCollected[uiPos], roCollected[uiPos + 1], '\0'};
    unsigned int uiValue = 0;
    if (sscanf(szField, "%02x", &uiValue) != 1)
        return false;
    ruiByte = static_cast<MUINT8>(uiValue);
    return true;
}

CEdid* local_ReadDump(const std::string& roPath)
{
    const std::string oText = local_ReadText(roPath);
    if (oText.empty())
        return nullptr;

    std::string oCollected;
    const size_t uiLines = local_CollectDumpLines(oText, oCollected);
    const size_t uiByteCount = uiLines * local_uiDumpBytesPerLine;
    if (uiLines == 0 || oCollected.size() < uiByteCount * local_uiDumpCharsPerByte)
        return nullptr;

    // Every byte of the dump must parse; only the first 256 are kept.
    MUINT8 auiBytes[local_uiEdidMaxSize];
    for (size_t uiIndex = 0; uiIndex < uiByteCount; uiIndex++)
    {
        MUINT8 uiByte = 0;
        if (!local_ParseDumpByte(oCollected, uiIndex, uiByte))
            return nullptr;
        if (uiIndex < local_uiEdidMaxSize)
            auiBytes[uiIndex] = uiByte;
    }
    const MINT32 iSize = static_cast<MINT32>(uiByteCount < local_uiEdidMaxSize ? uiByteCount : local_uiEdidMaxSize);
    return new (std::nothrow) CEdid(auiBytes, iSize);
}
} // namespace

CEdid* CEdid::Read(MUINT uiDisplayIndex)
{
    char szPath[52];
    snprintf(szPath, sizeof(szPath), "/sys/devices/platform/vpss/display%d/edid", static_cast<int>(uiDisplayIndex));
    try
    {
        return local_ReadDump(PlatformPath(szPath));
    }
    catch (const std::bad_alloc&)
    {
        // A dump too large to hold is no EDID either.
        return nullptr;
    }
}

CEdid::CEdid(const MUINT8* pData, MINT32 iSize)
    : m_oEdidData(), m_poEdid1(nullptr), m_poEdid2(nullptr), m_bVersion1(false), m_aeEstablishedSeachOrder()
{
    if (pData != nullptr && iSize > 0)
    {
        const MUINT32 uiSize = static_cast<MUINT32>(iSize);
        memcpy(&m_oEdidData, pData, uiSize < local_uiEdidMaxSize ? uiSize : local_uiEdidMaxSize);
    }

    if (memcmp(GetBytes(), EDID_V1_HEADER, sizeof(EDID_V1_HEADER)) == 0)
    {
        m_poEdid1 = &m_oEdidData.oV1;
        m_bVersion1 = true;
        memcpy(m_aeEstablishedSeachOrder, local_aeEstablishedBitOrder, sizeof(m_aeEstablishedSeachOrder));
    }
    else
    {
        m_poEdid2 = &m_oEdidData.oV2;
        for (EEstablishedTiming& reTiming : m_aeEstablishedSeachOrder)
            reTiming = ESTABLISHED_NONE;
    }
}

MUINT32 CEdid::GetEdidSizeFromData(MUINT32 uiEdidBufferSize, const MUINT8* pauiEdidBuffer)
{
    if (pauiEdidBuffer == nullptr)
        return 0;
    MUINT32 uiChunks = 0;
    for (MUINT32 uiOffset = 0; uiEdidBufferSize - uiOffset >= local_uiEdidBlockSize; uiOffset += local_uiEdidBlockSize)
    {
        const MUINT8* puiChunk = pauiEdidBuffer + uiOffset;
        bool bUsed = false;
        for (MUINT32 uiByte = 0; uiByte < local_uiEdidBlockSize && !bUsed; uiByte++)
            bUsed = puiChunk[uiByte] != 0;
        if (!bUsed)
            break;
        uiChunks++;
    }
    return uiChunks * local_uiEdidBlockSize;
}

MUINT32 CEdid::GetEdidBuffer(MUINT8* puiBuffer, MUINT32 uiBufferSize) const
{
    if (puiBuffer == nullptr || uiBufferSize == 0)
        return 0;
    const MUINT32 uiCount = uiBufferSize < GetSize() ? uiBufferSize : GetSize();
    memcpy(puiBuffer, GetBytes(), uiCount);
    return uiCount;
}

MUINT32 CEdid::GetSize() const
{
    return m_bVersion1 ? local_uiEdidBlockSize : local_uiEdidMaxSize;
}

MBOOL32 CEdid::IsChecksumValid() const
{
    const MUINT8* puiBytes = GetBytes();
    MUINT8 uiSum = 0;
    for (MUINT32 uiIndex = 0; uiIndex < GetSize(); uiIndex++)
        uiSum = static_cast<MUINT8>(uiSum + puiBytes[uiIndex]);
    return uiSum == 0;
}

MUINT32 CEdid::GetVersion() const
{
    return m_bVersion1 ? GetBytes()[local_uiV1VersionOffset] : m_oEdidData.oV2.ucVersion >> 4;
}

MUINT32 CEdid::GetRevision() const
{
    return m_bVersion1 ? GetBytes()[local_uiV1RevisionOffset] : m_oEdidData.oV2.ucVersion & 0x0F;
}

// ---- Manufacturer ------------------------------------------------------------------------------

MUINT32 CEdid::GetManufacturerID(MCHAR8* pszManufacturerID, MUINT32 uiBufferSize) const
{
    if (pszManufacturerID == nullptr || uiBufferSize < 4)
        return 0;
    // Three 5-bit letters, 1 for 'A', big-endian.
    const MUINT8* puiVendor = GetBytes() + (m_bVersion1 ? local_uiV1VendorOffset : local_uiV2VendorOffset);
    const MUINT32 uiWord = (static_cast<MUINT32>(puiVendor[0]) << 8) | puiVendor[1];
    pszManufacturerID[0] = static_cast<MCHAR8>(((uiWord >> 10) & 31) + 64);
    pszManufacturerID[1] = static_cast<MCHAR8>(((uiWord >> 5) & 31) + 64);
    pszManufacturerID[2] = static_cast<MCHAR8>((uiWord & 31) + 64);
    pszManufacturerID[3] = '\0';
    return 3;
}

MUINT32 CEdid::GetManufacturerName(MCHAR8* pszManufacturerName, MUINT32 uiBufferSize) const
{
    if (pszManufacturerName == nullptr)
        return 0;
    memset(pszManufacturerName, 0, uiBufferSize);

    MCHAR8 szID[4];
    GetManufacturerID(szID, sizeof(szID));
    for (const SManufacturer* poEntry = s_aoManufaturerTable; poEntry->szManufID != nullptr; poEntry++)
    {
        if (strncmp(poEntry->szManufID, szID, 3) != 0)
            continue;
        const size_t uiLength = strlen(poEntry->szManufName);
        const size_t uiCopied = uiLength < uiBufferSize ? uiLength : uiBufferSize;
        memcpy(pszManufacturerName, poEntry->szManufName, uiCopied);
        return static_cast<MUINT32>(uiCopied);
    }
    return 0;
}

// ---- Version-1 descriptors and strings ---------------------------------------------------------

MBOOL32 CEdid::IsDescriptorMonitorOfType(const SDetailedDescHeader* poHeader, EDetailedDescType eType) const
{
    if (!m_bVersion1 || poHeader == nullptr)
        return false;
    const bool bMonitorDescriptor = memcmp(poHeader->auiSignature, EDID_V1_DETAILED_DESC_HEADER_SIGNATURE,
                                           sizeof(EDID_V1_DETAILED_DESC_HEADER_SIGNATURE)) == 0 &&
                                    poHeader->uiFlag == EDID_V1_DETAILED_DESC_HEADER_FLAG;
    if (bMonitorDescriptor)
        return poHeader->uiDescriptorType == static_cast<MUINT32>(eType);
    return eType == SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_DETAILED_TIMING;
}

const CEdid::SDetailedDescHeader* CEdid::GetDetailedDescriptor(EDetailedDescType eType, MUINT32 uiIndex) const
{
    if (!m_bVersion1)
        return nullptr;
    MUINT32 uiMatch = 0;
    for (MUINT32 uiSlot = 0; uiSlot < DETAILED_MAX_INDEX; uiSlot++)
    {
        const SDetailedDescHeader* poHeader = reinterpret_cast<const SDetailedDescHeader*>(
            GetBytes() + local_uiV1DescriptorOffset + uiSlot * DETAILED_DESCRIPTOR_SIZE);
        if (!IsDescriptorMonitorOfType(poHeader, eType))
            continue;
        if (uiMatch == uiIndex)
            return poHeader;
        uiMatch++;
    }
    return nullptr;
}

MUINT32 CEdid::GetASCIIStringFromDescriptor(const MUINT8* pucSource, MUINT32 uiSourceLength, MCHAR8* pszDest,
                                            MUINT32 uiDestSize)
{
    if (pucSource == nullptr || pszDest == nullptr)
        return 0;
    memset(pszDest, 0, uiDestSize);
    const MUINT32 uiLimit = uiSourceLength < uiDestSize ? uiSourceLength : uiDestSize;
    MUINT32 uiCount = 0;
    while (uiCount < uiLimit && pucSource[uiCount] != EDID_STRING_TERMINATOR && pucSource[uiCount] != EDID_STRING_SEPARATOR)
    {
        pszDest[uiCount] = static_cast<MCHAR8>(pucSource[uiCount]);
        uiCount++;
    }
    return uiCount;
}

MBOOL32 CEdid::GetDescriptorString(EDetailedDescType eType, MCHAR8* psz, MUINT32 uiBufferSize) const
{
    const SDetailedDescHeader* poHeader = GetDetailedDescriptor(eType, 0);
    if (poHeader == nullptr)
        return false;
    const MUINT8* pucText = reinterpret_cast<const MUINT8*>(poHeader) + local_uiDescriptorPayload;
    return GetASCIIStringFromDescriptor(pucText, EDID_1_X_STRING_MAX_LENGTH, psz, uiBufferSize) > 0;
}

MBOOL32 CEdid::GetDetailedMonitorName(MCHAR8* pszMonitorName, MUINT32 uiBufferSize) const
{
    if (m_bVersion1)
        return GetDescriptorString(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_MONITOR_NAME, pszMonitorName,
                                   uiBufferSize);

    // Version 2: "manufacturer TAB product LF"; the product name follows the first separator.
    const MUINT8* pucProductID = m_oEdidData.oV2.ucProductID;
    MCHAR8 szManufacturer[EDID_2_0_MANUFACTURER_MAX_LENGTH + 1];
    const MUINT32 uiManufacturerLength = GetASCIIStringFromDescriptor(
        pucProductID, EDID_2_0_MANUFACTURER_MAX_LENGTH, szManufacturer, sizeof(szManufacturer));
    if (uiManufacturerLength >= EDID_2_0_MANUFACTURER_MAX_LENGTH)
        return false;  // no separator: no name
    return GetASCIIStringFromDescriptor(pucProductID + uiManufacturerLength + 1,
                                        EDID_2_0_MANUFACTURER_MAX_LENGTH - 1 - uiManufacturerLength, pszMonitorName,
                                        uiBufferSize) > 0;
}

MBOOL32 CEdid::GetDetailedSerialNumber(MCHAR8* pszSerialNumber, MUINT32 uiBufferSize) const
{
    if (m_bVersion1)
        return GetDescriptorString(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_MONITOR_SERIAL_NUMBER,
                                   pszSerialNumber, uiBufferSize);
    return GetASCIIStringFromDescriptor(m_oEdidData.oV2.ucSerialNum, EDID_2_0_SERIAL_NUMBER_MAX_LENGTH,
                                        pszSerialNumber, uiBufferSize) > 0;
}

MBOOL32 CEdid::GetDetailedMonitorString(MCHAR8* pszMonitorString, MUINT32 uiBufferSize) const
{
    return GetDescriptorString(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_STRING, pszMonitorString, uiBufferSize);
}

MBOOL32 CEdid::GetDetailedExtraColorData() const
{
    return false;
}

// ---- Range limits and the secondary GTF curve --------------------------------------------------

MBOOL32 CEdid::GetDetailedMonitorRangeLimits(SRangeLimits& roRangeLimits, MUINT32 uiIndex) const
{
    if (m_bVersion1)
    {
        if (uiIndex != 0)
            return false;
        const SDetailedDescHeader* poHeader =
            GetDetailedDescriptor(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_MONITOR_RANGE_LIMITS, 0);
        if (poHeader == nullptr)
            return false;
        const MUINT8* pucDescriptor = reinterpret_cast<const MUINT8*>(poHeader);
        roRangeLimits.uiVRateMin = pucDescriptor[5];
        roRangeLimits.uiVRateMax = pucDescriptor[6];
        roRangeLimits.uiHRateMin = pucDescriptor[7];
        roRangeLimits.uiHRateMax = pucDescriptor[8];
        roRangeLimits.uiMaxPixClock = pucDescriptor[9] * 10000u;
        roRangeLimits.uiMinPixClock = 0;
        return true;
    }

    const MUINT8* pucEntry = GetEdid2Timing(EDID2_TYPE_FREQUENCY_RANGES, uiIndex);
    if (pucEntry == nullptr)
        return false;
    Edid2RangeLimitRaw oRaw;
    memcpy(&oRaw, pucEntry, sizeof(oRaw));
    roRangeLimits.uiVRateMin = oRaw.uiVRateMinHigh * 4u + oRaw.uiVRateMinLow;
    roRangeLimits.uiVRateMax = oRaw.uiVRateMaxHigh * 4u + oRaw.uiVRateMaxLow;
    roRangeLimits.uiHRateMin = oRaw.uiHRateMinHigh * 4u + oRaw.uiHRateMinLow;
    roRangeLimits.uiHRateMax = oRaw.uiHRateMaxHigh * 4u + oRaw.uiHRateMaxLow;
    roRangeLimits.uiMinPixClock = (oRaw.uiMinPixelClockLow + oRaw.uiMinPixelClockHigh * 256u) * 1000u;
    roRangeLimits.uiMaxPixClock = (oRaw.uiMaxPixelClockLow + oRaw.uiMaxPixelClockHigh * 256u) * 1000u;
    return true;
}

MBOOL32 CEdid::GetGtfSecondFormulaParameters(SGtfSecFormulaParams& roParams) const
{
    if (!m_bVersion1 || GetRevision() != 3)
        return false;
    const SDetailedDescHeader* poHeader =
        GetDetailedDescriptor(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_MONITOR_RANGE_LIMITS, 0);
    if (poHeader == nullptr)
        return false;
    const MUINT8* pucDescriptor = reinterpret_cast<const MUINT8*>(poHeader);
    roParams.uiStartFreqSecCurve = pucDescriptor[12] * 2u;
    roParams.uiCValue = pucDescriptor[13] / 2u;
    roParams.uiMValue = pucDescriptor[14] | (pucDescriptor[15] << 8);
    roParams.uiKValue = pucDescriptor[16];
    roParams.uiJValue = pucDescriptor[17] / 2u;
    return true;
}

// ---- Version-2 timing section ------------------------------------------------------------------

CEdid::SEdid2TimingMapping CEdid::GetEdid2TimingMapping() const
{
    SEdid2TimingMapping oMapping;
    memcpy(&oMapping, m_oEdidData.oV2.ucMapOfTiming, sizeof(oMapping));
    return oMapping;
}

MUINT32 CEdid::GetEdid2LuminanceTableSize() const
{
    if (m_bVersion1 || !GetEdid2TimingMapping().bLuminanceTableAvailable)
        return 0;
    SLumaFormat oFormat;
    memcpy(&oFormat, m_oEdidData.oV2.ucTiming, sizeof(oFormat));
    return oFormat.bSeparateChannel ? oFormat.uiEntryCount * 3u + 1 : oFormat.uiEntryCount + 1u;
}

const MUINT8* CEdid::GetEdid2Timing(EEdid2TimingType eType, MUINT32 uiIndex) const
{
    if (m_bVersion1)
        return nullptr;

    // The section holds, in order: the luminance table (one entry when present), frequency
    // ranges, detailed range limits, timing codes, detailed timings.
    const SEdid2TimingMapping oMapping = GetEdid2TimingMapping();
    const MUINT32 uiLuminance = GetEdid2LuminanceTableSize();
    const MUINT32 auiCount[] = {uiLuminance != 0 ? 1u : 0u, oMapping.uiFrequencyRangeCount,
                                oMapping.uiDetailedRangeLimitsCount, oMapping.uiTimingCodesCount,
                                oMapping.uiDetailedTimingDescCount};
    const MUINT32 auiSize[] = {uiLuminance, EDID2_SIZE_FREQUENCY_RANGE, EDID2_SIZE_DETAILED_RANGE_LIMITS,
                               EDID2_SIZE_TIMING_CODE, EDID2_SIZE_DETAILED_TIMING};
    if (eType < EDID2_TYPE_LUMINANCE_TABLES || eType > EDID2_TYPE_DETAILED_TIMINGS)
        return nullptr;
    const MUINT32 uiPart = eType - EDID2_TYPE_LUMINANCE_TABLES;
    if (uiIndex >= auiCount[uiPart])
        return nullptr;
    MUINT32 uiOffset = 0;
    for (MUINT32 uiBefore = 0; uiBefore < uiPart; uiBefore++)
        uiOffset += auiCount[uiBefore] * auiSize[uiBefore];
    uiOffset += auiSize[uiPart] * uiIndex;
    const MUINT32 uiEntrySize = auiSize[uiPart];

    // The counts can announce more than the section holds: such entries are absent.
    if (uiOffset + uiEntrySize > sizeof(m_oEdidData.oV2.ucTiming))
        return nullptr;
    return m_oEdidData.oV2.ucTiming + uiOffset;
}

// ---- Timings -----------------------------------------------------------------------------------

MBOOL32 CEdid::IsPreferredModeAvailable() const
{
    if (m_bVersion1)
    {
        SEdid1FeatureSupport oFeatures;
        memcpy(&oFeatures, GetBytes() + local_uiV1FeatureOffset, sizeof(oFeatures));
        return oFeatures.bPreferredMode;
    }
    return GetEdid2TimingMapping().bPreferredMode;
}

MBOOL32 CEdid::GetPreferredMode(CDetailedTiming& roPreferredTiming) const
{
    if (!IsPreferredModeAvailable())
        return false;
    return GetDetailed(0, roPreferredTiming);
}

MBOOL32 CEdid::GetDetailed(MUINT32 uiIndex, CDetailedTiming& roTiming) const
{
    const MUINT8* pucDescriptor = nullptr;
    if (m_bVersion1)
        pucDescriptor = reinterpret_cast<const MUINT8*>(
            GetDetailedDescriptor(SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_DETAILED_TIMING, uiIndex));
    else
        pucDescriptor = GetEdid2Timing(EDID2_TYPE_DETAILED_TIMINGS, uiIndex);
    if (pucDescriptor == nullptr)
        return false;

    CDetailedTiming::SDetailedRaw oRaw;
    memcpy(&oRaw, pucDescriptor, sizeof(oRaw));
    roTiming.SetTiming(oRaw);
    return true;
}

MBOOL32 CEdid::GetStandardTiming(const SStandard* poStandard, CDetailedTiming& roTiming) const
{
    SStandard oStandard;
    memcpy(&oStandard, poStandard, sizeof(oStandard));
    if (oStandard.uiHorizontalActive == 0 || oStandard.uiHorizontalActive == 1)
        return false;  // unused entry

    const MINT32 iWidth = (oStandard.uiHorizontalActive + 31) * 8;
    MINT32 iHeight = 0;
    switch (oStandard.uiAspectRatio)
    {
    case 0:
        // 1:1 before revision 3, 16:10 from it on.
        iHeight = GetRevision() < 3 ? iWidth : iWidth * 10 / 16;
        break;
    case 1:
        iHeight = iWidth * 3 / 4;
        break;
    case 2:
        iHeight = iWidth * 4 / 5;
        break;
    default:
        iHeight = iWidth * 9 / 16;
        break;
    }
    const MINT32 iRefresh = oStandard.uiRefreshRate + 60;

    if (CVesa::GetVESATiming(roTiming, 0, iWidth, iHeight, iRefresh))
        return true;
    return CGtf::GetGtfTimingBasedOnVRate(roTiming, iWidth, iHeight, iRefresh, false, false, nullptr);
}

MBOOL32 CEdid::GetStandard(MUINT32 uiIndex, CDetailedTiming& roTiming) const
{
    if (m_bVersion1)
    {
        if (uiIndex >= STANDARD_MAX_INDEX)
            return false;
        return GetStandardTiming(
            reinterpret_cast<const SStandard*>(GetBytes() + local_uiV1StandardOffset + uiIndex * sizeof(SStandard)),
            roTiming);
    }

    const MUINT8* pucCode = GetEdid2Timing(EDID2_TYPE_TIMING_CODES, uiIndex);
    if (pucCode == nullptr)
        return false;
    SStandard2 oCode;
    memcpy(&oCode, pucCode, sizeof(oCode));
    const MINT32 iWidth = (oCode.uiHorizontalActive + 16) * 16;
    MINT32 iHeight = 0;
    switch (oCode.uiAspectRatio)
    {
    case 100:
        iHeight = iWidth;
        break;
    case 125:
        iHeight = iWidth * 4 / 5;
        break;
    case 160:
        iHeight = iWidth * 10 / 16;
        break;
    case 178:
        iHeight = iWidth * 9 / 16;
        break;
    default:
        iHeight = iWidth * 3 / 4;
        break;
    }
    const MINT32 iRefresh = oCode.uiRefreshRate;
    if (!CVesa::GetVESATiming(roTiming, 0, iWidth, iHeight, iRefresh))
    {
        roTiming.Clear();
        roTiming.SetHorizontalActive(iWidth);
        roTiming.SetVerticalActive(iHeight);
        roTiming.SetVerticalRefresh(iRefresh);
        roTiming.SetInterlaced(oCode.bInterlaced);
    }
    return true;
}

MBOOL32 CEdid::GetDetailedExtraStdTiming(MUINT32 uiIndex, CDetailedTiming& roTiming) const
{
    const SDetailedDescHeader* poHeader = GetDetailedDescriptor(
        SDetailedDescHeader::DETAILED_DESCRIPTOR_TYPE_EXTRA_STD_TIMING, uiIndex / DETAILED_DESCRIPTOR_EXTRA_STD_TIMING_MAX_NBR);
    if (poHeader == nullptr)
        return false;
    const MUINT32 uiEntry = uiIndex % DETAILED_DESCRIPTOR_EXTRA_STD_TIMING_MAX_NBR;
    return GetStandardTiming(reinterpret_cast<const SStandard*>(reinterpret_cast<const MUINT8*>(poHeader) +
                                                                local_uiDescriptorPayload + uiEntry * sizeof(SStandard)),
                             roTiming);
}

MBOOL32 CEdid::GetEstablished(EEstablishedTiming eTiming, CDetailedTiming& roTiming, MBOOL32 bVESACompliantOnly) const
{
    roTiming.Clear();
    if (!m_bVersion1)
        return false;
    const MUINT8* pucBits = GetBytes() + local_uiV1EstablishedOffset;
    const MUINT32 uiAnnounced = pucBits[0] | (pucBits[1] << 8) | (pucBits[2] << 16);
    if ((uiAnnounced & static_cast<MUINT32>(eTiming)) == 0)
        return false;

    for (const SEstablishedMode& roMode : local_aoEstablishedModes)
    {
        if (roMode.eTiming != eTiming)
            continue;
        if (roMode.bInModeTable)
            return CVesa::GetVESATiming(roTiming, 0, roMode.iHActive, roMode.iVActive, roMode.iVRate);
        if (bVESACompliantOnly)
            return false;
        return CGtf::GetGtfTimingBasedOnVRate(roTiming, roMode.iHActive, roMode.iVActive, roMode.iVRate, false, false,
                                              nullptr);
    }
    return false;
}

MBOOL32 CEdid::GetEstablished(MUINT32 uiIndex, CDetailedTiming& roTiming, MBOOL32 bVESACompliantOnly) const
{
    if (!m_bVersion1)
    {
        roTiming.Clear();
        return false;
    }
    if (uiIndex >= ESTABLISHED_MAX_INDEX)
        return false;

    MUINT32 uiResolved = 0;
    for (const EEstablishedTiming eTiming : m_aeEstablishedSeachOrder)
    {
        CDetailedTiming oScratch;
        if (!GetEstablished(eTiming, oScratch, bVESACompliantOnly))
            continue;
        if (uiResolved == uiIndex)
        {
            roTiming = oScratch;
            return true;
        }
        uiResolved++;
    }
    return false;
}

MUINT32 CEdid::GetDetailedNumber() const
{
    CDetailedTiming oTiming;
    MUINT32 uiCount = 0;
    while (GetDetailed(uiCount, oTiming))
        uiCount++;
    return uiCount;
}

MUINT32 CEdid::GetStandardNumber() const
{
    CDetailedTiming oTiming;
    MUINT32 uiCount = 0;
    while (GetStandard(uiCount, oTiming))
        uiCount++;
    return uiCount;
}
