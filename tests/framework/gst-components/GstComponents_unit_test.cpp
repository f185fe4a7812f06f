// The pieces of the RTSP side on their own: start codes and slice types; the video stream's
// key-frame gate, parameter sets, statistics and copy file; the bridge's switch and stop; the
// streams' launch fragments, the audio configuration and ADTS headers; the server's refusals,
// launch line, address and pipeline.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "H264TestSource.h"
#include "LibraryTestSupport.h"
#include "ProcessResources.h"
#include "RtspClients.h"
#include "TempDir.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "gst-components/RTSPVideoServerComponent.h"

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
const TBytes local_abySei = {0, 0, 1, 0x06, 0x05, 0x01};
// As stored: each unit behind a 3-byte start code, the fourth zero going with the unit before.
const TBytes local_abyStored = TBytes(local_abySps.begin() + 1, local_abySps.end()) + TBytes{0} +
                               TBytes(local_abyPps.begin() + 1, local_abyPps.end());

// An upstream that codes a key frame on request when bTakes is set, and counts the requests.
struct SKeyFrameUpstream : public CH264TestSource
{
    using CH264TestSource::CH264TestSource;
    OMX_ERRORTYPE RequestKeyFrame() override
    {
        ++iRequests;
        return bTakes ? OMX_ErrorNone : OMX_ErrorNotImplemented;
    }
    int iRequests = 0;
    bool bTakes = false;
};

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
        gst_element_set_state(m_poPlaying, GST_STATE_PLAYING);
        ASSERT_TRUE(m_oUpstream.Init() == OMX_ErrorNone && m_oVideo.Init() == OMX_ErrorNone &&
                    m_oUpstream.ConnectTo(0, &m_oVideo, 0) == OMX_ErrorNone && m_oVideo.Execute(0) == OMX_ErrorNone &&
                    m_oVideo.StartBufferProcessing() == OMX_ErrorNone);
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
    TBytes Deliver(const TBytes& roData, bool bPlaying = false, gsize uiSize = 1024, GstClockTime* puiTime = nullptr)
    {
        OMX_BUFFERHEADERTYPE* poHeader = m_oUpstream.Header(m_uiNext++ % 4);
        memcpy(poHeader->pBuffer, roData.data(), roData.size());
        poHeader->nFilledLen = static_cast<OMX_U32>(roData.size());
        m_oVideo.EmptyThisBuffer(poHeader);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, uiSize, nullptr);
        m_oVideo.Handoff(bPlaying ? m_poPlaying : m_poSource, poBuffer, nullptr);
        TBytes abyResult(gst_buffer_get_size(poBuffer));
        if (!abyResult.empty())
            gst_buffer_extract(poBuffer, 0, abyResult.data(), abyResult.size());
        if (puiTime != nullptr)
            *puiTime = GST_BUFFER_PTS(poBuffer);
        gst_buffer_unref(poBuffer);
        return abyResult;
    }
    // Bits, frames, bits and frames of the last second; the time since the first in ruiElapsed.
    std::vector<MUINT64> Counts(MUINT64& ruiElapsed)
    {
        std::vector<MUINT64> auiValues(4, 9);
        m_oVideo.GetStatistics(ruiElapsed, auiValues[0], auiValues[1], auiValues[2], auiValues[3]);
        return auiValues;
    }

    SKeyFrameUpstream m_oUpstream{4096, 4};
    RTSPVideoServerComponent m_oVideo;
    GstElement* m_poSource = nullptr;
    GstElement* m_poPlaying = nullptr;
    MUINT32 m_uiNext = 0;
};
} // namespace

