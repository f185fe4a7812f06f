// What the encoder component makes of the test pattern, read back byte by byte and by real
// decoders: buffer layout and flags, picture pattern, profiles, quantiser limits, back-pressure,
// end of stream, dropped pictures.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "CAnnexBStream.h"
#include "CEncoderTestDriver.h"
#include "CStreamProbe.h"
#include "EngineTestSupport.h"
#include "TempDir.h"

namespace
{
class H264EncoderStream : public CEngineTest
{
protected:
    // Encodes uiFrames pictures and writes the stream to a file of the test folder.
    std::string EncodeToFile(const SEncoderSetup& roSetup, unsigned uiFrames, const char* szName)
    {
        EXPECT_EQ(OMX_ErrorNone, m_oDriver.Configure(roSetup));
        EXPECT_TRUE(m_oDriver.Encode(uiFrames));
        const std::string oPath = (m_oDir.Path() / szName).string();
        EXPECT_TRUE(m_oDriver.WriteStream(oPath));
        return oPath;
    }

    static std::vector<CAnnexBStream::SNalUnit> Units(const SEncodedBuffer& roBuffer)
    {
        std::vector<CAnnexBStream::SNalUnit> aoUnits;
        EXPECT_TRUE(CAnnexBStream::Split(reinterpret_cast<const uint8_t*>(roBuffer.oData.data()),
                                         roBuffer.oData.size(), aoUnits));
        return aoUnits;
    }

    // Average bits per second of the access units at the setup's frame rate.
    static double BitRate(const std::vector<SEncodedBuffer>& raoOutputs, unsigned uiFrameRate)
    {
        size_t uiBytes = 0;
        size_t uiPictures = 0;
        for (const SEncodedBuffer& roBuffer : raoOutputs)
        {
            if ((roBuffer.nFlags & OMX_BUFFERFLAG_CODECCONFIG) == 0 && !roBuffer.oData.empty())
            {
                uiBytes += roBuffer.oData.size();
                ++uiPictures;
            }
        }
        return uiPictures == 0 ? 0.0 : uiBytes * 8.0 * uiFrameRate / uiPictures;
    }

    // Quantiser limits iMin..iMax for every picture type, through the dynamic parameters.
    OMX_ERRORTYPE SetLimits(int iMin, int iMax)
    {
        OMX_VIDEO_PARAM_DYNAMICPARAMS oDynamic;
        InitStruct(oDynamic, 1);
        const OMX_INDEXTYPE eDynamic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVideoDynamicParams);
        const OMX_ERRORTYPE eError = OMX_GetConfig(m_oDriver.Handle(), eDynamic, &oDynamic);
        if (eError != OMX_ErrorNone)
            return eError;
        IH264ENC_RateControlParams& roRate = oDynamic.videoDynamicParams.rateControlParams;
        roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        roRate.qpMinI = roRate.qpMinP = roRate.qpMinB = static_cast<OMX_S8>(iMin);
        roRate.qpMaxI = roRate.qpMaxP = roRate.qpMaxB = static_cast<OMX_S8>(iMax);
        return OMX_SetConfig(m_oDriver.Handle(), eDynamic, &oDynamic);
    }

    CEncoderTestDriver m_oDriver;
    CTempDir m_oDir;
};
} // namespace

