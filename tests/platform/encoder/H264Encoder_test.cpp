// The H.264 encoder component ("OMX.TI.DUCATI.VIDENC") through the IL core: its settings and
// their checks, and what it makes of the NV12 test pattern, read back byte by byte and by real
// decoders: buffer layout and flags, picture pattern, profiles, quantiser limits, back-pressure,
// end of stream, dropped pictures.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <memory>
#include <set>

#include "CAnnexBStream.h"
#include "CNv12Pattern.h"
#include "COmxTestClient.h"
#include "CStreamProbe.h"
#include "EngineTestSupport.h"
#include "TempDir.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szEncoder = "OMX.TI.DUCATI.VIDENC";
const auto local_ePreset = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoEncoderPreset);
const auto local_eStatic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoStaticParams);
const auto local_eDynamic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVideoDynamicParams);
const OMX_U32 local_nConfig = OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME;

// What a test asks of the encoder; every field is written to the component.
struct SEncoderSetup
{
    unsigned uiWidth = 640, uiHeight = 360, uiFrameRate = 60, uiBitRate = 2000000;
    OMX_VIDEO_AVCPROFILETYPE eProfile = OMX_VIDEO_AVCProfileBaseline;
    unsigned uiKeyInterval = 30;  // nPFrames + 1
    unsigned uiBFrames = 0;
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncodingPreset = OMX_Video_Enc_High_Speed_Med_Quality;
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControlPreset = OMX_Video_RC_Low_Delay;
    unsigned uiOutputBuffers = 4;
    unsigned uiOutputBufferSize = 0;  // 0: the component's
    int iQpMin = -1;                  // else the limits of every picture type
    int iQpMax = 51;
};

struct SEncodedBuffer
{
    OMX_U32 nFlags;
    OMX_TICKS nTimeStamp;
    std::string oData;
};

