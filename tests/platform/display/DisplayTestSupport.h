// What the display component's tests share: a private platform root with the chosen monitor,
// a client on the display component with port 0 set up and shown through one window, and the
// reading of a snapshot back.
#ifndef DISPLAY_TEST_SUPPORT_H
#define DISPLAY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "TempDir.h"
#include "ti814x-omx.h"

#define DISPLAY_NAME "OMX.TI.VPSSM3.VFDC"
#define DISPLAY_CONTROL_NAME "OMX.TI.VPSSM3.CTRL.DC"

// A fresh platform root and monitor for each test, set before any component exists.
class CDisplayTest : public CEngineTest
{
protected:
    explicit CDisplayTest(const char* szMonitor = "1080p60")
        : m_oRootEnv("PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()), m_oMonitorEnv("PELLIX_SIM_MONITOR", szMonitor)
    {
    }

    std::string DriverFile(const char* szName) const
    {
        return m_oRoot.Read(std::string("sys/devices/platform/vpss/display0/") + szName);
    }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv;
    CScopedEnv m_oMonitorEnv;
};

inline OMX_PARAM_DC_CUSTOM_MODE_INFO MakeMode(OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nFps, bool bInterlaced = false)
{
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode;
    InitStruct(oMode);
    oMode.width = nWidth;
    oMode.height = nHeight;
    oMode.fps = nFps;
    oMode.scanFormat = bInterlaced ? OMX_DC_SF_INTERLACED : OMX_SF_PROGRESSIVE;
    oMode.pixelClock = 74250;
    return oMode;
}

// One packed 4:2:2 window of w x h at (x, y) reading a buffer of the same size.
inline OMX_VFDC_MultipleWindowFmt MakeWindow(OMX_U32 nX, OMX_U32 nY, OMX_U32 nWidth, OMX_U32 nHeight)
{
    OMX_VFDC_MultipleWindowFmt oWindow;
    memset(&oWindow, 0, sizeof(oWindow));
    oWindow.winStartX = nX;
    oWindow.winStartY = nY;
    oWindow.winWidth = nWidth;
    oWindow.winHeight = nHeight;
    oWindow.pitch[0] = 2 * nWidth;
    oWindow.dataFormat = VFDC_DF_YUV422I_YVYU;
    oWindow.bpp = VFDC_BPP_BITS16;
    return oWindow;
}

inline OMX_PARAM_VFDC_CREATEMOSAICLAYOUT MakeLayout(OMX_U32 nLayoutId, const std::vector<OMX_VFDC_MultipleWindowFmt>& aoWindows)
{
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
    InitStruct(oLayout);
    oLayout.nLayoutId = nLayoutId;
    oLayout.nNumWindows = aoWindows.size();
    for (size_t ui = 0; ui < aoWindows.size(); ++ui)
        oLayout.sMosaicWinFmt[ui] = aoWindows[ui];
    return oLayout;
}

inline OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP MakeMap(OMX_U32 nLayoutId, const std::vector<OMX_U32>& anPorts)
{
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap;
    InitStruct(oMap);
    oMap.nLayoutId = nLayoutId;
    oMap.numWindows = anPorts.size();
    for (size_t ui = 0; ui < anPorts.size(); ++ui)
        oMap.omxPortList[ui] = anPorts[ui];
    return oMap;
}

// Port uiPort of the display as packed 4:2:2 frames of w x h in nCount buffers.
inline OMX_ERRORTYPE SetUpPort(COmxTestClient& roClient, OMX_U32 nPort, OMX_U32 nWidth, OMX_U32 nHeight,
                               OMX_U32 nCount = 3)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = roClient.PortDefinition(nPort);
    oDefinition.format.video.nFrameWidth = nWidth;
    oDefinition.format.video.nFrameHeight = nHeight;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(2 * nWidth);
    oDefinition.format.video.eColorFormat = OMX_COLOR_FormatYCbYCr;
    oDefinition.nBufferCountActual = nCount;
    oDefinition.nBufferSize = 2 * nWidth * nHeight;
    return OMX_SetParameter(roClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition);
}

inline bool EnablePort(COmxTestClient& roClient, OMX_U32 nPort)
{
    return OMX_SendCommand(roClient.Handle(), OMX_CommandPortEnable, nPort, nullptr) == OMX_ErrorNone &&
           roClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, nPort);
}

// A picture read back from a binary PPM file.
struct SPicture
{
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    std::vector<uint8_t> auiRgb;

    const uint8_t* At(unsigned uiX, unsigned uiY) const { return &auiRgb[(size_t(uiY) * uiWidth + uiX) * 3]; }
};

inline bool ReadPpm(const std::string& roPath, SPicture& roPicture)
{
    std::ifstream oFile(roPath, std::ios::binary);
    std::string oMagic;
    unsigned uiMax = 0;
    oFile >> oMagic >> roPicture.uiWidth >> roPicture.uiHeight >> uiMax;
    oFile.get();
    if (!oFile || oMagic != "P6" || uiMax != 255)
        return false;
    roPicture.auiRgb.resize(size_t(roPicture.uiWidth) * roPicture.uiHeight * 3);
    oFile.read(reinterpret_cast<char*>(roPicture.auiRgb.data()), static_cast<std::streamsize>(roPicture.auiRgb.size()));
    return static_cast<size_t>(oFile.gcount()) == roPicture.auiRgb.size();
}

#endif // DISPLAY_TEST_SUPPORT_H
