// Ports without a platform: who provides, adopting remote memory, the field split, release,
// and the forwarding of control requests and buffers along a link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AbortRecords.h"
#include "ComponentTestSupport.h"
#include "OutputCapture.h"
#include "base-omx.h"
#include "ti814x-framework.h"

namespace
{
const std::string local_oPortFile = "framework/base-components/OMXClassPort";

class Ports : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetInfoMessageLevel(0);
        ASSERT_EQ(OMX_ErrorNone, m_oUpstream.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oDownstream.Init());
    }
    void TearDown() override { SetInfoMessageLevel(0); }

    // Runs fn with standard error captured; returns the record keys and checks that nothing else
    // was written there.
    template <typename TFn>
    std::vector<std::string> Records(TFn fn)
    {
        std::string oOther;
        const auto aoRecords = CaptureAbortRecords(fn, oOther);
        EXPECT_EQ("", oOther);
        for (const SAbortRecord& roRecord : aoRecords)
            EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
        return AbortRecordKeys(aoRecords);
    }

    CRecordingComponent m_oUpstream;
    CRecordingComponent m_oDownstream;
};

const SPortBufferInfo local_oFrame1080 = {static_cast<OMX_COLOR_FORMATTYPE>(OmxPixFmt_YUV422), 1920 * 1080 * 2, 1920,
                                          1080};
} // namespace

TEST_F(Ports, NewPortsAreEmptyAndKnowTheirSide)
{
    CSourcePort oSource;
    CSinkPort oSink;
    EXPECT_EQ(1u, oSource.GetState());
    EXPECT_EQ(2u, oSink.GetState());
    EXPECT_TRUE(oSource.IsSource());
    EXPECT_FALSE(oSource.IsSink());
    EXPECT_TRUE(oSink.IsSink());
    for (CPort* poPort : {static_cast<CPort*>(&oSource), static_cast<CPort*>(&oSink)})
    {
        EXPECT_EQ(nullptr, poPort->GetParent());
        EXPECT_EQ(nullptr, poPort->GetRemotePort());
        EXPECT_EQ(0u, poPort->GetPortID());
        EXPECT_EQ(0u, poPort->GetBufferCount());
        EXPECT_EQ(nullptr, poPort->GetBufferHeader(0));
        EXPECT_FALSE(poPort->IsInterlaced());
        EXPECT_EQ(0u, poPort->GetOddFieldOffset());
        EXPECT_FALSE(poPort->IsBufferReady());
        EXPECT_FALSE(poPort->IsBufferProvider());
        EXPECT_EQ(OMX_ErrorNone, poPort->Init());
    }
}

TEST_F(Ports, ProvideBufferKeepsATableOfTheSameCountAndReplacesAnother)
{
    CFakeSinkPort& roPort = m_oDownstream.m_oInput;
    SPortBufferInfo oInfo = local_oFrame1080;
    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 4));
    EXPECT_TRUE(roPort.IsBufferProvider());
    EXPECT_FALSE(roPort.IsBufferReady());
    EXPECT_EQ(4u, roPort.GetBufferCount());
    EXPECT_EQ(1920u * 1080 * 2, roPort.GetPortBufferInfo().uiBufferSize);
    for (MUINT32 i = 0; i < 4; ++i)
        EXPECT_EQ(nullptr, roPort.GetBufferHeader(i));
    OMX_BUFFERHEADERTYPE** const ppoTable = roPort.HeaderTable();
    ASSERT_NE(nullptr, ppoTable);

    oInfo.uiWidth = 1280;
    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 4));
    EXPECT_EQ(ppoTable, roPort.HeaderTable());
    EXPECT_EQ(1280u, roPort.GetPortBufferInfo().uiWidth);

    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 6));
    EXPECT_EQ(6u, roPort.GetBufferCount());
    EXPECT_NE(nullptr, roPort.HeaderTable());
    for (MUINT32 i = 0; i < 6; ++i)
        EXPECT_EQ(nullptr, roPort.GetBufferHeader(i));
    EXPECT_EQ(nullptr, roPort.GetBufferHeader(6));
}

