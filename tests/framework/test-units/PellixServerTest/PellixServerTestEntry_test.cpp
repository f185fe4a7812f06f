// The library as a host sees it: loaded with dlopen, reached through its exported names only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "OutputCapture.h"
#include "PellixPlatform.h"

namespace
{
typedef void (*VideoModeChangedCallback)(int, unsigned int, unsigned int, unsigned int, int, void*);

// Exported names: the host's entry points under plain C names, the others encoding their
// parameter lists.
const char* const local_szActivateAudioServer = "ActivateAudioServer";
const char* const local_szActivateAudioServerPlayback = "ActivateAudioServerPlayback";
const char* const local_szSetVideoModeChangeCallback = "SetVideoModeChangeCallback";
const char* const local_szPellixerTestOpen = "_Z17PellixerTest_Openv";
const char* const local_szPellixerTestClose = "_Z18PellixerTest_Closev";
const char* const local_szOmxFrameworkOpen = "_Z17OmxFramework_Openv";
const char* const local_szOmxFrameworkClose = "_Z18OmxFramework_Closev";
const char* const local_szSetInfoMessageLevel = "_Z19SetInfoMessageLeveli";
const char* const local_szFrameworkVersion = "_Z20OMXFramework_Versionv";
const char* const local_szFrameworkConnect = "_Z20OMXFramework_ConnectP10CComponentmS0_m";
const char* const local_szLInfoMessage = "_Z12LInfoMessageiPKcz";
const char* const local_szLErrorMessage = "_Z13LErrorMessagePKcz";
const char* const local_szZemAbortRecord = "_Z14ZemAbortRecordjPKcS0_13OMX_ERRORTYPE";

// The source line of the INFO record that OmxFramework_Close writes.
unsigned CloseRecordLine()
{
    std::ifstream oSource(PELLIX_SOURCE_DIR "/framework/ti814x-framework.cpp");
    std::string oLine;
    bool bInClose = false;
    for (unsigned uiLine = 1; std::getline(oSource, oLine); ++uiLine)
    {
        if (oLine.find("void OmxFramework_Close()") != std::string::npos)
            bInClose = true;
        else if (bInClose && oLine.find("ZEM_INFO(1") != std::string::npos)
            return uiLine;
    }
    return 0;
}

void HostCallback(int, unsigned int, unsigned int, unsigned int, int, void*)
{
}

class LoadedLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_uiInitsBefore = PellixPlatform_CoreInitCount();
        COutputCapture oOut(STDOUT_FILENO);
        m_pvLibrary = dlopen(PELLIX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        m_oLoadOutput = oOut.Finish();
        ASSERT_NE(nullptr, m_pvLibrary) << dlerror();
    }

    void TearDown() override
    {
        if (m_pvLibrary != nullptr)
            Unload();
    }

    // Unloads the library and checks that it is really gone, so that the next load starts afresh.
    void Unload()
    {
        ASSERT_EQ(0, dlclose(m_pvLibrary));
        m_pvLibrary = nullptr;
        EXPECT_EQ(nullptr, dlopen(PELLIX_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD));
    }

    template <typename TFunction>
    TFunction Symbol(const char* szName)
    {
        void* pvSymbol = dlsym(m_pvLibrary, szName);
        EXPECT_NE(nullptr, pvSymbol) << szName;
        return reinterpret_cast<TFunction>(pvSymbol);
    }

    // The levels among 0, 1, 2, 3, 4 and 9 whose messages are shown at the current level.
    std::string ShownLevels()
    {
        auto pfnInfo = Symbol<void (*)(int, const char*, ...)>(local_szLInfoMessage);
        COutputCapture oOut(STDOUT_FILENO);
        for (int iLevel : {0, 1, 2, 3, 4, 9})
            pfnInfo(iLevel, "%d", iLevel);
        return oOut.Finish();
    }

    template <typename TValue>
    TValue Global(const char* szName)
    {
        return *Symbol<TValue*>(szName);
    }

    void* m_pvLibrary = nullptr;
    unsigned m_uiInitsBefore = 0;
    std::string m_oLoadOutput;
};
} // namespace

TEST_F(LoadedLibrary, ExportsEntryPointsUnderPlainAndEncodedNames)
{
    for (const char* szName : {local_szActivateAudioServer, local_szActivateAudioServerPlayback,
                               local_szSetVideoModeChangeCallback, local_szPellixerTestOpen, local_szPellixerTestClose,
                               local_szOmxFrameworkOpen, local_szOmxFrameworkClose, local_szSetInfoMessageLevel,
                               local_szFrameworkVersion, local_szFrameworkConnect, local_szLInfoMessage,
                               local_szLErrorMessage})
        EXPECT_NE(nullptr, dlsym(m_pvLibrary, szName)) << szName;
    // Each under one name only.
    for (const char* szName : {"PellixerTest_Open", "OmxFramework_Open", "LInfoMessage", "_Z19ActivateAudioServerj"})
        EXPECT_EQ(nullptr, dlsym(m_pvLibrary, szName)) << szName;

    EXPECT_EQ(0x00010000ul, Symbol<unsigned long (*)()>(local_szFrameworkVersion)());
    EXPECT_EQ(0, Symbol<int (*)(void*, unsigned long, void*, unsigned long)>(local_szFrameworkConnect)(
                     nullptr, 0, nullptr, 0));
}

