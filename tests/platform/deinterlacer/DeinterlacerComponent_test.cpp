// The deinterlacer and scaler ("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT") driven through the IL core:
// the checks of its settings, both outputs of every frame, the pace of the primary output, the
// skips of the secondary, and fields woven (or the first one scaled).
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "PellixTestControl.h"
#include "TestPicture.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szDeinterlacer = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
const OMX_U32 local_auiOutput[2] = {16, 17};
const OMX_U32 local_uiFirstField = 0x00010000;
const OMX_U32 local_uiSecondField = 0x00020000;

OMX_U32 Stride(OMX_U32 uiWidth, OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYCbYCr ? 2 * uiWidth : uiWidth;
}

OMX_U32 FrameBytes(OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYCbYCr ? 2 * uiWidth * uiHeight : uiWidth * uiHeight * 3 / 2;
}

OMX_ERRORTYPE SetPort(COmxTestClient& roClient, OMX_U32 nPort, OMX_U32 uiWidth, OMX_U32 uiHeight,
                      OMX_COLOR_FORMATTYPE eFormat, OMX_U32 uiCount)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = roClient.PortDefinition(nPort);
    oDefinition.format.video.nFrameWidth = uiWidth;
    oDefinition.format.video.nFrameHeight = uiHeight;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(Stride(uiWidth, eFormat));
    oDefinition.format.video.eColorFormat = eFormat;
    oDefinition.nBufferSize = FrameBytes(uiWidth, uiHeight, eFormat);
    oDefinition.nBufferCountActual = uiCount;
    return OMX_SetParameter(roClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition);
}

template <typename TStruct>
OMX_ERRORTYPE SetConfig(COmxTestClient& roClient, OMX_U32 uiIndex, TStruct& roStruct)
{
    return OMX_SetConfig(roClient.Handle(), static_cast<OMX_INDEXTYPE>(uiIndex), &roStruct);
}

// One output buffer as received.
struct SOutput
{
    OMX_U32 nPort;
    OMX_U32 nFilledLen;
    OMX_TICKS nTimeStamp;
    std::vector<uint8_t> aucData;
};

// A deinterlacer fed by the test with pattern frames of 1920 x 1080 YUV 4:2:2, as whole frames
// or as two fields each, and read on both outputs.
class CDeinterlacerRun
{
public:
    static const OMX_U32 s_uiWidth = 1920;
    static const OMX_U32 s_uiHeight = 1080;

    explicit CDeinterlacerRun(bool bFields) : m_oClient(local_szDeinterlacer), m_bFields(bFields)
    {
        m_oClient.OnFillDone([this](OMX_BUFFERHEADERTYPE* poHeader) { Received(poHeader); });
    }

    // Ports, settings, buffers, Executing; every output buffer queued unless told otherwise.
    bool Start(const OMX_U32 (&auiWidth)[2], const OMX_U32 (&auiHeight)[2], const OMX_COLOR_FORMATTYPE (&aeFormat)[2],
               OMX_U32 uiOutputBuffers, bool bBypass)
    {
        const OMX_U32 uiFields = m_bFields ? 2 : 1;
        for (unsigned i = 0; i < 2; ++i)
            m_aoFormat[i] = STestPicture{nullptr, static_cast<unsigned>(auiWidth[i]),
                                         static_cast<unsigned>(auiHeight[i]),
                                         static_cast<unsigned>(Stride(auiWidth[i], aeFormat[i])), aeFormat[i]};
        OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
        InitStruct(oSubSampling);
        oSubSampling.nSubSamplingFactor = uiFields;
        OMX_CONFIG_ALG_ENABLE oAlgorithm;
        InitStruct(oAlgorithm);
        oAlgorithm.bAlgBypass = bBypass ? OMX_TRUE : OMX_FALSE;
        if (SetConfig(m_oClient, OMX_TI_IndexConfigSubSamplingFactor, oSubSampling) != OMX_ErrorNone ||
            SetConfig(m_oClient, OMX_TI_IndexConfigAlgEnable, oAlgorithm) != OMX_ErrorNone ||
            SetPort(m_oClient, 0, s_uiWidth, s_uiHeight / uiFields, OMX_COLOR_FormatYCbYCr, 4 * uiFields) !=
                OMX_ErrorNone)
            return false;
        for (unsigned i = 0; i < 2; ++i)
            if (SetPort(m_oClient, local_auiOutput[i], auiWidth[i], auiHeight[i], aeFormat[i], uiOutputBuffers) !=
                OMX_ErrorNone)
                return false;
        if (m_oClient.SendState(OMX_StateIdle) != OMX_ErrorNone)
            return false;
        for (OMX_U32 nPort : {OMX_U32(0), local_auiOutput[0], local_auiOutput[1]})
        {
            const unsigned uiCount = static_cast<unsigned>(m_oClient.PortDefinition(nPort).nBufferCountActual);
            if (m_oClient.AllocateBuffers(nPort, uiCount) != OMX_ErrorNone)
                return false;
        }
        return m_oClient.WaitState(OMX_StateIdle) && m_oClient.GoTo(OMX_StateExecuting);
    }

