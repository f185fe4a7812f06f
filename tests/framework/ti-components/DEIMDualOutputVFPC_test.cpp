// CDEIMDualOutput on the platform stand-in: argument checks, the values it sends the platform,
// failures at each platform call, and the graph capture -> deinterlacer -> two sinks from start
// to stop for progressive, scaled and interlaced input, with an image of each output written to
// the build's artifacts folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "Eventually.h"
#include "OutputCapture.h"
#include "TestPicture.h"
#include "VideoWrapperTestSupport.h"
#include "base-omx.h"
#include "ti-components/CaptureVFCC.h"
#include "ti-components/DEIMDualOutputVFPC.h"
#include "ti814x-omx.h"

namespace
{
const std::string local_oFile = "framework/ti-components/DEIMDualOutputVFPC/";

class DEIMDualOutputTest : public VideoWrapperTest
{
};

// Fields of 1080i in, 1080p 4:2:2 and 720p 4:2:0 out.
OMX_ERRORTYPE SetInterlacedParams(CDEIMDualOutput& roDei, MUINT uiNbBufferIn = 4, MUINT uiNbBufferPriOut = 3,
                                  MUINT uiNbBufferSecOut = 5)
{
    return roDei.SetDeiParams({1920, 1080}, {1920, 1080}, {1280, 720}, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                              OmxPixFmt_YUV420, true, uiNbBufferIn, uiNbBufferPriOut, uiNbBufferSecOut, false);
}

OMX_PARAM_PORTDEFINITIONTYPE PortDefinition(CDEIMDualOutput& roDei, OMX_U32 nPort)
{
    return ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(roDei.GetOMXHandle(), OMX_IndexParamPortDefinition, nPort);
}

OMX_U32 SubSamplingFactor(OMX_HANDLETYPE hDei)
{
    return ReadConfig<OMX_CONFIG_SUBSAMPLING_FACTOR>(hDei, OMX_TI_IndexConfigSubSamplingFactor).nSubSamplingFactor;
}

OMX_CONFIG_VIDCHANNEL_RESOLUTION Resolution(CDEIMDualOutput& roDei, OMX_DIRTYPE eDir)
{
    OMX_CONFIG_VIDCHANNEL_RESOLUTION oResolution;
    InitStruct(oResolution);
    oResolution.eDir = eDir;
    const OMX_INDEXTYPE eIndex = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVidChResolution);
    EXPECT_EQ(OMX_ErrorNone, OMX_GetConfig(roDei.GetOMXHandle(), eIndex, &oResolution));
    return oResolution;
}
} // namespace

TEST_F(DEIMDualOutputTest, SetDeiParamsRefusesBadArgumentsSilentlyAndKeepsTheLast)
{
    CDEIMDualOutput oDei;
    ASSERT_EQ(OMX_ErrorNone, oDei.Init());
    ASSERT_EQ(OMX_ErrorNone, SetInterlacedParams(oDei));
    const MSIZE32 oGood = {1280, 720};
    const OmxPixelFormat eGood = OmxPixFmt_YUV420;
    const MSIZE32 aoBadSizes[] = {{1920, 1201}, {639, 480}, {1921, 1080}, {640, 479}};
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    COutputCapture oErr(STDERR_FILENO);
    for (unsigned uiWhich = 0; uiWhich < 3; ++uiWhich)
    {
        for (const MSIZE32& roBad : aoBadSizes)
            EXPECT_EQ(OMX_ErrorBadParameter,
                      oDei.SetDeiParams(uiWhich == 0 ? roBad : oGood, uiWhich == 1 ? roBad : oGood,
                                        uiWhich == 2 ? roBad : oGood, eGood, eGood, eGood, false, 2, 2, 2, true));
        EXPECT_EQ(OMX_ErrorBadParameter,
                  oDei.SetDeiParams(oGood, oGood, oGood, uiWhich == 0 ? OmxPixFmt_RGB888 : eGood,
                                    uiWhich == 1 ? OmxPixFmt_RGB888 : eGood, uiWhich == 2 ? OmxPixFmt_RGB888 : eGood,
                                    false, 2, 2, 2, true));
    }
    EXPECT_EQ("", oOut.Finish());
    EXPECT_EQ("", oErr.Finish());
    SetInfoMessageLevel(0);

    // The interlaced configuration is still the one sent.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_EQ(540u, PortDefinition(oDei, 0).format.video.nFrameHeight);
    EXPECT_EQ(720u, PortDefinition(oDei, 17).format.video.nFrameHeight);
    EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
}

