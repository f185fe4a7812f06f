// pellix-server: the host program of libPellixServerTest.so. It loads the library with dlopen
// and drives it as a host of the appliance does: choices, StartStreaming, IsStreaming once a
// second, StopStreaming on Ctrl-C, SIGTERM or the end of --duration, unload.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "CHostOptions.h"
#include "CPellixLibrary.h"
#include "CSimulatedPlatform.h"

namespace
{
volatile sig_atomic_t local_bStopRequested = 0;

void local_OnStopSignal(int /*iSignal*/)
{
    local_bStopRequested = 1;
}

// Called by the library's capture component from its polling thread.
void CallbackVideoModeChanged(int iDetected, unsigned int uiWidth, unsigned int uiHeight, unsigned int uiFrameRate,
                              int iInterlaced, void* /*pvData*/)
{
    if (iDetected)
        printf("pellix-server: input mode changed: %ux%u@%ufps, %s\n", uiWidth, uiHeight, uiFrameRate,
               iInterlaced ? "interlaced" : "progressive");
    else
        printf("pellix-server: input mode changed: no signal\n");
    fflush(stdout);
}

const char* LibraryPath()
{
    const char* szPath = getenv("PELLIX_LIBRARY");
    return szPath && szPath[0] ? szPath : PELLIX_LIBRARY_PATH;
}

void InstallStopHandlers()
{
    struct sigaction oAction = {};
    oAction.sa_handler = &local_OnStopSignal;
    sigemptyset(&oAction.sa_mask);
    sigaction(SIGINT, &oAction, nullptr);
    sigaction(SIGTERM, &oAction, nullptr);
}

void SleepOneSecond()
{
    struct timespec oDelay = {1, 0};
    nanosleep(&oDelay, nullptr);  // a stop signal ends it early
}
} // namespace

int main(int iArgc, char** apszArgv)
{
    CHostOptions oOptions;
    std::string oError;
    if (!oOptions.Parse(iArgc, apszArgv, oError))
    {
        fprintf(stderr, "pellix-server: %s\n", oError.c_str());
        CHostOptions::PrintUsage(stderr);
        return 2;
    }
    if (oOptions.m_bHelp)
    {
        CHostOptions::PrintUsage(stdout);
        return 0;
    }

    CSimulatedPlatform oPlatform;
    if (!oPlatform.Prepare(oOptions, oError))
    {
        fprintf(stderr, "pellix-server: %s\n", oError.c_str());
        return 1;
    }
    printf("pellix-server: serving on interface %s\n", oPlatform.GetInterface().c_str());

    CPellixLibrary oLibrary;
    if (!oLibrary.Load(LibraryPath(), oError))
    {
        fprintf(stderr, "pellix-server: %s\n", oError.c_str());
        return 1;
    }
    printf("pellix-server: loaded %s, framework version 0x%08lx\n", LibraryPath(), oLibrary.OMXFramework_Version());
    fflush(stdout);

    oLibrary.SetInfoMessageLevel(oOptions.m_iLogLevel);
    oLibrary.ActivateAudioServer(oOptions.m_bAudio);
    oLibrary.ActivateAudioServerPlayback(oOptions.m_bPlayback);
    oLibrary.SetVideoModeChangeCallback(&CallbackVideoModeChanged);
    // The library's RTSP server takes its client limit from the environment.
    setenv("PELLIX_MAX_CLIENTS", std::to_string(oOptions.m_iMaxClients).c_str(), 1);
    InstallStopHandlers();

    char szAddress[256] = {0};
    if (!oLibrary.StartStreaming(oOptions.m_iBitRate, sizeof(szAddress), szAddress))
    {
        fprintf(stderr, "pellix-server: streaming did not start\n");
        return 1;
    }
    printf("pellix-server: streaming at %s\n", szAddress);
    if (oOptions.m_iVolume >= 0)
        printf("pellix-server: playback volume %d%%: %s\n", oOptions.m_iVolume,
               oLibrary.SetEncoderPlaybackVolume(static_cast<unsigned>(oOptions.m_iVolume)) ? "set" : "refused");
    fflush(stdout);

    int iSeconds = 0;
    while (!local_bStopRequested && (oOptions.m_iDuration == 0 || iSeconds < oOptions.m_iDuration))
    {
        SleepOneSecond();
        if (local_bStopRequested)
            break;
        ++iSeconds;
        printf("pellix-server: %ds streaming=%s\n", iSeconds, oLibrary.IsStreaming() ? "yes" : "no");
        fflush(stdout);
    }

    printf("pellix-server: stopping\n");
    fflush(stdout);
    const bool bStopped = oLibrary.StopStreaming();
    printf("pellix-server: %s\n", bStopped ? "stopped" : "stopped with errors");
    fflush(stdout);
    oLibrary.Unload();
    return bStopped ? 0 : 1;
}
