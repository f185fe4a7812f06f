// The AAC encoder device component ("OMX.TI.DSP.AUDENC") through the OpenMAX IL core: its ports
// and settings, the frames it codes (checked by decoding them with ffmpeg), raw and ADTS framing,
// and how it holds its input back while its output is held.
#include <gtest/gtest.h>

#include <OMX_Audio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "AudioSignalCheck.h"
#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "TempDir.h"

namespace
{
const char* const local_szEncoder = "OMX.TI.DSP.AUDENC";
const OMX_U32 local_nPcmPort = 0;
const OMX_U32 local_nAacPort = 1;

class AacEncoderTest : public CEngineTest
{
protected:
    OMX_AUDIO_PARAM_PCMMODETYPE GetPcm(COmxTestClient& roClient)
    {
        OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
        InitStruct(oPcm, local_nPcmPort);
        EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(roClient.Handle(), OMX_IndexParamAudioPcm, &oPcm));
        return oPcm;
    }
    OMX_AUDIO_PARAM_AACPROFILETYPE GetAac(COmxTestClient& roClient)
    {
        OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
        InitStruct(oAac, local_nAacPort);
        EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(roClient.Handle(), OMX_IndexParamAudioAac, &oAac));
        return oAac;
    }
    // Sets rate, channels and framing on both ports, then brings the component to Executing with
    // uiInputs input buffers and uiOutputs output buffers.
    void Start(COmxTestClient& roClient, OMX_U32 nRate, OMX_U32 nChannels, OMX_AUDIO_AACSTREAMFORMATTYPE eFormat,
               OMX_U32 nInputs, OMX_U32 nOutputs)
    {
        OMX_AUDIO_PARAM_PCMMODETYPE oPcm = GetPcm(roClient);
        oPcm.nSamplingRate = nRate;
        oPcm.nChannels = nChannels;
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(roClient.Handle(), OMX_IndexParamAudioPcm, &oPcm));
        OMX_AUDIO_PARAM_AACPROFILETYPE oAac = GetAac(roClient);
        oAac.nSampleRate = nRate;
        oAac.nChannels = nChannels;
        oAac.nBitRate = 96000 * nChannels;
        oAac.eAACStreamFormat = eFormat;
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(roClient.Handle(), OMX_IndexParamAudioAac, &oAac));
        ASSERT_EQ(OMX_ErrorNone, roClient.SetBufferCount(local_nPcmPort, nInputs));
        ASSERT_EQ(OMX_ErrorNone, roClient.SetBufferCount(local_nAacPort, nOutputs));
        ASSERT_EQ(OMX_ErrorNone, roClient.SendState(OMX_StateIdle));
        ASSERT_EQ(OMX_ErrorNone, roClient.AllocateBuffers(local_nPcmPort, nInputs));
        ASSERT_EQ(OMX_ErrorNone, roClient.AllocateBuffers(local_nAacPort, nOutputs));
        ASSERT_TRUE(roClient.WaitState(OMX_StateIdle));
        ASSERT_TRUE(roClient.GoTo(OMX_StateExecuting));
    }
};

// What the output port gave back, in order.
struct SOutput
{
    std::string oData;
    OMX_TICKS nTimeStamp;
    OMX_U32 nFlags;
};

// Keeps every frame the output port gives back and hands the buffer straight back to be filled
// again. It serves its client until the component is back in Loaded.
class COutputCollector
{
public:
    explicit COutputCollector(COmxTestClient& roClient)
    {
        roClient.OnFillDone([this, &roClient](OMX_BUFFERHEADERTYPE* poHeader) {
            // Buffers given back unfilled on the way down stay with the client.
            if (poHeader->nFilledLen == 0)
                return;
            {
                std::lock_guard<std::mutex> oLock(m_oMutex);
                m_aoOutputs.push_back(SOutput{std::string(reinterpret_cast<const char*>(poHeader->pBuffer +
                                                                                         poHeader->nOffset),
                                                          poHeader->nFilledLen),
                                              poHeader->nTimeStamp, poHeader->nFlags});
            }
            OMX_FillThisBuffer(roClient.Handle(), poHeader);
        });
    }
    std::vector<SOutput> Outputs()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoOutputs;
    }

private:
    std::mutex m_oMutex;
    std::vector<SOutput> m_aoOutputs;
};

