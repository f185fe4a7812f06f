// Real sources as the HDMI input, in the platform alone: what they report as the receiver's
// signal, how a source that cannot serve is refused, and the audio the HDMI audio capture device
// reads. The clips are made with ffmpeg. (The host's end-to-end test serves every clip, a live
// source's end, a missing device and the refusals it shares with this test through real clients,
// the clip's tone among them.)
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "CMediaSource.h"
#include "CSimulatedInput.h"
#include "Eventually.h"
#include "PellixInputAudio.h"
#include "PellixTestControl.h"
#include "TempDir.h"
#include "TestClips.h"

namespace
{
class MediaSource : public ::testing::Test
{
protected:
    void TearDown() override { PellixTest_SetSimulatedInput("1920x1080p60"); }

    // A clip, made with the others on first use.
    static std::string Clip(const char* szName)
    {
        static const bool s_bMade = MakeTestClips(s_oClips.Path());
        EXPECT_TRUE(s_bMade);
        return "file:" + (s_oClips.Path() / szName).string();
    }
    static std::string Status()
    {
        char szMessage[512] = {0};
        PellixTest_GetSimulatedInputStatus(szMessage, sizeof(szMessage));
        return szMessage;
    }

    static inline CTempDir s_oClips;
};

// The audio frame due now: CLOCK_MONOTONIC in nanoseconds.
uint64_t FrameNow()
{
    return CAudioRing::FrameAt(
        uint64_t(std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count()));
}
} // namespace

TEST(MediaSourceDescription, FilesAndDevicesAreQuotedAndADescriptionIsTakenAsItIs)
{
    EXPECT_EQ("filesrc location=\"/a \\\"b\\\"\\\\c\"", CMediaSource::Describe(InputKind_File, "/a \"b\"\\c"));
    EXPECT_EQ("v4l2src device=\"/dev/video0\"", CMediaSource::Describe(InputKind_V4l2, "/dev/video0"));
    EXPECT_EQ("videotestsrc ! video/x-raw,width=640",
              CMediaSource::Describe(InputKind_Gst, "videotestsrc ! video/x-raw,width=640"));
    SInputSelection oSelection;
    for (const char* szBad : {"file:", "v4l2:", "gst:", "File:/a.mp4", "video:/dev/video0"})
        EXPECT_FALSE(CSimulatedInput::Parse(szBad, oSelection)) << szBad;
}

TEST_F(MediaSource, AFileReportsItsModeAndItsAudioAndALiveSourceItsEnd)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(Clip("p720-tone.mp4").c_str())) << Status();
    SSimulatedSignal o = CSimulatedInput::Instance().Current();
    EXPECT_TRUE(o.bPresent && o.uiWidth == 1280 && o.uiHeight == 720 && o.uiRate == 50 && !o.bInterlaced &&
                PellixInput_HasAudio() == 1 && Status().empty())
        << Status();
    // Audio not due yet is silence.
    std::vector<int16_t> aiFrames(PELLIX_INPUT_AUDIO_RATE * PELLIX_INPUT_AUDIO_CHANNELS, 1);
    PellixInput_ReadAudio(FrameNow() + PELLIX_INPUT_AUDIO_RATE, aiFrames.data(), PELLIX_INPUT_AUDIO_RATE);
    EXPECT_EQ(std::vector<int16_t>(aiFrames.size(), 0), aiFrames);
    // The pattern has no audio of its own: the device plays its test signal instead.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    EXPECT_EQ(0, PellixInput_HasAudio());
    // 40 pictures at 50/s: the source ends 0.8 s after it started, and says so, to the listeners
    // too (the capture's thread wakes up on what they hear).
    struct SHeard
    {
        std::mutex oMutex;
        std::vector<SSimulatedSignal> aoSignals;
    } oHeard;
    CSimulatedInput::Instance().AddListener(&oHeard, [](void* pv, const SSimulatedSignal& ro) {
        std::lock_guard<std::mutex> oLock(static_cast<SHeard*>(pv)->oMutex);
        static_cast<SHeard*>(pv)->aoSignals.push_back(ro);
    });
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("gst:videotestsrc is-live=true num-buffers=40 ! "
                                                          "video/x-raw,width=1280,height=720,framerate=50/1"))
        << Status();
    EXPECT_TRUE(Eventually([] { return !CSimulatedInput::Instance().Current().bPresent && Status() == "ended"; }))
        << Status();
    CSimulatedInput::Instance().RemoveListener(&oHeard);  // after a notice being given
    ASSERT_EQ(2u, oHeard.aoSignals.size());
    o = oHeard.aoSignals[0];
    EXPECT_TRUE(o.bPresent && o.uiWidth == 1280 && o.uiRate == 50 && !oHeard.aoSignals[1].bPresent);
}

TEST_F(MediaSource, SourcesThatCannotServeAreRefusedWithTheirReasonAndTheInputStays)
{
    const CTempDir oFolder;
    const std::string oText = oFolder.Write("notes.mp4", "not a video").string(),
                      oTone = (oFolder.Path() / "tone.wav").string();
    ASSERT_EQ(0, std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=d=1 " + oTone).c_str()));
    const std::vector<std::pair<std::string, const char*>> aoCases = {
        {"file:" + (oFolder.Path() / "missing.mp4").string(), "Resource not found."},
        {"file:" + oText, "Could not determine type of stream."},
        {"file:" + oTone, "has no video"},
        {"gst:audiotestsrc is-live=true", "has no video"},
        {"gst:videotestsrc ! (", "does not parse"},
        {"gst:videotestsrc ! fakesink", "does not parse: could not link"}};
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p50"));
    for (const auto& roCase : aoCases)
    {
        EXPECT_EQ(OMX_ErrorContentPipeOpenFailed, PellixTest_SetSimulatedInput(roCase.first.c_str())) << roCase.first;
        EXPECT_NE(std::string::npos, Status().find(roCase.second)) << roCase.first << ": " << Status();
        const SSimulatedSignal o = CSimulatedInput::Instance().Current();
        EXPECT_TRUE(o.bPresent && o.uiWidth == 1280 && o.uiRate == 50 &&
                    CSimulatedInput::Instance().MediaSource() == nullptr)
            << roCase.first;
    }
}
