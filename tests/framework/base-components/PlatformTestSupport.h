// The platform wrapper's tests: a wrapper over the platform's test components with a chosen
// provider on each port, a sink that counts what passes, and the fixture that checks that no
// handle is left behind.
#ifndef PELLIX_PLATFORM_TEST_SUPPORT_H
#define PELLIX_PLATFORM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "CPlatformComponent.h"
#include "EngineTestSupport.h"
#include "base-components/CDefaultSource.h"
#include "base-components/CSinkComponent.h"
#include "base-components/OMXClassComponent.h"
#include "ti814x-framework.h"

// A component without ports: its state changes complete at once. Serves as a control component.
#define PELLIX_TEST_PORTLESS "OMX.Pellix.Test.Portless"

class CTestPortless : public CPlatformComponent
{
public:
    explicit CTestPortless(const char* szName) : CPlatformComponent(szName) {}
};

// A consumer with two video inputs (ports 0 and 1, as the test components' ports) that gives back
// every buffer it is handed, as a display fed by two windows would.
#define PELLIX_TEST_TWO_INPUTS "OMX.Pellix.Test.TwoInputs"

class CTestTwoInputs : public CPlatformComponent
{
public:
    explicit CTestTwoInputs(const char* szName) : CPlatformComponent(szName)
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
        {
            CPlatformPort& roPort = AddPort(nPort, OMX_DirInput, OMX_PortDomainVideo);
            roPort.SetBufferRequirements(1, 4, 64 * 16 * 2);
            roPort.Definition().format.video.nFrameWidth = 64;
            roPort.Definition().format.video.nFrameHeight = 16;
            roPort.Definition().format.video.eColorFormat = OMX_COLOR_FormatYCbYCr;
        }
    }

protected:
    void OnProcess() override
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
            while (OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(nPort))
            {
                Count(PellixCounter_FramesConsumed);
                ReturnBuffer(poHeader);
            }
    }
};

// How a wrapper port is set up in SetParameters: the non-zero fields replace the platform port's
// values; a provider then provides uiProvideCount buffers (0: the definition's count).
struct SWrapperPort
{
    MUINT32 uiPortID;
    bool bProvider;
    OMX_U32 nBufferCount = 0, nBufferSize = 0, nWidth = 0, nHeight = 0;
    bool bInterlaced = false;
    MUINT32 uiProvideCount = 0;
};

// A COMXComponent over a platform component with up to two inputs and one output. Counts the
// buffer operations reaching it.
class CTestOMXWrapper : public COMXComponent
{
public:
    CTestOMXWrapper(const char* szName, std::vector<SWrapperPort> aoInputs, std::vector<SWrapperPort> aoOutputs)
        : COMXComponent(szName), m_aoInputSpec(std::move(aoInputs)), m_aoOutputSpec(std::move(aoOutputs))
    {
    }

    OMX_ERRORTYPE Init() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        ZEM_CHECK(COMXComponent::Init());
        if (m_szCtrlName != nullptr)
            ZEM_CHECK(OMX_GetHandle(&m_hOMXCtrl, const_cast<char*>(m_szCtrlName), this, &oOmxCallback));
        if (m_hOMXCtrl != nullptr)
            m_eCtrlState = OMX_StateLoaded;
        ZEM_CHECK(InitPorts());
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
    // The ports first (their buffers go back to the platform component), then the handles.
    OMX_ERRORTYPE Deinit() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        for (MUINT32 i = 0; i < m_uiOutputPortCount + m_uiInputPortCount; ++i)
            ZEM_CHECK(i < m_uiOutputPortCount ? m_oOutput.Deinit() : m_aoInput[i - m_uiOutputPortCount].Deinit());
        ZEM_CHECK(COMXComponent::Deinit());
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiInputPortCount = static_cast<MUINT32>(m_aoInputSpec.size());
        m_uiOutputPortCount = static_cast<MUINT32>(m_aoOutputSpec.size());
        m_poInputPort = m_aoInput;
        m_poOutputPort = &m_oOutput;
        for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
            m_aoInput[i].SetPortID(m_aoInputSpec[i].uiPortID);
        if (m_uiOutputPortCount > 0)
            m_oOutput.SetPortID(m_aoOutputSpec[0].uiPortID);
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE SetParameters() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        ++m_uiSetParameters;
        ZEM_CHECK(m_eSetParametersResult);
        for (MUINT32 i = 0; i < m_uiInputPortCount + m_uiOutputPortCount; ++i)
            ZEM_CHECK(i < m_uiInputPortCount ? SetUpPort(m_aoInput[i], m_aoInputSpec[i]) : SetUpPort(m_oOutput, m_aoOutputSpec[0]));
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
    OMX_ERRORTYPE SetParametersIdle() override
    {
        ++m_uiSetParametersIdle;
        return m_eSetParametersIdleResult;
    }
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiFillThisBuffer;
        return COMXComponent::FillThisBuffer(poHeader);
    }
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiEmptyThisBuffer;
        return COMXComponent::EmptyThisBuffer(poHeader);
    }
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiFillBufferDone;
        return COMXComponent::FillBufferDone(poHeader);
    }
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiEmptyBufferDone;
        return COMXComponent::EmptyBufferDone(poHeader);
    }
    // Events posted and not yet consumed.
    unsigned PendingEvents(OMXEventType eEvent)
    {
        pthread_mutex_lock(&m_aoEventMutex[eEvent]);
        const unsigned uiCount = m_auiEventCount[eEvent];
        pthread_mutex_unlock(&m_aoEventMutex[eEvent]);
        return uiCount;
    }
    // The platform component's own view of its state.
    OMX_STATETYPE PlatformState()
    {
        OMX_STATETYPE eState = OMX_StateInvalid;
        return m_hOMXComponent != nullptr && Ok(OMX_GetState(m_hOMXComponent, &eState)) ? eState : OMX_StateInvalid;
    }

    CSinkPort m_aoInput[2];
    CSourcePort m_oOutput;
    std::vector<SWrapperPort> m_aoInputSpec, m_aoOutputSpec;
    const char* m_szCtrlName = nullptr;
    OMX_ERRORTYPE m_eSetParametersResult = OMX_ErrorNone, m_eSetParametersIdleResult = OMX_ErrorNone;
    std::atomic<unsigned> m_uiSetParameters{0}, m_uiSetParametersIdle{0};
    std::atomic<unsigned> m_uiFillThisBuffer{0}, m_uiEmptyThisBuffer{0}, m_uiFillBufferDone{0}, m_uiEmptyBufferDone{0};

