// The pieces of the RTSP side on their own: start codes and slice types, the scoped lock, the
// bridge's FIFO hand-off and switch, the video stream's gate, parameter sets and statistics, and
// the server's checks, launch line and address.
#include <gtest/gtest.h>

#include <gst/gst.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "RtspTestSupport.h"
#include "RtspTestWatchdog.h"
#include "ti814x-framework.h"

namespace
{
// An upstream component that only provides the link and takes headers back.
class CUpstream : public CComponent
{
public:
    explicit CUpstream(MUINT32 uiBufferSize) : m_uiBufferSize(uiBufferSize) {}
    OMX_ERRORTYPE Init() override
    {
        const OMX_ERRORTYPE eError = InitPorts();
        SPortBufferInfo oInfo{};
        oInfo.uiBufferSize = m_uiBufferSize;
        m_oOutput.Provide(oInfo, 4);
        return eError;
    }
    OMX_ERRORTYPE Deinit() override
    {
        m_oOutput.Release();
        return m_oOutput.Deinit();
    }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiOutputPortCount = 1;
        m_poOutputPort = &m_oOutput;
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        aoFilled.push_back(poHeader);
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        aoEmptied.push_back(poHeader);
        return OMX_ErrorNone;
    }
    CProvidingSourcePort m_oOutput;
    std::vector<OMX_BUFFERHEADERTYPE*> aoFilled;
    std::vector<OMX_BUFFERHEADERTYPE*> aoEmptied;
    MUINT32 m_uiBufferSize;
};

class GstUnit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gst_init(nullptr, nullptr);
        SetInfoMessageLevel(0);
    }
};

// The video stream connected to an upstream, executed and processing buffers.
class VideoStream : public GstUnit
{
protected:
    void SetUp() override
    {
        GstUnit::SetUp();
        ASSERT_EQ(OMX_ErrorNone, m_oUpstream.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oVideo, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.Execute(0));
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.StartBufferProcessing());
        m_poSource = gst_element_factory_make("fakesrc", nullptr);
        m_poPlaying = gst_bin_new(nullptr);
        gst_element_set_state(m_poPlaying, GST_STATE_PLAYING);
    }
    void TearDown() override
    {
        m_oVideo.StopBufferProcessing();
        m_oVideo.Deinit();
        m_oUpstream.Deinit();
        gst_element_set_state(m_poPlaying, GST_STATE_NULL);
        gst_object_unref(m_poPlaying);
        gst_object_unref(m_poSource);
    }

    // Queues the bytes in a header and runs one handoff on a buffer of uiGstSize bytes, as the
    // source element in the state of poState does; returns what the buffer holds afterwards.
    std::vector<guint8> Deliver(const std::vector<guint8>& roData, GstElement* poState = nullptr, gsize uiGstSize = 1024)
    {
        OMX_BUFFERHEADERTYPE* poHeader = m_oUpstream.m_oOutput.GetBufferHeader(m_uiNext++ % 4);
        memcpy(poHeader->pBuffer, roData.data(), roData.size());
        poHeader->nFilledLen = static_cast<OMX_U32>(roData.size());
        m_oVideo.EmptyThisBuffer(poHeader);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, uiGstSize, nullptr);
        m_oVideo.Handoff(poState ? poState : m_poSource, poBuffer, nullptr);
        GstMapInfo oMap;
        gst_buffer_map(poBuffer, &oMap, GST_MAP_READ);
        std::vector<guint8> abyResult(oMap.data, oMap.data + oMap.size);
        gst_buffer_unmap(poBuffer, &oMap);
        gst_buffer_unref(poBuffer);
        return abyResult;
    }

    CUpstream m_oUpstream{4096};
    RTSPVideoServerComponent m_oVideo;
    GstElement* m_poSource = nullptr;
    GstElement* m_poPlaying = nullptr;
    MUINT32 m_uiNext = 0;
};

