// The H.264 encoder component ("OMX.TI.DUCATI.VIDENC") through the IL core: the settings it
// refuses and derives, and the streams it makes of the NV12 test pattern, read back byte by byte and
// by real decoders: buffer layout and flags, slices, profiles, picture patterns, quantiser limits,
// end of stream and dropped pictures. (The values the library sends, and the stream of the
// captured video, also held back by its consumer, are tested through its wrapper.)
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>

#include "CCaptureTimeCode.h"
#include "CFrameLines.h"
#include "CMotionPattern.h"
#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "EncodedStreams.h"
#include "OutputCapture.h"
#include "TempDir.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szEncoder = "OMX.TI.DUCATI.VIDENC";
const OMX_U32 local_uiPreset = OMX_TI_IndexParamVideoEncoderPreset, local_uiStatic = OMX_TI_IndexParamVideoStaticParams;
const OMX_U32 local_uiDynamic = OMX_TI_IndexConfigVideoDynamicParams;
const OMX_U32 local_nConfig = OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME;

// A stream a test asks for; every field is written to the component.
struct SStream
{
    unsigned uiWidth = 640, uiHeight = 360, uiFrames = 10;
    OMX_VIDEO_AVCPROFILETYPE eProfile = OMX_VIDEO_AVCProfileBaseline;
    unsigned uiKeyInterval = 30, uiBFrames = 0;  // nPFrames + 1, nBFrames
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControl = OMX_Video_RC_Low_Delay;
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncoding = OMX_Video_Enc_High_Speed_Med_Quality;
    unsigned uiBitRate = 2000000;
    int iQpMin = -1, iQpMax = 51;  // the limits of every picture type, when iQpMin is not -1
    unsigned uiOutputBufferSize = 0;  // 0: the component's
};

class H264Encoder : public CEngineTest
{
protected:
    // Ports, preset, AVC parameters and limits while loaded, then the stream encoded: the pictures
    // of the pattern in turn, the last flagged OMX_BUFFERFLAG_EOS, every output kept and handed back
    // until the end of the stream came; back to Loaded.
    std::vector<COmxTestClient::SBuffer> Encode(const SStream& ro)
    {
        m_oStream = ro;
        m_poPattern.reset(new CNv12Pattern(ro.uiWidth, ro.uiHeight));
        auto oPreset = ReadParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(m_oClient.Handle(), local_uiPreset, 1);
        oPreset.eEncodingModePreset = ro.eEncoding;
        oPreset.eRateControlPreset = ro.eRateControl;
        auto oAvc = ReadParam<OMX_VIDEO_PARAM_AVCTYPE>(m_oClient.Handle(), OMX_IndexParamVideoAvc, 1);
        oAvc.eProfile = ro.eProfile;
        oAvc.eLevel = OMX_VIDEO_AVCLevel42;
        oAvc.nPFrames = ro.uiKeyInterval - 1;
        oAvc.nBFrames = ro.uiBFrames;
        bool bSet = Ok(m_oClient.SetPort(0, [&ro](OMX_PARAM_PORTDEFINITIONTYPE& o) {
            o.format.video.nFrameWidth = o.format.video.nStride = ro.uiWidth;
            o.format.video.nFrameHeight = ro.uiHeight;
        }));
        bSet = bSet && Ok(m_oClient.SetPort(1, [&ro](OMX_PARAM_PORTDEFINITIONTYPE& o) {
            o.nBufferSize = ro.uiOutputBufferSize != 0 ? ro.uiOutputBufferSize : o.nBufferSize;
            o.format.video.nBitrate = ro.uiBitRate;
        }));
        bSet = bSet && Ok(m_oClient.Param(local_uiPreset, oPreset, true)) &&
               Ok(m_oClient.Param(OMX_IndexParamVideoAvc, oAvc, true));
        // The limits of every picture type, on the rate and interval derived from the settings before.
        auto oDynamic = ReadParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(m_oClient.Handle(), local_uiDynamic, 1, true);
        IH264ENC_RateControlParams& roRate = oDynamic.videoDynamicParams.h264EncDynamicParams.rateControlParams;
        roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        roRate.qpMinI = roRate.qpMinP = roRate.qpMinB = static_cast<OMX_S8>(ro.iQpMin);
        roRate.qpMaxI = roRate.qpMaxP = roRate.qpMaxB = static_cast<OMX_S8>(ro.iQpMax);
        bSet = bSet && (ro.iQpMin < 0 || Ok(m_oClient.Param(local_uiDynamic, oDynamic, true, true)));
        m_oClient.Forget();
        m_oClient.Keep(true);
        m_oClient.Recycle(1);
        m_uiSent = 0;
        m_oClient.OnEmptyDone([this](OMX_BUFFERHEADERTYPE* po) { Feed(po); });
        const bool bRunning = bSet && m_oClient.GoToExecuting() && Ok(m_oClient.SubmitAll(1));
        for (OMX_BUFFERHEADERTYPE* po : m_oClient.Buffers(0))
            Feed(po);
        EXPECT_TRUE(bRunning && Eventually([this] {
            const auto ao = m_oClient.Kept(1);
            return !ao.empty() && (ao.back().nFlags & OMX_BUFFERFLAG_EOS) != 0;
        }, std::chrono::seconds(120)));
        m_oClient.OnEmptyDone(nullptr);
        EXPECT_TRUE(m_oClient.GoToLoaded());
        return m_oClient.Kept(1);
    }
    static OMX_TICKS TimeStamp(unsigned uiFrame) { return OMX_TICKS(uiFrame) * 1000000 / 60; }
    static unsigned long long Counter(PellixCounter e) { return PellixTest_GetCounter(local_szEncoder, e); }
    // '1' for each IDR picture of uiFrames in presentation order, else '0'.
    static std::string KeyFrames(unsigned uiFrames, unsigned uiInterval)
    {
        std::string o;
        for (unsigned i = 0; i < uiFrames; ++i)
            o += i % uiInterval == 0 ? '1' : '0';
        return o;
    }

