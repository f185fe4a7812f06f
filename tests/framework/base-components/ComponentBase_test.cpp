// The component framework without a platform: its texts, ports (who provides, adopting remote
// memory, the field split, release, forwarding along a link), the checked connection, the
// software source, the default source's mark and the software sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "AbortRecords.h"
#include "ComponentTestSupport.h"
#include "OutputCapture.h"
#include "base-components/CDefaultSource.h"
#include "base-components/CSinkComponent.h"
#include "base-omx.h"
#include "ti814x-framework.h"

namespace
{
const std::string local_oBase = "framework/base-components/";
const SPortBufferInfo local_oFrame1080 = {static_cast<OMX_COLOR_FORMATTYPE>(OmxPixFmt_YUV422), 1920 * 1080 * 2, 1920, 1080};

class ComponentBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetInfoMessageLevel(0);
        ASSERT_TRUE(Ok(m_oUpstream.Init()) && Ok(m_oDownstream.Init()));
    }
    void TearDown() override { SetInfoMessageLevel(0); }
    static bool Ok(OMX_ERRORTYPE eError) { return eError == OMX_ErrorNone; }
    // Runs fn with standard error captured; the keys of the ABORT records it wrote, each naming a
    // line of an error check; nothing else may be written there.
    template <typename TFn>
    static std::vector<std::string> Records(TFn fn)
    {
        std::string oOther;
        const auto aoRecords = CaptureAbortRecords(fn, oOther);
        EXPECT_EQ("", oOther);
        for (const SAbortRecord& roRecord : aoRecords)
            EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
        return AbortRecordKeys(aoRecords);
    }
    template <typename TFn>
    static std::string Output(int iLevel, TFn fn)
    {
        SetInfoMessageLevel(iLevel);
        COutputCapture oOut(STDOUT_FILENO);
        fn();
        SetInfoMessageLevel(0);
        return oOut.Finish();
    }
    static std::string Line(const char* szFormat, const void* pvPointer)
    {
        char szLine[128];
        snprintf(szLine, sizeof(szLine), szFormat, pvPointer);
        return szLine;
    }

    CRecordingComponent m_oUpstream;
    CRecordingComponent m_oDownstream;
};
} // namespace

TEST_F(ComponentBase, TextsOfErrorsEventsStatesAndCommands)
{
    const char* const aszErrors[] = {
        "OMX_ErrorInsufficientResources", "OMX_ErrorUndefined", "OMX_ErrorInvalidComponentName", "OMX_ErrorComponentNotFound",
        "OMX_ErrorInvalidComponent", "OMX_ErrorBadParameter", "OMX_ErrorNotImplemented", "OMX_ErrorUnderflow",
        "OMX_ErrorOverflow", "OMX_ErrorHardware", "OMX_ErrorInvalidState", "OMX_ErrorStreamCorrupt",
        "OMX_ErrorPortsNotCompatible", "OMX_ErrorResourcesLost", "OMX_ErrorNoMore", "OMX_ErrorVersionMismatch",
        "OMX_ErrorNotReady", "OMX_ErrorTimeout"};
    EXPECT_STREQ("OMX_ErrorNone", CComponent::ErrorToStr(OMX_ErrorNone));
    for (unsigned i = 0; i < 18; ++i)
        EXPECT_STREQ(aszErrors[i], CComponent::ErrorToStr(static_cast<OMX_ERRORTYPE>(0x80001000u + i))) << i;
    for (unsigned uiCode : {0x80001012u, 0x80001014u, 0x80000FFFu, 1u})  // SameState, IncorrectStateTransition, ...
        EXPECT_STREQ("Unknown error", CComponent::ErrorToStr(static_cast<OMX_ERRORTYPE>(uiCode)));
    const char* const aszEvents[] = {"OMX_EventCmdComplete", "OMX_EventError", "OMX_EventMark", "OMX_EventPortSettingsChanged",
                                     "OMX_EventBufferFlag", "OMX_EventResourcesAcquired", "OMX_EventUnknow"};
    const char* const aszStates[] = {"OMX_StateInvalid", "OMX_StateLoaded", "OMX_StateIdle", "OMX_StateExecuting",
                                     "OMX_StatePause", "OMX_StateWaitForResources", "OMX_StateUnknow"};
    const char* const aszCommands[] = {"OMX_CommandStateSet", "OMX_CommandFlush", "OMX_CommandPortDisable",
                                       "OMX_CommandPortEnable", "OMX_CommandMarkBuffer", "OMX_CommandUnknow"};
    for (int i = 0; i < 7; ++i)
    {
        EXPECT_STREQ(aszEvents[i], CComponent::EventToStr(static_cast<OMX_EVENTTYPE>(i)));
        EXPECT_STREQ(aszStates[i], CComponent::StateToStr(static_cast<OMX_STATETYPE>(i)));
        EXPECT_STREQ(aszCommands[std::min(i, 5)], CComponent::CommandToStr(static_cast<OMX_COMMANDTYPE>(i)));
    }
    EXPECT_STREQ("OMX_EventUnknow", CComponent::EventToStr(OMX_EventPortFormatDetected));
    EXPECT_STREQ("OMX_StateUnknow", CComponent::StateToStr(static_cast<OMX_STATETYPE>(-1)));
    EXPECT_STREQ("OMX_CommandUnknow", CComponent::CommandToStr(static_cast<OMX_COMMANDTYPE>(0x7F000001)));
}