std::vector<guint8> operator+(std::vector<guint8> aoLeft, const std::vector<guint8>& roRight)
{
    aoLeft.insert(aoLeft.end(), roRight.begin(), roRight.end());
    return aoLeft;
}

const std::vector<guint8> local_abySps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x05, 0x07, 0xC4};
const std::vector<guint8> local_abyPps = {0, 0, 0, 1, 0x68, 0xCE, 0x0F, 0xC8};
const std::vector<guint8> local_abyIdr = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xFF};
const std::vector<guint8> local_abyP = {0, 0, 0, 1, 0x41, 0x9A, 0x02, 0x04, 0x11};
const std::vector<guint8> local_abyI = {0, 0, 0, 1, 0x41, 0x88, 0x21, 0x04, 0x11};
} // namespace

// ---- Start codes and slice types ------------------------------------------------------------

TEST(GetNextStartCode, FindsThreeByteCodesAndLeavesTheExtraZeroToTheDataBefore)
{
    const guint8 abyIdr[] = {0x00, 0x00, 0x01, 0x65};
    const guint8 abyLong[] = {0x00, 0x00, 0x00, 0x01, 0x67};
    const guint8 abyNone[] = {0x12, 0x34, 0x56};
    const guint8 abyLater[] = {0x11, 0x22, 0x00, 0x00, 0x01, 0x41, 0x00, 0x01};
    EXPECT_EQ(0u, RTSPVideoServerComponent::GetNextStartCode(abyIdr, 4));
    EXPECT_EQ(1u, RTSPVideoServerComponent::GetNextStartCode(abyLong, 5));
    EXPECT_EQ(3u, RTSPVideoServerComponent::GetNextStartCode(abyNone, 3));
    EXPECT_EQ(2u, RTSPVideoServerComponent::GetNextStartCode(abyIdr, 2));
    EXPECT_EQ(2u, RTSPVideoServerComponent::GetNextStartCode(abyLater, sizeof(abyLater)));
    // 00 01 alone is no start code.
    EXPECT_EQ(2u, RTSPVideoServerComponent::GetNextStartCode(abyLater + 6, 2));
}

TEST(GetFrameType, DecodesTheSliceTypeOfAPictureStart)
{
    SetInfoMessageLevel(0);
    EXPECT_EQ(2, GetFrameType(0x88));  // slice_type 7: I
    EXPECT_EQ(0, GetFrameType(0x9A));  // slice_type 5: P
    EXPECT_EQ(2, GetFrameType(0xB0));  // slice_type 2: I
    EXPECT_EQ(1, GetFrameType(0xA0));  // slice_type 1: B
    EXPECT_EQ(0, GetFrameType(0xE0));  // slice_type 0: P
    CStdoutCapture oCapture;
    EXPECT_EQ(0, GetFrameType(0xC0));
    EXPECT_EQ(0, GetFrameType(0x80));
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Warning: Unrecognized data structure of non-IDR frame: C0"));
    EXPECT_NE(std::string::npos, oCapture.Text().find("Warning: Unrecognized data structure of non-IDR frame: 80"));
}

TEST(CMutexLockUnlock, HoldsTheMutexForItsScope)
{
    pthread_mutex_t hMutex = PTHREAD_MUTEX_INITIALIZER;
    {
        CMutexLockUnlock oLock(hMutex);
        EXPECT_EQ(EBUSY, std::async(std::launch::async, [&] { return pthread_mutex_trylock(&hMutex); }).get());
    }
    EXPECT_EQ(0, pthread_mutex_trylock(&hMutex));
    pthread_mutex_unlock(&hMutex);
    pthread_mutex_destroy(&hMutex);
}

// ---- The bridge ---------------------------------------------------------------------------

