// libPellixServerTest.so as a host reaches it: loaded with dlopen, its entry points found by
// name (plain C names, and the C++ names of the framework entries).
#ifndef CPELLIX_LIBRARY_H
#define CPELLIX_LIBRARY_H

#include <OMX_Core.h>

#include <string>

class CPellixLibrary
{
public:
    typedef void (*VideoModeChangedCallback)(int, unsigned int, unsigned int, unsigned int, int, void*);

    CPellixLibrary() = default;
    ~CPellixLibrary();  // unloads the library, which runs its finalisers
    CPellixLibrary(const CPellixLibrary&) = delete;
    CPellixLibrary& operator=(const CPellixLibrary&) = delete;

    // Loads the library (its initialisers run) and finds every entry point. False with roError.
    bool Load(const char* szPath, std::string& roError);
    void Unload();

    void (*PellixerTest_Open)() = nullptr;
    void (*SetInfoMessageLevel)(int) = nullptr;
    unsigned long (*OMXFramework_Version)() = nullptr;
    void (*ActivateAudioServer)(unsigned) = nullptr;
    void (*ActivateAudioServerPlayback)(unsigned) = nullptr;
    void (*SetVideoModeChangeCallback)(VideoModeChangedCallback) = nullptr;
    bool (*StartStreaming)(int, int, char*) = nullptr;
    bool (*StopStreaming)() = nullptr;
    bool (*IsStreaming)() = nullptr;
    bool (*SetEncoderPlaybackVolume)(unsigned) = nullptr;
    // The simulated platform's (found among the library's dependencies); null on another platform.
    OMX_ERRORTYPE (*PellixTest_GetSimulatedInputStatus)(char*, unsigned) = nullptr;

private:
    void* m_pvHandle = nullptr;
};

#endif // CPELLIX_LIBRARY_H
