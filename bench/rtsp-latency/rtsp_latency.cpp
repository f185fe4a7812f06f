// Delay from an access unit entering the video stream (EmptyThisBuffer) to its first RTP packet
// reaching a client on loopback, and the CPU time the server spends per frame, for 1080p60 at
// 8 Mbit/s. The client plays over TCP and reads every interleaved packet as it comes.
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SBenchServingGraph.h"
#include "SEncodingChain.h"
#include "ti814x-framework.h"

namespace
{
const size_t local_uiKeySize = 12;  // bytes after the NAL header that tell one frame from another
const size_t local_uiWarmUp = 120;
const size_t local_uiFrames = 1000;

MUINT64 NowNs()
{
    timespec oNow;
    clock_gettime(CLOCK_MONOTONIC, &oNow);
    return static_cast<MUINT64>(oNow.tv_sec) * 1000000000ULL + static_cast<MUINT64>(oNow.tv_nsec);
}

// CPU time (ns) of the process's threads, by thread id, with their names.
std::map<int, std::pair<std::string, MUINT64>> ThreadTimes()
{
    std::map<int, std::pair<std::string, MUINT64>> aoTimes;
    DIR* poDir = opendir("/proc/self/task");
    const long lTick = sysconf(_SC_CLK_TCK);
    while (struct dirent* poEntry = readdir(poDir))
    {
        if (poEntry->d_name[0] == '.')
            continue;
        std::ifstream oStat(std::string("/proc/self/task/") + poEntry->d_name + "/stat");
        std::string oText((std::istreambuf_iterator<char>(oStat)), std::istreambuf_iterator<char>());
        const size_t uiOpen = oText.find('('), uiClose = oText.rfind(')');
        if (uiOpen == std::string::npos || uiClose == std::string::npos)
            continue;
        std::istringstream oFields(oText.substr(uiClose + 2));
        std::string oField;
        MUINT64 uiUser = 0, uiSystem = 0;
        for (int i = 3; i <= 15 && oFields >> oField; ++i)
        {
            if (i == 14)
                uiUser = std::stoull(oField);
            if (i == 15)
                uiSystem = std::stoull(oField);
        }
        aoTimes[atoi(poEntry->d_name)] = {oText.substr(uiOpen + 1, uiClose - uiOpen - 1),
                                          (uiUser + uiSystem) * 1000000000ULL / static_cast<MUINT64>(lTick)};
    }
    closedir(poDir);
    return aoTimes;
}
} // namespace

