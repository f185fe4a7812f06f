// CDSPAudioEncoder on the platform's AAC encoder: the parameters it sends, with and without a
// record of the host's, the buffers it provides, and each failing platform call.
#include <gtest/gtest.h>

#include <OMX_Audio.h>

#include "OutputCapture.h"
#include "WrapperTestSupport.h"
#include "ti-components/DSPAudioEncoder.h"

namespace
{
typedef CWrapperTest DSPAudioEncoderTest;
} // namespace

TEST_F(DSPAudioEncoderTest, SendsStereo48kHz192kbpsAacLcOrTheRecordGivenAndProvidesTheOutputBuffers)
{
    CDSPAudioEncoder oEncoder;
    ASSERT_EQ(OMX_ErrorNone, oEncoder.Init());
    const OMX_HANDLETYPE hEncoder = oEncoder.GetOMXHandle();
    // Channels, rate, bit rate, frame length, profile, stream format, tools (untouched); then
    // the PCM side: channels, rate, bits (the component's), signed, little endian, interleaved,
    // linear; then the buffer counts and codings of both ports.
    const auto fnSent = [&] {
        const auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(hEncoder, OMX_IndexParamAudioAac, 1);
        const auto oPcm = ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(hEncoder, OMX_IndexParamAudioPcm, 0);
        const auto oIn = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hEncoder, OMX_IndexParamPortDefinition, 0);
        const auto oOut = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hEncoder, OMX_IndexParamPortDefinition, 1);
        return std::vector<OMX_U32>{oAac.nChannels, oAac.nSampleRate, oAac.nBitRate, oAac.nFrameLength,
                                    oAac.eAACProfile, oAac.eAACStreamFormat, oAac.nAACtools, oPcm.nChannels,
                                    oPcm.nSamplingRate, oPcm.nBitPerSample, oPcm.eNumData, oPcm.eEndian,
                                    oPcm.bInterleaved, oPcm.ePCMMode, oIn.nBufferCountActual,
                                    oIn.format.audio.eEncoding, oOut.nBufferCountActual, oOut.format.audio.eEncoding};
    };
    SetInfoMessageLevel(2);
    COutputCapture oLog(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetParameters());
    EXPECT_NE(std::string::npos,
              oLog.Finish().find("DSPAudioEncoder provide output buffers: size = 1543, buffer count: 1\n"));
    const OMX_U32 uiAll = OMX_AUDIO_AACToolAll;
    EXPECT_EQ((std::vector<OMX_U32>{2, 48000, 192000, 1024, OMX_AUDIO_AACObjectLC, OMX_AUDIO_AACStreamFormatMP4ADTS,
                                    uiAll, 2, 48000, 16, OMX_NumericalDataSigned, OMX_EndianLittle, OMX_TRUE,
                                    OMX_AUDIO_PCMModeLinear, 1, OMX_AUDIO_CodingPCM, 1, OMX_AUDIO_CodingAAC}),
              fnSent());
    // The sizes are the component's, not the initial 4096 and 4608.
    EXPECT_EQ(4096u, oEncoder.GetInputBufferSize());
    EXPECT_EQ(1543u, oEncoder.GetOutputBufferSize());
    // The host's record takes effect at the next configuration.
    EXPECT_EQ(OMX_ErrorNone, oEncoder.SetAudioEncoderParams(SampleRate_44100Hz, 128000, 1, 2, 3, 4096, 4608));
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetParameters());
    EXPECT_EQ((std::vector<OMX_U32>{1, 44100, 128000, 1024, OMX_AUDIO_AACObjectLC, OMX_AUDIO_AACStreamFormatMP4ADTS,
                                    uiAll, 1, 44100, 16, OMX_NumericalDataSigned, OMX_EndianLittle, OMX_TRUE,
                                    OMX_AUDIO_PCMModeLinear, 2, OMX_AUDIO_CodingPCM, 3, OMX_AUDIO_CodingAAC}),
              fnSent());
    EXPECT_EQ(OMX_ErrorNone, oEncoder.Deinit());
}

TEST_F(DSPAudioEncoderTest, FailsCleanlyAtEachPlatformCall)
{
    // Each port's enabling (2 calls), then each call of SetParameters, the later steps skipped.
    const std::string oFile = "framework/ti-components/DSPAudioEncoder/";
    ExpectEachCallFails<CDSPAudioEncoder>(2, oFile + "CreatePorts", [](CDSPAudioEncoder&) {},
                                          [](CDSPAudioEncoder& ro) { return ro.CreatePorts(); });
    ExpectEachCallFails<CDSPAudioEncoder>(11, oFile + "SetParameters", [](CDSPAudioEncoder&) {},
                                          [](CDSPAudioEncoder& ro) { return ro.SetParameters(); });
    // A port that cannot be enabled fails Init; the handle stays until Deinit.
    {
        CDSPAudioEncoder oEncoder;
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, "OMX.TI.DSP.AUDENC",
                                                        OMX_CommandPortEnable, 1, OMX_ErrorHardware));
        EXPECT_EQ(oFile + "Init/OMX_ErrorHardware",
                  AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oEncoder.Init()); }).back());
        EXPECT_EQ(m_uiLiveBefore + 1, PellixPlatform_LiveHandleCount());
        EXPECT_EQ(OMX_ErrorNone, oEncoder.Deinit());
    }
    // Execute passes a refusal on, the component stays loaded.
    CDSPAudioEncoder oEncoder;
    ASSERT_EQ(OMX_ErrorNone, oEncoder.Init());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, "OMX.TI.DSP.AUDENC",
                                                    OMX_IndexParamAudioAac, 1, OMX_ErrorBadParameter));
    EXPECT_EQ((std::vector<std::string>{oFile + "SetParameters/OMX_ErrorBadParameter",
                                        "framework/base-components/OMXClassComponent/Execute/OMX_ErrorBadParameter"}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorBadParameter, oEncoder.Execute(0)); }));
    EXPECT_EQ(OMX_StateLoaded, PlatformState(oEncoder.GetOMXHandle()));
    EXPECT_EQ(OMX_ErrorNone, oEncoder.Deinit());
}