TEST_F(ComponentBase, ConnectionIsCheckedAndControlAndBuffersTravelAlongIt)
{
    // A bare component: nothing is implemented, construction is traced.
    const std::string oTrace = Output(3, [] {
        CSinkComponent oSink;
        CComponent& roBase = oSink;
        for (OMX_ERRORTYPE eResult :
             {roBase.CComponent::Start(), roBase.CComponent::Stop(), roBase.CComponent::Execute(0), roBase.CComponent::Pause(),
              roBase.CComponent::Loaded(0), roBase.CComponent::StartBufferProcessing(), roBase.CComponent::StopBufferProcessing(),
              roBase.CComponent::FillThisBuffer(nullptr), roBase.CComponent::FillBufferDone(nullptr),
              roBase.CComponent::EmptyThisBuffer(nullptr), roBase.CComponent::EmptyBufferDone(nullptr), roBase.CComponent::SetParameters()})
            EXPECT_EQ(OMX_ErrorNotImplemented, eResult);
        EXPECT_TRUE(Ok(roBase.CComponent::SetParametersIdle()) && !roBase.CComponent::IsBufferProcessing() &&
                    roBase.CComponent::GetOMXHandle() == nullptr && oSink.GetInputPort().Init() == OMX_ErrorNone);
    });
    for (const char* szLine : {"# CComponent           \n", "# ~CComponent          \n", "# CPort                \n"})
        EXPECT_NE(std::string::npos, oTrace.find(szLine)) << oTrace;

    // A failure to create the ports comes back with a record, and no port gets a parent.
    struct CFailingPorts : CRecordingComponent
    {
        OMX_ERRORTYPE CreatePorts() override { return OMX_ErrorInsufficientResources; }
    } oFailing;
    EXPECT_EQ(std::vector<std::string>{local_oBase + "OMXClassComponent/InitPorts/OMX_ErrorInsufficientResources"},
              Records([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oFailing.Init()); }));
    EXPECT_EQ(nullptr, oFailing.m_oOutput.GetParent());
    // Bad indices and a null target link nothing, each with a record.
    const std::string oRefused = local_oBase + "OMXClassComponent/ConnectTo/OMX_ErrorBadParameter";
    EXPECT_EQ(std::vector<std::string>(3, oRefused), Records([this] {
                  EXPECT_EQ(OMX_ErrorBadParameter, m_oUpstream.ConnectTo(1, &m_oDownstream, 0));
                  EXPECT_EQ(OMX_ErrorBadParameter, m_oUpstream.ConnectTo(0, &m_oDownstream, 1));
                  EXPECT_EQ(OMX_ErrorBadParameter, m_oUpstream.ConnectTo(0, nullptr, 0));
              }));
    EXPECT_TRUE(m_oUpstream.m_oOutput.GetRemotePort() == nullptr && m_oDownstream.m_oInput.GetRemotePort() == nullptr);
    // Unlinked or orphaned ports answer not ready, without a record.
    OMX_BUFFERHEADERTYPE oHeader{};
    CSourcePort oOrphan;
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  for (OMX_ERRORTYPE eResult :
                       {m_oUpstream.m_oOutput.Execute(0), m_oUpstream.m_oOutput.Loaded(), m_oUpstream.m_oOutput.EmptyThisBuffer(&oHeader),
                        m_oDownstream.m_oInput.FillThisBuffer(&oHeader), oOrphan.FillThisBuffer(&oHeader), oOrphan.Pause()})
                      EXPECT_EQ(OMX_ErrorNotReady, eResult);
              }));
    EXPECT_EQ(0u, m_oDownstream.Count(CRecordingComponent::Op_Execute));

    const std::string oLinked = Output(1, [this] { EXPECT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0)); });
    EXPECT_NE(std::string::npos, oLinked.find("# ConnectTo            (nil)[0] to (nil)[0]\n")) << oLinked;
    EXPECT_TRUE(m_oUpstream.m_oOutput.GetRemotePort() == &m_oDownstream.m_oInput &&
                m_oDownstream.m_oInput.GetRemotePort() == &m_oUpstream.m_oOutput && m_oDownstream.m_oInput.GetParent() == &m_oDownstream);
    // Control requests run the next component downstream, with its results and port index.
    m_oDownstream.m_oInput.SetPortID(5);
    m_oDownstream.SetResult(CRecordingComponent::Op_Pause, OMX_ErrorHardware);
    EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.Execute(1));
    EXPECT_EQ(1u, m_oDownstream.m_uiLastTestMode);
    EXPECT_EQ(OMX_ErrorHardware, m_oUpstream.m_oOutput.Pause());
    EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.Loaded());
    EXPECT_EQ(5u, m_oDownstream.m_uiLastLoadedPort);
    EXPECT_TRUE(Ok(m_oUpstream.m_oOutput.StartBufferProcessing()) && Ok(m_oUpstream.m_oOutput.StopBufferProcessing()));
    for (auto eOperation : {CRecordingComponent::Op_Execute, CRecordingComponent::Op_Pause, CRecordingComponent::Op_Loaded,
                            CRecordingComponent::Op_StartBufferProcessing, CRecordingComponent::Op_StopBufferProcessing})
        EXPECT_TRUE(m_oDownstream.Count(eOperation) == 1 && m_oUpstream.Count(eOperation) == 0) << eOperation;
    // Buffers go down as EmptyThisBuffer and FillBufferDone, back up as FillThisBuffer and
    // EmptyBufferDone, each traced at level 9.
    const std::string oBuffers = Output(9, [&] {
        EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.EmptyThisBuffer(&oHeader));
        EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.FillThisBuffer(&oHeader));
        EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.EmptyBufferDone(&oHeader));
        EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.FillBufferDone(&oHeader));
    });
    EXPECT_TRUE(m_oDownstream.Last(CRecordingComponent::Op_EmptyThisBuffer) == &oHeader &&
                m_oDownstream.Last(CRecordingComponent::Op_FillBufferDone) == &oHeader &&
                m_oUpstream.Last(CRecordingComponent::Op_FillThisBuffer) == &oHeader &&
                m_oUpstream.Last(CRecordingComponent::Op_EmptyBufferDone) == &oHeader);
    for (const char* szFormat : {"# EmptyThisBuffer      CSourcePort:%p\n", "# EmptyThisBuffer      CSinkPort:%p\n",
                                 "# FillThisBuffer       CSinkPort:%p\n"})
        EXPECT_NE(std::string::npos, oBuffers.find(Line(szFormat, &oHeader))) << oBuffers;
}

