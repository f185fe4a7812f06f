// End to end: the audio stream, with and without video, decoded by real clients on loopback.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AudioTestSupport.h"
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
    EXPECT_GE(oDecoded.uiFrames, 2u * 48000);
    EXPECT_NEAR(997.0, oDecoded.aoChannel[0].dFrequency, 1.0);
    EXPECT_NEAR(16384.0, oDecoded.aoChannel[0].dAmplitude, 16384.0 * 0.03);
    EXPECT_NEAR(1499.0, oDecoded.aoChannel[1].dFrequency, 1.0);
    EXPECT_NEAR(8192.0, oDecoded.aoChannel[1].dAmplitude, 8192.0 * 0.03);
}