TEST_F(Ports, ProvideBufferRefusesAPortWhoseBuffersAreReady)
{
    std::vector<OMX_U8> aucMemory(4 * 64);
    SPortBufferInfo oInfo = {static_cast<OMX_COLOR_FORMATTYPE>(0), 64, 0, 0};
    m_oDownstream.m_oInput.FakeProvide(oInfo, aucMemory.data(), 4);
    OMX_BUFFERHEADERTYPE* const poFirst = m_oDownstream.m_oInput.GetBufferHeader(0);
    EXPECT_EQ(std::vector<std::string>{local_oPortFile + "/ProvideBuffer/OMX_ErrorInvalidComponent"},
              Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, m_oDownstream.m_oInput.ProvideBuffer(&oInfo, 2)); }));
    // The live table is kept.
    EXPECT_EQ(poFirst, m_oDownstream.m_oInput.GetBufferHeader(0));
    EXPECT_EQ(4u, m_oDownstream.m_oInput.GetBufferCount());
}

TEST_F(Ports, SetInterlacedOnAProviderLeavesItProgressive)
{
    SPortBufferInfo oInfo = local_oFrame1080;
    CFakeSinkPort& roPort = m_oDownstream.m_oInput;
    roPort.SetInterlaced(true);
    EXPECT_TRUE(roPort.IsInterlaced());
    roPort.SetInterlaced(false);
    EXPECT_FALSE(roPort.IsInterlaced());
    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 2));
    roPort.SetInterlaced(true);
    EXPECT_FALSE(roPort.IsInterlaced());
}

TEST_F(Ports, AllocBuffersIsRefusedWithoutProviderOrPlatformHandle)
{
    SPortBufferInfo oInfo = local_oFrame1080;
    EXPECT_EQ(std::vector<std::string>{local_oPortFile + "/AllocBuffers/OMX_ErrorInvalidComponent"},
              Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, m_oDownstream.m_oInput.AllocBuffers()); }));
    ASSERT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.ProvideBuffer(&oInfo, 2));
    // A software parent has no platform component to allocate from.
    EXPECT_EQ(std::vector<std::string>{local_oPortFile + "/AllocBuffers/OMX_ErrorInvalidComponent"},
              Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, m_oDownstream.m_oInput.AllocBuffers()); }));
    EXPECT_FALSE(m_oDownstream.m_oInput.IsBufferReady());
}

TEST_F(Ports, UseRemoteBuffersIsRefusedUntilTheRemoteSideIsReady)
{
    CFakeSourcePort& roPort = m_oUpstream.m_oOutput;
    const std::vector<std::string> aoRefused{local_oPortFile + "/UseRemoteBuffers/OMX_ErrorInvalidComponent"};
    // No remote port.
    EXPECT_EQ(aoRefused, Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, roPort.UseRemoteBuffers()); }));
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    // The remote side has not allocated yet.
    EXPECT_EQ(aoRefused, Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, roPort.UseRemoteBuffers()); }));
    EXPECT_FALSE(roPort.IsBufferReady());
    // A provider never adopts.
    SPortBufferInfo oInfo = local_oFrame1080;
    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 2));
    std::vector<OMX_U8> aucMemory(2 * 64);
    oInfo.uiBufferSize = 64;
    m_oDownstream.m_oInput.FakeProvide(oInfo, aucMemory.data(), 2);
    EXPECT_EQ(aoRefused, Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, roPort.UseRemoteBuffers()); }));
}