TEST(StartCodesAndSliceTypes, WorkedValues)
{
    // 00 00 01 at 0; 00 00 00 01 found one byte in; none; too short; 00 01 alone is none.
    const std::pair<TBytes, guint> aoStartCodes[] = {{{0, 0, 1, 0x65}, 0}, {{0, 0, 0, 1, 0x67}, 1}, {{0x12, 0x34, 0x56}, 3},
                                                     {{0, 0}, 2}, {{0x11, 0x22, 0, 0, 1, 0x41}, 2}, {{0, 1}, 2}};
    for (const auto& roCase : aoStartCodes)
        EXPECT_EQ(roCase.second, RTSPVideoServerComponent::GetNextStartCode(roCase.first.data(), roCase.first.size()));
    // slice_type 7 and 2: I; 5: P; 1: B; a byte with bit 6 set or bits 6 to 3 clear: a warning, 0.
    const std::pair<MUINT8, MUINT8> aoSliceTypes[] = {{0x88, 2}, {0xB0, 2}, {0x9A, 0}, {0xA0, 1}, {0xE0, 0}, {0xC0, 0}, {0x80, 0}};
    const std::string oLog = LogOf(0, [&] {
        for (const auto& roCase : aoSliceTypes)
            EXPECT_EQ(roCase.second, GetFrameType(roCase.first)) << std::hex << int(roCase.first);
    });
    EXPECT_EQ("Warning: Unrecognized data structure of non-IDR frame: E0\nWarning: Unrecognized data structure of non-IDR frame: C0\n"
              "Warning: Unrecognized data structure of non-IDR frame: 80\n",
              InfoMessages(oLog));
}

TEST_F(VideoStream, TheGateOpensAtAKeyFrameAndTheParameterSetsPrefixFramesOnlyBeforePlaying)
{
    EXPECT_TRUE(Deliver(local_abySps + local_abyPps).empty());  // dropped, its sets stored
    EXPECT_TRUE(Deliver(local_abyP).empty());
    EXPECT_TRUE(Has(LogOf(0, [&] { EXPECT_TRUE(Deliver(local_abySei, true).empty()); }), "Warning: Unrecognized nal unit type: 6\n"));
    EXPECT_EQ(local_abyStored + local_abyIdr, Deliver(local_abyIdr));
    EXPECT_EQ(local_abyStored + local_abyP, Deliver(local_abyP));
    EXPECT_EQ(local_abyP, Deliver(local_abyP, true));
    EXPECT_EQ(local_abySei, Deliver(local_abySei, true));  // with the gate open nothing is looked at
    // A new pipeline closes the gate again; an I slice opens it too.
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    EXPECT_TRUE(Has(LogOf(0, [&] { m_oVideo.PipelineCreated(poPipeline); }), "Failed to find the element RTSPVideoServer.fakesrc in the pipeline\n"));
    EXPECT_TRUE(Deliver(local_abyP, true).empty());
    EXPECT_EQ(local_abyI, Deliver(local_abyI, true));
    // A viewer joins: the next delivery asks the encoder for a key frame. One that cannot code it
    // leaves the frames as they are; one that can has what comes before its key frame dropped.
    m_oVideo.ViewerJoined();
    EXPECT_EQ(local_abyP, Deliver(local_abyP, true));
    m_oUpstream.bTakes = true;
    m_oVideo.ViewerJoined();
    EXPECT_TRUE(Deliver(local_abyP, true).empty());
    EXPECT_TRUE(Deliver(local_abyP, true).empty());
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr, true));
    EXPECT_EQ(local_abyP, Deliver(local_abyP, true));
    EXPECT_EQ(2, m_oUpstream.iRequests);
    m_oVideo.PipelineCreated(nullptr);
    gst_object_unref(poPipeline);
    EXPECT_EQ(14u, m_oUpstream.Returned().size());  // every header back to be filled again
}

TEST_F(VideoStream, ABufferMadeBeforeItsSourceHasABaseTimeStartsTheRunningTimeAtZero)
{
    // Without a clock yet, the buffer stays unstamped (the parser times it from the stream's
    // rate); with the clock but no base time yet (on the way to the first play), the source
    // would stamp the clock's absolute time, for which the sinks would wait for good: time 0.
    GstClockTime uiTime = 1;
    Deliver(local_abyIdr, false, 1024, &uiTime);
    EXPECT_EQ(GST_CLOCK_TIME_NONE, uiTime);
    GstClock* poClock = gst_system_clock_obtain();
    gst_element_set_clock(m_poSource, poClock);
    Deliver(local_abyP, false, 1024, &uiTime);
    EXPECT_EQ(0u, uiTime);
    gst_element_set_base_time(m_poSource, 1);
    Deliver(local_abyP, false, 1024, &uiTime);
    EXPECT_EQ(GST_CLOCK_TIME_NONE, uiTime);  // the source stamps it itself
    gst_object_unref(poClock);
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
    EXPECT_EQ(abyLongSps + abyPps + local_abyIdr, Deliver(local_abyIdr));
    // A frame that leaves just the room for the prefix gets it; one byte more and it goes without.
    TBytes abyFrame = local_abyP;
    abyFrame.resize(1024 - 56, 0x5A);
    EXPECT_EQ(abyLongSps + abyPps + abyFrame, Deliver(abyFrame));
    abyFrame.push_back(0x5A);
    EXPECT_EQ(abyFrame, Deliver(abyFrame));
    // Deinit forgets them.
    m_oVideo.StopBufferProcessing();
    m_oVideo.Deinit();
    ASSERT_EQ(OMX_ErrorNone, m_oVideo.Init());
    m_oUpstream.ConnectTo(0, &m_oVideo, 0);
    m_oVideo.StartBufferProcessing();
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
}