TEST_F(GstUnit, ExecuteWithoutUpstreamFailsAndBuildsNoFragment)
{
    RTSPVideoServerComponent oVideo;
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    testing::internal::CaptureStderr();
    EXPECT_EQ(OMX_ErrorUndefined, oVideo.Execute(0));
    const std::string oErr = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, oErr.find("OMX_ErrorUndefined"));
    EXPECT_EQ(nullptr, oVideo.GetLaunchCommand());
    EXPECT_EQ(OMX_ErrorNotImplemented, oVideo.Pause());
    EXPECT_STREQ("RTSPVideoServer.fakesrc", oVideo.GetSourceElementName());
    ASSERT_NE(nullptr, oVideo.GetPipelineCreatedCallback());
    EXPECT_EQ(&oVideo, oVideo.GetPipelineCreatedCallback()->pvCallbackArgs);
    EXPECT_EQ(OMX_ErrorNone, oVideo.Deinit());
    EXPECT_EQ(nullptr, oVideo.GetPipelineCreatedCallback());
}

TEST_F(VideoStream, TheLaunchFragmentIsTheGStreamer1Text)
{
    EXPECT_STREQ("fakesrc silent=true sizemax=4096 sizetype=2 filltype=1 signal-handoffs=true "
                 "name=RTSPVideoServer.fakesrc do-timestamp=true can-activate-pull=false ! "
                 "video/x-h264,stream-format=byte-stream,alignment=au ! h264parse ! video/x-h264,alignment=au ! "
                 "rtph264pay ",
                 m_oVideo.GetLaunchCommand());
    // It parses, and its source is found by its name.
    GError* poError = nullptr;
    GstElement* poBin = gst_parse_launch(m_oVideo.GetLaunchCommand(), &poError);
    ASSERT_NE(nullptr, poBin) << (poError ? poError->message : "");
    GstElement* poSource = gst_bin_get_by_name(GST_BIN(poBin), "RTSPVideoServer.fakesrc");
    EXPECT_NE(nullptr, poSource);
    if (poSource)
        gst_object_unref(poSource);
    gst_object_unref(poBin);
}

TEST_F(GstUnit, SetParametersWithoutRemotePortLogsAndFails)
{
    RTSPVideoServerComponent oVideo;
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    CStdoutCapture oCapture;
    EXPECT_EQ(OMX_ErrorUndefined, oVideo.SetParameters());
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Error: no remote input port"));
    oVideo.Deinit();
}

TEST_F(VideoStream, StopBufferProcessingReturnsQueuedHeadersUpstreamInOrder)
{
    for (MUINT32 i = 0; i < 3; ++i)
        EXPECT_EQ(OMX_ErrorNone, m_oVideo.EmptyThisBuffer(m_oUpstream.m_oOutput.GetBufferHeader(i)));
    EXPECT_TRUE(m_oUpstream.aoEmptied.empty());
    EXPECT_EQ(OMX_ErrorNone, m_oVideo.StopBufferProcessing());
    ASSERT_EQ(3u, m_oUpstream.aoEmptied.size());
    for (MUINT32 i = 0; i < 3; ++i)
        EXPECT_EQ(m_oUpstream.m_oOutput.GetBufferHeader(i), m_oUpstream.aoEmptied[i]);
    EXPECT_FALSE(m_oVideo.IsBufferProcessing());
}

TEST_F(VideoStream, AHandoffStoppedFromProcessingLeavesTheBufferAlone)
{
    m_oVideo.StopBufferProcessing();
    CStdoutCapture oCapture;
    SetInfoMessageLevel(2);
    const std::vector<guint8> abyOut = Deliver(local_abyIdr);
    SetInfoMessageLevel(0);
    oCapture.Stop();
    EXPECT_EQ(1024u, abyOut.size());
    EXPECT_NE(std::string::npos, oCapture.Text().find("RTSPVideoServerComponent: buffer processing stopped"));
    m_oVideo.StopBufferProcessing();
}

