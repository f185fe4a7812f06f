// CDSPAudioEncoder on the platform's AAC encoder: the parameters it sends, in their order, the
// buffers it provides, and each failing step.
#include <gtest/gtest.h>

#include <OMX_Audio.h>

#include "AbortRecords.h"
#include "OutputCapture.h"
#include "VideoWrapperTestSupport.h"
#include "ti-components/DSPAudioEncoder.h"

namespace
{
const char* const local_szEncoder = "OMX.TI.DSP.AUDENC";

class DSPAudioEncoderTest : public VideoWrapperTest
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(OMX_ErrorNone, m_oEncoder.Deinit());
        VideoWrapperTest::TearDown();
    }
    OMX_HANDLETYPE Handle() { return m_oEncoder.GetOMXHandle(); }

    CDSPAudioEncoder m_oEncoder;
};
} // namespace

TEST_F(DSPAudioEncoderTest, WithoutParametersItAsksForStereo48kHz192kbpsAacLcAndOneBufferEach)
{
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    SetInfoMessageLevel(2);
    COutputCapture oLog(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.SetParameters());
    const std::string oText = oLog.Finish();

    const auto oPcm = ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(Handle(), OMX_IndexParamAudioPcm, 0);
    EXPECT_EQ(2u, oPcm.nChannels);
    EXPECT_EQ(48000u, oPcm.nSamplingRate);
    EXPECT_EQ(OMX_NumericalDataSigned, oPcm.eNumData);
    EXPECT_EQ(OMX_EndianLittle, oPcm.eEndian);
    EXPECT_EQ(OMX_TRUE, oPcm.bInterleaved);
    EXPECT_EQ(OMX_AUDIO_PCMModeLinear, oPcm.ePCMMode);
    EXPECT_EQ(16u, oPcm.nBitPerSample);  // as the component reported it
    const auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(Handle(), OMX_IndexParamAudioAac, 1);
    EXPECT_EQ(2u, oAac.nChannels);
    EXPECT_EQ(48000u, oAac.nSampleRate);
    EXPECT_EQ(192000u, oAac.nBitRate);
    EXPECT_EQ(1024u, oAac.nFrameLength);
    EXPECT_EQ(OMX_AUDIO_AACObjectLC, oAac.eAACProfile);
    EXPECT_EQ(OMX_AUDIO_AACStreamFormatMP4ADTS, oAac.eAACStreamFormat);
    EXPECT_EQ(static_cast<OMX_U32>(OMX_AUDIO_AACToolAll), oAac.nAACtools);  // untouched
    for (OMX_U32 nPort : {0u, 1u})
    {
        const auto oDefinition = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(Handle(), OMX_IndexParamPortDefinition, nPort);
        EXPECT_EQ(1u, oDefinition.nBufferCountActual);
        EXPECT_EQ(nPort == 0 ? OMX_AUDIO_CodingPCM : OMX_AUDIO_CodingAAC, oDefinition.format.audio.eEncoding);
    }
    // The sizes are the component's, not the initial 4096 and 4608.
    EXPECT_EQ(4096u, m_oEncoder.GetInputBufferSize());
    EXPECT_EQ(1543u, m_oEncoder.GetOutputBufferSize());
    EXPECT_NE(std::string::npos, oText.find("DSPAudioEncoder provide output buffers: size = 1543, buffer count: 1\n"))
        << oText;
}

TEST_F(DSPAudioEncoderTest, SetAudioEncoderParamsTakesEffectAtTheNextConfiguration)
{
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    EXPECT_EQ(OMX_ErrorNone, m_oEncoder.SetAudioEncoderParams(SampleRate_44100Hz, 128000, 1, 2, 3, 4096, 4608));
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.SetParameters());
    EXPECT_EQ(1u, ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(Handle(), OMX_IndexParamAudioPcm, 0).nChannels);
    const auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(Handle(), OMX_IndexParamAudioAac, 1);
    EXPECT_EQ(44100u, oAac.nSampleRate);
    EXPECT_EQ(128000u, oAac.nBitRate);
    EXPECT_EQ(1u, oAac.nChannels);
    EXPECT_EQ(2u, ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(Handle(), OMX_IndexParamPortDefinition, 0).nBufferCountActual);
    EXPECT_EQ(3u, ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(Handle(), OMX_IndexParamPortDefinition, 1).nBufferCountActual);
}

TEST_F(DSPAudioEncoderTest, RefusedAacParametersLeaveWhatCameBeforeAndFailExecute)
{
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    m_oEncoder.SetAudioEncoderParams(SampleRate_48000Hz, 192000, 1, 1, 1, 4096, 4608);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, local_szEncoder,
                                                    OMX_IndexParamAudioAac, 1, OMX_ErrorBadParameter));
    std::string oOther;
    const std::vector<SAbortRecord> aoAborts =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorBadParameter, m_oEncoder.Execute(0)); }, oOther);
    ASSERT_EQ(2u, aoAborts.size()) << oOther;
    EXPECT_EQ("framework/ti-components/DSPAudioEncoder/SetParameters/OMX_ErrorBadParameter", aoAborts[0].Key());
    EXPECT_EQ("framework/base-components/OMXClassComponent/Execute/OMX_ErrorBadParameter", aoAborts[1].Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoAborts[0], PELLIX_SOURCE_DIR));
    EXPECT_EQ(1u, ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(Handle(), OMX_IndexParamAudioPcm, 0).nChannels);
    EXPECT_EQ(2u, ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(Handle(), OMX_IndexParamAudioAac, 1).nChannels);
    EXPECT_EQ(OMX_StateLoaded, PlatformState(Handle()));
}

TEST_F(DSPAudioEncoderTest, EachFailingStepStopsTheConfiguration)
{
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    // A refused port definition: nothing after it is set.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetParameter, local_szEncoder,
                                                    OMX_IndexParamPortDefinition, 1, OMX_ErrorUndefined));
    m_oEncoder.SetAudioEncoderParams(SampleRate_32000Hz, 192000, 1, 1, 1, 4096, 4608);
    std::string oOther;
    std::vector<SAbortRecord> aoAborts =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorUndefined, m_oEncoder.SetParameters()); }, oOther);
    ASSERT_EQ(2u, aoAborts.size());
    EXPECT_EQ("SetPortDefinition", aoAborts[0].oFunction);
    EXPECT_EQ("SetParameters", aoAborts[1].oFunction);
    EXPECT_EQ(48000u, ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(Handle(), OMX_IndexParamAudioPcm, 0).nSamplingRate);
    // The port count refused.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, local_szEncoder,
                                                    OMX_IndexParamAudioInit, 1, OMX_ErrorBadParameter));
    aoAborts = CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorBadParameter, m_oEncoder.SetParameters()); }, oOther);
    ASSERT_EQ(1u, aoAborts.size());
    EXPECT_EQ("SetParameters", aoAborts[0].oFunction);
}

TEST_F(DSPAudioEncoderTest, InitFailsWhenAPortCannotBeEnabledAndDeinitReleasesAll)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, local_szEncoder, OMX_CommandPortEnable,
                                                    1, OMX_ErrorHardware));
    std::string oOther;
    const std::vector<SAbortRecord> aoAborts =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorHardware, m_oEncoder.Init()); }, oOther);
    ASSERT_GE(aoAborts.size(), 3u);
    EXPECT_EQ("EnablePort", aoAborts[0].oFunction);
    EXPECT_EQ("CreatePorts", aoAborts[1].oFunction);
    EXPECT_EQ("Init", aoAborts.back().oFunction);
    EXPECT_EQ(1u, PellixPlatform_LiveHandleCount());
}
