#include "CFrameScaler.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace
{
AVPixelFormat local_PixelFormat(OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYUV420SemiPlanar ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUYV422;
}

// Bilinear from the nearest samples: the cheapest filter that still scales smoothly.
const int local_iScaleFlags = SWS_FAST_BILINEAR;
} // namespace

CFrameScaler::CFrameScaler()
    : m_poFirst(nullptr),
      m_poSecond(nullptr),
      m_apIntermediate(),
      m_aiIntermediateStride(),
      m_uiSourceHeight(0)
{
}

CFrameScaler::~CFrameScaler()
{
    Release();
}

void CFrameScaler::Release()
{
    sws_freeContext(m_poFirst);
    sws_freeContext(m_poSecond);
    m_poFirst = nullptr;
    m_poSecond = nullptr;
    av_freep(&m_apIntermediate[0]);
    for (int i = 0; i < 4; ++i)
    {
        m_apIntermediate[i] = nullptr;
        m_aiIntermediateStride[i] = 0;
    }
}

bool CFrameScaler::Configure(OMX_U32 uiSourceWidth, OMX_U32 uiSourceHeight, OMX_COLOR_FORMATTYPE eSourceFormat,
                             const CVideoFrameGeometry& roTarget)
{
    Release();
    m_uiSourceHeight = uiSourceHeight;
    m_oTarget = roTarget;
    const int iSourceWidth = static_cast<int>(uiSourceWidth);
    const int iSourceHeight = static_cast<int>(uiSourceHeight);
    const int iTargetWidth = static_cast<int>(roTarget.m_uiWidth);
    const int iTargetHeight = static_cast<int>(roTarget.m_uiHeight);
    const AVPixelFormat eSource = local_PixelFormat(eSourceFormat);
    const AVPixelFormat eTarget = local_PixelFormat(roTarget.m_eFormat);
    if (eSource == eTarget && iSourceWidth == iTargetWidth && iSourceHeight == iTargetHeight)
    {
        m_poFirst = sws_getContext(iSourceWidth, iSourceHeight, eSource, iTargetWidth, iTargetHeight, eTarget,
                                   local_iScaleFlags, nullptr, nullptr, nullptr);
        return m_poFirst != nullptr;
    }
    const AVPixelFormat ePlanar =
        eSource == AV_PIX_FMT_NV12 || eTarget == AV_PIX_FMT_NV12 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P;
    if (av_image_alloc(m_apIntermediate, m_aiIntermediateStride, iTargetWidth, iTargetHeight, ePlanar, 64) < 0)
    {
        Release();
        return false;
    }
    m_poFirst = sws_getContext(iSourceWidth, iSourceHeight, eSource, iTargetWidth, iTargetHeight, ePlanar,
                               local_iScaleFlags, nullptr, nullptr, nullptr);
    m_poSecond = sws_getContext(iTargetWidth, iTargetHeight, ePlanar, iTargetWidth, iTargetHeight, eTarget,
                                local_iScaleFlags, nullptr, nullptr, nullptr);
    if (m_poFirst == nullptr || m_poSecond == nullptr)
    {
        Release();
        return false;
    }
    return true;
}

void CFrameScaler::Scale(const uint8_t* pSource, const uint8_t* pSourceChroma, int iSourceStride,
                         uint8_t* pTarget) const
{
    const uint8_t* const apSource[4] = {pSource, pSourceChroma, nullptr, nullptr};
    const int aiSourceStride[4] = {iSourceStride, iSourceStride, 0, 0};
    const int iTargetStride = static_cast<int>(m_oTarget.m_uiStride);
    uint8_t* const apTarget[4] = {pTarget, m_oTarget.IsSemiPlanar() ? pTarget + m_oTarget.ChromaOffset() : nullptr,
                                  nullptr, nullptr};
    const int aiTargetStride[4] = {iTargetStride, iTargetStride, 0, 0};
    const int iSourceHeight = static_cast<int>(m_uiSourceHeight);
    if (m_poSecond == nullptr)
    {
        sws_scale(m_poFirst, apSource, aiSourceStride, 0, iSourceHeight, apTarget, aiTargetStride);
        return;
    }
    sws_scale(m_poFirst, apSource, aiSourceStride, 0, iSourceHeight, m_apIntermediate, m_aiIntermediateStride);
    const uint8_t* const apPlanar[4] = {m_apIntermediate[0], m_apIntermediate[1], m_apIntermediate[2], nullptr};
    sws_scale(m_poSecond, apPlanar, m_aiIntermediateStride, 0, static_cast<int>(m_oTarget.m_uiHeight), apTarget,
              aiTargetStride);
}