TEST_F(VideoStream, ABlockedHandoffReturnsWhenTheFifoIsDisconnected)
{
    GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, 512, nullptr);
    auto oHandoff = std::async(std::launch::async, [&] { return m_oVideo.Handoff(m_poSource, poBuffer, nullptr); });
    // The handoff waits for data.
    EXPECT_EQ(std::future_status::timeout, oHandoff.wait_for(std::chrono::milliseconds(200)));
    m_oVideo.DisconnectFifo(TRUE);
    ASSERT_EQ(std::future_status::ready, oHandoff.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(0u, gst_buffer_get_size(poBuffer));
    gst_buffer_unref(poBuffer);

    // Later handoffs do not wait, deliver nothing and still give a header back.
    CStdoutCapture oCapture;
    SetInfoMessageLevel(3);
    const std::vector<guint8> abyOut = Deliver(local_abyIdr);
    SetInfoMessageLevel(0);
    oCapture.Stop();
    EXPECT_TRUE(abyOut.empty());
    EXPECT_NE(std::string::npos, oCapture.Text().find("FIFO Disconnected from OMX!"));
    EXPECT_EQ(1u, m_oUpstream.aoFilled.size());
}

TEST_F(VideoStream, TheSwitchNeverLeavesAHandoffAsleep)
{
    // The switch thrown at any moment of a handoff's decision to wait: every handoff returns.
    for (int i = 0; i < 300; ++i)
    {
        m_oVideo.DisconnectFifo(FALSE);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
        std::thread oHandoff([&] { m_oVideo.Handoff(m_poSource, poBuffer, nullptr); });
        if (i % 3 == 1)
            std::this_thread::yield();
        else if (i % 3 == 2)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        m_oVideo.DisconnectFifo(TRUE);
        oHandoff.join();
        gst_buffer_unref(poBuffer);
    }
}

TEST_F(VideoStream, DisconnectWithNoHandoffWaitingOnlySetsTheSwitch)
{
    m_oVideo.DisconnectFifo(TRUE);
    EXPECT_TRUE(Deliver(local_abyIdr).empty());
    m_oVideo.DisconnectFifo(FALSE);
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
}

// ---- The video stream ---------------------------------------------------------------------

TEST_F(VideoStream, TheGateDropsUntilAnIdrAndTheParameterSetsPrefixFramesOnlyBeforePlaying)
{
    // SPS and PPS alone: dropped by the gate, stored.
    EXPECT_TRUE(Deliver(local_abySps + local_abyPps).empty());
    // A P frame before any key frame: dropped.
    EXPECT_TRUE(Deliver(local_abyP).empty());
    // The IDR opens the gate; not playing yet, so the stored sets come first.
    const std::vector<guint8> abyStored = std::vector<guint8>(local_abySps.begin() + 1, local_abySps.end()) +
                                          std::vector<guint8>(local_abyPps.begin() + 1, local_abyPps.end());
    std::vector<guint8> abyExpected = abyStored;
    // Each stored unit has a 3-byte start code; the fourth zero went with the unit before it.
    abyExpected = std::vector<guint8>(local_abySps.begin() + 1, local_abySps.end()) + std::vector<guint8>{0} +
                  std::vector<guint8>(local_abyPps.begin() + 1, local_abyPps.end());
    EXPECT_EQ(abyExpected + local_abyIdr, Deliver(local_abyIdr));
    EXPECT_EQ(abyExpected + local_abyP, Deliver(local_abyP));
    // Playing: frames alone.
    EXPECT_EQ(local_abyP, Deliver(local_abyP, m_poPlaying));
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr, m_poPlaying));
    // Every delivery gave its header back for filling.
    EXPECT_EQ(6u, m_oUpstream.aoFilled.size());
}