TEST_F(LoadedLibrary, LoadingResetsTheChoicesOpensTheCoreAndLeavesLevelZero)
{
    EXPECT_EQ("", m_oLoadOutput);  // the open record is at level 1
    EXPECT_EQ(m_uiInitsBefore + 1, PellixPlatform_CoreInitCount());
    EXPECT_EQ("0", ShownLevels());
    EXPECT_EQ(nullptr, Global<void*>("g_poServer"));
    EXPECT_EQ(0u, Global<uint32_t>("g_bAudioOn"));
    EXPECT_EQ(0u, Global<uint32_t>("g_bAudioPlaybackOn"));
    EXPECT_EQ(nullptr, Global<VideoModeChangedCallback>("g_pfnCallbackVideoModeChanged"));
}

TEST_F(LoadedLibrary, ChoicesAreRecordedAndPellixerTestOpenResetsThemWithLevelTwo)
{
    Symbol<void (*)(uint32_t)>(local_szActivateAudioServer)(1);
    Symbol<void (*)(uint32_t)>(local_szActivateAudioServerPlayback)(1);
    Symbol<void (*)(VideoModeChangedCallback)>(local_szSetVideoModeChangeCallback)(HostCallback);
    EXPECT_EQ(1u, Global<uint32_t>("g_bAudioOn"));
    EXPECT_EQ(1u, Global<uint32_t>("g_bAudioPlaybackOn"));
    EXPECT_EQ(&HostCallback, Global<VideoModeChangedCallback>("g_pfnCallbackVideoModeChanged"));

    Symbol<void (*)()>(local_szPellixerTestOpen)();
    EXPECT_EQ(0u, Global<uint32_t>("g_bAudioOn"));
    EXPECT_EQ(0u, Global<uint32_t>("g_bAudioPlaybackOn"));
    EXPECT_EQ(nullptr, Global<VideoModeChangedCallback>("g_pfnCallbackVideoModeChanged"));
    EXPECT_EQ("012", ShownLevels());

    Symbol<void (*)(uint32_t)>(local_szActivateAudioServer)(0);
    EXPECT_EQ(0u, Global<uint32_t>("g_bAudioOn"));
    Symbol<void (*)()>(local_szPellixerTestClose)();  // does nothing
    EXPECT_EQ("012", ShownLevels());
}

TEST_F(LoadedLibrary, FrameworkOpenSetsLevelZeroAndInitialisesTheCoreEachTime)
{
    Symbol<void (*)(int)>(local_szSetInfoMessageLevel)(9);
    EXPECT_EQ("012349", ShownLevels());
    COutputCapture oOut(STDOUT_FILENO);
    Symbol<void (*)()>(local_szOmxFrameworkOpen)();
    EXPECT_EQ("", oOut.Finish());
    EXPECT_EQ(m_uiInitsBefore + 2, PellixPlatform_CoreInitCount());
    EXPECT_EQ("0", ShownLevels());
}

TEST_F(LoadedLibrary, UnloadingWritesTheCloseRecordAndDeinitialisesTheCore)
{
    const unsigned uiDeinitsBefore = PellixPlatform_CoreDeinitCount();
    Symbol<void (*)(int)>(local_szSetInfoMessageLevel)(1);
    COutputCapture oOut(STDOUT_FILENO);
    Unload();
    char szExpected[64];
    snprintf(szExpected, sizeof(szExpected), "INFO  %03u# %-20s \n", CloseRecordLine(), "OmxFramework_Close");
    EXPECT_EQ(szExpected, oOut.Finish());
    EXPECT_EQ(uiDeinitsBefore + 1, PellixPlatform_CoreDeinitCount());
}

TEST_F(LoadedLibrary, UnloadingAtLevelZeroWritesNothing)
{
    const unsigned uiDeinitsBefore = PellixPlatform_CoreDeinitCount();
    COutputCapture oOut(STDOUT_FILENO);
    Unload();
    EXPECT_EQ("", oOut.Finish());
    EXPECT_EQ(uiDeinitsBefore + 1, PellixPlatform_CoreDeinitCount());
}

TEST_F(LoadedLibrary, MessagesOf1023CharactersAreWholeAndLongerOnesCut)
{
    auto pfnInfo = Symbol<void (*)(int, const char*, ...)>(local_szLInfoMessage);
    auto pfnError = Symbol<void (*)(const char*, ...)>(local_szLErrorMessage);
    const std::string oExact(1023, 'a');
    const std::string oLong(1024, 'b');
    COutputCapture oOut(STDOUT_FILENO);
    pfnInfo(0, "%s", oExact.c_str());
    pfnInfo(0, "%s|", oLong.c_str());
    EXPECT_EQ(oExact + std::string(1023, 'b'), oOut.Finish());
    COutputCapture oErr(STDERR_FILENO);
    pfnError("%s", oExact.c_str());
    pfnError("%s", oLong.c_str());
    EXPECT_EQ(oExact + std::string(1023, 'b'), oErr.Finish());
}

TEST_F(LoadedLibrary, AbortRecordHasItsExactFormatAtAnyLevel)
{
    Symbol<void (*)(int)>(local_szSetInfoMessageLevel)(-1);
    auto pfnAbort = Symbol<void (*)(unsigned, const char*, const char*, OMX_ERRORTYPE)>(local_szZemAbortRecord);
    COutputCapture oErr(STDERR_FILENO);
    pfnAbort(7, "framework/ti-components/CaptureVFCC.cpp", "SetCaptureParam", OMX_ErrorBadParameter);
    pfnAbort(1234, "gen-utils/GenUtils.cpp", "~CComponent", OMX_ErrorNone);
    EXPECT_EQ("\nABORT Line:007 File:framework/ti-components/CaptureVFCC\n"
              "SetCaptureParam          OMX_ErrorBadParameter\n\n"
              "\nABORT Line:1234 File:gen-utils/GenUtils\n"
              "~CComponent              OMX_ErrorNone\n\n",
              oErr.Finish());
}
