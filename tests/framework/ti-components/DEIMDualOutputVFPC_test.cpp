// CDEIMDualOutput on the platform stand-in: argument checks, the values it sends the platform for
// interlaced and progressive input, and each failing platform call. (VideoPath_test.cpp runs it
// between the capture, the display and the encoder.)
#include <gtest/gtest.h>

#include "WrapperTestSupport.h"
#include "base-omx.h"
#include "ti-components/DEIMDualOutputVFPC.h"

namespace
{
const std::string local_oFile = "framework/ti-components/DEIMDualOutputVFPC/";
const OMX_U32 local_uiYuv422 = OMX_COLOR_FormatYCbYCr, local_uiYuv420 = OMX_COLOR_FormatYUV420SemiPlanar;

// 1080i from 4 upstream buffers in, 1080p 4:2:2 (3 buffers) and 720p 4:2:0 (5 buffers) out.
OMX_ERRORTYPE SetInterlaced(CDEIMDualOutput& roDei)
{
    return roDei.SetDeiParams({1920, 1080}, {1920, 1080}, {1280, 720}, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                              OmxPixFmt_YUV420, true, 4, 3, 5, false);
}

// Size, stride, colour format, buffer size and count of a port.
std::vector<OMX_U32> Port(CDEIMDualOutput& roDei, OMX_U32 nPort)
{
    const auto o = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(roDei.GetOMXHandle(), OMX_IndexParamPortDefinition, nPort);
    return {o.format.video.nFrameWidth, o.format.video.nFrameHeight, OMX_U32(o.format.video.nStride),
            o.format.video.eColorFormat, o.nBufferSize, o.nBufferCountActual};
}

// Frame 0 size and pitch, frame 1 size and pitch, start, crop of a direction; the sub-sampling
// factor and the bypass.
std::vector<OMX_U32> Resolution(CDEIMDualOutput& roDei, OMX_DIRTYPE eDir)
{
    OMX_CONFIG_VIDCHANNEL_RESOLUTION o;
    InitStruct(o);
    o.eDir = eDir;
    EXPECT_EQ(OMX_ErrorNone, OMX_GetConfig(roDei.GetOMXHandle(), OMX_INDEXTYPE(OMX_TI_IndexConfigVidChResolution), &o));
    return {o.Frm0Width,
            o.Frm0Height,
            o.Frm0Pitch,
            o.Frm1Width,
            o.Frm1Height,
            o.Frm1Pitch,
            o.FrmStartX,
            o.FrmStartY,
            o.FrmCropWidth,
            o.FrmCropHeight,
            ReadParam<OMX_CONFIG_SUBSAMPLING_FACTOR>(roDei.GetOMXHandle(), OMX_TI_IndexConfigSubSamplingFactor, 0, true)
                .nSubSamplingFactor,
            ReadParam<OMX_CONFIG_ALG_ENABLE>(roDei.GetOMXHandle(), OMX_TI_IndexConfigAlgEnable, 0, true).bAlgBypass};
}

typedef CWrapperTest DEIMDualOutputTest;
} // namespace

TEST_F(DEIMDualOutputTest, RefusesBadParametersSilentlySendsItsConfigurationAndFailsCleanlyAtEachPlatformCall)
{
    CDEIMDualOutput oDei;
    ASSERT_TRUE(Ok(oDei.Init()) && Ok(SetInterlaced(oDei)));
    // Any size outside 640x480..1920x1200 or a format other than 4:2:2 and 4:2:0, for the input
    // or either output: refused without a word, the last configuration kept.
    const std::string oSaid = LogOf(9, [&] {
        COutputCapture oErr(STDERR_FILENO);
        const MSIZE32 oGood = {1280, 720};
        const OmxPixelFormat eGood = OmxPixFmt_YUV420;
        for (unsigned i = 0; i < 3; ++i)
            for (const MSIZE32& ro :
                 {MSIZE32{1920, 1201}, MSIZE32{639, 480}, MSIZE32{1921, 1080}, MSIZE32{640, 479}, oGood})
            {
                const OmxPixelFormat eBad = ro.m_uiCx == 1280 ? OmxPixFmt_RGB888 : eGood;
                EXPECT_EQ(OMX_ErrorBadParameter,
                          oDei.SetDeiParams(i == 0 ? ro : oGood, i == 1 ? ro : oGood, i == 2 ? ro : oGood,
                                            i == 0 ? eBad : eGood, i == 1 ? eBad : eGood, i == 2 ? eBad : eGood, false,
                                            2, 2, 2, true));
            }
        EXPECT_EQ("", oErr.Finish());
    });
    EXPECT_EQ("", oSaid);
    // 1080i from upstream buffers: fields of 540 lines in twice the buffers; the primary's
    // buffers hold 1088 lines, its picture 1080.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_EQ((std::vector<OMX_U32>{1920, 540, 3840, local_uiYuv422, 2073600, 8}), Port(oDei, 0));
    EXPECT_EQ((std::vector<OMX_U32>{1920, 1080, 3840, local_uiYuv422, 4177920, 3}), Port(oDei, 16));
    EXPECT_EQ((std::vector<OMX_U32>{1280, 720, 1280, local_uiYuv420, 1280 * 720 * 3 / 2, 5}), Port(oDei, 17));
    EXPECT_EQ((std::vector<OMX_U32>{1920, 540, 3840, 0, 0, 0, 0, 0, 1920, 540, 2, OMX_FALSE}),
              Resolution(oDei, OMX_DirInput));
    EXPECT_EQ((std::vector<OMX_U32>{1920, 1080, 3840, 1280, 720, 1280, 0, 0, 0, 0, 2, OMX_FALSE}),
              Resolution(oDei, OMX_DirOutput));
    // 720 x 480 interlaced from 6 upstream buffers: 12 fields of 720 x 240; a 720-line primary
    // gets buffers for 736 lines.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams({720, 480}, {1280, 720}, {720, 480}, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV420, true, 6, 4, 4, false));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_TRUE(Port(oDei, 0) == (std::vector<OMX_U32>{720, 240, 1440, local_uiYuv422, 720 * 240 * 2, 12}) &&
                Port(oDei, 16)[4] == 1280u * 736 * 2);
    // Progressive, buffers of its own: whole frames, no deinterlacing.
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams({1024, 768}, {1920, 1080}, {1024, 768}, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV422, OmxPixFmt_YUV420, false, 4, 4, 4, true));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetParameters());
    EXPECT_EQ((std::vector<OMX_U32>{1024, 768, 2048, local_uiYuv422, 1024 * 768 * 2, 4}), Port(oDei, 0));
    const std::vector<OMX_U32> auiInput = Resolution(oDei, OMX_DirInput);
    EXPECT_EQ((std::vector<OMX_U32>{768, 1, OMX_TRUE}), std::vector<OMX_U32>(auiInput.begin() + 9, auiInput.end()));
    EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
    // Each port's enabling (3 calls), then each call of SetParameters failing in turn.
    const auto fnPrepare = [](CDEIMDualOutput& ro) { ASSERT_EQ(OMX_ErrorNone, SetInterlaced(ro)); };
    ExpectEachCallFails<CDEIMDualOutput>(3, local_oFile + "CreatePorts", fnPrepare,
                                         [](CDEIMDualOutput& ro) { return ro.CreatePorts(); });
    ExpectEachCallFails<CDEIMDualOutput>(15, local_oFile + "SetParameters", fnPrepare,
                                         [](CDEIMDualOutput& ro) { return ro.SetParameters(); });
}
