#include "CH264TestSource.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <x264.h>
}

// ---- CProvidingSourcePort -----------------------------------------------------------------

CProvidingSourcePort::~CProvidingSourcePort()
{
    Release();
}

void CProvidingSourcePort::Provide(const SPortBufferInfo& roInfo, MUINT32 uiCount)
{
    Release();
    m_oPortBufferInfo = roInfo;
    m_uiBufferCount = uiCount;
    m_apoBufferHeader = new OMX_BUFFERHEADERTYPE*[uiCount];
    for (MUINT32 i = 0; i < uiCount; ++i)
    {
        auto* poHeader = new OMX_BUFFERHEADERTYPE();
        poHeader->nSize = sizeof(OMX_BUFFERHEADERTYPE);
        poHeader->nVersion.s.nVersionMajor = 1;
        poHeader->nVersion.s.nVersionMinor = 1;
        poHeader->pBuffer = new OMX_U8[roInfo.uiBufferSize];
        poHeader->nAllocLen = roInfo.uiBufferSize;
        poHeader->nOutputPortIndex = m_uiPortID;
        m_apbyMemory.push_back(poHeader->pBuffer);
        m_apoBufferHeader[i] = poHeader;
    }
    m_uiState |= PortState_BufferReady | PortState_BufferProvider;
}

void CProvidingSourcePort::Release()
{
    for (MUINT32 i = 0; m_apoBufferHeader != nullptr && i < m_uiBufferCount; ++i)
        delete m_apoBufferHeader[i];
    delete[] m_apoBufferHeader;
    m_apoBufferHeader = nullptr;
    m_uiBufferCount = 0;
    for (OMX_U8* pbyMemory : m_apbyMemory)
        delete[] pbyMemory;
    m_apbyMemory.clear();
    m_uiState &= ~static_cast<MUINT32>(PortState_BufferReady | PortState_BufferProvider);
}

// ---- CH264TestSource ----------------------------------------------------------------------

CH264TestSource::CH264TestSource(const SConfig& roConfig)
    : m_oConfig(roConfig), m_bRun(false), m_uiSent(0), m_uiSkipped(0), m_uiReturned(0)
{
    strncpy(m_szComponentName, "H264TestSource", sizeof(m_szComponentName) - 1);
}

CH264TestSource::~CH264TestSource()
{
    Deinit();
}