TEST_F(VideoStream, StatisticsAndTheCopyFileFollowTheDeliveriesWhilePlaying)
{
    MUINT64 uiElapsed = 9;
    EXPECT_EQ(std::vector<MUINT64>(4, 0), Counts(uiElapsed));
    EXPECT_EQ(0u, uiElapsed);
    CTempDir oDir;
    ASSERT_TRUE(m_oVideo.CreateOutFile((oDir.Path() / "copy.h264").c_str()));
    EXPECT_FALSE(RTSPVideoServerComponent().CreateOutFile((oDir.Path() / "none/x.h264").c_str()));
    Deliver(local_abySps + local_abyPps);
    TBytes abyCopied = Deliver(local_abyIdr, true);  // 10 bytes
    abyCopied = abyCopied + Deliver(local_abyP, true);  // 9 bytes
    m_oVideo.CloseOutFile();
    EXPECT_EQ(std::string(abyCopied.begin(), abyCopied.end()), oDir.Read("copy.h264"));
    EXPECT_EQ((std::vector<MUINT64>{19 * 8, 2, 0, 0}), Counts(uiElapsed));
    // 2.5 s later one window closes and its end moves by one second only: the next delivery
    // closes another.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Deliver(local_abyP, true);
    EXPECT_EQ((std::vector<MUINT64>{28 * 8, 3, 19 * 8, 2}), Counts(uiElapsed));
    EXPECT_GE(uiElapsed, 2500000u);
    Deliver(local_abyIdr, true);
    EXPECT_EQ((std::vector<MUINT64>{38 * 8, 4, 9 * 8, 1}), Counts(uiElapsed));
    Deliver(local_abyP);  // not playing: afresh
    EXPECT_EQ(std::vector<MUINT64>(4, 0), Counts(uiElapsed));
    EXPECT_EQ(0u, uiElapsed);
}

