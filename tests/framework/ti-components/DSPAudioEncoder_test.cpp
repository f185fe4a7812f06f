// CDSPAudioEncoder on the platform's AAC encoder: the parameters it sends, with and without a
// record of the host's, each failing platform call, and the settings the platform refuses that the
// library never sends; and what the library never asks of the platform's component: raw frames,
// mono ADTS frames that ffmpeg decodes, and its input held back while its one output is. (The
// system's audio chain, the ALSA capture into this encoder, is decoded by real clients in the
// control API's end-to-end tests.)
#include <gtest/gtest.h>

#include <OMX_Audio.h>

#include "COmxTestClient.h"
#include "EncodedStreams.h"
#include "WrapperTestSupport.h"
#include "ti-components/DSPAudioEncoder.h"

namespace
{
typedef CWrapperTest DSPAudioEncoderTest;
const std::string local_oFile = "framework/ti-components/DSPAudioEncoder/";
} // namespace

TEST_F(DSPAudioEncoderTest, SendsStereo48kHz192kbpsAacLcOrTheRecordGivenAndFailsCleanlyAtEachPlatformCall)
{
    CDSPAudioEncoder oEncoder;
    ASSERT_EQ(OMX_ErrorNone, oEncoder.Init());
    const OMX_HANDLETYPE h = oEncoder.GetOMXHandle();
    // Channels, rate, bit rate, frame length, profile, stream format, tools (untouched); the PCM
    // side: channels, rate, bits (the component's), signed, little endian, interleaved, linear;
    // the buffer counts and codings of both ports, and their sizes (the component's, not the
    // initial 4096 and 4608: the largest AAC frame of two channels and its ADTS header).
    const auto fnSent = [&] {
        const auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(h, OMX_IndexParamAudioAac, 1);
        const auto oPcm = ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(h, OMX_IndexParamAudioPcm, 0);
        const auto oIn = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(h, OMX_IndexParamPortDefinition, 0);
        const auto oOut = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(h, OMX_IndexParamPortDefinition, 1);
        return std::vector<OMX_U32>{oAac.nChannels, oAac.nSampleRate, oAac.nBitRate, oAac.nFrameLength,
                                    oAac.eAACProfile, oAac.eAACStreamFormat, oAac.nAACtools, oPcm.nChannels,
                                    oPcm.nSamplingRate, oPcm.nBitPerSample, oPcm.eNumData, oPcm.eEndian,
                                    oPcm.bInterleaved, oPcm.ePCMMode, oIn.nBufferCountActual,
                                    oIn.format.audio.eEncoding, oOut.nBufferCountActual, oOut.format.audio.eEncoding,
                                    oEncoder.GetInputBufferSize(), oEncoder.GetOutputBufferSize()};
    };
    EXPECT_NE(std::string::npos, LogOf(2, [&] { ASSERT_EQ(OMX_ErrorNone, oEncoder.SetParameters()); })
                                     .find("DSPAudioEncoder provide output buffers: size = 1543, buffer count: 1\n"));
    const auto fnExpected = [](OMX_U32 uiChannels, OMX_U32 uiRate, OMX_U32 uiBitRate, OMX_U32 uiIn, OMX_U32 uiOut) {
        return std::vector<OMX_U32>{uiChannels, uiRate, uiBitRate, 1024, OMX_AUDIO_AACObjectLC,
                                    OMX_AUDIO_AACStreamFormatMP4ADTS, OMX_AUDIO_AACToolAll, uiChannels, uiRate, 16,
                                    OMX_NumericalDataSigned, OMX_EndianLittle, OMX_TRUE, OMX_AUDIO_PCMModeLinear, uiIn,
                                    OMX_AUDIO_CodingPCM, uiOut, OMX_AUDIO_CodingAAC, 4096, 2 * 768 + 7};
    };
    EXPECT_EQ(fnExpected(2, 48000, 192000, 1, 1), fnSent());
    // The host's record takes effect at the next configuration.
    EXPECT_EQ(OMX_ErrorNone, oEncoder.SetAudioEncoderParams(SampleRate_44100Hz, 128000, 1, 2, 3, 4096, 4608));
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetParameters());
    EXPECT_EQ(fnExpected(1, 44100, 128000, 2, 3), fnSent());
    // What the platform cannot honour; a definition's buffer size stays the component's.
    const auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(h, OMX_IndexParamAudioAac, 1);
    for (void (*fnChange)(OMX_AUDIO_PARAM_AACPROFILETYPE&) : std::vector<void (*)(OMX_AUDIO_PARAM_AACPROFILETYPE&)>{
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACProfile = OMX_AUDIO_AACObjectHE; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nFrameLength = 960; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4LATM; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nChannels = 3; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nSampleRate = 47999; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 1000; },
             [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 700000; }})
    {
        auto oBad = oAac;
        fnChange(oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(h, OMX_IndexParamAudioAac, &oBad));
    }
    auto oPcm = ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(h, OMX_IndexParamAudioPcm, 0);
    oPcm.nBitPerSample = 24;
    auto oOut = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(h, OMX_IndexParamPortDefinition, 1);
    oOut.format.audio.eEncoding = OMX_AUDIO_CodingMP3;
    EXPECT_TRUE(OMX_SetParameter(h, OMX_IndexParamAudioPcm, &oPcm) == OMX_ErrorBadParameter &&
                OMX_SetParameter(h, OMX_IndexParamPortDefinition, &oOut) == OMX_ErrorBadParameter);
    oOut.format.audio.eEncoding = OMX_AUDIO_CodingAAC;
    oOut.nBufferSize = 9999;
    EXPECT_TRUE(Ok(OMX_SetParameter(h, OMX_IndexParamPortDefinition, &oOut)) &&
                ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(h, OMX_IndexParamPortDefinition, 1).nBufferSize == 2 * 768 + 7);
    // Execute passes a refusal on, the component stays loaded.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, "OMX.TI.DSP.AUDENC",
                                                    OMX_IndexParamAudioAac, 1, OMX_ErrorBadParameter));
    EXPECT_EQ((std::vector<std::string>{local_oFile + "SetParameters/OMX_ErrorBadParameter",
                                        "framework/base-components/OMXClassComponent/Execute/OMX_ErrorBadParameter"}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorBadParameter, oEncoder.Execute(0)); }));
    EXPECT_TRUE(PlatformState(h) == OMX_StateLoaded && oEncoder.Deinit() == OMX_ErrorNone);
    // Each port's enabling (2 calls), then each call of SetParameters, the later steps skipped.
    ExpectEachCallFails<CDSPAudioEncoder>(
        2, local_oFile + "CreatePorts", [](CDSPAudioEncoder&) {},
        [](CDSPAudioEncoder& ro) { return ro.CreatePorts(); });
    ExpectEachCallFails<CDSPAudioEncoder>(
        11, local_oFile + "SetParameters", [](CDSPAudioEncoder&) {},
        [](CDSPAudioEncoder& ro) { return ro.SetParameters(); });
}

