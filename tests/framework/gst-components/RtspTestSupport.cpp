#include "RtspTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace
{
std::string local_ReadFile(const std::string& roPath)
{
    std::ifstream oFile(roPath, std::ios::binary);
    std::stringstream oText;
    oText << oFile.rdbuf();
    return oText.str();
}

std::string local_TempPath(const char* szTag)
{
    char szPath[] = "/tmp/pellix-rtsp-XXXXXX";
    const int iFd = mkstemp(szPath);
    if (iFd >= 0)
        close(iFd);
    return std::string(szPath) + szTag;
}

unsigned local_CountEntries(const char* szDir)
{
    unsigned uiCount = 0;
    DIR* poDir = opendir(szDir);
    if (poDir == nullptr)
        return 0;
    while (struct dirent* poEntry = readdir(poDir))
        if (poEntry->d_name[0] != '.')
            ++uiCount;
    closedir(poDir);
    return uiCount;
}
} // namespace

// ---- CStdoutCapture -----------------------------------------------------------------------

CStdoutCapture::CStdoutCapture() : m_iSavedFd(-1), m_iFileFd(-1)
{
    char szPath[] = "/tmp/pellix-rtsp-stdout-XXXXXX";
    m_iFileFd = mkstemp(szPath);
    m_oPath = szPath;
    fflush(stdout);
    m_iSavedFd = dup(STDOUT_FILENO);
    dup2(m_iFileFd, STDOUT_FILENO);
}

CStdoutCapture::~CStdoutCapture()
{
    Stop();
}

std::string CStdoutCapture::Peek()
{
    fflush(stdout);
    return local_ReadFile(m_oPath);
}

const std::string& CStdoutCapture::Stop()
{
    if (m_iSavedFd >= 0)
    {
        fflush(stdout);
        dup2(m_iSavedFd, STDOUT_FILENO);
        close(m_iSavedFd);
        m_iSavedFd = -1;
        close(m_iFileFd);
        m_oText = local_ReadFile(m_oPath);
        unlink(m_oPath.c_str());
    }
    return m_oText;
}

size_t CountOccurrences(const std::string& roText, const std::string& roNeedle)
{
    size_t uiCount = 0;
    for (size_t uiPos = roText.find(roNeedle); uiPos != std::string::npos; uiPos = roText.find(roNeedle, uiPos + 1))
        ++uiCount;
    return uiCount;
}

// ---- Child processes ----------------------------------------------------------------------

