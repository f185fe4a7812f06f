// The pieces of the RTSP side on their own: start codes and slice types; the video stream's
// key-frame gate, parameter sets, statistics and copy file; the bridge's switch and stop; the
// streams' launch fragments, the audio configuration and ADTS headers; the server's refusals,
// launch line, address and pipeline.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "H264TestSource.h"
#include "LibraryLog.h"
#include "ProcessResources.h"
#include "RtspClients.h"
#include "TempDir.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "gst-components/RTSPVideoServerComponent.h"
#include "ti814x-framework.h"

namespace
{
typedef std::vector<guint8> TBytes;
TBytes operator+(TBytes aoLeft, const TBytes& roRight)
{
    aoLeft.insert(aoLeft.end(), roRight.begin(), roRight.end());
    return aoLeft;
}
const TBytes local_abySps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x05, 0x07, 0xC4};
const TBytes local_abyPps = {0, 0, 0, 1, 0x68, 0xCE, 0x0F, 0xC8};
const TBytes local_abyIdr = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xFF};
const TBytes local_abyP = {0, 0, 0, 1, 0x41, 0x9A, 0x02, 0x04, 0x11};
const TBytes local_abyI = {0, 0, 0, 1, 0x41, 0x88, 0x21, 0x04, 0x11};
// As stored: each unit behind a 3-byte start code, the fourth zero going with the unit before.
const TBytes local_abyStored = TBytes(local_abySps.begin() + 1, local_abySps.end()) + TBytes{0} +
                               TBytes(local_abyPps.begin() + 1, local_abyPps.end());

// The video stream connected to an upstream that is never started, executed and processing.
class VideoStream : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gst_init(nullptr, nullptr);
        SetInfoMessageLevel(0);
        m_poSource = gst_element_factory_make("fakesrc", nullptr);
        m_poPlaying = gst_bin_new(nullptr);
        ASSERT_EQ(OMX_ErrorNone, m_oUpstream.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oVideo, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.Execute(0));
        ASSERT_EQ(OMX_ErrorNone, m_oVideo.StartBufferProcessing());
        gst_element_set_state(m_poPlaying, GST_STATE_PLAYING);
    }
    void TearDown() override
    {
        m_oVideo.StopBufferProcessing();
        m_oVideo.Deinit();
        gst_element_set_state(m_poPlaying, GST_STATE_NULL);
        gst_object_unref(m_poPlaying);
        gst_object_unref(m_poSource);
    }

    // Queues the bytes in a header and runs one handoff on a buffer of uiSize bytes of a source
    // element playing or not; what the buffer holds afterwards.
    TBytes Deliver(const TBytes& roData, bool bPlaying = false, gsize uiSize = 1024)
    {
        OMX_BUFFERHEADERTYPE* poHeader = m_oUpstream.Header(m_uiNext++ % 4);
        memcpy(poHeader->pBuffer, roData.data(), roData.size());
        poHeader->nFilledLen = static_cast<OMX_U32>(roData.size());
        m_oVideo.EmptyThisBuffer(poHeader);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, uiSize, nullptr);
        m_oVideo.Handoff(bPlaying ? m_poPlaying : m_poSource, poBuffer, nullptr);
        GstMapInfo oMap;
        gst_buffer_map(poBuffer, &oMap, GST_MAP_READ);
        const TBytes abyResult(oMap.data, oMap.data + oMap.size);
        gst_buffer_unmap(poBuffer, &oMap);
        gst_buffer_unref(poBuffer);
        return abyResult;
    }
    MUINT64 Statistic(int iIndex)
    {
        MUINT64 auiValues[5] = {9, 9, 9, 9, 9};  // elapsed, bits, frames, bits and frames of the last second
        m_oVideo.GetStatistics(auiValues[0], auiValues[1], auiValues[2], auiValues[3], auiValues[4]);
        return auiValues[iIndex];
    }

    CH264TestSource m_oUpstream{{320, 240, 60, 30, 4096, 4}};
    RTSPVideoServerComponent m_oVideo;
    GstElement* m_poSource = nullptr;
    GstElement* m_poPlaying = nullptr;
    MUINT32 m_uiNext = 0;
};
} // namespace