    COmxTestClient m_oClient{local_szEncoder};
    CTempDir m_oDir;
    bool m_bShortFrames = false;  // input buffers one byte short of a picture
    std::function<void(unsigned, uint8_t*)> m_fnDraw;  // draws a picture instead of the pattern

private:
    void Feed(OMX_BUFFERHEADERTYPE* po)
    {
        // One feeder at a time, so that pictures go in in their order.
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_uiSent >= m_oStream.uiFrames)
            return;
        const unsigned uiFrame = m_uiSent++;
        m_fnDraw ? m_fnDraw(uiFrame, po->pBuffer) : m_poPattern->Render(uiFrame, po->pBuffer);
        po->nOffset = 0;
        po->nFilledLen = static_cast<OMX_U32>(m_poPattern->FrameBytes()) - (m_bShortFrames ? 1 : 0);
        po->nTimeStamp = TimeStamp(uiFrame);
        po->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (uiFrame + 1 == m_oStream.uiFrames ? OMX_BUFFERFLAG_EOS : 0);
        OMX_EmptyThisBuffer(m_oClient.Handle(), po);
    }

    SStream m_oStream;
    std::unique_ptr<CNv12Pattern> m_poPattern;
    std::mutex m_oMutex;
    unsigned m_uiSent = 0;
};
} // namespace