TEST_F(H264EncoderStream, BaselineStreamHasParameterSetsFirstThenOneAccessUnitPerBuffer)
{
    SEncoderSetup oSetup;
    oSetup.uiKeyInterval = 30;
    const unsigned uiFrames = 75;
    const std::string oPath = EncodeToFile(oSetup, uiFrames, "baseline.h264");
    const std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    OMX_VIDEO_PARAM_STATICPARAMS oStatic;
    InitStruct(oStatic, 1);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(m_oDriver.Handle(),
                                              static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoStaticParams), &oStatic));
    const unsigned uiSecondSlice = static_cast<unsigned>(oStatic.videoStaticParams.sliceCodingParams.sliceStartOffset[0]);
    EXPECT_EQ(12u, uiSecondSlice);  // 23 macroblock rows: 12 and 11
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());

    // The parameter sets alone, stamped with the first picture's time.
    const auto aoHead = Units(aoOutputs[0]);
    ASSERT_EQ(2u, aoHead.size());
    EXPECT_EQ(unsigned(CAnnexBStream::NalType_Sps), aoHead[0].uiType);
    EXPECT_EQ(unsigned(CAnnexBStream::NalType_Pps), aoHead[1].uiType);
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), aoOutputs[0].nFlags);
    EXPECT_EQ(m_oDriver.TimeStamp(0), aoOutputs[0].nTimeStamp);

    for (unsigned i = 0; i < uiFrames; ++i)
    {
        const SEncodedBuffer& roBuffer = aoOutputs[i + 1];
        const bool bIdr = i % oSetup.uiKeyInterval == 0;
        const auto aoUnits = Units(roBuffer);
        ASSERT_FALSE(aoUnits.empty());
        // Slices only: two per picture (one per slice thread), all of the same kind.
        EXPECT_EQ(2u, aoUnits.size()) << "picture " << i;
        for (const auto& roUnit : aoUnits)
            EXPECT_EQ(unsigned(bIdr ? CAnnexBStream::NalType_IdrSlice : CAnnexBStream::NalType_Slice), roUnit.uiType)
                << "picture " << i;
        EXPECT_EQ(0u, CAnnexBStream::FirstMbInSlice(aoUnits[0]));
        EXPECT_EQ(uiSecondSlice * 40, CAnnexBStream::FirstMbInSlice(aoUnits.back()));
        const OMX_U32 nExpected = OMX_BUFFERFLAG_ENDOFFRAME | (bIdr ? OMX_BUFFERFLAG_SYNCFRAME : 0) |
                                  (i + 1 == uiFrames ? OMX_BUFFERFLAG_EOS : 0);
        EXPECT_EQ(nExpected, roBuffer.nFlags) << "picture " << i;
        EXPECT_EQ(m_oDriver.TimeStamp(i), roBuffer.nTimeStamp) << "picture " << i;
    }

    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
    EXPECT_EQ(640u, oProbe.uiWidth);
    EXPECT_EQ(360u, oProbe.uiHeight);
    EXPECT_EQ("Constrained Baseline", oProbe.oProfile);
    EXPECT_EQ(42, oProbe.iLevel);
    ASSERT_EQ(uiFrames, oProbe.abKeyFrame.size());
    std::vector<uint64_t> auiCounters;
    ASSERT_TRUE(CStreamProbe::DecodeCounters(oPath, 640, auiCounters));
    ASSERT_EQ(uiFrames, auiCounters.size());
    for (unsigned i = 0; i < uiFrames; ++i)
    {
        EXPECT_EQ(i % oSetup.uiKeyInterval == 0, oProbe.abKeyFrame[i]) << "picture " << i;
        EXPECT_EQ(i, auiCounters[i]);
    }
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesEncoded));
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesConsumed));
}

