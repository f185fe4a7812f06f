// pellix-server: the host program of libPellixServerTest.so. It loads the library with dlopen
// and drives it as a host of the appliance does: choices, StartStreaming, IsStreaming once a
// second, StopStreaming on Ctrl-C, SIGTERM or the end of --duration, unload. It follows its
// input: when the library reports a new input mode, or the loss or return of the signal, it stops
// and starts the stream again, so that the new mode (or the default picture) is served under its
// own path.
#include <atomic>
#include <chrono>
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
typedef std::chrono::steady_clock CClock;

// A restart follows the last change at most this often; changes in between are taken up by the
// next restart, which detects the input as it is then.
constexpr CClock::duration local_oRestartSpacing = std::chrono::seconds(1);
constexpr long local_iTickNs = 50 * 1000 * 1000;

volatile sig_atomic_t local_bStopRequested = 0;
// Set by the library's polling thread, taken by the main thread.
std::atomic<bool> local_bInputChanged(false);

void local_OnStopSignal(int /*iSignal*/)
{
    local_bStopRequested = 1;
}

// Called by the library's capture component from its polling thread. The stream cannot be
// restarted from here (stopping it ends this very thread): the main thread does it.
void CallbackVideoModeChanged(int iDetected, unsigned int uiWidth, unsigned int uiHeight, unsigned int uiFrameRate,
                              int iInterlaced, void* /*pvData*/)
{
    if (iDetected)
        printf("pellix-server: input mode changed: %ux%u@%ufps, %s\n", uiWidth, uiHeight, uiFrameRate,
               iInterlaced ? "interlaced" : "progressive");
    else
        printf("pellix-server: input mode changed: no signal\n");
    fflush(stdout);
    local_bInputChanged = true;
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

void SleepOneTick()
{
    struct timespec oDelay = {0, local_iTickNs};
    nanosleep(&oDelay, nullptr);  // a stop signal ends it early
}

// The simulated input as the platform opened it: false (reason printed) when it cannot serve.
// A source without a signal for now (a capture device not plugged in) is said, and served as
// no signal.
bool CheckInput(const CPellixLibrary& roLibrary)
{
    if (roLibrary.PellixTest_GetSimulatedInputStatus == nullptr)
        return true;
    const char* szInput = getenv("PELLIX_SIM_INPUT");
    const std::string oInput = szInput != nullptr && szInput[0] != 0 ? szInput : "1920x1080p60";
    char szMessage[1024] = {0};
    if (roLibrary.PellixTest_GetSimulatedInputStatus(szMessage, sizeof(szMessage)) != OMX_ErrorNone)
    {
        fprintf(stderr, "pellix-server: input %s: %s\n", oInput.c_str(), szMessage);
        return false;
    }
    if (szMessage[0] != 0)
        printf("pellix-server: input %s: no signal: %s\n", oInput.c_str(), szMessage);
    return true;
}

bool Start(const CPellixLibrary& roLibrary, const CHostOptions& roOptions)
{
    char szAddress[256] = {0};
    if (!roLibrary.StartStreaming(roOptions.m_iBitRate, sizeof(szAddress), szAddress))
    {
        fprintf(stderr, "pellix-server: streaming did not start\n");
        return false;
    }
    printf("pellix-server: streaming at %s\n", szAddress);
    if (roOptions.m_iVolume >= 0)
        printf("pellix-server: playback volume %d%%: %s\n", roOptions.m_iVolume,
               roLibrary.SetEncoderPlaybackVolume(static_cast<unsigned>(roOptions.m_iVolume)) ? "set" : "refused");
    fflush(stdout);
    return true;
}

// Streams until a stop signal or the end of the duration, restarting on input changes. False
// when a restart failed.
bool Serve(const CPellixLibrary& roLibrary, const CHostOptions& roOptions)
{
    int iSeconds = 0;
    CClock::time_point oNextReport = CClock::now() + std::chrono::seconds(1);
    CClock::time_point oLastStart = CClock::now();
    while (!local_bStopRequested && (roOptions.m_iDuration == 0 || iSeconds < roOptions.m_iDuration))
    {
        SleepOneTick();
        if (local_bStopRequested)
            break;
        const CClock::time_point oNow = CClock::now();
        if (local_bInputChanged && oNow - oLastStart >= local_oRestartSpacing)
        {
            local_bInputChanged = false;
            oLastStart = oNow;
            printf("pellix-server: restarting for the new input\n");
            fflush(stdout);
            roLibrary.StopStreaming();
            if (!Start(roLibrary, roOptions))
                return false;
        }
        if (oNow >= oNextReport)
        {
            ++iSeconds;
            oNextReport += std::chrono::seconds(1);
            printf("pellix-server: %ds streaming=%s\n", iSeconds, roLibrary.IsStreaming() ? "yes" : "no");
            fflush(stdout);
        }
    }
    return true;
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
    // An input that cannot serve is a bad argument; unloading stops whatever it started.
    if (!CheckInput(oLibrary))
        return 2;

    oLibrary.SetInfoMessageLevel(oOptions.m_iLogLevel);
    oLibrary.ActivateAudioServer(oOptions.m_bAudio);
    oLibrary.ActivateAudioServerPlayback(oOptions.m_bPlayback);
    oLibrary.SetVideoModeChangeCallback(&CallbackVideoModeChanged);
    InstallStopHandlers();

    if (!Start(oLibrary, oOptions))
        return 1;
    const bool bServed = Serve(oLibrary, oOptions);

    printf("pellix-server: stopping\n");
    fflush(stdout);
    const bool bStopped = oLibrary.StopStreaming();
    printf("pellix-server: %s\n", bStopped ? "stopped" : "stopped with errors");
    fflush(stdout);
    oLibrary.Unload();
    return bServed && bStopped ? 0 : 1;
}
