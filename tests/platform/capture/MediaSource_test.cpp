// Real sources as the HDMI input, in the platform alone: what they report as the receiver's
// signal, how a source that cannot serve is refused, and the audio track the HDMI audio capture
// device reads. The clips are made with ffmpeg.
#include <gtest/gtest.h>

#include <ctime>
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
    static void SetUpTestSuite()
    {
        s_poClips = new CTempDir();
        s_bClipsMade = MakeTestClips(s_poClips->Path());
    }
    static void TearDownTestSuite()
    {
        delete s_poClips;
        s_poClips = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_bClipsMade); }
    void TearDown() override { PellixTest_SetSimulatedInput("1920x1080p60"); }

    static std::string Clip(const char* szName) { return "file:" + (s_poClips->Path() / szName).string(); }
    static std::string StatusMessage()
    {
        char szMessage[512] = {0};
        PellixTest_GetSimulatedInputStatus(szMessage, sizeof(szMessage));
        return szMessage;
    }

    static CTempDir* s_poClips;
    static bool s_bClipsMade;
};
CTempDir* MediaSource::s_poClips = nullptr;
bool MediaSource::s_bClipsMade = false;

uint64_t MonotonicNs()
{
    timespec oNow;
    clock_gettime(CLOCK_MONOTONIC, &oNow);
    return static_cast<uint64_t>(oNow.tv_sec) * 1000000000u + static_cast<uint64_t>(oNow.tv_nsec);
}
} // namespace

TEST(MediaSourceDescription, FilesAndDevicesAreQuotedAndADescriptionIsTakenAsItIs)
{
    EXPECT_EQ("filesrc location=\"/tmp/clip one.mp4\"", CMediaSource::Describe(InputKind_File, "/tmp/clip one.mp4"));
    EXPECT_EQ("filesrc location=\"/a \\\"b\\\"\\\\c\"", CMediaSource::Describe(InputKind_File, "/a \"b\"\\c"));
    EXPECT_EQ("v4l2src device=\"/dev/video0\"", CMediaSource::Describe(InputKind_V4l2, "/dev/video0"));
    EXPECT_EQ("videotestsrc ! video/x-raw,width=640", CMediaSource::Describe(InputKind_Gst, "videotestsrc ! video/x-raw,width=640"));
    SInputSelection oSelection;
    ASSERT_TRUE(CSimulatedInput::Parse("v4l2:/dev/video1", oSelection));
    EXPECT_EQ(InputKind_V4l2, oSelection.eKind);
    EXPECT_EQ("/dev/video1", oSelection.oLocation);
    for (const char* szBad : {"file:", "v4l2:", "gst:", "File:/a.mp4", "video:/dev/video0"})
        EXPECT_FALSE(CSimulatedInput::Parse(szBad, oSelection)) << szBad;
}

TEST_F(MediaSource, FilesReportTheirModeAsTheReceiverSeesIt)
{
    struct SCase
    {
        const char* szClip;
        unsigned uiWidth, uiHeight, uiRate;  // frames/s, fields/s when interlaced
        bool bInterlaced, bAudio;
    };
    for (const SCase& roCase : {SCase{"p720-tone.mp4", 1280, 720, 50, false, true},
                                SCase{"i1080.mkv", 1920, 1080, 50, true, false},
                                SCase{"i576.mkv", 720, 576, 50, true, false}})
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(Clip(roCase.szClip).c_str())) << StatusMessage();
        const SSimulatedSignal oSignal = CSimulatedInput::Instance().Current();
        EXPECT_TRUE(oSignal.bPresent) << roCase.szClip;
        EXPECT_EQ(roCase.uiWidth, oSignal.uiWidth) << roCase.szClip;
        EXPECT_EQ(roCase.uiHeight, oSignal.uiHeight) << roCase.szClip;
        EXPECT_EQ(roCase.uiRate, oSignal.uiRate) << roCase.szClip;
        EXPECT_EQ(roCase.bInterlaced, oSignal.bInterlaced) << roCase.szClip;
        EXPECT_EQ(roCase.bAudio ? 1 : 0, PellixInput_HasAudio()) << roCase.szClip;
        EXPECT_EQ("", StatusMessage());
    }
}