TEST_F(VideoStream, TheSwitchReleasesEveryHandoffAndTheStopReturnsTheQueueInOrder)
{
    // A handoff waits for data until the switch is thrown, at any moment of its decision to wait.
    for (int i = 0; i < 300; ++i)
    {
        m_oVideo.DisconnectFifo(FALSE);
        GstBuffer* poBuffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
        auto oHandoff = std::async(std::launch::async, [&] { m_oVideo.Handoff(m_poSource, poBuffer, nullptr); });
        EXPECT_TRUE(i > 0 || oHandoff.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
        std::this_thread::sleep_for(std::chrono::microseconds(i % 3 * 25));
        m_oVideo.DisconnectFifo(TRUE);
        ASSERT_EQ(std::future_status::ready, oHandoff.wait_for(std::chrono::seconds(10))) << i;
        EXPECT_EQ(0u, gst_buffer_get_size(poBuffer));
        gst_buffer_unref(poBuffer);
    }
    // Disconnected: no wait, nothing delivered, the header still goes back; connected: delivered.
    EXPECT_TRUE(Has(LogOf(3, [&] { EXPECT_TRUE(Deliver(local_abyIdr).empty()); }), "FIFO Disconnected from OMX!"));
    m_oVideo.DisconnectFifo(FALSE);
    EXPECT_EQ(local_abyIdr, Deliver(local_abyIdr));
    // The stop hands back what is queued, in order; a handoff afterwards leaves its buffer alone.
    for (MUINT32 i = 0; i < 3; ++i)
        m_oVideo.EmptyThisBuffer(m_oUpstream.Header(i));
    EXPECT_EQ(OMX_ErrorNone, m_oVideo.StopBufferProcessing());
    EXPECT_FALSE(m_oVideo.IsBufferProcessing());
    const std::vector<OMX_BUFFERHEADERTYPE*> apoReturned = m_oUpstream.Returned();
    EXPECT_EQ((std::vector<OMX_BUFFERHEADERTYPE*>{m_oUpstream.Header(0), m_oUpstream.Header(1), m_oUpstream.Header(0),
                                                  m_oUpstream.Header(1), m_oUpstream.Header(2)}),
              apoReturned);
    EXPECT_TRUE(Has(LogOf(2, [&] { EXPECT_EQ(1024u, Deliver(local_abyIdr).size()); }), "RTSPVideoServerComponent: buffer processing stopped"));
}

TEST(StreamComponents, FragmentsAndPayloadersAndRefusalsWithoutUpstreamOrPath)
{
    gst_init(nullptr, nullptr);
    RTSPAudioServerComponent oAudio;
    RTSPVideoServerComponent oVideo;
    for (GStreamerServerComponent* poStream : std::initializer_list<GStreamerServerComponent*>{&oAudio, &oVideo})
    {
        ASSERT_EQ(OMX_ErrorNone, poStream->Init());
        std::string oErr;
        const std::string oOut = LogOf(0, [&] {
            COutputCapture oCapture(STDERR_FILENO);
            EXPECT_EQ(OMX_ErrorUndefined, poStream->SetParameters());
            EXPECT_EQ(OMX_ErrorUndefined, poStream->Execute(0));
            EXPECT_EQ(OMX_ErrorNotImplemented, poStream->Pause());
            GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
            poStream->PipelineCreated(poElement);  // not a pipeline: refused by the bridge and the stream
            gst_object_unref(poElement);
            oErr = oCapture.Finish();
        });
        EXPECT_EQ("Error: no remote input port\nError, argument is not a pipeline\nError, argument is not a GstPipeline *\n",
                  InfoMessages(oOut));
        EXPECT_TRUE(Has(oErr, "Execute                  OMX_ErrorUndefined"));
    }
    EXPECT_EQ(OMX_ErrorNone, oVideo.Deinit());
    // Connected: the fragments with the upstream's buffer size; added audio first, as the control
    // API does, they are pay0 with payload type 96 and pay1 with 97.
    CH264TestSource oAudioUpstream(4608, 2);
    CH264TestSource oVideoUpstream(4096, 2);
    GStreamerRTSPServer oServer;
    ASSERT_EQ(OMX_ErrorNone, oVideo.Init());
    for (auto oLink : {std::make_pair(&oAudioUpstream, static_cast<GStreamerServerComponent*>(&oAudio)), std::make_pair(&oVideoUpstream, static_cast<GStreamerServerComponent*>(&oVideo))})
        ASSERT_TRUE(oLink.first->Init() == OMX_ErrorNone && oLink.first->ConnectTo(0, oLink.second, 0) == OMX_ErrorNone &&
                    oLink.second->Execute(0) == OMX_ErrorNone && oServer.AddStreamingComponent(oLink.second) == OMX_ErrorNone);
    const std::string oAudioFragment = " fakesrc silent=true name=RTSPAudioServer.fakesrc sizemax=4608 sizetype=2 filltype=1 "
                                       "signal-handoffs=true format=time can-activate-pull=false ! audio/mpeg, mpegversion=4, framed=true, channels=2, "
                                       "profile=lc, stream-format=raw, rate=48000, codec_data=(buffer)1190 ! "
                                       "identity drop-buffer-flags=gap ! rtpmp4apay ";
    const std::string oVideoFragment = "fakesrc silent=true sizemax=4096 sizetype=2 filltype=1 signal-handoffs=true "
                                       "name=RTSPVideoServer.fakesrc do-timestamp=true can-activate-pull=false ! "
                                       "video/x-h264,stream-format=byte-stream,alignment=au ! h264parse ! "
                                       "video/x-h264,alignment=au ! rtph264pay ";
    EXPECT_EQ(oAudioFragment, oAudio.GetLaunchCommand());
    EXPECT_EQ(oVideoFragment, oVideo.GetLaunchCommand());
    // Live streams: no element of the media tells anyone that it can seek, or the RTSP library
    // answers a PLAY with a seek that fails and leaves the media in error for every client.
    GstElement* poMedia = gst_parse_launch(
        (std::string(oAudio.GetLaunchCommand()) + "! fakesink async=false " + oVideo.GetLaunchCommand() + "! fakesink async=false").c_str(), nullptr);
    ASSERT_NE(nullptr, poMedia);
    gst_element_set_state(poMedia, GST_STATE_PAUSED);  // the pads active, the buffers held in the sinks
    GstIterator* poElements = gst_bin_iterate_elements(GST_BIN(poMedia));
    const auto CheckSeeking = [](const GValue* poItem, gpointer) {
        GstElement* poElement = GST_ELEMENT(g_value_get_object(poItem));
        GstQuery* poQuery = gst_query_new_seeking(GST_FORMAT_TIME);
        gboolean bSeekable = FALSE;
        if (gst_element_query(poElement, poQuery))
            gst_query_parse_seeking(poQuery, nullptr, &bSeekable, nullptr, nullptr);
        EXPECT_FALSE(bSeekable) << GST_ELEMENT_NAME(poElement);
        gst_query_unref(poQuery);
    };
    EXPECT_EQ(GST_ITERATOR_DONE, gst_iterator_foreach(poElements, CheckSeeking, nullptr));
    gst_iterator_free(poElements);
    gst_element_set_state(poMedia, GST_STATE_NULL);
    gst_object_unref(poMedia);
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
    const std::string oStart = LogOf(2, [&] { EXPECT_EQ(OMX_ErrorNone, oServer.StartServing(false)); });
    EXPECT_TRUE(Has(oStart, "The complete launch is: " + oAudioFragment + " name=pay0 pt=96 " + oVideoFragment + " name=pay1 pt=97 \n")) << oStart;
    // Nobody connected: the stop sends no end-of-stream.
    const std::string oStop = LogOf(2, [&] { EXPECT_EQ(OMX_ErrorNone, oServer.StopServing()); });
    EXPECT_TRUE(!Has(oStop, "Sending EOS events") && Has(oStop, "Main loop exited"));
    // Another rate: the caps and their configuration follow it.
    oAudio.SetAudioParams(44100, 4608);
    ASSERT_EQ(OMX_ErrorNone, oAudio.SetParameters());
    EXPECT_TRUE(Has(oAudio.GetLaunchCommand(), "rate=44100, codec_data=(buffer)1210 !"));
    // With components but without a path: refused, nothing left.
    const SProcessResources oBefore = CurrentResources();
    oServer.Deinit();
    oServer.AddStreamingComponent(&oVideo);
    EXPECT_TRUE(Has(LogOf(0, [&] { EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false)); }), "ERROR: Path not initialized!\n"));
    EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources()) << " against " << Describe(oBefore);
    oServer.Deinit();
    oAudio.Deinit();
    oVideo.Deinit();
}