TEST_F(VideoStream, AnISliceOpensTheGateAndANewPipelineClosesIt)
{
    EXPECT_TRUE(Deliver(local_abyP, m_poPlaying).empty());
    EXPECT_EQ(local_abyI, Deliver(local_abyI, m_poPlaying));
    EXPECT_EQ(local_abyP, Deliver(local_abyP, m_poPlaying));
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    CStdoutCapture oCapture;
    m_oVideo.PipelineCreated(poPipeline);
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Failed to find the element RTSPVideoServer.fakesrc in the pipeline\n"));
    EXPECT_TRUE(Deliver(local_abyP, m_poPlaying).empty());
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr, m_poPlaying));
    m_oVideo.PipelineCreated(nullptr);
    gst_object_unref(poPipeline);
}

TEST_F(VideoStream, UnknownNalTypesWarnAndLeaveTheGateAsItWas)
{
    const std::vector<guint8> abySei = {0, 0, 1, 0x06, 0x05, 0x01, 0x00, 0x80};
    CStdoutCapture oCapture;
    EXPECT_TRUE(Deliver(abySei, m_poPlaying).empty());
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Warning: Unrecognized nal unit type: 6"));
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr, m_poPlaying));
    // With the gate open, nothing is looked at.
    EXPECT_EQ(abySei, Deliver(abySei, m_poPlaying));
}

TEST_F(VideoStream, ThePrefixNeverWritesPastTheBuffer)
{
    Deliver(local_abySps + local_abyPps);
    // A frame that fills the whole buffer goes without the prefix.
    std::vector<guint8> abyBig = local_abyIdr;
    abyBig.resize(1024, 0x5A);
    EXPECT_EQ(abyBig, Deliver(abyBig, nullptr, 1024));
    // One that leaves just the room for the 19 stored bytes gets them.
    std::vector<guint8> abySmall = local_abyP;
    abySmall.resize(1024 - 19, 0x5A);
    const std::vector<guint8> abyOut = Deliver(abySmall, nullptr, 1024);
    EXPECT_EQ(1024u, abyOut.size());
    EXPECT_EQ(abySmall, std::vector<guint8>(abyOut.begin() + 19, abyOut.end()));
    // One byte more and it goes without them.
    abySmall.push_back(0x5A);
    EXPECT_EQ(abySmall, Deliver(abySmall, nullptr, 1024));
}

TEST_F(VideoStream, ParameterSetsBeyond80BytesAreStoredAsFarAsWholeUnitsFit)
{
    std::vector<guint8> abyLongSps = {0, 0, 1, 0x67};
    abyLongSps.resize(50, 0x11);
    std::vector<guint8> abySecondSps = {0, 0, 1, 0x67};
    abySecondSps.resize(40, 0x22);
    const std::vector<guint8> abyShortPps = {0, 0, 1, 0x68, 0x33, 0x44};
    // 50 + 40 > 80: the second SPS is left out, the PPS still fits.
    Deliver(abyLongSps + abySecondSps + abyShortPps);
    const std::vector<guint8> abyOut = Deliver(local_abyIdr);
    EXPECT_EQ(abyLongSps + abyShortPps + local_abyIdr, abyOut);
    // Collected once: later parameter sets change nothing.
    Deliver(local_abySps + local_abyPps, m_poPlaying);
    EXPECT_EQ(abyLongSps + abyShortPps + local_abyP, Deliver(local_abyP));
    // Deinit forgets them.
    m_oVideo.StopBufferProcessing();
    m_oVideo.Deinit();
    ASSERT_EQ(OMX_ErrorNone, m_oVideo.Init());
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oVideo, 0));
    m_oVideo.StartBufferProcessing();
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
}