TEST(StartCodesAndSliceTypes, WorkedValues)
{
    const struct
    {
        TBytes abyData;
        guint uiSize;
        guint uiStart;
    } aoStartCodes[] = {
        {{0, 0, 1, 0x65}, 4, 0}, {{0, 0, 0, 1, 0x67}, 5, 1}, {{0x12, 0x34, 0x56}, 3, 3}, {{0, 0, 1, 0x65}, 2, 2},
        {{0x11, 0x22, 0, 0, 1, 0x41}, 6, 2}, {{0, 1}, 2, 2},  // 00 01 alone is none
    };
    for (const auto& roCase : aoStartCodes)
        EXPECT_EQ(roCase.uiStart, RTSPVideoServerComponent::GetNextStartCode(roCase.abyData.data(), roCase.uiSize));
    // slice_type 7 and 2: I; 5: P; 1: B; a byte with bit 6 set or bits 6 to 3 clear: a warning, 0.
    const std::pair<MUINT8, MUINT8> aoSliceTypes[] = {{0x88, 2}, {0xB0, 2}, {0x9A, 0}, {0xA0, 1}, {0xE0, 0}, {0xC0, 0}, {0x80, 0}};
    const std::string oLog = Logged(0, [&] {
        for (const auto& roCase : aoSliceTypes)
            EXPECT_EQ(roCase.second, GetFrameType(roCase.first)) << std::hex << int(roCase.first);
    });
    for (const char* szByte : {"E0", "C0", "80"})
        EXPECT_TRUE(Has(oLog, std::string("Warning: Unrecognized data structure of non-IDR frame: ") + szByte + "\n"));
    EXPECT_EQ(3u, CountOccurrences(oLog, "Warning"));
}

TEST_F(VideoStream, TheGateOpensAtAKeyFrameAndTheParameterSetsPrefixFramesOnlyBeforePlaying)
{
    EXPECT_TRUE(Deliver(local_abySps + local_abyPps).empty());  // dropped, its sets stored
    EXPECT_TRUE(Deliver(local_abyP).empty());
    const std::string oLog = Logged(0, [&] { EXPECT_TRUE(Deliver({0, 0, 1, 0x06, 0x05, 0x01}, true).empty()); });
    EXPECT_TRUE(Has(oLog, "Warning: Unrecognized nal unit type: 6\n"));
    EXPECT_EQ(local_abyStored + local_abyIdr, Deliver(local_abyIdr));
    EXPECT_EQ(local_abyStored + local_abyP, Deliver(local_abyP));
    EXPECT_EQ(local_abyP, Deliver(local_abyP, true));
    const TBytes abySei = {0, 0, 1, 0x06, 0x05, 0x01};
    EXPECT_EQ(abySei, Deliver(abySei, true));  // with the gate open nothing is looked at
    // A new pipeline closes the gate again; an I slice opens it too.
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    EXPECT_TRUE(Has(Logged(0, [&] { m_oVideo.PipelineCreated(poPipeline); }),
                    "Failed to find the element RTSPVideoServer.fakesrc in the pipeline\n"));
    EXPECT_TRUE(Deliver(local_abyP, true).empty());
    EXPECT_EQ(local_abyI, Deliver(local_abyI, true));
    m_oVideo.PipelineCreated(nullptr);
    gst_object_unref(poPipeline);
    // Every handoff gave its header back to be filled again.
    EXPECT_EQ(9u, m_oUpstream.Returned().size());
}

TEST_F(VideoStream, TheStoredSetsStopAt80BytesAndThePrefixNeverOverrunsTheBuffer)
{
    TBytes abyLongSps = {0, 0, 1, 0x67};
    abyLongSps.resize(50, 0x11);
    TBytes abySecondSps = {0, 0, 1, 0x67};
    abySecondSps.resize(40, 0x22);
    const TBytes abyPps = {0, 0, 1, 0x68, 0x33, 0x44};
    // 50 + 40 > 80: the second SPS stays out, the PPS still fits; collected once only.
    Deliver(abyLongSps + abySecondSps + abyPps);
    Deliver(local_abySps + local_abyPps, true);
    const TBytes abyStored = abyLongSps + abyPps;
    EXPECT_EQ(abyStored + local_abyIdr, Deliver(local_abyIdr));
    // A frame that fills the buffer goes without the prefix; one that leaves just the room gets it.
    TBytes abyFrame = local_abyP;
    abyFrame.resize(1024 - abyStored.size(), 0x5A);
    EXPECT_EQ(abyStored + abyFrame, Deliver(abyFrame));
    abyFrame.push_back(0x5A);
    EXPECT_EQ(abyFrame, Deliver(abyFrame));
    // Deinit forgets them.
    m_oVideo.StopBufferProcessing();
    m_oVideo.Deinit();
    ASSERT_EQ(OMX_ErrorNone, m_oVideo.Init());
    ASSERT_EQ(OMX_ErrorNone, m_oUpstream.ConnectTo(0, &m_oVideo, 0));
    m_oVideo.StartBufferProcessing();
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
}