class H264Encoder : public CEngineTest
{
protected:
    template <typename TStruct>
    TStruct Get(OMX_INDEXTYPE eIndex, bool bConfig = false)
    {
        TStruct oStruct;
        InitStruct(oStruct, 1);
        EXPECT_EQ(OMX_ErrorNone, bConfig ? OMX_GetConfig(m_oClient.Handle(), eIndex, &oStruct)
                                         : OMX_GetParameter(m_oClient.Handle(), eIndex, &oStruct));
        return oStruct;
    }
    template <typename TStruct>
    OMX_ERRORTYPE Set(OMX_INDEXTYPE eIndex, TStruct oStruct, bool bConfig = false)
    {
        return bConfig ? OMX_SetConfig(m_oClient.Handle(), eIndex, &oStruct)
                       : OMX_SetParameter(m_oClient.Handle(), eIndex, &oStruct);
    }
    OMX_ERRORTYPE SetLimits(int iMin, int iMax)
    {
        auto oDynamic = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true);
        IH264ENC_RateControlParams& roRate = oDynamic.videoDynamicParams.rateControlParams;
        roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        roRate.qpMinI = roRate.qpMinP = roRate.qpMinB = static_cast<OMX_S8>(iMin);
        roRate.qpMaxI = roRate.qpMaxP = roRate.qpMaxB = static_cast<OMX_S8>(iMax);
        return Set(local_eDynamic, oDynamic, true);
    }

    // Ports, preset, AVC parameters and limits while loaded.
    void Configure(const SEncoderSetup& roSetup)
    {
        m_oSetup = roSetup;
        OMX_PARAM_PORTDEFINITIONTYPE oPort = m_oClient.PortDefinition(0);
        oPort.format.video.nFrameWidth = roSetup.uiWidth;
        oPort.format.video.nFrameHeight = roSetup.uiHeight;
        oPort.format.video.nStride = static_cast<OMX_S32>(roSetup.uiWidth);
        oPort.format.video.xFramerate = roSetup.uiFrameRate << 16;
        ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamPortDefinition, oPort));
        m_poPattern.reset(new CNv12Pattern(roSetup.uiWidth, roSetup.uiHeight));
        oPort = m_oClient.PortDefinition(1);
        oPort.nBufferCountActual = roSetup.uiOutputBuffers;
        oPort.nBufferSize = roSetup.uiOutputBufferSize != 0 ? roSetup.uiOutputBufferSize : oPort.nBufferSize;
        oPort.format.video.nBitrate = roSetup.uiBitRate;
        ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamPortDefinition, oPort));
        auto oPreset = Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset);
        oPreset.eEncodingModePreset = roSetup.eEncodingPreset;
        oPreset.eRateControlPreset = roSetup.eRateControlPreset;
        ASSERT_EQ(OMX_ErrorNone, Set(local_ePreset, oPreset));
        auto oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
        oAvc.eProfile = roSetup.eProfile;
        oAvc.eLevel = OMX_VIDEO_AVCLevel42;
        oAvc.nPFrames = roSetup.uiKeyInterval - 1;
        oAvc.nBFrames = roSetup.uiBFrames;
        ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamVideoAvc, oAvc));
        ASSERT_TRUE(roSetup.iQpMin < 0 || Ok(SetLimits(roSetup.iQpMin, roSetup.iQpMax)));
    }

    // To Executing with the outputs to be filled (unless not bOutputs) and the inputs with the
    // first pictures of a run of uiFrames, the last flagged OMX_BUFFERFLAG_EOS.
    bool Start(unsigned uiFrames, bool bOutputs = true)
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_aoOutputs.clear();
            m_uiFrames = uiFrames;
            m_uiFramesSent = 0;
            m_bRunning = true;
        }
        m_oClient.OnEmptyDone([this](OMX_BUFFERHEADERTYPE* poHeader) { Feed(poHeader); });
        m_oClient.OnFillDone([this](OMX_BUFFERHEADERTYPE* poHeader) { Take(poHeader); });
        if (!m_oClient.GoToExecuting() || (bOutputs && !Ok(m_oClient.SubmitAll(1, false))))
            return false;
        for (OMX_BUFFERHEADERTYPE* poHeader : m_oClient.Buffers(0))
            Feed(poHeader);
        return true;
    }
    bool WaitOutputs(size_t uiCount, bool bEndOfStream = false)
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        return m_oChanged.wait_for(oLock, std::chrono::seconds(120), [&] {
            return m_aoOutputs.size() >= uiCount &&
                   (!bEndOfStream || (!m_aoOutputs.empty() && (m_aoOutputs.back().nFlags & OMX_BUFFERFLAG_EOS)));
        });
    }
    // Back to Loaded; the buffers stay with the client meanwhile.
    bool Stop()
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_bRunning = false;
            m_apoHeld.clear();
        }
        return m_oClient.GoToLoaded();
    }
    bool Encode(unsigned uiFrames)
    {
        const bool bEncoded = Start(uiFrames) && WaitOutputs(1, true);
        return Stop() && bEncoded;
    }
    // Encodes uiFrames pictures and writes the stream to a file of the test folder.
    std::string EncodeToFile(const SEncoderSetup& roSetup, unsigned uiFrames, const char* szName)
    {
        Configure(roSetup);
        EXPECT_TRUE(Encode(uiFrames));
        return WriteStream(szName);
    }
    std::string WriteStream(const char* szName)
    {
        std::string oStream;
        for (const SEncodedBuffer& roBuffer : Outputs())
            oStream += roBuffer.oData;
        return m_oDir.Write(szName, oStream).string();
    }
    // Output buffers are kept by the test instead of being handed back, until ReleaseHeld.
    void ReleaseHeld(bool bHoldFromNowOn)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bHold = bHoldFromNowOn;
        for (OMX_BUFFERHEADERTYPE* poHeader : m_apoHeld)
            OMX_FillThisBuffer(m_oClient.Handle(), poHeader);
        m_apoHeld.clear();
    }
    std::vector<SEncodedBuffer> Outputs()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoOutputs;
    }
    OMX_TICKS TimeStamp(unsigned uiFrame) const { return OMX_TICKS(uiFrame) * 1000000 / m_oSetup.uiFrameRate; }
    static std::vector<CAnnexBStream::SNalUnit> Units(const SEncodedBuffer& roBuffer)
    {
        std::vector<CAnnexBStream::SNalUnit> aoUnits;
        EXPECT_TRUE(CAnnexBStream::Split(reinterpret_cast<const uint8_t*>(roBuffer.oData.data()), roBuffer.oData.size(), aoUnits));
        return aoUnits;
    }
    // ffmpeg decodes the file without a word, and ffprobe sees uiFrames pictures.
    static SStreamProbe Decode(const std::string& roPath, unsigned uiFrames)
    {
        std::string oErrors;
        EXPECT_TRUE(CStreamProbe::DecodesCleanly(roPath, oErrors)) << oErrors;
        SStreamProbe oProbe;
        EXPECT_TRUE(CStreamProbe::Probe(roPath, oProbe));
        EXPECT_EQ(uiFrames, oProbe.abKeyFrame.size());
        return oProbe;
    }
    // The pictures decoded from the file carry the pattern's numbers 0, 1, 2 ... in order.
    static void ExpectEveryPictureInOrder(const std::string& roPath, unsigned uiWidth, unsigned uiFrames)
    {
        std::vector<uint64_t> auiCounters;
        ASSERT_TRUE(CStreamProbe::DecodeCounters(roPath, uiWidth, auiCounters));
        ASSERT_EQ(uiFrames, auiCounters.size());
        for (unsigned i = 0; i < uiFrames; ++i)
            EXPECT_EQ(i, auiCounters[i]);
    }

    COmxTestClient m_oClient{local_szEncoder};
    SEncoderSetup m_oSetup;
    CTempDir m_oDir;
    std::atomic<bool> m_bShortFrames{false};  // input buffers one byte short of a picture