TEST_F(Ports, ASoftwareUserMakesBareHeadersOverTheRemoteMemory)
{
    std::vector<OMX_U8> aucMemory(3 * 1000);
    const SPortBufferInfo oInfo = {static_cast<OMX_COLOR_FORMATTYPE>(0), 1000, 0, 0};
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    m_oDownstream.m_oInput.FakeProvide(oInfo, aucMemory.data(), 3);
    m_oUpstream.m_oOutput.SetPortID(7);
    CFakeSourcePort& roPort = m_oUpstream.m_oOutput;

    ASSERT_EQ(OMX_ErrorNone, roPort.UseRemoteBuffers());
    EXPECT_TRUE(roPort.IsBufferReady());
    EXPECT_FALSE(roPort.IsBufferProvider());
    ASSERT_EQ(3u, roPort.GetBufferCount());
    for (MUINT32 i = 0; i < 3; ++i)
    {
        const OMX_BUFFERHEADERTYPE* poHeader = roPort.GetBufferHeader(i);
        ASSERT_NE(nullptr, poHeader);
        EXPECT_NE(m_oDownstream.m_oInput.GetBufferHeader(i), poHeader);
        EXPECT_EQ(m_oDownstream.m_oInput.GetBufferHeader(i)->pBuffer, poHeader->pBuffer);
        EXPECT_EQ(aucMemory.data() + i * 1000, poHeader->pBuffer);
        EXPECT_EQ(sizeof(OMX_BUFFERHEADERTYPE), poHeader->nSize);
        EXPECT_EQ(1, poHeader->nVersion.s.nVersionMajor);
        EXPECT_EQ(1, poHeader->nVersion.s.nVersionMinor);
        EXPECT_EQ(0, poHeader->nVersion.s.nRevision);
        EXPECT_EQ(0, poHeader->nVersion.s.nStep);
        EXPECT_EQ(1000u, poHeader->nAllocLen);
        EXPECT_EQ(0u, poHeader->nFilledLen);
        EXPECT_EQ(7u, poHeader->nInputPortIndex);
        EXPECT_EQ(7u, poHeader->nOutputPortIndex);
        EXPECT_EQ(0u, poHeader->nFlags);
        EXPECT_EQ(nullptr, poHeader->pAppPrivate);
    }

    // Release deletes the bare headers and keeps the table and count.
    ASSERT_EQ(OMX_ErrorNone, roPort.ReleaseBuffers());
    EXPECT_FALSE(roPort.IsBufferReady());
    EXPECT_EQ(3u, roPort.GetBufferCount());
    EXPECT_NE(nullptr, roPort.HeaderTable());
    EXPECT_EQ(nullptr, roPort.GetBufferHeader(0));
    // And the port can adopt again.
    ASSERT_EQ(OMX_ErrorNone, roPort.UseRemoteBuffers());
    EXPECT_EQ(aucMemory.data() + 2000, roPort.GetBufferHeader(2)->pBuffer);
    ASSERT_EQ(OMX_ErrorNone, roPort.Deinit());
}

TEST_F(Ports, AnInterlacedUserSplitsEachRemoteFrameIntoTwoFields)
{
    // 4 remote buffers of 1920 x 1080 YUV 4:2:2 (pitch 3840): 8 field headers of 540 lines, the
    // odd ones 3840 x 540 = 2,073,600 bytes into the remote buffers.
    std::vector<OMX_U8> aucMemory(4u * local_oFrame1080.uiBufferSize);
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    m_oUpstream.m_oOutput.FakeProvide(local_oFrame1080, aucMemory.data(), 4);
    CFakeSinkPort& roPort = m_oDownstream.m_oInput;
    roPort.SetInterlaced(true);

    ASSERT_EQ(OMX_ErrorNone, roPort.UseRemoteBuffers());
    EXPECT_EQ(8u, roPort.GetBufferCount());
    EXPECT_EQ(2073600u, roPort.GetOddFieldOffset());
    EXPECT_EQ(1920u * 1080, roPort.GetPortBufferInfo().uiBufferSize);
    EXPECT_EQ(540u, roPort.GetPortBufferInfo().uiHeight);
    EXPECT_EQ(1920u, roPort.GetPortBufferInfo().uiWidth);
    for (MUINT32 i = 0; i < 8; ++i)
    {
        const OMX_U8* pRemote = m_oUpstream.m_oOutput.GetBufferHeader(i / 2)->pBuffer;
        EXPECT_EQ(pRemote + (i % 2 ? 2073600u : 0u), roPort.GetBufferHeader(i)->pBuffer) << i;
        EXPECT_EQ(1920u * 1080, roPort.GetBufferHeader(i)->nAllocLen);
    }
    // Deinit releases and forgets everything but the side.
    ASSERT_EQ(OMX_ErrorNone, roPort.Deinit());
    EXPECT_FALSE(roPort.IsInterlaced());
    EXPECT_EQ(0u, roPort.GetOddFieldOffset());
    EXPECT_EQ(nullptr, roPort.GetRemotePort());
    EXPECT_EQ(nullptr, roPort.GetParent());
    EXPECT_EQ(nullptr, roPort.HeaderTable());
    EXPECT_EQ(2u, roPort.GetState());
}

