// The AAC encoder device component ("OMX.TI.DSP.AUDENC") through the OpenMAX IL core: its ports
// and settings, the frames it codes (checked by decoding them with ffmpeg), raw and ADTS framing,
// and how it holds its input back while its output is held.
#include <gtest/gtest.h>

#include <OMX_Audio.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "AudioSignalCheck.h"
#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "TempDir.h"

namespace
{
const char* const local_szEncoder = "OMX.TI.DSP.AUDENC";

class AacEncoderTest : public CEngineTest
{
protected:
    OMX_AUDIO_PARAM_PCMMODETYPE Pcm()
    {
        OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
        InitStruct(oPcm, 0);
        EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(m_oClient.Handle(), OMX_IndexParamAudioPcm, &oPcm));
        return oPcm;
    }
    OMX_AUDIO_PARAM_AACPROFILETYPE Aac()
    {
        OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
        InitStruct(oAac, 1);
        EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(m_oClient.Handle(), OMX_IndexParamAudioAac, &oAac));
        return oAac;
    }
    template <typename TStruct>
    OMX_ERRORTYPE Set(OMX_INDEXTYPE eIndex, TStruct oStruct)
    {
        return OMX_SetParameter(m_oClient.Handle(), eIndex, &oStruct);
    }
    // Rate, channels and framing on both ports, then Executing with nInputs and nOutputs buffers.
    void Start(OMX_U32 nRate, OMX_U32 nChannels, OMX_AUDIO_AACSTREAMFORMATTYPE eFormat, OMX_U32 nInputs, OMX_U32 nOutputs)
    {
        OMX_AUDIO_PARAM_PCMMODETYPE oPcm = Pcm();
        oPcm.nSamplingRate = nRate;
        oPcm.nChannels = nChannels;
        ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamAudioPcm, oPcm));
        OMX_AUDIO_PARAM_AACPROFILETYPE oAac = Aac();
        oAac.nSampleRate = nRate;
        oAac.nChannels = nChannels;
        oAac.nBitRate = 96000 * nChannels;
        oAac.eAACStreamFormat = eFormat;
        ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamAudioAac, oAac));
        ASSERT_TRUE(Ok(m_oClient.SetBufferCount(0, nInputs)) && Ok(m_oClient.SetBufferCount(1, nOutputs)));
        ASSERT_TRUE(m_oClient.GoToExecuting());
    }

    COmxTestClient m_oClient{local_szEncoder};
};

// Decodes an ADTS stream with ffmpeg into interleaved 16-bit samples.
std::vector<int16_t> DecodeAdts(const std::string& roStream, unsigned uiChannels)
{
    CTempDir oDir;
    const std::string oCommand = "ffmpeg -nostdin -v error -f aac -i " + oDir.Write("stream.aac", roStream).string() +
                                 " -f s16le -acodec pcm_s16le -ac " + std::to_string(uiChannels) + " - 2>" +
                                 oDir.Path().string() + "/errors";
    std::string oPcm;
    if (FILE* poPipe = popen(oCommand.c_str(), "r"))
    {
        char acBuffer[65536];
        for (size_t uiRead; (uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0;)
            oPcm.append(acBuffer, uiRead);
        EXPECT_EQ(0, pclose(poPipe));
    }
    EXPECT_EQ("", oDir.Read("errors"));
    return PcmSamples(oPcm);
}
} // namespace

