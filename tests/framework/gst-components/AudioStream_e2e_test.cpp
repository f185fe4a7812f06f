// End to end: the audio stream, with and without video, decoded by real clients on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "AudioTestSupport.h"
#include "Eventually.h"
#include "TempDir.h"
#include "ti814x-framework.h"

namespace
{
class AudioEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("PELLIX_NET_INTERFACE", "lo", 1);
        SetInfoMessageLevel(getenv("RTSP_TEST_LEVEL") ? atoi(getenv("RTSP_TEST_LEVEL")) : 0);
    }
    CAlsaTestEnvironment m_oAlsa;
};
} // namespace

TEST_F(AudioEndToEnd, FfmpegDecodesTheCapturedSignal)
{
    SAudioServingGraph oGraph(false);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    const SDecodedAudio oDecoded = DecodeAudioWithFfmpeg(oGraph.Url(), 2);
    EXPECT_EQ(0, oDecoded.oRun.iExitCode) << oDecoded.oRun.oErr;
    EXPECT_EQ("", oDecoded.oRun.oErr);
    // At least a second of it (a capture late on a slow machine leaves a gap in the stream's
    // time, which ffmpeg's duration counts).
    EXPECT_GE(oDecoded.uiFrames, 48000u);
    EXPECT_NEAR(997.0, oDecoded.aoChannel[0].dFrequency, 1.0);
    EXPECT_NEAR(16384.0, oDecoded.aoChannel[0].dAmplitude, 16384.0 * 0.03);
    EXPECT_NEAR(1499.0, oDecoded.aoChannel[1].dFrequency, 1.0);
    EXPECT_NEAR(8192.0, oDecoded.aoChannel[1].dAmplitude, 8192.0 * 0.03);
}

namespace
{
std::string AudioRtspsrcCommand(const std::string& roUrl, const std::string& roPcmPath, bool bWithVideo)
{
    // Audio to a file of samples and, with video, the pictures decoded too. A branch that has
    // had its share ends the whole run: both are given about two and a half seconds.
    std::string oCommand = "gst-launch-1.0 -e rtspsrc location=" + roUrl +
                           " protocols=tcp name=src src. ! application/x-rtp,media=audio ! rtpmp4adepay ! aacparse ! "
                           "faad ! audioconvert ! audio/x-raw,format=S16LE,channels=2 ! identity eos-after=118 ! "
                           "filesink location=" + roPcmPath;
    if (bWithVideo)
        oCommand += " src. ! application/x-rtp,media=video ! rtph264depay ! h264parse ! openh264dec ! "
                    "identity eos-after=151 silent=false ! fakesink";
    return oCommand;
}

void ExpectTheSignal(const std::vector<int16_t>& aiSamples, size_t uiSkip)
{
    const SToneMeasure oLeft = MeasureTone(aiSamples, 2, 0, 48000, uiSkip);
    const SToneMeasure oRight = MeasureTone(aiSamples, 2, 1, 48000, uiSkip);
    EXPECT_NEAR(997.0, oLeft.dFrequency, 1.0);
    EXPECT_NEAR(16384.0, oLeft.dAmplitude, 16384.0 * 0.03);
    EXPECT_NEAR(1499.0, oRight.dFrequency, 1.0);
    EXPECT_NEAR(8192.0, oRight.dAmplitude, 8192.0 * 0.03);
}
} // namespace

