// What the display wrapper's tests share: the platform core with a private platform root and
// the chosen monitor, OpenMAX structure set-up, and a colour-bar source on the platform engine
// with its wrapper, which provides the buffers as the deinterlacer does in the system.
#ifndef DISPLAY_VFDC_TEST_SUPPORT_H
#define DISPLAY_VFDC_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Core.h>

#include <cstring>
#include <string>
#include <vector>

#include "CPlatformComponent.h"
#include "Eventually.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "TempDir.h"
#include "base-components/OMXClassPort.h"
#include "ti-components/DisplayVFDC.h"
#include "ti814x-framework.h"

#define DISPLAY_NAME "OMX.TI.VPSSM3.VFDC"
#define DISPLAY_CONTROL_NAME "OMX.TI.VPSSM3.CTRL.DC"
#define BARS_SOURCE_NAME "OMX.Pellix.Test.DisplayBars"

template <typename TStruct>
void InitOmxStruct(TStruct& roStruct, OMX_U32 nPort = 0)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
    roStruct.nPortIndex = nPort;
}

// The eight bars, left to right, as full-range RGB.
const uint8_t g_aauiBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                  {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// Output port 0, packed 4:2:2 frames of the port's size showing eight vertical colour bars.
// Produces a frame as soon as a buffer comes back, so that the display sets the pace.
class CBarsSource : public CPlatformComponent
{
public:
    explicit CBarsSource(const char* szName) : CPlatformComponent(szName)
    {
        CPlatformPort& roPort = AddPort(0, OMX_DirOutput, OMX_PortDomainVideo);
        roPort.SetBufferRequirements(1, 4, 64 * 16 * 2);
        OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
        roVideo.nFrameWidth = 64;
        roVideo.nFrameHeight = 16;
        roVideo.nStride = 128;
        roVideo.eColorFormat = OMX_COLOR_FormatYCbYCr;
    }

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE, OMX_STATETYPE eTo) override
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        if (eTo != OMX_StateExecuting || !ReadPortDefinition(0, oDefinition))
            return OMX_ErrorNone;
        // One frame painted now, copied into every buffer later.
        const OMX_U32 nWidth = oDefinition.format.video.nFrameWidth;
        const OMX_U32 nStride = static_cast<OMX_U32>(oDefinition.format.video.nStride);
        m_auiFrame.assign(nStride * oDefinition.format.video.nFrameHeight, 0);
        for (OMX_U32 nLine = 0; nLine < oDefinition.format.video.nFrameHeight; ++nLine)
        {
            for (OMX_U32 nX = 0; nX + 1 < nWidth; nX += 2)
            {
                const uint8_t* puiRgb = g_aauiBars[nX * 8 / nWidth];
                const int iR = puiRgb[0], iG = puiRgb[1], iB = puiRgb[2];
                const int iY = (306 * iR + 601 * iG + 117 * iB) / 1024;
                const int iCb = (-173 * iR - 339 * iG + 512 * iB) / 1024 + 128;
                const int iCr = (512 * iR - 429 * iG - 83 * iB) / 1024 + 128;
                uint8_t* puiPair = &m_auiFrame[nLine * nStride + nX * 2];
                puiPair[0] = static_cast<uint8_t>(iY);
                puiPair[1] = static_cast<uint8_t>(iCb > 255 ? 255 : iCb);
                puiPair[2] = static_cast<uint8_t>(iY);
                puiPair[3] = static_cast<uint8_t>(iCr > 255 ? 255 : iCr);
            }
        }
        return OMX_ErrorNone;
    }

    void OnProcess() override
    {
        while (OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0))
        {
            const size_t uiLength = m_auiFrame.size() < poHeader->nAllocLen ? m_auiFrame.size() : poHeader->nAllocLen;
            memcpy(poHeader->pBuffer, m_auiFrame.data(), uiLength);
            poHeader->nOffset = 0;
            poHeader->nFilledLen = static_cast<OMX_U32>(uiLength);
            Count(PellixCounter_FramesProduced);
            ReturnBuffer(poHeader);
        }
    }

