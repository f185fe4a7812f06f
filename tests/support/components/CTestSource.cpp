#include "CTestSource.h"

#include <OMX_Video.h>

#include <cstring>

#include "TestVideoPort.h"

CTestSource::CTestSource(const char* szName)
    : CPlatformComponent(szName), m_bClocked(false), m_nFrameSize(0), m_uiFrame(0)
{
    SetTestVideoPort(AddPort(0, OMX_DirOutput, OMX_PortDomainVideo));
    OMX_CONFIG_FRAMERATETYPE oRate;
    memset(&oRate, 0, sizeof(oRate));
    oRate.nSize = sizeof(oRate);
    oRate.nVersion.s.nVersionMajor = 1;
    oRate.nVersion.s.nVersionMinor = 1;
    oRate.nPortIndex = 0;
    oRate.xEncodeFramerate = 0;
    AddConfig(OMX_IndexConfigVideoFramerate, SettingAccess_AnyState, true, &oRate);
}

OMX_ERRORTYPE CTestSource::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    if (eTo != OMX_StateExecuting)
    {
        StopClock();
        return OMX_ErrorNone;
    }
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    OMX_CONFIG_FRAMERATETYPE oRate;
    if (!ReadPortDefinition(0, oDefinition) ||
        !ReadSetting(OMX_IndexConfigVideoFramerate, true, 0, &oRate, sizeof(oRate)))
        return OMX_ErrorUndefined;
    m_nFrameSize = oDefinition.nBufferSize;
    m_bClocked = oRate.xEncodeFramerate > 0;
    if (eFrom == OMX_StateIdle)
        m_oStart = CClock::now();
    if (m_bClocked)
        StartClock((uint64_t(1000000000) << 16) / oRate.xEncodeFramerate);
    return OMX_ErrorNone;
}

void CTestSource::OnProcess()
{
    if (m_bClocked)
        return;
    while (OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0))
        Produce(poHeader);
}

void CTestSource::OnTick(unsigned uiElapsedTicks)
{
    // Periods the thread slept through produced nothing: their frames are lost.
    if (uiElapsedTicks > 1)
        Count(PellixCounter_FramesDropped, uiElapsedTicks - 1);
    OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0);
    if (poHeader == nullptr)
    {
        Count(PellixCounter_FramesDropped);
        return;
    }
    Produce(poHeader);
}

void CTestSource::Produce(OMX_BUFFERHEADERTYPE* poHeader)
{
    const OMX_U32 nLength = m_nFrameSize < poHeader->nAllocLen ? m_nFrameSize : poHeader->nAllocLen;
    uint8_t aucCounter[sizeof(m_uiFrame)];
    for (size_t ui = 0; ui < sizeof(aucCounter); ++ui)
        aucCounter[ui] = static_cast<uint8_t>(m_uiFrame >> (8 * ui));
    const OMX_U32 nHead = nLength < sizeof(aucCounter) ? nLength : sizeof(aucCounter);
    memcpy(poHeader->pBuffer, aucCounter, nHead);
    memset(poHeader->pBuffer + nHead, static_cast<int>(m_uiFrame & 0xFF), nLength - nHead);
    poHeader->nOffset = 0;
    poHeader->nFilledLen = nLength;
    poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
    poHeader->nTimeStamp = static_cast<OMX_TICKS>(
        std::chrono::duration_cast<std::chrono::microseconds>(CClock::now() - m_oStart).count());
    ++m_uiFrame;
    Count(PellixCounter_FramesProduced);
    ReturnBuffer(poHeader);
}
