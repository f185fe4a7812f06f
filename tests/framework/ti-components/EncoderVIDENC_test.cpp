// CVideoEncoder: the record's checks, what the platform receives from SetParameters and
// SetParametersIdle, their listings on the log, and the failures of each platform call.
#include <gtest/gtest.h>

#include "AbortRecords.h"
#include "EncoderVIDENCTestSupport.h"
#include "OutputCapture.h"

namespace
{
const OMX_INDEXTYPE local_ePreset = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoEncoderPreset);
const OMX_INDEXTYPE local_eDynamic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVideoDynamicParams);

// What the platform component holds.
template <typename TStruct>
TStruct PlatformParam(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_U32 nPort, bool bConfig = false)
{
    TStruct oStruct;
    InitOmxStruct(oStruct, nPort);
    EXPECT_EQ(OMX_ErrorNone, bConfig ? OMX_GetConfig(hHandle, eIndex, &oStruct)
                                     : OMX_GetParameter(hHandle, eIndex, &oStruct));
    return oStruct;
}

// The names of the structures listed on the log, in order.
std::vector<std::string> Listings(const std::string& roLog)
{
    std::vector<std::string> aoNames;
    for (size_t uiPos = roLog.find("\nOMX_VIDEO_PARAM_"); uiPos != std::string::npos;
         uiPos = roLog.find("\nOMX_VIDEO_PARAM_", uiPos + 1))
        aoNames.push_back(roLog.substr(uiPos + 1, roLog.find('\n', uiPos + 1) - uiPos - 1));
    return aoNames;
}

size_t Occurrences(const std::string& roText, const std::string& roPiece)
{
    size_t uiCount = 0;
    for (size_t uiPos = roText.find(roPiece); uiPos != std::string::npos; uiPos = roText.find(roPiece, uiPos + 1))
        ++uiCount;
    return uiCount;
}

class EncoderVIDENC : public EncoderTest
{
protected:
    void SetUp() override
    {
        EncoderTest::SetUp();
        ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    }
    void TearDown() override
    {
        EXPECT_EQ(OMX_ErrorNone, m_oEncoder.Deinit());
        EncoderTest::TearDown();
    }

    // Runs SetParameters and SetParametersIdle at log level 1; their results, the log, and the
    // ABORT records.
    void Configure(const EncodingParam& roParam, OMX_ERRORTYPE& reSet, OMX_ERRORTYPE& reIdle)
    {
        EncodingParam oParam = roParam;
        ASSERT_EQ(OMX_ErrorNone, m_oEncoder.SetEncoderParams(oParam, 8, 8));
        m_oOther.clear();
        COutputCapture oOut(STDOUT_FILENO);
        m_aoAborts = CaptureAbortRecords(
            [&] {
                SetInfoMessageLevel(1);
                reSet = m_oEncoder.SetParameters();
                // (An armed fault is left for the wrapper's own call.)
                InitOmxStruct(m_oDynamicBeforeIdle, 1);
                if (PellixTest_PendingFaults() == 0)
                    OMX_GetConfig(Handle(), local_eDynamic, &m_oDynamicBeforeIdle);
                reIdle = reSet == OMX_ErrorNone ? m_oEncoder.SetParametersIdle() : OMX_ErrorNone;
                SetInfoMessageLevel(0);
            },
            m_oOther);
        m_oLog = oOut.Finish();
    }

    OMX_HANDLETYPE Handle() { return m_oEncoder.GetOMXHandle(); }

    CVideoEncoder m_oEncoder;
    OMX_VIDEO_PARAM_DYNAMICPARAMS m_oDynamicBeforeIdle;  // as the platform held them before SetParametersIdle
    std::string m_oLog;
    std::string m_oOther;
    std::vector<SAbortRecord> m_aoAborts;
};
} // namespace

