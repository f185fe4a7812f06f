// The software source, the default source's mark and the software sink, without a platform.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "AbortRecords.h"
#include "ComponentTestSupport.h"
#include "OutputCapture.h"
#include "base-components/CDefaultSource.h"
#include "base-components/CSinkComponent.h"
#include "ti814x-framework.h"

namespace
{
class SoftwareComponents : public ::testing::Test
{
protected:
    void SetUp() override { SetInfoMessageLevel(0); }
    void TearDown() override { SetInfoMessageLevel(0); }
};

const SPortBufferInfo local_oSmallBuffers = {static_cast<OMX_COLOR_FORMATTYPE>(0), 256, 0, 0};

// A source feeding a recording consumer that provides 3 buffers of 256 bytes on Execute.
struct SSourceChain
{
    SSourceChain()
    {
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Init());
        EXPECT_EQ(OMX_ErrorNone, m_oConsumer.Init());
        m_oConsumer.m_oInput.SetPortID(3);
        m_oConsumer.ProvideOnExecute(local_oSmallBuffers, m_aucMemory.data(), 3);
        EXPECT_EQ(OMX_ErrorNone, m_oSource.ConnectTo(0, &m_oConsumer, 0));
    }

    std::vector<OMX_U8> m_aucMemory = std::vector<OMX_U8>(3 * 256);
    CSourceComponent m_oSource;
    CRecordingComponent m_oConsumer;
};
} // namespace

TEST_F(SoftwareComponents, TheDefaultSourceMarksABlackBlockAndNothingElse)
{
    // 1024 x 768: bytes 64 to 255 of each of the first 32 lines, lines 2048 bytes apart.
    const size_t uiPitch = 2048;
    std::vector<OMX_U8> aucFrame(uiPitch * 768, 0xAA);
    OMX_BUFFERHEADERTYPE oHeader{};
    oHeader.pBuffer = aucFrame.data();
    oHeader.nAllocLen = aucFrame.size();
    oHeader.nOffset = 100;
    oHeader.nFilledLen = 7;
    CDefaultSource oSource;
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    oSource.SetFrameSize(1024, 768);
    EXPECT_EQ(1024u, oSource.GetFrameSize().m_uiCx);
    EXPECT_EQ(768u, oSource.GetFrameSize().m_uiCy);

    // Stopped: marked, kept, nothing handed on.
    EXPECT_EQ(OMX_ErrorNone, oSource.FillThisBuffer(&oHeader));
    size_t uiMarked = 0;
    for (size_t i = 0; i < aucFrame.size(); ++i)
    {
        const size_t uiLine = i / uiPitch;
        const size_t uiByte = i % uiPitch;
        if (uiLine < 32 && uiByte >= 64 && uiByte <= 255)
        {
            ASSERT_EQ(uiByte % 2 ? 0x80 : 0x00, aucFrame[i]) << "line " << uiLine << " byte " << uiByte;
            ++uiMarked;
        }
        else
            ASSERT_EQ(0xAA, aucFrame[i]) << "line " << uiLine << " byte " << uiByte;
    }
    EXPECT_EQ(32u * 192, uiMarked);
    EXPECT_EQ(100u, oHeader.nOffset);
    EXPECT_EQ(7u, oHeader.nFilledLen);
    EXPECT_EQ(0u, oHeader.nFlags);
}

TEST_F(SoftwareComponents, TheMarkNeverWritesPastTheBuffer)
{
    // Room for 3 lines of 2048 bytes and the mark of a fourth.
    std::vector<OMX_U8> aucFrame(3 * 2048 + 256 + 64, 0xAA);
    OMX_BUFFERHEADERTYPE oHeader{};
    oHeader.pBuffer = aucFrame.data();
    oHeader.nAllocLen = 3 * 2048 + 256;
    CDefaultSource oSource;
    oSource.SetFrameSize(1024, 768);
    EXPECT_EQ(OMX_ErrorNone, oSource.FillThisBuffer(&oHeader));
    EXPECT_EQ(0x80, aucFrame[3 * 2048 + 255]);
    for (size_t i = 3 * 2048 + 256; i < aucFrame.size(); ++i)
        EXPECT_EQ(0xAA, aucFrame[i]);
}

TEST_F(SoftwareComponents, AStoppedSourceKeepsWhatComesBack)
{
    SSourceChain oChain;
    OMX_BUFFERHEADERTYPE oHeader{};
    EXPECT_FALSE(oChain.m_oSource.IsBufferProcessing());
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.FillThisBuffer(&oHeader));
    EXPECT_EQ(0u, oChain.m_oConsumer.Count(CRecordingComponent::Op_EmptyThisBuffer));
    EXPECT_EQ(nullptr, oChain.m_oSource.GetOMXHandle());
}

