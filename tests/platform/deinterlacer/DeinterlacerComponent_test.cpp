// The deinterlacer and scaler ("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT") through the IL core: the checks
// of its settings, both outputs of every frame, the pace of the primary output, the skips of the
// secondary, and fields woven (or the first one scaled).
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <mutex>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "TestPicture.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szDeinterlacer = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
const OMX_U32 local_auiOutput[2] = {16, 17};
const OMX_U32 local_uiFirstField = 0x00010000;
const OMX_U32 local_uiSecondField = 0x00020000;
const OMX_COLOR_FORMATTYPE local_eYuyv = OMX_COLOR_FormatYCbYCr;
const OMX_COLOR_FORMATTYPE local_eNv12 = OMX_COLOR_FormatYUV420SemiPlanar;

OMX_ERRORTYPE SetPort(COmxTestClient& roClient, OMX_U32 nPort, OMX_U32 uiWidth, OMX_U32 uiHeight,
                      OMX_COLOR_FORMATTYPE eFormat, OMX_U32 uiCount)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = roClient.PortDefinition(nPort);
    oDefinition.format.video.nFrameWidth = uiWidth;
    oDefinition.format.video.nFrameHeight = uiHeight;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(eFormat == local_eYuyv ? 2 * uiWidth : uiWidth);
    oDefinition.format.video.eColorFormat = eFormat;
    oDefinition.nBufferSize = eFormat == local_eYuyv ? 2 * uiWidth * uiHeight : uiWidth * uiHeight * 3 / 2;
    oDefinition.nBufferCountActual = uiCount;
    return OMX_SetParameter(roClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition);
}

template <typename TStruct>
OMX_ERRORTYPE SetConfig(COmxTestClient& roClient, OMX_U32 uiIndex, TStruct& roStruct)
{
    return OMX_SetConfig(roClient.Handle(), static_cast<OMX_INDEXTYPE>(uiIndex), &roStruct);
}

// The pattern's frame uiFrame of 1920 x 1080 YUV 4:2:2, whole or as two fields one after the other.
std::vector<uint8_t> PatternFrame(uint64_t uiFrame, bool bFields)
{
    CTestPattern oPattern;
    oPattern.Configure(CVideoFrameGeometry(1920, 1080, 3840, local_eYuyv), bFields);
    std::vector<uint8_t> aucFrame(static_cast<size_t>(oPattern.FrameBytes()));
    oPattern.Draw(uiFrame, aucFrame.data());
    return aucFrame;
}

// A deinterlacer fed by the test with pattern frames of 1920 x 1080 YUV 4:2:2, as whole frames or
// as two fields each, and read on both outputs (each of its own size and format).
class CDeinterlacerRun
{
public:
    CDeinterlacerRun(bool bFields, const STestPicture (&aoFormat)[2])
        : m_oClient(local_szDeinterlacer), m_bFields(bFields), m_aoFormat{aoFormat[0], aoFormat[1]}
    {
        m_oClient.OnFillDone([this](OMX_BUFFERHEADERTYPE* poHeader) {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            const uint8_t* pData = poHeader->pBuffer + poHeader->nOffset;
            m_aoOutputs[poHeader->nOutputPortIndex == local_auiOutput[1]].push_back(
                SOutput{poHeader->nFilledLen, poHeader->nTimeStamp, std::vector<uint8_t>(pData, pData + poHeader->nFilledLen)});
        });
    }

    // Ports, settings, buffers, Executing; every output buffer queued.
    bool Start(OMX_U32 uiOutputBuffers, bool bBypass)
    {
        const OMX_U32 uiFields = m_bFields ? 2 : 1;
        OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
        InitStruct(oSubSampling);
        oSubSampling.nSubSamplingFactor = uiFields;
        OMX_CONFIG_ALG_ENABLE oAlgorithm;
        InitStruct(oAlgorithm);
        oAlgorithm.bAlgBypass = bBypass ? OMX_TRUE : OMX_FALSE;
        if (!Ok(SetConfig(m_oClient, OMX_TI_IndexConfigSubSamplingFactor, oSubSampling)) ||
            !Ok(SetConfig(m_oClient, OMX_TI_IndexConfigAlgEnable, oAlgorithm)) ||
            !Ok(SetPort(m_oClient, 0, 1920, 1080 / uiFields, local_eYuyv, 4 * uiFields)))
            return false;
        for (unsigned i = 0; i < 2; ++i)
            if (!Ok(SetPort(m_oClient, local_auiOutput[i], m_aoFormat[i].uiWidth, m_aoFormat[i].uiHeight,
                            m_aoFormat[i].eFormat, uiOutputBuffers)))
                return false;
        return m_oClient.GoToExecuting() && Ok(m_oClient.SubmitAll(16, false)) && Ok(m_oClient.SubmitAll(17, false));
    }

