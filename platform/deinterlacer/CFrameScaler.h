// One output of the deinterlacer and scaler: pictures of one size and format scaled and
// converted into pictures of another with libswscale. Everything it needs is made by Configure,
// so that Scale allocates nothing.
//
// Pictures of the same size and format are copied. Otherwise the work goes through a planar
// picture of the target's size (4:2:0 when either side is 4:2:0, else 4:2:2): the first step
// scales (or, at the same size, only converts) into it, the second packs or interleaves it into
// the target, which libswscale does with its unscaled converters at memory speed.
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
    bool IsConfigured() const { return m_poFirst != nullptr; }

    // Scales the source picture (its luma or packed plane at pSource, its chroma plane at
    // pSourceChroma when 4:2:0, both iSourceStride bytes per line) into the target picture
    // starting at pTarget.
    void Scale(const uint8_t* pSource, const uint8_t* pSourceChroma, int iSourceStride, uint8_t* pTarget) const;

private:
    SwsContext* m_poFirst;
    SwsContext* m_poSecond;  // null when the first step writes the target itself
    uint8_t* m_apIntermediate[4];
    int m_aiIntermediateStride[4];
    OMX_U32 m_uiSourceHeight;
    CVideoFrameGeometry m_oTarget;
};

#endif // CFRAME_SCALER_H