TEST_F(VideoStream, StatisticsAndTheCopyFileFollowTheDeliveriesWhilePlaying)
{
    EXPECT_EQ(0u, Statistic(0) + Statistic(1) + Statistic(2) + Statistic(3) + Statistic(4));
    CTempDir oDir;
    ASSERT_TRUE(m_oVideo.CreateOutFile((oDir.Path() / "copy.h264").c_str()));
    EXPECT_FALSE(RTSPVideoServerComponent().CreateOutFile((oDir.Path() / "none/x.h264").c_str()));
    Deliver(local_abySps + local_abyPps);
    TBytes abyFirst = Deliver(local_abyIdr, true);  // 10 bytes
    abyFirst = abyFirst + Deliver(local_abyP, true);  // 9 bytes
    EXPECT_EQ(19u * 8, Statistic(1));
    EXPECT_EQ(2u, Statistic(2));
    EXPECT_EQ(0u, Statistic(4));
    m_oVideo.CloseOutFile();
    // 2.5 s later one window closes and the window's end moves by one second only, so the next
    // delivery closes another.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Deliver(local_abyP, true);
    EXPECT_GE(Statistic(0), 2500000u);
    EXPECT_EQ(2u, Statistic(4));
    EXPECT_EQ(19u * 8, Statistic(3));
    Deliver(local_abyIdr, true);
    EXPECT_EQ(1u, Statistic(4));
    EXPECT_EQ(9u * 8, Statistic(3));
    EXPECT_EQ(4u, Statistic(2));
    // A delivery while not playing starts afresh.
    Deliver(local_abyP);
    EXPECT_EQ(0u, Statistic(0) + Statistic(1) + Statistic(2) + Statistic(3) + Statistic(4));
    const std::string oCopy = oDir.Read("copy.h264");
    EXPECT_EQ(std::string(abyFirst.begin(), abyFirst.end()), oCopy);
}