private:
    void Feed(OMX_BUFFERHEADERTYPE* poHeader)
    {
        // One feeder at a time, so that pictures go in in their order.
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (!m_bRunning || m_uiFramesSent >= m_uiFrames)
            return;
        const unsigned uiFrame = m_uiFramesSent++;
        const unsigned uiStride = m_oSetup.uiWidth;
        m_poPattern->Render(uiFrame, poHeader->pBuffer, uiStride);
        poHeader->nOffset = 0;
        poHeader->nFilledLen = static_cast<OMX_U32>(m_poPattern->FrameBytes(uiStride)) - (m_bShortFrames ? 1 : 0);
        poHeader->nTimeStamp = TimeStamp(uiFrame);
        poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (uiFrame + 1 == m_uiFrames ? OMX_BUFFERFLAG_EOS : 0);
        OMX_EmptyThisBuffer(m_oClient.Handle(), poHeader);
    }
    void Take(OMX_BUFFERHEADERTYPE* poHeader)
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            if (!m_bRunning)
                return;
            m_aoOutputs.push_back(SEncodedBuffer{poHeader->nFlags, poHeader->nTimeStamp,
                                                 std::string(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset),
                                                             poHeader->nFilledLen)});
            if (m_bHold)
                m_apoHeld.push_back(poHeader);
            else
                OMX_FillThisBuffer(m_oClient.Handle(), poHeader);
        }
        m_oChanged.notify_all();
    }

    std::unique_ptr<CNv12Pattern> m_poPattern;
    std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    bool m_bRunning = false;
    bool m_bHold = false;
    unsigned m_uiFrames = 0;
    unsigned m_uiFramesSent = 0;
    std::vector<SEncodedBuffer> m_aoOutputs;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoHeld;
};
} // namespace