TEST_F(H264EncoderStream, MainProfileWithBPicturesComesOutReorderedAndWhole)
{
    SEncoderSetup oSetup;
    oSetup.eProfile = OMX_VIDEO_AVCProfileMain;
    oSetup.uiBFrames = 2;
    oSetup.uiKeyInterval = 24;
    oSetup.eRateControlPreset = OMX_Video_RC_Storage;
    const unsigned uiFrames = 60;
    const std::string oPath = EncodeToFile(oSetup, uiFrames, "main.h264");
    const std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    EXPECT_NE(0u, aoOutputs[0].nFlags & OMX_BUFFERFLAG_CODECCONFIG);

    // Every picture's timestamp comes out once, in coding order; the end of stream comes last,
    // after the pictures the codec held.
    std::multiset<OMX_TICKS> oStamps;
    bool bReordered = false;
    for (size_t i = 1; i < aoOutputs.size(); ++i)
    {
        oStamps.insert(aoOutputs[i].nTimeStamp);
        bReordered = bReordered || (i > 1 && aoOutputs[i].nTimeStamp < aoOutputs[i - 1].nTimeStamp);
        EXPECT_EQ(i + 1 == aoOutputs.size(), (aoOutputs[i].nFlags & OMX_BUFFERFLAG_EOS) != 0) << i;
        EXPECT_EQ(aoOutputs[i].nTimeStamp % (24 * 1000000 / 60) == 0,
                  (aoOutputs[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0);
    }
    EXPECT_TRUE(bReordered);
    std::multiset<OMX_TICKS> oSent;
    for (unsigned i = 0; i < uiFrames; ++i)
        oSent.insert(m_oDriver.TimeStamp(i));
    EXPECT_EQ(oSent, oStamps);

    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
    EXPECT_EQ("Main", oProbe.oProfile);
    EXPECT_NE(std::string::npos, oProbe.oPictureTypes.find('B')) << oProbe.oPictureTypes;
    std::vector<uint64_t> auiCounters;
    ASSERT_TRUE(CStreamProbe::DecodeCounters(oPath, 640, auiCounters));
    ASSERT_EQ(uiFrames, auiCounters.size());
    ASSERT_EQ(uiFrames, oProbe.abKeyFrame.size());
    for (unsigned i = 0; i < uiFrames; ++i)
    {
        EXPECT_EQ(i, auiCounters[i]);
        EXPECT_EQ(i % oSetup.uiKeyInterval == 0, oProbe.abKeyFrame[i]) << "picture " << i;
    }
}

TEST_F(H264EncoderStream, QuantiserLimitsOverruleTheBitRate)
{
    SEncoderSetup oSetup;
    oSetup.eProfile = OMX_VIDEO_AVCProfileHigh;
    oSetup.eEncodingPreset = OMX_Video_Enc_User_Defined;
    oSetup.bQpLimits = true;
    const unsigned uiFrames = 30;

    // Coarse quantisers only: far below a generous target.
    oSetup.uiBitRate = 8000000;
    oSetup.iQpMin = 45;
    const std::string oCoarse = EncodeToFile(oSetup, uiFrames, "coarse.h264");
    const double dCoarse = BitRate(m_oDriver.Outputs(), oSetup.uiFrameRate);
    EXPECT_LT(dCoarse, 0.5 * oSetup.uiBitRate);

    // Fine quantisers only: far above a meagre target.
    oSetup.uiBitRate = 200000;
    oSetup.iQpMin = 0;
    oSetup.iQpMax = 15;
    const std::string oFine = EncodeToFile(oSetup, uiFrames, "fine.h264");
    const double dFine = BitRate(m_oDriver.Outputs(), oSetup.uiFrameRate);
    EXPECT_GT(dFine, 2.0 * oSetup.uiBitRate);

    for (const std::string& roPath : {oCoarse, oFine})
    {
        std::string oErrors;
        EXPECT_TRUE(CStreamProbe::DecodesCleanly(roPath, oErrors)) << oErrors;
        SStreamProbe oProbe;
        ASSERT_TRUE(CStreamProbe::Probe(roPath, oProbe));
        EXPECT_EQ("High", oProbe.oProfile);
        EXPECT_EQ(uiFrames, oProbe.abKeyFrame.size());
    }
}

TEST_F(H264EncoderStream, NewLimitsWhileRunningRestartTheCodingWithAnIdrPicture)
{
    SEncoderSetup oSetup;
    oSetup.uiKeyInterval = 1000;
    oSetup.uiOutputBuffers = 4;
    const unsigned uiFrames = 12;
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(oSetup));
    m_oDriver.HoldOutputs(true);
    ASSERT_TRUE(m_oDriver.Start(uiFrames));
    // The parameter sets and three pictures; then the encoder waits for an output buffer.
    ASSERT_TRUE(m_oDriver.WaitOutputs(4));

    ASSERT_EQ(OMX_ErrorNone, SetLimits(40, 51));
    m_oDriver.HoldOutputs(false);
    m_oDriver.ReleaseHeld();
    ASSERT_TRUE(m_oDriver.WaitEndOfStream());
    ASSERT_TRUE(m_oDriver.Stop());

    const std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    for (size_t i = 1; i < aoOutputs.size(); ++i)
    {
        // Pictures 0 and 3 are IDR pictures; the parameter sets did not change and came once.
        EXPECT_EQ(i == 1 || i == 4, (aoOutputs[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0) << i;
        EXPECT_EQ(0u, aoOutputs[i].nFlags & OMX_BUFFERFLAG_CODECCONFIG);
        EXPECT_EQ(i == 1 || i == 4, Units(aoOutputs[i])[0].uiType == CAnnexBStream::NalType_IdrSlice) << i;
    }
    const std::string oPath = (m_oDir.Path() / "restart.h264").string();
    ASSERT_TRUE(m_oDriver.WriteStream(oPath));
    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
    std::vector<uint64_t> auiCounters;
    ASSERT_TRUE(CStreamProbe::DecodeCounters(oPath, 640, auiCounters));
    EXPECT_EQ(uiFrames, auiCounters.size());
}

TEST_F(H264EncoderStream, NewLimitsBeforeTheFirstPictureStillLetTheStreamBeginWithItsParameterSets)
{
    const unsigned uiFrames = 5;
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(SEncoderSetup()));
    // A first stream sends the same parameter sets as the second will.
    ASSERT_TRUE(m_oDriver.Encode(uiFrames));
    // Pictures wait for output buffers; the new limits come first.
    ASSERT_TRUE(m_oDriver.Start(uiFrames, false));
    ASSERT_EQ(OMX_ErrorNone, SetLimits(30, 51));
    ASSERT_TRUE(m_oDriver.SubmitOutputs());
    ASSERT_TRUE(m_oDriver.WaitEndOfStream());
    ASSERT_TRUE(m_oDriver.Stop());
    const std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(uiFrames + 1, aoOutputs.size());
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), aoOutputs[0].nFlags);
    const std::string oPath = (m_oDir.Path() / "limits.h264").string();
    ASSERT_TRUE(m_oDriver.WriteStream(oPath));
    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
}