TEST_F(Ports, ReleaseWithoutReadyBuffersTouchesNothing)
{
    SPortBufferInfo oInfo = local_oFrame1080;
    CFakeSinkPort& roPort = m_oDownstream.m_oInput;
    ASSERT_EQ(OMX_ErrorNone, roPort.ProvideBuffer(&oInfo, 3));
    OMX_BUFFERHEADERTYPE** const ppoTable = roPort.HeaderTable();
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, roPort.ReleaseBuffers()); }));
    EXPECT_EQ(ppoTable, roPort.HeaderTable());
    EXPECT_EQ(3u, roPort.GetBufferCount());
    EXPECT_TRUE(roPort.IsBufferProvider());
    ASSERT_EQ(OMX_ErrorNone, roPort.Deinit());
    EXPECT_FALSE(roPort.IsBufferProvider());
    EXPECT_EQ(2u, roPort.GetState());
}

TEST_F(Ports, AnUnlinkedSourcePortAnswersNotReadyWithoutRecords)
{
    CFakeSourcePort& roPort = m_oUpstream.m_oOutput;
    OMX_BUFFERHEADERTYPE oHeader{};
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.Execute(0));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.Pause());
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.Loaded());
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.StartBufferProcessing());
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.StopBufferProcessing());
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.EmptyThisBuffer(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.FillBufferDone(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, m_oDownstream.m_oInput.FillThisBuffer(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, m_oDownstream.m_oInput.EmptyBufferDone(&oHeader));
              }));
    EXPECT_EQ(0u, m_oUpstream.Count(CRecordingComponent::Op_Execute));

    // A port without parent (never set up, or deinitialised) forwards nothing to it either.
    CSourcePort oOrphanSource;
    CSinkPort oOrphanSink;
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSource.FillThisBuffer(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSource.EmptyBufferDone(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSink.EmptyThisBuffer(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSink.FillBufferDone(&oHeader));
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSink.Execute(0));
                  EXPECT_EQ(OMX_ErrorNotReady, oOrphanSink.Loaded());
              }));
}

TEST_F(Ports, RefusedNegotiationOperationsAnswerNotReady)
{
    SPortBufferInfo oInfo = local_oFrame1080;
    CFakeSinkPort& roPort = m_oDownstream.m_oInput;
    const std::vector<std::string> aoExpected{
        local_oPortFile + "/CanConnect/OMX_ErrorNotReady", local_oPortFile + "/SetBufferInfo/OMX_ErrorNotReady",
        local_oPortFile + "/SetBufferCount/OMX_ErrorNotReady", local_oPortFile + "/SetAsProvider/OMX_ErrorNotReady",
        local_oPortFile + "/SetAsNonProvider/OMX_ErrorNotReady"};
    EXPECT_EQ(aoExpected, Records([&] {
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.CanConnect(&oInfo));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.SetBufferInfo(&oInfo));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.SetBufferCount(3));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.SetAsProvider(1));
                  EXPECT_EQ(OMX_ErrorNotReady, roPort.SetAsNonProvider(1));
              }));
    EXPECT_FALSE(roPort.IsBufferProvider());
}