TEST_F(H264Encoder, DefaultsDescribeA1080p60MainProfileStreamAndPortsAreChecked)
{
    const OMX_PARAM_PORTDEFINITIONTYPE oInput = m_oClient.PortDefinition(0);
    EXPECT_TRUE(oInput.eDir == OMX_DirInput && oInput.format.video.eColorFormat == OMX_COLOR_FormatYUV420SemiPlanar);
    EXPECT_TRUE(oInput.format.video.nFrameWidth == 1920 && oInput.format.video.nFrameHeight == 1080);
    EXPECT_EQ(1920u * 1080u * 3u / 2u, oInput.nBufferSize);
    const OMX_PARAM_PORTDEFINITIONTYPE oOutput = m_oClient.PortDefinition(1);
    EXPECT_TRUE(oOutput.eDir == OMX_DirOutput && oOutput.format.video.eCompressionFormat == OMX_VIDEO_CodingAVC);
    const auto oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    EXPECT_TRUE(oAvc.eProfile == OMX_VIDEO_AVCProfileMain && oAvc.eLevel == OMX_VIDEO_AVCLevel42);
    const auto oDynamic = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams;
    EXPECT_EQ(static_cast<OMX_S32>(oOutput.format.video.nBitrate), oDynamic.videnc2DynamicParams.targetBitRate);
    EXPECT_EQ(60000, oDynamic.videnc2DynamicParams.targetFrameRate);
    EXPECT_EQ(static_cast<OMX_S32>(oAvc.nPFrames + 1), oDynamic.videnc2DynamicParams.intraFrameInterval);
    EXPECT_EQ(IH264_RATECONTROLPARAMS_DEFAULTPRESET, oDynamic.rateControlParams.rateControlParamsPreset);
    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_TRUE(oStatic.videnc2Params.profile == 77 && oStatic.videnc2Params.level == 42);
    EXPECT_EQ(IH264_ENTROPYCODING_CABAC, oStatic.entropyCodingMode);
    // Two slice threads: 68 macroblock rows split at row 34.
    EXPECT_EQ(IH264_SLICEMODE_MBUNIT, oStatic.sliceCodingParams.sliceMode);
    EXPECT_EQ(34, oStatic.sliceCodingParams.sliceStartOffset[0]);
    EXPECT_EQ(34 * 120, oStatic.sliceCodingParams.sliceUnitSize);

    // The input's layout is completed from its size; what it cannot code is refused and not kept.
    OMX_PARAM_PORTDEFINITIONTYPE oSet = oInput;
    oSet.format.video.nFrameWidth = 1280;
    oSet.format.video.nFrameHeight = 720;
    oSet.format.video.nStride = 0;
    oSet.nBufferSize = 1;
    ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamPortDefinition, oSet));
    oSet = m_oClient.PortDefinition(0);
    EXPECT_TRUE(oSet.format.video.nStride == 1280 && oSet.format.video.nSliceHeight == 720);
    EXPECT_EQ(1280u * 720u * 3u / 2u, oSet.nBufferSize);
    const std::vector<void (*)(OMX_PARAM_PORTDEFINITIONTYPE&)> afnRefused = {
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.eColorFormat = OMX_COLOR_FormatYCbYCr; },
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nFrameWidth = 1281; },
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nFrameHeight = 4098; },
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.xFramerate = 0; },
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nBitrate = 0; },  // these two on the output
        [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.eCompressionFormat = OMX_VIDEO_CodingMPEG4; },
    };
    for (size_t ui = 0; ui < afnRefused.size(); ++ui)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oBad = ui < 4 ? oSet : oOutput;
        afnRefused[ui](oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamPortDefinition, oBad)) << ui;
    }
    EXPECT_EQ(1280u, m_oClient.PortDefinition(0).format.video.nFrameWidth);
    EXPECT_EQ(OMX_VIDEO_CodingAVC, m_oClient.PortDefinition(1).format.video.eCompressionFormat);
}

TEST_F(H264Encoder, PresetAndAvcAreCheckedAndSetOnlyWhileLoaded)
{
    auto oPreset = Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset);
    oPreset.eEncodingModePreset = static_cast<OMX_VIDEO_ENCODING_MODE_PRESETTYPE>(7);
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_ePreset, oPreset));
    oPreset.eEncodingModePreset = OMX_Video_Enc_User_Defined;
    oPreset.eRateControlPreset = OMX_Video_RC_Twopass;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_ePreset, oPreset));
    oPreset.eRateControlPreset = OMX_Video_RC_Storage;
    EXPECT_EQ(OMX_ErrorNone, Set(local_ePreset, oPreset));
    EXPECT_EQ(OMX_Video_Enc_User_Defined, Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset).eEncodingModePreset);

    const auto oDefaultAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    const std::vector<void (*)(OMX_VIDEO_PARAM_AVCTYPE&)> afnRefused = {
        [](OMX_VIDEO_PARAM_AVCTYPE& ro) { ro.eProfile = OMX_VIDEO_AVCProfileBaseline, ro.nBFrames = 2; },
        [](OMX_VIDEO_PARAM_AVCTYPE& ro) { ro.eProfile = OMX_VIDEO_AVCProfileExtended; },
        [](OMX_VIDEO_PARAM_AVCTYPE& ro) { ro.eLevel = static_cast<OMX_VIDEO_AVCLEVELTYPE>(0x10000); },
        [](OMX_VIDEO_PARAM_AVCTYPE& ro) { ro.bMBAFF = OMX_TRUE; },
    };
    for (size_t ui = 0; ui < afnRefused.size(); ++ui)
    {
        auto oBad = oDefaultAvc;
        afnRefused[ui](oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamVideoAvc, oBad)) << ui;
    }
    // The entropy coding and the picture types follow the profile and the intervals.
    auto oAvc = oDefaultAvc;
    oAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oAvc.eLevel = OMX_VIDEO_AVCLevel5;
    oAvc.nBFrames = 0;
    oAvc.nPFrames = 89;
    oAvc.bEntropyCodingCABAC = OMX_TRUE;
    ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamVideoAvc, oAvc));
    oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    EXPECT_EQ(OMX_FALSE, oAvc.bEntropyCodingCABAC);
    EXPECT_EQ(static_cast<OMX_U32>(OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP), oAvc.nAllowedPictureTypes);
    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_TRUE(oStatic.videnc2Params.profile == 66 && oStatic.videnc2Params.level == 50);
    EXPECT_EQ(OMX_Video_RC_Storage, oStatic.videnc2Params.rateControlPreset);
    EXPECT_EQ(IH264_ENTROPYCODING_CAVLC, oStatic.entropyCodingMode);
    EXPECT_EQ(90, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams.videnc2DynamicParams.intraFrameInterval);

    // Static parameters are read only; outside Loaded the preset and the AVC parameters stay.
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, Set(local_eStatic, Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic)));
    Configure(SEncoderSetup());
    ASSERT_TRUE(Start(0));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(local_ePreset, oPreset));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(OMX_IndexParamVideoAvc, oAvc));
    EXPECT_TRUE(Stop());
}

