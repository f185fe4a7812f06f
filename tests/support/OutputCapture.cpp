#include "OutputCapture.h"

#include <cstdint>

// Present in every sanitizer's run time, absent (null) otherwise.
extern "C" void __sanitizer_set_report_fd(void* pvFd) __attribute__((weak));

namespace
{
// Made when the test program starts, before any capture: the test's log, where a sanitizer writes
// its reports from then on.
int local_TestLogFd()
{
    static const int s_iFd = [] {
        const int iFd = dup(STDERR_FILENO);
        if (iFd >= 0 && __sanitizer_set_report_fd != nullptr)
            __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(iFd)));
        return iFd;
    }();
    return s_iFd;
}
const int local_iTestLogFd = local_TestLogFd();
} // namespace

void WriteToTestLog(const std::string& roText)
{
    for (size_t uiDone = 0; uiDone < roText.size();)
    {
        const ssize_t iWritten = write(local_iTestLogFd, roText.data() + uiDone, roText.size() - uiDone);
        if (iWritten <= 0)
            return;
        uiDone += static_cast<size_t>(iWritten);
    }
}

COutputCapture::COutputCapture(int iFd) : m_iFd(iFd), m_iSavedFd(-1), m_poFile(tmpfile())
{
    local_TestLogFd();
    fflush(nullptr);
    m_iSavedFd = dup(m_iFd);
    if (m_poFile != nullptr && m_iSavedFd >= 0)
        dup2(fileno(m_poFile), m_iFd);
}

COutputCapture::~COutputCapture()
{
    Finish();
    if (m_poFile != nullptr)
        fclose(m_poFile);
}

std::string COutputCapture::Finish()
{
    if (m_iSavedFd >= 0)
    {
        fflush(nullptr);
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