TEST_F(Ports, ControlRequestsRunTheNextComponentDownstream)
{
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    m_oDownstream.m_oInput.SetPortID(5);
    m_oDownstream.SetResult(CRecordingComponent::Op_Pause, OMX_ErrorHardware);
    CFakeSourcePort& roPort = m_oUpstream.m_oOutput;
    EXPECT_EQ(OMX_ErrorNone, roPort.Execute(1));
    EXPECT_EQ(1u, m_oDownstream.m_uiLastTestMode);
    EXPECT_EQ(OMX_ErrorHardware, roPort.Pause());
    EXPECT_EQ(OMX_ErrorNone, roPort.Loaded());
    EXPECT_EQ(5u, m_oDownstream.m_uiLastLoadedPort);
    EXPECT_EQ(OMX_ErrorNone, roPort.StartBufferProcessing());
    EXPECT_EQ(OMX_ErrorNone, roPort.StopBufferProcessing());
    for (auto eOperation : {CRecordingComponent::Op_Execute, CRecordingComponent::Op_Pause, CRecordingComponent::Op_Loaded,
                            CRecordingComponent::Op_StartBufferProcessing, CRecordingComponent::Op_StopBufferProcessing})
    {
        EXPECT_EQ(1u, m_oDownstream.Count(eOperation)) << eOperation;
        EXPECT_EQ(0u, m_oUpstream.Count(eOperation)) << eOperation;
    }
}

TEST_F(Ports, BuffersTravelDownAsEmptyAndBackAsFill)
{
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oDownstream, 0));
    OMX_BUFFERHEADERTYPE oHeader{};
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    // Downstream: a filled buffer leaves through the output and reaches the consumer.
    EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.EmptyThisBuffer(&oHeader));
    EXPECT_EQ(&oHeader, m_oDownstream.Last(CRecordingComponent::Op_EmptyThisBuffer));
    // Upstream: a consumed buffer goes back through the input to be filled again.
    EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.FillThisBuffer(&oHeader));
    EXPECT_EQ(&oHeader, m_oUpstream.Last(CRecordingComponent::Op_FillThisBuffer));
    // A software consumer's done buffer reaches the producer's EmptyBufferDone.
    EXPECT_EQ(OMX_ErrorNone, m_oDownstream.m_oInput.EmptyBufferDone(&oHeader));
    EXPECT_EQ(&oHeader, m_oUpstream.Last(CRecordingComponent::Op_EmptyBufferDone));
    // FillBufferDone travels downstream to the consumer.
    EXPECT_EQ(OMX_ErrorNone, m_oUpstream.m_oOutput.FillBufferDone(&oHeader));
    EXPECT_EQ(&oHeader, m_oDownstream.Last(CRecordingComponent::Op_FillBufferDone));
    const std::string oText = oOut.Finish();
    char szExpected[128];
    snprintf(szExpected, sizeof(szExpected), "# EmptyThisBuffer      CSourcePort:%p\n", static_cast<void*>(&oHeader));
    EXPECT_NE(std::string::npos, oText.find(szExpected)) << oText;
    snprintf(szExpected, sizeof(szExpected), "# EmptyThisBuffer      CSinkPort:%p\n", static_cast<void*>(&oHeader));
    EXPECT_NE(std::string::npos, oText.find(szExpected)) << oText;
    snprintf(szExpected, sizeof(szExpected), "# FillThisBuffer       CSinkPort:%p\n", static_cast<void*>(&oHeader));
    EXPECT_NE(std::string::npos, oText.find(szExpected)) << oText;
    for (auto eOperation : {CRecordingComponent::Op_EmptyThisBuffer, CRecordingComponent::Op_FillBufferDone})
        EXPECT_EQ(0u, m_oUpstream.Count(eOperation));
    for (auto eOperation : {CRecordingComponent::Op_FillThisBuffer, CRecordingComponent::Op_EmptyBufferDone})
        EXPECT_EQ(0u, m_oDownstream.Count(eOperation));
}
