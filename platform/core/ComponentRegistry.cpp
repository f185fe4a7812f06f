#include "ComponentRegistry.h"

#include <cstring>

CComponentRegistry& CComponentRegistry::Instance()
{
    static CComponentRegistry s_oRegistry;
    return s_oRegistry;
}

OMX_ERRORTYPE CComponentRegistry::Register(const char* szName, PellixComponentFactory pfnFactory)
{
    if (szName == nullptr || pfnFactory == nullptr || szName[0] == 0 || strlen(szName) >= OMX_MAX_STRINGNAME_SIZE)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (auto& roEntry : m_aoEntries)
    {
        if (roEntry.first == szName)
        {
            roEntry.second = pfnFactory;
            return OMX_ErrorNone;
        }
    }
    m_aoEntries.emplace_back(szName, pfnFactory);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CComponentRegistry::Unregister(const char* szName)
{
    if (szName == nullptr)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (auto it = m_aoEntries.begin(); it != m_aoEntries.end(); ++it)
    {
        if (it->first == szName)
        {
            m_aoEntries.erase(it);
            return OMX_ErrorNone;
        }
    }
    return OMX_ErrorComponentNotFound;
}

PellixComponentFactory CComponentRegistry::Find(const char* szName) const
{
    if (szName == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (const auto& roEntry : m_aoEntries)
    {
        if (roEntry.first == szName)
            return roEntry.second;
    }
    return nullptr;
}

bool CComponentRegistry::NameAt(unsigned uiIndex, std::string& roName) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (uiIndex >= m_aoEntries.size())
        return false;
    roName = m_aoEntries[uiIndex].first;
    return true;
}
