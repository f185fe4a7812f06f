// What the tests of the library's components share: the ABORT records a step writes, the log it
// writes at a level, and failing each platform call a configuration step makes, in turn.
#ifndef PELLIX_LIBRARY_TEST_SUPPORT_H
#define PELLIX_LIBRARY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AbortRecords.h"
#include "OutputCapture.h"
#include "ti814x-framework.h"

// The keys of the ABORT records fn writes ("file/function/error"), each pointing at an error-flow
// statement; whatever else it writes on standard error goes to *poOther, or must be nothing.
template <typename TFn>
std::vector<std::string> AbortKeys(TFn fn, std::string* poOther = nullptr)
{
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = CaptureAbortRecords(fn, oOther);
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
    EXPECT_TRUE(poOther != nullptr || oOther.empty()) << oOther;
    if (poOther != nullptr)
        *poOther = oOther;
    return AbortRecordKeys(aoRecords);
}

// What fn writes on standard output with the log at iLevel (0 again afterwards).
template <typename TFn>
std::string LogOf(int iLevel, TFn fn)
{
    SetInfoMessageLevel(iLevel);
    COutputCapture oOut(STDOUT_FILENO);
    fn();
    SetInfoMessageLevel(0);
    return oOut.Finish();
}

inline size_t Occurrences(const std::string& roText, const std::string& roPart)
{
    size_t uiCount = 0;
    for (size_t uiAt = roText.find(roPart); uiAt != std::string::npos; uiAt = roText.find(roPart, uiAt + 1))
        ++uiCount;
    return uiCount;
}

// Fails the n-th parameter, configuration or command call made on the given handles (counting
// from 1; 0 fails none) with OMX_ErrorHardware, and counts the calls. The handles' entry points
// are redirected through it and put back when it goes. One at a time, one thread.
class CPlatformCallFaults
{
public:
    CPlatformCallFaults(std::vector<OMX_HANDLETYPE> ahHandles, size_t uiFailAt) : m_uiFailAt(uiFailAt)
    {
        s_poActive = this;
        for (OMX_HANDLETYPE h : ahHandles)
        {
            m_aoSaved.emplace_back(static_cast<OMX_COMPONENTTYPE*>(h), *static_cast<OMX_COMPONENTTYPE*>(h));
            OMX_COMPONENTTYPE& ro = *m_aoSaved.back().first;
            ro.GetParameter = &Struct<0>;
            ro.SetParameter = &Struct<1>;
            ro.GetConfig = &Struct<2>;
            ro.SetConfig = &Struct<3>;
            ro.SendCommand = [](OMX_HANDLETYPE hHandle, OMX_COMMANDTYPE eCommand, OMX_U32 nParam, OMX_PTR pv) {
                return Failing() ? OMX_ErrorHardware : Saved(hHandle).SendCommand(hHandle, eCommand, nParam, pv);
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

    size_t m_uiCalls = 0;

private:
    static const OMX_COMPONENTTYPE& Saved(OMX_HANDLETYPE h)
    {
        size_t i = 0;
        while (s_poActive->m_aoSaved[i].first != h)
            ++i;
        return s_poActive->m_aoSaved[i].second;
    }
    // Counts the call; true when it is the one to fail.
    static bool Failing() { return ++s_poActive->m_uiCalls == s_poActive->m_uiFailAt; }
    template <int iKind>
    static OMX_ERRORTYPE Struct(OMX_HANDLETYPE h, OMX_INDEXTYPE eIndex, OMX_PTR pv)
    {
        const OMX_COMPONENTTYPE& ro = Saved(h);
        const decltype(ro.GetParameter) apfnCalls[] = {ro.GetParameter, ro.SetParameter, ro.GetConfig, ro.SetConfig};
        return Failing() ? OMX_ErrorHardware : apfnCalls[iKind](h, eIndex, pv);
    }

    static inline CPlatformCallFaults* s_poActive = nullptr;
    const size_t m_uiFailAt;
    std::vector<std::pair<OMX_COMPONENTTYPE*, OMX_COMPONENTTYPE>> m_aoSaved;
};

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
        const size_t uiMade = poCalls->m_uiCalls, uiMin = uiFailAt == 0 ? uiCalls : uiFailAt;
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

#endif // PELLIX_LIBRARY_TEST_SUPPORT_H