OMX_ERRORTYPE CH264TestSource::CreatePorts()
{
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutput;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::Init()
{
    const OMX_ERRORTYPE eError = InitPorts();
    if (eError != OMX_ErrorNone)
        return eError;
    SPortBufferInfo oInfo{};
    oInfo.uiBufferSize = m_oConfig.uiBufferSize;
    m_oOutput.Provide(oInfo, m_oConfig.uiBufferCount);
    std::lock_guard<std::mutex> oLock(m_oFreeMutex);
    m_apoFree.clear();
    for (MUINT32 i = 0; i < m_oConfig.uiBufferCount; ++i)
        m_apoFree.push_back(m_oOutput.GetBufferHeader(i));
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::Deinit()
{
    m_bRun = false;
    if (m_oThread.joinable())
        m_oThread.join();
    {
        std::lock_guard<std::mutex> oLock(m_oFreeMutex);
        m_apoFree.clear();
    }
    m_oOutput.Release();
    return m_oOutput.Deinit();
}

OMX_ERRORTYPE CH264TestSource::Start()
{
    OMX_ERRORTYPE eError = Execute(0);
    if (eError == OMX_ErrorNone)
        eError = StartBufferProcessing();
    return eError;
}

OMX_ERRORTYPE CH264TestSource::Stop()
{
    OMX_ERRORTYPE eError = StopBufferProcessing();
    if (eError == OMX_ErrorNone)
        eError = Loaded(0);
    return eError;
}

OMX_ERRORTYPE CH264TestSource::Execute(MBOOL32 bTestMode)
{
    return m_oOutput.Execute(bTestMode);
}

OMX_ERRORTYPE CH264TestSource::Loaded(MUINT /*uiInputPortId*/)
{
    return m_oOutput.Loaded();
}

OMX_ERRORTYPE CH264TestSource::StartBufferProcessing()
{
    m_bBufferProcessing = true;
    const OMX_ERRORTYPE eError = m_oOutput.StartBufferProcessing();
    if (eError != OMX_ErrorNone)
        return eError;
    m_bRun = true;
    m_oThread = std::thread(ProducerThread, this);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::StopBufferProcessing()
{
    m_bBufferProcessing = false;
    m_bRun = false;
    if (m_oThread.joinable())
        m_oThread.join();
    return m_oOutput.StopBufferProcessing();
}

OMX_ERRORTYPE CH264TestSource::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    ++m_uiReturned;
    GiveBack(poBufferHeader);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    ++m_uiReturned;
    GiveBack(poBufferHeader);
    return OMX_ErrorNone;
}

void CH264TestSource::GiveBack(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    std::lock_guard<std::mutex> oLock(m_oFreeMutex);
    m_apoFree.push_back(poBufferHeader);
}

OMX_BUFFERHEADERTYPE* CH264TestSource::TakeFree()
{
    std::lock_guard<std::mutex> oLock(m_oFreeMutex);
    if (m_apoFree.empty())
        return nullptr;
    OMX_BUFFERHEADERTYPE* poHeader = m_apoFree.front();
    m_apoFree.erase(m_apoFree.begin());
    return poHeader;
}

MUINT32 CH264TestSource::GetFreeCount()
{
    std::lock_guard<std::mutex> oLock(m_oFreeMutex);
    return static_cast<MUINT32>(m_apoFree.size());
}

std::vector<OMX_U8> CH264TestSource::GetParameterSets()
{
    std::lock_guard<std::mutex> oLock(m_oFreeMutex);
    return m_abyParameterSets;
}

void CH264TestSource::Send(MUINT64 uiIndex, OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    if (m_oSendHook)
        m_oSendHook(uiIndex, poBufferHeader);
    ++m_uiSent;
    // As the encoder wrapper does: the output port hands the header to the downstream component.
    if (m_oOutput.EmptyThisBuffer(poBufferHeader) != OMX_ErrorNone)
        GiveBack(poBufferHeader);
}

void CH264TestSource::ProducerThread(CH264TestSource* poSource)
{
    poSource->Produce();
}

namespace
{
void local_AddNanoseconds(timespec& roTime, long lNanoseconds)
{
    roTime.tv_nsec += lNanoseconds;
    while (roTime.tv_nsec >= 1000000000L)
    {
        roTime.tv_nsec -= 1000000000L;
        ++roTime.tv_sec;
    }
}

bool local_Before(const timespec& roA, const timespec& roB)
{
    return roA.tv_sec < roB.tv_sec || (roA.tv_sec == roB.tv_sec && roA.tv_nsec < roB.tv_nsec);
}
} // namespace

void CH264TestSource::Produce()
{
    x264_param_t oParam;
    x264_param_default_preset(&oParam, m_oConfig.szPreset, "zerolatency");
    oParam.i_threads = 1;
    oParam.i_width = static_cast<int>(m_oConfig.uiWidth);
    oParam.i_height = static_cast<int>(m_oConfig.uiHeight);
    oParam.i_csp = X264_CSP_I420;
    oParam.i_fps_num = m_oConfig.uiFps;
    oParam.i_fps_den = 1;
    oParam.i_keyint_max = static_cast<int>(m_oConfig.uiKeyInt);
    oParam.i_keyint_min = static_cast<int>(m_oConfig.uiKeyInt);
    oParam.i_scenecut_threshold = 0;
    oParam.b_repeat_headers = 0;
    oParam.b_annexb = 1;
    oParam.b_aud = 0;
    oParam.i_log_level = X264_LOG_NONE;
    if (m_oConfig.uiBitrateKbps != 0)
    {
        oParam.rc.i_rc_method = X264_RC_ABR;
        oParam.rc.i_bitrate = static_cast<int>(m_oConfig.uiBitrateKbps);
        oParam.rc.i_vbv_max_bitrate = static_cast<int>(m_oConfig.uiBitrateKbps);
        oParam.rc.i_vbv_buffer_size = static_cast<int>(m_oConfig.uiBitrateKbps);
    }
    x264_param_apply_profile(&oParam, "baseline");
    x264_t* poEncoder = x264_encoder_open(&oParam);
    if (poEncoder == nullptr)
        return;

    // The first buffer: SPS and PPS alone.
    x264_nal_t* poNals = nullptr;
    int iNalCount = 0;
    x264_encoder_headers(poEncoder, &poNals, &iNalCount);
    std::vector<OMX_U8> abyHeaders;
    for (int i = 0; i < iNalCount; ++i)
        if (poNals[i].i_type == NAL_SPS || poNals[i].i_type == NAL_PPS)
            abyHeaders.insert(abyHeaders.end(), poNals[i].p_payload, poNals[i].p_payload + poNals[i].i_payload);
    {
        std::lock_guard<std::mutex> oLock(m_oFreeMutex);
        m_abyParameterSets = abyHeaders;
    }
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    while (m_bRun && (poHeader = TakeFree()) == nullptr)
        usleep(1000);
    MUINT64 uiIndex = 0;
    if (poHeader != nullptr)
    {
        memcpy(poHeader->pBuffer, abyHeaders.data(), abyHeaders.size());
        poHeader->nOffset = 0;
        poHeader->nFilledLen = static_cast<OMX_U32>(abyHeaders.size());
        poHeader->nFlags = OMX_BUFFERFLAG_CODECCONFIG;
        poHeader->nTimeStamp = 0;
        Send(uiIndex++, poHeader);
    }

    x264_picture_t oPicture;
    x264_picture_alloc(&oPicture, X264_CSP_I420, oParam.i_width, oParam.i_height);
    x264_picture_t oPictureOut;
    const long lPeriod = 1000000000L / static_cast<long>(m_oConfig.uiFps);
    timespec oNext;
    clock_gettime(CLOCK_MONOTONIC, &oNext);
    MUINT64 uiFrame = 0;
    while (m_bRun)
    {
        local_AddNanoseconds(oNext, lPeriod);
        timespec oNow;
        clock_gettime(CLOCK_MONOTONIC, &oNow);
        if (local_Before(oNow, oNext))
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &oNext, nullptr);
        else
            oNext = oNow;  // late: no catching up
        if (!m_bRun)
            break;
        poHeader = TakeFree();
        if (poHeader == nullptr)
        {
            // As a capture with no free buffer: the frame is not encoded.
            ++m_uiSkipped;
            continue;
        }
        // A moving pattern: diagonal stripes that shift every frame, a bright box that travels.
        const int iWidth = oParam.i_width;
        const int iHeight = oParam.i_height;
        uint8_t* pbyLuma = oPicture.img.plane[0];
        const int iStride = oPicture.img.i_stride[0];
        const int iBox = static_cast<int>((uiFrame * 4) % static_cast<MUINT64>(iWidth > 32 ? iWidth - 32 : 1));
        for (int y = 0; y < iHeight; ++y)
            for (int x = 0; x < iWidth; ++x)
                pbyLuma[y * iStride + x] = (x >= iBox && x < iBox + 32 && y >= 16 && y < 48)
                                               ? 235
                                               : static_cast<uint8_t>(((x + y + static_cast<int>(uiFrame) * 3) & 0x3F) + 64);
        for (int iPlane = 1; iPlane < 3; ++iPlane)
            for (int y = 0; y < iHeight / 2; ++y)
                memset(oPicture.img.plane[iPlane] + y * oPicture.img.i_stride[iPlane], iPlane == 1 ? 100 : 150,
                       static_cast<size_t>(iWidth / 2));
        oPicture.i_pts = static_cast<int64_t>(uiFrame);
        const int iSize = x264_encoder_encode(poEncoder, &poNals, &iNalCount, &oPicture, &oPictureOut);
        ++uiFrame;
        OMX_U32 uiFilled = 0;
        for (int i = 0; i < iNalCount && iSize > 0; ++i)
        {
            if (poNals[i].i_type == NAL_SEI || poNals[i].i_type == NAL_AUD || poNals[i].i_type == NAL_SPS ||
                poNals[i].i_type == NAL_PPS)
                continue;
            const OMX_U32 uiNal = static_cast<OMX_U32>(poNals[i].i_payload);
            if (uiFilled + uiNal > poHeader->nAllocLen)
                break;
            memcpy(poHeader->pBuffer + uiFilled, poNals[i].p_payload, uiNal);
            uiFilled += uiNal;
        }
        if (uiFilled == 0)
        {
            GiveBack(poHeader);
            continue;
        }
        poHeader->nOffset = 0;
        poHeader->nFilledLen = uiFilled;
        poHeader->nFlags = oPictureOut.b_keyframe ? OMX_BUFFERFLAG_SYNCFRAME : 0;
        poHeader->nTimeStamp = static_cast<OMX_TICKS>(uiFrame * 1000000ULL / m_oConfig.uiFps);
        Send(uiIndex++, poHeader);
    }
    x264_picture_clean(&oPicture);
    x264_encoder_close(poEncoder);
}