TEST_F(ComponentBase, PortsProvideAdoptSplitIntoFieldsAndRelease)
{
    // A provider keeps a table of the same count and replaces another; SetInterlaced leaves it
    // progressive; a software parent has no platform to allocate from; a ready port is refused.
    CFakeSinkPort& roInput = m_oDownstream.m_oInput;
    SPortBufferInfo oInfo = local_oFrame1080;
    ASSERT_EQ(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 4));
    EXPECT_TRUE(roInput.IsBufferProvider() && !roInput.IsBufferReady() && roInput.GetBufferCount() == 4);
    OMX_BUFFERHEADERTYPE** const ppoTable = roInput.HeaderTable();
    ASSERT_EQ(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 4));
    EXPECT_EQ(ppoTable, roInput.HeaderTable());
    ASSERT_EQ(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 6));
    EXPECT_TRUE(roInput.GetBufferCount() == 6 && roInput.GetBufferHeader(5) == nullptr && roInput.GetBufferHeader(6) == nullptr);
    roInput.SetInterlaced(true);
    EXPECT_FALSE(roInput.IsInterlaced());
    const std::string oRefused = "OMXClassPort/AllocBuffers/OMX_ErrorInvalidComponent";
    EXPECT_EQ(std::vector<std::string>{local_oBase + oRefused}, Records([&] { EXPECT_NE(OMX_ErrorNone, roInput.AllocBuffers()); }));
    EXPECT_EQ(OMX_ErrorNone, roInput.ReleaseBuffers());  // nothing ready: touches nothing
    EXPECT_TRUE(roInput.HeaderTable() != nullptr && roInput.GetBufferCount() == 6);
    ASSERT_EQ(OMX_ErrorNone, roInput.Deinit());
    EXPECT_TRUE(!roInput.IsBufferProvider() && roInput.GetState() == CPort::PortState_Sink);
    ASSERT_EQ(OMX_ErrorNone, m_oDownstream.Init());
    // Before the other side is ready a port cannot adopt; a provider never does.
    const std::vector<std::string> aoRefused{local_oBase + "OMXClassPort/UseRemoteBuffers/OMX_ErrorInvalidComponent"};
    CFakeSourcePort& roOutput = m_oUpstream.m_oOutput;
    EXPECT_EQ(aoRefused, Records([&] { EXPECT_NE(OMX_ErrorNone, roOutput.UseRemoteBuffers()); }));
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    EXPECT_EQ(aoRefused, Records([&] { EXPECT_NE(OMX_ErrorNone, roOutput.UseRemoteBuffers()); }));

    // A software user makes bare headers over the remote memory; they go with a release, which
    // keeps the table; the port can adopt again.
    std::vector<OMX_U8> aucMemory(3 * 1000);
    roInput.FakeProvide({static_cast<OMX_COLOR_FORMATTYPE>(0), 1000, 0, 0}, aucMemory.data(), 3);
    EXPECT_EQ(std::vector<std::string>{local_oBase + "OMXClassPort/ProvideBuffer/OMX_ErrorInvalidComponent"},
              Records([&] { EXPECT_NE(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 2)); }));
    roOutput.SetPortID(7);
    ASSERT_EQ(OMX_ErrorNone, roOutput.UseRemoteBuffers());
    ASSERT_TRUE(roOutput.IsBufferReady() && !roOutput.IsBufferProvider() && roOutput.GetBufferCount() == 3);
    for (MUINT32 i = 0; i < 3; ++i)
    {
        const OMX_BUFFERHEADERTYPE* poHeader = roOutput.GetBufferHeader(i);
        EXPECT_TRUE(poHeader != roInput.GetBufferHeader(i) && poHeader->pBuffer == &aucMemory[i * 1000] &&
                    poHeader->nSize == sizeof(OMX_BUFFERHEADERTYPE) && poHeader->nVersion.s.nVersionMajor == 1 &&
                    poHeader->nVersion.s.nVersionMinor == 1 && poHeader->nAllocLen == 1000 && poHeader->nFilledLen == 0 &&
                    poHeader->nInputPortIndex == 7 && poHeader->nOutputPortIndex == 7 && poHeader->pAppPrivate == nullptr);
    }
    ASSERT_EQ(OMX_ErrorNone, roOutput.ReleaseBuffers());
    EXPECT_TRUE(!roOutput.IsBufferReady() && roOutput.GetBufferCount() == 3 && roOutput.GetBufferHeader(0) == nullptr);
    ASSERT_EQ(OMX_ErrorNone, roOutput.UseRemoteBuffers());
    EXPECT_EQ(&aucMemory[2000], roOutput.GetBufferHeader(2)->pBuffer);
    ASSERT_EQ(OMX_ErrorNone, roOutput.Deinit());
    roInput.FakeRelease();

    // An interlaced user splits each of 4 remote 1080-line frames into two field headers of 540
    // lines, the odd ones 3840 x 540 bytes in; Deinit forgets everything but the side.
    std::vector<OMX_U8> aucFrames(4u * local_oFrame1080.uiBufferSize);
    roOutput.FakeProvide(local_oFrame1080, aucFrames.data(), 4);
    roInput.SetInterlaced(true);
    ASSERT_EQ(OMX_ErrorNone, roInput.UseRemoteBuffers());
    EXPECT_TRUE(roInput.GetBufferCount() == 8 && roInput.GetOddFieldOffset() == 2073600);
    EXPECT_TRUE(roInput.GetPortBufferInfo().uiBufferSize == 1920u * 1080 && roInput.GetPortBufferInfo().uiHeight == 540);
    for (MUINT32 i = 0; i < 8; ++i)
        EXPECT_TRUE(roInput.GetBufferHeader(i)->pBuffer == roOutput.GetBufferHeader(i / 2)->pBuffer + (i % 2 ? 2073600 : 0) &&
                    roInput.GetBufferHeader(i)->nAllocLen == 1920u * 1080) << i;
    ASSERT_EQ(OMX_ErrorNone, roInput.Deinit());
    EXPECT_TRUE(!roInput.IsInterlaced() && roInput.GetOddFieldOffset() == 0 && roInput.GetRemotePort() == nullptr &&
                roInput.GetParent() == nullptr && roInput.HeaderTable() == nullptr && roInput.GetState() == CPort::PortState_Sink);
    // Negotiation is not for these ports.
    EXPECT_EQ(5u, Records([&] {
                      EXPECT_EQ(OMX_ErrorNotReady, roInput.CanConnect(&oInfo));
                      EXPECT_EQ(OMX_ErrorNotReady, roInput.SetBufferInfo(&oInfo));
                      EXPECT_EQ(OMX_ErrorNotReady, roInput.SetBufferCount(3));
                      EXPECT_EQ(OMX_ErrorNotReady, roInput.SetAsProvider(1));
                      EXPECT_EQ(OMX_ErrorNotReady, roInput.SetAsNonProvider(1));
                  }).size());
}

