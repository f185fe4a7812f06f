// A source runs into the display through one window placed by FitRectangle, as in the system:
// frames are shown at the mode's refresh rate, the screen shows the source's picture at the
// window's place, live layout changes rotate through the five layouts, and the run stops and
// tears down cleanly, also after a live change failed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "DisplayVFDCTestSupport.h"
#include "OutputCapture.h"

namespace
{
const OMX_INDEXTYPE kMap = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCMosaicPort2WinMap);
const OMX_INDEXTYPE kModify = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCModifyMosaicLayout);

unsigned long long Shown()
{
    return PellixTest_GetCounter(DISPLAY_NAME, PellixCounter_FramesShown);
}

// A picture read back from a binary PPM file.
struct SPicture
{
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    std::vector<uint8_t> auiRgb;

    bool Read(const std::string& roPath)
    {
        std::ifstream oFile(roPath, std::ios::binary);
        std::string oMagic;
        unsigned uiMax = 0;
        oFile >> oMagic >> uiWidth >> uiHeight >> uiMax;
        oFile.get();
        auiRgb.resize(size_t(uiWidth) * uiHeight * 3);
        oFile.read(reinterpret_cast<char*>(auiRgb.data()), static_cast<std::streamsize>(auiRgb.size()));
        return oMagic == "P6" && uiMax == 255 && static_cast<size_t>(oFile.gcount()) == auiRgb.size();
    }
    bool IsNear(unsigned uiX, unsigned uiY, const uint8_t (&auiRgbWanted)[3]) const
    {
        const uint8_t* puiPixel = &auiRgb[(size_t(uiY) * uiWidth + uiX) * 3];
        for (int i = 0; i < 3; ++i)
        {
            if (std::abs(int(puiPixel[i]) - int(auiRgbWanted[i])) > 6)
                return false;
        }
        return true;
    }
};

const uint8_t kBlack[3] = {0, 0, 0};

class DisplayVFDCChain : public CDisplayVFDCTest
{
protected:
    // Each bar's middle inside the window, and black just outside it.
    void ExpectPictureAt(const char* szFile, const tagMRECT32& roWindow)
    {
        const std::string oPath = (m_oRoot.Path() / szFile).string();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(oPath.c_str()));
        SPicture oPicture;
        ASSERT_TRUE(oPicture.Read(oPath));
        ASSERT_EQ(1920u, oPicture.uiWidth);
        ASSERT_EQ(1080u, oPicture.uiHeight);
        const unsigned uiX = static_cast<unsigned>(roWindow.m_oPos.m_iX);
        const unsigned uiY = static_cast<unsigned>(roWindow.m_oPos.m_iY);
        const unsigned uiMiddle = uiY + roWindow.m_oSize.m_uiCy / 2;
        for (unsigned uiBar = 0; uiBar < 8; ++uiBar)
        {
            const unsigned uiBarX = uiX + (2 * uiBar + 1) * roWindow.m_oSize.m_uiCx / 16;
            EXPECT_TRUE(oPicture.IsNear(uiBarX, uiY, g_aauiBars[uiBar])) << "bar " << uiBar;
            EXPECT_TRUE(oPicture.IsNear(uiBarX, uiMiddle, g_aauiBars[uiBar])) << "bar " << uiBar;
        }
        if (uiX > 0)
        {
            EXPECT_TRUE(oPicture.IsNear(uiX - 1, uiMiddle, kBlack));
        }
        if (uiY > 0)
        {
            EXPECT_TRUE(oPicture.IsNear(uiX + 1, uiY - 1, kBlack));
        }
        EXPECT_TRUE(oPicture.IsNear(uiX + roWindow.m_oSize.m_uiCx, uiMiddle, kBlack));
        EXPECT_TRUE(oPicture.IsNear(uiX + 1, uiY + roWindow.m_oSize.m_uiCy, kBlack));
    }

    OMX_U32 SelectedLayout(const CDisplayVFDC& roDisplay) const
    {
        OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap;
        InitOmxStruct(oMap);
        EXPECT_EQ(OMX_ErrorNone, OMX_GetConfig(const_cast<CDisplayVFDC&>(roDisplay).GetOMXHandle(), kMap, &oMap));
        return oMap.nLayoutId;
    }
};

