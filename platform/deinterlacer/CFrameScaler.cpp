#include "CFrameScaler.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Two lines of uiWidth pixels (even) of YUV 4:2:2 packed into two luma lines and one line of
// interleaved chroma, the mean of the two lines' chroma.
void local_SplitLinePair(const uint8_t* pFirst, const uint8_t* pSecond, unsigned uiWidth, uint8_t* pLuma0,
                         uint8_t* pLuma1, uint8_t* pChroma)
{
    unsigned x = 0;
#if defined(__SSE2__)
    // 16 pixels a step: the luma bytes are the low halves of the 16-bit words, Cb and Cr the high.
    const __m128i oLow = _mm_set1_epi16(0x00FF);
    for (; x + 16 <= uiWidth; x += 16)
    {
        const __m128i oA0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pFirst + 2 * x));
        const __m128i oA1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pFirst + 2 * x + 16));
        const __m128i oB0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSecond + 2 * x));
        const __m128i oB1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSecond + 2 * x + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pLuma0 + x),
                         _mm_packus_epi16(_mm_and_si128(oA0, oLow), _mm_and_si128(oA1, oLow)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pLuma1 + x),
                         _mm_packus_epi16(_mm_and_si128(oB0, oLow), _mm_and_si128(oB1, oLow)));
        const __m128i oChromaA = _mm_packus_epi16(_mm_srli_epi16(oA0, 8), _mm_srli_epi16(oA1, 8));
        const __m128i oChromaB = _mm_packus_epi16(_mm_srli_epi16(oB0, 8), _mm_srli_epi16(oB1, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pChroma + x), _mm_avg_epu8(oChromaA, oChromaB));
    }
#endif
    for (; x < uiWidth; x += 2)
    {
        pLuma0[x] = pFirst[2 * x];
        pLuma0[x + 1] = pFirst[2 * x + 2];
        pLuma1[x] = pSecond[2 * x];
        pLuma1[x + 1] = pSecond[2 * x + 2];
        pChroma[x] = static_cast<uint8_t>((pFirst[2 * x + 1] + pSecond[2 * x + 1] + 1) >> 1);
        pChroma[x + 1] = static_cast<uint8_t>((pFirst[2 * x + 3] + pSecond[2 * x + 3] + 1) >> 1);
    }
}
} // namespace

CFrameScaler::CFrameScaler()
    : m_bLineByLine(false),
      m_poFirst(nullptr),
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
    m_bLineByLine = false;
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
    if (eSource == AV_PIX_FMT_YUYV422 && iSourceWidth == iTargetWidth && iSourceHeight == iTargetHeight &&
        (eTarget == AV_PIX_FMT_YUYV422 || iTargetHeight % 2 == 0))
    {
        m_bLineByLine = true;
        return true;
    }
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

void CFrameScaler::ConvertLines(const uint8_t* const* apLines, unsigned uiFirst, unsigned uiCount,
                                uint8_t* pTarget) const
{
    const uint64_t uiStride = m_oTarget.m_uiStride;
    const unsigned uiWidth = m_oTarget.m_uiWidth;
    if (!m_oTarget.IsSemiPlanar())
    {
        for (unsigned i = 0; i < uiCount; ++i)
            memcpy(pTarget + (uiFirst + i) * uiStride, apLines[i], 2 * size_t(uiWidth));
        return;
    }
    uint8_t* pChroma = pTarget + m_oTarget.ChromaOffset();
    for (unsigned i = 0; i + 1 < uiCount; i += 2)
    {
        const uint64_t uiLine = uiFirst + i;
        local_SplitLinePair(apLines[i], apLines[i + 1], uiWidth, pTarget + uiLine * uiStride,
                            pTarget + (uiLine + 1) * uiStride, pChroma + (uiLine / 2) * uiStride);
    }
}
