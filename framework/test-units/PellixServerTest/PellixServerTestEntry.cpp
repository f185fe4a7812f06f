#include "test-units/PellixServerTest/PellixServerTestEntry.h"

#include "ti814x-framework.h"

tagGStreamerEncodeServer* g_poServer = nullptr;
MBOOL g_bAudioOn = false;
MBOOL g_bAudioPlaybackOn = false;
VideoModeChangedCallback g_pfnCallbackVideoModeChanged = nullptr;

void PellixerTest_Open()
{
    SetInfoMessageLevel(2);
    g_poServer = nullptr;
    g_bAudioOn = false;
    g_bAudioPlaybackOn = false;
    g_pfnCallbackVideoModeChanged = nullptr;
}

void PellixerTest_Close()
{
}

void ActivateAudioServer(MBOOL bActivate)
{
    g_bAudioOn = bActivate;
}

void ActivateAudioServerPlayback(MBOOL bActivated)
{
    g_bAudioPlaybackOn = bActivated;
}

void SetVideoModeChangeCallback(VideoModeChangedCallback pfnCallback)
{
    g_pfnCallbackVideoModeChanged = pfnCallback;
}

// Load-time initialisers and unload-time finalisers: PellixerTest_Open then OmxFramework_Open
// when the library is loaded (so the message level is 0 before the host calls anything), and
// OmxFramework_Close then PellixerTest_Close when it is unloaded.
namespace
{
__attribute__((constructor)) void local_OnLibraryLoad()
{
    PellixerTest_Open();
    OmxFramework_Open();
}

__attribute__((destructor)) void local_OnLibraryUnload()
{
    OmxFramework_Close();
    PellixerTest_Close();
}
} // namespace
