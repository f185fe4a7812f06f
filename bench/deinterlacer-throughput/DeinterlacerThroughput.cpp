// Throughput of the platform's deinterlacer and scaler ("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT"):
// input frames are handed in as fast as the component takes them, output buffers handed back at
// once, and the frames it completes per second are counted. Run it on one core (taskset) to get
// the figure of one core.
//
//   deinterlacer-throughput [seconds] [case...]
//
// Cases: 1080p (1080p YUV 4:2:2 in, 1080p 4:2:2 and 1080p 4:2:0 out; the default), 1080i (the
// same from two fields per frame, woven), 720p (1080p in, 1280 x 720 4:2:2 and 4:2:0 out),
// 720p-up (720p in, 1080p 4:2:2 and 1280 x 720 4:2:0 out).
#include <OMX_Component.h>
#include <OMX_Core.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ti814x-omx.h"

namespace
{
const char* const local_szComponent = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
const OMX_U32 local_auiOutputPort[2] = {16, 17};
const OMX_U32 local_uiBuffersPerPort = 4;
const OMX_U32 local_uiFirstField = 0x00010000;
const OMX_U32 local_uiSecondField = 0x00020000;

struct SCase
{
    const char* szName;
    OMX_U32 uiInWidth;
    OMX_U32 uiInHeight;
    bool bInterlaced;
    OMX_U32 auiOutWidth[2];
    OMX_U32 auiOutHeight[2];
};

const SCase local_aoCases[] = {
    {"1080p", 1920, 1080, false, {1920, 1920}, {1080, 1080}},
    {"1080i", 1920, 1080, true, {1920, 1920}, {1080, 1080}},
    {"720p", 1920, 1080, false, {1280, 1280}, {720, 720}},
    {"720p-up", 1280, 720, false, {1920, 1280}, {1080, 720}},
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

// An IL client that keeps every buffer circulating while running.
class CBenchClient
{
public:
    bool Run(const SCase& roCase, double dSeconds, double& rdFramesPerSecond);

private:
    static OMX_ERRORTYPE CallbackEvent(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32 nData1,
                                       OMX_U32 nData2, OMX_PTR);
    static OMX_ERRORTYPE CallbackEmptyBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader);
    static OMX_ERRORTYPE CallbackFillBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader);

    bool SetPort(OMX_U32 nPort, OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat, OMX_U32 uiCount);
    bool GoTo(OMX_STATETYPE eState, bool bAllocate, bool bFree);
    bool Configure(const SCase& roCase);

    OMX_HANDLETYPE m_hComponent = nullptr;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoBuffers[3];  // input, primary, secondary
    std::atomic<bool> m_bRunning{false};
    std::atomic<unsigned long> m_auiFilled[2] = {{0}, {0}};
    std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    OMX_STATETYPE m_eReached = OMX_StateInvalid;
    bool m_bError = false;
};

OMX_ERRORTYPE CBenchClient::CallbackEvent(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32 nData1,
                                          OMX_U32 nData2, OMX_PTR)
{
    auto* poClient = static_cast<CBenchClient*>(pAppData);
    std::lock_guard<std::mutex> oLock(poClient->m_oMutex);
    if (eEvent == OMX_EventCmdComplete && nData1 == OMX_CommandStateSet)
        poClient->m_eReached = static_cast<OMX_STATETYPE>(nData2);
    else if (eEvent == OMX_EventError)
        poClient->m_bError = true;
    poClient->m_oChanged.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CBenchClient::CallbackEmptyBufferDone(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                                    OMX_BUFFERHEADERTYPE* poHeader)
{
    // The same frame again: the work does not depend on the picture.
    if (static_cast<CBenchClient*>(pAppData)->m_bRunning)
        OMX_EmptyThisBuffer(hComponent, poHeader);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CBenchClient::CallbackFillBufferDone(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                                   OMX_BUFFERHEADERTYPE* poHeader)
{
    auto* poClient = static_cast<CBenchClient*>(pAppData);
    if (poHeader->nFilledLen > 0)
        ++poClient->m_auiFilled[poHeader->nOutputPortIndex == local_auiOutputPort[0] ? 0 : 1];
    if (poClient->m_bRunning)
        OMX_FillThisBuffer(hComponent, poHeader);
    return OMX_ErrorNone;
}

bool CBenchClient::SetPort(OMX_U32 nPort, OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat,
                           OMX_U32 uiCount)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition, nPort);
    if (OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition) != OMX_ErrorNone)
        return false;
    const OMX_U32 uiStride = eFormat == OMX_COLOR_FormatYCbYCr ? 2 * uiWidth : uiWidth;
    oDefinition.format.video.nFrameWidth = uiWidth;
    oDefinition.format.video.nFrameHeight = uiHeight;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(uiStride);
    oDefinition.format.video.eColorFormat = eFormat;
    oDefinition.nBufferSize = eFormat == OMX_COLOR_FormatYCbYCr ? uiStride * uiHeight : uiStride * uiHeight * 3 / 2;
    oDefinition.nBufferCountActual = uiCount;
    return OMX_SetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition) == OMX_ErrorNone;
}

