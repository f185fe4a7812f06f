// The component framework without a platform: its texts, the refusals of an unconnected or
// unimplemented component, ports (who provides, when remote memory can be adopted), the software
// source's failures, the default source's mark and the software sink's rate line. (Chains of
// components in every suite above show buffers and control travelling; OMXComponent_test.cpp
// shows the field split of an interlaced input.)
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ComponentTestSupport.h"
#include "LibraryTestSupport.h"
#include "base-components/CDefaultSource.h"
#include "base-components/CSinkComponent.h"
#include "base-components/CSourceComponent.h"

namespace
{
const std::string local_oBase = "framework/base-components/";
const SPortBufferInfo local_o1080 = {OMX_COLOR_FORMATTYPE(25), 1920 * 1080 * 2, 1920, 1080};
typedef CRecordingComponent CRec;
} // namespace

TEST(ComponentBase, TextsOfErrorsEventsStatesAndCommands)
{
    std::string o = CComponent::ErrorToStr(OMX_ErrorNone);
    for (OMX_U32 uiCode = 0x80000FFF; uiCode <= 0x80001012; ++uiCode)
        o += std::string(" ") + CComponent::ErrorToStr(OMX_ERRORTYPE(uiCode));
    for (int i = 0; i < 7; ++i)
        o += std::string("\n") + CComponent::EventToStr(OMX_EVENTTYPE(i)) + " " +
             CComponent::StateToStr(OMX_STATETYPE(i)) + " " + CComponent::CommandToStr(OMX_COMMANDTYPE(i));
    EXPECT_EQ(
        "OMX_ErrorNone Unknown error OMX_ErrorInsufficientResources OMX_ErrorUndefined OMX_ErrorInvalidComponentName "
        "OMX_ErrorComponentNotFound OMX_ErrorInvalidComponent OMX_ErrorBadParameter OMX_ErrorNotImplemented "
        "OMX_ErrorUnderflow OMX_ErrorOverflow OMX_ErrorHardware OMX_ErrorInvalidState OMX_ErrorStreamCorrupt "
        "OMX_ErrorPortsNotCompatible OMX_ErrorResourcesLost OMX_ErrorNoMore OMX_ErrorVersionMismatch "
        "OMX_ErrorNotReady OMX_ErrorTimeout Unknown error\n"
        "OMX_EventCmdComplete OMX_StateInvalid OMX_CommandStateSet\nOMX_EventError OMX_StateLoaded OMX_CommandFlush\n"
        "OMX_EventMark OMX_StateIdle OMX_CommandPortDisable\n"
        "OMX_EventPortSettingsChanged OMX_StateExecuting OMX_CommandPortEnable\n"
        "OMX_EventBufferFlag OMX_StatePause OMX_CommandMarkBuffer\n"
        "OMX_EventResourcesAcquired OMX_StateWaitForResources OMX_CommandUnknow\n"
        "OMX_EventUnknow OMX_StateUnknow OMX_CommandUnknow",
        o);
}