TEST_F(VideoStream, StatisticsCountDeliveriesWhilePlayingAndCloseOneWindowPerDelivery)
{
    MUINT64 uiElapsed = 9, uiBits = 9, uiFrames = 9, uiBitsLastSec = 9, uiFramesLastSec = 9;
    m_oVideo.GetStatistics(uiElapsed, uiBits, uiFrames, uiBitsLastSec, uiFramesLastSec);
    EXPECT_EQ(0u, uiElapsed + uiBits + uiFrames + uiBitsLastSec + uiFramesLastSec);

    Deliver(local_abyIdr, m_poPlaying);  // 10 bytes
    Deliver(local_abyP, m_poPlaying);    // 9 bytes
    m_oVideo.GetStatistics(uiElapsed, uiBits, uiFrames, uiBitsLastSec, uiFramesLastSec);
    EXPECT_EQ(19u * 8, uiBits);
    EXPECT_EQ(2u, uiFrames);
    EXPECT_EQ(0u, uiFramesLastSec);

    // 2.5 s later: one window closes, the window end moves by one second only, so the next
    // delivery closes another.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Deliver(local_abyP, m_poPlaying);
    m_oVideo.GetStatistics(uiElapsed, uiBits, uiFrames, uiBitsLastSec, uiFramesLastSec);
    EXPECT_EQ(2u, uiFramesLastSec);
    EXPECT_EQ(19u * 8, uiBitsLastSec);
    EXPECT_EQ(3u, uiFrames);
    EXPECT_GE(uiElapsed, 2500000u);
    Deliver(local_abyIdr, m_poPlaying);
    m_oVideo.GetStatistics(uiElapsed, uiBits, uiFrames, uiBitsLastSec, uiFramesLastSec);
    EXPECT_EQ(1u, uiFramesLastSec);
    EXPECT_EQ(9u * 8, uiBitsLastSec);
    EXPECT_EQ(4u, uiFrames);

    // A delivery outside the playing state starts afresh.
    Deliver(local_abyP);
    m_oVideo.GetStatistics(uiElapsed, uiBits, uiFrames, uiBitsLastSec, uiFramesLastSec);
    EXPECT_EQ(0u, uiElapsed + uiBits + uiFrames + uiBitsLastSec + uiFramesLastSec);
}

TEST_F(VideoStream, TheOutputFileGetsEveryDeliveredBuffer)
{
    const std::string oPath = "/tmp/pellix-rtsp-unit-" + std::to_string(getpid()) + ".h264";
    ASSERT_TRUE(m_oVideo.CreateOutFile(oPath.c_str()));
    Deliver(local_abySps + local_abyPps);
    const std::vector<guint8> abyFirst = Deliver(local_abyIdr);
    const std::vector<guint8> abySecond = Deliver(local_abyP, m_poPlaying);
    m_oVideo.CloseOutFile();
    Deliver(local_abyP, m_poPlaying);
    std::ifstream oFile(oPath, std::ios::binary);
    const std::vector<guint8> abyFile((std::istreambuf_iterator<char>(oFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(abyFirst + abySecond, abyFile);
    EXPECT_FALSE(m_oVideo.CreateOutFile("/nonexistent-dir/x.h264"));
    unlink(oPath.c_str());
}

TEST_F(GstUnit, PipelineCreatedWithAnElementThatIsNoPipelineStoresNothing)
{
    RTSPVideoServerComponent oVideo;
    GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
    CStdoutCapture oCapture;
    oVideo.GStreamerServerComponent::PipelineCreated(poElement);
    oVideo.PipelineCreated(poElement);
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Error, argument is not a pipeline"));
    EXPECT_NE(std::string::npos, oCapture.Text().find("Error, argument is not a GstPipeline *"));
    gst_object_unref(poElement);
}

// ---- The server ---------------------------------------------------------------------------

TEST_F(GstUnit, StartServingWithoutComponentsFailsWithItsLinesAndLeavesNothing)
{
    GStreamerRTSPServer oServer;
    ASSERT_EQ(OMX_ErrorNone, oServer.Init());
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
    const unsigned uiThreads = CountThreads();
    const unsigned uiFds = CountFds();
    CStdoutCapture oCapture;
    EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("ERROR: No streaming components!"));
    EXPECT_NE(std::string::npos, oCapture.Text().find("ERROR: Cannot init the media factory!"));
    EXPECT_EQ(uiThreads, CountThreads());
    EXPECT_EQ(uiFds, CountFds());
    EXPECT_EQ(OMX_ErrorNone, oServer.Deinit());
}

TEST_F(GstUnit, StartServingWithoutPathFails)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.Init());
    ASSERT_EQ(OMX_ErrorNone, oGraph.oVideo.Init());
    ASSERT_EQ(OMX_ErrorNone, oGraph.oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oGraph.oSource.ConnectTo(0, &oGraph.oVideo, 0));
    ASSERT_EQ(OMX_ErrorNone, oGraph.oSource.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.AddStreamingComponent(&oGraph.oVideo));
    const unsigned uiThreads = CountThreads();
    CStdoutCapture oCapture;
    EXPECT_EQ(OMX_ErrorUndefined, oGraph.oServer.StartServing(false));
    // An empty path is refused and forgets the one set before.
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.SetPortInfo("/Video", 8554));
    EXPECT_EQ(OMX_ErrorBadParameter, oGraph.oServer.SetPortInfo("", 8554));
    EXPECT_EQ(OMX_ErrorBadParameter, oGraph.oServer.SetPortInfo(nullptr, 8554));
    EXPECT_EQ(OMX_ErrorUndefined, oGraph.oServer.StartServing(false));
    oCapture.Stop();
    EXPECT_EQ(2u, CountOccurrences(oCapture.Text(), "ERROR: Path not initialized!"));
    EXPECT_EQ(uiThreads, CountThreads());
    oGraph.oSource.Deinit();
    oGraph.oVideo.Deinit();
    oGraph.oServer.Deinit();
}