private:
    std::vector<uint8_t> m_auiFrame;
};

// The wrapper of the bar source: one output port that provides its buffers.
class CBarsSourceWrapper : public COMXComponent
{
public:
    CBarsSourceWrapper(MUINT32 uiWidth, MUINT32 uiHeight, MUINT32 uiBuffers)
        : COMXComponent(const_cast<char*>(BARS_SOURCE_NAME)), m_uiWidth(uiWidth), m_uiHeight(uiHeight), m_uiBuffers(uiBuffers)
    {
    }

    OMX_ERRORTYPE Init() override
    {
        const OMX_ERRORTYPE eError = COMXComponent::Init();
        return eError != OMX_ErrorNone ? eError : InitPorts();
    }
    OMX_ERRORTYPE Deinit() override
    {
        const OMX_ERRORTYPE eError = m_oOutput.Deinit();
        return eError != OMX_ErrorNone ? eError : COMXComponent::Deinit();
    }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiOutputPortCount = 1;
        m_poOutputPort = &m_oOutput;
        m_oOutput.SetPortID(0);
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE SetParameters() override
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitOmxStruct(oDefinition);
        OMX_ERRORTYPE eError = GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition);
        if (eError != OMX_ErrorNone)
            return eError;
        oDefinition.format.video.nFrameWidth = m_uiWidth;
        oDefinition.format.video.nFrameHeight = m_uiHeight;
        oDefinition.format.video.nStride = static_cast<OMX_S32>(2 * m_uiWidth);
        oDefinition.nBufferCountActual = m_uiBuffers;
        oDefinition.nBufferSize = 2 * m_uiWidth * m_uiHeight;
        eError = SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition);
        if (eError != OMX_ErrorNone)
            return eError;
        SPortBufferInfo oInfo = {OMX_COLOR_FormatYCbYCr, 2 * m_uiWidth * m_uiHeight, m_uiWidth, m_uiHeight};
        return m_oOutput.ProvideBuffer(&oInfo, m_uiBuffers);
    }

private:
    MUINT32 m_uiWidth;
    MUINT32 m_uiHeight;
    MUINT32 m_uiBuffers;
    CSourcePort m_oOutput;
};

// The core for each test, a private platform root and the monitor given, set before any
// component is created; every handle is given back by the end of the test.
class CDisplayVFDCTest : public ::testing::Test
{
protected:
    explicit CDisplayVFDCTest(const std::string& roMonitor = "1080p60")
        : m_oRootEnv("PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()), m_oMonitorEnv("PELLIX_SIM_MONITOR", roMonitor)
    {
    }

    void SetUp() override
    {
        SetInfoMessageLevel(0);
        ASSERT_EQ(OMX_ErrorNone, OMX_Init());
        ASSERT_EQ(OMX_ErrorNone,
                  PellixPlatform_RegisterComponent(BARS_SOURCE_NAME, &PellixCreateComponent<CBarsSource>));
        PellixTest_Reset();
        m_uiLiveBefore = PellixPlatform_LiveHandleCount();
    }

    void TearDown() override
    {
        PellixTest_Reset();
        EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
        SetInfoMessageLevel(0);
        OMX_Deinit();
    }

    std::string DriverFile(const char* szName) const
    {
        return m_oRoot.Read(std::string("sys/devices/platform/vpss/display0/") + szName);
    }
    void WriteDriverFile(const char* szName, const std::string& roContent) const
    {
        m_oRoot.Write(std::string("sys/devices/platform/vpss/display0/") + szName, roContent);
    }

    // The fallback the system gives: 1920 x 1080 progressive at 60 Hz.
    static void SetSystemMode(CDisplayVFDC& roDisplay, bool bUsePreferedMode = true)
    {
        roDisplay.SetVideoOutParams(bUsePreferedMode, 1920, 1080, false, 60, 148500, 88, 148, 44, 4, 36, 5);
    }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv;
    CScopedEnv m_oMonitorEnv;
    unsigned m_uiLiveBefore = 0;
};

#endif // DISPLAY_VFDC_TEST_SUPPORT_H
