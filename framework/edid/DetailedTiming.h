// CDetailedTiming: the one video-timing record of the display side. The EDID parser fills it from
// 18-byte detailed timing descriptors, the GTF formulas and the mode table from computed or
// tabulated values; the display controller programs the output from it. A plain value.
#ifndef DETAILED_TIMING_H
#define DETAILED_TIMING_H

#include <cstdint>

#include "ZemBaseTypes.h"

typedef uint8_t MUINT8;
typedef uint16_t MUINT16;

class CDetailedTiming
{
public:
    // The record itself, every field 32 bits.
    struct SDetailedTiming
    {
        MINT32 iHorizontalActive;   // active pixels per line
        MINT32 iVerticalActive;     // active lines (per field for an interlaced EDID descriptor)
        MINT32 iPixelClock;         // kHz
        MINT32 iVerticalRate;       // Hz
        MINT32 iVFrontPorch;        // lines
        MINT32 iVSync;              // lines
        MINT32 iVBackPorch;         // lines
        MINT32 iVOverscan;          // vertical border lines
        MBOOL32 bVPolarityPositive;
        MINT32 iHRefreshRate;       // line rate
        MINT32 iHFrontPorch;        // pixels
        MINT32 iHSync;              // pixels
        MINT32 iHBackPorch;         // pixels
        MINT32 iHOverscan;          // horizontal border pixels
        MBOOL32 bHPolarityPositive;
        MBOOL32 bInterlaced;
        MBOOL32 bOverscan;
    };

    enum EDetailedTiming
    {
        DETAILED_SYNC_SIGNAL_SCHEME_ANALOG_COMPOSITE = 0,
        DETAILED_SYNC_SIGNAL_SCHEME_BIPOLAR_ANALOG_COMPOSITE = 1,
        DETAILED_SYNC_SIGNAL_SCHEME_DIGITAL_COMPOSITE = 2,
        DETAILED_SYNC_SIGNAL_SCHEME_DIGITAL_SEPARATE = 3,

        DETAILED_STEREO_MODE_NO_STEREO = 0,
        DETAILED_STEREO_MODE_STEREO_FIELD_SEQUENTIAL_RIGHT_IMAGE = 2,
        DETAILED_STEREO_MODE_STEREO_2WAY_INTERLEAVED_RIGHT_IMAGE = 3,
        DETAILED_STEREO_MODE_STEREO_FIELD_SEQUENTIAL_LEFT_IMAGE = 4,
        DETAILED_STEREO_MODE_STEREO_2WAY_INTERLEAVED_LEFT_IMAGE = 5,
        DETAILED_STEREO_MODE_STEREO_4WAY_INTERLEAVED = 6,
        DETAILED_STEREO_MODE_STEREO_SIDE_BY_SIDE_INTERLEAVED = 7
    };

    // A descriptor decoded into plain values; the pixel clock in units of 10 kHz.
    struct SDetailed
    {
        MUINT32 uiPixelClock;
        MUINT32 uiHActive;
        MUINT32 uiHBlanking;
        MUINT32 uiVActive;
        MUINT32 uiVBlanking;
        MUINT32 uiHSyncOffset;
        MUINT32 uiHSyncWidth;
        MUINT32 uiVSyncOffset;
        MUINT32 uiVSyncWidth;
        MUINT32 uiHImageSize;  // mm
        MUINT32 uiVImageSize;  // mm
        MUINT32 uiHBorder;
        MUINT32 uiVBorder;
        MUINT32 uiStereoMode;
        MUINT32 uiSyncSignalScheme;
        union
        {
            struct  // digital separate sync
            {
                MUINT32 uiHSyncPolarity;
                MUINT32 uiVSyncPolarity;
            };
            struct  // any other sync scheme
            {
                MUINT32 bSerration;
                union
                {
                    MUINT32 bSyncOnGreen;
                    MUINT32 uiCompositePolarity;
                };
            };
        };
        MUINT32 bInterlaced;
    };

    // The 18-byte detailed timing descriptor as the monitor stores it. Each High part holds the
    // upper bits of its value.
    struct SDetailedRaw
    {
        MUINT16 uiPixelClock;  // little-endian, units of 10 kHz
        MUINT8 uiHActiveLow;
        MUINT8 uiHBlankingLow;
        MUINT8 uiHBlankingHigh : 4;
        MUINT8 uiHActiveHigh : 4;
        MUINT8 uiVActiveLow;
        MUINT8 uiVBlankingLow;
        MUINT8 uiVBlankingHigh : 4;
        MUINT8 uiVActiveHigh : 4;
        MUINT8 uiHSyncOffsetLow;
        MUINT8 uiHSyncWidthLow;
        MUINT8 uiVSyncWidthLow : 4;
        MUINT8 uiVSyncOffsetLow : 4;
        MUINT8 uiVSyncWidthHigh : 2;
        MUINT8 uiVSyncOffsetHigh : 2;
        MUINT8 uiHSyncWidthHigh : 2;
        MUINT8 uiHSyncOffsetHigh : 2;
        MUINT8 uiHImageSizeLow;
        MUINT8 uiVImageSizeLow;
        MUINT8 uiVImageSizeHigh : 4;
        MUINT8 uiHImageSizeHigh : 4;
        MUINT8 uiHBorder;
        MUINT8 uiVBorder;
        MUINT8 uiStereoModeLow : 1;
        MUINT8 uiSyncSignalSyncOnGreenOrHSyncPol : 1;
        MUINT8 uiSyncSignalSerrateOrVSyncPol : 1;
        MUINT8 uiSyncSignalScheme : 2;
        MUINT8 uiStereoModeHigh : 2;
        MUINT8 uiInterlaced : 1;
    };