TEST_F(ComponentBase, TheDefaultSourceMarksABlackBlockAndNothingElse)
{
    // 1024 x 768: bytes 64 to 255 of each of the first 32 lines, lines 2048 bytes apart; a buffer
    // too short for the whole mark is not written past.
    for (size_t uiAlloc : {size_t(2048 * 768), size_t(3 * 2048 + 256)})
    {
        std::vector<OMX_U8> aucFrame(uiAlloc + 64, 0xAA);
        OMX_BUFFERHEADERTYPE oHeader{};
        oHeader.pBuffer = aucFrame.data();
        oHeader.nAllocLen = static_cast<OMX_U32>(uiAlloc);
        oHeader.nFilledLen = 7;
        CDefaultSource oSource;
        oSource.SetFrameSize(1024, 768);
        EXPECT_TRUE(oSource.GetFrameSize().m_uiCx == 1024 && oSource.GetFrameSize().m_uiCy == 768);
        EXPECT_EQ(OMX_ErrorNone, oSource.FillThisBuffer(&oHeader));  // stopped: marked and kept
        for (size_t i = 0; i < aucFrame.size(); ++i)
        {
            const bool bMark = i < uiAlloc && i / 2048 < 32 && i % 2048 >= 64 && i % 2048 <= 255;
            ASSERT_EQ(bMark ? (i % 2 ? 0x80 : 0x00) : 0xAA, aucFrame[i]) << "line " << i / 2048 << " byte " << i % 2048;
        }
        EXPECT_TRUE(oHeader.nFilledLen == 7 && oHeader.nFlags == 0);
    }
}

