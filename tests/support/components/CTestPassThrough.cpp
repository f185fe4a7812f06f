#include "CTestPassThrough.h"

#include <cstring>

#include "TestVideoPort.h"

CTestPassThrough::CTestPassThrough(const char* szName) : CPlatformComponent(szName)
{
    SetTestVideoPort(AddPort(0, OMX_DirInput, OMX_PortDomainVideo));
    SetTestVideoPort(AddPort(1, OMX_DirOutput, OMX_PortDomainVideo));
}

void CTestPassThrough::OnProcess()
{
    // One output buffer per input buffer; an input waits for an output to come back.
    while (PeekBuffer(0) != nullptr && PeekBuffer(1) != nullptr)
    {
        OMX_BUFFERHEADERTYPE* poInput = TakeBuffer(0);
        OMX_BUFFERHEADERTYPE* poOutput = TakeBuffer(1);
        const OMX_U32 nLength = poInput->nFilledLen < poOutput->nAllocLen ? poInput->nFilledLen : poOutput->nAllocLen;
        memcpy(poOutput->pBuffer, poInput->pBuffer + poInput->nOffset, nLength);
        poOutput->nOffset = 0;
        poOutput->nFilledLen = nLength;
        poOutput->nTimeStamp = poInput->nTimeStamp;
        poOutput->nFlags = poInput->nFlags;
        Count(PellixCounter_FramesConsumed);
        ReturnBuffer(poInput);
        ReturnBuffer(poOutput);
    }
}
