// What the tests on the platform share: structure set-up, reading a setting back from a handle,
// the quiet period, and the fixture that registers the test components and checks that every test
// gives back its handles and threads.
#ifndef ENGINE_TEST_SUPPORT_H
#define ENGINE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Core.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <type_traits>

#include "Eventually.h"
#include "PellixPlatform.h"
#include "PellixTestComponents.h"
#include "PellixTestControl.h"

// Long enough for a component thread that had something to do to have done it; only used to
// show that something does NOT happen, so a slow machine cannot make a test fail.
const std::chrono::milliseconds g_oQuietPeriod(150);

template <typename TStruct>
void InitStruct(TStruct& roStruct, OMX_U32 nPort = 0)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
    if constexpr (!std::is_same_v<TStruct, OMX_PORT_PARAM_TYPE>)
        roStruct.nPortIndex = nPort;
}

// A structure of the port set up by InitStruct.
template <typename TStruct>
TStruct Initialised(OMX_U32 nPort = 0)
{
    TStruct oStruct;
    InitStruct(oStruct, nPort);
    return oStruct;
}

// A parameter (with bConfig a configuration) as the platform component holds it.
template <typename TStruct>
TStruct ReadParam(OMX_HANDLETYPE hHandle, OMX_U32 uiIndex, OMX_U32 nPort = 0, bool bConfig = false)
{
    TStruct oStruct = Initialised<TStruct>(nPort);
    const auto eIndex = static_cast<OMX_INDEXTYPE>(uiIndex);
    EXPECT_EQ(OMX_ErrorNone,
              bConfig ? OMX_GetConfig(hHandle, eIndex, &oStruct) : OMX_GetParameter(hHandle, eIndex, &oStruct));
    return oStruct;
}

inline bool Ok(OMX_ERRORTYPE eError) { return eError == OMX_ErrorNone; }

inline OMX_STATETYPE PlatformState(OMX_HANDLETYPE hHandle)
{
    OMX_STATETYPE eState = OMX_StateInvalid;
    return hHandle != nullptr && Ok(OMX_GetState(hHandle, &eState)) ? eState : OMX_StateInvalid;
}

// Threads of this process, from /proc/self/task.
inline unsigned ThreadCount()
{
    std::error_code oError;
    unsigned uiCount = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", oError), end; !oError && it != end;
         it.increment(oError))
        ++uiCount;
    return uiCount;
}

class CEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(OMX_ErrorNone, OMX_Init());
        ASSERT_EQ(OMX_ErrorNone, PellixTestComponents_Register());
        PellixTest_Reset();
        m_uiLiveBefore = PellixPlatform_LiveHandleCount();
        // A sanitizer may start a helper thread with the first thread of the process.
        std::thread([] {}).join();
        m_uiThreadsBefore = ThreadCount();
    }
    void TearDown() override
    {
        PellixTest_Reset();
        EXPECT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
        EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
        // A component freed from its own callback finishes its thread on its own.
        EXPECT_TRUE(Eventually([this] { return ThreadCount() == m_uiThreadsBefore; }));
        OMX_Deinit();
    }

    unsigned m_uiLiveBefore = 0;
    unsigned m_uiThreadsBefore = 0;
};

#endif // ENGINE_TEST_SUPPORT_H