TEST_F(ComponentBase, ASourcePrimesEveryBufferOnceRefillsWhatComesBackAndReportsFailures)
{
    std::vector<OMX_U8> aucMemory(3 * 256);
    const auto fnChain = [&](CSourceComponent& roSource, CRecordingComponent& roConsumer) {
        roConsumer.m_oInput.SetPortID(3);
        roConsumer.ProvideOnExecute({static_cast<OMX_COLOR_FORMATTYPE>(0), 256, 0, 0}, aucMemory.data(), 3);
        ASSERT_TRUE(Ok(roConsumer.Init()) && Ok(roSource.Init()) && Ok(roSource.ConnectTo(0, &roConsumer, 0)));
    };
    const std::string oSource = local_oBase + "CSourceComponent/";
    {
        // The consumer fails to execute: nothing is primed; it refuses a buffer: priming stops there.
        CSourceComponent oFailing;
        CRecordingComponent oRefusing;
        fnChain(oFailing, oRefusing);
        oRefusing.SetResult(CRecordingComponent::Op_Execute, OMX_ErrorHardware);
        EXPECT_EQ((std::vector<std::string>{oSource + "Execute/OMX_ErrorHardware", oSource + "Start/OMX_ErrorHardware"}),
                  Records([&] { EXPECT_EQ(OMX_ErrorHardware, oFailing.Start()); }));
        EXPECT_TRUE(oRefusing.Count(CRecordingComponent::Op_StartBufferProcessing) == 0 && oRefusing.m_apoEmptied.empty());
        EXPECT_TRUE(!oFailing.GetOutputPort().IsBufferReady() && !oFailing.IsBufferProcessing());
        oRefusing.SetResult(CRecordingComponent::Op_Execute, OMX_ErrorNone);
        oRefusing.SetResult(CRecordingComponent::Op_EmptyThisBuffer, OMX_ErrorOverflow);
        EXPECT_EQ((std::vector<std::string>{oSource + "FillThisBuffer/OMX_ErrorOverflow",
                                            oSource + "StartBufferProcessing/OMX_ErrorOverflow", oSource + "Start/OMX_ErrorOverflow"}),
                  Records([&] { EXPECT_EQ(OMX_ErrorOverflow, oFailing.Start()); }));
        EXPECT_EQ(1u, oRefusing.m_apoEmptied.size());
        EXPECT_EQ(OMX_ErrorNone, oFailing.Stop());
    }
    CSourceComponent oSourceComponent;
    fnChain(oSourceComponent, m_oDownstream);
    OMX_BUFFERHEADERTYPE oStray{};
    EXPECT_EQ(OMX_ErrorNone, oSourceComponent.FillThisBuffer(&oStray));  // stopped: kept
    EXPECT_TRUE(m_oDownstream.m_apoEmptied.empty());
    ASSERT_EQ(OMX_ErrorNone, oSourceComponent.Start());
    EXPECT_TRUE(oSourceComponent.IsBufferProcessing());
    // The consumer's memory adopted, each buffer produced once in index order, and each one handed
    // back produced again at once.
    CSourcePort& roOutput = oSourceComponent.GetOutputPort();
    ASSERT_EQ(3u, m_oDownstream.m_apoEmptied.size());
    for (MUINT32 i = 0; i < 3; ++i)
        EXPECT_TRUE(m_oDownstream.m_apoEmptied[i] == roOutput.GetBufferHeader(i) &&
                    m_oDownstream.m_apoEmptied[i]->pBuffer == &aucMemory[256 * i]);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.FillThisBuffer(roOutput.GetBufferHeader(i % 3)));
    EXPECT_EQ(18u, m_oDownstream.Count(CRecordingComponent::Op_EmptyThisBuffer));
    // Stop: later returns stay; the headers go; the consumer is loaded through its port index.
    ASSERT_EQ(OMX_ErrorNone, oSourceComponent.Stop());
    EXPECT_TRUE(!oSourceComponent.IsBufferProcessing() && !roOutput.IsBufferReady());
    EXPECT_TRUE(m_oDownstream.Count(CRecordingComponent::Op_StopBufferProcessing) == 1 &&
                m_oDownstream.Count(CRecordingComponent::Op_Loaded) == 1 && m_oDownstream.m_uiLastLoadedPort == 3);
    EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.FillThisBuffer(&oStray));
    EXPECT_EQ(18u, m_oDownstream.Count(CRecordingComponent::Op_EmptyThisBuffer));
    EXPECT_EQ(OMX_ErrorNone, oSourceComponent.Deinit());
}