TEST_F(H264Encoder, SettingsAreCheckedDerivedAndSetOnlyWhileLoaded)
{
    const OMX_HANDLETYPE h = m_oClient.Handle();
    const auto oAvc = ReadParam<OMX_VIDEO_PARAM_AVCTYPE>(h, OMX_IndexParamVideoAvc, 1);
    // What it cannot code is refused and not kept.
    const std::vector<std::pair<OMX_U32, void (*)(OMX_PARAM_PORTDEFINITIONTYPE&)>> aoRefusedPorts = {
        {0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.eColorFormat = OMX_COLOR_FormatYCbYCr; }},
        {0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nFrameWidth = 1281; }},
        {0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nFrameHeight = 4098; }},
        {0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.xFramerate = 0; }},
        {1, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.nBitrate = 0; }},
        {1, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.format.video.eCompressionFormat = OMX_VIDEO_CodingMPEG4; }}};
    for (const auto& ro : aoRefusedPorts)
        EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.SetPort(ro.first, ro.second));
    EXPECT_TRUE(m_oClient.PortDefinition(0).format.video.nFrameWidth == 1920 &&
                m_oClient.PortDefinition(1).format.video.eCompressionFormat == OMX_VIDEO_CodingAVC);
    // Presets and AVC parameters it cannot honour.
    auto oPreset = ReadParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(h, local_uiPreset, 1);
    oPreset.eEncodingModePreset = static_cast<OMX_VIDEO_ENCODING_MODE_PRESETTYPE>(7);
    EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.Param(local_uiPreset, oPreset, true));
    oPreset.eEncodingModePreset = OMX_Video_Enc_User_Defined;
    oPreset.eRateControlPreset = OMX_Video_RC_Twopass;
    EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.Param(local_uiPreset, oPreset, true));
    oPreset.eRateControlPreset = OMX_Video_RC_Storage;
    EXPECT_EQ(OMX_ErrorNone, m_oClient.Param(local_uiPreset, oPreset, true));
    typedef OMX_VIDEO_PARAM_AVCTYPE TAvc;
    for (void (*fnChange)(TAvc&) : {+[](TAvc& ro) { ro.eProfile = OMX_VIDEO_AVCProfileBaseline, ro.nBFrames = 2; },
                                    +[](TAvc& ro) { ro.eProfile = OMX_VIDEO_AVCProfileExtended; },
                                    +[](TAvc& ro) { ro.eLevel = static_cast<OMX_VIDEO_AVCLEVELTYPE>(0x10000); },
                                    +[](TAvc& ro) { ro.bMBAFF = OMX_TRUE; }})
    {
        auto oBad = oAvc;
        fnChange(oBad);
        EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.Param(OMX_IndexParamVideoAvc, oBad, true));
    }
    // The entropy coding and the picture types follow the profile and the intervals.
    auto oBaseline = oAvc;
    oBaseline.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oBaseline.eLevel = OMX_VIDEO_AVCLevel5;
    oBaseline.nPFrames = 89;
    oBaseline.bEntropyCodingCABAC = OMX_TRUE;
    ASSERT_EQ(OMX_ErrorNone, m_oClient.Param(OMX_IndexParamVideoAvc, oBaseline, true));
    oBaseline = ReadParam<OMX_VIDEO_PARAM_AVCTYPE>(h, OMX_IndexParamVideoAvc, 1);
    const auto oStaticNow = ReadParam<OMX_VIDEO_PARAM_STATICPARAMS>(h, local_uiStatic, 1);
    const auto& roS = oStaticNow.videoStaticParams.h264EncStaticParams;
    const auto oDynamicNow = ReadParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(h, local_uiDynamic, 1, true);
    EXPECT_EQ((std::vector<long>{OMX_FALSE, OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP, 66, 50, IVIDEO_STORAGE,
                                 XDM_YUV_420SP, IH264_ENTROPYCODING_CAVLC, 90}),
              (std::vector<long>{oBaseline.bEntropyCodingCABAC, long(oBaseline.nAllowedPictureTypes),
                                 roS.videnc2Params.profile, roS.videnc2Params.level,
                                 roS.videnc2Params.rateControlPreset, roS.videnc2Params.inputChromaFormat,
                                 roS.entropyCodingMode,
                                 oDynamicNow.videoDynamicParams.h264EncDynamicParams.videnc2DynamicParams
                                     .intraFrameInterval}));
    // Dynamic parameters: as read, nothing changes. Refused: any change of what the ports and the
    // AVC parameters decide (sizes, rates, intervals), no bit rate or one too high, limits out of
    // order or range, an unknown preset, what the codec does its own way (a forced or header-only
    // picture, data-sync calls, user-defined motion search, intra modes and slices, slice groups,
    // search centre, static macroblocks, gradual refresh, regions of interest), a record of
    // another size and another port.
    ASSERT_EQ(OMX_ErrorNone, m_oClient.Param(local_uiDynamic, oDynamicNow, true, true));
    typedef IH264ENC_DynamicParams TDynamic;
