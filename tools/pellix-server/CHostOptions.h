// The host program's command line.
#ifndef CHOST_OPTIONS_H
#define CHOST_OPTIONS_H

#include <cstdio>
#include <string>

class CHostOptions
{
public:
    // Parses the arguments. False with a message in roError for anything it cannot use.
    bool Parse(int iArgc, char** apszArgv, std::string& roError);
    static void PrintUsage(FILE* poStream);
    // "none"; W x H, 'p' or 'i', and a rate; or "file:", "v4l2:", "gst:" and a location: as the
    // simulated input takes them.
    static bool IsSignalText(const std::string& roSignal);

    int m_iBitRate = 8000000;       // bits per second
    bool m_bAudio = false;
    bool m_bPlayback = false;
    int m_iVolume = -1;             // percent; -1: leave the playback volume alone
    int m_iLogLevel = 0;
    std::string m_oInterface;       // empty: chosen at start
    std::string m_oInput;           // empty: the simulated input's default
    std::string m_oMonitor;         // empty: the simulated monitor's default
    bool m_bWindow = false;         // the local monitor shown in a window
    int m_iDuration = 0;            // seconds; 0: until Ctrl-C or SIGTERM
    int m_iMaxClients = 16;         // clients served at once; the next one is answered 503
    bool m_bHelp = false;
};

#endif // CHOST_OPTIONS_H
