// The control API: the library's exported entry points and the process-wide choices of the host.
#ifndef PELLIX_SERVER_TEST_ENTRY_H
#define PELLIX_SERVER_TEST_ENTRY_H

#include <OMX_Core.h>

#include "ZemBaseTypes.h"
#include "ti-components/CaptureVFCC.h"  // VideoModeChangedCallback

struct tagGStreamerEncodeServer;

extern "C" {
bool StartStreaming(int iBitRate, int iAddressLength, char* pszAddress);
bool StopStreaming();
bool IsStreaming();
void ActivateAudioServer(MBOOL bActivate);
void ActivateAudioServerPlayback(MBOOL bActivated);
void SetVideoModeChangeCallback(VideoModeChangedCallback pfnCallback);
bool SetEncoderPlaybackVolume(MUINT uiPercent);
}

void PellixerTest_Open();
void PellixerTest_Close();
OMX_ERRORTYPE InitComponents();
OMX_ERRORTYPE DeinitComponents();

// The process-wide choices and the graph, reached only from the host's thread.
extern tagGStreamerEncodeServer* g_poServer;
extern MBOOL g_bAudioOn;
extern MBOOL g_bAudioPlaybackOn;
extern VideoModeChangedCallback g_pfnCallbackVideoModeChanged;

#endif // PELLIX_SERVER_TEST_ENTRY_H