TEST_F(ComponentBase, TheSinkHandsEveryBufferStraightBackAndReportsTheRateWhenTheSecondChanges)
{
    CSinkComponent oSink;
    EXPECT_TRUE(oSink.GetInputPort().GetParent() == &oSink && oSink.GetInputPortCount() == 1);
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &oSink, 0));
    for (OMX_ERRORTYPE eResult : {oSink.Init(), oSink.Execute(0), oSink.Pause(), oSink.Loaded(0), oSink.StartBufferProcessing(),
                                  oSink.StopBufferProcessing(), oSink.StartProcessing(), oSink.Deinit()})
        EXPECT_EQ(OMX_ErrorNone, eResult);
    OMX_BUFFERHEADERTYPE oHeader{};
    m_oUpstream.SetResult(CRecordingComponent::Op_FillThisBuffer, OMX_ErrorTimeout);
    const std::string oTrace = Output(9, [&] { EXPECT_EQ(OMX_ErrorTimeout, oSink.EmptyThisBuffer(&oHeader)); });
    EXPECT_EQ(&oHeader, m_oUpstream.Last(CRecordingComponent::Op_FillThisBuffer));
    EXPECT_NE(std::string::npos, oTrace.find(Line("# EmptyThisBuffer      CSinkComponent:%p\n", &oHeader))) << oTrace;
    m_oUpstream.SetResult(CRecordingComponent::Op_FillThisBuffer, OMX_ErrorNone);
    CSinkComponent oRateSink;
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &oRateSink, 0));

    // One buffer every 40 ms for two seconds and more, each sent well away from a change of
    // second, so that the second the sink reads is the one read here just before. Expected: a
    // line at each buffer whose second differs from the last report's, counting the buffers since.
    std::vector<time_t> aiSeconds;
    const auto fnSend = [&] {
        timespec oNow{};
        clock_gettime(CLOCK_REALTIME, &oNow);
        if (oNow.tv_nsec > 950000000L)
            std::this_thread::sleep_for(std::chrono::nanoseconds(1005000000L - oNow.tv_nsec));
        clock_gettime(CLOCK_REALTIME, &oNow);
        aiSeconds.push_back(oNow.tv_sec);
        EXPECT_EQ(OMX_ErrorNone, oRateSink.EmptyThisBuffer(&oHeader));
    };
    EXPECT_EQ("", Output(0, fnSend)) << "the first buffer prints no rate line";
    const std::string oText = Output(0, [&] {
        while (aiSeconds.back() < aiSeconds.front() + 3)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            fnSend();
        }
    });
    char szPrefix[32];
    snprintf(szPrefix, sizeof(szPrefix), "FPS(0x%08X)=", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&oRateSink)));
    std::string oExpected;
    time_t iReportSecond = aiSeconds.front();
    size_t uiCount = 0;
    for (size_t i = 1; i < aiSeconds.size(); ++i)
    {
        ++uiCount;
        if (aiSeconds[i] == iReportSecond)
            continue;
        oExpected += szPrefix + std::to_string(uiCount) + "\n";
        iReportSecond = aiSeconds[i];
        uiCount = 0;
    }
    EXPECT_EQ(oExpected, oText);
    EXPECT_GE(std::count(oText.begin(), oText.end(), '\n'), 2);
    EXPECT_EQ(aiSeconds.size() + 1, m_oUpstream.Count(CRecordingComponent::Op_FillThisBuffer));
}