TEST_F(SoftwareComponents, ASourceWhoseDownstreamFailsToExecutePrimesNothing)
{
    SSourceChain oChain;
    oChain.m_oConsumer.SetResult(CRecordingComponent::Op_Execute, OMX_ErrorHardware);
    std::string oOther;
    const auto aoRecords =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorHardware, oChain.m_oSource.Start()); }, oOther);
    EXPECT_EQ("", oOther);
    EXPECT_EQ((std::vector<std::string>{"framework/base-components/CSourceComponent/Execute/OMX_ErrorHardware",
                                        "framework/base-components/CSourceComponent/Start/OMX_ErrorHardware"}),
              AbortRecordKeys(aoRecords));
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR));
    EXPECT_EQ(0u, oChain.m_oConsumer.Count(CRecordingComponent::Op_StartBufferProcessing));
    EXPECT_EQ(0u, oChain.m_oConsumer.Count(CRecordingComponent::Op_EmptyThisBuffer));
    EXPECT_FALSE(oChain.m_oSource.GetOutputPort().IsBufferReady());
    EXPECT_FALSE(oChain.m_oSource.IsBufferProcessing());
}

TEST_F(SoftwareComponents, ASourcePrimesEveryBufferOnceAndRefillsWhatComesBack)
{
    SSourceChain oChain;
    oChain.m_oConsumer.m_bKeepEmptied = true;
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start());
    EXPECT_TRUE(oChain.m_oSource.IsBufferProcessing());
    EXPECT_EQ(1u, oChain.m_oConsumer.Count(CRecordingComponent::Op_Execute));
    EXPECT_EQ(1u, oChain.m_oConsumer.Count(CRecordingComponent::Op_StartBufferProcessing));
    // The source adopted the consumer's memory and produced each buffer once, in index order.
    CSourcePort& roOutput = oChain.m_oSource.GetOutputPort();
    ASSERT_TRUE(roOutput.IsBufferReady());
    ASSERT_EQ(3u, oChain.m_oConsumer.m_apoEmptied.size());
    for (MUINT32 i = 0; i < 3; ++i)
    {
        EXPECT_EQ(roOutput.GetBufferHeader(i), oChain.m_oConsumer.m_apoEmptied[i]);
        EXPECT_EQ(oChain.m_aucMemory.data() + 256 * i, oChain.m_oConsumer.m_apoEmptied[i]->pBuffer);
    }
    // Each buffer handed back is produced again at once.
    for (int iRound = 0; iRound < 5; ++iRound)
        for (MUINT32 i = 0; i < 3; ++i)
            EXPECT_EQ(OMX_ErrorNone, oChain.m_oConsumer.m_oInput.FillThisBuffer(oChain.m_oConsumer.m_apoEmptied[i]));
    EXPECT_EQ(3u + 15u, oChain.m_oConsumer.Count(CRecordingComponent::Op_EmptyThisBuffer));

    // Stop: later returns stay with the source; its headers go, then the consumer is loaded
    // through the port with its port index.
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop());
    EXPECT_FALSE(oChain.m_oSource.IsBufferProcessing());
    EXPECT_EQ(1u, oChain.m_oConsumer.Count(CRecordingComponent::Op_StopBufferProcessing));
    EXPECT_EQ(1u, oChain.m_oConsumer.Count(CRecordingComponent::Op_Loaded));
    EXPECT_EQ(3u, oChain.m_oConsumer.m_uiLastLoadedPort);
    EXPECT_FALSE(roOutput.IsBufferReady());
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oConsumer.m_oInput.FillThisBuffer(oChain.m_oConsumer.m_apoEmptied[0]));
    EXPECT_EQ(18u, oChain.m_oConsumer.Count(CRecordingComponent::Op_EmptyThisBuffer));
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.Deinit());
}

TEST_F(SoftwareComponents, ASourceReportsADownstreamRefusalOfABuffer)
{
    SSourceChain oChain;
    oChain.m_oConsumer.SetResult(CRecordingComponent::Op_EmptyThisBuffer, OMX_ErrorOverflow);
    std::string oOther;
    const auto aoRecords =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorOverflow, oChain.m_oSource.Start()); }, oOther);
    EXPECT_EQ("", oOther);
    // The priming stops at the first refusal.
    EXPECT_EQ(1u, oChain.m_oConsumer.Count(CRecordingComponent::Op_EmptyThisBuffer));
    EXPECT_EQ((std::vector<std::string>{"framework/base-components/CSourceComponent/FillThisBuffer/OMX_ErrorOverflow",
                                        "framework/base-components/CSourceComponent/StartBufferProcessing/OMX_ErrorOverflow",
                                        "framework/base-components/CSourceComponent/Start/OMX_ErrorOverflow"}),
              AbortRecordKeys(aoRecords));
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop());
}