TEST_F(EncoderTest, SetEncoderParamsRefusesBadRecordsSilentlyAndKeepsTheLastGoodOne)
{
    CVideoEncoder oEncoder;
    EncodingParam oGood = SystemRecord(1920, 1200, 8000000);
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetEncoderParams(oGood, 6, 7));
    EXPECT_EQ(6u, oEncoder.GetNumberOfInputBuffer());
    EXPECT_EQ(7u, oEncoder.GetNumberOfOutputBuffer());

    struct SCase
    {
        const char* szName;
        void (*pfnChange)(EncodingParam&);
        bool bAccepted;
    };
    const SCase aoCases[] = {
        {"wider than 1920", [](EncodingParam& ro) { ro.m_oFrameSize.m_uiCx = 1921; }, false},
        {"higher than 1200", [](EncodingParam& ro) { ro.m_oFrameSize.m_uiCy = 1201; }, false},
        {"4:2:2", [](EncodingParam& ro) { ro.m_ePixelFormat = OmxPixFmt_YUV422; }, false},
        {"no I interval", [](EncodingParam& ro) { ro.m_oGop.m_uiIFrameInterval = 0; }, false},
        {"no P interval", [](EncodingParam& ro) { ro.m_oGop.m_uiPFrameInterval = 0; }, false},
        {"P maximum 52", [](EncodingParam& ro) { ro.m_oRateCtl.m_bEnable = 1; ro.m_oRateCtl.m_uiQpMaxI = ro.m_oRateCtl.m_uiQpMaxB = 51; ro.m_oRateCtl.m_uiQpMaxP = 52; }, false},
        {"B maximum below minimum", [](EncodingParam& ro) { ro.m_oRateCtl.m_bEnable = 1; ro.m_oRateCtl.m_uiQpMaxI = ro.m_oRateCtl.m_uiQpMaxP = 51; ro.m_oRateCtl.m_uiQpMinB = 30; ro.m_oRateCtl.m_uiQpMaxB = 20; }, false},
        {"P maximum 52, limits off", [](EncodingParam& ro) { ro.m_oRateCtl.m_uiQpMaxP = 52; }, true},
        {"B maximum below minimum, limits off", [](EncodingParam& ro) { ro.m_oRateCtl.m_uiQpMinB = 30; ro.m_oRateCtl.m_uiQpMaxB = 20; }, true},
        {"tiny picture", [](EncodingParam& ro) { ro.m_oFrameSize = {2, 2}; }, true},
        {"limits on, all within 0..51", [](EncodingParam& ro) { ro.m_oRateCtl = {1, 10, 40, 12, 42, 14, 51, 1}; }, true},
    };
    for (const SCase& roCase : aoCases)
    {
        EncodingParam oParam = SystemRecord(1920, 1080, 4000000);
        roCase.pfnChange(oParam);
        COutputCapture oOut(STDOUT_FILENO);
        COutputCapture oErr(STDERR_FILENO);
        SetInfoMessageLevel(9);
        const OMX_ERRORTYPE eError = oEncoder.SetEncoderParams(oParam, 3, 4);
        SetInfoMessageLevel(0);
        const std::string oText = oOut.Finish() + oErr.Finish();
        if (roCase.bAccepted)
        {
            EXPECT_EQ(OMX_ErrorNone, eError) << roCase.szName;
            EXPECT_EQ(0, memcmp(&oParam, &oEncoder.GetEncoderParams(), sizeof(oParam))) << roCase.szName;
            oGood = oParam;
        }
        else
        {
            EXPECT_EQ(OMX_ErrorBadParameter, eError) << roCase.szName;
            EXPECT_TRUE(oText.empty()) << roCase.szName << ": " << oText;
            EXPECT_EQ(0, memcmp(&oGood, &oEncoder.GetEncoderParams(), sizeof(oGood))) << roCase.szName;
        }
    }
}