TEST_F(H264EncoderStream, HoldsItsInputWhileNoOutputBufferIsFree)
{
    SEncoderSetup oSetup;
    oSetup.uiInputBuffers = 4;
    oSetup.uiOutputBuffers = 2;
    const unsigned uiFrames = 10;
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(oSetup));
    m_oDriver.HoldOutputs(true);
    ASSERT_TRUE(m_oDriver.Start(uiFrames));
    // The parameter sets and the first picture fill both output buffers.
    ASSERT_TRUE(m_oDriver.WaitOutputs(2));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(2u, m_oDriver.Outputs().size());
    EXPECT_EQ(1u, m_oDriver.Client().ReturnedCount(0));
    EXPECT_EQ(1u, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesConsumed));

    // Each output buffer handed back lets one more picture through.
    m_oDriver.ReleaseHeld();
    ASSERT_TRUE(m_oDriver.WaitOutputs(4));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(4u, m_oDriver.Outputs().size());
    EXPECT_EQ(3u, m_oDriver.Client().ReturnedCount(0));

    m_oDriver.HoldOutputs(false);
    m_oDriver.ReleaseHeld();
    ASSERT_TRUE(m_oDriver.WaitEndOfStream());
    ASSERT_TRUE(m_oDriver.Stop());
    EXPECT_EQ(uiFrames + 1, m_oDriver.Outputs().size());
}

