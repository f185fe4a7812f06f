// CDefaultSource: the source that feeds the video graph when no input is detected. Each frame
// it passes on is marked with a fixed black block.
#ifndef CDEFAULT_SOURCE_H
#define CDEFAULT_SOURCE_H

#include "base-components/CSourceComponent.h"

class CDefaultSource : public CSourceComponent
{
public:
    CDefaultSource();
    ~CDefaultSource() override;

    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;

    MSIZE32& GetFrameSize() { return m_oFrameSize; }
    void SetFrameSize(MUINT uiWidth, MUINT uiHeight);

protected:
    MSIZE32 m_oFrameSize;
};

#endif // CDEFAULT_SOURCE_H
