// Encoding speed of the platform's H.264 encoder ("OMX.TI.DUCATI.VIDENC") for each encoding
// preset, next to ffmpeg's libx264 with the same x264 preset, tune, bit rate, picture pattern and
// threads on the same frames.
//
//   encoder-fps [frames] [width] [height] [bit rate]     (600 1920 1080 8000000)
//
// The test pattern is drawn beforehand into 60 distinct frames, which are fed in turn as fast as
// the component takes them; output buffers go back at once. For each preset it prints the
// frames per second of the wall clock (the machine may be shared) and of the process's CPU time
// spread over two cores (what two cores of its own would give), then ffmpeg's two figures and the
// ratio of the wall-clock figures.
#include <OMX_Component.h>
#include <OMX_Core.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "EncodedStreams.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szComponent = "OMX.TI.DUCATI.VIDENC";
const unsigned local_uiDistinctFrames = 60;
const unsigned local_uiFrameRate = 60;
const unsigned local_uiKeyInterval = 90;
const OMX_U32 local_uiBuffers = 4;

struct SPreset
{
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset;
    const char* szName;
    const char* szX264;  // the x264 preset the component uses for it
};

const SPreset local_aoPresets[] = {
    {OMX_Video_Enc_Med_Speed_High_Quality, "Med_Speed_High_Quality (EncPre_BetterQuality)", "superfast"},
    {OMX_Video_Enc_High_Speed_Med_Quality, "High_Speed_Med_Quality (EncPre_BetterSpeed)", "ultrafast"},
};

struct SFigures
{
    double dWallFps = 0;
    double dCpuFps = 0;  // frames per second of CPU time, times two cores
};

template <typename TStruct>
void InitStruct(TStruct& roStruct, OMX_U32 nPort)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
    roStruct.nPortIndex = nPort;
}

double CpuSeconds()
{
    rusage oUsage;
    getrusage(RUSAGE_SELF, &oUsage);
    return oUsage.ru_utime.tv_sec + oUsage.ru_stime.tv_sec + (oUsage.ru_utime.tv_usec + oUsage.ru_stime.tv_usec) / 1e6;
}

// An IL client that feeds the prepared frames and hands every output buffer straight back.
class CEncoderBench
{
public:
    CEncoderBench(const std::vector<std::vector<uint8_t>>& raaucFrames, unsigned uiWidth, unsigned uiHeight,
                  unsigned uiBitRate)
        : m_raaucFrames(raaucFrames), m_uiWidth(uiWidth), m_uiHeight(uiHeight), m_uiBitRate(uiBitRate)
    {
    }