TEST_F(DEIMDualOutputTest, SendsItsConfigurationToThePlatform)
{
    CDEIMDualOutput oDei;
    ASSERT_EQ(OMX_ErrorNone, oDei.Init());
    const OMX_HANDLETYPE hDei = oDei.GetOMXHandle();

    // 1080i from upstream buffers: fields of 540 lines, twice the buffers.
    ASSERT_EQ(OMX_ErrorNone, SetInterlacedParams(oDei));
    OMX_PARAM_PORTDEFINITIONTYPE oInputSent;
    {
        CPlatformCallFaults oCalls({hDei}, 0, OMX_ErrorNone);
        ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
        // The platform keeps alignment and contiguity its own: what was asked is seen on the way.
        const CPlatformCallFaults::SCall& roSet = oCalls.Calls().at(5);
        ASSERT_EQ("SetParameter", roSet.oKind);
        ASSERT_EQ(OMX_IndexParamPortDefinition, roSet.uiIndex);
        ASSERT_EQ(0u, roSet.uiParam);
        ASSERT_EQ(sizeof(oInputSent), roSet.aucStruct.size());
        memcpy(&oInputSent, roSet.aucStruct.data(), sizeof(oInputSent));
    }
    EXPECT_EQ(OMX_FALSE, oInputSent.bBuffersContiguous);
    EXPECT_EQ(0u, oInputSent.nBufferAlignment);
    EXPECT_EQ(2u, SubSamplingFactor(hDei));
    for (OMX_U32 nPort : {0, 16, 17})
        EXPECT_EQ(OMX_BUFFER_MEMORY_DEFAULT,
                  ReadParam<OMX_PARAM_BUFFER_MEMORYTYPE>(hDei, OMX_TI_IndexParamBuffMemType, nPort).eBufMemoryType);
    const OMX_PARAM_PORTDEFINITIONTYPE oInput = PortDefinition(oDei, 0);
    EXPECT_EQ(1920u, oInput.format.video.nFrameWidth);
    EXPECT_EQ(540u, oInput.format.video.nFrameHeight);
    EXPECT_EQ(3840, oInput.format.video.nStride);
    EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oInput.format.video.eColorFormat);
    EXPECT_EQ(2073600u, oInput.nBufferSize);
    EXPECT_EQ(8u, oInput.nBufferCountActual);
    // The primary's buffers hold 1088 lines, its picture 1080.
    const OMX_PARAM_PORTDEFINITIONTYPE oPrimary = PortDefinition(oDei, 16);
    EXPECT_EQ(1080u, oPrimary.format.video.nFrameHeight);
    EXPECT_EQ(3840, oPrimary.format.video.nStride);
    EXPECT_EQ(4177920u, oPrimary.nBufferSize);
    EXPECT_EQ(3u, oPrimary.nBufferCountActual);
    const OMX_PARAM_PORTDEFINITIONTYPE oSecondary = PortDefinition(oDei, 17);
    EXPECT_EQ(1280u, oSecondary.format.video.nFrameWidth);
    EXPECT_EQ(720u, oSecondary.format.video.nFrameHeight);
    EXPECT_EQ(1280, oSecondary.format.video.nStride);
    EXPECT_EQ(OMX_COLOR_FormatYUV420SemiPlanar, oSecondary.format.video.eColorFormat);
    EXPECT_EQ(1280u * 720 * 3 / 2, oSecondary.nBufferSize);
    EXPECT_EQ(5u, oSecondary.nBufferCountActual);
    EXPECT_EQ(1u, ReadParam<OMX_PARAM_VFPC_NUMCHANNELPERHANDLE>(hDei, OMX_TI_IndexParamVFPCNumChPerHandle)
                      .nNumChannelsPerHandle);
    const OMX_CONFIG_VIDCHANNEL_RESOLUTION oIn = Resolution(oDei, OMX_DirInput);
    EXPECT_EQ(1920u, oIn.Frm0Width);
    EXPECT_EQ(540u, oIn.Frm0Height);
    EXPECT_EQ(3840u, oIn.Frm0Pitch);
    EXPECT_EQ(0u, oIn.FrmStartX + oIn.FrmStartY + oIn.Frm1Width + oIn.Frm1Height + oIn.Frm1Pitch);
    EXPECT_EQ(1920u, oIn.FrmCropWidth);
    EXPECT_EQ(540u, oIn.FrmCropHeight);
    const OMX_CONFIG_VIDCHANNEL_RESOLUTION oOut = Resolution(oDei, OMX_DirOutput);
    EXPECT_EQ(1920u, oOut.Frm0Width);
    EXPECT_EQ(1080u, oOut.Frm0Height);
    EXPECT_EQ(3840u, oOut.Frm0Pitch);
    EXPECT_EQ(1280u, oOut.Frm1Width);
    EXPECT_EQ(720u, oOut.Frm1Height);
    EXPECT_EQ(1280u, oOut.Frm1Pitch);
    EXPECT_EQ(0u, oOut.FrmStartX + oOut.FrmStartY + oOut.FrmCropWidth + oOut.FrmCropHeight);
    EXPECT_EQ(OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT,
              ReadConfig<OMX_CONFIG_RESOLUTIONCHANGE_TYPE>(hDei, OMX_TI_IndexConfigResolutionChangeType)
                  .eResolutionChangeType);
    EXPECT_EQ(OMX_FALSE, ReadConfig<OMX_CONFIG_ALG_ENABLE>(hDei, OMX_TI_IndexConfigAlgEnable).bAlgBypass);

    // 720 x 480 interlaced from 6 upstream buffers: 12 fields of 720 x 240.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams({720, 480}, {1280, 720}, {720, 480}, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV422, OmxPixFmt_YUV420, true, 6, 4, 4, false));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_EQ(12u, PortDefinition(oDei, 0).nBufferCountActual);
    EXPECT_EQ(240u, PortDefinition(oDei, 0).format.video.nFrameHeight);
    // A 720-line primary gets buffers for 736 lines.
    EXPECT_EQ(720u, PortDefinition(oDei, 16).format.video.nFrameHeight);
    EXPECT_EQ(1280u * 736 * 2, PortDefinition(oDei, 16).nBufferSize);

    // Progressive, buffers of its own: whole frames, no deinterlacing.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams({1024, 768}, {1920, 1080}, {1024, 768}, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV422, OmxPixFmt_YUV420, false, 4, 4, 4, true));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_EQ(4u, PortDefinition(oDei, 0).nBufferCountActual);
    EXPECT_EQ(768u, PortDefinition(oDei, 0).format.video.nFrameHeight);
    EXPECT_EQ(1024u * 768 * 2, PortDefinition(oDei, 0).nBufferSize);
    EXPECT_EQ(1u, SubSamplingFactor(hDei));
    EXPECT_EQ(OMX_TRUE, ReadConfig<OMX_CONFIG_ALG_ENABLE>(hDei, OMX_TI_IndexConfigAlgEnable).bAlgBypass);
    EXPECT_EQ(768u, Resolution(oDei, OMX_DirInput).FrmCropHeight);
    EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
}