TEST(ComponentBase, UnimplementedUnconnectedAndMisconnectedComponentsRefuseWithoutHarm)
{
    CSinkComponent oSink;
    CComponent& ro = oSink;
    for (OMX_ERRORTYPE e : {ro.CComponent::Start(), ro.CComponent::Stop(), ro.CComponent::Execute(0),
                            ro.CComponent::Pause(), ro.CComponent::Loaded(0), ro.CComponent::StartBufferProcessing(),
                            ro.CComponent::StopBufferProcessing(), ro.CComponent::FillThisBuffer(nullptr),
                            ro.CComponent::FillBufferDone(nullptr), ro.CComponent::EmptyThisBuffer(nullptr),
                            ro.CComponent::EmptyBufferDone(nullptr), ro.CComponent::SetParameters()})
        EXPECT_EQ(OMX_ErrorNotImplemented, e);
    EXPECT_TRUE(ro.CComponent::SetParametersIdle() == OMX_ErrorNone && !ro.CComponent::IsBufferProcessing() &&
                ro.CComponent::GetOMXHandle() == nullptr);
    // A failure to create the ports comes back with a record, and no port gets a parent.
    struct CFailingPorts : CRec
    {
        OMX_ERRORTYPE CreatePorts() override { return OMX_ErrorInsufficientResources; }
    } oFailing;
    EXPECT_EQ(std::vector<std::string>{local_oBase + "OMXClassComponent/InitPorts/OMX_ErrorInsufficientResources"},
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oFailing.Init()); }));
    EXPECT_EQ(nullptr, oFailing.m_oOutput.GetParent());
    // Bad indices and a null target link nothing, each with a record; unlinked or orphaned ports
    // answer not ready, without one; the negotiation this system does not use is refused, with one.
    CRec oUp, oDown;
    ASSERT_TRUE(oUp.Init() == OMX_ErrorNone && oDown.Init() == OMX_ErrorNone);
    EXPECT_EQ(std::vector<std::string>(3, local_oBase + "OMXClassComponent/ConnectTo/OMX_ErrorBadParameter"),
              AbortKeys([&] {
                  for (OMX_ERRORTYPE e :
                       {oUp.ConnectTo(1, &oDown, 0), oUp.ConnectTo(0, &oDown, 1), oUp.ConnectTo(0, nullptr, 0)})
                      EXPECT_EQ(OMX_ErrorBadParameter, e);
              }));
    OMX_BUFFERHEADERTYPE oHeader{};
    CSourcePort oOrphan;
    CSinkPort oOrphanSink;  // a port whose parent and neighbour are gone (after a Deinit)
    SPortBufferInfo oInfo = local_o1080;
    CPort& roIn = oDown.m_oInput;
    EXPECT_EQ(5u, AbortKeys([&] {
                      for (OMX_ERRORTYPE e :
                           {oUp.m_oOutput.Execute(0), oUp.m_oOutput.Loaded(), oUp.m_oOutput.EmptyThisBuffer(&oHeader),
                            roIn.FillThisBuffer(&oHeader), oOrphan.FillThisBuffer(&oHeader), oOrphan.Pause(),
                            roIn.CanConnect(&oInfo), roIn.SetBufferInfo(&oInfo), roIn.SetBufferCount(3),
                            roIn.SetAsProvider(1), roIn.SetAsNonProvider(1), oOrphan.StartBufferProcessing(),
                            oOrphan.FillBufferDone(&oHeader), oOrphan.EmptyBufferDone(&oHeader),
                            oOrphanSink.Execute(0), oOrphanSink.Pause(), oOrphanSink.Loaded(),
                            oOrphanSink.StartBufferProcessing(), oOrphanSink.StopBufferProcessing(),
                            oOrphanSink.FillBufferDone(&oHeader), oOrphanSink.EmptyThisBuffer(&oHeader),
                            oOrphanSink.EmptyBufferDone(&oHeader)})
                          EXPECT_EQ(OMX_ErrorNotReady, e);
                  }).size());
    EXPECT_TRUE(oUp.m_oOutput.GetRemotePort() == nullptr && oDown.Count(CRec::Op_Execute) == 0);
    // Linked: control requests run the component downstream with its port index and its result.
    EXPECT_NE(std::string::npos, LogOf(1, [&] { EXPECT_EQ(OMX_ErrorNone, oUp.ConnectTo(0, &oDown, 0)); })
                                     .find("# ConnectTo            (nil)[0] to (nil)[0]\n"));
    oDown.m_oInput.SetPortID(5);
    oDown.SetResult(CRec::Op_Loaded, OMX_ErrorHardware);
    EXPECT_TRUE(oUp.m_oOutput.Loaded() == OMX_ErrorHardware && oDown.m_uiLastLoadedPort == 5 &&
                oUp.m_oOutput.Execute(1) == OMX_ErrorNone && oDown.m_uiLastTestMode == 1 &&
                oUp.m_oOutput.Pause() == OMX_ErrorNone && oUp.m_oOutput.StartBufferProcessing() == OMX_ErrorNone &&
                oUp.m_oOutput.StopBufferProcessing() == OMX_ErrorNone);
    for (auto e : {CRec::Op_Execute, CRec::Op_Pause, CRec::Op_Loaded, CRec::Op_StartBufferProcessing,
                   CRec::Op_StopBufferProcessing})
        EXPECT_TRUE(oDown.Count(e) == 1 && oUp.Count(e) == 0) << e;
}

