// Reading ABORT records back from captured standard error, with their exact format checked.
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

// Splits captured text into its ABORT records, in order. Text outside the records is appended to
// roOther. A record whose bytes differ from the library's format in any way (padding, blank
// lines, zero-padded line number) is not taken as a record and ends up in roOther.
inline std::vector<SAbortRecord> ParseAbortRecords(const std::string& oText, std::string& roOther)
{
    static const std::string s_oHead = "\nABORT Line:";
    std::vector<SAbortRecord> aoRecords;
    size_t uiDone = 0;
    size_t uiAt = oText.find(s_oHead);
    while (uiAt != std::string::npos)
    {
        // "\nABORT Line:<digits> File:<path>\n<function> <padding><error>\n\n"
        SAbortRecord oRecord{0, "", "", ""};
        size_t uiPos = uiAt + s_oHead.size();
        const size_t uiDigits = uiPos;
        while (uiPos < oText.size() && oText[uiPos] >= '0' && oText[uiPos] <= '9')
            oRecord.uiLine = oRecord.uiLine * 10 + static_cast<unsigned>(oText[uiPos++] - '0');
        const size_t uiFile = uiPos + 6;
        const size_t uiFileEnd = oText.find('\n', uiFile);
        const size_t uiBodyEnd = uiFileEnd == std::string::npos ? std::string::npos : oText.find("\n\n", uiFileEnd + 1);
        if (uiPos == uiDigits || oText.compare(uiPos, 6, " File:") != 0 || uiBodyEnd == std::string::npos)
        {
            uiAt = oText.find(s_oHead, uiAt + 1);
            continue;
        }
        oRecord.oFile = oText.substr(uiFile, uiFileEnd - uiFile);
        const std::string oBody = oText.substr(uiFileEnd + 1, uiBodyEnd - uiFileEnd - 1);
        const size_t uiBlank = oBody.find(' ');
        const size_t uiError = uiBlank == std::string::npos ? std::string::npos : oBody.find_first_not_of(' ', uiBlank);
        if (uiError == std::string::npos)
        {
            uiAt = oText.find(s_oHead, uiAt + 1);
            continue;
        }
        oRecord.oFunction = oBody.substr(0, uiBlank);
        oRecord.oError = oBody.substr(uiError);
        const size_t uiEnd = uiBodyEnd + 2;
        if (oRecord.Format() != oText.substr(uiAt, uiEnd - uiAt))
        {
            uiAt = oText.find(s_oHead, uiAt + 1);
            continue;
        }
        roOther.append(oText, uiDone, uiAt - uiDone);
        aoRecords.push_back(oRecord);
        uiDone = uiEnd;
        uiAt = oText.find(s_oHead, uiDone);
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
        if (!oFile)
            continue;
        std::string oLine;
        for (unsigned i = 0; i < roRecord.uiLine && std::getline(oFile, oLine); ++i)
        {
        }
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
