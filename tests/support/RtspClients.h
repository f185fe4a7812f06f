// Real RTSP clients on loopback, and what they decoded:
//   ExpectMovingPictures(url, 60)     ffmpeg decodes that many pictures, all different, silently
//   ExpectPatternUpright(url)         a decoded 1920 x 1080 picture shows the input's pattern upright
//   GrabRawFrames(url, 2, "gray", err)      the first decoded pictures as raw bytes of that format
//   CRawRtspClient                    a raw RTSP/RTP client of one URL over a socket: any request,
//                                     a play over TCP or UDP, the RTP packets of stream 0
// and the port helpers CanBindPort, WaitPortFree (another program may still be leaving the
// service's port 8554) and PickFreePort. Clients that run long are started with CChildProcess;
// Occurrences and Has (OutputCapture.h) read what they printed.
#ifndef PELLIX_TEST_RTSP_CLIENTS_H
#define PELLIX_TEST_RTSP_CLIENTS_H

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "OutputCapture.h"

bool CanBindPort(unsigned uiPort);
bool WaitPortFree(unsigned uiPort);
unsigned PickFreePort();
void ExpectMovingPictures(const std::string& roUrl, int iPictures);
void ExpectPatternUpright(const std::string& roUrl);
std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat,
                          std::string& roError);

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
    // The next RTP packet of stream 0 (UDP, or interleaved channel 0); "" when none came within
    // iTimeoutMs.
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
// NAL unit type of an RTP packet of an H.264 stream (a fragment's or an aggregate's first
// unit's); -1 when it carries none.
int H264NalType(const std::string& roRtpPacket);

#endif // PELLIX_TEST_RTSP_CLIENTS_H