TEST_F(GstUnit, AComponentWithoutLaunchCommandDoesNotReachTheFactory)
{
    GStreamerRTSPServer oServer;
    RTSPVideoServerComponent oVideo;
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    ASSERT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oVideo));
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
    CStdoutCapture oCapture;
    EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("ERROR: No launch command for streaming component 0!"));
    EXPECT_NE(std::string::npos, oCapture.Text().find("ERROR: Cannot init the media factory!"));
    oServer.Deinit();
    oVideo.Deinit();
}

TEST_F(GstUnit, TwoComponentsArePayloadersZeroAndOneWithTypes96And97)
{
    CUpstream oFirstUpstream(1000);
    CUpstream oSecondUpstream(2000);
    RTSPVideoServerComponent oFirst;
    RTSPVideoServerComponent oSecond;
    GStreamerRTSPServer oServer;
    for (CComponent* poComponent : std::vector<CComponent*>{&oFirstUpstream, &oSecondUpstream, &oFirst, &oSecond})
        ASSERT_EQ(OMX_ErrorNone, poComponent->Init());
    oFirstUpstream.ConnectTo(0, &oFirst, 0);
    oSecondUpstream.ConnectTo(0, &oSecond, 0);
    ASSERT_EQ(OMX_ErrorNone, oFirst.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oSecond.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oFirst));
    ASSERT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oSecond));
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
    CStdoutCapture oCapture;
    SetInfoMessageLevel(2);
    EXPECT_EQ(OMX_ErrorNone, oServer.StartServing(false));
    SetInfoMessageLevel(0);
    oCapture.Stop();
    const std::string oExpected = std::string("The complete launch is: ") + oFirst.GetLaunchCommand() +
                                  " name=pay0 pt=96 " + oSecond.GetLaunchCommand() + " name=pay1 pt=97 \n";
    EXPECT_NE(std::string::npos, oCapture.Text().find(oExpected)) << oCapture.Text();
    EXPECT_NE(std::string::npos, oCapture.Text().find("rtph264pay  name=pay0 pt=96 fakesrc"));
    // Nobody connected: the stop sends no end-of-stream.
    CStdoutCapture oStop;
    SetInfoMessageLevel(2);
    EXPECT_EQ(OMX_ErrorNone, oServer.StopServing());
    SetInfoMessageLevel(0);
    oStop.Stop();
    EXPECT_EQ(std::string::npos, oStop.Text().find("Sending EOS events"));
    EXPECT_NE(std::string::npos, oStop.Text().find("Main loop exited"));
    oServer.Deinit();
    for (CComponent* poComponent : std::vector<CComponent*>{&oFirst, &oSecond, &oFirstUpstream, &oSecondUpstream})
        poComponent->Deinit();
}

