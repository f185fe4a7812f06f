// Captured output: what the process writes to standard output or standard error, caught at the
// descriptor, so that the library's own writes (printf, fputs, its INFO and ABORT records) are
// caught as well.
//
//   COutputCapture oOut(STDOUT_FILENO);
//   CallTheLibrary();
//   const std::string oText = oOut.Finish();   // stops capturing; also done by the destructor
//
// A capture never swallows a sanitizer's report: in a sanitized build the sanitizer writes its
// reports to a duplicate of the standard error the process started with, which stays the test's
// log whatever is captured. WriteToTestLog writes there too. Tests capture only through this
// class (never by moving descriptors themselves), so that this holds for every capture.
#ifndef PELLIX_TEST_OUTPUT_CAPTURE_H
#define PELLIX_TEST_OUTPUT_CAPTURE_H

#include <unistd.h>

#include <cstdio>
#include <string>

class COutputCapture
{
public:
    // iFd is STDOUT_FILENO or STDERR_FILENO.
    explicit COutputCapture(int iFd);
    ~COutputCapture();

    COutputCapture(const COutputCapture&) = delete;
    COutputCapture& operator=(const COutputCapture&) = delete;

    // Stops capturing and returns everything written since the capture began.
    std::string Finish();

private:
    int m_iFd;
    int m_iSavedFd;
    FILE* m_poFile;
    std::string m_oText;
};

// Writes to the standard error the process started with, whatever is being captured.
void WriteToTestLog(const std::string& roText);

// How often roPart occurs in the text (overlapping ones too), and whether it does.
inline size_t Occurrences(const std::string& roText, const std::string& roPart)
{
    size_t uiCount = 0;
    for (size_t uiAt = roText.find(roPart); uiAt != std::string::npos; uiAt = roText.find(roPart, uiAt + 1))
        ++uiCount;
    return uiCount;
}
inline bool Has(const std::string& roText, const std::string& roPart) { return roText.find(roPart) != std::string::npos; }

#endif // PELLIX_TEST_OUTPUT_CAPTURE_H
