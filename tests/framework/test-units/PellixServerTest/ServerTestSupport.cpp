#include "ServerTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace
{
const char* const local_szChildVariable = "PELLIX_TEST_IN_OWN_PROCESS";

long local_StatusKb(const char* szField)
{
    std::ifstream oStatus("/proc/self/status");
    std::string oLine;
    const size_t uiLength = strlen(szField);
    while (std::getline(oStatus, oLine))
        if (oLine.compare(0, uiLength, szField) == 0 && oLine.size() > uiLength && oLine[uiLength] == ':')
            return strtol(oLine.c_str() + uiLength + 1, nullptr, 10);
    return -1;
}

std::string local_ReadFile(const std::string& roPath)
{
    std::ifstream oFile(roPath, std::ios::binary);
    std::stringstream oText;
    oText << oFile.rdbuf();
    return oText.str();
}
} // namespace

// ---- Own process ---------------------------------------------------------------------------

bool RunInOwnProcess(int iTimeoutSec)
{
    // In the child: the variable names the file that tells the parent the test body ran.
    if (const char* szStarted = getenv(local_szChildVariable))
    {
        std::ofstream(szStarted) << "started\n";
        return true;
    }
    const ::testing::TestInfo* poInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string oFilter = std::string("--gtest_filter=") + poInfo->test_suite_name() + "." + poInfo->name();
    CTempDir oDir;
    const std::string oStarted = (oDir.Path() / "started").string();
    fflush(stdout);
    fflush(stderr);
    const pid_t iParent = getpid();
    const pid_t iPid = fork();
    if (iPid == 0)
    {
        // The child goes with the test process, whatever ends that.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != iParent)
            _exit(126);
        setenv(local_szChildVariable, oStarted.c_str(), 1);
        // The test runs in the child whether or not it is a disabled one the parent was told to run.
        execl("/proc/self/exe", "test-scenario", oFilter.c_str(), "--gtest_also_run_disabled_tests", "--gtest_color=no",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (iPid < 0)
    {
        ADD_FAILURE() << "cannot fork: " << strerror(errno);
        return false;
    }
    int iStatus = 0;
    const auto oDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(iTimeoutSec);
    bool bEnded = false;
    while (!bEnded)
    {
        const pid_t iWaited = waitpid(iPid, &iStatus, WNOHANG);
        if (iWaited == iPid)
            bEnded = true;
        else if (std::chrono::steady_clock::now() > oDeadline)
        {
            kill(iPid, SIGKILL);
            waitpid(iPid, &iStatus, 0);
            ADD_FAILURE() << "the scenario's process did not end within " << iTimeoutSec << " s";
            return false;
        }
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFSIGNALED(iStatus))
        ADD_FAILURE() << "the scenario's process died of signal " << WTERMSIG(iStatus);
    else
        EXPECT_EQ(0, WEXITSTATUS(iStatus)) << "the scenario failed in its own process (its output is above)";
    EXPECT_TRUE(std::filesystem::exists(oStarted)) << "the scenario did not run in its own process";
    return false;
}

// ---- Platform of a scenario ------------------------------------------------------------------

CScenarioPlatform::CScenarioPlatform(const std::string& roInput)
{
    setenv("PELLIX_PLATFORM_ROOT", m_oRoot.Path().c_str(), 1);
    setenv("PELLIX_NET_INTERFACE", "lo", 1);
    setenv("PELLIX_SIM_INPUT", roInput.c_str(), 1);
    setenv("PELLIX_SIM_MONITOR", "1080p60", 1);
    setenv("ALSA_CONFIG_PATH", PELLIX_BINARY_DIR "/platform/alsa/asound.conf", 1);
    setenv("PELLIX_ALSA_DIR", m_oAlsa.Path().c_str(), 1);
    // Another program may still be leaving the port.
    for (int iTry = 0; iTry < 300 && !m_bPortFree; ++iTry)
    {
        m_bPortFree = CanBindPort(g_uiServicePort);
        if (!m_bPortFree)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string CScenarioPlatform::AlsaFile(const std::string& roName) const
{
    return m_oAlsa.Read(roName);
}

std::string LoopbackAddress()
{
    struct ifaddrs* poAddresses = nullptr;
    std::string oAddress;
    if (getifaddrs(&poAddresses) != 0)
        return oAddress;
    for (const struct ifaddrs* po = poAddresses; po != nullptr && oAddress.empty(); po = po->ifa_next)
        if (po->ifa_addr != nullptr && po->ifa_addr->sa_family == AF_INET && strcmp(po->ifa_name, "lo") == 0)
        {
            char szText[INET_ADDRSTRLEN] = {0};
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(po->ifa_addr)->sin_addr, szText, sizeof(szText));
            oAddress = szText;
        }
    freeifaddrs(poAddresses);
    return oAddress;
}

std::string ServiceUrl(const std::string& roPath)
{
    return "rtsp://" + LoopbackAddress() + ":" + std::to_string(g_uiServicePort) + roPath;
}

// ---- Resources ---------------------------------------------------------------------------------

SProcessResources CurrentResources()
{
    SProcessResources oResources;
    oResources.uiThreads = CountThreads();
    oResources.uiFds = CountFds();
    oResources.lRssKb = local_StatusKb("VmRSS");
    const struct mallinfo2 oHeap = mallinfo2();
    oResources.llHeapInUse = static_cast<long long>(oHeap.uordblks + oHeap.hblkhd);
    return oResources;
}

bool ResourcesBackTo(const SProcessResources& roBaseline, int iWaitMs)
{
    const auto oDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iWaitMs);
    for (;;)
    {
        const SProcessResources oNow = CurrentResources();
        if (oNow.uiThreads <= roBaseline.uiThreads && oNow.uiFds <= roBaseline.uiFds)
            return true;
        if (std::chrono::steady_clock::now() > oDeadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string Describe(const SProcessResources& roResources)
{
    return std::to_string(roResources.uiThreads) + " threads, " + std::to_string(roResources.uiFds) +
           " descriptors, " + std::to_string(roResources.lRssKb) + " kB resident, " +
           std::to_string(roResources.llHeapInUse / 1024) + " kB heap in use";
}

// ---- Clients -----------------------------------------------------------------------------------

size_t SDecodeResult::FramesOf(int iStream) const
{
    return static_cast<size_t>(std::count_if(aoFrames.begin(), aoFrames.end(),
                                             [iStream](const SDecodedFrame& ro) { return ro.iStream == iStream; }));
}

size_t SDecodeResult::DistinctDigestsOf(int iStream) const
{
    std::set<std::string> oDigests;
    for (const SDecodedFrame& roFrame : aoFrames)
        if (roFrame.iStream == iStream)
            oDigests.insert(roFrame.oDigest);
    return oDigests.size();
}

SDecodeResult DecodeWithFfmpeg(const std::string& roUrl, const std::string& roLimit, const std::string& roMap,
                               int iTimeoutSec)
{
    SDecodeResult oResult;
    oResult.oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + roUrl + " -map " + roMap + " " +
                                  roLimit + " -f framemd5 -",
                              iTimeoutSec);
    // "stream, dts, pts, duration, size, hash" per decoded frame; '#' lines are the header.
    std::istringstream oLines(oResult.oRun.oOut);
    std::string oLine;
    while (std::getline(oLines, oLine))
    {
        if (oLine.empty() || oLine[0] == '#')
            continue;
        SDecodedFrame oFrame;
        long long llDts = 0;
        long long llDuration = 0;
        char szDigest[80] = {0};
        if (sscanf(oLine.c_str(), "%d, %lld, %lld, %lld, %ld, %79s", &oFrame.iStream, &llDts, &oFrame.llPts,
                   &llDuration, &oFrame.lSize, szDigest) == 6)
        {
            oFrame.oDigest = szDigest;
            oResult.aoFrames.push_back(oFrame);
        }
    }
    return oResult;
}

std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& roUrl, std::string& roError)
{
    std::vector<std::map<std::string, std::string>> aoStreams;
    const SRunResult oRun = RunCommand("ffprobe -v error -rtsp_transport tcp -show_entries "
                                       "stream=index,codec_type,codec_name,width,height,r_frame_rate,sample_rate,"
                                       "channels -of default=nw=0 " +
                                           roUrl,
                                       60);
    roError = oRun.oErr + (oRun.iExitCode != 0 ? "exit code " + std::to_string(oRun.iExitCode) : "");
    std::istringstream oLines(oRun.oOut);
    std::string oLine;
    while (std::getline(oLines, oLine))
    {
        if (oLine == "[STREAM]")
            aoStreams.emplace_back();
        else if (!aoStreams.empty() && oLine.find('=') != std::string::npos)
            aoStreams.back()[oLine.substr(0, oLine.find('='))] = oLine.substr(oLine.find('=') + 1);
    }
    return aoStreams;
}

std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat,
                          std::string& roError)
{
    CTempDir oDir;
    const std::string oPath = (oDir.Path() / "frames.raw").string();
    const SRunResult oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + roUrl + " -map 0:v -frames:v " +
                                           std::to_string(iFrames) + " -f rawvideo -pix_fmt " + roPixelFormat + " -y " +
                                           oPath,
                                       60);
    roError = oRun.oErr + (oRun.iExitCode != 0 ? "exit code " + std::to_string(oRun.iExitCode) : "");
    return local_ReadFile(oPath);
}

double PlaneAverage(const unsigned char* pPlane, unsigned uiWidth, unsigned x0, unsigned x1, unsigned y0, unsigned y1)
{
    double dSum = 0;
    for (unsigned y = y0; y < y1; ++y)
        for (unsigned x = x0; x < x1; ++x)
            dSum += pPlane[static_cast<size_t>(y) * uiWidth + x];
    return dSum / (static_cast<double>(x1 - x0) * (y1 - y0));
}

unsigned LineMedian(const unsigned char* pPlane, unsigned uiWidth, unsigned y, unsigned x0, unsigned x1)
{
    std::vector<unsigned char> aucSamples(pPlane + static_cast<size_t>(y) * uiWidth + x0,
                                          pPlane + static_cast<size_t>(y) * uiWidth + x1);
    std::nth_element(aucSamples.begin(), aucSamples.begin() + aucSamples.size() / 2, aucSamples.end());
    return aucSamples[aucSamples.size() / 2];
}

bool HasInfoRecord(const std::string& roText, const std::string& roFunction, const std::string& roMessage)
{
    char szTail[512];
    snprintf(szTail, sizeof(szTail), "# %-20s %s\n", roFunction.c_str(), roMessage.c_str());
    for (size_t uiAt = roText.find(szTail); uiAt != std::string::npos; uiAt = roText.find(szTail, uiAt + 1))
    {
        // "INFO  " and three or more digits before it, at the start of a line.
        size_t uiDigits = uiAt;
        while (uiDigits > 0 && isdigit(static_cast<unsigned char>(roText[uiDigits - 1])))
            --uiDigits;
        if (uiAt - uiDigits >= 3 && uiDigits >= 6 && roText.compare(uiDigits - 6, 6, "INFO  ") == 0 &&
            (uiDigits == 6 || roText[uiDigits - 7] == '\n'))
            return true;
    }
    return false;
}