TEST_F(GstUnit, TheAddressNamesTheChosenInterface)
{
    GStreamerRTSPServer oServer;
    char szIp[16] = "untouched";
    EXPECT_TRUE(oServer.GetIpAddr(szIp, "lo"));
    EXPECT_STREQ("127.0.0.1", szIp);
    strcpy(szIp, "untouched");
    EXPECT_FALSE(oServer.GetIpAddr(szIp, "nosuchif0"));
    EXPECT_STREQ("untouched", szIp);

    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video1920x1080@60fps", 8554));
    char szAddress[128] = "untouched";
    setenv("PELLIX_NET_INTERFACE", "lo", 1);
    EXPECT_TRUE(oServer.GetServerAddress(szAddress, sizeof(szAddress)));
    EXPECT_STREQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps", szAddress);
    char szShort[12];
    EXPECT_TRUE(oServer.GetServerAddress(szShort, sizeof(szShort)));
    EXPECT_STREQ("rtsp://127.", szShort);
    setenv("PELLIX_NET_INTERFACE", "nosuchif0", 1);
    strcpy(szAddress, "untouched");
    EXPECT_FALSE(oServer.GetServerAddress(szAddress, sizeof(szAddress)));
    EXPECT_STREQ("untouched", szAddress);
    unsetenv("PELLIX_NET_INTERFACE");
    EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
    setenv("PELLIX_NET_INTERFACE", "", 1);
    EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
    unsetenv("PELLIX_NET_INTERFACE");
}

TEST_F(GstUnit, TheServerKeepsOnlyAPipeline)
{
    GStreamerRTSPServer oServer;
    GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    CStdoutCapture oCapture;
    SetInfoMessageLevel(1);
    oServer.PipelineCreated(poElement);
    EXPECT_FALSE(oServer.IsPlaying());
    oServer.PipelineCreated(poPipeline);
    EXPECT_FALSE(oServer.IsPlaying());
    gst_element_set_state(poPipeline, GST_STATE_PLAYING);
    EXPECT_TRUE(oServer.IsPlaying());
    GStreamerRTSPServer::CallbackPipelineCreated(nullptr, &oServer);
    EXPECT_FALSE(oServer.IsPlaying());
    SetInfoMessageLevel(0);
    oCapture.Stop();
    EXPECT_NE(std::string::npos, oCapture.Text().find("Error: Bad pipeline!"));
    EXPECT_NE(std::string::npos, oCapture.Text().find("Pipeline created."));
    EXPECT_NE(std::string::npos, oCapture.Text().find("Pipeline deleted."));
    gst_element_set_state(poPipeline, GST_STATE_NULL);
    gst_object_unref(poPipeline);
    gst_object_unref(poElement);
}

TEST_F(GstUnit, StopServingOnANeverStartedServerReturnsAtOnce)
{
    GStreamerRTSPServer oServer;
    CStdoutCapture oCapture;
    SetInfoMessageLevel(2);
    EXPECT_EQ(OMX_ErrorNone, oServer.StopServing());
    SetInfoMessageLevel(0);
    oCapture.Stop();
    EXPECT_EQ(std::string::npos, oCapture.Text().find("EOS"));
    EXPECT_EQ(std::string::npos, oCapture.Text().find("join"));
}
