// The test-control API of libOMX_Core.so.
#include "PellixTestControl.h"

#include <cstdio>
#include <string>

#include "CSimulatedInput.h"
#include "CTestControl.h"

extern "C" {

OMX_ERRORTYPE PellixTest_InjectFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex,
                                     unsigned uiCount, OMX_ERRORTYPE eError)
{
    return PellixTest_InjectFaultAfter(eKind, szComponent, uiIndex, 0, uiCount, eError);
}

OMX_ERRORTYPE PellixTest_InjectFaultAfter(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex,
                                          unsigned uiSkip, unsigned uiCount, OMX_ERRORTYPE eError)
{
    try
    {
        return CTestControl::Instance().ArmFault(eKind, szComponent, uiIndex, uiSkip, uiCount, eError);
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

unsigned PellixTest_PendingFaults(void)
{
    return CTestControl::Instance().PendingFaults();
}

OMX_ERRORTYPE PellixTest_RaiseError(const char* szComponent, OMX_HANDLETYPE hComponent, OMX_ERRORTYPE eError,
                                    OMX_U32 nData2)
{
    try
    {
        return CTestControl::Instance().RaiseError(szComponent, hComponent, eError, nData2);
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

OMX_ERRORTYPE PellixTest_DelayCommands(const char* szComponent, unsigned uiMilliseconds)
{
    try
    {
        CTestControl::Instance().SetDelay(szComponent, uiMilliseconds);
        return OMX_ErrorNone;
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

unsigned long long PellixTest_GetCounter(const char* szComponent, PellixCounter eCounter)
{
    try
    {
        return CTestControl::Instance().Counter(szComponent, eCounter);
    }
    catch (...)
    {
        return 0;
    }
}

void PellixTest_Reset(void)
{
    CTestControl::Instance().Reset();
}

OMX_ERRORTYPE PellixTest_SetSimulatedInput(const char* szSignal)
{
    try
    {
        return CSimulatedInput::Instance().Set(szSignal);
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

OMX_ERRORTYPE PellixTest_GetSimulatedInputStatus(char* szMessage, unsigned uiMessageSize)
{
    try
    {
        std::string oMessage;
        const OMX_ERRORTYPE eStatus = CSimulatedInput::Instance().Status(oMessage);
        if (szMessage != nullptr && uiMessageSize > 0)
            snprintf(szMessage, uiMessageSize, "%s", oMessage.c_str());
        return eStatus;
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
}

OMX_ERRORTYPE PellixTest_WriteDisplaySnapshot(const char* szPath)
{
    try
    {
        return CTestControl::Instance().WriteSnapshot(szPath);
    }
    catch (...)
    {
        return OMX_ErrorUndefined;
    }
}

} // extern "C"