TEST_F(MediaSource, TheToneOfAFileIsWhatTheAudioDeviceReadsWhenItIsDue)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(Clip("p720-tone.mp4").c_str())) << StatusMessage();
    ASSERT_EQ(1, PellixInput_HasAudio());
    // Half a second that was due until a moment ago: the 440 Hz tone, on both channels, once the
    // file has played that long.
    const unsigned uiFrames = PELLIX_INPUT_AUDIO_RATE / 2;
    std::vector<int16_t> aiFrames(uiFrames * PELLIX_INPUT_AUDIO_CHANNELS);
    const auto fnFrequency = [&aiFrames](unsigned uiChannel) {
        return ToneFrequency(aiFrames.data() + uiChannel, aiFrames.size() - uiChannel, 2, PELLIX_INPUT_AUDIO_RATE);
    };
    EXPECT_TRUE(Eventually([&]() {
        PellixInput_ReadAudio(CAudioRing::FrameAt(MonotonicNs()) - uiFrames - PELLIX_INPUT_AUDIO_RATE / 50,
                              aiFrames.data(), uiFrames);
        return std::abs(fnFrequency(0) - 440.0) < 6.0 && std::abs(fnFrequency(1) - 440.0) < 6.0;
    })) << fnFrequency(0) << " Hz, " << fnFrequency(1) << " Hz";
    // What is not due yet, and far too old, is silence.
    PellixInput_ReadAudio(CAudioRing::FrameAt(MonotonicNs()) + PELLIX_INPUT_AUDIO_RATE, aiFrames.data(), uiFrames);
    EXPECT_EQ(std::vector<int16_t>(aiFrames.size(), 0), aiFrames);
    // The pattern has no audio of its own here: the device plays its test signal instead.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    EXPECT_EQ(0, PellixInput_HasAudio());
}

TEST_F(MediaSource, ALiveSourceReportsItsModeThenItsEndAsTheLossOfTheSignal)
{
    struct SHeard
    {
        std::mutex oMutex;
        std::vector<SSimulatedSignal> aoSignals;
    } oHeard;
    CSimulatedInput::Instance().AddListener(&oHeard, [](void* pvHeard, const SSimulatedSignal& roSignal) {
        SHeard* poHeard = static_cast<SHeard*>(pvHeard);
        std::lock_guard<std::mutex> oLock(poHeard->oMutex);
        poHeard->aoSignals.push_back(roSignal);
    });
    // 40 pictures at 50/s: the source ends 0.8 s after it started.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("gst:videotestsrc is-live=true num-buffers=40 ! "
                                                          "video/x-raw,width=1280,height=720,framerate=50/1"))
        << StatusMessage();
    EXPECT_TRUE(Eventually([&oHeard]() {
        std::lock_guard<std::mutex> oLock(oHeard.oMutex);
        return oHeard.aoSignals.size() >= 2;
    }));
    CSimulatedInput::Instance().RemoveListener(&oHeard);
    ASSERT_EQ(2u, oHeard.aoSignals.size());
    EXPECT_TRUE(oHeard.aoSignals[0].bPresent);
    EXPECT_EQ(1280u, oHeard.aoSignals[0].uiWidth);
    EXPECT_EQ(50u, oHeard.aoSignals[0].uiRate);
    EXPECT_FALSE(oHeard.aoSignals[1].bPresent);
    EXPECT_FALSE(CSimulatedInput::Instance().Current().bPresent);
    EXPECT_EQ("ended", StatusMessage());
}

TEST_F(MediaSource, AMissingCaptureDeviceIsNoSignalWithItsReason)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("v4l2:/dev/pellix-no-such-video"));
    EXPECT_FALSE(CSimulatedInput::Instance().Current().bPresent);
    EXPECT_NE(std::string::npos, StatusMessage().find("Cannot identify device '/dev/pellix-no-such-video'"))
        << StatusMessage();
}

TEST_F(MediaSource, SourcesThatCannotServeAreRefusedWithTheirReasonAndTheInputStays)
{
    const CTempDir oFolder;
    const std::string oText = oFolder.Write("notes.mp4", "not a video").string();
    ASSERT_EQ(0, std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=d=1 " + (oFolder.Path() / "tone.wav").string()).c_str()));
    struct SCase
    {
        std::string oInput;
        const char* szReason;
    };
    const SCase aoCases[] = {
        {"file:" + (oFolder.Path() / "missing.mp4").string(), "Resource not found."},
        {"file:" + oText, "Could not determine type of stream."},
        {"file:" + (oFolder.Path() / "tone.wav").string(), "has no video"},
        {"gst:audiotestsrc is-live=true", "has no video"},
        {"gst:videotestsrc ! (", "does not parse"},
        {"gst:videotestsrc ! fakesink", "does not parse: could not link"},
    };
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p50"));
    for (const SCase& roCase : aoCases)
    {
        EXPECT_EQ(OMX_ErrorContentPipeOpenFailed, PellixTest_SetSimulatedInput(roCase.oInput.c_str())) << roCase.oInput;
        EXPECT_NE(std::string::npos, StatusMessage().find(roCase.szReason)) << roCase.oInput << ": " << StatusMessage();
        const SSimulatedSignal oSignal = CSimulatedInput::Instance().Current();
        EXPECT_TRUE(oSignal.bPresent && oSignal.uiWidth == 1280 && oSignal.uiRate == 50) << roCase.oInput;
        EXPECT_EQ(nullptr, CSimulatedInput::Instance().MediaSource()) << roCase.oInput;
    }
}