TEST_F(VideoStream, TheSwitchReleasesEveryHandoffAndTheStopReturnsTheQueueInOrder)
{
    // A handoff waits for data until the switch is thrown, at any moment of its decision to wait.
    for (int i = 0; i < 300; ++i)
    {
        m_oVideo.DisconnectFifo(FALSE);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
        auto oHandoff = std::async(std::launch::async, [&] { m_oVideo.Handoff(m_poSource, poBuffer, nullptr); });
        if (i == 0)
            EXPECT_EQ(std::future_status::timeout, oHandoff.wait_for(std::chrono::milliseconds(200)));
        else if (i % 2 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        m_oVideo.DisconnectFifo(TRUE);
        ASSERT_EQ(std::future_status::ready, oHandoff.wait_for(std::chrono::seconds(10))) << i;
        EXPECT_EQ(0u, gst_buffer_get_size(poBuffer));
        gst_buffer_unref(poBuffer);
    }
    // Disconnected: no wait, nothing delivered, the header still goes back; connected again: delivered.
    EXPECT_TRUE(Has(Logged(3, [&] { EXPECT_TRUE(Deliver(local_abyIdr).empty()); }), "FIFO Disconnected from OMX!"));
    EXPECT_EQ(1u, m_oUpstream.Returned().size());
    m_oVideo.DisconnectFifo(FALSE);
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
    // The stop hands back what is queued, in order; a handoff afterwards leaves its buffer alone.
    for (MUINT32 i = 0; i < 3; ++i)
        EXPECT_EQ(OMX_ErrorNone, m_oVideo.EmptyThisBuffer(m_oUpstream.Header(i)));
    EXPECT_EQ(OMX_ErrorNone, m_oVideo.StopBufferProcessing());
    EXPECT_FALSE(m_oVideo.IsBufferProcessing());
    const std::vector<OMX_BUFFERHEADERTYPE*> apoReturned = m_oUpstream.Returned();
    ASSERT_EQ(5u, apoReturned.size());
    for (MUINT32 i = 0; i < 3; ++i)
        EXPECT_EQ(m_oUpstream.Header(i), apoReturned[2 + i]);
    std::string oLog = Logged(2, [&] { EXPECT_EQ(1024u, Deliver(local_abyIdr).size()); });
    EXPECT_TRUE(Has(oLog, "RTSPVideoServerComponent: buffer processing stopped"));
}

TEST(StreamComponents, FragmentsNamesAndRefusalsWithoutUpstream)
{
    gst_init(nullptr, nullptr);
    RTSPVideoServerComponent oVideo;
    RTSPAudioServerComponent oAudio;
    for (GStreamerServerComponent* poStream : {static_cast<GStreamerServerComponent*>(&oVideo),
                                               static_cast<GStreamerServerComponent*>(&oAudio)})
    {
        ASSERT_EQ(OMX_ErrorNone, poStream->Init());
        ASSERT_NE(nullptr, poStream->GetPipelineCreatedCallback());
        EXPECT_EQ(poStream, poStream->GetPipelineCreatedCallback()->pvCallbackArgs);
        std::string oErr;
        const std::string oOut = Logged(0, [&] {
            COutputCapture oCapture(STDERR_FILENO);
            EXPECT_EQ(OMX_ErrorUndefined, poStream->SetParameters());
            EXPECT_EQ(OMX_ErrorUndefined, poStream->Execute(0));
            oErr = oCapture.Finish();
        });
        EXPECT_EQ(1u, CountOccurrences(oOut, "Error: no remote input port\n"));
        EXPECT_TRUE(Has(oErr, "OMX_ErrorUndefined"));
        EXPECT_EQ(nullptr, poStream->GetLaunchCommand());
        EXPECT_EQ(OMX_ErrorNotImplemented, poStream->Pause());
        // Not a pipeline: refused by the bridge and by the stream.
        GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
        const std::string oLog = Logged(0, [&] { poStream->PipelineCreated(poElement); });
        EXPECT_TRUE(Has(oLog, "Error, argument is not a pipeline\n") && Has(oLog, "Error, argument is not a GstPipeline *\n"));
        gst_object_unref(poElement);
    }
    EXPECT_EQ(OMX_ErrorNone, oVideo.Deinit());
    EXPECT_EQ(nullptr, oVideo.GetPipelineCreatedCallback());
    // Connected: the fragments with the upstream's buffer size, each a chain GStreamer builds
    // whose source is found by its name.
    CH264TestSource oVideoUpstream({320, 240, 60, 30, 4096, 2});
    CH264TestSource oAudioUpstream({320, 240, 60, 30, 4608, 2});
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    for (CH264TestSource* poUpstream : {&oVideoUpstream, &oAudioUpstream})
        ASSERT_EQ(OMX_ErrorNone, poUpstream->Init());
    oVideoUpstream.ConnectTo(0, &oVideo, 0);
    oAudioUpstream.ConnectTo(0, &oAudio, 0);
    ASSERT_EQ(OMX_ErrorNone, oVideo.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oAudio.Execute(0));
    EXPECT_STREQ("fakesrc silent=true sizemax=4096 sizetype=2 filltype=1 signal-handoffs=true "
                 "name=RTSPVideoServer.fakesrc do-timestamp=true can-activate-pull=false ! "
                 "video/x-h264,stream-format=byte-stream,alignment=au ! h264parse ! video/x-h264,alignment=au ! "
                 "rtph264pay ",
                 oVideo.GetLaunchCommand());
    EXPECT_STREQ(" fakesrc silent=true name=RTSPAudioServer.fakesrc sizemax=4608 sizetype=2 filltype=1 "
                 "signal-handoffs=true format=time ! audio/mpeg, mpegversion=4, framed=true, channels=2, profile=lc, "
                 "stream-format=raw, rate=48000, codec_data=(buffer)1190 ! identity drop-buffer-flags=gap ! "
                 "rtpmp4apay ",
                 oAudio.GetLaunchCommand());
    // Another rate: the caps and their configuration follow it.
    oAudio.SetAudioParams(44100, 4608);
    ASSERT_EQ(OMX_ErrorNone, oAudio.SetParameters());
    EXPECT_TRUE(Has(oAudio.GetLaunchCommand(), "rate=44100, codec_data=(buffer)1210 !"));
    for (GStreamerServerComponent* poStream : {static_cast<GStreamerServerComponent*>(&oVideo),
                                               static_cast<GStreamerServerComponent*>(&oAudio)})
    {
        GError* poError = nullptr;
        GstElement* poBin = gst_parse_launch((std::string("(") + poStream->GetLaunchCommand() + " name=pay0 pt=96 )").c_str(), &poError);
        ASSERT_NE(nullptr, poBin) << (poError ? poError->message : "");
        GstElement* poSource = gst_bin_get_by_name(GST_BIN(poBin), poStream->GetSourceElementName());
        EXPECT_NE(nullptr, poSource) << poStream->GetSourceElementName();
        if (poSource != nullptr)
            gst_object_unref(poSource);
        gst_object_unref(poBin);
        poStream->Deinit();
    }
}

TEST(AudioStream, AudioSpecificConfigAndAdtsHeaders)
{
    // Object type 2 (5 bits), rate index (4 bits; 15 and the rate in 24 bits when the rate is
    // not in the table), channels (4 bits), three bits of 0.
    const std::tuple<MUINT32, MUINT32, const char*> aoConfigs[] = {
        {48000, 2, "1190"}, {44100, 2, "1210"}, {32000, 1, "1288"}, {96000, 2, "1010"}, {7350, 1, "1608"}, {12345, 2, "1780181c90"}};
    for (const auto& roCase : aoConfigs)
    {
        char szText[16] = "";
        EXPECT_TRUE(RTSPAudioServerComponent::FormatAudioSpecificConfig(std::get<0>(roCase), std::get<1>(roCase), szText, sizeof(szText)));
        EXPECT_STREQ(std::get<2>(roCase), szText);
    }
    char szShort[4];
    EXPECT_FALSE(RTSPAudioServerComponent::FormatAudioSpecificConfig(48000, 2, szShort, sizeof(szShort)));
    // A 27-byte frame: behind a 7-byte header (no CRC), a 9-byte one (CRC), MPEG-2; no header:
    // raw, shorter than its header says, layer not 0, shorter than a header.
    const struct
    {
        guint8 byProtection;
        guint uiOffset;
        guint uiSize;
        guint uiHeader;
    } aoAdts[] = {{0xF1, 0, 27, 7}, {0xF0, 0, 27, 9}, {0xF9, 0, 27, 7}, {0xF1, 7, 20, 0}, {0xF1, 0, 26, 0}, {0xF3, 0, 27, 0}, {0xF1, 0, 5, 0}};
    for (const auto& roCase : aoAdts)
    {
        guint8 abyFrame[32] = {0xFF, roCase.byProtection, 0x4C, 0x80, 0x03, 0x7F, 0xFC};  // length 27
        memset(abyFrame + 7, 0x21, sizeof(abyFrame) - 7);
        EXPECT_EQ(roCase.uiHeader, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame + roCase.uiOffset, roCase.uiSize))
            << std::hex << int(roCase.byProtection) << " " << roCase.uiSize;
    }
}

