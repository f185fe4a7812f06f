// The OpenMAX IL core entry points of libOMX_Core.so.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "CTestControl.h"
#include "ComponentRegistry.h"

namespace
{
// Handles handed out and not yet freed, with their component names, so that a stray or repeated
// OMX_FreeHandle is refused.
std::mutex local_oHandleMutex;
std::map<OMX_HANDLETYPE, std::string> local_oLiveHandles;

std::atomic<unsigned> local_uiInitCount{0};
std::atomic<unsigned> local_uiDeinitCount{0};
} // namespace

extern "C" {

OMX_API OMX_ERRORTYPE OMX_APIENTRY OMX_Init(void)
{
    // The registry is filled when the library is loaded; OMX_Init and OMX_Deinit may be called
    // any number of times, in any balance.
    ++local_uiInitCount;
    return OMX_ErrorNone;
}

OMX_API OMX_ERRORTYPE OMX_APIENTRY OMX_Deinit(void)
{
    ++local_uiDeinitCount;
    return OMX_ErrorNone;
}

OMX_API OMX_ERRORTYPE OMX_APIENTRY OMX_ComponentNameEnum(OMX_STRING cComponentName, OMX_U32 nNameLength,
                                                         OMX_U32 nIndex)
{
    if (cComponentName == nullptr || nNameLength == 0)
        return OMX_ErrorBadParameter;
    std::string oName;
    if (!CComponentRegistry::Instance().NameAt(static_cast<unsigned>(nIndex), oName))
        return OMX_ErrorNoMore;
    if (oName.size() >= nNameLength)
        return OMX_ErrorBadParameter;
    memcpy(cComponentName, oName.c_str(), oName.size() + 1);
    return OMX_ErrorNone;
}

OMX_API OMX_ERRORTYPE OMX_APIENTRY OMX_GetHandle(OMX_HANDLETYPE* pHandle, OMX_STRING cComponentName,
                                                 OMX_PTR pAppData, OMX_CALLBACKTYPE* pCallBacks)
{
    if (pHandle == nullptr || cComponentName == nullptr)
        return OMX_ErrorBadParameter;
    *pHandle = nullptr;
    try
    {
        const OMX_ERRORTYPE eFault =
            CTestControl::Instance().TakeFault(PellixFault_GetHandle, cComponentName, PELLIX_ANY_INDEX);
        if (eFault != OMX_ErrorNone)
            return eFault;
        const PellixComponentFactory pfnFactory = CComponentRegistry::Instance().Find(cComponentName);
        if (pfnFactory == nullptr)
            return OMX_ErrorComponentNotFound;
        std::string oName(cComponentName);

        auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(calloc(1, sizeof(OMX_COMPONENTTYPE)));
        if (poComponent == nullptr)
            return OMX_ErrorInsufficientResources;
        poComponent->nSize = sizeof(OMX_COMPONENTTYPE);
        poComponent->nVersion.s.nVersionMajor = 1;
        poComponent->nVersion.s.nVersionMinor = 1;
        poComponent->pApplicationPrivate = pAppData;

        OMX_ERRORTYPE eError = pfnFactory(poComponent, oName.c_str());
        if (eError == OMX_ErrorNone && pCallBacks != nullptr && poComponent->SetCallbacks != nullptr)
        {
            eError = poComponent->SetCallbacks(poComponent, pCallBacks, pAppData);
            if (eError != OMX_ErrorNone && poComponent->ComponentDeInit != nullptr)
                poComponent->ComponentDeInit(poComponent);
        }
        if (eError == OMX_ErrorNone)
        {
            std::lock_guard<std::mutex> oLock(local_oHandleMutex);
            local_oLiveHandles.emplace(poComponent, std::move(oName));
        }
        else
        {
            free(poComponent);
            return eError;
        }
        *pHandle = poComponent;
        return OMX_ErrorNone;
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

OMX_API OMX_ERRORTYPE OMX_APIENTRY OMX_FreeHandle(OMX_HANDLETYPE hComponent)
{
    try
    {
        std::string oName;
        {
            std::lock_guard<std::mutex> oLock(local_oHandleMutex);
            const auto it = local_oLiveHandles.find(hComponent);
            if (it == local_oLiveHandles.end())
                return OMX_ErrorBadParameter;
            oName = it->second;
        }
        // An injected failure leaves the handle alive: a later OMX_FreeHandle frees it.
        const OMX_ERRORTYPE eFault =
            CTestControl::Instance().TakeFault(PellixFault_FreeHandle, oName.c_str(), PELLIX_ANY_INDEX);
        if (eFault != OMX_ErrorNone)
            return eFault;
        {
            std::lock_guard<std::mutex> oLock(local_oHandleMutex);
            if (local_oLiveHandles.erase(hComponent) == 0)
                return OMX_ErrorBadParameter;
        }
        auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(hComponent);
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        if (poComponent->ComponentDeInit != nullptr)
            eError = poComponent->ComponentDeInit(poComponent);
        free(poComponent);
        return eError;
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

OMX_ERRORTYPE PellixPlatform_RegisterComponent(const char* szName, PellixComponentFactory pfnFactory)
{
    return CComponentRegistry::Instance().Register(szName, pfnFactory);
}

OMX_ERRORTYPE PellixPlatform_UnregisterComponent(const char* szName)
{
    return CComponentRegistry::Instance().Unregister(szName);
}

unsigned PellixPlatform_LiveHandleCount(void)
{
    std::lock_guard<std::mutex> oLock(local_oHandleMutex);
    return static_cast<unsigned>(local_oLiveHandles.size());
}

unsigned PellixPlatform_CoreInitCount(void)
{
    return local_uiInitCount.load();
}

unsigned PellixPlatform_CoreDeinitCount(void)
{
    return local_uiDeinitCount.load();
}

} // extern "C"