CBackgroundCommand::CBackgroundCommand(const std::string& roCommand, int iTimeoutSec)
    : m_iPid(-1), m_iStatus(0), m_bDone(false)
{
    m_oOutPath = local_TempPath(".out");
    m_oErrPath = local_TempPath(".err");
    const std::string oFull = "exec timeout -k 3 " + std::to_string(iTimeoutSec) + " sh -c '" + roCommand + "' >" +
                              m_oOutPath + " 2>" + m_oErrPath + " </dev/null";
    m_iPid = fork();
    if (m_iPid == 0)
    {
        // Only the descriptors of the standard streams go to the child.
        for (int iFd = 3; iFd < 1024; ++iFd)
            close(iFd);
        execl("/bin/sh", "sh", "-c", oFull.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

CBackgroundCommand::~CBackgroundCommand()
{
    Kill();
    unlink(m_oOutPath.c_str());
    unlink(m_oErrPath.c_str());
    const std::string oBase = m_oOutPath.substr(0, m_oOutPath.size() - 4);
    unlink(oBase.c_str());
    unlink(m_oErrPath.substr(0, m_oErrPath.size() - 4).c_str());
}

bool CBackgroundCommand::IsRunning()
{
    if (m_bDone || m_iPid <= 0)
        return false;
    if (waitpid(m_iPid, &m_iStatus, WNOHANG) == m_iPid)
        m_bDone = true;
    return !m_bDone;
}

bool CBackgroundCommand::Wait(int iWaitSec)
{
    const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(iWaitSec);
    while (IsRunning())
    {
        if (std::chrono::steady_clock::now() > oEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void CBackgroundCommand::Kill()
{
    if (IsRunning())
    {
        kill(m_iPid, SIGKILL);
        waitpid(m_iPid, &m_iStatus, 0);
        m_bDone = true;
    }
}

SRunResult CBackgroundCommand::Result()
{
    SRunResult oResult;
    if (m_bDone)
        oResult.iExitCode = WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
    oResult.oOut = local_ReadFile(m_oOutPath);
    oResult.oErr = local_ReadFile(m_oErrPath);
    return oResult;
}

SRunResult RunCommand(const std::string& roCommand, int iTimeoutSec)
{
    CBackgroundCommand oCommand(roCommand, iTimeoutSec);
    oCommand.Wait(iTimeoutSec + 10);
    oCommand.Kill();
    return oCommand.Result();
}

// ---- Ports, threads, descriptors ----------------------------------------------------------

bool CanBindPort(unsigned uiPort)
{
    const int iFd = socket(AF_INET, SOCK_STREAM, 0);
    if (iFd < 0)
        return false;
    int iOn = 1;
    setsockopt(iFd, SOL_SOCKET, SO_REUSEADDR, &iOn, sizeof(iOn));
    sockaddr_in oAddr{};
    oAddr.sin_family = AF_INET;
    oAddr.sin_port = htons(static_cast<uint16_t>(uiPort));
    oAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bBound = bind(iFd, reinterpret_cast<sockaddr*>(&oAddr), sizeof(oAddr)) == 0 && listen(iFd, 1) == 0;
    close(iFd);
    return bBound;
}

unsigned PickFreePort()
{
    // Ports above the ephemeral range start are rarely taken; each test asks for its own.
    for (int iTry = 0; iTry < 100; ++iTry)
    {
        const int iFd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in oAddr{};
        oAddr.sin_family = AF_INET;
        oAddr.sin_port = 0;
        oAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t uiLength = sizeof(oAddr);
        unsigned uiPort = 0;
        if (bind(iFd, reinterpret_cast<sockaddr*>(&oAddr), sizeof(oAddr)) == 0 &&
            getsockname(iFd, reinterpret_cast<sockaddr*>(&oAddr), &uiLength) == 0)
            uiPort = ntohs(oAddr.sin_port);
        close(iFd);
        if (uiPort != 0 && CanBindPort(uiPort))
            return uiPort;
    }
    return 0;
}

unsigned CountThreads()
{
    return local_CountEntries("/proc/self/task");
}

unsigned CountFds()
{
    return local_CountEntries("/proc/self/fd");
}

// ---- CRawRtspClient -----------------------------------------------------------------------

CRawRtspClient::~CRawRtspClient()
{
    Close();
}

bool CRawRtspClient::Connect(unsigned uiPort)
{
    Close();
    m_iFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in oAddr{};
    oAddr.sin_family = AF_INET;
    oAddr.sin_port = htons(static_cast<uint16_t>(uiPort));
    oAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_iFd, reinterpret_cast<sockaddr*>(&oAddr), sizeof(oAddr)) != 0)
    {
        Close();
        return false;
    }
    return true;
}

void CRawRtspClient::Close()
{
    if (m_iFd >= 0)
        close(m_iFd);
    m_iFd = -1;
    m_oPending.clear();
}

std::string CRawRtspClient::Request(const std::string& roMethod, const std::string& roUrl,
                                    const std::string& roExtraHeaders)
{
    if (m_iFd < 0)
        return "";
    std::string oRequest = roMethod + " " + roUrl + " RTSP/1.0\r\nCSeq: " + std::to_string(m_iCSeq++) + "\r\n";
    if (!m_oSession.empty())
        oRequest += "Session: " + m_oSession + "\r\n";
    oRequest += roExtraHeaders + "\r\n";
    if (send(m_iFd, oRequest.data(), oRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(oRequest.size()))
        return "";
    // Reads until a whole response (headers and announced body) is there; interleaved RTP packets
    // ('$' frames) before it are skipped.
    const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < oEnd)
    {
        while (!m_oPending.empty() && m_oPending[0] == '$')
        {
            if (m_oPending.size() < 4)
                break;
            const size_t uiLength = (static_cast<unsigned char>(m_oPending[2]) << 8) | static_cast<unsigned char>(m_oPending[3]);
            if (m_oPending.size() < 4 + uiLength)
                break;
            m_oPending.erase(0, 4 + uiLength);
        }
        const size_t uiHeaderEnd = m_oPending.find("\r\n\r\n");
        if (!m_oPending.empty() && m_oPending[0] != '$' && uiHeaderEnd != std::string::npos)
        {
            size_t uiBody = 0;
            const size_t uiLengthPos = m_oPending.find("Content-Length:");
            if (uiLengthPos != std::string::npos && uiLengthPos < uiHeaderEnd)
                uiBody = std::strtoul(m_oPending.c_str() + uiLengthPos + 15, nullptr, 10);
            if (m_oPending.size() >= uiHeaderEnd + 4 + uiBody)
            {
                std::string oResponse = m_oPending.substr(0, uiHeaderEnd + 4 + uiBody);
                m_oPending.erase(0, uiHeaderEnd + 4 + uiBody);
                const size_t uiSessionPos = oResponse.find("Session:");
                if (uiSessionPos != std::string::npos)
                {
                    size_t uiStart = uiSessionPos + 8;
                    while (oResponse[uiStart] == ' ')
                        ++uiStart;
                    const size_t uiStop = oResponse.find_first_of(";\r", uiStart);
                    m_oSession = oResponse.substr(uiStart, uiStop - uiStart);
                }
                return oResponse;
            }
        }
        pollfd oPoll{m_iFd, POLLIN, 0};
        if (poll(&oPoll, 1, 100) > 0)
        {
            char abyData[65536];
            const ssize_t iRead = recv(m_iFd, abyData, sizeof(abyData), 0);
            if (iRead <= 0)
                return "";
            m_oPending.append(abyData, static_cast<size_t>(iRead));
        }
    }
    return "";
}

// ---- CObservedVideoComponent --------------------------------------------------------------

OMX_ERRORTYPE CObservedVideoComponent::PipelineCreated(GstElement* poPipeline)
{
    if (poPipeline != nullptr)
    {
        iHandoffsAtCreation = iHandoffs.load();
        ++iCreated;
    }
    const OMX_ERRORTYPE eError = RTSPVideoServerComponent::PipelineCreated(poPipeline);
    if (poPipeline == nullptr)
        ++iDeleted;
    bPipeline = poPipeline != nullptr;
    return eError;
}

OMX_ERRORTYPE CObservedVideoComponent::Handoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* pad)
{
    ++iHandoffs;
    return RTSPVideoServerComponent::Handoff(fakesrc, poGstBuffer, pad);
}

// ---- SServingGraph ------------------------------------------------------------------------

SServingGraph::SServingGraph(const CH264TestSource::SConfig& roConfig) : oSource(roConfig) {}

SServingGraph::~SServingGraph()
{
    Teardown();
}

OMX_ERRORTYPE SServingGraph::Build(unsigned uiServerPort, const char* szPath, bool bAuthentication)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    uiPort = uiServerPort;
    oPath = szPath;
    bBuilt = true;
    if ((eError = oServer.Init()) != OMX_ErrorNone || (eError = oVideo.Init()) != OMX_ErrorNone ||
        (eError = oSource.Init()) != OMX_ErrorNone || (eError = oSource.ConnectTo(0, &oVideo, 0)) != OMX_ErrorNone ||
        (eError = oSource.Start()) != OMX_ErrorNone || (eError = oServer.AddStreamingComponent(&oVideo)) != OMX_ErrorNone ||
        (eError = oServer.SetPortInfo(szPath, uiServerPort)) != OMX_ErrorNone)
        return eError;
    return oServer.StartServing(bAuthentication);
}

void SServingGraph::Teardown()
{
    if (!bBuilt)
        return;
    bBuilt = false;
    // As the control API stops: the server first, then the head of the chain, then Deinit.
    oServer.StopServing();
    oSource.Stop();
    oSource.Deinit();
    oVideo.Deinit();
    oServer.Deinit();
}

std::string SServingGraph::Url() const
{
    return "rtsp://127.0.0.1:" + std::to_string(uiPort) + oPath;
}

bool SServingGraph::WaitPipeline(bool bExists, int iWaitMs)
{
    for (int i = 0; i < iWaitMs / 10; ++i)
    {
        if (oVideo.bPipeline.load() == bExists)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return oVideo.bPipeline.load() == bExists;
}

// ---- Sanitizer suppressions ---------------------------------------------------------------
// Only what is in GLib's and GStreamer's own code: GLib allocates once in its library
// constructor and keeps it for the life of the process.
// Whole allocation stacks (GLib is built without frame pointers), so that the suppression above
// can tell GLib's constructor from everything else.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:_dl_init\n";
}