TEST_F(H264Encoder, DynamicParametersChangeRateAndLimitsOnly)
{
    const auto oDynamic = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true);
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oDynamic, true));  // as read: nothing changes
    const std::vector<void (*)(OMX_VIDEO_PARAM_DYNAMICPARAMS&)> afnRefused = {
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) { ro.videoDynamicParams.videnc2DynamicParams.inputWidth = 1280; },
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) { ro.videoDynamicParams.videnc2DynamicParams.intraFrameInterval = 30; },
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) { ro.videoDynamicParams.videnc2DynamicParams.targetBitRate = 0; },
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) {
            auto& roRate = ro.videoDynamicParams.rateControlParams;
            roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED, roRate.qpMinB = 30, roRate.qpMaxB = 20;
        },
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) {
            auto& roRate = ro.videoDynamicParams.rateControlParams;
            roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED, roRate.qpMaxP = 52;
        },
        [](OMX_VIDEO_PARAM_DYNAMICPARAMS& ro) { ro.videoDynamicParams.rateControlParams.rateControlParamsPreset = 3; },
    };
    for (size_t ui = 0; ui < afnRefused.size(); ++ui)
    {
        auto oBad = oDynamic;
        afnRefused[ui](oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true)) << ui;
    }
    auto oOtherPort = oDynamic;
    oOtherPort.nPortIndex = 0;
    EXPECT_EQ(OMX_ErrorBadPortIndex, Set(local_eDynamic, oOtherPort, true));

    auto oGood = oDynamic;
    oGood.videoDynamicParams.videnc2DynamicParams.targetBitRate = 3000000;
    IH264ENC_RateControlParams& roRate = oGood.videoDynamicParams.rateControlParams;
    roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
    roRate.qpMinI = 20, roRate.qpMaxI = 30, roRate.qpMinP = 22, roRate.qpMaxP = 40, roRate.qpMinB = 10, roRate.qpMaxB = 51;
    roRate.allowFrameSkip = 1;
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oGood, true));
    const auto oRead = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams;
    EXPECT_EQ(3000000, oRead.videnc2DynamicParams.targetBitRate);
    EXPECT_EQ(0, memcmp(&roRate, &oRead.rateControlParams, sizeof(roRate)));
    // The static parameters show the limits that the next stream is created with.
    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_EQ(0, memcmp(&roRate, &oStatic.rateControlParams, sizeof(roRate)));
    // "Existing" keeps the limits in force whatever the record says.
    roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_EXISTING;
    roRate.qpMinI = 99;
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oGood, true));
    EXPECT_EQ(20, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams.rateControlParams.qpMinI);
    // A bit rate set through the port definition afterwards is the one in force.
    OMX_PARAM_PORTDEFINITIONTYPE oOutput = m_oClient.PortDefinition(1);
    oOutput.format.video.nBitrate = 5000000;
    ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamPortDefinition, oOutput));
    EXPECT_EQ(5000000, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams.videnc2DynamicParams.targetBitRate);
}