TEST(RtspServer, RefusedStartsLeaveNothingBehind)
{
    gst_init(nullptr, nullptr);
    GStreamerRTSPServer oServer;
    RTSPVideoServerComponent oUnexecuted;
    CH264TestSource oUpstream({320, 240, 60, 30, 4096, 2});
    RTSPVideoServerComponent oVideo;
    ASSERT_EQ(OMX_ErrorNone, oUpstream.Init());
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    ASSERT_EQ(OMX_ErrorNone, oUnexecuted.Init());
    oUpstream.ConnectTo(0, &oVideo, 0);
    ASSERT_EQ(OMX_ErrorNone, oVideo.Execute(0));
    const SProcessResources oBefore = CurrentResources();
    const std::string oLog = Logged(2, [&] {
        EXPECT_EQ(OMX_ErrorNone, oServer.StopServing());  // never started: at once
        EXPECT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));  // no component
        EXPECT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oUnexecuted));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));  // no launch command
        EXPECT_EQ(OMX_ErrorNone, oServer.Deinit());
        EXPECT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oVideo));
        EXPECT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", 8554));
        EXPECT_EQ(OMX_ErrorBadParameter, oServer.SetPortInfo("", 8554));  // and forgets the path
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));
        EXPECT_EQ(OMX_ErrorBadParameter, oServer.SetPortInfo(nullptr, 8554));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));
    });
    EXPECT_EQ(1u, CountOccurrences(oLog, "ERROR: No streaming components!\n"));
    EXPECT_EQ(1u, CountOccurrences(oLog, "ERROR: No launch command for streaming component 0!\n"));
    EXPECT_EQ(2u, CountOccurrences(oLog, "ERROR: Cannot init the media factory!\n"));
    EXPECT_EQ(2u, CountOccurrences(oLog, "ERROR: Path not initialized!\n"));
    EXPECT_FALSE(Has(oLog, "EOS") || Has(oLog, "join"));
    EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources()) << " against " << Describe(oBefore);
    for (CComponent* poComponent : std::initializer_list<CComponent*>{&oVideo, &oUnexecuted, &oUpstream})
        poComponent->Deinit();
}

