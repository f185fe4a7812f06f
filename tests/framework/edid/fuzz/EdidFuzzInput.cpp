#include "EdidFuzzInput.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "edid/Edid.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"

namespace
{
// Display 0's EDID file below the platform root that PELLIX_PLATFORM_ROOT names (the test's, or
// the one run-fuzzer.sh makes): never below the real /sys.
std::string EdidFilePath()
{
    const char* szRoot = getenv("PELLIX_PLATFORM_ROOT");
    if (szRoot == nullptr || szRoot[0] == '\0')
        abort();
    const std::filesystem::path oFolder = std::string(szRoot) + "/sys/devices/platform/vpss/display0";
    std::error_code oError;
    std::filesystem::create_directories(oFolder, oError);
    return (oFolder / "edid").string();
}

int32_t Word(const uint8_t* puiData, size_t uiSize, size_t uiAt)
{
    uint32_t uiValue = 0;
    for (size_t i = uiAt; i < uiAt + 4; i++)
        uiValue = uiValue << 8 | (i < uiSize ? puiData[i] : 0);
    return static_cast<int32_t>(uiValue);
}

// Every query, strings and copies into heap buffers of exactly the size given, so that the
// address sanitizer sees a write or read past them.
void QueryAll(const CEdid& roEdid, uint32_t uiBufferSize)
{
    volatile uint32_t uiSink = 0;
    const std::unique_ptr<char[]> pszBuffer(new char[uiBufferSize == 0 ? 1 : uiBufferSize]);
    char* const psz = pszBuffer.get();
    uiSink = uiSink + roEdid.GetSize() + roEdid.IsChecksumValid() + roEdid.GetVersion() + roEdid.GetRevision() +
             roEdid.IsVersion1Format() + roEdid.GetDetailedExtraColorData() +
             roEdid.GetEdidBuffer(reinterpret_cast<MUINT8*>(psz), uiBufferSize) +
             roEdid.GetManufacturerID(psz, uiBufferSize) + roEdid.GetManufacturerName(psz, uiBufferSize) +
             roEdid.GetDetailedMonitorName(psz, uiBufferSize) + roEdid.GetDetailedSerialNumber(psz, uiBufferSize) +
             roEdid.GetDetailedMonitorString(psz, uiBufferSize);
    CDetailedTiming oTiming;
    CEdid::SRangeLimits oLimits;
    CEdid::SGtfSecFormulaParams oParams;
    uiSink = uiSink + roEdid.GetGtfSecondFormulaParameters(oParams) + roEdid.IsPreferredModeAvailable() +
             roEdid.GetPreferredMode(oTiming) + roEdid.GetDetailedNumber() + roEdid.GetStandardNumber();
    for (uint32_t uiIndex = 0; uiIndex < 40; uiIndex++)
        uiSink = uiSink + roEdid.GetDetailedMonitorRangeLimits(oLimits, uiIndex % 8) +
                 roEdid.GetDetailed(uiIndex, oTiming) + roEdid.GetStandard(uiIndex, oTiming) +
                 roEdid.GetDetailedExtraStdTiming(uiIndex, oTiming) + roEdid.GetEstablished(uiIndex, oTiming, false) +
                 roEdid.GetEstablished(uiIndex, oTiming, true);
    for (uint32_t uiBit = 0; uiBit < 24; uiBit++)
        uiSink = uiSink + roEdid.GetEstablished(static_cast<CEdid::EEstablishedTiming>(1u << uiBit), oTiming, false);
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
    const uint8_t* puiRest = puiData + 1;
    const size_t uiRestSize = uiSize - 1;
    // The size of the caller's buffers comes from the input, so that short ones are tried too.
    const uint32_t uiBufferSize = uiRestSize > 1 ? puiRest[uiRestSize - 1] : 256;
    if ((puiData[0] & 1) != 0)
    {
        std::ofstream(EdidFilePath(), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(puiRest), static_cast<std::streamsize>(uiRestSize));
        const std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
        if (poEdid)
            QueryAll(*poEdid, uiBufferSize);
    }
    else
    {
        // An exact heap copy: a read past the caller's bytes is reported.
        const std::unique_ptr<uint8_t[]> puiBytes(new uint8_t[uiRestSize == 0 ? 1 : uiRestSize]);
        if (uiRestSize != 0)
            memcpy(puiBytes.get(), puiRest, uiRestSize);
        const CEdid oEdid(puiBytes.get(), uiRestSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(uiRestSize));
        QueryAll(oEdid, uiBufferSize);
        CEdid::GetEdidSizeFromData(static_cast<uint32_t>(uiRestSize), puiBytes.get());
    }
    ExerciseFormulas(puiRest, uiRestSize);
}