TEST_F(H264Encoder, BaselineStreamHasParameterSetsFirstThenOneAccessUnitPerBuffer)
{
    const unsigned uiFrames = 75;
    const std::string oPath = EncodeToFile(SEncoderSetup(), uiFrames, "baseline.h264");
    const std::vector<SEncodedBuffer> aoOutputs = Outputs();
    const int iSecondSlice = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams.sliceCodingParams.sliceStartOffset[0];
    EXPECT_EQ(12, iSecondSlice);  // 23 macroblock rows: 12 and 11
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    // The parameter sets alone, stamped with the first picture's time.
    const auto aoHead = Units(aoOutputs[0]);
    ASSERT_EQ(2u, aoHead.size());
    EXPECT_TRUE(aoHead[0].uiType == CAnnexBStream::NalType_Sps && aoHead[1].uiType == CAnnexBStream::NalType_Pps);
    EXPECT_EQ(local_nConfig, aoOutputs[0].nFlags);
    EXPECT_EQ(TimeStamp(0), aoOutputs[0].nTimeStamp);
    for (unsigned i = 0; i < uiFrames; ++i)
    {
        // Slices only: two per picture (one per slice thread), all of the same kind.
        const bool bIdr = i % 30 == 0;
        const auto aoUnits = Units(aoOutputs[i + 1]);
        ASSERT_EQ(2u, aoUnits.size()) << "picture " << i;
        for (const auto& roUnit : aoUnits)
            EXPECT_EQ(unsigned(bIdr ? CAnnexBStream::NalType_IdrSlice : CAnnexBStream::NalType_Slice), roUnit.uiType) << i;
        EXPECT_EQ(0u, CAnnexBStream::FirstMbInSlice(aoUnits[0]));
        EXPECT_EQ(unsigned(iSecondSlice) * 40, CAnnexBStream::FirstMbInSlice(aoUnits[1]));
        EXPECT_EQ(OMX_BUFFERFLAG_ENDOFFRAME | (bIdr ? OMX_BUFFERFLAG_SYNCFRAME : 0) | (i + 1 == uiFrames ? OMX_BUFFERFLAG_EOS : 0),
                  aoOutputs[i + 1].nFlags) << "picture " << i;
        EXPECT_EQ(TimeStamp(i), aoOutputs[i + 1].nTimeStamp) << "picture " << i;
    }
    const SStreamProbe oProbe = Decode(oPath, uiFrames);
    EXPECT_TRUE(oProbe.uiWidth == 640 && oProbe.uiHeight == 360 && oProbe.iLevel == 42);
    EXPECT_EQ("Constrained Baseline", oProbe.oProfile);
    for (unsigned i = 0; i < oProbe.abKeyFrame.size(); ++i)
        EXPECT_EQ(i % 30 == 0, oProbe.abKeyFrame[i]) << "picture " << i;
    ExpectEveryPictureInOrder(oPath, 640, uiFrames);
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesEncoded));
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesConsumed));
}

