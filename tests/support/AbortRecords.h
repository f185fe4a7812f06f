// ABORT records read back from captured standard error, with their exact format checked:
//
//   std::string oOther;
//   const std::vector<SAbortRecord> aoRecords = CaptureAbortRecords([&] { Call(); }, oOther);
//   EXPECT_EQ("framework/x/Y/Function/OMX_ErrorBadParameter", aoRecords[0].Key());
//   EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords[0], PELLIX_SOURCE_DIR));
#ifndef PELLIX_TEST_ABORT_RECORDS_H
#define PELLIX_TEST_ABORT_RECORDS_H

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "OutputCapture.h"

struct SAbortRecord
{
    unsigned uiLine;
    std::string oFile;      // source path from the top of the tree, without extension
    std::string oFunction;  // the failing function
    std::string oError;     // the text of the code

    // The record as the library writes it: "\nABORT Line:%03d File:%s\n" then "%-24s %s\n\n".
    std::string Format() const
    {
        char szHead[512];
        char szBody[512];
        snprintf(szHead, sizeof(szHead), "\nABORT Line:%03d File:%s\n", uiLine, oFile.c_str());
        snprintf(szBody, sizeof(szBody), "%-24s %s\n\n", oFunction.c_str(), oError.c_str());
        return std::string(szHead) + szBody;
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

// All records one after the other, as written.
inline std::string FormatAbortRecords(const std::vector<SAbortRecord>& aoRecords)
{
    std::string oText;
    for (const SAbortRecord& roRecord : aoRecords)
        oText += roRecord.Format();
    return oText;
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
        {
        }
        if (oFile.is_open())
            return oLine.find("ZEM_CHECK") != std::string::npos || oLine.find("ZEM_FAIL") != std::string::npos ||
                   oLine.find("uiAbortLine = __LINE__") != std::string::npos;
    }
    return false;
}

// Runs fn with standard error captured and returns the ABORT records it wrote; whatever else it
// wrote there is appended to roOther.
template <typename TFn>
std::vector<SAbortRecord> CaptureAbortRecords(TFn fn, std::string& roOther)
{
    COutputCapture oErr(STDERR_FILENO);
    fn();
    return ParseAbortRecords(oErr.Finish(), roOther);
}

#endif // PELLIX_TEST_ABORT_RECORDS_H