TEST_F(DSPAudioEncoderTest, ThePlatformsEncoderFramesRawOrMonoWhenAskedAndHoldsItsInputWhileItsOutputIsHeld)
{
    for (const OMX_U32 nChannels : {2u, 1u})
    {
        // Raw stereo frames at 48 kHz; ADTS mono frames at 44.1 kHz, which ffmpeg decodes.
        COmxTestClient oClient("OMX.TI.DSP.AUDENC");
        auto oAac = ReadParam<OMX_AUDIO_PARAM_AACPROFILETYPE>(oClient.Handle(), OMX_IndexParamAudioAac, 1);
        auto oPcm = ReadParam<OMX_AUDIO_PARAM_PCMMODETYPE>(oClient.Handle(), OMX_IndexParamAudioPcm, 0);
        oAac.eAACStreamFormat = nChannels == 2 ? OMX_AUDIO_AACStreamFormatRAW : OMX_AUDIO_AACStreamFormatMP4ADTS;
        oAac.nChannels = oPcm.nChannels = nChannels;
        oAac.nSampleRate = oPcm.nSamplingRate = nChannels == 2 ? 48000 : 44100;
        oAac.nBitRate = 64000;
        ASSERT_TRUE(Ok(oClient.Param(OMX_IndexParamAudioAac, oAac, true)) &&
                    Ok(oClient.Param(OMX_IndexParamAudioPcm, oPcm, true)) &&
                    Ok(oClient.SetPort(0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nBufferCountActual = 6; })) &&
                    Ok(oClient.SetPort(1, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nBufferCountActual = 1; })));
        oClient.Keep(true);
        ASSERT_TRUE(oClient.GoToExecuting() && Ok(oClient.SubmitAll(1)));
        for (OMX_BUFFERHEADERTYPE* po : oClient.Buffers(0))  // 4096 bytes of silence each
            memset(po->pBuffer, 0, po->nFilledLen = 4096);
        ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0));
        // The first frame is coded without output, the second fills the one output buffer, the
        // third waits for it (an input holds one stereo frame, two mono ones); the other inputs
        // stay. The output coming back lets the coding go on.
        const unsigned uiBack = nChannels == 2 ? 3 : 1;
        EXPECT_TRUE(oClient.WaitReturned(1, 1) && oClient.WaitReturned(0, uiBack));
        std::this_thread::sleep_for(g_oQuietPeriod);
        EXPECT_TRUE(oClient.ReturnedCount(0) == uiBack && oClient.ReturnedCount(1) == 1);
        ASSERT_EQ(OMX_ErrorNone, oClient.Submit(oClient.Buffers(1)[0]));
        EXPECT_TRUE(oClient.WaitReturned(1, 2) && oClient.GoToLoaded());
        ASSERT_GE(oClient.Kept(1).size(), 2u);
        // Raw frames carry no ADTS header (which begins with twelve set bits); an ADTS frame is
        // one buffer, of the length its header gives.
        std::string oStream;
        for (const COmxTestClient::SBuffer& ro : oClient.Kept(1))
        {
            const auto* puc = reinterpret_cast<const uint8_t*>(ro.oData.data());
            const size_t uiSize = ro.oData.size();
            EXPECT_EQ(nChannels == 1, uiSize > 7 && puc[0] == 0xFF && (puc[1] & 0xF0) == 0xF0 &&
                                          uiSize == ((puc[3] & 0x03u) << 11 | unsigned(puc[4]) << 3 | puc[5] >> 5));
            oStream += ro.oData;
        }
        // The ADTS header names 44.1 kHz (rate index 4) and one channel.
        EXPECT_TRUE(nChannels == 2 || (((uint8_t(oStream[2]) >> 2) & 0x0F) == 4 &&
                                       ((uint8_t(oStream[2]) & 0x01) << 2 | uint8_t(oStream[3]) >> 6) == 1));
        std::string oErrors;
        const std::string oPath = m_oRoot.Write("mono.aac", oStream).string();
        EXPECT_TRUE(nChannels == 2 || (!DecodeAac(oPath, 1, oErrors).empty() && oErrors.empty())) << oErrors;
    }
}