// Feeds uiBuffers buffers of the test signal (uiFramesPerBuffer frames each) through the encoder,
// whose output buffers a collector hands back, and waits until the last input buffer is back.
void EncodeSignal(COmxTestClient& roClient, unsigned uiRate, unsigned uiChannels, unsigned uiFramesPerBuffer,
                  unsigned uiBuffers)
{
    EXPECT_EQ(OMX_ErrorNone, roClient.SubmitAll(local_nAacPort, false));
    const std::vector<OMX_BUFFERHEADERTYPE*> apoInputs = roClient.Buffers(local_nPcmPort);
    uint64_t uiIndex = 0;
    for (unsigned uiBuffer = 0; uiBuffer < uiBuffers; ++uiBuffer)
    {
        // The input buffers are used in turn; each is filled again once it is back.
        OMX_BUFFERHEADERTYPE* poInput = apoInputs[uiBuffer % apoInputs.size()];
        if (uiBuffer >= apoInputs.size())
        {
            EXPECT_TRUE(roClient.WaitReturned(local_nPcmPort, uiBuffer - static_cast<unsigned>(apoInputs.size()) + 1));
        }
        auto* piSamples = reinterpret_cast<int16_t*>(poInput->pBuffer);
        for (unsigned i = 0; i < uiFramesPerBuffer; ++i, ++uiIndex)
            for (unsigned c = 0; c < uiChannels; ++c)
                piSamples[i * uiChannels + c] = PellixSignalSample(c, uiIndex, uiRate);
        poInput->nOffset = 0;
        poInput->nFilledLen = uiFramesPerBuffer * uiChannels * 2;
        EXPECT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(roClient.Handle(), poInput));
    }
    EXPECT_TRUE(roClient.WaitReturned(local_nPcmPort, uiBuffers));
    std::this_thread::sleep_for(g_oQuietPeriod);
}

// Decodes an ADTS stream with ffmpeg into interleaved 16-bit samples.
std::vector<int16_t> DecodeAdts(const std::string& roStream, unsigned uiChannels)
{
    CTempDir oDir;
    const std::string oPath = oDir.Write("stream.aac", roStream).string();
    const std::string oCommand = "ffmpeg -nostdin -v error -f aac -i " + oPath + " -f s16le -acodec pcm_s16le -ac " +
                                 std::to_string(uiChannels) + " - 2>" + oDir.Path().string() + "/errors";
    std::string oPcm;
    if (FILE* poPipe = popen(oCommand.c_str(), "r"))
    {
        char acBuffer[65536];
        size_t uiRead = 0;
        while ((uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0)
            oPcm.append(acBuffer, uiRead);
        EXPECT_EQ(0, pclose(poPipe));
    }
    EXPECT_EQ("", oDir.Read("errors"));
    return PcmSamples(oPcm);
}

unsigned AdtsFrameLength(const std::string& roFrame)
{
    const auto* pbyData = reinterpret_cast<const unsigned char*>(roFrame.data());
    return ((pbyData[3] & 0x03u) << 11) | (static_cast<unsigned>(pbyData[4]) << 3) | (pbyData[5] >> 5);
}
} // namespace

