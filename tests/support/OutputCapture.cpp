#include "OutputCapture.h"

#include <unistd.h>

COutputCapture::COutputCapture(int iFd) : m_iFd(iFd), m_iSavedFd(-1), m_poFile(tmpfile())
{
    Flush();
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

void COutputCapture::Flush() const
{
    fflush(m_iFd == STDERR_FILENO ? stderr : stdout);
}