TEST(RtspServer, TwoStreamsArePayloadersZeroAndOneAndAStopWithoutClientsSendsNoEndOfStream)
{
    gst_init(nullptr, nullptr);
    CH264TestSource oFirstUpstream({320, 240, 60, 30, 1000, 2});
    CH264TestSource oSecondUpstream({320, 240, 60, 30, 2000, 2});
    RTSPVideoServerComponent oFirst;
    RTSPVideoServerComponent oSecond;
    GStreamerRTSPServer oServer;
    for (CComponent* poComponent : std::initializer_list<CComponent*>{&oFirstUpstream, &oSecondUpstream, &oFirst, &oSecond})
        ASSERT_EQ(OMX_ErrorNone, poComponent->Init());
    oFirstUpstream.ConnectTo(0, &oFirst, 0);
    oSecondUpstream.ConnectTo(0, &oSecond, 0);
    ASSERT_EQ(OMX_ErrorNone, oFirst.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oSecond.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oFirst));
    ASSERT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oSecond));
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
    const std::string oStart = Logged(2, [&] { EXPECT_EQ(OMX_ErrorNone, oServer.StartServing(false)); });
    EXPECT_TRUE(Has(oStart, std::string("The complete launch is: ") + oFirst.GetLaunchCommand() + " name=pay0 pt=96 " +
                                oSecond.GetLaunchCommand() + " name=pay1 pt=97 \n"))
        << oStart;
    EXPECT_TRUE(Has(oStart, "rtph264pay  name=pay0 pt=96 fakesrc"));
    const std::string oStop = Logged(2, [&] { EXPECT_EQ(OMX_ErrorNone, oServer.StopServing()); });
    EXPECT_FALSE(Has(oStop, "Sending EOS events"));
    EXPECT_TRUE(Has(oStop, "Main loop exited"));
    oServer.Deinit();
}

TEST(RtspServer, TheAddressNamesTheChosenInterfaceAndOnlyAPipelineIsKept)
{
    gst_init(nullptr, nullptr);
    GStreamerRTSPServer oServer;
    char szIp[16] = "untouched";
    EXPECT_FALSE(oServer.GetIpAddr(szIp, "nosuchif0"));
    EXPECT_STREQ("untouched", szIp);
    EXPECT_TRUE(oServer.GetIpAddr(szIp, "lo"));
    EXPECT_STREQ("127.0.0.1", szIp);
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video1920x1080@60fps", 8554));
    char szAddress[128] = "untouched";
    {
        CScopedEnv oInterface("PELLIX_NET_INTERFACE", "nosuchif0");
        EXPECT_FALSE(oServer.GetServerAddress(szAddress, sizeof(szAddress)));
        EXPECT_STREQ("untouched", szAddress);
    }
    {
        CScopedEnv oEmpty("PELLIX_NET_INTERFACE", "");
        EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
        unsetenv("PELLIX_NET_INTERFACE");
        EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
    }
    CScopedEnv oInterface("PELLIX_NET_INTERFACE", "lo");
    EXPECT_TRUE(oServer.GetServerAddress(szAddress, sizeof(szAddress)));
    EXPECT_STREQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps", szAddress);
    EXPECT_TRUE(oServer.GetServerAddress(szAddress, 12));
    EXPECT_STREQ("rtsp://127.", szAddress);

    GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    const std::string oLog = Logged(1, [&] {
        oServer.PipelineCreated(poElement);
        EXPECT_FALSE(oServer.IsPlaying());
        oServer.PipelineCreated(poPipeline);
        EXPECT_FALSE(oServer.IsPlaying());
        gst_element_set_state(poPipeline, GST_STATE_PLAYING);
        EXPECT_TRUE(oServer.IsPlaying());
        GStreamerRTSPServer::CallbackPipelineCreated(nullptr, &oServer);
        EXPECT_FALSE(oServer.IsPlaying());
    });
    EXPECT_TRUE(Has(oLog, "Error: Bad pipeline!\n") && Has(oLog, "Pipeline created.\n") && Has(oLog, "Pipeline deleted.\n"));
    gst_element_set_state(poPipeline, GST_STATE_NULL);
    gst_object_unref(poPipeline);
    gst_object_unref(poElement);
}