    // Draws pattern frame uiFrame into the next input buffer (two, for fields) and hands it in.
    OMX_ERRORTYPE Submit(uint64_t uiFrame)
    {
        const std::vector<uint8_t> aucFrame = PatternFrame(uiFrame, m_bFields);
        const std::vector<OMX_BUFFERHEADERTYPE*> apoInput = m_oClient.Buffers(0);
        const size_t uiBytes = m_bFields ? aucFrame.size() / 2 : aucFrame.size();
        for (size_t uiAt = 0; uiAt < aucFrame.size(); uiAt += uiBytes)
        {
            OMX_BUFFERHEADERTYPE* poHeader = apoInput[m_uiNextInput++ % apoInput.size()];
            memcpy(poHeader->pBuffer, &aucFrame[uiAt], uiBytes);
            poHeader->nFilledLen = static_cast<OMX_U32>(uiBytes);
            poHeader->nTimeStamp = static_cast<OMX_TICKS>(1000 * uiFrame);
            poHeader->nFlags = !m_bFields ? 0 : uiAt == 0 ? local_uiFirstField : local_uiFirstField | local_uiSecondField;
            if (const OMX_ERRORTYPE eError = OMX_EmptyThisBuffer(m_oClient.Handle(), poHeader))
                return eError;
        }
        return OMX_ErrorNone;
    }

    struct SOutput
    {
        OMX_U32 nFilledLen;
        OMX_TICKS nTimeStamp;
        std::vector<uint8_t> aucData;
    };
    std::vector<SOutput> Outputs(unsigned uiIndex)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoOutputs[uiIndex];
    }
    // The pattern an output of output uiIndex shows.
    CPatternReader Reader(unsigned uiIndex, const SOutput& roOutput)
    {
        m_aoFormat[uiIndex].pData = roOutput.aucData.data();
        return CPatternReader(m_aoFormat[uiIndex], 1920, 1080);
    }

    COmxTestClient m_oClient;

private:
    const bool m_bFields;
    STestPicture m_aoFormat[2];
    unsigned m_uiNextInput = 0;
    std::mutex m_oMutex;
    std::vector<SOutput> m_aoOutputs[2];
};

STestPicture Format(unsigned uiWidth, unsigned uiHeight, OMX_COLOR_FORMATTYPE eFormat)
{
    return STestPicture{nullptr, uiWidth, uiHeight, eFormat == local_eYuyv ? 2 * uiWidth : uiWidth, eFormat};
}

unsigned long long Counter(PellixCounter eCounter)
{
    return PellixTest_GetCounter(local_szDeinterlacer, eCounter);
}

typedef CEngineTest DeinterlacerTest;
} // namespace

TEST_F(DeinterlacerTest, SettingsAreChecked)
{
    COmxTestClient oClient(local_szDeinterlacer);
    OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
    InitStruct(oSubSampling);
    oSubSampling.nSubSamplingFactor = 3;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigSubSamplingFactor, oSubSampling));
    OMX_PARAM_VFPC_NUMCHANNELPERHANDLE oChannels;
    InitStruct(oChannels);
    oChannels.nNumChannelsPerHandle = 2;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(oClient.Handle(), static_cast<OMX_INDEXTYPE>(
                                                          OMX_TI_IndexParamVFPCNumChPerHandle), &oChannels));
    OMX_CONFIG_ALG_ENABLE oAlgorithm;
    InitStruct(oAlgorithm);
    oAlgorithm.nChId = 1;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigAlgEnable, oAlgorithm));

    // Channel resolutions, one per direction, checked against the ports and read back.
    const auto eResolution = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVidChResolution);
    OMX_CONFIG_VIDCHANNEL_RESOLUTION oResolution;
    InitStruct(oResolution);
    oResolution.eDir = OMX_DirOutput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_TRUE(oResolution.Frm1Width == 1920 && oResolution.Frm1Pitch == 1920);
    ASSERT_EQ(OMX_ErrorNone, SetPort(oClient, 16, 1280, 720, local_eYuyv, 4));
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));
    oResolution.Frm0Width = 1280;
    oResolution.Frm0Height = 720;
    oResolution.Frm0Pitch = 2560;
    EXPECT_EQ(OMX_ErrorNone, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));
    InitStruct(oResolution);
    oResolution.eDir = OMX_DirInput;
    oResolution.Frm0Width = 1920;
    oResolution.Frm0Height = 1080;
    oResolution.Frm0Pitch = 3840;
    const struct
    {
        OMX_U32 uiStartX, uiCropWidth;
        OMX_DIRTYPE eDir;
        OMX_ERRORTYPE eExpected;
    } aoCrops[] = {{102, 1820, OMX_DirInput, OMX_ErrorBadParameter}, {101, 1818, OMX_DirInput, OMX_ErrorBadParameter},
                   {100, 1820, OMX_DirMax, OMX_ErrorBadParameter}, {100, 1820, OMX_DirInput, OMX_ErrorNone}};
    for (const auto& roCrop : aoCrops)
    {
        oResolution.FrmStartX = roCrop.uiStartX;
        oResolution.FrmCropWidth = roCrop.uiCropWidth;
        oResolution.FrmCropHeight = 1080;
        oResolution.eDir = roCrop.eDir;
        EXPECT_EQ(roCrop.eExpected, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution))
            << roCrop.uiStartX << " " << roCrop.uiCropWidth;
    }
    InitStruct(oResolution);
    oResolution.eDir = OMX_DirInput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_TRUE(oResolution.eDir == OMX_DirInput && oResolution.FrmStartX == 100 && oResolution.FrmCropWidth == 1820);
    oResolution.eDir = OMX_DirOutput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_EQ(1280u, oResolution.Frm0Width);
}