int main()
{
    SetInfoMessageLevel(0);
    const CH264EncodingSource::SConfig oConfig{1920, 1080, 60, 60, 8000, 2 * 1024 * 1024, 8, "ultrafast"};
    std::mutex oMutex;
    std::map<std::string, MUINT64> oEntered;  // key -> time of EmptyThisBuffer
    SBenchServingGraph<SEncodingChain> oGraph(oConfig, [&](MUINT64 uiIndex, const OMX_BUFFERHEADERTYPE* poHeader) {
        if (uiIndex == 0)
            pthread_setname_np(pthread_self(), "bench-x264");
        const OMX_U8* pbyData = poHeader->pBuffer;
        const guint uiStart = RTSPVideoServerComponent::GetNextStartCode(pbyData, poHeader->nFilledLen);
        if (uiStart + 4 + local_uiKeySize > poHeader->nFilledLen)
            return;
        std::lock_guard<std::mutex> oLock(oMutex);
        oEntered[std::string(reinterpret_cast<const char*>(pbyData + uiStart + 4), local_uiKeySize)] = NowNs();
    });
    if (oGraph.Build("/Video1920x1080@60fps") != OMX_ErrorNone)
    {
        fprintf(stderr, "cannot start the server\n");
        return 1;
    }

    CRawRtspClient oClient(oGraph.Url());
    if (!oClient.Play())
    {
        fprintf(stderr, "cannot play\n");
        return 1;
    }

    std::vector<double> adDelayMs;
    std::map<int, std::pair<std::string, MUINT64>> aoStart;
    MUINT64 uiStartFrames = 0;
    std::atomic<bool> bDone(false);
    std::thread oReader([&] {
        pthread_setname_np(pthread_self(), "bench-client");
        std::vector<unsigned char> abyBuffer;
        unsigned char abyData[65536];
        size_t uiSeen = 0;
        while (!bDone)
        {
            const ssize_t iRead = recv(oClient.Fd(), abyData, sizeof(abyData), 0);
            if (iRead <= 0)
                break;
            const MUINT64 uiArrival = NowNs();
            abyBuffer.insert(abyBuffer.end(), abyData, abyData + iRead);
            size_t uiPos = 0;
            while (abyBuffer.size() - uiPos >= 4)
            {
                // The tail of a packet whose start came with the answer to PLAY: on to the next.
                if (abyBuffer[uiPos] != '$')
                {
                    ++uiPos;
                    continue;
                }
                const size_t uiLength = (abyBuffer[uiPos + 2] << 8) | abyBuffer[uiPos + 3];
                if (abyBuffer.size() - uiPos < 4 + uiLength)
                    break;
                const unsigned char* pbyRtp = abyBuffer.data() + uiPos + 4;
                if (abyBuffer[uiPos + 1] == 0 && uiLength > 12)
                {
                    const size_t uiHeader = 12 + 4 * (pbyRtp[0] & 0x0F) ;
                    const unsigned char* pbyPayload = pbyRtp + uiHeader;
                    const size_t uiPayload = uiLength - uiHeader;
                    std::string oKey;
                    const int iType = pbyPayload[0] & 0x1F;
                    if ((iType == 1 || iType == 5) && uiPayload > 1 + local_uiKeySize)
                        oKey.assign(reinterpret_cast<const char*>(pbyPayload + 1), local_uiKeySize);
                    else if (iType == 28 && (pbyPayload[1] & 0x80) && ((pbyPayload[1] & 0x1F) == 1 || (pbyPayload[1] & 0x1F) == 5) &&
                             uiPayload > 2 + local_uiKeySize)
                        oKey.assign(reinterpret_cast<const char*>(pbyPayload + 2), local_uiKeySize);
                    if (!oKey.empty())
                    {
                        MUINT64 uiEntered = 0;
                        {
                            std::lock_guard<std::mutex> oLock(oMutex);
                            const auto itEntered = oEntered.find(oKey);
                            if (itEntered != oEntered.end())
                            {
                                uiEntered = itEntered->second;
                                oEntered.erase(itEntered);
                            }
                        }
                        if (uiEntered != 0 && ++uiSeen > local_uiWarmUp)
                        {
                            if (adDelayMs.empty())
                            {
                                aoStart = ThreadTimes();
                                uiStartFrames = oGraph.oChain.oSource.GetSentCount();
                            }
                            adDelayMs.push_back(static_cast<double>(uiArrival - uiEntered) / 1e6);
                            if (adDelayMs.size() >= local_uiFrames)
                                bDone = true;
                        }
                    }
                }
                uiPos += 4 + uiLength;
            }
            abyBuffer.erase(abyBuffer.begin(), abyBuffer.begin() + static_cast<long>(uiPos));
        }
    });
    for (int i = 0; i < 600 && !bDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto aoEnd = ThreadTimes();
    const MUINT64 uiFrames = oGraph.oChain.oSource.GetSentCount() - uiStartFrames;
    bDone = true;
    oClient.Close();
    oReader.join();

    // The server's threads: everything but the main thread, the encoder stand-in and the client.
    MUINT64 uiServerNs = 0;
    for (const auto& roThread : aoEnd)
    {
        const std::string& roName = roThread.second.first;
        if (roThread.first == getpid() || roName == "bench-x264" || roName == "bench-client")
            continue;
        const auto itStart = aoStart.find(roThread.first);
        uiServerNs += roThread.second.second - (itStart != aoStart.end() ? itStart->second.second : 0);
    }
    const MUINT64 uiSkipped = oGraph.oChain.oSource.GetSkippedCount();
    oGraph.Teardown();

    if (adDelayMs.size() < local_uiFrames)
    {
        fprintf(stderr, "only %zu frames measured\n", adDelayMs.size());
        return 1;
    }
    std::sort(adDelayMs.begin(), adDelayMs.end());
    printf("RTSP video, 1920x1080 at 60 frames/s, 8 Mbit/s, one client over TCP on loopback\n");
    printf("frames measured          %zu (after %zu warm-up frames; %llu frames not encoded for want of a buffer)\n",
           adDelayMs.size(), local_uiWarmUp, static_cast<unsigned long long>(uiSkipped));
    printf("EmptyThisBuffer -> first RTP packet at the client: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
           adDelayMs[adDelayMs.size() / 2], adDelayMs[adDelayMs.size() * 99 / 100], adDelayMs.back());
    printf("server CPU time per frame: %.3f ms (%llu frames)\n",
           uiFrames ? static_cast<double>(uiServerNs) / 1e6 / static_cast<double>(uiFrames) : 0.0,
           static_cast<unsigned long long>(uiFrames));
    return 0;
}