TEST_F(EncoderVIDENC, WorkedValuesOf1080p60ReachThePlatformAndTheLog)
{
    OMX_ERRORTYPE eSet = OMX_ErrorUndefined;
    OMX_ERRORTYPE eIdle = OMX_ErrorUndefined;
    Configure(SystemRecord(1920, 1080, 8000000), eSet, eIdle);
    ASSERT_EQ(OMX_ErrorNone, eSet);
    ASSERT_EQ(OMX_ErrorNone, eIdle);
    EXPECT_TRUE(m_aoAborts.empty()) << FormatAbortRecords(m_aoAborts) << m_oOther;

    const auto oInput = PlatformParam<OMX_PARAM_PORTDEFINITIONTYPE>(Handle(), OMX_IndexParamPortDefinition, 0);
    EXPECT_EQ(8u, oInput.nBufferCountActual);
    EXPECT_EQ(3110400u, oInput.nBufferSize);
    EXPECT_EQ(OMX_VIDEO_CodingUnused, oInput.format.video.eCompressionFormat);
    EXPECT_EQ(OMX_COLOR_FormatYUV420SemiPlanar, oInput.format.video.eColorFormat);
    EXPECT_EQ(1920u, oInput.format.video.nFrameWidth);
    EXPECT_EQ(1080u, oInput.format.video.nFrameHeight);
    EXPECT_EQ(3932160u, oInput.format.video.xFramerate);
    EXPECT_EQ(1920, oInput.format.video.nStride);
    const auto oOutput = PlatformParam<OMX_PARAM_PORTDEFINITIONTYPE>(Handle(), OMX_IndexParamPortDefinition, 1);
    EXPECT_EQ(8u, oOutput.nBufferCountActual);
    EXPECT_EQ(3110400u, oOutput.nBufferSize);
    EXPECT_EQ(OMX_VIDEO_CodingAVC, oOutput.format.video.eCompressionFormat);
    EXPECT_EQ(1920u, oOutput.format.video.nFrameWidth);
    EXPECT_EQ(1080u, oOutput.format.video.nFrameHeight);
    EXPECT_EQ(3932160u, oOutput.format.video.xFramerate);
    EXPECT_EQ(8000000u, oOutput.format.video.nBitrate);

    // The output allocates its buffers; the input adopts those of its feeder.
    EXPECT_TRUE(m_oEncoder.GetOutputPort().IsBufferProvider());
    EXPECT_EQ(8u, m_oEncoder.GetOutputPort().GetBufferCount());
    EXPECT_EQ(3110400u, m_oEncoder.GetOutputPort().GetPortBufferInfo().uiBufferSize);
    EXPECT_EQ(0, m_oEncoder.GetOutputPort().GetPortBufferInfo().eFormat);
    EXPECT_FALSE(m_oEncoder.GetInputPort().IsBufferProvider());

    const auto oPreset = PlatformParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(Handle(), local_ePreset, 1);
    EXPECT_EQ(OMX_Video_Enc_Med_Speed_High_Quality, oPreset.eEncodingModePreset);
    EXPECT_EQ(OMX_Video_RC_Low_Delay, oPreset.eRateControlPreset);
    const auto oAvc = PlatformParam<OMX_VIDEO_PARAM_AVCTYPE>(Handle(), OMX_IndexParamVideoAvc, 1);
    EXPECT_EQ(OMX_VIDEO_AVCProfileBaseline, oAvc.eProfile);
    EXPECT_EQ(OMX_VIDEO_AVCLevel42, oAvc.eLevel);
    EXPECT_EQ(89u, oAvc.nPFrames);
    EXPECT_EQ(0u, oAvc.nBFrames);
    // Without rate control the dynamic parameters go back as they were read.
    const auto oDynamicAfter = PlatformParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(Handle(), local_eDynamic, 1, true);
    EXPECT_EQ(0, memcmp(&m_oDynamicBeforeIdle, &oDynamicAfter, sizeof(oDynamicAfter)));
    EXPECT_EQ(8000000, oDynamicAfter.videoDynamicParams.videnc2DynamicParams.targetBitRate);
    EXPECT_EQ(IH264_RATECONTROLPARAMS_DEFAULTPRESET, oDynamicAfter.videoDynamicParams.rateControlParams.rateControlParamsPreset);

    // One listing after each write (and after the static read), in the order of the steps.
    EXPECT_EQ((std::vector<std::string>{"OMX_VIDEO_PARAM_ENCODER_PRESETTYPE", "OMX_VIDEO_PARAM_AVCTYPE",
                                        "OMX_VIDEO_PARAM_STATICPARAMS", "OMX_VIDEO_PARAM_DYNAMICPARAMS"}),
              Listings(m_oLog));
    for (const char* szLine :
         {"\nOMX_VIDEO_PARAM_ENCODER_PRESETTYPE\n{\n  nSize               = ",
          "  eEncodingModePreset = 5\n  eRateControlPreset  = 0\n}\n",
          "  eRateControlPreset  = 0\n", "\nOMX_VIDEO_PARAM_AVCTYPE\n{\n", "  nPFrames            = 89\n",
          "  nBFrames            = 0\n", "  eProfile            = 1\n", "  eLevel              = 8192\n",
          "  nPortIndex          = 1\n", "  IH264ENC_Params\n", "    IVIDENC2_Params\n", "      profile                 = 66\n",
          "      level                   = 42\n", "    IH264ENC_SliceCodingParams\n", "      sliceStartOffset[0]     = 34\n",
          "      sliceStartOffset[2]     = 0\n", "  IH264ENC_DynamicParams\n    IVIDENC2_DynamicParams\n",
          "      targetBitRate           = 8000000\n", "    IH264ENC_RateControlParams\n",
          "      rateControlParamsPreset = 0\n"})
        EXPECT_NE(std::string::npos, m_oLog.find(szLine)) << szLine << "\n" << m_oLog;
    EXPECT_EQ(4u, Occurrences(m_oLog, "\n{\n"));
    EXPECT_EQ(4u, Occurrences(m_oLog, "}\n"));
}