TEST_F(DEIMDualOutputTest, FailsCleanlyAtEachPlatformCall)
{
    const std::string oBase = "framework/base-components/OMXClassComponent/";
    {
        CDEIMDualOutput oDei;
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT",
                                                        PELLIX_ANY_INDEX, 1, OMX_ErrorHardware));
        EXPECT_EQ((std::vector<std::string>{oBase + "Init/OMX_ErrorHardware", local_oFile + "Init/OMX_ErrorHardware"}),
                  AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oDei.Init()); }));
        EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
    }
    // Each port's enabling, then each call of SetParameters.
    for (bool bSetParameters : {false, true})
    {
        const size_t uiCalls = bSetParameters ? 15 : 3;
        for (size_t uiFailAt = 1; uiFailAt <= uiCalls; ++uiFailAt)
        {
            SCOPED_TRACE(testing::Message() << (bSetParameters ? "SetParameters" : "CreatePorts") << " call "
                                            << uiFailAt);
            CDEIMDualOutput oDei;
            ASSERT_EQ(OMX_ErrorNone, oDei.Init());
            ASSERT_EQ(OMX_ErrorNone, SetInterlacedParams(oDei));
            std::vector<std::string> aoKeys;
            {
                CPlatformCallFaults oCalls({oDei.GetOMXHandle()}, uiFailAt, OMX_ErrorHardware);
                aoKeys = AbortKeys([&] {
                    EXPECT_EQ(OMX_ErrorHardware, bSetParameters ? oDei.SetParameters() : oDei.CreatePorts());
                });
                ASSERT_EQ(uiFailAt, oCalls.Calls().size());
            }
            const std::string oOperation = bSetParameters ? "SetParameters" : "CreatePorts";
            ASSERT_FALSE(aoKeys.empty());
            EXPECT_EQ(local_oFile + oOperation + "/OMX_ErrorHardware", aoKeys.back());
            EXPECT_EQ(std::vector<std::string>(), AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oDei.Deinit()); }));
        }
    }
    // Every call of a clean run was one of them.
    CDEIMDualOutput oDei;
    ASSERT_EQ(OMX_ErrorNone, oDei.Init());
    ASSERT_EQ(OMX_ErrorNone, SetInterlacedParams(oDei));
    {
        CPlatformCallFaults oCalls({oDei.GetOMXHandle()}, 0, OMX_ErrorNone);
        ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
        EXPECT_EQ(15u, oCalls.Calls().size());
    }
    EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
}

