// The platform wrapper's tests: a wrapper over the platform's test components with a chosen
// provider on each port, and chains of them into a sink.
#ifndef PELLIX_PLATFORM_TEST_SUPPORT_H
#define PELLIX_PLATFORM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "EngineTestSupport.h"
#include "FrameSink.h"
#include "base-components/CDefaultSource.h"
#include "ti814x-framework.h"

// How a wrapper port is set up in SetParameters: the non-zero fields replace the platform port's
// values; a provider then provides uiProvideCount buffers (0: the definition's count).
struct SWrapperPort
{
    MUINT32 uiPortID;
    bool bProvider;
    OMX_U32 nBufferCount = 0;
    MUINT32 uiProvideCount = 0;
};

// A COMXComponent over a platform component with up to two inputs and one output, optionally with
// a control component. Counts the buffer operations reaching it.
class CTestOMXWrapper : public COMXComponent
{
public:
    CTestOMXWrapper(const char* szName, std::vector<SWrapperPort> aoInputs, std::vector<SWrapperPort> aoOutputs)
        : COMXComponent(const_cast<char*>(szName)), m_aoInputSpec(std::move(aoInputs)),
          m_aoOutputSpec(std::move(aoOutputs))
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
        ZEM_CHECK(m_eSetParametersResult);
        for (MUINT32 i = 0; i < m_uiInputPortCount + m_uiOutputPortCount; ++i)
            ZEM_CHECK(i < m_uiInputPortCount ? SetUpPort(m_aoInput[i], m_aoInputSpec[i])
                                             : SetUpPort(m_oOutput, m_aoOutputSpec[0]));
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
    OMX_ERRORTYPE SetParametersIdle() override { return m_eSetParametersIdleResult; }
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* po) override
    {
        ++m_uiFillThisBuffer;
        return COMXComponent::FillThisBuffer(po);
    }
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* po) override
    {
        ++m_uiEmptyThisBuffer;
        return COMXComponent::EmptyThisBuffer(po);
    }
    // Every return, and those the wrapper refused untouched: while its buffer traffic is closed
    // (its buffers being freed, or the wrapper deinitialised) a return goes no further.
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* po) override
    {
        return Returned(COMXComponent::FillBufferDone(po), m_uiFillBufferDone, m_uiFillRefused);
    }
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* po) override
    {
        return Returned(COMXComponent::EmptyBufferDone(po), m_uiEmptyBufferDone, m_uiEmptyRefused);
    }
    // Events posted and not yet consumed.
    unsigned PendingEvents(OMXEventType eEvent)
    {
        pthread_mutex_lock(&m_aoEventMutex[eEvent]);
        const unsigned uiCount = m_auiEventCount[eEvent];
        pthread_mutex_unlock(&m_aoEventMutex[eEvent]);
        return uiCount;
    }

    CSinkPort m_aoInput[2];
    CSourcePort m_oOutput;
    std::vector<SWrapperPort> m_aoInputSpec, m_aoOutputSpec;
    const char* m_szCtrlName = nullptr;
    OMX_ERRORTYPE m_eSetParametersResult = OMX_ErrorNone, m_eSetParametersIdleResult = OMX_ErrorNone;
    std::atomic<unsigned> m_uiFillThisBuffer{0}, m_uiEmptyThisBuffer{0}, m_uiFillBufferDone{0}, m_uiEmptyBufferDone{0};
    std::atomic<unsigned> m_uiFillRefused{0}, m_uiEmptyRefused{0};