TEST_F(DisplayVFDCChain, SourceRunsThroughOneFittedWindowAtTheRefreshRate)
{
    const tagMSIZE32 oSourceSize = {1024, 768};
    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    const tagMSIZE32 oDisplaySize = {oDisplay.GetDisplayWidth(), oDisplay.GetDisplayHeight()};
    tagMRECT32 oWindow;
    ASSERT_TRUE(FitRectangle(oSourceSize, oDisplaySize, true, true, oWindow));
    EXPECT_EQ(448, oWindow.m_oPos.m_iX);
    EXPECT_EQ(156, oWindow.m_oPos.m_iY);
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, oWindow));

    CBarsSourceWrapper oSource(oWindow.m_oSize.m_uiCx, oWindow.m_oSize.m_uiCy, 6);
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oDisplay, 0));
    ASSERT_EQ(OMX_ErrorNone, oSource.Start());
    EXPECT_EQ(OMX_StateExecuting, oDisplay.GetComponentState());
    EXPECT_EQ(OMX_StateExecuting, oDisplay.GetCtrlState());
    EXPECT_EQ("148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("timings"));

    // The rate over a measured second, with bounds a busy machine cannot break.
    ASSERT_TRUE(Eventually([] { return Shown() >= 5; }));
    const unsigned long long uiStart = Shown();
    const auto oStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double dRate = static_cast<double>(Shown() - uiStart) /
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    printf("frames shown per second: %.1f (mode: 60 Hz)\n", dRate);
    EXPECT_GT(dRate, 30.0);
    EXPECT_LT(dRate, 90.0);

    ExpectPictureAt("fitted.ppm", oWindow);
    const std::string oArtifacts = PELLIX_BINARY_DIR "/artifacts";
    std::filesystem::create_directories(oArtifacts);
    EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot((oArtifacts + "/display-fitted-window.png").c_str()));

    // Ports are set while loaded only.
    EXPECT_EQ(CDisplayVFDC::s_uiInvalidPort,
              oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, oWindow.m_oSize, oWindow.m_oSize));

    // Live changes rewrite the next layout and select it: 1, 2, 3, 4, then 0 again.
    EXPECT_EQ(0u, SelectedLayout(oDisplay));
    tagMRECT32 oMoved = oWindow;
    for (OMX_U32 nExpected : {1u, 2u, 3u, 4u, 0u})
    {
        SCOPED_TRACE(nExpected);
        oMoved.m_oPos.m_iX = static_cast<MINT32>(nExpected * 100);
        oMoved.m_oPos.m_iY = static_cast<MINT32>(nExpected * 50);
        const CDisplayVFDC::MosaicRegion oRegion = {0, oMoved.m_oPos, 0};
        ASSERT_TRUE(oDisplay.SetMosaicLayout(1, &oRegion));
        EXPECT_EQ(nExpected, oDisplay.GetMosaicLayoutId());
        EXPECT_EQ(nExpected, SelectedLayout(oDisplay));
    }
    ExpectPictureAt("moved.ppm", oMoved);

    // A matrix given while the controller runs goes out at once.
    const CscMatrix oMatrix = {{1.5f, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    EXPECT_TRUE(oDisplay.SetCscMatrix(oMatrix));
    OMX_CONFIG_CTRL_SET_CSC oCsc;
    InitOmxStruct(oCsc);
    ASSERT_EQ(OMX_ErrorNone,
              OMX_GetConfig(oDisplay.GetOMXCtrlHandle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc), &oCsc));
    EXPECT_EQ(1536u, oCsc.auiRedVector[0]);

    ASSERT_EQ(OMX_ErrorNone, oSource.Stop());
    EXPECT_EQ(OMX_StateLoaded, oDisplay.GetComponentState());
    // The last frame stays on the stopped display.
    ExpectPictureAt("stopped.ppm", oMoved);
    EXPECT_EQ(OMX_ErrorNone, oSource.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot((m_oRoot.Path() / "gone.ppm").c_str()));
}

TEST_F(DisplayVFDCChain, FailedLiveChangesAreReportedAndTheRunStillStops)
{
    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    const tagMRECT32 oWindow = {{0, 0}, {640, 360}};
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 4, oWindow));
    CBarsSourceWrapper oSource(640, 360, 4);
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oDisplay, 0));
    ASSERT_EQ(OMX_ErrorNone, oSource.Start());
    ASSERT_TRUE(Eventually([] { return Shown() >= 2; }));

    const CDisplayVFDC::MosaicRegion oRegion = {0, {64, 32}, 0};
    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_SetConfig, DISPLAY_NAME, kModify, 1, OMX_ErrorInsufficientResources));
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oRegion));
    // The id moved on although the layout was not rewritten; the screen keeps layout 0.
    EXPECT_EQ(1u, oDisplay.GetMosaicLayoutId());
    EXPECT_EQ(0u, SelectedLayout(oDisplay));

    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_SetConfig, DISPLAY_NAME, kMap, 1, OMX_ErrorInsufficientResources));
    EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oRegion));
    EXPECT_EQ(2u, oDisplay.GetMosaicLayoutId());
    EXPECT_EQ(0u, SelectedLayout(oDisplay));
    const std::string oLog = oOut.Finish();
    EXPECT_NE(std::string::npos, oLog.find("Failed modifying layout id= 1!\n")) << oLog;
    EXPECT_NE(std::string::npos, oLog.find("Failed selecting layout id= 2!\n")) << oLog;

    // The next change works again.
    EXPECT_TRUE(oDisplay.SetMosaicLayout(1, &oRegion));
    EXPECT_EQ(3u, SelectedLayout(oDisplay));

    ASSERT_EQ(OMX_ErrorNone, oSource.Stop());
    EXPECT_EQ(OMX_ErrorNone, oSource.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}
} // namespace