TEST_F(EncoderVIDENC, SizeGopAndRateControlChooseLevelProfileAndPresets)
{
    OMX_ERRORTYPE eSet = OMX_ErrorUndefined;
    OMX_ERRORTYPE eIdle = OMX_ErrorUndefined;

    // 1920 x 1200 is 2,304,000 pixels: level 5.
    Configure(SystemRecord(1920, 1200, 8000000), eSet, eIdle);
    ASSERT_EQ(OMX_ErrorNone, eSet);
    EXPECT_EQ(OMX_VIDEO_AVCLevel5, PlatformParam<OMX_VIDEO_PARAM_AVCTYPE>(Handle(), OMX_IndexParamVideoAvc, 1).eLevel);
    EXPECT_EQ(50, PlatformParam<OMX_VIDEO_PARAM_STATICPARAMS>(
                      Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoStaticParams), 1)
                      .videoStaticParams.videnc2Params.level);

    // B frames: Main profile, storage rate control; better speed.
    EncodingParam oParam = SystemRecord(1280, 720, 4000000);
    oParam.m_oGop.m_uiPFrameInterval = 3;
    oParam.m_eEncodingPreset = EncPre_BetterSpeed;
    Configure(oParam, eSet, eIdle);
    ASSERT_EQ(OMX_ErrorNone, eSet);
    auto oAvc = PlatformParam<OMX_VIDEO_PARAM_AVCTYPE>(Handle(), OMX_IndexParamVideoAvc, 1);
    EXPECT_EQ(2u, oAvc.nBFrames);
    EXPECT_EQ(OMX_VIDEO_AVCProfileMain, oAvc.eProfile);
    EXPECT_EQ(OMX_VIDEO_AVCLevel42, oAvc.eLevel);
    auto oPreset = PlatformParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(Handle(), local_ePreset, 1);
    EXPECT_EQ(OMX_Video_Enc_High_Speed_Med_Quality, oPreset.eEncodingModePreset);
    EXPECT_EQ(OMX_Video_RC_Storage, oPreset.eRateControlPreset);

    // Rate control on as well: High profile, the user-defined preset written after the other,
    // and the record's limits in the dynamic parameters.
    oParam.m_eEncodingPreset = EncPre_BetterQuality;
    oParam.m_oRateCtl = {1, 10, 40, 12, 42, 14, 51, 0x100};  // any bit of the truth value
    Configure(oParam, eSet, eIdle);
    ASSERT_EQ(OMX_ErrorNone, eSet);
    ASSERT_EQ(OMX_ErrorNone, eIdle);
    EXPECT_TRUE(m_aoAborts.empty()) << FormatAbortRecords(m_aoAborts) << m_oOther;
    oAvc = PlatformParam<OMX_VIDEO_PARAM_AVCTYPE>(Handle(), OMX_IndexParamVideoAvc, 1);
    EXPECT_EQ(OMX_VIDEO_AVCProfileHigh, oAvc.eProfile);
    oPreset = PlatformParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(Handle(), local_ePreset, 1);
    EXPECT_EQ(OMX_Video_Enc_User_Defined, oPreset.eEncodingModePreset);
    EXPECT_EQ(OMX_Video_RC_Storage, oPreset.eRateControlPreset);
    const size_t uiFirst = m_oLog.find("  eEncodingModePreset = 5\n");
    EXPECT_NE(std::string::npos, uiFirst);
    EXPECT_NE(std::string::npos, m_oLog.find("  eEncodingModePreset = 2\n", uiFirst)) << m_oLog;
    EXPECT_EQ((std::vector<std::string>{"OMX_VIDEO_PARAM_ENCODER_PRESETTYPE", "OMX_VIDEO_PARAM_ENCODER_PRESETTYPE",
                                        "OMX_VIDEO_PARAM_AVCTYPE", "OMX_VIDEO_PARAM_STATICPARAMS",
                                        "OMX_VIDEO_PARAM_DYNAMICPARAMS"}),
              Listings(m_oLog));
    const IH264ENC_RateControlParams oRate =
        PlatformParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(Handle(), local_eDynamic, 1, true).videoDynamicParams.rateControlParams;
    EXPECT_EQ(IH264_RATECONTROLPARAMS_USERDEFINED, oRate.rateControlParamsPreset);
    EXPECT_EQ(-1, oRate.qpI);
    EXPECT_EQ(-1, oRate.qpP);
    EXPECT_EQ(-1, oRate.qpOffsetB);
    EXPECT_EQ(10, oRate.qpMinI);
    EXPECT_EQ(40, oRate.qpMaxI);
    EXPECT_EQ(12, oRate.qpMinP);
    EXPECT_EQ(42, oRate.qpMaxP);
    EXPECT_EQ(14, oRate.qpMinB);
    EXPECT_EQ(51, oRate.qpMaxB);
    EXPECT_EQ(1, oRate.allowFrameSkip);
    EXPECT_NE(std::string::npos, m_oLog.find("      rateControlParamsPreset = 1\n      qpI                     = -1\n"));
}

