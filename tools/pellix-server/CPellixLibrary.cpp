#include "CPellixLibrary.h"

#include <dlfcn.h>

CPellixLibrary::~CPellixLibrary()
{
    Unload();
}

bool CPellixLibrary::Load(const char* szPath, std::string& roError)
{
    m_pvHandle = dlopen(szPath, RTLD_NOW | RTLD_LOCAL);
    if (m_pvHandle == nullptr)
    {
        const char* szError = dlerror();
        roError = std::string("cannot load ") + szPath + ": " + (szError ? szError : "unknown error");
        return false;
    }
    bool bComplete = true;
    auto Find = [&](auto& rpfnEntry, const char* szSymbol) {
        rpfnEntry = reinterpret_cast<std::remove_reference_t<decltype(rpfnEntry)>>(dlsym(m_pvHandle, szSymbol));
        if (rpfnEntry == nullptr && bComplete)
        {
            roError = std::string(szPath) + " has no entry point " + szSymbol;
            bComplete = false;
        }
    };
    Find(PellixerTest_Open, "_Z17PellixerTest_Openv");
    Find(SetInfoMessageLevel, "_Z19SetInfoMessageLeveli");
    Find(OMXFramework_Version, "_Z20OMXFramework_Versionv");
    Find(ActivateAudioServer, "ActivateAudioServer");
    Find(ActivateAudioServerPlayback, "ActivateAudioServerPlayback");
    Find(SetVideoModeChangeCallback, "SetVideoModeChangeCallback");
    Find(StartStreaming, "StartStreaming");
    Find(StopStreaming, "StopStreaming");
    Find(IsStreaming, "IsStreaming");
    Find(SetEncoderPlaybackVolume, "SetEncoderPlaybackVolume");
    if (!bComplete)
    {
        Unload();
        return false;
    }
    // dlsym on the library's handle searches its dependencies too: the platform's core.
    PellixTest_GetSimulatedInputStatus = reinterpret_cast<decltype(PellixTest_GetSimulatedInputStatus)>(
        dlsym(m_pvHandle, "PellixTest_GetSimulatedInputStatus"));
    return bComplete;
}

void CPellixLibrary::Unload()
{
    if (m_pvHandle != nullptr)
        dlclose(m_pvHandle);
    m_pvHandle = nullptr;
    PellixTest_GetSimulatedInputStatus = nullptr;
}