TEST_F(AacEncoderTest, PortsSettingsAndTheirChecks)
{
    OMX_PORT_PARAM_TYPE oPorts;
    InitStruct(oPorts);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(m_oClient.Handle(), OMX_IndexParamAudioInit, &oPorts));
    EXPECT_TRUE(oPorts.nPorts == 2 && oPorts.nStartPortNumber == 0);
    const OMX_PARAM_PORTDEFINITIONTYPE oIn = m_oClient.PortDefinition(0);
    const OMX_PARAM_PORTDEFINITIONTYPE oOut = m_oClient.PortDefinition(1);
    EXPECT_TRUE(oIn.eDir == OMX_DirInput && oIn.format.audio.eEncoding == OMX_AUDIO_CodingPCM && oIn.nBufferSize == 4096);
    EXPECT_TRUE(oOut.eDir == OMX_DirOutput && oOut.format.audio.eEncoding == OMX_AUDIO_CodingAAC);
    // The largest AAC frame of two channels and its ADTS header, not the 4608 a client may expect.
    EXPECT_EQ(2u * 768 + 7, oOut.nBufferSize);
    const OMX_AUDIO_PARAM_AACPROFILETYPE oAac = Aac();
    EXPECT_TRUE(oAac.eAACProfile == OMX_AUDIO_AACObjectLC && oAac.eAACStreamFormat == OMX_AUDIO_AACStreamFormatMP4ADTS &&
                oAac.nFrameLength == 1024);
    EXPECT_TRUE(Pcm().nBitPerSample == 16 && Pcm().bInterleaved == OMX_TRUE);

    // What the component cannot honour.
    const std::vector<void (*)(OMX_AUDIO_PARAM_AACPROFILETYPE&)> afnRefused = {
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACProfile = OMX_AUDIO_AACObjectHE; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nFrameLength = 960; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4LATM; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nChannels = 3; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nSampleRate = 47999; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 1000; },
        [](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 700000; },
    };
    for (size_t ui = 0; ui < afnRefused.size(); ++ui)
    {
        OMX_AUDIO_PARAM_AACPROFILETYPE oBad = oAac;
        afnRefused[ui](oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamAudioAac, oBad)) << ui;
    }
    OMX_AUDIO_PARAM_PCMMODETYPE oPcm = Pcm();
    oPcm.nBitPerSample = 24;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamAudioPcm, oPcm));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oOut;
    oDefinition.format.audio.eEncoding = OMX_AUDIO_CodingMP3;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamPortDefinition, oDefinition));
    // A definition's buffer size is the component's.
    oDefinition = oOut;
    oDefinition.nBufferSize = 9999;
    EXPECT_EQ(OMX_ErrorNone, Set(OMX_IndexParamPortDefinition, oDefinition));
    EXPECT_EQ(oOut.nBufferSize, m_oClient.PortDefinition(1).nBufferSize);

    // Input and output that disagree on the rate: the move to Idle is refused.
    oPcm = Pcm();
    oPcm.nSamplingRate = 44100;
    ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamAudioPcm, oPcm));
    ASSERT_EQ(OMX_ErrorNone, m_oClient.SendState(OMX_StateIdle));
    ASSERT_TRUE(Ok(m_oClient.AllocateBuffers(0, 1)) && Ok(m_oClient.AllocateBuffers(1, 1)));
    EXPECT_TRUE(m_oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorUnsupportedSetting), 0));
    EXPECT_EQ(OMX_StateLoaded, m_oClient.State());
    EXPECT_TRUE(Ok(m_oClient.FreeBuffers(0)) && Ok(m_oClient.FreeBuffers(1)));
}

