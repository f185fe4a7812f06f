// Helpers of the RTSP tests: log capture, child processes with a time limit, free ports, counts
// of the process's threads and descriptors, a raw RTSP client, and the serving graph
// (test H.264 source -> RTSPVideoServerComponent -> GStreamerRTSPServer).
#ifndef RTSP_TEST_SUPPORT_H
#define RTSP_TEST_SUPPORT_H

#include <atomic>
#include <string>
#include <vector>

#include "CH264TestSource.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPVideoServerComponent.h"

// Collects what the library writes to standard output (the INFO records) between construction
// and Stop().
class CStdoutCapture
{
public:
    CStdoutCapture();
    ~CStdoutCapture();
    const std::string& Stop();
    // What has been written so far, without stopping.
    std::string Peek();
    const std::string& Text() const { return m_oText; }

private:
    int m_iSavedFd;
    int m_iFileFd;
    std::string m_oPath;
    std::string m_oText;
};

size_t CountOccurrences(const std::string& roText, const std::string& roNeedle);

struct SRunResult
{
    int iExitCode = -1;  // 124 when the time limit killed it
    std::string oOut;
    std::string oErr;
};

// Runs szCommand with sh, its standard output and error collected, killed after iTimeoutSec.
SRunResult RunCommand(const std::string& roCommand, int iTimeoutSec);

// A child process running in the background.
class CBackgroundCommand
{
public:
    CBackgroundCommand(const std::string& roCommand, int iTimeoutSec);
    ~CBackgroundCommand();
    // Waits for the end, at most iWaitSec seconds; false if still running then.
    bool Wait(int iWaitSec);
    bool IsRunning();
    void Kill();
    SRunResult Result();

private:
    int m_iPid;
    int m_iStatus;
    bool m_bDone;
    std::string m_oOutPath;
    std::string m_oErrPath;
};

// A TCP port of the loopback interface that nothing listens on right now.
unsigned PickFreePort();
// Whether a server socket can bind uiPort on loopback right now.
bool CanBindPort(unsigned uiPort);
unsigned CountThreads();
unsigned CountFds();

// A minimal RTSP client over TCP on loopback.
class CRawRtspClient
{
public:
    ~CRawRtspClient();
    bool Connect(unsigned uiPort);
    // Sends a request with CSeq (and the session once known) and returns the whole response,
    // headers and body; empty on failure.
    std::string Request(const std::string& roMethod, const std::string& roUrl, const std::string& roExtraHeaders = "");
    void Close();
    int Fd() const { return m_iFd; }
    const std::string& Session() const { return m_oSession; }

private:
    int m_iFd = -1;
    int m_iCSeq = 1;
    std::string m_oSession;
    std::string m_oPending;
};

// The video stream with its notifications and handoffs counted.
class CObservedVideoComponent : public RTSPVideoServerComponent
{
public:
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override;
    OMX_ERRORTYPE Handoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* pad) override;

    std::atomic<int> iCreated{0};
    std::atomic<int> iDeleted{0};
    std::atomic<int> iHandoffs{0};
    // Handoffs seen when the last pipeline was reported created.
    std::atomic<int> iHandoffsAtCreation{-1};
    std::atomic<bool> bPipeline{false};
};

// The serving graph of the tests, built and started as the control API does.
struct SServingGraph
{
    explicit SServingGraph(const CH264TestSource::SConfig& roConfig = CH264TestSource::SConfig());
    ~SServingGraph();

    OMX_ERRORTYPE Build(unsigned uiPort, const char* szPath = "/Video320x240@60fps", bool bAuthentication = false);
    void Teardown();
    std::string Url() const;
    // Waits until the server reports a pipeline (or none), at most iWaitMs.
    bool WaitPipeline(bool bExists, int iWaitMs);

    CH264TestSource oSource;
    CObservedVideoComponent oVideo;
    GStreamerRTSPServer oServer;
    unsigned uiPort = 0;
    std::string oPath;
    bool bBuilt = false;
};

#endif // RTSP_TEST_SUPPORT_H