TEST_F(AacEncoderTest, PortsSettingsAndTheirChecks)
{
    COmxTestClient oClient(local_szEncoder);
    ASSERT_EQ(OMX_ErrorNone, oClient.GetHandleResult());

    OMX_PORT_PARAM_TYPE oPorts;
    memset(&oPorts, 0, sizeof(oPorts));
    oPorts.nSize = sizeof(oPorts);
    oPorts.nVersion.s.nVersionMajor = 1;
    oPorts.nVersion.s.nVersionMinor = 1;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oClient.Handle(), OMX_IndexParamAudioInit, &oPorts));
    EXPECT_EQ(2u, oPorts.nPorts);
    EXPECT_EQ(0u, oPorts.nStartPortNumber);
    const OMX_PARAM_PORTDEFINITIONTYPE oIn = oClient.PortDefinition(local_nPcmPort);
    const OMX_PARAM_PORTDEFINITIONTYPE oOut = oClient.PortDefinition(local_nAacPort);
    EXPECT_EQ(OMX_DirInput, oIn.eDir);
    EXPECT_EQ(OMX_AUDIO_CodingPCM, oIn.format.audio.eEncoding);
    EXPECT_EQ(4096u, oIn.nBufferSize);
    EXPECT_EQ(OMX_DirOutput, oOut.eDir);
    EXPECT_EQ(OMX_AUDIO_CodingAAC, oOut.format.audio.eEncoding);
    // The largest AAC frame of two channels and its ADTS header, which is not the 4608 a client
    // may expect.
    EXPECT_EQ(2u * 768 + 7, oOut.nBufferSize);

    OMX_AUDIO_PARAM_AACPROFILETYPE oAac = GetAac(oClient);
    EXPECT_EQ(OMX_AUDIO_AACObjectLC, oAac.eAACProfile);
    EXPECT_EQ(OMX_AUDIO_AACStreamFormatMP4ADTS, oAac.eAACStreamFormat);
    EXPECT_EQ(1024u, oAac.nFrameLength);
    const OMX_AUDIO_PARAM_PCMMODETYPE oPcm = GetPcm(oClient);
    EXPECT_EQ(16u, oPcm.nBitPerSample);
    EXPECT_EQ(OMX_TRUE, oPcm.bInterleaved);

    // What the component cannot honour.
    const auto fnRefusedAac = [&](void (*fnChange)(OMX_AUDIO_PARAM_AACPROFILETYPE&)) {
        OMX_AUDIO_PARAM_AACPROFILETYPE oBad = GetAac(oClient);
        fnChange(oBad);
        return OMX_SetParameter(oClient.Handle(), OMX_IndexParamAudioAac, &oBad);
    };
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACProfile = OMX_AUDIO_AACObjectHE; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nFrameLength = 960; }));
    EXPECT_EQ(OMX_ErrorBadParameter,
              fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4LATM; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nChannels = 3; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nSampleRate = 47999; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 1000; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnRefusedAac([](OMX_AUDIO_PARAM_AACPROFILETYPE& ro) { ro.nBitRate = 700000; }));
    OMX_AUDIO_PARAM_PCMMODETYPE oBadPcm = GetPcm(oClient);
    oBadPcm.nBitPerSample = 24;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(oClient.Handle(), OMX_IndexParamAudioPcm, &oBadPcm));
    OMX_PARAM_PORTDEFINITIONTYPE oBadDefinition = oClient.PortDefinition(local_nAacPort);
    oBadDefinition.format.audio.eEncoding = OMX_AUDIO_CodingMP3;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(oClient.Handle(), OMX_IndexParamPortDefinition, &oBadDefinition));
    // A definition's buffer size is the component's.
    OMX_PARAM_PORTDEFINITIONTYPE oBigger = oClient.PortDefinition(local_nAacPort);
    oBigger.nBufferSize = 9999;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(oClient.Handle(), OMX_IndexParamPortDefinition, &oBigger));
    EXPECT_EQ(oOut.nBufferSize, oClient.PortDefinition(local_nAacPort).nBufferSize);

    // Input and output that disagree on the rate: the move to Idle is refused.
    OMX_AUDIO_PARAM_PCMMODETYPE oOtherRate = GetPcm(oClient);
    oOtherRate.nSamplingRate = 44100;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(oClient.Handle(), OMX_IndexParamAudioPcm, &oOtherRate));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(local_nPcmPort, 1));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(local_nAacPort, 1));
    EXPECT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorUnsupportedSetting), 0));
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeBuffers(local_nPcmPort));
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeBuffers(local_nAacPort));
}

