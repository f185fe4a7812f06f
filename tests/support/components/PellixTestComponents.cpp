#include "PellixTestComponents.h"

#include <OMX_Video.h>

#include <cstring>
#include <utility>

#include "CPlatformComponent.h"
#include "PellixPlatform.h"

namespace
{
// 64 x 16 YUV 4:2:2 packed, one buffer minimum, four by default.
CPlatformPort& TestVideoPort(CPlatformPort& roPort)
{
    roPort.SetBufferRequirements(1, 4, 64 * 16 * 2);
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
    roVideo.nFrameWidth = 64;
    roVideo.nStride = 128;
    roVideo.nFrameHeight = roVideo.nSliceHeight = 16;
    roVideo.eCompressionFormat = OMX_VIDEO_CodingUnused;
    roVideo.eColorFormat = OMX_COLOR_FormatYCbYCr;
    return roPort;
}

class CTestPassThrough : public CPlatformComponent
{
public:
    explicit CTestPassThrough(const char* szName) : CPlatformComponent(szName)
    {
        TestVideoPort(AddPort(0, OMX_DirInput, OMX_PortDomainVideo));
        TestVideoPort(AddPort(1, OMX_DirOutput, OMX_PortDomainVideo));
    }

protected:
    void OnProcess() override
    {
        // One output buffer per input buffer; an input waits for an output to come back.
        while (PeekBuffer(0) != nullptr && PeekBuffer(1) != nullptr)
        {
            OMX_BUFFERHEADERTYPE* poInput = TakeBuffer(0);
            OMX_BUFFERHEADERTYPE* poOutput = TakeBuffer(1);
            const OMX_U32 nLength =
                poInput->nFilledLen < poOutput->nAllocLen ? poInput->nFilledLen : poOutput->nAllocLen;
            memcpy(poOutput->pBuffer, poInput->pBuffer + poInput->nOffset, nLength);
            poOutput->nOffset = 0;
            poOutput->nFilledLen = nLength;
            poOutput->nTimeStamp = poInput->nTimeStamp;
            poOutput->nFlags = poInput->nFlags;
            ReturnBuffer(poInput);
            ReturnBuffer(poOutput);
        }
    }
};

class CTestSource : public CPlatformComponent
{
public:
    // A stored configuration (the frame rate of port 0, any state) for the engine's tests.
    explicit CTestSource(const char* szName) : CPlatformComponent(szName)
    {
        TestVideoPort(AddPort(0, OMX_DirOutput, OMX_PortDomainVideo));
        OMX_CONFIG_FRAMERATETYPE oRate;
        memset(&oRate, 0, sizeof(oRate));
        oRate.nSize = sizeof(oRate);
        oRate.nVersion.s.nVersionMajor = oRate.nVersion.s.nVersionMinor = 1;
        AddConfig(OMX_IndexConfigVideoFramerate, SettingAccess_AnyState, true, &oRate);
    }

protected:
    void OnProcess() override
    {
        for (; OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0); ++m_uiFrame)
        {
            memset(poHeader->pBuffer, static_cast<int>(m_uiFrame & 0xFF), poHeader->nAllocLen);
            poHeader->nOffset = 0;
            poHeader->nFilledLen = poHeader->nAllocLen;
            poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
            poHeader->nTimeStamp = static_cast<OMX_TICKS>(m_uiFrame) * 16667;
            ReturnBuffer(poHeader);
        }
    }

private:
    uint64_t m_uiFrame = 0;  // the component thread's own
};

// A component without ports: its state changes complete at once.
class CTestPortless : public CPlatformComponent
{
public:
    explicit CTestPortless(const char* szName) : CPlatformComponent(szName) {}
};
} // namespace

OMX_ERRORTYPE PellixTestComponents_Register()
{
    const std::pair<const char*, PellixComponentFactory> aoComponents[] = {
        {PELLIX_TEST_PASS_THROUGH, &PellixCreateComponent<CTestPassThrough>},
        {PELLIX_TEST_SOURCE, &PellixCreateComponent<CTestSource>},
        {PELLIX_TEST_PORTLESS, &PellixCreateComponent<CTestPortless>}};
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    for (const auto& ro : aoComponents)
        eError = eError == OMX_ErrorNone ? PellixPlatform_RegisterComponent(ro.first, ro.second) : eError;
    return eError;
}