    CDetailedTiming();

    void Clear();

    MINT32 GetHorizontalActive() const { return m_oTiming.iHorizontalActive; }
    MINT32 GetVerticalActive() const { return m_oTiming.iVerticalActive; }
    MINT32 GetPixelClock() const { return m_oTiming.iPixelClock; }
    MINT32 GetVerticalRate() const { return m_oTiming.iVerticalRate; }
    MINT32 GetHorizontalRate() const { return m_oTiming.iHRefreshRate; }
    MINT32 GetHorizontalFrontPorch() const { return m_oTiming.iHFrontPorch; }
    MINT32 GetHorizontalSync() const { return m_oTiming.iHSync; }
    MINT32 GetHorizontalBackPorch() const { return m_oTiming.iHBackPorch; }
    MINT32 GetHorizontalOverscan() const { return m_oTiming.iHOverscan; }
    MINT32 GetVerticalFrontPorch() const { return m_oTiming.iVFrontPorch; }
    MINT32 GetVerticalSync() const { return m_oTiming.iVSync; }
    MINT32 GetVerticalBackPorch() const { return m_oTiming.iVBackPorch; }
    MINT32 GetVerticalOverscan() const { return m_oTiming.iVOverscan; }
    MBOOL32 IsInterlaced() const { return m_oTiming.bInterlaced; }
    MBOOL32 IsHorizontalPolarityPositive() const { return m_oTiming.bHPolarityPositive; }
    MBOOL32 IsVerticalPolarityPositive() const { return m_oTiming.bVPolarityPositive; }
    MBOOL32 IsOverscan() const { return m_oTiming.bOverscan; }

    void SetHorizontalActive(MINT32 iValue) { m_oTiming.iHorizontalActive = iValue; }
    void SetVerticalActive(MINT32 iValue) { m_oTiming.iVerticalActive = iValue; }
    void SetPixelClock(MINT32 iValue) { m_oTiming.iPixelClock = iValue; }
    void SetHorizontalRate(MINT32 iValue) { m_oTiming.iHRefreshRate = iValue; }
    void SetHorizontalFrontPorch(MINT32 iValue) { m_oTiming.iHFrontPorch = iValue; }
    void SetHorizontalSync(MINT32 iValue) { m_oTiming.iHSync = iValue; }
    void SetHorizontalBackPorch(MINT32 iValue) { m_oTiming.iHBackPorch = iValue; }
    void SetHorizontalOverscan(MINT32 iValue) { m_oTiming.iHOverscan = iValue; }
    void SetHorizontalPolarityPositive(MBOOL32 bValue) { m_oTiming.bHPolarityPositive = bValue; }
    void SetVerticalRefresh(MINT32 iValue) { m_oTiming.iVerticalRate = iValue; }
    void SetVerticalRefresh(MUINT32 uiValue) { m_oTiming.iVerticalRate = static_cast<MINT32>(uiValue); }
    void SetVerticalFrontPorch(MINT32 iValue) { m_oTiming.iVFrontPorch = iValue; }
    void SetVerticalSync(MINT32 iValue) { m_oTiming.iVSync = iValue; }
    void SetVerticalBackPorch(MINT32 iValue) { m_oTiming.iVBackPorch = iValue; }
    void SetVerticalOverscan(MINT32 iValue) { m_oTiming.iVOverscan = iValue; }
    void SetVerticalPolarityPositive(MBOOL32 bValue) { m_oTiming.bVPolarityPositive = bValue; }
    void SetInterlaced(MBOOL32 bValue) { m_oTiming.bInterlaced = bValue; }
    void SetOverscan(MBOOL32 bValue) { m_oTiming.bOverscan = bValue; }

    // Whole-record copies.
    void GetTiming(SDetailedTiming& roTiming) const { roTiming = m_oTiming; }
    void SetTiming(const SDetailedTiming& roTiming) { m_oTiming = roTiming; }
    void GetTiming(CDetailedTiming& roTiming) const { roTiming.m_oTiming = m_oTiming; }
    void SetTiming(const CDetailedTiming& roTiming) { m_oTiming = roTiming.m_oTiming; }

    // Decodes an 18-byte descriptor (SetTiming and SetDetailed are the same operation).
    void SetTiming(const SDetailedRaw& roRaw) { SetDetailed(roRaw); }
    void SetDetailed(const SDetailedRaw& roRaw);
    // Fills the record from a decoded descriptor; a monitor descriptor (no active size or no
    // pixel clock) leaves it cleared.
    void SetDetailed(const SDetailed& roDetailed);

    bool operator==(const CDetailedTiming& roOther) const;
    bool operator!=(const CDetailedTiming& roOther) const { return !(*this == roOther); }

private:
    SDetailedTiming m_oTiming;
};

static_assert(sizeof(CDetailedTiming::SDetailedRaw) == 18, "a detailed timing descriptor is 18 bytes");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "descriptor fields are laid out little-endian");

#endif // DETAILED_TIMING_H
