// Real sources as the HDMI input, in the platform alone: what they report as the receiver's
// signal, how a source that cannot serve is refused, and the audio track the HDMI audio capture
// device reads. The clips are made with ffmpeg.
#include <gtest/gtest.h>

#include <ctime>
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
    static void SetUpTestSuite()
    {
        s_poClips = new CTempDir();
        s_bClipsMade = MakeTestClips(s_poClips->Path());
    }
    static void TearDownTestSuite() { delete s_poClips; }
    void SetUp() override { ASSERT_TRUE(s_bClipsMade); }
    void TearDown() override { PellixTest_SetSimulatedInput("1920x1080p60"); }

    static std::string Clip(const char* szName) { return "file:" + (s_poClips->Path() / szName).string(); }
    static std::string Status()
    {
        char szMessage[512] = {0};
        PellixTest_GetSimulatedInputStatus(szMessage, sizeof(szMessage));
        return szMessage;
    }

    static inline CTempDir* s_poClips = nullptr;
    static inline bool s_bClipsMade = false;
};

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
    EXPECT_EQ("videotestsrc ! video/x-raw,width=640",
              CMediaSource::Describe(InputKind_Gst, "videotestsrc ! video/x-raw,width=640"));
    SInputSelection oSelection;
    ASSERT_TRUE(CSimulatedInput::Parse("v4l2:/dev/video1", oSelection));
    EXPECT_TRUE(oSelection.eKind == InputKind_V4l2 && oSelection.oLocation == "/dev/video1");
    for (const char* szBad : {"file:", "v4l2:", "gst:", "File:/a.mp4", "video:/dev/video0"})
        EXPECT_FALSE(CSimulatedInput::Parse(szBad, oSelection)) << szBad;
}

TEST_F(MediaSource, FilesReportTheirModeAsTheReceiverSeesItAndTheirToneIsWhatTheAudioDeviceReads)
{
    // Size, rate (fields/s when interlaced), interlaced, audio.
    const std::vector<std::pair<const char*, std::vector<unsigned>>> aoCases = {
        {"i1080.mkv", {1920, 1080, 50, 1, 0}},
        {"i576.mkv", {720, 576, 50, 1, 0}},
        {"p720-tone.mp4", {1280, 720, 50, 0, 1}}};
    for (const auto& roCase : aoCases)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(Clip(roCase.first).c_str())) << Status();
        const SSimulatedSignal o = CSimulatedInput::Instance().Current();
        EXPECT_TRUE(o.bPresent && Status().empty()) << roCase.first;
        EXPECT_EQ(roCase.second, (std::vector<unsigned>{o.uiWidth, o.uiHeight, o.uiRate, o.bInterlaced,
                                                         unsigned(PellixInput_HasAudio())})) << roCase.first;
    }
    // Half a second that was due until a moment ago: the 440 Hz tone, on both channels, once the
    // file has played that long.
    const unsigned uiFrames = PELLIX_INPUT_AUDIO_RATE / 2;
    std::vector<int16_t> aiFrames(uiFrames * PELLIX_INPUT_AUDIO_CHANNELS);
    const auto fnFrequency = [&aiFrames](unsigned uiChannel) {
        return ToneFrequency(aiFrames.data() + uiChannel, aiFrames.size() - uiChannel, 2, PELLIX_INPUT_AUDIO_RATE);
    };
    EXPECT_TRUE(Eventually(
        [&]()
        {
            PellixInput_ReadAudio(CAudioRing::FrameAt(MonotonicNs()) - uiFrames - PELLIX_INPUT_AUDIO_RATE / 50,
                                  aiFrames.data(), uiFrames);
            return std::abs(fnFrequency(0) - 440.0) < 6.0 && std::abs(fnFrequency(1) - 440.0) < 6.0;
        }))
        << fnFrequency(0) << " Hz, " << fnFrequency(1) << " Hz";
    // What is not due yet is silence.
    PellixInput_ReadAudio(CAudioRing::FrameAt(MonotonicNs()) + PELLIX_INPUT_AUDIO_RATE, aiFrames.data(), uiFrames);
    EXPECT_EQ(std::vector<int16_t>(aiFrames.size(), 0), aiFrames);
    // The pattern has no audio of its own: the device plays its test signal instead.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    EXPECT_EQ(0, PellixInput_HasAudio());
}

TEST_F(MediaSource, ALiveSourceReportsItsModeThenItsEndAndAMissingDeviceIsNoSignal)
{
    struct SHeard
    {
        std::mutex oMutex;
        std::vector<SSimulatedSignal> aoSignals;
        size_t Size()
        {
            std::lock_guard<std::mutex> oLock(oMutex);
            return aoSignals.size();
        }
    } oHeard;
    CSimulatedInput::Instance().AddListener(&oHeard, [](void* pv, const SSimulatedSignal& ro) {
        std::lock_guard<std::mutex> oLock(static_cast<SHeard*>(pv)->oMutex);
        static_cast<SHeard*>(pv)->aoSignals.push_back(ro);
    });
    // 40 pictures at 50/s: the source ends 0.8 s after it started.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("gst:videotestsrc is-live=true num-buffers=40 ! "
                                                          "video/x-raw,width=1280,height=720,framerate=50/1"))
        << Status();
    EXPECT_TRUE(Eventually([&oHeard] { return oHeard.Size() >= 2; }));
    CSimulatedInput::Instance().RemoveListener(&oHeard);
    ASSERT_EQ(2u, oHeard.aoSignals.size());
    EXPECT_TRUE(oHeard.aoSignals[0].bPresent && oHeard.aoSignals[0].uiWidth == 1280 &&
                oHeard.aoSignals[0].uiRate == 50);
    EXPECT_TRUE(!oHeard.aoSignals[1].bPresent && !CSimulatedInput::Instance().Current().bPresent &&
                Status() == "ended");
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("v4l2:/dev/pellix-no-such-video"));
    EXPECT_FALSE(CSimulatedInput::Instance().Current().bPresent);
    EXPECT_NE(std::string::npos, Status().find("Cannot identify device '/dev/pellix-no-such-video'")) << Status();
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