#define LOCAL_BUMP(field) +[](TDynamic& ro) { ro.field = static_cast<decltype(ro.field)>(ro.field + 1); }
#define LOCAL_BUMP_BASE(field) LOCAL_BUMP(videnc2DynamicParams.field)
#define LOCAL_SET_POINTER(field) +[](TDynamic& ro) { ro.videnc2DynamicParams.field = reinterpret_cast<decltype(ro.videnc2DynamicParams.field)>(&ro); }
    for (void (*fnChange)(TDynamic&) :
         {LOCAL_BUMP_BASE(size), LOCAL_BUMP_BASE(inputHeight), LOCAL_BUMP_BASE(inputWidth), LOCAL_BUMP_BASE(refFrameRate),
          LOCAL_BUMP_BASE(targetFrameRate), LOCAL_BUMP_BASE(intraFrameInterval), LOCAL_BUMP_BASE(generateHeader),
          LOCAL_BUMP_BASE(captureWidth), LOCAL_BUMP_BASE(interFrameInterval), LOCAL_BUMP_BASE(mvAccuracy),
          LOCAL_BUMP_BASE(sampleAspectRatioHeight), LOCAL_BUMP_BASE(sampleAspectRatioWidth),
          LOCAL_BUMP_BASE(ignoreOutbufSizeFlag), LOCAL_BUMP_BASE(lateAcquireArg), LOCAL_SET_POINTER(putDataFxn),
          LOCAL_SET_POINTER(putDataHandle), LOCAL_SET_POINTER(getDataFxn), LOCAL_SET_POINTER(getDataHandle),
          LOCAL_SET_POINTER(getBufferFxn), LOCAL_SET_POINTER(getBufferHandle), LOCAL_BUMP(sliceGroupChangeCycle),
          LOCAL_BUMP(searchCenter.x), LOCAL_BUMP(searchCenter.y), LOCAL_BUMP(enableStaticMBCount),
          LOCAL_BUMP(intraRefreshRateGDRDynamic), LOCAL_BUMP(gdrOverlapRowsBtwFramesDynamic), LOCAL_BUMP(enableROI),
          +[](TDynamic& ro) { ro.videnc2DynamicParams.targetBitRate = 0; },
          +[](TDynamic& ro) { ro.videnc2DynamicParams.targetBitRate = 300000001; },
          +[](TDynamic& ro) { ro.rateControlParams.qpMinB = 30, ro.rateControlParams.qpMaxB = 20; },
          +[](TDynamic& ro) { ro.rateControlParams.qpMaxP = 52; },
          +[](TDynamic& ro) { ro.rateControlParams.rateControlParamsPreset = 3; },
          +[](TDynamic& ro) { ro.videnc2DynamicParams.forceFrame = IVIDEO_IDR_FRAME; },
          +[](TDynamic& ro) { ro.interCodingParams.interCodingPreset = IH264_INTERCODING_USERDEFINED; },
          +[](TDynamic& ro) { ro.intraCodingParams.intraCodingPreset = IH264_INTRACODING_USERDEFINED; },
          +[](TDynamic& ro) { ro.sliceCodingParams.sliceCodingPreset = IH264_SLICECODING_USERDEFINED; }})
#undef LOCAL_BUMP
#undef LOCAL_BUMP_BASE
#undef LOCAL_SET_POINTER
    {
        auto oBad = oDynamicNow;
        TDynamic& roBad = oBad.videoDynamicParams.h264EncDynamicParams;
        roBad.rateControlParams.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        fnChange(roBad);
        EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.Param(local_uiDynamic, oBad, true, true));
    }
    auto oLonger = oDynamicNow;
    oLonger.nSize += 4;
    EXPECT_EQ(OMX_ErrorBadParameter, m_oClient.Param(local_uiDynamic, oLonger, true, true));
    auto oOtherPort = oDynamicNow;
    oOtherPort.nPortIndex = 0;
    EXPECT_EQ(OMX_ErrorBadPortIndex, m_oClient.Param(local_uiDynamic, oOtherPort, true, true));
    // A request for an IDR picture is kept until a picture is coded; it belongs to the output port.
    OMX_CONFIG_INTRAREFRESHVOPTYPE oRefresh = ReadParam<OMX_CONFIG_INTRAREFRESHVOPTYPE>(h, OMX_IndexConfigVideoIntraVOPRefresh, 1, true);
    EXPECT_EQ(OMX_FALSE, oRefresh.IntraRefreshVOP);
    oRefresh.IntraRefreshVOP = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorNone, m_oClient.Param(OMX_IndexConfigVideoIntraVOPRefresh, oRefresh, true, true));
    EXPECT_EQ(OMX_TRUE, ReadParam<OMX_CONFIG_INTRAREFRESHVOPTYPE>(h, OMX_IndexConfigVideoIntraVOPRefresh, 1, true).IntraRefreshVOP);
    oRefresh.nPortIndex = 0;
    EXPECT_EQ(OMX_ErrorBadPortIndex, m_oClient.Param(OMX_IndexConfigVideoIntraVOPRefresh, oRefresh, true, true));
    // Static parameters are read only; outside Loaded the preset and the AVC parameters stay.
    auto oStaticSet = oStaticNow;
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, m_oClient.Param(local_uiStatic, oStaticSet, true));
    ASSERT_TRUE(m_oClient.GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, m_oClient.Param(local_uiPreset, oPreset, true));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, m_oClient.Param(OMX_IndexParamVideoAvc, oBaseline, true));
    EXPECT_TRUE(m_oClient.GoToLoaded());
}