TEST_F(AacEncoderTest, FramesDecodeToTheSignalAndRawFramesAreTheAdtsOnesWithoutHeader)
{
    const struct
    {
        unsigned uiRate, uiChannels, uiFramesPerBuffer;
        OMX_AUDIO_AACSTREAMFORMATTYPE eFormat;
    } aoCases[] = {{48000, 2, 1024, OMX_AUDIO_AACStreamFormatMP4ADTS},
                   {48000, 2, 1024, OMX_AUDIO_AACStreamFormatRAW},
                   {44100, 1, 2048, OMX_AUDIO_AACStreamFormatMP4ADTS}};  // two frames per buffer
    const unsigned uiBuffers = 40;
    std::vector<std::string> aaoFrames[3];
    for (size_t uiCase = 0; uiCase < 3; ++uiCase)
    {
        const auto& roCase = aoCases[uiCase];
        SCOPED_TRACE(uiCase);
        std::mutex oMutex;
        std::vector<OMX_TICKS> aiStamps;
        m_oClient.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
            if (poHeader->nFilledLen == 0)  // given back unfilled on the way down: the client's
                return;
            {
                std::lock_guard<std::mutex> oLock(oMutex);
                aaoFrames[uiCase].emplace_back(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset),
                                               poHeader->nFilledLen);
                aiStamps.push_back(poHeader->nFlags == OMX_BUFFERFLAG_ENDOFFRAME ? poHeader->nTimeStamp : -1);
            }
            OMX_FillThisBuffer(m_oClient.Handle(), poHeader);
        });
        Start(roCase.uiRate, roCase.uiChannels, roCase.eFormat, 2, 2);
        ASSERT_EQ(OMX_ErrorNone, m_oClient.SubmitAll(1, false));
        // The input buffers are used in turn, each filled again with the signal once it is back.
        const std::vector<OMX_BUFFERHEADERTYPE*> apoInputs = m_oClient.Buffers(0);
        const unsigned uiReturned = m_oClient.ReturnedCount(0);
        for (unsigned uiBuffer = 0; uiBuffer < uiBuffers; ++uiBuffer)
        {
            ASSERT_TRUE(uiBuffer < 2 || m_oClient.WaitReturned(0, uiReturned + uiBuffer - 1));
            OMX_BUFFERHEADERTYPE* poInput = apoInputs[uiBuffer % 2];
            auto* piSamples = reinterpret_cast<int16_t*>(poInput->pBuffer);
            for (unsigned i = 0; i < roCase.uiFramesPerBuffer; ++i)
                for (unsigned c = 0; c < roCase.uiChannels; ++c)
                    piSamples[i * roCase.uiChannels + c] =
                        PellixSignalSample(c, uiBuffer * roCase.uiFramesPerBuffer + i, roCase.uiRate);
            poInput->nOffset = 0;
            poInput->nFilledLen = roCase.uiFramesPerBuffer * roCase.uiChannels * 2;
            ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_oClient.Handle(), poInput));
        }
        ASSERT_TRUE(m_oClient.WaitReturned(0, uiReturned + uiBuffers));
        std::this_thread::sleep_for(g_oQuietPeriod);
        // Settings are for Loaded only.
        EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(OMX_IndexParamAudioAac, Aac()));
        ASSERT_TRUE(m_oClient.GoToLoaded());
        m_oClient.OnFillDone(nullptr);

        // One frame per 1024 input frames, the first one a frame late, each stamped with the time
        // of its first sample (the first frame's time counts the encoder's priming, one frame
        // before the input).
        const unsigned uiFrames = uiBuffers * roCase.uiFramesPerBuffer / 1024 - 1;
        ASSERT_EQ(uiFrames, aaoFrames[uiCase].size());
        std::string oStream;
        for (size_t i = 0; i < uiFrames; ++i)
        {
            const std::string& roFrame = aaoFrames[uiCase][i];
            EXPECT_EQ((OMX_TICKS(i) - 1) * 1024 * 1000000 / roCase.uiRate, aiStamps[i]) << "frame " << i;
            if (roCase.eFormat == OMX_AUDIO_AACStreamFormatRAW)
            {
                EXPECT_EQ(aaoFrames[0][i].substr(7), roFrame) << "frame " << i;
                continue;
            }
            ASSERT_GT(roFrame.size(), 7u);
            const auto* pucFrame = reinterpret_cast<const unsigned char*>(roFrame.data());
            EXPECT_TRUE(pucFrame[0] == 0xFF && pucFrame[1] == 0xF1);  // MPEG-4, no CRC
            EXPECT_EQ(roFrame.size(), ((pucFrame[3] & 0x03u) << 11) | (unsigned(pucFrame[4]) << 3) | (pucFrame[5] >> 5));
            oStream += roFrame;
        }
        if (roCase.eFormat == OMX_AUDIO_AACStreamFormatRAW)
            continue;
        const std::vector<int16_t> aiDecoded = DecodeAdts(oStream, roCase.uiChannels);
        ASSERT_GE(aiDecoded.size() / roCase.uiChannels, (uiFrames - 1) * 1024u);
        for (unsigned c = 0; c < roCase.uiChannels; ++c)
        {
            const SToneMeasure oTone = MeasureTone(aiDecoded, roCase.uiChannels, c, roCase.uiRate, 4096);
            EXPECT_NEAR(c == 0 ? 997.0 : 1499.0, oTone.dFrequency, 1.0) << "channel " << c;
            EXPECT_NEAR(c == 0 ? 16384.0 : 8192.0, oTone.dAmplitude, (c == 0 ? 16384.0 : 8192.0) * 0.03) << "channel " << c;
        }
    }
    EXPECT_EQ(3u * uiBuffers, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesConsumed));
}

TEST_F(AacEncoderTest, HeldOutputHoldsTheInputBack)
{
    Start(48000, 2, OMX_AUDIO_AACStreamFormatMP4ADTS, 6, 1);
    ASSERT_EQ(OMX_ErrorNone, m_oClient.SubmitAll(1, false));
    for (OMX_BUFFERHEADERTYPE* poInput : m_oClient.Buffers(0))
    {
        poInput->nFilledLen = 4096;
        poInput->nOffset = 0;
        ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_oClient.Handle(), poInput));
    }
    // The first frame is coded without output, the second fills the one output buffer, the third
    // waits for it; the other inputs stay.
    EXPECT_TRUE(m_oClient.WaitReturned(1, 1) && m_oClient.WaitReturned(0, 3));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_TRUE(m_oClient.ReturnedCount(0) == 3 && m_oClient.ReturnedCount(1) == 1);
    // The output coming back lets the coding go on.
    ASSERT_EQ(OMX_ErrorNone, m_oClient.SubmitAll(1, false));
    EXPECT_TRUE(m_oClient.WaitReturned(0, 4) && m_oClient.WaitReturned(1, 2));
    EXPECT_TRUE(m_oClient.GoToLoaded());
}