TEST(ComponentBase, PortsProvideTheirOwnOrAdoptOnlyWhenTheOtherSideIsReady)
{
    CRec oUp, oDown;
    ASSERT_TRUE(oUp.Init() == OMX_ErrorNone && oDown.Init() == OMX_ErrorNone);
    // A provider keeps a table of the same count and replaces another; SetInterlaced leaves it
    // progressive; a software parent has no platform to allocate from; nothing ready, nothing to
    // release.
    auto& roInput = oDown.m_oInput;
    auto& roOutput = oUp.m_oOutput;
    SPortBufferInfo oInfo = local_o1080;
    ASSERT_EQ(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 4));
    OMX_BUFFERHEADERTYPE** const ppoTable = roInput.HeaderTable();
    ASSERT_TRUE(roInput.ProvideBuffer(&oInfo, 4) == OMX_ErrorNone && roInput.HeaderTable() == ppoTable);
    ASSERT_TRUE(roInput.ProvideBuffer(&oInfo, 6) == OMX_ErrorNone && roInput.GetBufferHeader(6) == nullptr);
    roInput.SetInterlaced(true);
    EXPECT_TRUE(roInput.IsBufferProvider() && !roInput.IsBufferReady() && !roInput.IsInterlaced() &&
                roInput.ReleaseBuffers() == OMX_ErrorNone);
    std::vector<std::string> aoExpected;
    for (const char* szFunction : {"AllocBuffers", "UseRemoteBuffers", "UseRemoteBuffers", "ProvideBuffer"})
        aoExpected.push_back(local_oBase + "OMXClassPort/" + szFunction + "/OMX_ErrorInvalidComponent");
    EXPECT_EQ(aoExpected, AbortKeys([&] {
                  // Before the other side is ready a port cannot adopt; a ready port provides nothing more.
                  EXPECT_NE(OMX_ErrorNone, roInput.AllocBuffers());
                  EXPECT_NE(OMX_ErrorNone, roOutput.UseRemoteBuffers());
                  ASSERT_TRUE(roInput.Deinit() == OMX_ErrorNone && oDown.Init() == OMX_ErrorNone &&
                              oUp.ConnectTo(0, &oDown, 0) == OMX_ErrorNone);
                  EXPECT_NE(OMX_ErrorNone, roOutput.UseRemoteBuffers());
                  roInput.FakeProvide(local_o1080, nullptr, 1);
                  EXPECT_NE(OMX_ErrorNone, roInput.ProvideBuffer(&oInfo, 2));
              }));
    roInput.FakeRelease();
}

TEST(ComponentBase, TheSourcesReportTheirFailuresAndTheDefaultOneMarksABlackBlock)
{
    // The consumer fails to execute: nothing is primed; it refuses a buffer: priming stops there.
    // Stopped, the headers go, the consumer is loaded, a buffer coming back stays.
    std::vector<OMX_U8> aucMemory(3 * 256);
    CSourceComponent oSource;
    CRec oConsumer;
    oConsumer.ProvideOnExecute({OMX_COLOR_FORMATTYPE(0), 256, 0, 0}, aucMemory.data(), 3);
    ASSERT_TRUE(oConsumer.Init() == OMX_ErrorNone && oSource.Init() == OMX_ErrorNone &&
                oSource.ConnectTo(0, &oConsumer, 0) == OMX_ErrorNone);
    const std::string oFile = local_oBase + "CSourceComponent/";
    oConsumer.SetResult(CRec::Op_Execute, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{oFile + "Execute/OMX_ErrorHardware", oFile + "Start/OMX_ErrorHardware"}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oSource.Start()); }));
    EXPECT_TRUE(oConsumer.Count(CRec::Op_EmptyThisBuffer) == 0 && !oSource.GetOutputPort().IsBufferReady());
    oConsumer.SetResult(CRec::Op_Execute, OMX_ErrorNone);
    oConsumer.SetResult(CRec::Op_EmptyThisBuffer, OMX_ErrorOverflow);
    EXPECT_EQ((std::vector<std::string>{oFile + "FillThisBuffer/OMX_ErrorOverflow",
                                        oFile + "StartBufferProcessing/OMX_ErrorOverflow",
                                        oFile + "Start/OMX_ErrorOverflow"}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorOverflow, oSource.Start()); }));
    ASSERT_EQ(OMX_ErrorNone, oSource.Stop());
    OMX_BUFFERHEADERTYPE oStray{};
    EXPECT_TRUE(oSource.FillThisBuffer(&oStray) == OMX_ErrorNone && oConsumer.Count(CRec::Op_EmptyThisBuffer) == 1 &&
                oConsumer.Count(CRec::Op_Loaded) == 1 && !oSource.GetOutputPort().IsBufferReady());
    // The default source's mark on 1024 x 768: bytes 64 to 255 of each of the first 32 lines,
    // lines 2048 bytes apart; a buffer too short for the whole mark is not written past; the
    // buffer keeps its length and flags (stopped, the source keeps it).
    for (size_t uiAlloc : {size_t(2048 * 768), size_t(3 * 2048 + 256)})
    {
        std::vector<OMX_U8> aucFrame(uiAlloc + 64, 0xAA);
        OMX_BUFFERHEADERTYPE oHeader{};
        oHeader.pBuffer = aucFrame.data();
        oHeader.nAllocLen = static_cast<OMX_U32>(uiAlloc);
        oHeader.nFilledLen = 7;
        CDefaultSource oDefault;
        oDefault.SetFrameSize(1024, 768);
        EXPECT_EQ(OMX_ErrorNone, oDefault.FillThisBuffer(&oHeader));
        for (size_t i = 0; i < aucFrame.size(); ++i)
        {
            const bool bMark = i < uiAlloc && i / 2048 < 32 && i % 2048 >= 64 && i % 2048 <= 255;
            ASSERT_EQ(bMark ? (i % 2 ? 0x80 : 0x00) : 0xAA, aucFrame[i]) << "line " << i / 2048 << " byte " << i % 2048;
        }
        EXPECT_TRUE(oHeader.nFilledLen == 7 && oHeader.nFlags == 0);
    }
}