TEST_F(AudioEndToEnd, VideoAndAudioTogetherDecodeInFfmpegAndRtspsrc)
{
    // Each client gets a server of its own: what a shared media does between two clients is not
    // what this test is about.
    {
        SAudioServingGraph oGraph(true);
        ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
        // ffprobe shows the media's description among its messages.
        const SRunResult oProbe = RunCommand("ffprobe -v verbose -rtsp_transport tcp -show_entries "
                                             "stream=index,codec_name,profile,sample_rate,channels,width -of csv=p=0 " +
                                                 oGraph.Url(),
                                             60);
        EXPECT_EQ(0, oProbe.iExitCode) << oProbe.oErr;
        EXPECT_EQ("0,aac,LC,48000,2\n1,h264,Constrained Baseline,320\n", oProbe.oOut);
        EXPECT_EQ(std::string::npos, oProbe.oErr.find("rror")) << oProbe.oErr;
        // The media: audio first (pay0, payload type 96, with its configuration), then video.
        const std::string& roSdp = oProbe.oErr;
        const size_t uiAudio = roSdp.find("m=audio 0 RTP/AVP 96");
        const size_t uiVideo = roSdp.find("m=video 0 RTP/AVP 97");
        ASSERT_NE(std::string::npos, uiAudio) << roSdp;
        ASSERT_NE(std::string::npos, uiVideo) << roSdp;
        EXPECT_LT(uiAudio, uiVideo);
        EXPECT_NE(std::string::npos, roSdp.find("a=rtpmap:96 MP4A-LATM/48000\r"));
        // The StreamMuxConfig of AAC-LC at 48000 Hz with 2 channels.
        EXPECT_NE(std::string::npos, roSdp.find("a=fmtp:96 cpresent=0;config=40002320\r"));
        EXPECT_NE(std::string::npos, roSdp.find("a=rtpmap:97 H264/90000"));
    }
    CTempDir oDir;
    {
        // ffmpeg: the signal and the pictures, both decoded in one session (into one file of
        // raw audio and raw pictures, read back below).
        SAudioServingGraph oGraph(true);
        ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
        const std::string oNutPath = (oDir.Path() / "ffmpeg.nut").string();
        const SRunResult oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oGraph.Url() +
                                               " -map 0:a -map 0:v -t 2.5 -c:a pcm_s16le -c:v rawvideo -f nut " +
                                               oNutPath,
                                           60);
        EXPECT_EQ(0, oRun.iExitCode) << oRun.oErr;
        EXPECT_EQ("", oRun.oErr);
        const SRunResult oPictures = RunCommand("ffmpeg -nostdin -v error -i " + oNutPath + " -map 0:v -f framecrc -", 60);
        // One framecrc line per picture, each starting with the stream's index: about 2.5 s at
        // 60 pictures a second.
        EXPECT_GE(CountOccurrences("\n" + oPictures.oOut, "\n0, "), 120u);
        const SRunResult oAudio =
            RunCommand("ffmpeg -nostdin -v error -i " + oNutPath + " -map 0:a -f s16le -ac 2 -ar 48000 -", 60);
        const std::vector<int16_t> aiSamples = PcmSamples(oAudio.oOut);
        EXPECT_GE(aiSamples.size() / 2, 96000u);
        ExpectTheSignal(aiSamples, 9600);
    }
    {
        // rtspsrc: both streams through GStreamer's own depayloaders and decoders.
        SAudioServingGraph oGraph(true);
        ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
        const std::string oPcmPath = (oDir.Path() / "rtspsrc.raw").string();
        const SRunResult oGst = RunCommand(AudioRtspsrcCommand(oGraph.Url(), oPcmPath, true) + " -v", 60);
        EXPECT_EQ(0, oGst.iExitCode) << oGst.oErr;
        EXPECT_EQ(std::string::npos, oGst.oErr.find("ERROR")) << oGst.oErr;
        EXPECT_GE(CountOccurrences(oGst.oOut, "GstIdentity:identity1: last-message = chain"), 90u)
            << oGst.oOut.substr(oGst.oOut.size() > 4000 ? oGst.oOut.size() - 4000 : 0);
        const std::vector<int16_t> aiSamples = PcmSamples(oDir.Read("rtspsrc.raw"));
        EXPECT_GE(aiSamples.size() / 2, 72000u);
        ExpectTheSignal(aiSamples, 9600);
    }
}

TEST_F(AudioEndToEnd, AClientComingLaterGetsEachFrameRawInOrderWithinASecond)
{
    SAudioServingGraph oGraph(false);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    // No client for a while: the audio keeps flowing and nothing piles up.
    ASSERT_TRUE(Eventually([&] { return oGraph.oAudio.iArrived >= 60; }));
    EXPECT_TRUE(Eventually([&] { return oGraph.oAudio.IsFifoEmpty(); }));
    EXPECT_EQ(0, oGraph.oAudio.iHandoffs.load());

    CAudioRtpClient oClient;
    ASSERT_TRUE(oClient.Play(oGraph.Url(), oGraph.uiPort));
    const auto oPlayed = std::chrono::steady_clock::now();
    std::string oPacket = oClient.NextPacket(10000);
    const double dFirstPacketMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - oPlayed).count();
    ASSERT_FALSE(oPacket.empty());
    printf("first audio packet %.1f ms after PLAY\n", dFirstPacketMs);
    EXPECT_LT(dFirstPacketMs, 1000.0);

    // One raw frame per packet (no ADTS header in front of it), numbered and stamped in order.
    SAudioRtpPacket oFirst = ParseAudioRtpPacket(oPacket);
    ASSERT_TRUE(oFirst.bValid);
    SAudioRtpPacket oLast = oFirst;
    const unsigned uiPackets = 100;
    for (unsigned i = 1; i < uiPackets; ++i)
    {
        oPacket = oClient.NextPacket(5000);
        ASSERT_FALSE(oPacket.empty()) << "packet " << i;
        const SAudioRtpPacket oNext = ParseAudioRtpPacket(oPacket);
        ASSERT_TRUE(oNext.bValid) << "packet " << i;
        EXPECT_EQ(96u, oNext.uiPayloadType);
        EXPECT_TRUE(oNext.bMarker);
        EXPECT_EQ((oLast.uiSequence + 1) & 0xFFFF, oNext.uiSequence);
        ASSERT_GE(oNext.oFrame.size(), 2u);
        EXPECT_FALSE(static_cast<unsigned char>(oNext.oFrame[0]) == 0xFF &&
                     (static_cast<unsigned char>(oNext.oFrame[1]) & 0xF6) == 0xF0)
            << "packet " << i;
        oLast = oNext;
    }
    // 1024 samples a frame: the times advance by the frames' length (a step may round to the
    // next sample once).
    const uint32_t uiSpan = oLast.uiTimestamp - oFirst.uiTimestamp;
    EXPECT_LE(uiSpan - (uiPackets - 1) * 1024, 1u);
    oClient.Close();
    EXPECT_GE(oGraph.oAudio.iDelivered.load(), static_cast<long>(uiPackets));
}

TEST_F(AudioEndToEnd, RtspsrcDecodesTheAudioStreamAlone)
{
    SAudioServingGraph oGraph(false);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    CTempDir oDir;
    const std::string oPcmPath = (oDir.Path() / "audio.raw").string();
    const SRunResult oGst = RunCommand(AudioRtspsrcCommand(oGraph.Url(), oPcmPath, false), 60);
    EXPECT_EQ(0, oGst.iExitCode) << oGst.oErr;
    EXPECT_EQ("", oGst.oErr);
    ExpectTheSignal(PcmSamples(oDir.Read("audio.raw")), 9600);
}
