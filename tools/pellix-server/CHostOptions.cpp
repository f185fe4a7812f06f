#include "CHostOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
// A whole decimal number within [iMin, iMax].
bool local_ParseInt(const char* szText, int iMin, int iMax, int& riValue)
{
    if (szText == nullptr || szText[0] == 0)
        return false;
    char* szEnd = nullptr;
    errno = 0;
    const long lValue = strtol(szText, &szEnd, 10);
    if (errno != 0 || *szEnd != 0 || lValue < iMin || lValue > iMax)
        return false;
    riValue = static_cast<int>(lValue);
    return true;
}
} // namespace

bool CHostOptions::IsSignalText(const std::string& roSignal)
{
    if (roSignal == "none")
        return true;
    for (const char* szPrefix : {"file:", "v4l2:", "gst:"})
        if (roSignal.rfind(szPrefix, 0) == 0)
            return roSignal.size() > strlen(szPrefix);
    // The pattern's picture follows the mode: bars (the default) or motion.
    const size_t uiColon = roSignal.find(':');
    if (uiColon != std::string::npos)
    {
        const std::string oPattern = roSignal.substr(uiColon + 1);
        return (oPattern == "bars" || oPattern == "motion") && IsSignalText(roSignal.substr(0, uiColon)) &&
               roSignal.compare(0, uiColon, "none") != 0;
    }
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    unsigned uiRate = 0;
    char cScan = 0;
    int iConsumed = 0;
    return sscanf(roSignal.c_str(), "%5u x%5u%c%3u%n", &uiWidth, &uiHeight, &cScan, &uiRate, &iConsumed) == 4 &&
           static_cast<size_t>(iConsumed) == roSignal.size() && (cScan == 'p' || cScan == 'i') && uiWidth > 0 &&
           uiHeight > 0 && uiRate > 0 && roSignal.find_first_of(" +-") == std::string::npos;
}

void CHostOptions::PrintUsage(FILE* poStream)
{
    fprintf(poStream,
            "Usage: pellix-server [options]\n"
            "Streams the HDMI input over RTSP until Ctrl-C, SIGTERM or the end of --duration.\n"
            "\n"
            "  --bitrate BPS        H.264 target bit rate in bits per second (default 8000000)\n"
            "  --audio              serve AAC audio captured through ALSA beside the video\n"
            "  --playback           record the audio-playback choice (the library plays back anyway)\n"
            "  --volume PERCENT     local playback volume, 0 to 100 (needs --audio)\n"
            "  --log-level N        library log level: 0 errors only ... 9 every buffer (default 0)\n"
            "  --interface NAME     network interface whose IPv4 address names the URL\n"
            "                       (default: eth0 if it has one, else the first interface with one)\n"
            "  --input SIGNAL       simulated HDMI input (default 1920x1080p60): none; a built-in pattern\n"
            "                       WxHpR or WxHiR, followed by :bars (colour bars, the default) or\n"
            "                       :motion (fine detail moving everywhere, as hard to code as a\n"
            "                       camera's pictures); or a real source read through GStreamer:\n"
            "                       file:PATH (looped), v4l2:DEVICE (a capture device such as a USB\n"
            "                       HDMI grabber), gst:DESCRIPTION (a source description ending in video)\n"
            "  --monitor MONITOR    simulated monitor: 1080p60, none or the path of an EDID hex dump\n"
            "  --display DISPLAY    the local monitor: headless (default) or window (shown in a window)\n"
            "  --duration SECONDS   stop after this many seconds (default: run until stopped)\n"
            "  --max-clients N      clients served at once; one more is answered 503 (default 16)\n"
            "  --help               this text\n");
}

bool CHostOptions::Parse(int iArgc, char** apszArgv, std::string& roError)
{
    for (int i = 1; i < iArgc; ++i)
    {
        const char* const szOption = apszArgv[i];
        const char* const szValue = i + 1 < iArgc ? apszArgv[i + 1] : nullptr;
        auto TakeValue = [&](const char* szWhat) -> const char* {
            if (szValue == nullptr)
            {
                roError = std::string(szOption) + " needs " + szWhat;
                return nullptr;
            }
            ++i;
            return szValue;
        };
        auto TakeInt = [&](const char* szWhat, int iMin, int iMax, int& riValue) -> bool {
            const char* szText = TakeValue(szWhat);
            if (szText == nullptr)
                return false;
            if (!local_ParseInt(szText, iMin, iMax, riValue))
            {
                roError = std::string("bad value '") + szText + "' for " + szOption;
                return false;
            }
            return true;
        };
        auto TakeText = [&](const char* szWhat, std::string& roValue) -> bool {
            const char* szText = TakeValue(szWhat);
            if (szText == nullptr)
                return false;
            if (szText[0] == 0)
            {
                roError = std::string("empty value for ") + szOption;
                return false;
            }
            roValue = szText;
            return true;
        };

        if (strcmp(szOption, "--help") == 0)
            m_bHelp = true;
        else if (strcmp(szOption, "--audio") == 0)
            m_bAudio = true;
        else if (strcmp(szOption, "--playback") == 0)
            m_bPlayback = true;
        else if (strcmp(szOption, "--bitrate") == 0)
        {
            if (!TakeInt("a bit rate", 10000, 100000000, m_iBitRate))
                return false;
        }
        else if (strcmp(szOption, "--volume") == 0)
        {
            if (!TakeInt("a percentage", 0, 100, m_iVolume))
                return false;
        }
        else if (strcmp(szOption, "--log-level") == 0)
        {
            if (!TakeInt("a level", -1, 9, m_iLogLevel))
                return false;
        }
        else if (strcmp(szOption, "--duration") == 0)
        {
            if (!TakeInt("a number of seconds", 1, 864000, m_iDuration))
                return false;
        }
        else if (strcmp(szOption, "--max-clients") == 0)
        {
            if (!TakeInt("a number of clients", 1, 10000, m_iMaxClients))
                return false;
        }
        else if (strcmp(szOption, "--interface") == 0)
        {
            if (!TakeText("an interface name", m_oInterface))
                return false;
        }
        else if (strcmp(szOption, "--input") == 0)
        {
            if (!TakeText("a signal", m_oInput))
                return false;
        }
        else if (strcmp(szOption, "--monitor") == 0)
        {
            if (!TakeText("a monitor", m_oMonitor))
                return false;
        }
        else if (strcmp(szOption, "--display") == 0)
        {
            std::string oDisplay;
            if (!TakeText("headless or window", oDisplay))
                return false;
            if (oDisplay != "headless" && oDisplay != "window")
            {
                roError = "bad value '" + oDisplay + "' for --display (headless or window)";
                return false;
            }
            m_bWindow = oDisplay == "window";
        }
        else
        {
            roError = std::string("unknown option '") + szOption + "'";
            return false;
        }
    }
    if (!m_oInput.empty() && !IsSignalText(m_oInput))
    {
        roError = "bad signal '" + m_oInput +
                  "' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)";
        return false;
    }
    if (m_iVolume >= 0 && !m_bAudio)
    {
        roError = "--volume needs --audio";
        return false;
    }
    return true;
}