bool CBenchClient::Configure(const SCase& roCase)
{
    const OMX_U32 uiFields = roCase.bInterlaced ? 2 : 1;
    OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
    InitStruct(oSubSampling, 0);
    oSubSampling.nSubSamplingFactor = uiFields;
    OMX_CONFIG_ALG_ENABLE oAlgorithm;
    InitStruct(oAlgorithm, 0);
    oAlgorithm.bAlgBypass = roCase.bInterlaced ? OMX_FALSE : OMX_TRUE;
    return OMX_SetConfig(m_hComponent, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigSubSamplingFactor),
                         &oSubSampling) == OMX_ErrorNone &&
           OMX_SetConfig(m_hComponent, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigAlgEnable), &oAlgorithm) ==
               OMX_ErrorNone &&
           SetPort(0, roCase.uiInWidth, roCase.uiInHeight / uiFields, OMX_COLOR_FormatYCbYCr,
                   local_uiBuffersPerPort * uiFields) &&
           SetPort(local_auiOutputPort[0], roCase.auiOutWidth[0], roCase.auiOutHeight[0], OMX_COLOR_FormatYCbYCr,
                   local_uiBuffersPerPort) &&
           SetPort(local_auiOutputPort[1], roCase.auiOutWidth[1], roCase.auiOutHeight[1],
                   OMX_COLOR_FormatYUV420SemiPlanar, local_uiBuffersPerPort);
}

bool CBenchClient::GoTo(OMX_STATETYPE eState, bool bAllocate, bool bFree)
{
    const OMX_U32 auiPorts[3] = {0, local_auiOutputPort[0], local_auiOutputPort[1]};
    if (OMX_SendCommand(m_hComponent, OMX_CommandStateSet, eState, nullptr) != OMX_ErrorNone)
        return false;
    for (unsigned i = 0; i < 3 && (bAllocate || bFree); ++i)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition, auiPorts[i]);
        OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition);
        for (OMX_U32 j = 0; bAllocate && j < oDefinition.nBufferCountActual; ++j)
        {
            OMX_BUFFERHEADERTYPE* poHeader = nullptr;
            if (OMX_AllocateBuffer(m_hComponent, &poHeader, auiPorts[i], nullptr, oDefinition.nBufferSize) !=
                OMX_ErrorNone)
                return false;
            m_apoBuffers[i].push_back(poHeader);
        }
        for (OMX_BUFFERHEADERTYPE* poHeader : bFree ? m_apoBuffers[i] : std::vector<OMX_BUFFERHEADERTYPE*>())
            OMX_FreeBuffer(m_hComponent, auiPorts[i], poHeader);
        if (bFree)
            m_apoBuffers[i].clear();
    }
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, std::chrono::seconds(10), [&] { return m_eReached == eState || m_bError; }) &&
           !m_bError;
}

