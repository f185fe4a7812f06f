// The real monitor EDIDs of tests/data/edid and the reference decoding that accompanies each dump:
// its hex bytes and what the independent decoder edid-decode printed for the base block. And a
// video timing as one line of text, to compare whole: "1920x1080p 148500 kHz 88/44/148 4/5/36 +h+v"
// (active size and scan, pixel clock, horizontal and vertical front porch/sync/back porch, sync
// polarities).
#ifndef PELLIX_TEST_EDID_REFERENCE_H
#define PELLIX_TEST_EDID_REFERENCE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "edid/DetailedTiming.h"

struct SRefTiming
{
    std::string oSource;  // "DMT 0x52", "IBM", "Apple", "GTF", "CVT", "Unknown", "DTD 1"
    int iWidth = 0;
    int iHeight = 0;      // the frame, also for an interlaced timing
    bool bInterlaced = false;
    double dHz = 0;       // field rate for an interlaced timing
    double dKHz = -1;     // -1 when not printed
    double dMHz = -1;
};

// One 18-byte descriptor that edid-decode took for a timing, valid or not.
struct SRefDescriptorTiming
{
    bool bValid = false;  // false: printed as "Detailed mode" (invalid data)
    SRefTiming oTiming;
    int aiH[3] = {};      // front porch, sync, back porch
    int aiV[3] = {};
    bool bHPositive = false, bVPositive = false;
};

struct SEdidReference
{
    std::vector<uint8_t> aBytes;  // every block of the dump
    int iVersion = 0, iRevision = 0;
    std::string oManufacturer;
    bool bHasName = false, bHasSerial = false, bHasString = false, bNonPrintableString = false;
    std::string oName, oString;
    bool bPreferredFirst = false;  // the feature flag "first detailed timing is preferred"
    std::vector<SRefTiming> aoEstablished, aoStandard;
    std::vector<SRefDescriptorTiming> aoDescriptorTimings;
    bool bHasRange = false;
    int aiRange[5] = {};  // V min, V max (Hz), H min, H max (kHz), max clock (MHz)
    bool bHasGtfCurve = false;
    double adGtfCurve[5] = {};  // start (kHz), C, M, K, J
};

// The dump folder, and its dumps' file names in order.
inline std::string EdidDataDir() { return PELLIX_SOURCE_DIR "/tests/data/edid"; }
std::vector<std::string> EdidDataFiles();
// Parses one dump of the folder; false (with the reason) when its layout is not understood.
bool ReadEdidReference(const std::string& roFile, SEdidReference& roReference, std::string& roError);
// The display driver's hex dump of the bytes: "%04X: " then 16 bytes "%02x " per line.
std::string MakeDriverDump(const std::vector<uint8_t>& raBytes);
// A file name as a test name: no extension, '-' as '_'.
std::string EdidTestName(const std::string& roFile);

// A video timing as one line of text (above).
inline std::string TimingText(int iWidth, int iHeight, bool bInterlaced, int iClockKHz, const int (&aiH)[3],
                              const int (&aiV)[3], bool bHPositive, bool bVPositive)
{
    char szText[160];
    snprintf(szText, sizeof(szText), "%dx%d%c %d kHz %d/%d/%d %d/%d/%d %ch%cv", iWidth, iHeight,
             bInterlaced ? 'i' : 'p', iClockKHz, aiH[0], aiH[1], aiH[2], aiV[0], aiV[1], aiV[2], bHPositive ? '+' : '-',
             bVPositive ? '+' : '-');
    return szText;
}

inline std::string TimingText(const CDetailedTiming& roT)
{
    return TimingText(roT.GetHorizontalActive(), roT.GetVerticalActive(), roT.IsInterlaced() != 0, roT.GetPixelClock(),
                      {roT.GetHorizontalFrontPorch(), roT.GetHorizontalSync(), roT.GetHorizontalBackPorch()},
                      {roT.GetVerticalFrontPorch(), roT.GetVerticalSync(), roT.GetVerticalBackPorch()},
                      roT.IsHorizontalPolarityPositive() != 0, roT.IsVerticalPolarityPositive() != 0);
}

#endif // PELLIX_TEST_EDID_REFERENCE_H