    // Draws pattern frame uiFrame into the next input buffer (two, for fields) and hands it in.
    OMX_ERRORTYPE Submit(uint64_t uiFrame)
    {
        CTestPattern oPattern;
        oPattern.Configure(CVideoFrameGeometry(s_uiWidth, s_uiHeight, 2 * s_uiWidth, OMX_COLOR_FormatYCbYCr),
                           m_bFields);
        std::vector<uint8_t> aucFrame(static_cast<size_t>(oPattern.FrameBytes()));
        oPattern.Draw(uiFrame, aucFrame.data());
        const std::vector<OMX_BUFFERHEADERTYPE*> apoInput = m_oClient.Buffers(0);
        const OMX_U32 uiFields = m_bFields ? 2 : 1;
        const size_t uiBytes = aucFrame.size() / uiFields;
        for (OMX_U32 f = 0; f < uiFields; ++f)
        {
            OMX_BUFFERHEADERTYPE* poHeader = apoInput[m_uiNextInput++ % apoInput.size()];
            memcpy(poHeader->pBuffer, aucFrame.data() + f * uiBytes, uiBytes);
            poHeader->nFilledLen = static_cast<OMX_U32>(uiBytes);
            poHeader->nTimeStamp = static_cast<OMX_TICKS>(1000 * uiFrame);
            poHeader->nFlags = m_bFields ? (f == 0 ? local_uiFirstField : local_uiFirstField | local_uiSecondField) : 0;
            const OMX_ERRORTYPE eError = OMX_EmptyThisBuffer(m_oClient.Handle(), poHeader);
            if (eError != OMX_ErrorNone)
                return eError;
        }
        return OMX_ErrorNone;
    }

    void Received(OMX_BUFFERHEADERTYPE* poHeader)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        const uint8_t* pData = poHeader->pBuffer + poHeader->nOffset;
        m_aoOutputs.push_back(SOutput{poHeader->nOutputPortIndex, poHeader->nFilledLen, poHeader->nTimeStamp,
                                      std::vector<uint8_t>(pData, pData + poHeader->nFilledLen)});
    }

    std::vector<SOutput> Outputs(OMX_U32 nPort)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        std::vector<SOutput> aoOutputs;
        for (const SOutput& roOutput : m_aoOutputs)
            if (roOutput.nPort == nPort)
                aoOutputs.push_back(roOutput);
        return aoOutputs;
    }

    // The picture of an output of port local_auiOutput[uiIndex].
    STestPicture Picture(unsigned uiIndex, const SOutput& roOutput) const
    {
        STestPicture oPicture = m_aoFormat[uiIndex];
        oPicture.pData = roOutput.aucData.data();
        return oPicture;
    }

    COmxTestClient m_oClient;

private:
    const bool m_bFields;
    STestPicture m_aoFormat[2] = {};
    unsigned m_uiNextInput = 0;
    std::mutex m_oMutex;
    std::vector<SOutput> m_aoOutputs;
};

