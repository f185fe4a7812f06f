#include "CFrameLines.h"

CFrameLines::CFrameLines() : m_bFields(false), m_uiFrameBytes(0)
{
}

void CFrameLines::Configure(const CVideoFrameGeometry& roGeometry, bool bFields)
{
    m_oGeometry = roGeometry;
    m_bFields = bFields;
    const OMX_U32 uiHeight = roGeometry.m_uiHeight;
    const uint64_t uiStride = roGeometry.m_uiStride;
    const bool bSemiPlanar = roGeometry.IsSemiPlanar();
    const OMX_U32 uiPlaneLines = bFields ? uiHeight / 2 : uiHeight;
    const OMX_U32 uiPlaneChromaLines = bFields ? uiPlaneLines / 2 : roGeometry.ChromaLines();
    const uint64_t uiPlaneBytes = uiStride * (uiPlaneLines + (bSemiPlanar ? uiPlaneChromaLines : 0));
    m_uiFrameBytes = bFields ? 2 * uiPlaneBytes : roGeometry.ByteLength();
    m_auiLuma.assign(uiHeight, 0);
    m_auiChroma.assign(uiHeight, 0);
    m_abWritesChroma.assign(uiHeight, 0);
    for (OMX_U32 y = 0; y < uiHeight; ++y)
    {
        const OMX_U32 uiField = bFields ? y % 2 : 0;
        const OMX_U32 uiLine = bFields ? y / 2 : y;
        const uint64_t uiBase = uiField * uiPlaneBytes;
        m_auiLuma[y] = static_cast<uint32_t>(uiBase + uiLine * uiStride);
        if (bSemiPlanar && uiLine / 2 < uiPlaneChromaLines)
        {
            m_auiChroma[y] = static_cast<uint32_t>(uiBase + uiPlaneLines * uiStride + (uiLine / 2) * uiStride);
            m_abWritesChroma[y] = uiLine % 2 == 0;
        }
    }
}