TEST_F(H264Encoder, EveryStreamBeginsWithItsParameterSetsAndDecodesWholeWithOneAccessUnitPerBuffer)
{
    // One stream after the other on one component: Baseline in two slices; Main with B pictures,
    // reordered; High under coarse quantisers only (far below a generous bit rate) and fine ones only
    // (far above a meagre one); all intra (B pictures then mean nothing), more B pictures than fit
    // between two IDR pictures, and the longest B run.
    struct SCase
    {
        SStream oStream;
        const char* szProfile;
        double dRateFactor = 0;   // the bit rate is below this fraction of the target, or above this multiple
        bool bReordered = false;  // B pictures come out of order
    };
    const OMX_VIDEO_AVCPROFILETYPE eBase = OMX_VIDEO_AVCProfileBaseline, eMain = OMX_VIDEO_AVCProfileMain;
    const OMX_VIDEO_AVCPROFILETYPE eHigh = OMX_VIDEO_AVCProfileHigh;
    const OMX_VIDEO_ENCODING_MODE_PRESETTYPE eUser = OMX_Video_Enc_User_Defined;
    const SCase aoCases[] = {
        {{640, 360, 75}, "Constrained Baseline"},
        {{640, 360, 60, eMain, 24, 2, OMX_Video_RC_Storage}, "Main", 0, true},
        {{640, 360, 30, eHigh, 30, 0, OMX_Video_RC_Low_Delay, eUser, 8000000, 45, 51}, "High", 0.5},
        {{640, 360, 30, eHigh, 30, 0, OMX_Video_RC_Low_Delay, eUser, 200000, 0, 15}, "High", 2.0},
        {{320, 180, 40, eBase, 1, 0}, "Constrained Baseline"},
        {{320, 180, 40, eMain, 1, 3}, "Main"},
        {{320, 180, 40, eMain, 2, 3}, "Main"},
        {{320, 180, 40, eMain, 20, 16}, "Main"}};
    for (const SCase& roCase : aoCases)
    {
        const SStream& ro = roCase.oStream;
        SCOPED_TRACE(testing::Message() << ro.uiWidth << "x" << ro.uiHeight << " " << roCase.szProfile << " "
                                        << ro.uiKeyInterval << "/" << ro.uiBFrames << " QP " << ro.iQpMin);
        PellixTest_Reset();
        const std::vector<COmxTestClient::SBuffer> aoOutputs = Encode(ro);
        ASSERT_EQ(ro.uiFrames + 1, aoOutputs.size());
        // The parameter sets alone, stamped with the first picture's time.
        const std::vector<SNalUnit> aoHead = NalUnits(aoOutputs[0].oData);
        EXPECT_TRUE(aoOutputs[0].nFlags == local_nConfig && aoOutputs[0].nTimeStamp == 0 && aoHead.size() == 2 &&
                    aoHead[0].uiType == NalType_Sps && aoHead[1].uiType == NalType_Pps);
        // Then one picture per buffer: two slices (one per slice thread) of one kind; every picture's
        // time stamp once, in coding order; the end of stream last, after the pictures the codec held.
        const unsigned uiSecondSlice =
            unsigned(ReadParam<OMX_VIDEO_PARAM_STATICPARAMS>(m_oClient.Handle(), local_uiStatic, 1)
                         .videoStaticParams.h264EncStaticParams.sliceCodingParams.sliceStartOffset[0]) *
            ((ro.uiWidth + 15) / 16);
        std::map<OMX_TICKS, unsigned> oFrameOf;
        for (unsigned i = 0; i < ro.uiFrames; ++i)
            oFrameOf[TimeStamp(i)] = i;
        bool bReordered = false;
        size_t uiBytes = 0;
        for (size_t i = 1; i < aoOutputs.size(); ++i)
        {
            const COmxTestClient::SBuffer& roOut = aoOutputs[i];
            const bool bIdr = (roOut.nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0;
            const std::vector<SNalUnit> aoUnits = NalUnits(roOut.oData);
            ASSERT_EQ(2u, aoUnits.size()) << i;
            EXPECT_TRUE(aoUnits[0].uiType == (bIdr ? NalType_IdrSlice : NalType_Slice) &&
                        aoUnits[1].uiType == aoUnits[0].uiType && aoUnits[0].uiFirstMb == 0 &&
                        aoUnits[1].uiFirstMb == uiSecondSlice)
                << i;
            EXPECT_EQ(OMX_BUFFERFLAG_ENDOFFRAME | (i + 1 == aoOutputs.size() ? OMX_BUFFERFLAG_EOS : 0),
                      roOut.nFlags & ~OMX_BUFFERFLAG_SYNCFRAME)
                << i;
            ASSERT_EQ(1u, oFrameOf.count(roOut.nTimeStamp)) << i;
            EXPECT_EQ(oFrameOf[roOut.nTimeStamp] % ro.uiKeyInterval == 0, bIdr) << i;
            oFrameOf.erase(roOut.nTimeStamp);
            bReordered = bReordered || (i > 1 && roOut.nTimeStamp < aoOutputs[i - 1].nTimeStamp);
            uiBytes += roOut.oData.size();
        }
        EXPECT_TRUE(roCase.bReordered ? bReordered : ro.uiBFrames > 0 || !bReordered);
        // ffmpeg decodes every picture without a word; ffprobe sees the profile, the level and
        // the key frames; the pictures carry the pattern's numbers 0, 1, 2 ... in order.
        std::string oStream;
        for (const COmxTestClient::SBuffer& roOut : aoOutputs)
            oStream += roOut.oData;
        const SStreamProbe oProbe = ProbeStream(m_oDir.Write("stream.h264", oStream).string(), ro.uiWidth);
        std::vector<uint64_t> auiCounters(ro.uiFrames);
        std::iota(auiCounters.begin(), auiCounters.end(), 0);
        EXPECT_EQ("", oProbe.oErrors);
        EXPECT_TRUE(oProbe.uiWidth == ro.uiWidth && oProbe.uiHeight == ro.uiHeight && oProbe.iLevel == 42 &&
                    oProbe.oProfile == roCase.szProfile && oProbe.auiCounters == auiCounters)
            << oProbe.oProfile;
        EXPECT_EQ(KeyFrames(ro.uiFrames, ro.uiKeyInterval), oProbe.oKeyFrames);
        EXPECT_TRUE(!roCase.bReordered || oProbe.oPictureTypes.find('B') != std::string::npos) << oProbe.oPictureTypes;
        const double dRate = uiBytes * 8.0 * 60 / ro.uiFrames;
        EXPECT_TRUE(roCase.dRateFactor == 0 || (roCase.dRateFactor < 1 ? dRate < roCase.dRateFactor * ro.uiBitRate
                                                                       : dRate > roCase.dRateFactor * ro.uiBitRate))
            << dRate << " bit/s for a target of " << ro.uiBitRate;
        EXPECT_TRUE(Counter(PellixCounter_FramesEncoded) == ro.uiFrames &&
                    Counter(PellixCounter_FramesConsumed) == ro.uiFrames);
    }
}

TEST_F(H264Encoder, WhatCannotBeDeliveredWholeIsDroppedAndTheEndOfStreamStillComes)
{
    // Output buffers too small for any picture: each is dropped with an overflow error; the end
    // of stream still arrives, in an empty buffer.
    SStream oStream;
    oStream.uiFrames = 5;
    oStream.uiOutputBufferSize = 64;
    std::vector<COmxTestClient::SBuffer> aoOutputs = Encode(oStream);
    ASSERT_EQ(2u, aoOutputs.size());
    EXPECT_TRUE(aoOutputs[0].nFlags == local_nConfig && aoOutputs[1].nFlags == OMX_BUFFERFLAG_EOS &&
                aoOutputs[1].oData.empty());
    EXPECT_TRUE(m_oClient.CountEvents(OMX_EventError, OMX_ErrorOverflow, 1) == 5 &&
                Counter(PellixCounter_FramesDropped) == 5);
    // Input buffers shorter than a picture go back uncoded; without a picture the stream does
    // not even begin: no parameter sets, only the end of stream.
    PellixTest_Reset();
    oStream.uiOutputBufferSize = 0;
    m_bShortFrames = true;
    aoOutputs = Encode(oStream);
    ASSERT_EQ(1u, aoOutputs.size());
    EXPECT_TRUE(aoOutputs[0].nFlags == OMX_BUFFERFLAG_EOS && aoOutputs[0].oData.empty());
    EXPECT_TRUE(Counter(PellixCounter_FramesDropped) == 5 && Counter(PellixCounter_FramesEncoded) == 0);
}

// Told that it may take 1 us a picture, the encoder steps to the fastest preset after a second of
// pictures and after another says once that it cannot keep up; every picture is coded all the
// same, in one unbroken stream at 2 Mbit/s, and every decoded picture gives its capture code back.
TEST_F(H264Encoder, TooSlowForItsInputItCodesFasterAndTheStreamGoesOnWithEveryCaptureCode)
{
    CScopedEnv oBudget("PELLIX_SIM_ENCODER_BUDGET_US", "1");
    const uint64_t uiFirstUs = 5000000000123ull;  // a time that needs both 32-bit words
    const CVideoFrameGeometry oGeometry(1280, 720, 1280, OMX_COLOR_FormatYUV420SemiPlanar);
    CFrameLines oLines;
    oLines.Configure(oGeometry, false);
    CMotionPattern oPattern;
    oPattern.Configure(oGeometry, false);
    m_fnDraw = [&](unsigned uiFrame, uint8_t* p) {
        oPattern.Draw(uiFrame, p);
        CCaptureTimeCode::Write(oLines, p, {uiFirstUs + 16667ull * uiFrame, uiFrame});
    };
    COutputCapture oErrors(STDERR_FILENO);
    std::string oStream;
    SStream oDemanding{1280, 720, 150};
    oDemanding.eEncoding = OMX_Video_Enc_Med_Speed_High_Quality;  // superfast
    for (const COmxTestClient::SBuffer& ro : Encode(oDemanding))
        oStream += ro.oData;
    const std::string oLog = oErrors.Finish(), oSwitch = "OMX.TI.DUCATI.VIDENC: coding took ";
    const std::string oBehind = "at the fastest x264 preset ultrafast: the input is held back\n";
    EXPECT_TRUE(oLog.find("x264 preset superfast -> ultrafast\n") != std::string::npos &&
                oLog.find(oSwitch) == oLog.rfind(oSwitch) && oLog.find(oBehind) != std::string::npos &&
                oLog.find(oBehind) == oLog.rfind(oBehind))
        << oLog;
    EXPECT_EQ(0u, Counter(PellixCounter_FramesDropped));
    const std::string oPath = m_oDir.Write("stream.h264", oStream).string();
    const SStreamProbe oProbe = ProbeStream(oPath);
    EXPECT_TRUE(oProbe.oErrors.empty() && oProbe.oProfile == "Constrained Baseline" &&
                oProbe.oKeyFrames == KeyFrames(150, 30))
        << oProbe.oErrors << oProbe.oProfile << " " << oProbe.oKeyFrames;
    const std::string oLuma = DecodeGray(oPath);
    ASSERT_EQ(150u * 1280 * 720, oLuma.size());
    for (unsigned i = 0; i < 150; ++i)
    {
        CCaptureTimeCode::SValue o{0, 0};
        EXPECT_TRUE(CCaptureTimeCode::Read(reinterpret_cast<const uint8_t*>(oLuma.data()) + size_t(i) * 1280 * 720,
                                           1280, 1, 1280, 720, o) &&
                    o.uiFrame == i && o.uiTimeUs == uiFirstUs + 16667ull * i)
            << i;
    }
}