TEST(AudioStream, AudioSpecificConfigAndAdtsHeaders)
{
    // Object type 2 (5 bits), rate index (4 bits; 15 and the rate in 24 bits for a rate outside
    // the table), channels (4 bits), three bits of 0.
    const std::tuple<MUINT32, MUINT32, const char*> aoConfigs[] = {
        {48000, 2, "1190"}, {44100, 2, "1210"}, {32000, 1, "1288"}, {96000, 2, "1010"}, {7350, 1, "1608"}, {12345, 2, "1780181c90"}};
    for (const auto& roCase : aoConfigs)
    {
        char szText[16] = "";
        EXPECT_TRUE(RTSPAudioServerComponent::FormatAudioSpecificConfig(std::get<0>(roCase), std::get<1>(roCase), szText, sizeof(szText)));
        EXPECT_STREQ(std::get<2>(roCase), szText);
    }
    EXPECT_FALSE(RTSPAudioServerComponent::FormatAudioSpecificConfig(48000, 2, nullptr, 4));
    // A 27-byte frame behind a 7-byte header (no CRC), a 9-byte one (CRC), MPEG-2; not a header:
    // a raw frame, a frame shorter than its header says, a layer other than 0, too short a buffer.
    const std::tuple<guint8, guint, guint, guint> aoAdts[] = {{0xF1, 0, 27, 7}, {0xF0, 0, 27, 9}, {0xF9, 0, 27, 7}, {0xF1, 7, 20, 0},
                                                              {0xF1, 0, 26, 0}, {0xF3, 0, 27, 0}, {0xF1, 0, 5, 0}};
    for (const auto& roCase : aoAdts)
    {
        guint8 abyFrame[32] = {0xFF, std::get<0>(roCase), 0x4C, 0x80, 0x03, 0x7F, 0xFC};  // length 27
        memset(abyFrame + 7, 0x21, sizeof(abyFrame) - 7);
        EXPECT_EQ(std::get<3>(roCase), RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame + std::get<1>(roCase), std::get<2>(roCase)));
    }
}

