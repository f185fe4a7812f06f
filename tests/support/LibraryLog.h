// The library's log as the tests read it (for tests that link the library):
//
//   const std::string oLog = Logged(2, [&] { oServer.StopServing(); });   // INFO records up to level 2
//   EXPECT_TRUE(Has(oLog, "# StartStreaming       PellixServer already started.\n"));  // an INFO record
//   EXPECT_EQ("Pipeline created.\nPipeline deleted.\n", InfoMessages(oLog));
//
// Logged sets the message level for the call only (back to 0 after it) and captures standard
// output (COutputCapture: sanitizer reports still reach the test's log).
#ifndef PELLIX_TEST_LIBRARY_LOG_H
#define PELLIX_TEST_LIBRARY_LOG_H

#include <cstdio>
#include <string>

#include "OutputCapture.h"
#include "ti814x-framework.h"

template <typename TFn>
std::string Logged(int iLevel, TFn fn)
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

inline bool Has(const std::string& roText, const std::string& roPart)
{
    return roText.find(roPart) != std::string::npos;
}

#endif // PELLIX_TEST_LIBRARY_LOG_H
