// The IL core: handles of registered components, tracked so that a double or unknown free is
// refused; registration and enumeration; Init and Deinit in any balance.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "PellixPlatform.h"

namespace
{
// A component of the test's own, counting its calls.
int g_iDeInits = 0;
int g_iSetCallbacks = 0;
OMX_ERRORTYPE g_eSetCallbacksResult = OMX_ErrorNone;

OMX_ERRORTYPE ProbeDeInit(OMX_HANDLETYPE)
{
    ++g_iDeInits;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE ProbeSetCallbacks(OMX_HANDLETYPE, OMX_CALLBACKTYPE*, OMX_PTR)
{
    ++g_iSetCallbacks;
    return g_eSetCallbacksResult;
}

OMX_ERRORTYPE ProbeFactory(OMX_COMPONENTTYPE* poComponent, const char*)
{
    poComponent->ComponentDeInit = ProbeDeInit;
    poComponent->SetCallbacks = ProbeSetCallbacks;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE FailingFactory(OMX_COMPONENTTYPE*, const char*)
{
    return OMX_ErrorInsufficientResources;
}

class OmxCore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_iDeInits = g_iSetCallbacks = 0;
        g_eSetCallbacksResult = OMX_ErrorNone;
        m_uiLiveBefore = PellixPlatform_LiveHandleCount();
        ASSERT_EQ(OMX_ErrorNone, OMX_Init());
        ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent("OMX.test.probe", ProbeFactory));
        ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent("OMX.test.failing", FailingFactory));
    }
    void TearDown() override
    {
        PellixPlatform_UnregisterComponent("OMX.test.probe");
        PellixPlatform_UnregisterComponent("OMX.test.failing");
        EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
        EXPECT_EQ(OMX_ErrorNone, OMX_Deinit());
    }
    OMX_ERRORTYPE GetHandle(OMX_HANDLETYPE* phHandle, const char* szName, OMX_PTR pAppData = nullptr)
    {
        return OMX_GetHandle(phHandle, const_cast<char*>(szName), pAppData, &m_oCallbacks);
    }
    static std::set<std::string> Names()
    {
        std::set<std::string> oNames;
        char szName[OMX_MAX_STRINGNAME_SIZE];
        for (OMX_U32 i = 0; OMX_ComponentNameEnum(szName, sizeof(szName), i) == OMX_ErrorNone; ++i)
            oNames.insert(szName);
        return oNames;
    }

    unsigned m_uiLiveBefore = 0;
    OMX_CALLBACKTYPE m_oCallbacks{};
};
} // namespace

TEST_F(OmxCore, HandsOutTrackedHandlesAndRefusesUnknownOnes)
{
    int iAppData = 0;
    OMX_HANDLETYPE hHandle = nullptr;
    ASSERT_EQ(OMX_ErrorNone, GetHandle(&hHandle, "OMX.test.probe", &iAppData));
    const auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(hHandle);
    EXPECT_TRUE(poComponent->nSize == sizeof(OMX_COMPONENTTYPE) && poComponent->nVersion.s.nVersionMajor == 1 &&
                poComponent->nVersion.s.nVersionMinor == 1 && poComponent->pApplicationPrivate == &iAppData);
    EXPECT_EQ(1, g_iSetCallbacks);
    EXPECT_EQ(m_uiLiveBefore + 1, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_ErrorNone, OMX_FreeHandle(hHandle));
    EXPECT_EQ(1, g_iDeInits);
    // A handle freed twice, or never handed out, is refused.
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(hHandle));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(nullptr));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(&iAppData));
    EXPECT_EQ(1, g_iDeInits);

    // Unknown names and bad arguments get no handle.
    hHandle = &iAppData;
    EXPECT_EQ(OMX_ErrorComponentNotFound, GetHandle(&hHandle, "OMX.test.nobody"));
    EXPECT_EQ(nullptr, hHandle);
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetHandle(nullptr, const_cast<char*>("OMX.test.probe"), nullptr, nullptr));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetHandle(&hHandle, nullptr, nullptr, nullptr));
    // A failing factory or SetCallbacks leaves nothing behind (the half-made component is
    // deinitialised).
    EXPECT_EQ(OMX_ErrorInsufficientResources, GetHandle(&hHandle, "OMX.test.failing"));
    EXPECT_EQ(nullptr, hHandle);
    g_eSetCallbacksResult = OMX_ErrorIncorrectStateOperation;
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, GetHandle(&hHandle, "OMX.test.probe"));
    EXPECT_EQ(nullptr, hHandle);
    EXPECT_EQ(2, g_iDeInits);
}

TEST_F(OmxCore, RegistrationAndEnumerationAreChecked)
{
    const std::set<std::string> oNames = Names();
    EXPECT_TRUE(oNames.count("OMX.test.probe") == 1 && oNames.count("OMX.test.failing") == 1);
    char szShort[4];
    bool bRefused = false;
    for (OMX_U32 i = 0; i < oNames.size(); ++i)
        bRefused = bRefused || OMX_ComponentNameEnum(szShort, sizeof(szShort), i) == OMX_ErrorBadParameter;
    EXPECT_TRUE(bRefused);
    char szName[OMX_MAX_STRINGNAME_SIZE];
    EXPECT_EQ(OMX_ErrorNoMore, OMX_ComponentNameEnum(szName, sizeof(szName), static_cast<OMX_U32>(oNames.size())));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_ComponentNameEnum(nullptr, 10, 0));
    ASSERT_EQ(OMX_ErrorNone, PellixPlatform_UnregisterComponent("OMX.test.failing"));
    EXPECT_EQ(0u, Names().count("OMX.test.failing"));
    EXPECT_EQ(OMX_ErrorComponentNotFound, PellixPlatform_UnregisterComponent("OMX.test.failing"));
    const std::string oLong(OMX_MAX_STRINGNAME_SIZE, 'n');
    for (const char* szBad : {static_cast<const char*>(nullptr), "", oLong.c_str()})
        EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent(szBad, ProbeFactory));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent("OMX.test.null", nullptr));
}

TEST_F(OmxCore, InitAndDeinitMayBeCalledInAnyBalance)
{
    const unsigned uiInits = PellixPlatform_CoreInitCount();
    const unsigned uiDeinits = PellixPlatform_CoreDeinitCount();
    EXPECT_EQ(OMX_ErrorNone, OMX_Init());
    EXPECT_EQ(OMX_ErrorNone, OMX_Init());
    EXPECT_EQ(OMX_ErrorNone, OMX_Deinit());
    EXPECT_EQ(uiInits + 2, PellixPlatform_CoreInitCount());
    EXPECT_EQ(uiDeinits + 1, PellixPlatform_CoreDeinitCount());
    // Handles are still handed out after the extra Deinit.
    OMX_HANDLETYPE hHandle = nullptr;
    ASSERT_EQ(OMX_ErrorNone, GetHandle(&hHandle, "OMX.test.probe"));
    EXPECT_EQ(OMX_ErrorNone, OMX_FreeHandle(hHandle));
}