TEST_F(EncoderVIDENC, FailingPlatformCallEndsTheStepWithItsAbortRecord)
{
    struct SCase
    {
        PellixFaultKind eKind;
        OMX_U32 uiIndex;
        bool bIdle;                // the fault hits SetParametersIdle
        size_t uiListings;         // listings written before the failure
    };
    const SCase aoCases[] = {
        {PellixFault_GetParameter, OMX_IndexParamPortDefinition, false, 0},
        {PellixFault_SetParameter, OMX_TI_IndexParamVideoEncoderPreset, false, 0},
        {PellixFault_SetParameter, OMX_IndexParamVideoAvc, false, 1},
        {PellixFault_GetParameter, OMX_TI_IndexParamVideoStaticParams, false, 2},
        {PellixFault_GetConfig, OMX_TI_IndexConfigVideoDynamicParams, true, 3},
        {PellixFault_SetConfig, OMX_TI_IndexConfigVideoDynamicParams, true, 3},
    };
    for (const SCase& roCase : aoCases)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(roCase.eKind, ENCODER_NAME, roCase.uiIndex, 1, OMX_ErrorHardware));
        OMX_ERRORTYPE eSet = OMX_ErrorUndefined;
        OMX_ERRORTYPE eIdle = OMX_ErrorUndefined;
        Configure(SystemRecord(1280, 720, 4000000), eSet, eIdle);
        EXPECT_EQ(roCase.bIdle ? OMX_ErrorNone : OMX_ErrorHardware, eSet) << roCase.uiIndex;
        EXPECT_EQ(roCase.bIdle ? OMX_ErrorHardware : OMX_ErrorNone, eIdle) << roCase.uiIndex;
        ASSERT_EQ(1u, m_aoAborts.size()) << FormatAbortRecords(m_aoAborts) << m_oOther;
        EXPECT_EQ("framework/ti-components/EncoderVIDENC", m_aoAborts[0].oFile);
        EXPECT_EQ(roCase.bIdle ? "SetParametersIdle" : "SetParameters", m_aoAborts[0].oFunction);
        EXPECT_EQ("OMX_ErrorHardware", m_aoAborts[0].oError);
        EXPECT_TRUE(AbortRecordPointsAtCheck(m_aoAborts[0], PELLIX_SOURCE_DIR));
        // The later steps were skipped: no listing of theirs.
        EXPECT_EQ(roCase.uiListings, Listings(m_oLog).size()) << roCase.uiIndex << "\n" << m_oLog;
        EXPECT_EQ(0u, PellixTest_PendingFaults());
    }

    // A record that passes the wrapper's checks but not the platform's: no frame rate.
    EncodingParam oParam = SystemRecord(1280, 720, 4000000);
    oParam.m_uiFrameRate = 0;
    OMX_ERRORTYPE eSet = OMX_ErrorUndefined;
    OMX_ERRORTYPE eIdle = OMX_ErrorUndefined;
    Configure(oParam, eSet, eIdle);
    EXPECT_EQ(OMX_ErrorBadParameter, eSet);
    ASSERT_EQ(1u, m_aoAborts.size());
    EXPECT_EQ("OMX_ErrorBadParameter", m_aoAborts[0].oError);
}

TEST_F(EncoderTest, InitWithoutAPlatformComponentFailsAndDeinitStillSucceeds)
{
    CVideoEncoder oEncoder;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, nullptr, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorInsufficientResources));
    std::string oOther;
    const auto aoAborts = CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oEncoder.Init()); },
                                              oOther);
    ASSERT_EQ(2u, aoAborts.size()) << FormatAbortRecords(aoAborts);
    EXPECT_EQ("Init", aoAborts[1].oFunction);
    EXPECT_EQ("framework/ti-components/EncoderVIDENC", aoAborts[1].oFile);
    EXPECT_EQ(nullptr, oEncoder.GetOMXHandle());
    EXPECT_EQ(OMX_ErrorNone, oEncoder.Deinit());
}