private:
    static OMX_ERRORTYPE Returned(OMX_ERRORTYPE eError, std::atomic<unsigned>& ruiReturns,
                                  std::atomic<unsigned>& ruiRefused)
    {
        ++ruiReturns;
        ruiRefused += eError == OMX_ErrorInvalidState;
        return eError;
    }
    OMX_ERRORTYPE SetUpPort(CPort& roPort, const SWrapperPort& roSpec)
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition, roSpec.uiPortID);
        const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = oDefinition.format.video;
        ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roSpec.nBufferCount != 0)
            oDefinition.nBufferCountActual = roSpec.nBufferCount;
        ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roSpec.bProvider)
        {
            SPortBufferInfo oInfo = {roVideo.eColorFormat, MUINT32(oDefinition.nBufferSize),
                                     MUINT32(roVideo.nFrameWidth), MUINT32(roVideo.nFrameHeight)};
            ZEM_CHECK(roPort.ProvideBuffer(&oInfo, roSpec.uiProvideCount != 0 ? roSpec.uiProvideCount
                                                                              : oDefinition.nBufferCountActual));
        }
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
};

// Default source -> pass-through (allocating both sides) -> sink.
struct SSoftwareChain
{
    SSoftwareChain() : m_oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}}) { m_oSource.SetFrameSize(64, 16); }
    void Init()
    {
        ASSERT_TRUE(Ok(m_oSource.Init()) && Ok(m_oFilter.Init()) && Ok(m_oSink.Init()));
        ASSERT_TRUE(Ok(m_oSource.ConnectTo(0, &m_oFilter, 0)) && Ok(m_oFilter.ConnectTo(0, &m_oSink, 0)));
    }
    // Stops from the head and deinitialises; afterwards nothing may be left.
    void TearDown()
    {
        EXPECT_TRUE(Ok(m_oSource.Stop()) && Ok(m_oFilter.Deinit()) && Ok(m_oSource.Deinit()) && Ok(m_oSink.Deinit()));
        EXPECT_TRUE(!m_oSource.GetOutputPort().IsBufferReady() && !m_oFilter.m_aoInput[0].IsBufferReady() &&
                    !m_oFilter.m_oOutput.IsBufferReady() && m_oFilter.GetOMXHandle() == nullptr);
    }
    CDefaultSource m_oSource;
    CTestOMXWrapper m_oFilter;
    CFrameSink m_oSink;
};

// Platform source -> pass-through (-> pass-through) -> sink; bUpstreamProvides chooses, on each
// platform link, whether the output or the input allocates.
struct SPlatformChain
{
    SPlatformChain(bool bUpstreamProvides, unsigned uiFilters = 2, SWrapperPort oFirstInput = {0, false})
        : m_uiFilters(uiFilters), m_oSource(PELLIX_TEST_SOURCE, {}, {{0, bUpstreamProvides}}),
          m_oFirst(PELLIX_TEST_PASS_THROUGH, {oFirstInput}, {{1, bUpstreamProvides || uiFilters == 1}}),
          m_oSecond(PELLIX_TEST_PASS_THROUGH, {{0, !bUpstreamProvides}}, {{1, true}})
    {
        m_oFirst.m_aoInputSpec[0].bProvider = oFirstInput.bProvider || !bUpstreamProvides;
    }
    void Init()
    {
        CTestOMXWrapper* apoStages[] = {&m_oSource, &m_oFirst, &m_oSecond};
        for (unsigned ui = 0; ui <= m_uiFilters; ++ui)
            ASSERT_EQ(OMX_ErrorNone, apoStages[ui]->Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSink.Init());
        for (unsigned ui = 0; ui <= m_uiFilters; ++ui)
            ASSERT_EQ(OMX_ErrorNone, ui < m_uiFilters ? apoStages[ui]->ConnectTo(0, apoStages[ui + 1], 0)
                                                      : apoStages[ui]->ConnectTo(0, &m_oSink, 0));
    }
    void Deinit()
    {
        EXPECT_TRUE(Ok(m_oSink.Deinit()) && Ok(m_oSecond.Deinit()) && Ok(m_oFirst.Deinit()) && Ok(m_oSource.Deinit()));
    }
    unsigned m_uiFilters;
    CTestOMXWrapper m_oSource, m_oFirst, m_oSecond;
    CFrameSink m_oSink;
};

#endif // PELLIX_PLATFORM_TEST_SUPPORT_H
