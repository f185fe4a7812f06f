// What the tests of the device wrappers share: a fixture on the platform stand-in with a private
// platform root, reading a structure back from a platform handle, the ABORT records of a step,
// and failing each platform call a configuration step makes, in turn.
#ifndef PELLIX_WRAPPER_TEST_SUPPORT_H
#define PELLIX_WRAPPER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "AbortRecords.h"
#include "EngineTestSupport.h"
#include "FrameSink.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "TempDir.h"
#include "ti814x-framework.h"
#include "ti814x-omx.h"

// The stand-in with nothing armed, the input at 1080p60, the monitor a 1080p60 preset (another
// set with Monitor before the display is created), the log quiet; every handle given back.
class CWrapperTest : public ::testing::Test
{
protected:
    CWrapperTest() : m_oRootEnv("PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()) {}
    void SetUp() override
    {
        TearDown();
        m_uiLiveBefore = PellixPlatform_LiveHandleCount();
    }
    void TearDown() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        EXPECT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
        EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    }
    void Monitor(const std::string& roMonitor)
    {
        m_poMonitor.reset();
        m_poMonitor.reset(new CScopedEnv("PELLIX_SIM_MONITOR", roMonitor));
    }
    std::string DriverFile(const std::string& roName) const
    {
        return m_oRoot.Read("sys/devices/platform/vpss/display0/" + roName);
    }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv;
    std::unique_ptr<CScopedEnv> m_poMonitor;
    unsigned m_uiLiveBefore = 0;
};

// A parameter (with bConfig a configuration) as the platform component holds it.
template <typename TStruct>
TStruct ReadParam(OMX_HANDLETYPE hHandle, OMX_U32 uiIndex, OMX_U32 nPortIndex = 0, bool bConfig = false)
{
    TStruct oStruct;
    InitStruct(oStruct, nPortIndex);
    const OMX_INDEXTYPE eIndex = static_cast<OMX_INDEXTYPE>(uiIndex);
    EXPECT_EQ(OMX_ErrorNone,
              bConfig ? OMX_GetConfig(hHandle, eIndex, &oStruct) : OMX_GetParameter(hHandle, eIndex, &oStruct));
    return oStruct;
}

inline OMX_STATETYPE PlatformState(OMX_HANDLETYPE hHandle)
{
    OMX_STATETYPE eState = OMX_StateInvalid;
    return hHandle != nullptr && OMX_GetState(hHandle, &eState) == OMX_ErrorNone ? eState : OMX_StateInvalid;
}

// Fails the n-th parameter, configuration or command call made on the given handles (counting
// from 1; 0 fails none) with OMX_ErrorHardware, and lists the kinds of the calls. The handles'
// entry points are redirected through it and put back when it goes. One at a time, one thread.
class CPlatformCallFaults
{
public:
    CPlatformCallFaults(std::vector<OMX_HANDLETYPE> ahHandles, size_t uiFailAt) : m_uiFailAt(uiFailAt)
    {
        s_poActive = this;
        for (OMX_HANDLETYPE hHandle : ahHandles)
        {
            m_aoSaved.emplace_back(static_cast<OMX_COMPONENTTYPE*>(hHandle), *static_cast<OMX_COMPONENTTYPE*>(hHandle));
            OMX_COMPONENTTYPE& roEntries = *m_aoSaved.back().first;
            roEntries.GetParameter = &Struct<0>;
            roEntries.SetParameter = &Struct<1>;
            roEntries.GetConfig = &Struct<2>;
            roEntries.SetConfig = &Struct<3>;
            roEntries.SendCommand = [](OMX_HANDLETYPE h, OMX_COMMANDTYPE eCommand, OMX_U32 nParam, OMX_PTR pv) {
                return Note("SendCommand") ? OMX_ErrorHardware : Saved(h).SendCommand(h, eCommand, nParam, pv);
            };
        }
    }
    ~CPlatformCallFaults()
    {
        for (const auto& roSaved : m_aoSaved)
            *roSaved.first = roSaved.second;
        s_poActive = nullptr;
    }
    CPlatformCallFaults(const CPlatformCallFaults&) = delete;
    CPlatformCallFaults& operator=(const CPlatformCallFaults&) = delete;