namespace
{
struct SChainCase
{
    const char* szSignal;
    MSIZE32 oPrimary;    // 4:2:2
    MSIZE32 oSecondary;  // 4:2:0
    double dFrameRate;   // frames per second through the graph
};

void PrintTo(const SChainCase& roCase, std::ostream* poStream)
{
    *poStream << roCase.szSignal;
}

// Capture -> deinterlacer -> a sink on each output, set up as the control library sets them up.
class CVideoChain
{
public:
    OMX_ERRORTYPE Init(const SChainCase& roCase)
    {
        OMX_ERRORTYPE eError = m_oCapture.Init();
        if (eError == OMX_ErrorNone)
            eError =
                m_oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 4, true, 1920, 1080, 60);
        if (eError == OMX_ErrorNone)
            eError = m_oDei.Init();
        if (eError == OMX_ErrorNone)
            eError = m_oDei.SetDeiParams(m_oCapture.GetFrameSize(), roCase.oPrimary, roCase.oSecondary,
                                         OmxPixFmt_YUV422, OmxPixFmt_YUV422, OmxPixFmt_YUV420,
                                         m_oCapture.IsInterlaced(), 4, 4, 4, false);
        if (eError == OMX_ErrorNone)
            eError = m_oCapture.ConnectTo(&m_oDei, 0);
        if (eError == OMX_ErrorNone)
            eError = m_oDei.ConnectPrimaryTo(&m_aoSink[0], 0);
        if (eError == OMX_ErrorNone)
            eError = m_oDei.ConnectSecondaryTo(&m_aoSink[1], 0);
        return eError;
    }

    void Deinit()
    {
        EXPECT_EQ(OMX_ErrorNone, m_oDei.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oCapture.Deinit());
    }

    CCaptureVFCC m_oCapture;
    CDEIMDualOutput m_oDei;
    CFrameSink m_aoSink[2];
};

class DEIMDualOutputChain : public DEIMDualOutputTest, public ::testing::WithParamInterface<SChainCase>
{
};
} // namespace

