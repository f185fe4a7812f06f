// The deinterlacer and scaler ("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT") through the IL core: the settings it
// refuses, which the library never sends, and the channel resolutions it checks against its ports.
// (Frames woven and scaled to both outputs, the pace of the primary output and the skips of the
// secondary are tested in the library's video path, tests/framework/ti-components.)
#include <gtest/gtest.h>

#include <OMX_Component.h>

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
    // The input's crop against its 1920 x 1080 picture: no crop, a crop inside, one beyond the right
    // or the bottom, an odd start or width, no height; another picture, no direction, another
    // channel; a record too short or of another version.
    struct SCase
    {
        OMX_U32 nStartX, nCropWidth, nCropHeight, nPitch;
        OMX_DIRTYPE eDir;
        OMX_U32 nChId, nSize, nMajor;
        OMX_ERRORTYPE eSet, eGet;
    };
    const OMX_U32 nSize = sizeof(OMX_CONFIG_VIDCHANNEL_RESOLUTION);
    for (const SCase& ro : std::vector<SCase>{
             {0, 0, 0, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorNone, OMX_ErrorNone},
             {100, 1820, 1080, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorNone, OMX_ErrorNone},
             {102, 1820, 1080, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {100, 1820, 1082, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {101, 1818, 1080, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {100, 1819, 1080, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {100, 1820, 0, 3840, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {0, 0, 0, 3842, OMX_DirInput, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorNone},
             {100, 1820, 1080, 3840, OMX_DirMax, 0, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorBadParameter},
             {100, 1820, 1080, 3840, OMX_DirInput, 1, nSize, 1, OMX_ErrorBadParameter, OMX_ErrorBadParameter},
             {100, 1820, 1080, 3840, OMX_DirInput, 0, nSize - 4, 1, OMX_ErrorBadParameter, OMX_ErrorBadParameter},
             {100, 1820, 1080, 3840, OMX_DirInput, 0, nSize, 2, OMX_ErrorVersionMismatch, OMX_ErrorVersionMismatch}})
    {
        oResolution.FrmStartX = ro.nStartX;
        oResolution.FrmCropWidth = ro.nCropWidth;
        oResolution.FrmCropHeight = ro.nCropHeight;
        oResolution.Frm0Pitch = ro.nPitch;
        oResolution.eDir = ro.eDir;
        oResolution.nChId = ro.nChId;
        oResolution.nSize = ro.nSize;
        oResolution.nVersion.s.nVersionMajor = static_cast<OMX_U8>(ro.nMajor);
        EXPECT_EQ(ro.eSet, oClient.Param(OMX_TI_IndexConfigVidChResolution, oResolution, true, true))
            << ro.nStartX << " " << ro.nCropWidth << " " << ro.nCropHeight << " " << ro.nPitch;
        auto oRead = oResolution;
        EXPECT_EQ(ro.eGet, oClient.Param(OMX_TI_IndexConfigVidChResolution, oRead, false, true)) << ro.nStartX;
    }
}
