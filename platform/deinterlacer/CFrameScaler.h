// One output of the deinterlacer and scaler: pictures of one size and format scaled and
// converted into pictures of another with libswscale. Everything it needs is made by Configure,
// so that Scale allocates nothing.
//
// A YUV 4:2:2 packed source of the target's size is done line by line, in one pass over each
// line (ConvertLines): copied to a 4:2:2 packed target, or split into the luma and the
// interleaved chroma of a 4:2:0 target (the chroma of two lines averaged), so that a caller can
// take the lines from anywhere (two fields) and fill both its outputs while the source lines are
// still in the cache. Other pictures of the same size and format are copied by libswscale.
// Otherwise the work goes through a planar picture of the target's size (4:2:0 when either side
// is 4:2:0, else 4:2:2): the first step scales (or, at the same size, only converts) into it, the
// second packs or interleaves it into the target, which libswscale does with its unscaled
// converters at memory speed.
#ifndef CFRAME_SCALER_H
#define CFRAME_SCALER_H

#include <cstdint>

#include "CVideoFrameGeometry.h"

struct SwsContext;

class CFrameScaler
{
public:
    CFrameScaler();
    ~CFrameScaler();
    CFrameScaler(const CFrameScaler&) = delete;
    CFrameScaler& operator=(const CFrameScaler&) = delete;

    // Prepares scaling from uiSourceWidth x uiSourceHeight pictures of eSourceFormat into pictures
    // of roTarget. False when libswscale cannot do it (nothing is then prepared).
    bool Configure(OMX_U32 uiSourceWidth, OMX_U32 uiSourceHeight, OMX_COLOR_FORMATTYPE eSourceFormat,
                   const CVideoFrameGeometry& roTarget);
    void Release();
    bool IsConfigured() const { return m_poFirst != nullptr || m_bLineByLine; }
    // The work is done line by line (ConvertLines), not by Scale.
    bool IsLineByLine() const { return m_bLineByLine; }

    // Scales the source picture (its luma or packed plane at pSource, its chroma plane at
    // pSourceChroma when 4:2:0, both iSourceStride bytes per line) into the target picture
    // starting at pTarget.
    void Scale(const uint8_t* pSource, const uint8_t* pSourceChroma, int iSourceStride, uint8_t* pTarget) const;
    // Line by line: writes lines [uiFirst, uiFirst + uiCount) of the target picture starting at
    // pTarget from the source lines apLines[0 .. uiCount). A 4:2:0 target takes pairs of lines:
    // uiFirst and uiCount even.
    void ConvertLines(const uint8_t* const* apLines, unsigned uiFirst, unsigned uiCount, uint8_t* pTarget) const;

private:
    bool m_bLineByLine;
    SwsContext* m_poFirst;
    SwsContext* m_poSecond;  // null when the first step writes the target itself
    uint8_t* m_apIntermediate[4];
    int m_aiIntermediateStride[4];
    OMX_U32 m_uiSourceHeight;
    CVideoFrameGeometry m_oTarget;
};

#endif // CFRAME_SCALER_H
