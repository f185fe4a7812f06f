// The library as a host sees it: loaded with dlopen and reached through its exported names only;
// its load and unload hooks in order, the host's choices, the message level.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>

#include "OutputCapture.h"
#include "PellixPlatform.h"

namespace
{
typedef void (*TModeCallback)(int, unsigned int, unsigned int, unsigned int, int, void*);
void HostCallback(int, unsigned int, unsigned int, unsigned int, int, void*) {}

class LoadedLibrary : public ::testing::Test
{
protected:
    void SetUp() override { Load(); }
    void TearDown() override
    {
        if (m_pvLibrary != nullptr)
            Unload();
    }
    void Load()
    {
        m_uiInits = PellixPlatform_CoreInitCount();
        COutputCapture oOut(STDOUT_FILENO);
        m_pvLibrary = dlopen(PELLIX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        m_oLoadOutput = oOut.Finish();
        ASSERT_NE(nullptr, m_pvLibrary) << dlerror();
    }
    // Unloads it and checks that it is gone, so that the next load starts afresh; what it wrote.
    std::string Unload()
    {
        COutputCapture oOut(STDOUT_FILENO);
        EXPECT_EQ(0, dlclose(m_pvLibrary));
        m_pvLibrary = nullptr;
        EXPECT_EQ(nullptr, dlopen(PELLIX_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD));
        return oOut.Finish();
    }
    template <typename TSymbol>
    TSymbol Symbol(const char* szName)
    {
        void* pvSymbol = dlsym(m_pvLibrary, szName);
        EXPECT_NE(nullptr, pvSymbol) << szName;
        return reinterpret_cast<TSymbol>(pvSymbol);
    }
    template <typename TValue>
    TValue Global(const char* szName) { return *Symbol<TValue*>(szName); }
    void Level(int iLevel) { Symbol<void (*)(int)>("_Z19SetInfoMessageLeveli")(iLevel); }
    // The levels among 0, 1, 2, 3, 4 and 9 whose messages show at the current level.
    std::string ShownLevels()
    {
        auto pfnInfo = Symbol<void (*)(int, const char*, ...)>("_Z12LInfoMessageiPKcz");
        COutputCapture oOut(STDOUT_FILENO);
        for (int iLevel : {0, 1, 2, 3, 4, 9})
            pfnInfo(iLevel, "%d", iLevel);
        return oOut.Finish();
    }
    void ExpectChoices(uint32_t uiAudio, uint32_t uiPlayback, TModeCallback pfnCallback)
    {
        EXPECT_TRUE(uiAudio == Global<uint32_t>("g_bAudioOn") && uiPlayback == Global<uint32_t>("g_bAudioPlaybackOn") &&
                    pfnCallback == Global<TModeCallback>("g_pfnCallbackVideoModeChanged"));
    }

    void* m_pvLibrary = nullptr;
    unsigned m_uiInits = 0;
    std::string m_oLoadOutput;
};
} // namespace

TEST_F(LoadedLibrary, ExportsItsEntryPointsLoadingResetsTheChoicesAtLevelZeroAndUnloadingClosesTheCore)
{
    // The host's entry points under plain C names, the others under names encoding their parameters
    // (the wrapper's constructor under the one its char* parameter gives).
    for (const char* szName : {"StartStreaming", "StopStreaming", "IsStreaming", "ActivateAudioServer",
                               "ActivateAudioServerPlayback", "SetVideoModeChangeCallback", "SetEncoderPlaybackVolume",
                               "_Z17PellixerTest_Openv", "_Z18PellixerTest_Closev", "_Z14InitComponentsv",
                               "_Z16DeinitComponentsv", "_Z17OmxFramework_Openv", "_Z18OmxFramework_Closev",
                               "_Z19SetInfoMessageLeveli", "_Z20OMXFramework_Versionv",
                               "_Z20OMXFramework_ConnectP10CComponentmS0_m", "_Z12LInfoMessageiPKcz",
                               "_Z13LErrorMessagePKcz", "_ZN13COMXComponentC2EPc"})
        EXPECT_NE(nullptr, dlsym(m_pvLibrary, szName)) << szName;
    for (const char* szName : {"PellixerTest_Open", "OmxFramework_Open", "LInfoMessage", "_Z19ActivateAudioServerj"})
        EXPECT_EQ(nullptr, dlsym(m_pvLibrary, szName)) << szName;
    EXPECT_EQ(0x00010000ul, Symbol<unsigned long (*)()>("_Z20OMXFramework_Versionv")());
    EXPECT_EQ(0, Symbol<int (*)(void*, unsigned long, void*, unsigned long)>("_Z20OMXFramework_ConnectP10CComponentmS0_m")(
                     nullptr, 0, nullptr, 0));
    EXPECT_EQ("", m_oLoadOutput);  // the open record is at level 1
    EXPECT_EQ(m_uiInits + 1, PellixPlatform_CoreInitCount());
    EXPECT_EQ("0", ShownLevels());
    EXPECT_EQ(nullptr, Global<void*>("g_poServer"));
    ExpectChoices(0, 0, nullptr);
    Symbol<void (*)(uint32_t)>("ActivateAudioServer")(1);
    Symbol<void (*)(uint32_t)>("ActivateAudioServerPlayback")(1);
    Symbol<void (*)(TModeCallback)>("SetVideoModeChangeCallback")(HostCallback);
    ExpectChoices(1, 1, HostCallback);
    Symbol<void (*)()>("_Z17PellixerTest_Openv")();
    ExpectChoices(0, 0, nullptr);
    EXPECT_EQ("012", ShownLevels());
    Symbol<void (*)()>("_Z18PellixerTest_Closev")();  // does nothing
    EXPECT_EQ("012", ShownLevels());
    // The framework's open sets level 0 and initialises the core again, silently.
    Level(9);
    EXPECT_EQ("012349", ShownLevels());
    COutputCapture oOut(STDOUT_FILENO);
    Symbol<void (*)()>("_Z17OmxFramework_Openv")();
    EXPECT_EQ("", oOut.Finish());
    EXPECT_EQ(m_uiInits + 2, PellixPlatform_CoreInitCount());
    EXPECT_EQ("0", ShownLevels());
    // Unloading closes the core; from level 1 on, OmxFramework_Close's INFO record says so.
    for (int iLevel : {0, 1})
    {
        const unsigned uiDeinits = PellixPlatform_CoreDeinitCount();
        Level(iLevel);
        const std::string oClosed = Unload();
        EXPECT_TRUE(iLevel == 0 ? oClosed.empty() : std::regex_match(oClosed, std::regex("INFO  \\d{3}# OmxFramework_Close   \n")))
            << oClosed;
        EXPECT_EQ(uiDeinits + 1, PellixPlatform_CoreDeinitCount());
        if (iLevel == 0)
            Load();
    }
}