    std::vector<std::string> m_aoCalls;  // GetParameter, SetParameter, GetConfig, SetConfig, SendCommand

private:
    static const OMX_COMPONENTTYPE& Saved(OMX_HANDLETYPE hHandle)
    {
        for (const auto& roSaved : s_poActive->m_aoSaved)
            if (roSaved.first == hHandle)
                return roSaved.second;
        throw std::logic_error("handle not redirected");
    }
    // Records the call; true when it is the one to fail.
    static bool Note(const char* szKind)
    {
        s_poActive->m_aoCalls.push_back(szKind);
        return s_poActive->m_aoCalls.size() == s_poActive->m_uiFailAt;
    }
    template <int iKind>
    static OMX_ERRORTYPE Struct(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        static const char* const s_aszKinds[] = {"GetParameter", "SetParameter", "GetConfig", "SetConfig"};
        const OMX_COMPONENTTYPE& ro = Saved(hHandle);
        const decltype(ro.GetParameter) apfnCalls[] = {ro.GetParameter, ro.SetParameter, ro.GetConfig, ro.SetConfig};
        return Note(s_aszKinds[iKind]) ? OMX_ErrorHardware : apfnCalls[iKind](hHandle, eIndex, pvStruct);
    }

    static inline CPlatformCallFaults* s_poActive = nullptr;
    const size_t m_uiFailAt;
    std::vector<std::pair<OMX_COMPONENTTYPE*, OMX_COMPONENTTYPE>> m_aoSaved;
};

// The ABORT records fn writes ("file/function/error"), each pointing at an error-flow statement.
template <typename TFn>
std::vector<std::string> AbortKeys(TFn fn)
{
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = CaptureAbortRecords(fn, oOther);
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
    return AbortRecordKeys(aoRecords);
}

// A configuration step of a fresh component (fnPrepare readies it), first clean, then failing at
// each of its platform calls in turn: the clean run makes uiCalls calls; each failing run makes no
// later call (but uiCleanupCalls to undo what it did) and returns OMX_ErrorHardware with the
// ABORT record of "file/step" last (except at uiBenignAt, where the failure is reported with
// roBenignKey and not returned); the component then deinitialises without a record. fnCheck
// looks at a component after its clean run.
template <typename TComponent>
void ExpectEachCallFails(size_t uiCalls, const std::string& roStepKey, std::function<void(TComponent&)> fnPrepare,
                         std::function<OMX_ERRORTYPE(TComponent&)> fnStep,
                         std::function<void(TComponent&)> fnCheck = nullptr, size_t uiBenignAt = 0,
                         const std::string& roBenignKey = "", size_t uiCleanupCalls = 0)
{
    for (size_t uiFailAt = 0; uiFailAt <= uiCalls; ++uiFailAt)
    {
        SCOPED_TRACE(roStepKey + " call " + std::to_string(uiFailAt));
        TComponent oComponent;
        ASSERT_EQ(OMX_ErrorNone, oComponent.Init());
        fnPrepare(oComponent);
        std::vector<OMX_HANDLETYPE> ahHandles = {oComponent.GetOMXHandle()};
        if (oComponent.GetOMXCtrlHandle() != nullptr)
            ahHandles.push_back(oComponent.GetOMXCtrlHandle());
        auto poCalls = std::make_unique<CPlatformCallFaults>(ahHandles, uiFailAt);
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        const std::vector<std::string> aoKeys = AbortKeys([&] { eError = fnStep(oComponent); });
        const size_t uiMade = poCalls->m_aoCalls.size(), uiMin = uiFailAt == 0 ? uiCalls : uiFailAt;
        EXPECT_TRUE(uiMade >= uiMin && uiMade <= uiMin + (uiFailAt == 0 ? 0 : uiCleanupCalls)) << uiMade;
        poCalls.reset();
        EXPECT_EQ(uiFailAt == 0 || uiFailAt == uiBenignAt ? OMX_ErrorNone : OMX_ErrorHardware, eError);
        EXPECT_EQ(uiFailAt == 0 ? "" : uiFailAt == uiBenignAt ? roBenignKey : roStepKey + "/OMX_ErrorHardware",
                  aoKeys.empty() ? "" : aoKeys.back());
        if (uiFailAt == 0 && fnCheck)
            fnCheck(oComponent);
        EXPECT_TRUE(AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oComponent.Deinit()); }).empty());
    }
}

#endif // PELLIX_WRAPPER_TEST_SUPPORT_H
