// The names the core can hand out handles for, with the factory of each.
#ifndef PELLIX_COMPONENT_REGISTRY_H
#define PELLIX_COMPONENT_REGISTRY_H

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PellixPlatform.h"

class CComponentRegistry
{
public:
    static CComponentRegistry& Instance();

    OMX_ERRORTYPE Register(const char* szName, PellixComponentFactory pfnFactory);
    OMX_ERRORTYPE Unregister(const char* szName);
    PellixComponentFactory Find(const char* szName) const;
    // The name at position uiIndex in registration order, or false past the end.
    bool NameAt(unsigned uiIndex, std::string& roName) const;

private:
    CComponentRegistry() = default;

    mutable std::mutex m_oMutex;
    std::vector<std::pair<std::string, PellixComponentFactory>> m_aoEntries;
};

// Registers a device component when libOMX_Core.so is loaded. Use once per component source.
#define PELLIX_REGISTER_COMPONENT(szName, pfnFactory)                                          \
    namespace                                                                                  \
    {                                                                                          \
    const bool local_bRegistered =                                                             \
        CComponentRegistry::Instance().Register((szName), (pfnFactory)) == OMX_ErrorNone;      \
    }

#endif // PELLIX_COMPONENT_REGISTRY_H