    bool Run(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset, unsigned uiFrames, SFigures& roFigures);

private:
    static OMX_ERRORTYPE CallbackEvent(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32 nData1,
                                       OMX_U32 nData2, OMX_PTR)
    {
        auto* poThis = static_cast<CEncoderBench*>(pAppData);
        if (eEvent == OMX_EventCmdComplete && nData1 == OMX_CommandStateSet)
        {
            std::lock_guard<std::mutex> oLock(poThis->m_oMutex);
            poThis->m_eState = static_cast<OMX_STATETYPE>(nData2);
            poThis->m_oChanged.notify_all();
        }
        return OMX_ErrorNone;
    }
    static OMX_ERRORTYPE CallbackEmptyBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader)
    {
        static_cast<CEncoderBench*>(pAppData)->Feed(poHeader);
        return OMX_ErrorNone;
    }
    static OMX_ERRORTYPE CallbackFillBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader)
    {
        auto* poThis = static_cast<CEncoderBench*>(pAppData);
        std::lock_guard<std::mutex> oLock(poThis->m_oMutex);
        if ((poHeader->nFlags & OMX_BUFFERFLAG_EOS) != 0)
        {
            poThis->m_bDone = true;
            poThis->m_oChanged.notify_all();
        }
        else if (!poThis->m_bDone)
            OMX_FillThisBuffer(poThis->m_hComponent, poHeader);
        return OMX_ErrorNone;
    }

    void Feed(OMX_BUFFERHEADERTYPE* poHeader)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_uiSent >= m_uiFrames)
            return;
        const std::vector<uint8_t>& raucFrame = m_raaucFrames[m_uiSent % m_raaucFrames.size()];
        memcpy(poHeader->pBuffer, raucFrame.data(), raucFrame.size());
        poHeader->nOffset = 0;
        poHeader->nFilledLen = static_cast<OMX_U32>(raucFrame.size());
        poHeader->nTimeStamp = static_cast<OMX_TICKS>(m_uiSent) * 1000000 / local_uiFrameRate;
        poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (m_uiSent + 1 == m_uiFrames ? OMX_BUFFERFLAG_EOS : 0);
        ++m_uiSent;
        OMX_EmptyThisBuffer(m_hComponent, poHeader);
    }

    bool Configure(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset);
    bool GoTo(OMX_STATETYPE eState);

    const std::vector<std::vector<uint8_t>>& m_raaucFrames;
    unsigned m_uiWidth;
    unsigned m_uiHeight;
    unsigned m_uiBitRate;
    OMX_HANDLETYPE m_hComponent = nullptr;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoBuffers[2];
    std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    OMX_STATETYPE m_eState = OMX_StateLoaded;
    unsigned m_uiFrames = 0;
    unsigned m_uiSent = 0;
    bool m_bDone = false;
};

bool CEncoderBench::Configure(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset)
{
    OMX_PARAM_PORTDEFINITIONTYPE oPort;
    for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
    {
        InitStruct(oPort, nPort);
        if (OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oPort) != OMX_ErrorNone)
            return false;
        oPort.nBufferCountActual = local_uiBuffers;
        oPort.format.video.nFrameWidth = m_uiWidth;
        oPort.format.video.nFrameHeight = m_uiHeight;
        oPort.format.video.nStride = static_cast<OMX_S32>(m_uiWidth);
        oPort.format.video.xFramerate = local_uiFrameRate << 16;
        oPort.format.video.nBitrate = m_uiBitRate;
        if (OMX_SetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oPort) != OMX_ErrorNone)
            return false;
    }
    OMX_VIDEO_PARAM_ENCODER_PRESETTYPE oPreset;
    InitStruct(oPreset, 1);
    const OMX_INDEXTYPE ePresetIndex = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoEncoderPreset);
    if (OMX_GetParameter(m_hComponent, ePresetIndex, &oPreset) != OMX_ErrorNone)
        return false;
    oPreset.eEncodingModePreset = ePreset;
    oPreset.eRateControlPreset = OMX_Video_RC_Low_Delay;
    OMX_VIDEO_PARAM_AVCTYPE oAvc;
    InitStruct(oAvc, 1);
    if (OMX_SetParameter(m_hComponent, ePresetIndex, &oPreset) != OMX_ErrorNone ||
        OMX_GetParameter(m_hComponent, OMX_IndexParamVideoAvc, &oAvc) != OMX_ErrorNone)
        return false;
    // What the system asks for: Baseline, level 4.2, an IDR picture every 90, no B pictures.
    oAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oAvc.eLevel = OMX_VIDEO_AVCLevel42;
    oAvc.nPFrames = local_uiKeyInterval - 1;
    oAvc.nBFrames = 0;
    return OMX_SetParameter(m_hComponent, OMX_IndexParamVideoAvc, &oAvc) == OMX_ErrorNone;
}