class DeinterlacerTest : public CEngineTest
{
};

unsigned long long Counter(PellixCounter eCounter)
{
    return PellixTest_GetCounter(local_szDeinterlacer, eCounter);
}
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
    EXPECT_EQ(OMX_ErrorBadParameter,
              OMX_SetParameter(oClient.Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFPCNumChPerHandle),
                               &oChannels));
    OMX_CONFIG_ALG_ENABLE oAlgorithm;
    InitStruct(oAlgorithm);
    oAlgorithm.nChId = 1;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigAlgEnable, oAlgorithm));

    // Channel resolutions, one per direction, checked against the ports.
    const OMX_INDEXTYPE eResolution = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVidChResolution);
    OMX_CONFIG_VIDCHANNEL_RESOLUTION oResolution;
    InitStruct(oResolution);
    oResolution.eDir = OMX_DirOutput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_EQ(1920u, oResolution.Frm1Width);
    EXPECT_EQ(1920u, oResolution.Frm1Pitch);
    ASSERT_EQ(OMX_ErrorNone, SetPort(oClient, 16, 1280, 720, OMX_COLOR_FormatYCbYCr, 4));
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
    oResolution.FrmStartX = 100;
    oResolution.FrmCropWidth = 1820;
    oResolution.FrmCropHeight = 1080;
    EXPECT_EQ(OMX_ErrorNone, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));
    oResolution.FrmStartX = 102;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));
    oResolution.FrmStartX = 101;
    oResolution.FrmCropWidth = 1818;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));
    oResolution.eDir = OMX_DirMax;
    EXPECT_EQ(OMX_ErrorBadParameter, SetConfig(oClient, OMX_TI_IndexConfigVidChResolution, oResolution));

    // Each direction reads back what was set for it.
    InitStruct(oResolution);
    oResolution.eDir = OMX_DirInput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_EQ(OMX_DirInput, oResolution.eDir);
    EXPECT_EQ(100u, oResolution.FrmStartX);
    EXPECT_EQ(1820u, oResolution.FrmCropWidth);
    oResolution.eDir = OMX_DirOutput;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oClient.Handle(), eResolution, &oResolution));
    EXPECT_EQ(1280u, oResolution.Frm0Width);
}