TEST(RtspServer, RefusedStartsLeaveNothingBehindTheAddressNamesTheInterfaceAndOnlyAPipelineIsKept)
{
    gst_init(nullptr, nullptr);
    GStreamerRTSPServer oServer;
    RTSPVideoServerComponent oUnexecuted;
    ASSERT_EQ(OMX_ErrorNone, oUnexecuted.Init());
    const SProcessResources oBefore = CurrentResources();
    const std::string oLog = LogOf(0, [&] {
        EXPECT_EQ(OMX_ErrorNone, oServer.StopServing());  // never started: at once
        EXPECT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video", PickFreePort()));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));  // no component
        EXPECT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oUnexecuted));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));  // no launch command
        EXPECT_EQ(OMX_ErrorBadParameter, oServer.SetPortInfo("", 8554));  // and the path is forgotten
        EXPECT_EQ(OMX_ErrorBadParameter, oServer.SetPortInfo(nullptr, 8554));
        EXPECT_EQ(OMX_ErrorNone, oServer.Deinit());
        EXPECT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(nullptr));
        EXPECT_EQ(OMX_ErrorUndefined, oServer.StartServing(false));  // no component again
    });
    EXPECT_EQ("ERROR: No streaming components!\nERROR: Cannot init the media factory!\n"
              "ERROR: No launch command for streaming component 0!\nERROR: Cannot init the media factory!\n"
              "ERROR: No streaming components!\nERROR: Cannot init the media factory!\n",
              InfoMessages(oLog));
    EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources()) << " against " << Describe(oBefore);
    oUnexecuted.Deinit();

    // The address names the chosen interface; only a pipeline is kept.
    char szAddress[128] = "untouched";
    EXPECT_FALSE(oServer.GetIpAddr(szAddress, "nosuchif0"));
    ASSERT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video1920x1080@60fps", 8554));
    {
        CScopedEnv oInterface("PELLIX_NET_INTERFACE", "nosuchif0");
        EXPECT_FALSE(oServer.GetServerAddress(szAddress, sizeof(szAddress)));
        EXPECT_STREQ("untouched", szAddress);
        setenv("PELLIX_NET_INTERFACE", "", 1);
        EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
        unsetenv("PELLIX_NET_INTERFACE");
        EXPECT_STREQ("eth0", GStreamerRTSPServer::GetNetInterface());
    }
    // (The whole address on loopback is what every start on the platform gives.)
    CScopedEnv oInterface("PELLIX_NET_INTERFACE", "lo");
    EXPECT_TRUE(oServer.GetServerAddress(szAddress, 12));
    EXPECT_STREQ("rtsp://127.", szAddress);

    GstElement* poElement = gst_element_factory_make("fakesrc", nullptr);
    GstElement* poPipeline = gst_pipeline_new(nullptr);
    std::string oPlaying;
    const std::string oReports = LogOf(1, [&] {
        for (GstElement* poReported : {poElement, poPipeline, poPipeline, static_cast<GstElement*>(nullptr)})
        {
            if (poReported == poPipeline && oPlaying.size() == 2)
                gst_element_set_state(poPipeline, GST_STATE_PLAYING);
            GStreamerRTSPServer::CallbackPipelineCreated(poReported, &oServer);
            oPlaying += oServer.IsPlaying() ? "1" : "0";
        }
    });
    EXPECT_EQ("0010", oPlaying);
    EXPECT_EQ("Error: Bad pipeline!\nPipeline created.\nPipeline created.\nPipeline deleted.\n", InfoMessages(oReports));
    gst_element_set_state(poPipeline, GST_STATE_NULL);
    gst_object_unref(poPipeline);
    gst_object_unref(poElement);
}