bool CEncoderBench::GoTo(OMX_STATETYPE eState)
{
    if (OMX_SendCommand(m_hComponent, OMX_CommandStateSet, eState, nullptr) != OMX_ErrorNone)
        return false;
    if (eState == OMX_StateIdle && m_apoBuffers[0].empty())
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
        {
            OMX_PARAM_PORTDEFINITIONTYPE oPort;
            InitStruct(oPort, nPort);
            OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oPort);
            for (OMX_U32 i = 0; i < oPort.nBufferCountActual; ++i)
            {
                OMX_BUFFERHEADERTYPE* poHeader = nullptr;
                if (OMX_AllocateBuffer(m_hComponent, &poHeader, nPort, this, oPort.nBufferSize) != OMX_ErrorNone)
                    return false;
                m_apoBuffers[nPort].push_back(poHeader);
            }
        }
    }
    if (eState == OMX_StateLoaded)
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
        {
            for (OMX_BUFFERHEADERTYPE* poHeader : m_apoBuffers[nPort])
                OMX_FreeBuffer(m_hComponent, nPort, poHeader);
            m_apoBuffers[nPort].clear();
        }
    }
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, std::chrono::seconds(30), [&] { return m_eState == eState; });
}

bool CEncoderBench::Run(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset, unsigned uiFrames, SFigures& roFigures)
{
    OMX_CALLBACKTYPE oCallbacks = {&CallbackEvent, &CallbackEmptyBufferDone, &CallbackFillBufferDone};
    if (OMX_GetHandle(&m_hComponent, const_cast<char*>(local_szComponent), this, &oCallbacks) != OMX_ErrorNone)
        return false;
    bool bDone = Configure(ePreset) && GoTo(OMX_StateIdle) && GoTo(OMX_StateExecuting);
    if (bDone)
    {
        m_uiFrames = uiFrames;
        m_uiSent = 0;
        m_bDone = false;
        const double dCpuStart = CpuSeconds();
        const auto oStart = std::chrono::steady_clock::now();
        for (OMX_BUFFERHEADERTYPE* poHeader : m_apoBuffers[1])
            OMX_FillThisBuffer(m_hComponent, poHeader);
        for (OMX_BUFFERHEADERTYPE* poHeader : m_apoBuffers[0])
            Feed(poHeader);
        {
            std::unique_lock<std::mutex> oLock(m_oMutex);
            bDone = m_oChanged.wait_for(oLock, std::chrono::seconds(600), [this] { return m_bDone; });
        }
        const double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
        roFigures.dWallFps = uiFrames / dWall;
        roFigures.dCpuFps = uiFrames / ((CpuSeconds() - dCpuStart) / 2);
    }
    bDone = GoTo(OMX_StateIdle) && GoTo(OMX_StateLoaded) && bDone;
    OMX_FreeHandle(m_hComponent);
    m_hComponent = nullptr;
    return bDone;
}

// ffmpeg's libx264 on the same frames with the same choices; false when ffmpeg fails.
bool RunFfmpeg(const std::string& roFrames, const char* szPreset, unsigned uiFrames, unsigned uiWidth,
               unsigned uiHeight, unsigned uiBitRate, SFigures& roFigures)
{
    const unsigned uiKilo = uiBitRate / 1000;
    char szCommand[1024];
    snprintf(szCommand, sizeof(szCommand),
             "ffmpeg -nostdin -hide_banner -loglevel info -nostats -benchmark -f rawvideo -pix_fmt nv12 -s %ux%u -r %u "
             "-stream_loop -1 -i %s -frames:v %u -c:v libx264 -preset %s -tune zerolatency -profile:v baseline "
             "-level 4.2 -b:v %uk -maxrate %uk -bufsize %uk -g %u -keyint_min %u -sc_threshold 0 -threads 2 "
             "-x264-params sliced-threads=1 -f null - 2>&1",
             uiWidth, uiHeight, local_uiFrameRate, roFrames.c_str(), uiFrames, szPreset, uiKilo, uiKilo, uiKilo / 2,
             local_uiKeyInterval, local_uiKeyInterval);
    FILE* poPipe = popen(szCommand, "r");
    if (poPipe == nullptr)
        return false;
    std::string oOutput;
    char acBuffer[4096];
    size_t uiRead = 0;
    while ((uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0)
        oOutput.append(acBuffer, uiRead);
    const int iStatus = pclose(poPipe);
    double dUser = 0, dSystem = 0, dReal = 0;
    const size_t uiBench = oOutput.find("bench: utime=");
    if (!WIFEXITED(iStatus) || WEXITSTATUS(iStatus) != 0 || uiBench == std::string::npos ||
        sscanf(oOutput.c_str() + uiBench, "bench: utime=%lfs stime=%lfs rtime=%lfs", &dUser, &dSystem, &dReal) != 3)
    {
        fprintf(stderr, "ffmpeg failed:\n%s\n", oOutput.c_str());
        return false;
    }
    roFigures.dWallFps = uiFrames / dReal;
    roFigures.dCpuFps = uiFrames / ((dUser + dSystem) / 2);
    return true;
}
} // namespace

