// What the tests that link the library share: the ABORT records a step writes (read back from
// captured standard error with their exact format checked), the log it writes at a level and the
// messages of its INFO records, and failing each platform call a configuration step makes, in turn.
//
//   const std::string oLog = LogOf(2, [&] { oServer.StopServing(); });   // INFO records up to level 2
//   EXPECT_EQ("Pipeline created.\nPipeline deleted.\n", InfoMessages(oLog));
//   EXPECT_EQ(std::vector<std::string>{"framework/x/Y/Function/OMX_ErrorBadParameter"}, AbortKeys([&] { Call(); }));
#ifndef PELLIX_LIBRARY_TEST_SUPPORT_H
#define PELLIX_LIBRARY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OutputCapture.h"
#include "ti814x-framework.h"

struct SAbortRecord
{
    unsigned uiLine;
    std::string oFile;      // source path from the top of the tree, without extension
    std::string oFunction;  // the failing function
    std::string oError;     // the text of the code

    // The record as the library writes it: "\nABORT Line:%03d File:%s\n" then "%-24s %s\n\n".
    std::string Format() const
    {
        char szText[1024];
        snprintf(szText, sizeof(szText), "\nABORT Line:%03d File:%s\n%-24s %s\n\n", uiLine, oFile.c_str(), oFunction.c_str(),
                 oError.c_str());
        return szText;
    }

    // "File/Function/Error", for comparing chains.
    std::string Key() const { return oFile + "/" + oFunction + "/" + oError; }
};

// Splits captured text into its ABORT records, in order; the text outside them is appended to
// roOther. A record whose bytes differ from the library's format in any way (padding, blank
// lines, line number without its zeros) is no record and ends up in roOther.
inline std::vector<SAbortRecord> ParseAbortRecords(const std::string& oText, std::string& roOther)
{
    std::vector<SAbortRecord> aoRecords;
    size_t uiDone = 0;
    for (size_t uiAt = oText.find("\nABORT Line:"); uiAt != std::string::npos; uiAt = oText.find("\nABORT Line:", uiAt + 1))
    {
        SAbortRecord oRecord{0, "", "", ""};
        char szFile[512] = "";
        char szFunction[256] = "";
        char szError[256] = "";
        if (sscanf(oText.c_str() + uiAt, "\nABORT Line:%u File:%511[^\n]\n%255s %255[^\n]", &oRecord.uiLine, szFile, szFunction,
                   szError) != 4)
            continue;
        oRecord = SAbortRecord{oRecord.uiLine, szFile, szFunction, szError};
        const std::string oRecordText = oRecord.Format();
        if (oText.compare(uiAt, oRecordText.size(), oRecordText) != 0)
            continue;
        roOther.append(oText, uiDone, uiAt - uiDone);
        aoRecords.push_back(oRecord);
        uiDone = uiAt + oRecordText.size();
        uiAt = uiDone - 1;
    }
    roOther.append(oText, uiDone, std::string::npos);
    return aoRecords;
}

// The keys of the records, in order.
inline std::vector<std::string> AbortRecordKeys(const std::vector<SAbortRecord>& aoRecords)
{
    std::vector<std::string> aoKeys;
    for (const SAbortRecord& roRecord : aoRecords)
        aoKeys.push_back(roRecord.Key());
    return aoKeys;
}

// True when the record's line in the named source (.cpp, else .h) below szSourceDir is one of the
// error-flow statements (ZEM_CHECK, ZEM_FAIL) or an explicit uiAbortLine assignment.
inline bool AbortRecordPointsAtCheck(const SAbortRecord& roRecord, const char* szSourceDir)
{
    for (const char* szExtension : {".cpp", ".h"})
    {
        std::ifstream oFile(std::string(szSourceDir) + "/" + roRecord.oFile + szExtension);
        std::string oLine;
        for (unsigned i = 0; oFile.is_open() && i < roRecord.uiLine && std::getline(oFile, oLine); ++i)
            ;
        if (oFile.is_open())
            return oLine.find("ZEM_CHECK") != std::string::npos || oLine.find("ZEM_FAIL") != std::string::npos ||
                   oLine.find("uiAbortLine = __LINE__") != std::string::npos;
    }
    return false;
}

// The keys of the ABORT records fn writes ("file/function/error"), each pointing at an error-flow
// statement; whatever else it writes on standard error goes to *poOther, or must be nothing.
template <typename TFn>
std::vector<std::string> AbortKeys(TFn fn, std::string* poOther = nullptr)
{
    COutputCapture oErr(STDERR_FILENO);
    fn();
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = ParseAbortRecords(oErr.Finish(), oOther);
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
    EXPECT_TRUE(poOther != nullptr || oOther.empty()) << oOther;
    if (poOther != nullptr)
        *poOther = oOther;
    return AbortRecordKeys(aoRecords);
}

// What fn writes on standard output with the log at iLevel (0 again afterwards). Sanitizer reports
// still reach the test's log (COutputCapture).
template <typename TFn>
std::string LogOf(int iLevel, TFn fn)
{
    SetInfoMessageLevel(iLevel);
    COutputCapture oOut(STDOUT_FILENO);
    fn();
    SetInfoMessageLevel(0);
    return oOut.Finish();
}

// The messages of the INFO records in the text, each on its line, without the records' heads.
inline std::string InfoMessages(const std::string& roText)
{
    std::string oMessages;
    for (size_t uiAt = roText.find("INFO  "); uiAt != std::string::npos; uiAt = roText.find("INFO  ", uiAt + 1))
    {
        const size_t uiMessage = roText.find_first_not_of(' ', roText.find(' ', roText.find("# ", uiAt) + 2));
        oMessages += roText.substr(uiMessage, roText.find('\n', uiAt) + 1 - uiMessage);
    }
    return oMessages;
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