TEST(ComponentBase, TheSinkHandsEveryBufferStraightBackAndReportsTheRateWhenTheSecondChanges)
{
    CRec oUp;
    CSinkComponent oSink;
    ASSERT_TRUE(oUp.Init() == OMX_ErrorNone && oUp.ConnectTo(0, &oSink, 0) == OMX_ErrorNone);
    for (OMX_ERRORTYPE e :
         {oSink.Init(), oSink.Execute(0), oSink.Pause(), oSink.Loaded(0), oSink.StartBufferProcessing(),
          oSink.StopBufferProcessing(), oSink.StartProcessing(), oSink.Deinit()})
        EXPECT_EQ(OMX_ErrorNone, e);
    // Every 40 ms, well away from a change of second, so that the second the sink reads is the one
    // read here just before: no line at the first buffer, then one at each buffer whose second
    // differs from the one before, counting the buffers since; the upstream's refusal comes back.
    char szPrefix[32];
    snprintf(szPrefix, sizeof(szPrefix), "FPS(0x%08X)=", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&oSink)));
    OMX_BUFFERHEADERTYPE oHeader{};
    oUp.SetResult(CRec::Op_FillThisBuffer, OMX_ErrorTimeout);
    std::vector<time_t> aiSeconds;
    std::string oExpected;
    const std::string oText = LogOf(0, [&] {
        for (unsigned uiCount = 0; aiSeconds.size() < 2 || aiSeconds.back() < aiSeconds.front() + 3; ++uiCount)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(aiSeconds.empty() ? 0 : 40));
            timespec oNow{};
            clock_gettime(CLOCK_REALTIME, &oNow);
            if (oNow.tv_nsec > 950000000L)
                std::this_thread::sleep_for(std::chrono::nanoseconds(1005000000L - oNow.tv_nsec));
            clock_gettime(CLOCK_REALTIME, &oNow);
            if (!aiSeconds.empty() && oNow.tv_sec != aiSeconds.back())
            {
                oExpected += szPrefix + std::to_string(uiCount) + "\n";
                uiCount = 0;
            }
            aiSeconds.push_back(oNow.tv_sec);
            EXPECT_EQ(OMX_ErrorTimeout, oSink.EmptyThisBuffer(&oHeader));
        }
    });
    EXPECT_EQ(oExpected, oText);
    EXPECT_TRUE(Occurrences(oText, "\n") >= 2 && oUp.Count(CRec::Op_FillThisBuffer) == aiSeconds.size() &&
                oUp.Last(CRec::Op_FillThisBuffer) == &oHeader);
}
