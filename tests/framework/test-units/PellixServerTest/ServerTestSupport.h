// Helpers of the control API's integration and end-to-end tests: each scenario in a process of
// its own, the simulated platform of one scenario, the process's resources, and real clients
// (ffprobe, ffmpeg) on loopback.
#ifndef SERVER_TEST_SUPPORT_H
#define SERVER_TEST_SUPPORT_H

#include <map>
#include <string>
#include <vector>

#include "RtspTestSupport.h"
#include "TempDir.h"

// The library keeps process-wide state (its globals, the OpenMAX IL core, GStreamer initialised
// once), so every scenario runs in a process of its own: in the test process this starts the
// current test again in a child process, waits for it (at most iTimeoutSec) and reports its
// result, and returns false; in that child it returns true and the test body runs.
bool RunInOwnProcess(int iTimeoutSec = 170);
#define PELLIX_RUN_IN_OWN_PROCESS(iTimeoutSec) \
    if (!RunInOwnProcess(iTimeoutSec))         \
    return

// The RTSP service's own port.
const unsigned g_uiServicePort = 8554;

// The simulated platform of one scenario: a private platform root, loopback naming the URL, the
// simulated input and monitor, the platform's ALSA configuration and a private ALSA control
// folder. Waits (bounded) until the service port is free.
class CScenarioPlatform
{
public:
    explicit CScenarioPlatform(const std::string& roInput = "1920x1080p60");
    // The ALSA control folder's file, e.g. "analog_volume".
    std::string AlsaFile(const std::string& roName) const;
    bool IsPortFree() const { return m_bPortFree; }

private:
    CTempDir m_oRoot;
    CTempDir m_oAlsa;
    bool m_bPortFree = false;
};

// The IPv4 address of the loopback interface, as the URL names it.
std::string LoopbackAddress();
// The URL the server gives for a path on the loopback interface.
std::string ServiceUrl(const std::string& roPath);

// What the process holds: threads, descriptors and resident memory.
struct SProcessResources
{
    unsigned uiThreads = 0;
    unsigned uiFds = 0;
    long lRssKb = 0;
    long long llHeapInUse = 0;  // bytes allocated with malloc and not freed (all arenas and mappings)
};
SProcessResources CurrentResources();
// Waits (bounded) until threads and descriptors are back at most at roBaseline; false if not.
bool ResourcesBackTo(const SProcessResources& roBaseline, int iWaitMs = 10000);
std::string Describe(const SProcessResources& roResources);

// One decoded frame as ffmpeg's framemd5 lists it.
struct SDecodedFrame
{
    int iStream = -1;
    long long llPts = 0;
    long lSize = 0;
    std::string oDigest;
};
struct SDecodeResult
{
    SRunResult oRun;
    std::vector<SDecodedFrame> aoFrames;
    size_t FramesOf(int iStream) const;
    size_t DistinctDigestsOf(int iStream) const;
};
// ffmpeg over TCP: decodes what the URL serves and lists every decoded frame. szLimit is
// ffmpeg's limit option, e.g. "-frames:v 30" or "-t 3"; szMap its stream choice.
SDecodeResult DecodeWithFfmpeg(const std::string& roUrl, const std::string& roLimit, const std::string& roMap = "0:v",
                               int iTimeoutSec = 60);
// ffprobe over TCP: the streams as "key=value" per stream, in the order ffprobe lists them.
std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& roUrl, std::string& roError);
// ffmpeg over TCP: the first iFrames decoded pictures in the pixel format given (rawvideo).
std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat,
                          std::string& roError);

// Average of the samples of a plane (width uiWidth) within [x0, x1) x [y0, y1).
double PlaneAverage(const unsigned char* pPlane, unsigned uiWidth, unsigned x0, unsigned x1, unsigned y0, unsigned y1);
// Median of one line's samples within [x0, x1).
unsigned LineMedian(const unsigned char* pPlane, unsigned uiWidth, unsigned y, unsigned x0, unsigned x1);

// Whether text holds the INFO record the library writes for a message of a function:
// "INFO  <line># <function padded to 20> <message>\n".
bool HasInfoRecord(const std::string& roText, const std::string& roFunction, const std::string& roMessage);

#endif // SERVER_TEST_SUPPORT_H