TEST_F(H264EncoderStream, RestartedStreamBeginsWithItsOwnParameterSets)
{
    SEncoderSetup oSetup;
    const std::string oFirst = EncodeToFile(oSetup, 10, "first.h264");
    oSetup.uiWidth = 320;
    oSetup.uiHeight = 240;
    oSetup.eProfile = OMX_VIDEO_AVCProfileHigh;
    const std::string oSecond = EncodeToFile(oSetup, 10, "second.h264");
    const std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(11u, aoOutputs.size());
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), aoOutputs[0].nFlags);
    EXPECT_NE(0u, aoOutputs[1].nFlags & OMX_BUFFERFLAG_SYNCFRAME);
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oSecond, oProbe));
    EXPECT_EQ(320u, oProbe.uiWidth);
    EXPECT_EQ("High", oProbe.oProfile);
    EXPECT_EQ(10u, oProbe.abKeyFrame.size());
    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oFirst, oErrors)) << oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oSecond, oErrors)) << oErrors;
}

TEST_F(H264EncoderStream, WhatCannotBeDeliveredWhole)
{
    // Output buffers too small for any picture: each is dropped with an overflow error; the end
    // of stream still arrives, in an empty buffer.
    SEncoderSetup oSetup;
    oSetup.uiOutputBufferSize = 64;
    const unsigned uiFrames = 5;
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(oSetup));
    ASSERT_TRUE(m_oDriver.Encode(uiFrames));
    std::vector<SEncodedBuffer> aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(2u, aoOutputs.size());
    EXPECT_NE(0u, aoOutputs[0].nFlags & OMX_BUFFERFLAG_CODECCONFIG);
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_EOS), aoOutputs[1].nFlags);
    EXPECT_TRUE(aoOutputs[1].oData.empty());
    EXPECT_EQ(uiFrames, m_oDriver.Client().CountEvents(OMX_EventError, OMX_ErrorOverflow, 1));
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesDropped));

    // Input buffers shorter than a picture go back uncoded; without a picture the stream does
    // not even begin: no parameter sets, only the end of stream.
    PellixTest_Reset();
    oSetup.uiOutputBufferSize = 0;
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(oSetup));
    m_oDriver.ShortFrames(true);
    ASSERT_TRUE(m_oDriver.Encode(uiFrames));
    aoOutputs = m_oDriver.Outputs();
    ASSERT_EQ(1u, aoOutputs.size());
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_EOS), aoOutputs[0].nFlags);
    EXPECT_TRUE(aoOutputs[0].oData.empty());
    EXPECT_EQ(uiFrames, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesDropped));
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_ENCODER_NAME, PellixCounter_FramesEncoded));
}

TEST_F(H264EncoderStream, UnusualPicturePatternsStillGiveWholeDecodableStreams)
{
    struct SCase
    {
        unsigned uiKeyInterval;
        unsigned uiBFrames;
    };
    // All intra (B pictures then mean nothing), more B pictures than fit between two IDR
    // pictures, and the longest B run.
    for (const SCase& roCase : {SCase{1, 0}, SCase{1, 3}, SCase{2, 3}, SCase{20, 16}})
    {
        SEncoderSetup oSetup;
        oSetup.uiWidth = 320;
        oSetup.uiHeight = 180;
        oSetup.eProfile = roCase.uiBFrames > 0 ? OMX_VIDEO_AVCProfileMain : OMX_VIDEO_AVCProfileBaseline;
        oSetup.uiKeyInterval = roCase.uiKeyInterval;
        oSetup.uiBFrames = roCase.uiBFrames;
        const unsigned uiFrames = 40;
        const std::string oPath = EncodeToFile(oSetup, uiFrames, "pattern.h264");
        ASSERT_EQ(uiFrames + 1, m_oDriver.Outputs().size()) << roCase.uiKeyInterval << "/" << roCase.uiBFrames;
        std::string oErrors;
        EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
        SStreamProbe oProbe;
        ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
        ASSERT_EQ(uiFrames, oProbe.abKeyFrame.size());
        for (unsigned i = 0; i < uiFrames; ++i)
            EXPECT_EQ(i % roCase.uiKeyInterval == 0, oProbe.abKeyFrame[i])
                << roCase.uiKeyInterval << "/" << roCase.uiBFrames << " picture " << i;
    }
}
