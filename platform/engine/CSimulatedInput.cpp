#include "CSimulatedInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const char* const local_szDefaultSignal = "1920x1080p60";
const unsigned long local_uiMaxDimension = 8192;
const unsigned long local_uiMaxRate = 240;

// Reads a decimal number from 1 to uiMax; advances rpszText past it.
bool ParseNumber(const char*& rpszText, unsigned long uiMax, unsigned& ruiValue)
{
    if (*rpszText < '0' || *rpszText > '9')
        return false;
    char* pszEnd = nullptr;
    const unsigned long uiValue = strtoul(rpszText, &pszEnd, 10);
    if (uiValue == 0 || uiValue > uiMax)
        return false;
    rpszText = pszEnd;
    ruiValue = static_cast<unsigned>(uiValue);
    return true;
}
} // namespace

CSimulatedInput& CSimulatedInput::Instance()
{
    static CSimulatedInput s_oInput;
    return s_oInput;
}

CSimulatedInput::CSimulatedInput() : m_oSignal(), m_uiGeneration(0)
{
    Parse(local_szDefaultSignal, m_oSignal);
    const char* szEnvironment = getenv("PELLIX_SIM_INPUT");
    if (szEnvironment != nullptr && szEnvironment[0] != 0 && !Parse(szEnvironment, m_oSignal))
        fprintf(stderr, "PELLIX_SIM_INPUT=%s is not none, WxHpR or WxHiR; using %s\n", szEnvironment,
                local_szDefaultSignal);
}

bool CSimulatedInput::Parse(const char* szSignal, SSimulatedSignal& roSignal)
{
    if (szSignal == nullptr)
        return false;
    if (strcmp(szSignal, "none") == 0)
    {
        roSignal = SSimulatedSignal();
        return true;
    }
    SSimulatedSignal oSignal = SSimulatedSignal();
    const char* pszText = szSignal;
    if (!ParseNumber(pszText, local_uiMaxDimension, oSignal.uiWidth) || *pszText++ != 'x' ||
        !ParseNumber(pszText, local_uiMaxDimension, oSignal.uiHeight))
        return false;
    if (*pszText != 'p' && *pszText != 'i')
        return false;
    oSignal.bInterlaced = *pszText++ == 'i';
    if (!ParseNumber(pszText, local_uiMaxRate, oSignal.uiRate) || *pszText != 0)
        return false;
    if (oSignal.bInterlaced && oSignal.uiHeight % 2 != 0)
        return false;
    oSignal.bPresent = true;
    roSignal = oSignal;
    return true;
}

SSimulatedSignal CSimulatedInput::Current() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oSignal;
}

unsigned CSimulatedInput::Generation() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_uiGeneration;
}

OMX_ERRORTYPE CSimulatedInput::Set(const char* szSignal)
{
    SSimulatedSignal oSignal;
    if (!Parse(szSignal, oSignal))
        return OMX_ErrorBadParameter;
    // Listeners hear the changes in the order they were made.
    std::lock_guard<std::mutex> oListenerLock(m_oListenerMutex);
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_oSignal = oSignal;
        ++m_uiGeneration;
    }
    for (const SListener& roListener : m_aoListeners)
        roListener.pfnListener(roListener.pvContext, oSignal);
    return OMX_ErrorNone;
}

void CSimulatedInput::AddListener(void* pvContext, PfnListener pfnListener)
{
    std::lock_guard<std::mutex> oLock(m_oListenerMutex);
    m_aoListeners.push_back(SListener{pvContext, pfnListener});
}

void CSimulatedInput::RemoveListener(void* pvContext)
{
    std::lock_guard<std::mutex> oLock(m_oListenerMutex);
    for (auto it = m_aoListeners.begin(); it != m_aoListeners.end();)
        it = it->pvContext == pvContext ? m_aoListeners.erase(it) : it + 1;
}
