#include <gtest/gtest.h>

#include <cstring>
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
        g_iDeInits = 0;
        g_iSetCallbacks = 0;
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

    std::set<std::string> Names()
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

TEST_F(OmxCore, HandsOutAndFreesHandlesOfARegisteredComponent)
{
    int iAppData = 0;
    OMX_HANDLETYPE hHandle = nullptr;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetHandle(&hHandle, const_cast<char*>("OMX.test.probe"), &iAppData, &m_oCallbacks));
    ASSERT_NE(nullptr, hHandle);
    const auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(hHandle);
    EXPECT_EQ(sizeof(OMX_COMPONENTTYPE), poComponent->nSize);
    EXPECT_EQ(1, poComponent->nVersion.s.nVersionMajor);
    EXPECT_EQ(1, poComponent->nVersion.s.nVersionMinor);
    EXPECT_EQ(&iAppData, poComponent->pApplicationPrivate);
    EXPECT_EQ(1, g_iSetCallbacks);
    EXPECT_EQ(m_uiLiveBefore + 1, PellixPlatform_LiveHandleCount());

    EXPECT_EQ(OMX_ErrorNone, OMX_FreeHandle(hHandle));
    EXPECT_EQ(1, g_iDeInits);
    // A handle freed twice, or never handed out, is refused.
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(hHandle));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(nullptr));
    EXPECT_EQ(1, g_iDeInits);
}

TEST_F(OmxCore, UnknownNamesAndBadArgumentsGetNoHandle)
{
    OMX_HANDLETYPE hHandle = &m_oCallbacks;
    EXPECT_EQ(OMX_ErrorComponentNotFound,
              OMX_GetHandle(&hHandle, const_cast<char*>("OMX.test.nobody"), nullptr, &m_oCallbacks));
    EXPECT_EQ(nullptr, hHandle);
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetHandle(nullptr, const_cast<char*>("OMX.test.probe"), nullptr, nullptr));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetHandle(&hHandle, nullptr, nullptr, nullptr));
}

TEST_F(OmxCore, FailingFactoryOrCallbacksLeaveNothingBehind)
{
    OMX_HANDLETYPE hHandle = nullptr;
    EXPECT_EQ(OMX_ErrorInsufficientResources,
              OMX_GetHandle(&hHandle, const_cast<char*>("OMX.test.failing"), nullptr, &m_oCallbacks));
    EXPECT_EQ(nullptr, hHandle);

    g_eSetCallbacksResult = OMX_ErrorIncorrectStateOperation;
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation,
              OMX_GetHandle(&hHandle, const_cast<char*>("OMX.test.probe"), nullptr, &m_oCallbacks));
    EXPECT_EQ(nullptr, hHandle);
    EXPECT_EQ(1, g_iDeInits);  // the half-made component was deinitialised
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
}

TEST_F(OmxCore, EnumeratesRegisteredNamesAndRefusesShortBuffers)
{
    const std::set<std::string> oNames = Names();
    EXPECT_EQ(1u, oNames.count("OMX.test.probe"));
    EXPECT_EQ(1u, oNames.count("OMX.test.failing"));

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
}

TEST_F(OmxCore, RegistrationRefusesBadNamesAndFactories)
{
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent(nullptr, ProbeFactory));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent("", ProbeFactory));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent("OMX.test.null", nullptr));
    const std::string oLong(OMX_MAX_STRINGNAME_SIZE, 'n');
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent(oLong.c_str(), ProbeFactory));
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
    ASSERT_EQ(OMX_ErrorNone, OMX_GetHandle(&hHandle, const_cast<char*>("OMX.test.probe"), nullptr, &m_oCallbacks));
    EXPECT_EQ(OMX_ErrorNone, OMX_FreeHandle(hHandle));
}
