// The reference decoding that accompanies each real monitor dump of the test data: the hex bytes
// and what the independent decoder edid-decode printed for the base block.
#ifndef EDID_REFERENCE_H
#define EDID_REFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

struct SRefTiming
{
    std::string oSource;  // "DMT 0x52", "IBM", "Apple", "GTF", "CVT", "Unknown", "DTD 1"
    int iWidth = 0;
    int iHeight = 0;      // the frame, also for an interlaced timing
    bool bInterlaced = false;
    double dHz = 0;       // field rate for an interlaced timing
    double dKHz = -1;     // -1 when not printed
    double dMHz = -1;
    bool bReducedBlanking = false;
};

// One 18-byte descriptor that edid-decode took for a timing, valid or not.
struct SRefDescriptorTiming
{
    bool bValid = false;  // false: printed as "Detailed mode" (invalid data)
    SRefTiming oTiming;
    int iHFront = 0, iHSync = 0, iHBack = 0;
    int iVFront = 0, iVSync = 0, iVBack = 0;
    bool bHPositive = false, bVPositive = false;
};

struct SRefRange
{
    std::string oKind;  // "GTF", "Bare Limits", "Secondary GTF", ...
    int iVMin = 0, iVMax = 0, iHMin = 0, iHMax = 0, iMaxMHz = 0;
};

struct SRefGtfCurve
{
    int iStartKHz = 0;
    double dC = 0;
    int iM = 0;
    int iK = 0;
    double dJ = 0;
};

struct SEdidReference
{
    std::vector<uint8_t> aBytes;  // every block of the dump
    int iVersion = 0;
    int iRevision = 0;
    std::string oManufacturer;
    bool bHasName = false;
    std::string oName;
    bool bHasSerial = false;
    bool bHasString = false;
    std::string oString;
    bool bPreferredFirst = false;  // the feature flag "first detailed timing is preferred"
    std::vector<SRefTiming> aoEstablished;
    std::vector<SRefTiming> aoStandard;
    std::vector<SRefDescriptorTiming> aoDescriptorTimings;
    bool bHasRange = false;
    SRefRange oRange;
    bool bHasGtfCurve = false;
    SRefGtfCurve oGtfCurve;
    std::vector<std::string> aoFailures;  // lines of the base block's failure list
};

// Parses one test-data file; false when its layout is not understood.
bool ParseEdidReference(const std::string& roText, SEdidReference& roReference, std::string& roError);

// The driver's hex dump of the bytes: "%04X: " then 16 bytes "%02x " per line.
std::string MakeDriverDump(const std::vector<uint8_t>& raBytes);

#endif // EDID_REFERENCE_H