bool CBenchClient::Run(const SCase& roCase, double dSeconds, double& rdFramesPerSecond)
{
    OMX_CALLBACKTYPE oCallbacks = {CallbackEvent, CallbackEmptyBufferDone, CallbackFillBufferDone};
    if (OMX_GetHandle(&m_hComponent, const_cast<char*>(local_szComponent), this, &oCallbacks) != OMX_ErrorNone)
        return false;
    bool bOk = Configure(roCase) && GoTo(OMX_StateIdle, true, false) && GoTo(OMX_StateExecuting, false, false);
    if (bOk)
    {
        // A grey frame, its fields marked first and second in turn.
        for (size_t i = 0; i < m_apoBuffers[0].size(); ++i)
        {
            OMX_BUFFERHEADERTYPE* poHeader = m_apoBuffers[0][i];
            memset(poHeader->pBuffer, 0x80, poHeader->nAllocLen);
            poHeader->nFilledLen = poHeader->nAllocLen;
            poHeader->nFlags = roCase.bInterlaced ? (i % 2 == 0 ? local_uiFirstField
                                                                : local_uiFirstField | local_uiSecondField)
                                                  : 0;
        }
        m_bRunning = true;
        for (unsigned i = 1; i < 3; ++i)
            for (OMX_BUFFERHEADERTYPE* poHeader : m_apoBuffers[i])
                OMX_FillThisBuffer(m_hComponent, poHeader);
        for (OMX_BUFFERHEADERTYPE* poHeader : m_apoBuffers[0])
            OMX_EmptyThisBuffer(m_hComponent, poHeader);
        // Half a second to settle, then the measurement.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const unsigned long uiStart = m_auiFilled[0];
        const unsigned long uiStartSecondary = m_auiFilled[1];
        const auto oStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
        const unsigned long uiFrames = m_auiFilled[0] - uiStart;
        const unsigned long uiSecondary = m_auiFilled[1] - uiStartSecondary;
        const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
        m_bRunning = false;
        rdFramesPerSecond = uiFrames / dElapsed;
        // Every frame reached both outputs.
        bOk = uiFrames > 0 && (uiSecondary + 8 >= uiFrames);
        bOk = GoTo(OMX_StateIdle, false, false) && bOk;
    }
    bOk = GoTo(OMX_StateLoaded, false, true) && bOk;
    OMX_FreeHandle(m_hComponent);
    return bOk;
}
} // namespace

int main(int argc, char** argv)
{
    double dSeconds = 3.0;
    std::vector<std::string> aoCases;
    for (int i = 1; i < argc; ++i)
    {
        char* pszEnd = nullptr;
        const double dValue = strtod(argv[i], &pszEnd);
        if (pszEnd != argv[i] && *pszEnd == 0 && dValue > 0)
            dSeconds = dValue;
        else
            aoCases.push_back(argv[i]);
    }
    if (aoCases.empty())
        aoCases.push_back("1080p");
    if (OMX_Init() != OMX_ErrorNone)
        return 1;
    int iResult = 0;
    for (const std::string& roName : aoCases)
    {
        const SCase* poCase = nullptr;
        for (const SCase& roCase : local_aoCases)
            if (roName == roCase.szName)
                poCase = &roCase;
        if (poCase == nullptr)
        {
            fprintf(stderr, "unknown case %s (1080p, 1080i, 720p, 720p-up)\n", roName.c_str());
            iResult = 2;
            continue;
        }
        CBenchClient oClient;
        double dFramesPerSecond = 0;
        if (!oClient.Run(*poCase, dSeconds, dFramesPerSecond))
        {
            fprintf(stderr, "%s: the component did not run\n", poCase->szName);
            iResult = 1;
            continue;
        }
        printf("%-8s %lux%lu%s YUV 4:2:2 -> %lux%lu 4:2:2 + %lux%lu 4:2:0: %.1f frames/s\n", poCase->szName,
               poCase->uiInWidth, poCase->uiInHeight, poCase->bInterlaced ? "i" : "p", poCase->auiOutWidth[0],
               poCase->auiOutHeight[0], poCase->auiOutWidth[1], poCase->auiOutHeight[1], dFramesPerSecond);
    }
    OMX_Deinit();
    return iResult;
}
