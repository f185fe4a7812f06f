// Captures what the process writes to standard output or standard error, at the descriptor level,
// so that text written by the library through its own stdio calls is caught as well.
#ifndef PELLIX_TEST_OUTPUT_CAPTURE_H
#define PELLIX_TEST_OUTPUT_CAPTURE_H

#include <unistd.h>

#include <cstdio>
#include <string>

class COutputCapture
{
public:
    // iFd is STDOUT_FILENO or STDERR_FILENO.
    explicit COutputCapture(int iFd) : m_iFd(iFd), m_iSavedFd(-1), m_poFile(tmpfile())
    {
        Flush();
        m_iSavedFd = dup(m_iFd);
        if (m_poFile != nullptr && m_iSavedFd >= 0)
            dup2(fileno(m_poFile), m_iFd);
    }

    ~COutputCapture()
    {
        Finish();
        if (m_poFile != nullptr)
            fclose(m_poFile);
    }

    COutputCapture(const COutputCapture&) = delete;
    COutputCapture& operator=(const COutputCapture&) = delete;

    // Stops capturing and returns everything written since the capture began.
    std::string Finish()
    {
        if (m_iSavedFd >= 0)
        {
            Flush();
            dup2(m_iSavedFd, m_iFd);
            close(m_iSavedFd);
            m_iSavedFd = -1;
            if (m_poFile != nullptr)
            {
                rewind(m_poFile);
                char acBuffer[4096];
                size_t uiRead = 0;
                while ((uiRead = fread(acBuffer, 1, sizeof(acBuffer), m_poFile)) > 0)
                    m_oText.append(acBuffer, uiRead);
            }
        }
        return m_oText;
    }

private:
    void Flush() const { fflush(m_iFd == STDERR_FILENO ? stderr : stdout); }

    int m_iFd;
    int m_iSavedFd;
    FILE* m_poFile;
    std::string m_oText;
};

#endif // PELLIX_TEST_OUTPUT_CAPTURE_H
