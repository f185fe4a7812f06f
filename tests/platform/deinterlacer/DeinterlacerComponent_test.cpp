// The deinterlacer and scaler ("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT") through the IL core: the settings it
// refuses, which the library never sends, and the channel resolutions it checks against its ports.
// (Frames woven and scaled to both outputs, the pace of the primary output and the skips of the
// secondary are tested in the library's video path, tests/framework/ti-components.)
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <tuple>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "ti814x-omx.h"

namespace
{
typedef CEngineTest DeinterlacerTest;
} // namespace

TEST_F(DeinterlacerTest, SettingsAreCheckedAndTheResolutionsAgainstThePorts)
{
    COmxTestClient oClient("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT");
    auto oSubSampling = Initialised<OMX_CONFIG_SUBSAMPLING_FACTOR>();
    oSubSampling.nSubSamplingFactor = 3;
    auto oChannels = Initialised<OMX_PARAM_VFPC_NUMCHANNELPERHANDLE>();
    oChannels.nNumChannelsPerHandle = 2;
    auto oAlgorithm = Initialised<OMX_CONFIG_ALG_ENABLE>();
    oAlgorithm.nChId = 1;
    EXPECT_TRUE(oClient.Param(OMX_TI_IndexConfigSubSamplingFactor, oSubSampling, true, true) == OMX_ErrorBadParameter &&
                oClient.Param(OMX_TI_IndexParamVFPCNumChPerHandle, oChannels, true) == OMX_ErrorBadParameter &&
                oClient.Param(OMX_TI_IndexConfigAlgEnable, oAlgorithm, true, true) == OMX_ErrorBadParameter);
    // Channel resolutions, one per direction, checked against the ports. (The library's wrapper
    // reads them back.)
    auto oResolution = Initialised<OMX_CONFIG_VIDCHANNEL_RESOLUTION>();
    oResolution.eDir = OMX_DirOutput;
    ASSERT_TRUE(Ok(oClient.Param(OMX_TI_IndexConfigVidChResolution, oResolution, false, true)) &&
                Ok(oClient.SetPort(16, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) {
                    ro.format.video.nFrameWidth = 1280;
                    ro.format.video.nFrameHeight = 720;
                    ro.format.video.nStride = 2560;
                    ro.nBufferSize = 1280 * 720 * 2;
                })));
    EXPECT_EQ(OMX_ErrorBadParameter, oClient.Param(OMX_TI_IndexConfigVidChResolution, oResolution, true, true));
    oResolution.Frm0Width = 1280;
    oResolution.Frm0Height = 720;
    oResolution.Frm0Pitch = 2560;
    EXPECT_EQ(OMX_ErrorNone, oClient.Param(OMX_TI_IndexConfigVidChResolution, oResolution, true, true));
    oResolution = Initialised<OMX_CONFIG_VIDCHANNEL_RESOLUTION>();
    oResolution.Frm0Width = 1920;
    oResolution.Frm0Height = oResolution.FrmCropHeight = 1080;
    oResolution.Frm0Pitch = 3840;
    // Start and width of the crop, direction: an odd start, an odd width, no direction.
    for (const auto& ro : std::vector<std::tuple<OMX_U32, OMX_U32, OMX_DIRTYPE, OMX_ERRORTYPE>>{
             {102, 1820, OMX_DirInput, OMX_ErrorBadParameter}, {101, 1818, OMX_DirInput, OMX_ErrorBadParameter},
             {100, 1820, OMX_DirMax, OMX_ErrorBadParameter}, {100, 1820, OMX_DirInput, OMX_ErrorNone}})
    {
        oResolution.FrmStartX = std::get<0>(ro);
        oResolution.FrmCropWidth = std::get<1>(ro);
        oResolution.eDir = std::get<2>(ro);
        EXPECT_EQ(std::get<3>(ro), oClient.Param(OMX_TI_IndexConfigVidChResolution, oResolution, true, true))
            << std::get<0>(ro);
    }
}
