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

OMX_ERRORTYPE ProbeFactory(OMX_COMPONENTTYPE* poComponent, const char*)
{
    poComponent->ComponentDeInit = [](OMX_HANDLETYPE) { return ++g_iDeInits, OMX_ErrorNone; };
    poComponent->SetCallbacks = [](OMX_HANDLETYPE, OMX_CALLBACKTYPE*, OMX_PTR) {
        return ++g_iSetCallbacks, g_eSetCallbacksResult;
    };
    return OMX_ErrorNone;
}

OMX_ERRORTYPE FailingFactory(OMX_COMPONENTTYPE*, const char*) { return OMX_ErrorInsufficientResources; }

std::set<std::string> Names()
{
    std::set<std::string> oNames;
    char szName[OMX_MAX_STRINGNAME_SIZE];
    for (OMX_U32 i = 0; OMX_ComponentNameEnum(szName, sizeof(szName), i) == OMX_ErrorNone; ++i)
        oNames.insert(szName);
    return oNames;
}

OMX_ERRORTYPE GetHandle(OMX_HANDLETYPE* phHandle, const char* szName, OMX_PTR pAppData = nullptr)
{
    static OMX_CALLBACKTYPE s_oCallbacks{};
    return OMX_GetHandle(phHandle, const_cast<char*>(szName), pAppData, &s_oCallbacks);
}
} // namespace

TEST(OmxCore, HandsOutTrackedHandlesRefusesUnknownOnesAndChecksRegistrations)
{
    const unsigned uiLiveBefore = PellixPlatform_LiveHandleCount(), uiInits = PellixPlatform_CoreInitCount(),
                   uiDeinits = PellixPlatform_CoreDeinitCount();
    // Init and Deinit in any balance: handles are still handed out after an extra Deinit.
    EXPECT_TRUE(OMX_Init() == OMX_ErrorNone && OMX_Init() == OMX_ErrorNone && OMX_Deinit() == OMX_ErrorNone);
    EXPECT_TRUE(PellixPlatform_CoreInitCount() == uiInits + 2 && PellixPlatform_CoreDeinitCount() == uiDeinits + 1);
    ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent("OMX.test.probe", ProbeFactory));
    ASSERT_EQ(OMX_ErrorNone, PellixPlatform_RegisterComponent("OMX.test.failing", FailingFactory));
    int iAppData = 0;
    OMX_HANDLETYPE hHandle = nullptr;
    ASSERT_EQ(OMX_ErrorNone, GetHandle(&hHandle, "OMX.test.probe", &iAppData));
    const auto* po = static_cast<OMX_COMPONENTTYPE*>(hHandle);
    EXPECT_TRUE(po->nSize == sizeof(OMX_COMPONENTTYPE) && po->nVersion.s.nVersionMajor == 1 &&
                po->nVersion.s.nVersionMinor == 1 && po->pApplicationPrivate == &iAppData && g_iSetCallbacks == 1 &&
                PellixPlatform_LiveHandleCount() == uiLiveBefore + 1);
    EXPECT_EQ(OMX_ErrorNone, OMX_FreeHandle(hHandle));
    // A handle freed twice, or never handed out, is refused.
    for (OMX_HANDLETYPE hBad : {hHandle, static_cast<OMX_HANDLETYPE>(nullptr), static_cast<OMX_HANDLETYPE>(&iAppData)})
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(hBad));
    EXPECT_EQ(1, g_iDeInits);
    // Unknown names and bad arguments get no handle; a failing factory or SetCallbacks leaves
    // nothing behind (the half-made component is deinitialised).
    hHandle = &iAppData;
    EXPECT_TRUE(GetHandle(&hHandle, "OMX.test.nobody") == OMX_ErrorComponentNotFound && hHandle == nullptr);
    EXPECT_TRUE(OMX_GetHandle(nullptr, const_cast<char*>("OMX.test.probe"), nullptr, nullptr) ==
                    OMX_ErrorBadParameter &&
                OMX_GetHandle(&hHandle, nullptr, nullptr, nullptr) == OMX_ErrorBadParameter);
    EXPECT_TRUE(GetHandle(&hHandle, "OMX.test.failing") == OMX_ErrorInsufficientResources && hHandle == nullptr);
    g_eSetCallbacksResult = OMX_ErrorIncorrectStateOperation;
    EXPECT_TRUE(GetHandle(&hHandle, "OMX.test.probe") == OMX_ErrorIncorrectStateOperation && hHandle == nullptr);
    EXPECT_TRUE(g_iDeInits == 2 && PellixPlatform_LiveHandleCount() == uiLiveBefore);

    // Enumeration: every registered name, a buffer too short refused, then no more.
    const std::set<std::string> oNames = Names();
    EXPECT_TRUE(oNames.count("OMX.test.probe") == 1 && oNames.count("OMX.test.failing") == 1);
    char szShort[4], szName[OMX_MAX_STRINGNAME_SIZE];
    bool bRefused = false;
    for (OMX_U32 i = 0; i < oNames.size(); ++i)
        bRefused = bRefused || OMX_ComponentNameEnum(szShort, sizeof(szShort), i) == OMX_ErrorBadParameter;
    EXPECT_TRUE(bRefused);
    EXPECT_TRUE(OMX_ComponentNameEnum(szName, sizeof(szName), static_cast<OMX_U32>(oNames.size())) == OMX_ErrorNoMore &&
                OMX_ComponentNameEnum(nullptr, 10, 0) == OMX_ErrorBadParameter);
    // Registrations: removed once, names checked.
    ASSERT_TRUE(PellixPlatform_UnregisterComponent("OMX.test.failing") == OMX_ErrorNone &&
                Names().count("OMX.test.failing") == 0 &&
                PellixPlatform_UnregisterComponent("OMX.test.failing") == OMX_ErrorComponentNotFound);
    const std::string oLong(OMX_MAX_STRINGNAME_SIZE, 'n');
    for (const char* szBad : {static_cast<const char*>(nullptr), "", oLong.c_str()})
        EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent(szBad, ProbeFactory));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixPlatform_RegisterComponent("OMX.test.null", nullptr));
    PellixPlatform_UnregisterComponent("OMX.test.probe");
    EXPECT_EQ(OMX_ErrorNone, OMX_Deinit());
}
