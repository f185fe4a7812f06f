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

TEST_F(AudioEndToEnd, Probe)
{
    SAudioServingGraph oGraph(true);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    const SRunResult oResult = RunCommand("ffprobe -v error -rtsp_transport tcp -show_streams " + oGraph.Url(), 60);
    fprintf(stderr, "probe rc %d err %s\n", oResult.iExitCode, oResult.oErr.c_str());
    SDecodedAudio oDecoded = DecodeAudioWithFfmpeg(oGraph.Url(), 2);
    fprintf(stderr, "rc %d err %s frames %zu L %f %f R %f %f\n", oDecoded.oRun.iExitCode, oDecoded.oRun.oErr.c_str(), oDecoded.uiFrames,
           oDecoded.aoChannel[0].dFrequency, oDecoded.aoChannel[0].dAmplitude, oDecoded.aoChannel[1].dFrequency,
           oDecoded.aoChannel[1].dAmplitude);
}
