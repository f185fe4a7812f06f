// Captures what the process writes to standard output or standard error, at the descriptor level,
// so that text written by the library through its own stdio calls is caught as well.
#ifndef PELLIX_TEST_OUTPUT_CAPTURE_H
#define PELLIX_TEST_OUTPUT_CAPTURE_H

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
    void Flush() const;

    int m_iFd;
    int m_iSavedFd;
    FILE* m_poFile;
    std::string m_oText;
};

#endif // PELLIX_TEST_OUTPUT_CAPTURE_H