TEST_F(DeinterlacerTest, ScalesAndConvertsEachFrameToBothOutputs)
{
    CDeinterlacerRun oRun(false, {Format(1280, 720, local_eYuyv), Format(640, 480, local_eNv12)});
    ASSERT_TRUE(oRun.Start(4, true));
    const long long allFrames[] = {7, 8, 123};
    for (long long llFrame : allFrames)
        ASSERT_EQ(OMX_ErrorNone, oRun.Submit(static_cast<uint64_t>(llFrame)));
    ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 3) && oRun.m_oClient.WaitReturned(17, 3));
    // One frame per input frame on each output, in its size and format, showing the pattern
    // upright with the input's number and time.
    for (unsigned i = 0; i < 2; ++i)
    {
        const auto aoOutputs = oRun.Outputs(i);
        ASSERT_EQ(3u, aoOutputs.size());
        for (size_t k = 0; k < 3; ++k)
        {
            SCOPED_TRACE(testing::Message() << "output " << i << " frame " << allFrames[k]);
            EXPECT_EQ(i == 0 ? 1280u * 720 * 2 : 640u * 480 * 3 / 2, aoOutputs[k].nFilledLen);
            EXPECT_EQ(1000 * allFrames[k], aoOutputs[k].nTimeStamp);
            const CPatternReader oReader = oRun.Reader(i, aoOutputs[k]);
            EXPECT_EQ(allFrames[k], oReader.Counter());
            EXPECT_TRUE(oReader.BarsInOrder() && oReader.RampRisesToTheRight());
        }
    }
    EXPECT_EQ(3u, Counter(PellixCounter_FramesConsumed));
    EXPECT_EQ(6u, Counter(PellixCounter_FramesProduced));
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(DeinterlacerTest, PrimarySetsThePaceSecondarySkips)
{
    CDeinterlacerRun oRun(false, {Format(1920, 1080, local_eYuyv), Format(1920, 1080, local_eNv12)});
    ASSERT_TRUE(oRun.Start(2, true));
    // The primary's two buffers take two frames; the next two wait for it.
    for (uint64_t uiFrame = 0; uiFrame < 4; ++uiFrame)
        ASSERT_EQ(OMX_ErrorNone, oRun.Submit(uiFrame));
    ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 2));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(2u, oRun.m_oClient.ReturnedCount(0));
    EXPECT_EQ(2u, oRun.m_oClient.ReturnedCount(16));
    // The primary's buffers back: the waiting frames go on, while the secondary, whose buffers
    // the test keeps, skips them.
    ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(16, false));
    ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 4));
    EXPECT_EQ(4u, oRun.m_oClient.ReturnedCount(16));
    EXPECT_EQ(2u, oRun.m_oClient.ReturnedCount(17));
    EXPECT_EQ(2u, Counter(PellixCounter_FramesDropped));
    ASSERT_EQ(4u, oRun.Outputs(0).size());
    EXPECT_EQ(3, oRun.Reader(0, oRun.Outputs(0)[3]).Counter());
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(DeinterlacerTest, WeavesFieldsOrScalesTheFirst)
{
    for (bool bBypass : {false, true})
    {
        SCOPED_TRACE(bBypass ? "bypassed" : "woven");
        PellixTest_Reset();
        CDeinterlacerRun oRun(true, {Format(1920, 1080, local_eYuyv), Format(1280, 720, local_eNv12)});
        ASSERT_TRUE(oRun.Start(4, bBypass));
        // A second field without its first goes back unused.
        OMX_BUFFERHEADERTYPE* poLone = oRun.m_oClient.Buffers(0).back();
        poLone->nFlags = local_uiFirstField | local_uiSecondField;
        ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(oRun.m_oClient.Handle(), poLone));
        ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 1));
        EXPECT_EQ(1u, Counter(PellixCounter_FramesDropped));
        EXPECT_EQ(0u, oRun.m_oClient.ReturnedCount(16));
        // One frame out of the two fields, on both outputs.
        ASSERT_EQ(OMX_ErrorNone, oRun.Submit(41));
        ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 3) && oRun.m_oClient.WaitReturned(17, 1));
        EXPECT_EQ(1u, Counter(PellixCounter_FramesConsumed));
        for (unsigned i = 0; i < 2; ++i)
        {
            const auto aoOutputs = oRun.Outputs(i);
            ASSERT_EQ(1u, aoOutputs.size());
            const CPatternReader oReader = oRun.Reader(i, aoOutputs[0]);
            EXPECT_EQ(41, oReader.Counter());
            EXPECT_TRUE(oReader.BarsInOrder() && oReader.RampRisesToTheRight());
        }
        // Woven at the same size and format, the frame is the progressive picture itself.
        EXPECT_TRUE(bBypass || oRun.Outputs(0)[0].aucData == PatternFrame(41, false));
        EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
    }
}