private:
    OMX_ERRORTYPE SetUpPort(CPort& roPort, const SWrapperPort& roSpec)
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition, roSpec.uiPortID);
        OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = oDefinition.format.video;
        ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        oDefinition.nBufferCountActual = roSpec.nBufferCount != 0 ? roSpec.nBufferCount : oDefinition.nBufferCountActual;
        oDefinition.nBufferSize = roSpec.nBufferSize != 0 ? roSpec.nBufferSize : oDefinition.nBufferSize;
        if (roSpec.nWidth != 0)
        {
            roVideo.nFrameWidth = roSpec.nWidth;
            roVideo.nStride = static_cast<OMX_S32>(roSpec.nWidth * 2);
            roVideo.nFrameHeight = roVideo.nSliceHeight = roSpec.nHeight;
        }
        ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roSpec.bProvider)
        {
            SPortBufferInfo oInfo = {roVideo.eColorFormat, MUINT32(oDefinition.nBufferSize), MUINT32(roVideo.nFrameWidth),
                                     MUINT32(roVideo.nFrameHeight)};
            ZEM_CHECK(roPort.ProvideBuffer(&oInfo, roSpec.uiProvideCount != 0 ? roSpec.uiProvideCount
                                                                               : oDefinition.nBufferCountActual));
        }
        roPort.SetInterlaced(roSpec.bInterlaced);
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
};

// A sink that counts every header it receives, and keeps the flags, length and first bytes of
// each (the test source's frame number, and its low byte from then on).
class CCountingSink : public CSinkComponent
{
public:
    struct SField
    {
        OMX_U32 nFlags, nFilledLen;
        uint64_t uiCounter;
        unsigned uiFirstByte;
    };
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            ++m_oReceived[poHeader];
            uint64_t uiCounter = 0;
            memcpy(&uiCounter, poHeader->pBuffer, poHeader->nFilledLen >= 8 ? 8 : 0);
            m_aoFields.push_back(SField{poHeader->nFlags, poHeader->nFilledLen, uiCounter, poHeader->pBuffer[0]});
        }
        ++m_uiTotal;
        return CSinkComponent::EmptyThisBuffer(poHeader);
    }
    std::map<OMX_BUFFERHEADERTYPE*, unsigned> Received()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_oReceived;
    }
    std::vector<SField> Fields()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoFields;
    }

    std::atomic<unsigned> m_uiTotal{0};

private:
    std::mutex m_oMutex;
    std::map<OMX_BUFFERHEADERTYPE*, unsigned> m_oReceived;
    std::vector<SField> m_aoFields;
};

// The test components registered, nothing armed, records quiet; every handle given back.
class PlatformTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTestComponents_Register());
        ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent(PELLIX_TEST_PORTLESS, &PellixCreateComponent<CTestPortless>));
        ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent(PELLIX_TEST_TWO_INPUTS, &PellixCreateComponent<CTestTwoInputs>));
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        ASSERT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
    void TearDown() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
};

#endif // PELLIX_PLATFORM_TEST_SUPPORT_H