TEST_F(AacEncoderTest, AdtsFramesDecodeToTheSignalAndRawFramesAreTheSameWithoutHeader)
{
    const unsigned uiBuffers = 100;
    std::vector<SOutput> aoFrames[2];
    const OMX_AUDIO_AACSTREAMFORMATTYPE aeFormats[2] = {OMX_AUDIO_AACStreamFormatMP4ADTS, OMX_AUDIO_AACStreamFormatRAW};
    for (unsigned uiRun = 0; uiRun < 2; ++uiRun)
    {
        COmxTestClient oClient(local_szEncoder);
        ASSERT_EQ(OMX_ErrorNone, oClient.GetHandleResult());
        COutputCollector oCollector(oClient);
        Start(oClient, 48000, 2, aeFormats[uiRun], 2, 2);
        EncodeSignal(oClient, 48000, 2, 1024, uiBuffers);
        aoFrames[uiRun] = oCollector.Outputs();
        // Settings are for Loaded only.
        OMX_AUDIO_PARAM_AACPROFILETYPE oAac = GetAac(oClient);
        EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetParameter(oClient.Handle(), OMX_IndexParamAudioAac, &oAac));
        EXPECT_TRUE(oClient.GoToLoaded());
        EXPECT_EQ(uiBuffers, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesConsumed) / (uiRun + 1));
    }

    // One frame per buffer, the first one a frame late, each stamped with the time of its first
    // sample; the first frame's time counts the encoder's priming, one frame before the input.
    const std::vector<SOutput>& roAdts = aoFrames[0];
    ASSERT_EQ(uiBuffers - 1, roAdts.size());
    std::string oStream;
    for (size_t i = 0; i < roAdts.size(); ++i)
    {
        const SOutput& roFrame = roAdts[i];
        ASSERT_GT(roFrame.oData.size(), 7u);
        EXPECT_EQ(0xFF, static_cast<unsigned char>(roFrame.oData[0]));
        EXPECT_EQ(0xF1, static_cast<unsigned char>(roFrame.oData[1]));  // MPEG-4, no CRC
        EXPECT_EQ(roFrame.oData.size(), AdtsFrameLength(roFrame.oData));
        EXPECT_EQ(static_cast<OMX_U32>(OMX_BUFFERFLAG_ENDOFFRAME), roFrame.nFlags);
        EXPECT_EQ((static_cast<OMX_TICKS>(i) - 1) * 1024 * 1000000 / 48000, roFrame.nTimeStamp) << "frame " << i;
        oStream += roFrame.oData;
    }
    const std::vector<int16_t> aiDecoded = DecodeAdts(oStream, 2);
    ASSERT_GE(aiDecoded.size() / 2, (uiBuffers - 2) * 1024u);
    for (unsigned c = 0; c < 2; ++c)
    {
        const SToneMeasure oTone = MeasureTone(aiDecoded, 2, c, 48000, 4096);
        EXPECT_NEAR(c == 0 ? 997.0 : 1499.0, oTone.dFrequency, 1.0) << "channel " << c;
        EXPECT_NEAR(c == 0 ? 16384.0 : 8192.0, oTone.dAmplitude, (c == 0 ? 16384.0 : 8192.0) * 0.03) << "channel " << c;
    }

    // The raw stream carries the same frames, without their headers.
    const std::vector<SOutput>& roRaw = aoFrames[1];
    ASSERT_EQ(roAdts.size(), roRaw.size());
    for (size_t i = 0; i < roRaw.size(); ++i)
        EXPECT_EQ(roAdts[i].oData.substr(7), roRaw[i].oData) << "frame " << i;
}

TEST_F(AacEncoderTest, MonoBuffersOfTwoFramesGiveTwoFramesEach)
{
    COmxTestClient oClient(local_szEncoder);
    ASSERT_EQ(OMX_ErrorNone, oClient.GetHandleResult());
    COutputCollector oCollector(oClient);
    Start(oClient, 44100, 1, OMX_AUDIO_AACStreamFormatMP4ADTS, 1, 1);
    EncodeSignal(oClient, 44100, 1, 2048, 20);
    const std::vector<SOutput> aoFrames = oCollector.Outputs();
    EXPECT_EQ(2u * 20 - 1, aoFrames.size());
    std::string oStream;
    for (const SOutput& roFrame : aoFrames)
        oStream += roFrame.oData;
    const std::vector<int16_t> aiDecoded = DecodeAdts(oStream, 1);
    EXPECT_NEAR(997.0, MeasureTone(aiDecoded, 1, 0, 44100, 4096).dFrequency, 1.0);
    EXPECT_TRUE(oClient.GoToLoaded());
}

TEST_F(AacEncoderTest, HeldOutputHoldsTheInputBack)
{
    COmxTestClient oClient(local_szEncoder);
    ASSERT_EQ(OMX_ErrorNone, oClient.GetHandleResult());
    Start(oClient, 48000, 2, OMX_AUDIO_AACStreamFormatMP4ADTS, 6, 1);
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(local_nAacPort, false));
    for (OMX_BUFFERHEADERTYPE* poInput : oClient.Buffers(local_nPcmPort))
    {
        poInput->nFilledLen = 4096;
        poInput->nOffset = 0;
        ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(oClient.Handle(), poInput));
    }
    // The first frame is coded without output, the second fills the one output buffer, the third
    // waits for it; the other inputs stay.
    EXPECT_TRUE(oClient.WaitReturned(local_nAacPort, 1));
    EXPECT_TRUE(oClient.WaitReturned(local_nPcmPort, 3));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(3u, oClient.ReturnedCount(local_nPcmPort));
    EXPECT_EQ(1u, oClient.ReturnedCount(local_nAacPort));
    // The output coming back lets the coding go on.
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(local_nAacPort, false));
    EXPECT_TRUE(oClient.WaitReturned(local_nPcmPort, 4));
    EXPECT_TRUE(oClient.WaitReturned(local_nAacPort, 2));
    EXPECT_TRUE(oClient.GoToLoaded());
}