TEST_P(DEIMDualOutputChain, EachOutputCarriesTheUprightPatternInItsSizeAndFormat)
{
    const SChainCase& roCase = GetParam();
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
    CVideoChain oChain;
    ASSERT_EQ(OMX_ErrorNone, oChain.Init(roCase));
    const MSIZE32 oInput = oChain.m_oCapture.GetFrameSize();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oCapture.Start());
    // The platform's input port holds a field per buffer when the input is interlaced.
    const OMX_U32 uiFields = oChain.m_oCapture.IsInterlaced() ? 2 : 1;
    EXPECT_EQ(4u * uiFields, PortDefinition(oChain.m_oDei, 0).nBufferCountActual);
    EXPECT_EQ(oInput.m_uiCy / uiFields, PortDefinition(oChain.m_oDei, 0).format.video.nFrameHeight);

    ASSERT_TRUE(Eventually([&] { return oChain.m_aoSink[0].Count() >= 5 && oChain.m_aoSink[1].Count() >= 5; }));
    // Half a second of running, counted.
    const auto oFrom = std::chrono::steady_clock::now();
    const size_t auiFrom[2] = {oChain.m_aoSink[0].Count(), oChain.m_aoSink[1].Count()};
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (CFrameSink& roSink : oChain.m_aoSink)
        roSink.RequestSnapshot();
    ASSERT_TRUE(Eventually([&] {
        return !oChain.m_aoSink[0].Snapshot().empty() && !oChain.m_aoSink[1].Snapshot().empty();
    }));
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - oFrom).count();
    // Stopping hands the capture's unfilled buffers on: only what came while running counts.
    const std::vector<OMX_TICKS> aanStamps[2] = {oChain.m_aoSink[0].TimeStamps(), oChain.m_aoSink[1].TimeStamps()};

    // The deinterlacer waits a second before it goes down to idle.
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    const OMX_ERRORTYPE eStop = oChain.m_oCapture.Stop();
    SetInfoMessageLevel(0);
    const std::string oLog = oOut.Finish();
    ASSERT_EQ(OMX_ErrorNone, eStop);
    const std::string oTransition =
        "Component OMX.TI.VPSSM3.VFPC.DEIMDUALOUT transition from OMX_StateExecuting to OMX_StateIdle, waiting ";
    EXPECT_NE(std::string::npos, oLog.find(oTransition + "1 sec...\n"));
    EXPECT_NE(std::string::npos, oLog.find(oTransition + "done.\n"));
    EXPECT_EQ(OMX_StateLoaded, PlatformState(oChain.m_oDei.GetOMXHandle()));

    const std::string oName = std::string(roCase.szSignal);
    const MSIZE32 aoSize[2] = {roCase.oPrimary, roCase.oSecondary};
    const OMX_COLOR_FORMATTYPE aeFormat[2] = {OMX_COLOR_FormatYCbYCr, OMX_COLOR_FormatYUV420SemiPlanar};
    for (unsigned i = 0; i < 2; ++i)
    {
        SCOPED_TRACE(i == 0 ? "primary" : "secondary");
        const std::vector<uint8_t> aucFrame = oChain.m_aoSink[i].Snapshot();
        const STestPicture oPicture{aucFrame.data(), aoSize[i].m_uiCx, aoSize[i].m_uiCy,
                                    i == 0 ? 2 * aoSize[i].m_uiCx : aoSize[i].m_uiCx, aeFormat[i]};
        ASSERT_EQ(GetBufferSize(aoSize[i], i == 0 ? OmxPixFmt_YUV422 : OmxPixFmt_YUV420), aucFrame.size());
        const std::filesystem::path oImage = std::filesystem::path(PELLIX_BINARY_DIR) / "artifacts" /
                                             ("deinterlacer-" + oName + (i == 0 ? "-primary.ppm" : "-secondary.ppm"));
        EXPECT_TRUE(WritePpm(oImage, oPicture)) << oImage;
        const CPatternReader oReader(oPicture, oInput.m_uiCx, oInput.m_uiCy);
        EXPECT_GE(oReader.Counter(), 0);
        EXPECT_TRUE(oReader.BarsInOrder());
        EXPECT_TRUE(oReader.RampRisesToTheRight());
        // The input's frames at the input's frame rate: stamps whole periods apart.
        const std::vector<OMX_TICKS>& ranStamps = aanStamps[i];
        for (size_t k = 1; k < ranStamps.size(); ++k)
            EXPECT_TRUE(IsWholePeriods(ranStamps[k] - ranStamps[k - 1], 1e6 / roCase.dFrameRate))
                << ranStamps[k] - ranStamps[k - 1];
        const size_t uiCounted = ranStamps.size() - auiFrom[i];
        printf("%s %s: %zu frames in %.2f s (%.1f/s, input %.0f/s), image %s\n", roCase.szSignal,
               i == 0 ? "primary" : "secondary", uiCounted, dSeconds, uiCounted / dSeconds, roCase.dFrameRate,
               oImage.c_str());
    }
    oChain.Deinit();
}

INSTANTIATE_TEST_SUITE_P(Inputs, DEIMDualOutputChain,
                         ::testing::Values(SChainCase{"1920x1080p60", {1920, 1080}, {1280, 720}, 60},
                                           SChainCase{"1280x720p60", {1920, 1080}, {1280, 720}, 60},
                                           SChainCase{"1920x1080i60", {1920, 1080}, {1920, 1080}, 30}),
                         [](const ::testing::TestParamInfo<SChainCase>& roInfo) {
                             return std::string(roInfo.param.szSignal).substr(5);
                         });

TEST_F(DEIMDualOutputTest, ASecondaryConsumerKeepingItsBuffersNeverHoldsThePrimaryBack)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    CVideoChain oChain;
    ASSERT_EQ(OMX_ErrorNone, oChain.Init(SChainCase{"1280x720p60", {1280, 720}, {640, 480}, 60}));
    oChain.m_aoSink[1].Hold(true);
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oCapture.Start());
    // The secondary's four buffers are kept; the primary goes on, the secondary skips.
    ASSERT_TRUE(Eventually([&] { return oChain.m_aoSink[0].Count() >= 20; }));
    EXPECT_EQ(4u, oChain.m_aoSink[1].Count());
    EXPECT_GT(PellixTest_GetCounter("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT", PellixCounter_FramesDropped), 0u);
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oCapture.Stop());
    EXPECT_EQ(4u, oChain.m_aoSink[1].ForgetHeld());
    oChain.Deinit();
}