TEST_F(DeinterlacerTest, ScalesAndConvertsEachFrameToBothOutputs)
{
    CDeinterlacerRun oRun(false);
    ASSERT_TRUE(oRun.Start({1280, 640}, {720, 480}, {OMX_COLOR_FormatYCbYCr, OMX_COLOR_FormatYUV420SemiPlanar}, 4,
                           true));
    ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(16, false));
    ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(17, false));
    for (uint64_t uiFrame : {7u, 8u, 123u})
        ASSERT_EQ(OMX_ErrorNone, oRun.Submit(uiFrame));
    ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 3));
    ASSERT_TRUE(oRun.m_oClient.WaitReturned(17, 3));

    // One output frame per input frame on each output, in its own size and format, showing the
    // pattern upright with the input's number and time.
    const long long allFrames[] = {7, 8, 123};
    for (unsigned i = 0; i < 2; ++i)
    {
        const std::vector<SOutput> aoOutputs = oRun.Outputs(local_auiOutput[i]);
        ASSERT_EQ(3u, aoOutputs.size());
        for (size_t k = 0; k < 3; ++k)
        {
            SCOPED_TRACE(testing::Message() << "port " << local_auiOutput[i] << " frame " << allFrames[k]);
            const STestPicture oPicture = oRun.Picture(i, aoOutputs[k]);
            EXPECT_EQ(i == 0 ? 1280u * 720 * 2 : 640u * 480 * 3 / 2, aoOutputs[k].nFilledLen);
            EXPECT_EQ(1000 * allFrames[k], aoOutputs[k].nTimeStamp);
            const CPatternReader oReader(oPicture, CDeinterlacerRun::s_uiWidth, CDeinterlacerRun::s_uiHeight);
            EXPECT_EQ(allFrames[k], oReader.Counter());
            EXPECT_TRUE(oReader.BarsInOrder());
            EXPECT_TRUE(oReader.RampRisesToTheRight());
        }
    }
    EXPECT_EQ(3u, Counter(PellixCounter_FramesConsumed));
    EXPECT_EQ(6u, Counter(PellixCounter_FramesProduced));
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(DeinterlacerTest, PrimarySetsThePaceSecondarySkips)
{
    CDeinterlacerRun oRun(false);
    ASSERT_TRUE(oRun.Start({1920, 1920}, {1080, 1080}, {OMX_COLOR_FormatYCbYCr, OMX_COLOR_FormatYUV420SemiPlanar}, 2,
                           true));
    // The primary's two buffers take two frames; the next two wait for it.
    ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(16, false));
    ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(17, false));
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
    const std::vector<SOutput> aoPrimary = oRun.Outputs(16);
    ASSERT_EQ(4u, aoPrimary.size());
    EXPECT_EQ(3, CPatternReader(oRun.Picture(0, aoPrimary[3]), 1920, 1080).Counter());
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(DeinterlacerTest, WeavesFieldsOrScalesTheFirst)
{
    for (bool bBypass : {false, true})
    {
        SCOPED_TRACE(bBypass ? "bypassed" : "woven");
        PellixTest_Reset();
        CDeinterlacerRun oRun(true);
        ASSERT_TRUE(oRun.Start({1920, 1280}, {1080, 720}, {OMX_COLOR_FormatYCbYCr, OMX_COLOR_FormatYUV420SemiPlanar},
                               4, bBypass));
        ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(16, false));
        ASSERT_EQ(OMX_ErrorNone, oRun.m_oClient.SubmitAll(17, false));

        // A second field without its first goes back unused.
        OMX_BUFFERHEADERTYPE* poLone = oRun.m_oClient.Buffers(0).back();
        poLone->nFlags = local_uiFirstField | local_uiSecondField;
        ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(oRun.m_oClient.Handle(), poLone));
        ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 1));
        EXPECT_EQ(1u, Counter(PellixCounter_FramesDropped));
        EXPECT_EQ(0u, oRun.m_oClient.ReturnedCount(16));

        ASSERT_EQ(OMX_ErrorNone, oRun.Submit(41));
        ASSERT_TRUE(oRun.m_oClient.WaitReturned(0, 3));
        ASSERT_TRUE(oRun.m_oClient.WaitReturned(17, 1));
        // One frame out of the two fields, on both outputs.
        EXPECT_EQ(1u, Counter(PellixCounter_FramesConsumed));
        const std::vector<SOutput> aoPrimary = oRun.Outputs(16);
        ASSERT_EQ(1u, aoPrimary.size());
        const std::vector<SOutput> aoSecondary = oRun.Outputs(17);
        ASSERT_EQ(1u, aoSecondary.size());
        const STestPicture oPrimary = oRun.Picture(0, aoPrimary[0]);
        const STestPicture oSecondary = oRun.Picture(1, aoSecondary[0]);
        for (const STestPicture* poPicture : {&oPrimary, &oSecondary})
        {
            const CPatternReader oReader(*poPicture, 1920, 1080);
            EXPECT_EQ(41, oReader.Counter());
            EXPECT_TRUE(oReader.BarsInOrder());
            EXPECT_TRUE(oReader.RampRisesToTheRight());
        }
        if (!bBypass)
        {
            // Woven at the same size and format, the frame is the progressive picture itself.
            CTestPattern oPattern;
            oPattern.Configure(CVideoFrameGeometry(1920, 1080, 3840, OMX_COLOR_FormatYCbYCr), false);
            std::vector<uint8_t> aucExpected(static_cast<size_t>(oPattern.FrameBytes()));
            oPattern.Draw(41, aucExpected.data());
            EXPECT_TRUE(aoPrimary[0].aucData == aucExpected);
        }
        EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
    }
}