int main(int iArgc, char** apszArgv)
{
    const unsigned uiFrames = iArgc > 1 ? static_cast<unsigned>(atoi(apszArgv[1])) : 600;
    const unsigned uiWidth = iArgc > 2 ? static_cast<unsigned>(atoi(apszArgv[2])) : 1920;
    const unsigned uiHeight = iArgc > 3 ? static_cast<unsigned>(atoi(apszArgv[3])) : 1080;
    const unsigned uiBitRate = iArgc > 4 ? static_cast<unsigned>(atoi(apszArgv[4])) : 8000000;
    if (uiFrames == 0 || uiWidth == 0 || uiHeight == 0 || uiBitRate < 1000)
    {
        fprintf(stderr, "usage: encoder-fps [frames] [width] [height] [bit rate]\n");
        return 2;
    }

    // The same frames for both encoders: in memory for the component, in a file for ffmpeg.
    const CNv12Pattern oPattern(uiWidth, uiHeight);
    std::vector<std::vector<uint8_t>> aaucFrames(local_uiDistinctFrames);
    const std::string oFramesPath = "/tmp/encoder-fps-" + std::to_string(getpid()) + ".nv12";
    {
        std::ofstream oFile(oFramesPath, std::ios::binary);
        for (unsigned i = 0; i < local_uiDistinctFrames; ++i)
        {
            aaucFrames[i].resize(oPattern.FrameBytes());
            oPattern.Render(i, aaucFrames[i].data());
            oFile.write(reinterpret_cast<const char*>(aaucFrames[i].data()), static_cast<std::streamsize>(aaucFrames[i].size()));
        }
    }

    if (OMX_Init() != OMX_ErrorNone)
        return 1;
    printf("%ux%u at %u frames/s, %u frames, %u bit/s, Baseline, IDR every %u, 2 codec threads\n", uiWidth, uiHeight,
           local_uiFrameRate, uiFrames, uiBitRate, local_uiKeyInterval);
    printf("%-46s %-9s %9s %9s %9s %9s %7s\n", "encoding preset", "x264", "fps", "cpu-fps", "ffmpeg", "ff-cpu",
           "ratio");
    int iResult = 0;
    for (const SPreset& roPreset : local_aoPresets)
    {
        SFigures oComponent;
        SFigures oFfmpeg;
        CEncoderBench oBench(aaucFrames, uiWidth, uiHeight, uiBitRate);
        if (!oBench.Run(roPreset.ePreset, uiFrames, oComponent) ||
            !RunFfmpeg(oFramesPath, roPreset.szX264, uiFrames, uiWidth, uiHeight, uiBitRate, oFfmpeg))
        {
            iResult = 1;
            continue;
        }
        printf("%-46s %-9s %9.1f %9.1f %9.1f %9.1f %7.2f\n", roPreset.szName, roPreset.szX264, oComponent.dWallFps,
               oComponent.dCpuFps, oFfmpeg.dWallFps, oFfmpeg.dCpuFps, oComponent.dWallFps / oFfmpeg.dWallFps);
    }
    OMX_Deinit();
    remove(oFramesPath.c_str());
    return iResult;
}
