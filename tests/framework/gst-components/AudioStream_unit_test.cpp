// The audio stream's own pieces: its launch fragment, the AudioSpecificConfig of its caps and the
// ADTS header it keeps out of the stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AudioTestSupport.h"
#include "OutputCapture.h"
#include "ti814x-framework.h"

namespace
{
// The stream connected to an upstream port of buffers of uiBufferSize bytes.
struct SConnectedStream
{
    explicit SConnectedStream(MUINT32 uiBufferSize) : oUpstream(Config(uiBufferSize))
    {
        EXPECT_EQ(OMX_ErrorNone, oStream.Init());
        EXPECT_EQ(OMX_ErrorNone, oUpstream.Init());
        EXPECT_EQ(OMX_ErrorNone, oUpstream.ConnectTo(0, &oStream, 0));
    }
    ~SConnectedStream()
    {
        oUpstream.Deinit();
        oStream.Deinit();
    }
    static CH264TestSource::SConfig Config(MUINT32 uiBufferSize)
    {
        CH264TestSource::SConfig oConfig;
        oConfig.uiBufferSize = uiBufferSize;
        oConfig.uiBufferCount = 3;
        return oConfig;
    }

    CObservedAudioComponent oStream;
    CH264TestSource oUpstream;
};

std::string Config(MUINT32 uiRate, MUINT32 uiChannels)
{
    char szText[16] = "";
    EXPECT_TRUE(RTSPAudioServerComponent::FormatAudioSpecificConfig(uiRate, uiChannels, szText, sizeof(szText)));
    return szText;
}
} // namespace

TEST(AudioStreamUnit, LaunchFragmentCarriesTheBufferSizeRateAndConfiguration)
{
    SConnectedStream oConnected(4608);
    ASSERT_EQ(OMX_ErrorNone, oConnected.oStream.Execute(0));
    EXPECT_STREQ(" fakesrc silent=true name=RTSPAudioServer.fakesrc sizemax=4608 sizetype=2 filltype=1 "
                 "signal-handoffs=true format=time ! audio/mpeg, mpegversion=4, framed=true, channels=2, profile=lc, "
                 "stream-format=raw, rate=48000, codec_data=(buffer)1190 ! identity drop-buffer-flags=gap ! "
                 "rtpmp4apay ",
                 oConnected.oStream.GetLaunchCommand());
    EXPECT_STREQ("RTSPAudioServer.fakesrc", oConnected.oStream.GetSourceElementName());

    // Another rate: the caps and their configuration follow it, and GStreamer takes the fragment.
    oConnected.oStream.SetAudioParams(44100, 4608);
    ASSERT_EQ(OMX_ErrorNone, oConnected.oStream.SetParameters());
    const std::string oLaunch = oConnected.oStream.GetLaunchCommand();
    EXPECT_NE(std::string::npos, oLaunch.find("rate=44100, codec_data=(buffer)1210 !"));
    gst_init(nullptr, nullptr);
    GError* poError = nullptr;
    GstElement* poBin = gst_parse_launch(("(" + oLaunch + " name=pay0 pt=96 )").c_str(), &poError);
    EXPECT_EQ(nullptr, poError) << (poError ? poError->message : "");
    ASSERT_NE(nullptr, poBin);
    GstElement* poSource = gst_bin_get_by_name(GST_BIN(poBin), "RTSPAudioServer.fakesrc");
    EXPECT_NE(nullptr, poSource);
    if (poSource != nullptr)
        gst_object_unref(poSource);
    if (poError != nullptr)
        g_error_free(poError);
    gst_object_unref(poBin);
}

TEST(AudioStreamUnit, WithoutUpstreamThereIsNoFragment)
{
    CObservedAudioComponent oStream;
    ASSERT_EQ(OMX_ErrorNone, oStream.Init());
    COutputCapture oLog(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorUndefined, oStream.SetParameters());
    EXPECT_NE(std::string::npos, oLog.Finish().find("Error: no remote input port\n"));
    EXPECT_EQ(nullptr, oStream.GetLaunchCommand());
    EXPECT_EQ(OMX_ErrorUndefined, oStream.Execute(0));
    EXPECT_EQ(OMX_ErrorNone, oStream.Deinit());
}

TEST(AudioStreamUnit, AudioSpecificConfigOfAacLc)
{
    // Object type 2 (5 bits), rate index (4 bits), channels (4 bits), three bits of 0.
    EXPECT_EQ("1190", Config(48000, 2));
    EXPECT_EQ("1210", Config(44100, 2));
    EXPECT_EQ("1288", Config(32000, 1));
    EXPECT_EQ("1010", Config(96000, 2));
    EXPECT_EQ("1608", Config(7350, 1));
    // A rate outside the table is written out: index 15, then the rate in 24 bits.
    EXPECT_EQ("1780181c90", Config(12345, 2));
    char szShort[4];
    EXPECT_FALSE(RTSPAudioServerComponent::FormatAudioSpecificConfig(48000, 2, szShort, sizeof(szShort)));
}

TEST(AudioStreamUnit, AdtsHeaderAtTheStartOfAFrame)
{
    // A 20-byte frame behind a 7-byte header (no CRC), and behind a 9-byte one (with CRC).
    guint8 abyFrame[32];
    memset(abyFrame, 0x21, sizeof(abyFrame));
    const guint8 abyHeader[7] = {0xFF, 0xF1, 0x4C, 0x80, 0x03, 0x7F, 0xFC};  // length 27
    memcpy(abyFrame, abyHeader, sizeof(abyHeader));
    EXPECT_EQ(7u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 27));
    abyFrame[1] = 0xF0;
    EXPECT_EQ(9u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 27));
    abyFrame[1] = 0xF9;  // MPEG-2
    EXPECT_EQ(7u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 27));
    // Not a header: a raw frame, a frame shorter than its header says, a layer other than 0, a
    // buffer shorter than a header.
    EXPECT_EQ(0u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame + 7, 20));
    EXPECT_EQ(0u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 26));
    abyFrame[1] = 0xF3;
    EXPECT_EQ(0u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 27));
    EXPECT_EQ(0u, RTSPAudioServerComponent::GetAdtsHeaderSize(abyFrame, 5));
}