TEST_F(SoftwareComponents, TheSinkHandsEveryBufferStraightBackUpstream)
{
    CRecordingComponent oProducer;
    ASSERT_EQ(OMX_ErrorNone, oProducer.Init());
    CSinkComponent oSink;
    // The port exists from construction on.
    EXPECT_EQ(&oSink, oSink.GetInputPort().GetParent());
    EXPECT_EQ(1u, oSink.GetInputPortCount());
    ASSERT_EQ(OMX_ErrorNone, oProducer.ConnectTo(0, &oSink, 0));
    EXPECT_EQ(nullptr, oSink.GetOMXHandle());
    for (OMX_ERRORTYPE eResult : {oSink.Init(), oSink.Execute(0), oSink.Pause(), oSink.Loaded(0),
                                  oSink.StartBufferProcessing(), oSink.StopBufferProcessing(), oSink.StartProcessing(),
                                  oSink.Deinit()})
        EXPECT_EQ(OMX_ErrorNone, eResult);

    OMX_BUFFERHEADERTYPE oHeader{};
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, oSink.EmptyThisBuffer(&oHeader));
    oProducer.SetResult(CRecordingComponent::Op_FillThisBuffer, OMX_ErrorTimeout);
    EXPECT_EQ(OMX_ErrorTimeout, oSink.EmptyThisBuffer(&oHeader));
    const std::string oText = oOut.Finish();
    EXPECT_EQ(2u, oProducer.Count(CRecordingComponent::Op_FillThisBuffer));
    EXPECT_EQ(&oHeader, oProducer.Last(CRecordingComponent::Op_FillThisBuffer));
    char szExpected[128];
    snprintf(szExpected, sizeof(szExpected), "# EmptyThisBuffer      CSinkComponent:%p\n", static_cast<void*>(&oHeader));
    EXPECT_NE(std::string::npos, oText.find(szExpected)) << oText;
}

TEST_F(SoftwareComponents, TheSinkReportsTheRateWhenTheSecondChanges)
{
    CRecordingComponent oProducer;
    ASSERT_EQ(OMX_ErrorNone, oProducer.Init());
    CSinkComponent oSink;
    ASSERT_EQ(OMX_ErrorNone, oProducer.ConnectTo(0, &oSink, 0));
    OMX_BUFFERHEADERTYPE oHeader{};

    // One buffer every 40 ms for a little over two seconds. Each call is made well away from a
    // change of second, so the second the sink reads is the one read here just before.
    std::vector<time_t> aiSeconds;
    auto fnSendAwayFromSecondChange = [&] {
        timespec oNow{};
        clock_gettime(CLOCK_REALTIME, &oNow);
        if (oNow.tv_nsec > 950000000L)
        {
            const timespec oPause{0, 1000000000L - oNow.tv_nsec + 5000000L};
            nanosleep(&oPause, nullptr);
            clock_gettime(CLOCK_REALTIME, &oNow);
        }
        aiSeconds.push_back(oNow.tv_sec);
        EXPECT_EQ(OMX_ErrorNone, oSink.EmptyThisBuffer(&oHeader));
    };
    {
        COutputCapture oOut(STDOUT_FILENO);
        fnSendAwayFromSecondChange();
        EXPECT_EQ("", oOut.Finish()) << "the first buffer prints no rate line";
    }
    std::string oText;
    {
        COutputCapture oOut(STDOUT_FILENO);
        while (aiSeconds.back() < aiSeconds.front() + 3)
        {
            const timespec oPause{0, 40000000L};
            nanosleep(&oPause, nullptr);
            fnSendAwayFromSecondChange();
        }
        oText = oOut.Finish();
    }
    EXPECT_EQ(aiSeconds.size(), oProducer.Count(CRecordingComponent::Op_FillThisBuffer));

    // Expected: a line at each buffer whose second differs from the last report's; it counts the
    // buffers since then, that one included.
    char szPrefix[32];
    snprintf(szPrefix, sizeof(szPrefix), "FPS(0x%08X)=", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&oSink)));
    std::string oExpected;
    time_t iReportSecond = aiSeconds.front();
    int iCount = 0;
    for (size_t i = 1; i < aiSeconds.size(); ++i)
    {
        ++iCount;
        if (aiSeconds[i] != iReportSecond)
        {
            oExpected += szPrefix + std::to_string(iCount) + "\n";
            iReportSecond = aiSeconds[i];
            iCount = 0;
        }
    }
    EXPECT_EQ(oExpected, oText);
    EXPECT_GE(std::count(oText.begin(), oText.end(), '\n'), 2);
}