TEST_F(H264Encoder, MainProfileWithBPicturesComesOutReorderedAndWhole)
{
    SEncoderSetup oSetup;
    oSetup.eProfile = OMX_VIDEO_AVCProfileMain;
    oSetup.uiBFrames = 2;
    oSetup.uiKeyInterval = 24;
    oSetup.eRateControlPreset = OMX_Video_RC_Storage;
    const unsigned uiFrames = 60;
    const std::string oPath = EncodeToFile(oSetup, uiFrames, "main.h264");
    const std::vector<SEncodedBuffer> aoOutputs = Outputs();
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    EXPECT_EQ(local_nConfig, aoOutputs[0].nFlags);
    // Every picture's time stamp comes out once, in coding order; the end of stream comes last,
    // after the pictures the codec held.
    std::multiset<OMX_TICKS> oStamps, oSent;
    bool bReordered = false;
    for (size_t i = 1; i < aoOutputs.size(); ++i)
    {
        oStamps.insert(aoOutputs[i].nTimeStamp);
        oSent.insert(TimeStamp(static_cast<unsigned>(i - 1)));
        bReordered = bReordered || (i > 1 && aoOutputs[i].nTimeStamp < aoOutputs[i - 1].nTimeStamp);
        EXPECT_EQ(i + 1 == aoOutputs.size(), (aoOutputs[i].nFlags & OMX_BUFFERFLAG_EOS) != 0) << i;
        EXPECT_EQ(aoOutputs[i].nTimeStamp % TimeStamp(24) == 0, (aoOutputs[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0);
    }
    EXPECT_TRUE(bReordered);
    EXPECT_EQ(oSent, oStamps);
    const SStreamProbe oProbe = Decode(oPath, uiFrames);
    EXPECT_EQ("Main", oProbe.oProfile);
    EXPECT_NE(std::string::npos, oProbe.oPictureTypes.find('B')) << oProbe.oPictureTypes;
    for (unsigned i = 0; i < oProbe.abKeyFrame.size(); ++i)
        EXPECT_EQ(i % 24 == 0, oProbe.abKeyFrame[i]) << "picture " << i;
    ExpectEveryPictureInOrder(oPath, 640, uiFrames);
}

TEST_F(H264Encoder, QuantiserLimitsOverruleTheBitRate)
{
    SEncoderSetup oSetup;
    oSetup.eProfile = OMX_VIDEO_AVCProfileHigh;
    oSetup.eEncodingPreset = OMX_Video_Enc_User_Defined;
    // Coarse quantisers only: far below a generous target; fine ones only: far above a meagre one.
    const struct
    {
        unsigned uiBitRate;
        int iQpMin, iQpMax;
        double dFactor;
    } aoCases[] = {{8000000, 45, 51, 0.5}, {200000, 0, 15, 2.0}};
    for (const auto& roCase : aoCases)
    {
        oSetup.uiBitRate = roCase.uiBitRate;
        oSetup.iQpMin = roCase.iQpMin;
        oSetup.iQpMax = roCase.iQpMax;
        const std::string oPath = EncodeToFile(oSetup, 30, "limits.h264");
        size_t uiBytes = 0;
        for (const SEncodedBuffer& roBuffer : Outputs())
            uiBytes += (roBuffer.nFlags & OMX_BUFFERFLAG_CODECCONFIG) ? 0 : roBuffer.oData.size();
        const double dRate = uiBytes * 8.0 * 60 / 30;
        EXPECT_TRUE(roCase.dFactor < 1 ? dRate < roCase.dFactor * roCase.uiBitRate : dRate > roCase.dFactor * roCase.uiBitRate)
            << dRate << " bit/s for a target of " << roCase.uiBitRate;
        EXPECT_EQ("High", Decode(oPath, 30).oProfile);
    }
}

TEST_F(H264Encoder, HeldOutputsHoldTheInputBackAndNewLimitsRestartWithAnIdrPicture)
{
    SEncoderSetup oSetup;
    oSetup.uiKeyInterval = 1000;
    oSetup.uiOutputBuffers = 2;
    const unsigned uiFrames = 12;
    Configure(oSetup);
    ReleaseHeld(true);
    ASSERT_TRUE(Start(uiFrames));
    // The parameter sets and the first picture fill both output buffers; the next picture waits.
    ASSERT_TRUE(WaitOutputs(2));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(2u, Outputs().size());
    EXPECT_EQ(1u, m_oClient.ReturnedCount(0));
    EXPECT_EQ(1u, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesConsumed));
    // Each output buffer handed back lets one more picture through.
    ReleaseHeld(true);
    ASSERT_TRUE(WaitOutputs(4));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(4u, Outputs().size());
    EXPECT_EQ(3u, m_oClient.ReturnedCount(0));
    // New limits while running: the coding restarts with an IDR picture, without new parameter sets.
    ASSERT_EQ(OMX_ErrorNone, SetLimits(40, 51));
    ReleaseHeld(false);
    ASSERT_TRUE(WaitOutputs(1, true));
    ASSERT_TRUE(Stop());
    const std::vector<SEncodedBuffer> aoOutputs = Outputs();
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    for (size_t i = 1; i < aoOutputs.size(); ++i)
    {
        EXPECT_EQ(i == 1 || i == 4, (aoOutputs[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0) << i;
        EXPECT_EQ(0u, aoOutputs[i].nFlags & OMX_BUFFERFLAG_CODECCONFIG);
        EXPECT_EQ(i == 1 || i == 4, Units(aoOutputs[i])[0].uiType == CAnnexBStream::NalType_IdrSlice) << i;
    }
    const std::string oPath = WriteStream("restart.h264");
    Decode(oPath, uiFrames);
    ExpectEveryPictureInOrder(oPath, 640, uiFrames);
}

TEST_F(H264Encoder, EveryStreamBeginsWithItsOwnParameterSets)
{
    // A first stream; a second of another size and profile; a third with the second's parameter
    // sets, whose pictures wait for output buffers while new limits come.
    SEncoderSetup oSetup;
    for (int iStream = 0; iStream < 3; ++iStream)
    {
        SCOPED_TRACE(iStream);
        if (iStream == 1)
        {
            oSetup.uiWidth = 320;
            oSetup.uiHeight = 240;
            oSetup.eProfile = OMX_VIDEO_AVCProfileHigh;
        }
        Configure(oSetup);
        ASSERT_TRUE(Start(10, iStream < 2));
        ASSERT_TRUE(iStream < 2 || (Ok(SetLimits(30, 51)) && Ok(m_oClient.SubmitAll(1, false))));
        ASSERT_TRUE(WaitOutputs(1, true));
        ASSERT_TRUE(Stop());
        const std::vector<SEncodedBuffer> aoOutputs = Outputs();
        ASSERT_EQ(11u, aoOutputs.size());
        EXPECT_EQ(local_nConfig, aoOutputs[0].nFlags);
        EXPECT_NE(0u, aoOutputs[1].nFlags & OMX_BUFFERFLAG_SYNCFRAME);
        const SStreamProbe oProbe = Decode(WriteStream("stream.h264"), 10);
        EXPECT_EQ(oSetup.uiWidth, oProbe.uiWidth);
        EXPECT_EQ(iStream == 0 ? "Constrained Baseline" : "High", oProbe.oProfile);
    }
}

TEST_F(H264Encoder, WhatCannotBeDeliveredWholeIsDroppedAndTheEndOfStreamStillComes)
{
    // Output buffers too small for any picture: each is dropped with an overflow error; the end
    // of stream still arrives, in an empty buffer.
    SEncoderSetup oSetup;
    oSetup.uiOutputBufferSize = 64;
    Configure(oSetup);
    ASSERT_TRUE(Encode(5));
    std::vector<SEncodedBuffer> aoOutputs = Outputs();
    ASSERT_EQ(2u, aoOutputs.size());
    EXPECT_NE(0u, aoOutputs[0].nFlags & OMX_BUFFERFLAG_CODECCONFIG);
    EXPECT_TRUE(aoOutputs[1].nFlags == OMX_BUFFERFLAG_EOS && aoOutputs[1].oData.empty());
    EXPECT_EQ(5u, m_oClient.CountEvents(OMX_EventError, OMX_ErrorOverflow, 1));
    EXPECT_EQ(5u, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesDropped));

    // Input buffers shorter than a picture go back uncoded; without a picture the stream does
    // not even begin: no parameter sets, only the end of stream.
    PellixTest_Reset();
    oSetup.uiOutputBufferSize = 0;
    Configure(oSetup);
    m_bShortFrames = true;
    ASSERT_TRUE(Encode(5));
    aoOutputs = Outputs();
    ASSERT_EQ(1u, aoOutputs.size());
    EXPECT_TRUE(aoOutputs[0].nFlags == OMX_BUFFERFLAG_EOS && aoOutputs[0].oData.empty());
    EXPECT_EQ(5u, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesDropped));
    EXPECT_EQ(0u, PellixTest_GetCounter(local_szEncoder, PellixCounter_FramesEncoded));
}

TEST_F(H264Encoder, UnusualPicturePatternsStillGiveWholeDecodableStreams)
{
    // All intra (B pictures then mean nothing), more B pictures than fit between two IDR
    // pictures, and the longest B run.
    for (const auto& roCase : {std::make_pair(1u, 0u), std::make_pair(1u, 3u), std::make_pair(2u, 3u), std::make_pair(20u, 16u)})
    {
        SCOPED_TRACE(testing::Message() << roCase.first << "/" << roCase.second);
        SEncoderSetup oSetup;
        oSetup.uiWidth = 320;
        oSetup.uiHeight = 180;
        oSetup.eProfile = roCase.second > 0 ? OMX_VIDEO_AVCProfileMain : OMX_VIDEO_AVCProfileBaseline;
        oSetup.uiKeyInterval = roCase.first;
        oSetup.uiBFrames = roCase.second;
        const std::string oPath = EncodeToFile(oSetup, 40, "pattern.h264");
        ASSERT_EQ(41u, Outputs().size());
        const SStreamProbe oProbe = Decode(oPath, 40);
        for (unsigned i = 0; i < oProbe.abKeyFrame.size(); ++i)
            EXPECT_EQ(i % roCase.first == 0, oProbe.abKeyFrame[i]) << "picture " << i;
    }
}
