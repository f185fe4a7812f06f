#include "base-components/CDefaultSource.h"

namespace
{
// The mark: 96 x 32 pixels of black with neutral chroma (16-bit units 0x8000, little endian)
// starting 32 pixels from the left edge, on the first 32 lines of a YUV 4:2:2 interleaved frame.
const MUINT32 local_uiMarkLines = 32;
const MUINT32 local_uiMarkFirstByte = 32 * 2;
const MUINT32 local_uiMarkEndByte = 128 * 2;
} // namespace

CDefaultSource::CDefaultSource() : m_oFrameSize{0, 0}
{
}

CDefaultSource::~CDefaultSource() = default;

void CDefaultSource::SetFrameSize(MUINT uiWidth, MUINT uiHeight)
{
    m_oFrameSize.m_uiCx = uiWidth;
    m_oFrameSize.m_uiCy = uiHeight;
}

OMX_ERRORTYPE CDefaultSource::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    if (poBufferHeader != nullptr && poBufferHeader->pBuffer != nullptr)
    {
        // nOffset is not applied: the lines start at pBuffer. A line that would not fit in the
        // buffer is not written.
        const MUINT32 uiPitch = m_oFrameSize.m_uiCx * 2;
        OMX_U8* const pBuffer = poBufferHeader->pBuffer;
        const OMX_U64 uiAllocLen = poBufferHeader->nAllocLen;
        for (MUINT32 uiLine = 0; uiLine < local_uiMarkLines; ++uiLine)
        {
            const OMX_U64 uiLineStart = static_cast<OMX_U64>(uiLine) * uiPitch;
            if (uiLineStart + local_uiMarkEndByte > uiAllocLen)
                break;
            OMX_U8* pLine = pBuffer + uiLineStart;
            for (MUINT32 uiByte = local_uiMarkFirstByte; uiByte < local_uiMarkEndByte; uiByte += 2)
            {
                pLine[uiByte] = 0x00;
                pLine[uiByte + 1] = 0x80;
            }
        }
    }
    return CSourceComponent::FillThisBuffer(poBufferHeader);
}
