#include "EdidFuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <vector>

#include "edid/Edid.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"

namespace
{
// Display 0's EDID file below the platform root: the one PELLIX_PLATFORM_ROOT names, else a
// private folder made once for the whole run.
std::string EdidFilePath()
{
    const char* szRoot = getenv("PELLIX_PLATFORM_ROOT");
    if (szRoot == nullptr || szRoot[0] == '\0')
    {
        static const std::string s_oOwnRoot = [] {
            char szTemplate[] = "/tmp/pellix-edid-fuzz-XXXXXX";
            return std::string(mkdtemp(szTemplate));
        }();
        setenv("PELLIX_PLATFORM_ROOT", s_oOwnRoot.c_str(), 1);
        szRoot = s_oOwnRoot.c_str();
    }
    static std::string s_oPreparedRoot;
    std::string oFolder = szRoot;
    if (s_oPreparedRoot != szRoot)
    {
        for (const char* szPart : {"/sys", "/devices", "/platform", "/vpss", "/display0"})
        {
            oFolder += szPart;
            mkdir(oFolder.c_str(), 0700);
        }
        s_oPreparedRoot = szRoot;
    }
    else
    {
        oFolder += "/sys/devices/platform/vpss/display0";
    }
    return oFolder + "/edid";
}

int32_t Word(const uint8_t* puiData, size_t uiSize, size_t uiAt)
{
    int32_t iValue = 0;
    for (size_t i = 0; i < 4; i++)
        iValue = static_cast<int32_t>(static_cast<uint32_t>(iValue) << 8 | (uiAt + i < uiSize ? puiData[uiAt + i] : 0));
    return iValue;
}

// Strings into heap buffers of exactly the size given, so that the address sanitizer sees a
// write or read past them.
template <typename FQuery>
void QueryText(FQuery fnQuery, uint32_t uiBufferSize)
{
    std::unique_ptr<char[]> pszBuffer(new char[uiBufferSize == 0 ? 1 : uiBufferSize]);
    fnQuery(pszBuffer.get(), uiBufferSize);
}

void QueryAll(const CEdid& roEdid, uint32_t uiBufferSize)
{
    volatile uint32_t uiSink = 0;
    CDetailedTiming oTiming;

    uiSink = uiSink + roEdid.GetSize() + roEdid.IsChecksumValid() + roEdid.GetVersion() + roEdid.GetRevision() +
             roEdid.IsVersion1Format() + roEdid.GetDetailedExtraColorData();
    std::unique_ptr<uint8_t[]> puiCopy(new uint8_t[uiBufferSize == 0 ? 1 : uiBufferSize]);
    uiSink = uiSink + roEdid.GetEdidBuffer(puiCopy.get(), uiBufferSize);

    QueryText([&](char* psz, uint32_t uiSize) { uiSink = uiSink + roEdid.GetManufacturerID(psz, uiSize); }, uiBufferSize);
    QueryText([&](char* psz, uint32_t uiSize) { uiSink = uiSink + roEdid.GetManufacturerName(psz, uiSize); },
              uiBufferSize);
    QueryText([&](char* psz, uint32_t uiSize) { uiSink = uiSink + roEdid.GetDetailedMonitorName(psz, uiSize); },
              uiBufferSize);
    QueryText([&](char* psz, uint32_t uiSize) { uiSink = uiSink + roEdid.GetDetailedSerialNumber(psz, uiSize); },
              uiBufferSize);
    QueryText([&](char* psz, uint32_t uiSize) { uiSink = uiSink + roEdid.GetDetailedMonitorString(psz, uiSize); },
              uiBufferSize);

    CEdid::SRangeLimits oLimits;
    for (uint32_t uiIndex = 0; uiIndex < 8; uiIndex++)
        uiSink = uiSink + roEdid.GetDetailedMonitorRangeLimits(oLimits, uiIndex);
    CEdid::SGtfSecFormulaParams oParams;
    uiSink = uiSink + roEdid.GetGtfSecondFormulaParameters(oParams);

    uiSink = uiSink + roEdid.IsPreferredModeAvailable() + roEdid.GetPreferredMode(oTiming);
    uiSink = uiSink + roEdid.GetDetailedNumber() + roEdid.GetStandardNumber();
    for (uint32_t uiIndex = 0; uiIndex < 40; uiIndex++)
        uiSink = uiSink + roEdid.GetDetailed(uiIndex, oTiming) + roEdid.GetStandard(uiIndex, oTiming) +
                 roEdid.GetDetailedExtraStdTiming(uiIndex, oTiming);
    for (uint32_t uiIndex = 0; uiIndex <= CEdid::ESTABLISHED_MAX_INDEX; uiIndex++)
        uiSink = uiSink + roEdid.GetEstablished(uiIndex, oTiming, false) + roEdid.GetEstablished(uiIndex, oTiming, true);
    for (uint32_t uiBit = 0; uiBit < 24; uiBit++)
        uiSink = uiSink + roEdid.GetEstablished(static_cast<CEdid::EEstablishedTiming>(1u << uiBit), oTiming, false);
    (void)uiSink;
}

void ExerciseFormulas(const uint8_t* puiData, size_t uiSize)
{
    const int32_t iHActive = Word(puiData, uiSize, 0);
    const int32_t iVActive = Word(puiData, uiSize, 4);
    const int32_t iRate = Word(puiData, uiSize, 8);
    CDetailedTiming oTiming;
    CGtf::GetGtfTiming(oTiming, iHActive, iVActive, iRate, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnVRate(oTiming, iHActive, iVActive, iRate, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnHRate(oTiming, iHActive, iVActive, iRate, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnPixelClock(oTiming, iHActive, iVActive, iRate, false, false, nullptr);
    CGtf::SquareRoot(static_cast<uint32_t>(iHActive), static_cast<uint32_t>(iVActive));
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    CVesa::GetVESATiming(oTiming, iRate & 0xFF, iHActive & 0xFFF, iVActive & 0xFFF, iRate >> 24);
}
} // namespace

void ExerciseEdidInput(const uint8_t* puiData, size_t uiSize)
{
    if (uiSize == 0)
        return;
    const bool bDump = (puiData[0] & 1) != 0;
    const uint8_t* puiRest = puiData + 1;
    const size_t uiRestSize = uiSize - 1;
    // The size of the caller buffers: from the input, so that short ones are tried too.
    const uint32_t uiBufferSize = uiRestSize > 1 ? puiRest[uiRestSize - 1] : 256;

    if (bDump)
    {
        FILE* hFile = fopen(EdidFilePath().c_str(), "wb");
        if (hFile == nullptr)
            abort();
        fwrite(puiRest, 1, uiRestSize, hFile);
        fclose(hFile);
        std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
        if (poEdid)
            QueryAll(*poEdid, uiBufferSize);
    }
    else
    {
        // An exact heap copy: a read past the caller's bytes is reported.
        std::unique_ptr<uint8_t[]> puiBytes(new uint8_t[uiRestSize == 0 ? 1 : uiRestSize]);
        if (uiRestSize != 0)
            memcpy(puiBytes.get(), puiRest, uiRestSize);
        const int32_t iSize = uiRestSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(uiRestSize);
        const CEdid oEdid(puiBytes.get(), iSize);
        QueryAll(oEdid, uiBufferSize);
        CEdid::GetEdidSizeFromData(static_cast<uint32_t>(uiRestSize), puiBytes.get());
    }
    ExerciseFormulas(puiRest, uiRestSize);
}
