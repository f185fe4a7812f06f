// Real RTSP clients on loopback, and what they decoded:
//   ProbeStreams(url, err)            ffprobe over TCP: each stream's "key=value" entries, in order
//   DecodeWithFfmpeg(url, "-frames:v 60")   ffmpeg decoding: every decoded frame as framemd5 lists it
//   GrabRawFrames(url, 2, "gray", err)      the first decoded pictures as raw bytes of that format
//   RtspsrcCommand(url, "tcp", 300)   a command line: GStreamer's rtspsrc decoding 300 pictures with
//                                     openh264; CountRtspsrcPictures(its output) counts them
//   CRawRtspClient                    a raw RTSP/RTP client of one URL over a socket: any request,
//                                     a play over TCP or UDP, the RTP packets of UDP stream 0
// and the port helpers CanBindPort, WaitPortFree (another program may still be leaving the
// service's port 8554) and PickFreePort. Clients that run long are started with CChildProcess.
#ifndef PELLIX_TEST_RTSP_CLIENTS_H
#define PELLIX_TEST_RTSP_CLIENTS_H

#include <map>
#include <string>
#include <vector>

#include "ChildProcess.h"

bool CanBindPort(unsigned uiPort);
bool WaitPortFree(unsigned uiPort);
unsigned PickFreePort();
size_t CountOccurrences(const std::string& roText, const std::string& roNeedle);

typedef std::map<std::string, std::string> TStreamInfo;
std::vector<TStreamInfo> ProbeStreams(const std::string& roUrl, std::string& roError);

struct SDecodedFrame
{
    int iStream = -1;
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
// Over TCP. roLimit: ffmpeg's limit, e.g. "-frames:v 30" or "-t 3"; roMap: its choice of streams.
SDecodeResult DecodeWithFfmpeg(const std::string& roUrl, const std::string& roLimit, const std::string& roMap = "0:v");
std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat,
                          std::string& roError);
std::string RtspsrcCommand(const std::string& roUrl, const std::string& roProtocols, int iPictures);
size_t CountRtspsrcPictures(const std::string& roOutput);

class CRawRtspClient
{
public:
    explicit CRawRtspClient(const std::string& roUrl) : m_oUrl(roUrl) {}
    ~CRawRtspClient() { Close(); }
    CRawRtspClient(const CRawRtspClient&) = delete;
    CRawRtspClient& operator=(const CRawRtspClient&) = delete;

    bool Connect();
    // A request for the URL with roSuffix appended ("/stream=0"), its CSeq, the session once
    // known and roHeaders ("Name: value\r\n" each). The whole response, or "" when none came.
    std::string Request(const std::string& roMethod, const std::string& roHeaders = "",
                        const std::string& roSuffix = "");
    // DESCRIBE, SETUP of streams 0 .. iStreams-1 (TCP interleaved, or UDP), PLAY: all answered 200.
    bool Play(int iStreams = 1, bool bUdp = false);
    // The next RTP packet of UDP stream 0; "" when none came within iTimeoutMs.
    std::string NextPacket(int iTimeoutMs);
    const std::string& Sdp() const { return m_oSdp; }
    const std::string& Session() const { return m_oSession; }
    int Fd() const { return m_iFd; }
    void Close();

private:
    std::string m_oUrl;
    int m_iFd = -1;
    int m_iCSeq = 1;
    std::string m_oSession;
    std::string m_oPending;
    std::string m_oSdp;
    std::vector<int> m_aiUdpFds;
};
bool IsOk(const std::string& roResponse);

#endif // PELLIX_TEST_RTSP_CLIENTS_H
