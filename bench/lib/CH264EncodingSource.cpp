#include "CH264EncodingSource.h"

#include <time.h>

#include <chrono>
#include <cstring>

extern "C" {
#include <x264.h>
}

namespace
{
// An encoder for the configuration: baseline, no frame threads, no look-ahead, a key frame every
// uiKeyInt pictures and never between, Annex B without repeated headers or delimiters.
x264_t* local_OpenEncoder(const CH264EncodingSource::SConfig& roConfig, x264_param_t& roParam)
{
    x264_param_default_preset(&roParam, roConfig.szPreset, "zerolatency");
    roParam.i_threads = 1;
    roParam.i_width = static_cast<int>(roConfig.uiWidth);
    roParam.i_height = static_cast<int>(roConfig.uiHeight);
    roParam.i_csp = X264_CSP_I420;
    roParam.i_fps_num = roConfig.uiFps;
    roParam.i_fps_den = 1;
    roParam.i_keyint_max = static_cast<int>(roConfig.uiKeyInt);
    roParam.i_keyint_min = static_cast<int>(roConfig.uiKeyInt);
    roParam.i_scenecut_threshold = 0;
    roParam.b_repeat_headers = 0;
    roParam.b_annexb = 1;
    roParam.b_aud = 0;
    roParam.i_log_level = X264_LOG_NONE;
    roParam.rc.i_rc_method = X264_RC_ABR;
    roParam.rc.i_bitrate = static_cast<int>(roConfig.uiBitrateKbps);
    roParam.rc.i_vbv_max_bitrate = static_cast<int>(roConfig.uiBitrateKbps);
    roParam.rc.i_vbv_buffer_size = static_cast<int>(roConfig.uiBitrateKbps);
    x264_param_apply_profile(&roParam, "baseline");
    return x264_encoder_open(&roParam);
}

// Diagonal stripes that shift every picture and a bright box that travels, on flat chroma.
void local_DrawPicture(x264_picture_t& roPicture, int iWidth, int iHeight, MUINT64 uiFrame)
{
    uint8_t* const pbyLuma = roPicture.img.plane[0];
    const int iStride = roPicture.img.i_stride[0];
    const int iBox = static_cast<int>((uiFrame * 4) % static_cast<MUINT64>(iWidth > 32 ? iWidth - 32 : 1));
    for (int y = 0; y < iHeight; ++y)
        for (int x = 0; x < iWidth; ++x)
            pbyLuma[y * iStride + x] = (x >= iBox && x < iBox + 32 && y >= 16 && y < 48)
                                           ? 235
                                           : static_cast<uint8_t>(((x + y + static_cast<int>(uiFrame) * 3) & 0x3F) + 64);
    for (int iPlane = 1; iPlane < 3; ++iPlane)
        for (int y = 0; y < iHeight / 2; ++y)
            memset(roPicture.img.plane[iPlane] + y * roPicture.img.i_stride[iPlane], iPlane == 1 ? 100 : 150,
                   static_cast<size_t>(iWidth / 2));
}

// Copies the NAL units the stream carries (no SEI, delimiter or parameter set unless bHeaders)
// into the header; the bytes filled, 0 when none fit.
OMX_U32 local_Fill(OMX_BUFFERHEADERTYPE* poHeader, const x264_nal_t* poNals, int iNalCount, bool bHeaders)
{
    OMX_U32 uiFilled = 0;
    for (int i = 0; i < iNalCount; ++i)
    {
        const bool bParameterSet = poNals[i].i_type == NAL_SPS || poNals[i].i_type == NAL_PPS;
        if (bParameterSet != bHeaders || poNals[i].i_type == NAL_SEI || poNals[i].i_type == NAL_AUD)
            continue;
        const OMX_U32 uiNal = static_cast<OMX_U32>(poNals[i].i_payload);
        if (uiFilled + uiNal > poHeader->nAllocLen)
            break;
        memcpy(poHeader->pBuffer + uiFilled, poNals[i].p_payload, uiNal);
        uiFilled += uiNal;
    }
    return uiFilled;
}
} // namespace

void CH264EncodingSource::SOwningPort::Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory)
{
    ProvideBuffer(&roInfo, static_cast<MUINT32>(raabyMemory.size()));
    for (size_t i = 0; i < raabyMemory.size(); ++i)
    {
        m_apoBufferHeader[i] = new OMX_BUFFERHEADERTYPE();
        m_apoBufferHeader[i]->pBuffer = raabyMemory[i].data();
        m_apoBufferHeader[i]->nAllocLen = roInfo.uiBufferSize;
    }
    m_uiState |= PortState_BufferReady;
}

CH264EncodingSource::CH264EncodingSource(const SConfig& roConfig, TSendHook oSendHook)
    : m_oConfig(roConfig),
      m_oSendHook(std::move(oSendHook)),
      m_aabyMemory(roConfig.uiBufferCount, std::vector<OMX_U8>(roConfig.uiBufferSize))
{
    strncpy(m_szComponentName, "H264EncodingSource", sizeof(m_szComponentName) - 1);
}

CH264EncodingSource::~CH264EncodingSource()
{
    Deinit();
}

OMX_ERRORTYPE CH264EncodingSource::CreatePorts()
{
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutput;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncodingSource::Init()
{
    SPortBufferInfo oInfo{};
    oInfo.uiBufferSize = m_oConfig.uiBufferSize;
    const OMX_ERRORTYPE eError = InitPorts();
    m_oOutput.Own(oInfo, m_aabyMemory);
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (MUINT32 i = 0; i < m_aabyMemory.size(); ++i)
        m_apoFree.push_back(m_oOutput.GetBufferHeader(i));
    return eError;
}

OMX_ERRORTYPE CH264EncodingSource::Deinit()
{
    Stop();
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.clear();
    return m_oOutput.Deinit();
}

OMX_ERRORTYPE CH264EncodingSource::Start()
{
    OMX_ERRORTYPE eError = m_oOutput.Execute(0);
    if (eError == OMX_ErrorNone)
        eError = m_oOutput.StartBufferProcessing();
    if (eError == OMX_ErrorNone && !m_bRun.exchange(true))
        m_oThread = std::thread(&CH264EncodingSource::Produce, this);
    return eError;
}

OMX_ERRORTYPE CH264EncodingSource::Stop()
{
    m_bRun = false;
    if (m_oThread.joinable())
        m_oThread.join();
    return m_oOutput.GetRemotePort() != nullptr ? m_oOutput.StopBufferProcessing() : OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncodingSource::FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader)
{
    return EmptyBufferDone(poHeader);
}

OMX_ERRORTYPE CH264EncodingSource::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.push_back(poHeader);
    return OMX_ErrorNone;
}

OMX_BUFFERHEADERTYPE* CH264EncodingSource::TakeFree()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (m_apoFree.empty())
        return nullptr;
    OMX_BUFFERHEADERTYPE* const poHeader = m_apoFree.front();
    m_apoFree.pop_front();
    return poHeader;
}

void CH264EncodingSource::Send(MUINT64 uiIndex, OMX_BUFFERHEADERTYPE* poHeader)
{
    if (m_oSendHook)
        m_oSendHook(uiIndex, poHeader);
    ++m_uiSent;
    if (m_oOutput.EmptyThisBuffer(poHeader) != OMX_ErrorNone)
        EmptyBufferDone(poHeader);
}

void CH264EncodingSource::Produce()
{
    x264_param_t oParam;
    x264_t* const poEncoder = local_OpenEncoder(m_oConfig, oParam);
    if (poEncoder == nullptr)
        return;
    x264_nal_t* poNals = nullptr;
    int iNalCount = 0;
    x264_encoder_headers(poEncoder, &poNals, &iNalCount);
    // The parameter sets wait for a header.
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    while (m_bRun && (poHeader = TakeFree()) == nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    MUINT64 uiIndex = 0;
    if (poHeader != nullptr)
    {
        poHeader->nOffset = 0;
        poHeader->nFilledLen = local_Fill(poHeader, poNals, iNalCount, true);
        poHeader->nFlags = OMX_BUFFERFLAG_CODECCONFIG;
        poHeader->nTimeStamp = 0;
        Send(uiIndex++, poHeader);
    }

    x264_picture_t oPicture;
    x264_picture_t oPictureOut;
    x264_picture_alloc(&oPicture, X264_CSP_I420, oParam.i_width, oParam.i_height);
    const long lPeriod = 1000000000L / static_cast<long>(m_oConfig.uiFps);
    timespec oNext;
    clock_gettime(CLOCK_MONOTONIC, &oNext);
    for (MUINT64 uiFrame = 0; m_bRun;)
    {
        oNext.tv_nsec += lPeriod;
        oNext.tv_sec += oNext.tv_nsec / 1000000000L;
        oNext.tv_nsec %= 1000000000L;
        timespec oNow;
        clock_gettime(CLOCK_MONOTONIC, &oNow);
        if (oNow.tv_sec < oNext.tv_sec || (oNow.tv_sec == oNext.tv_sec && oNow.tv_nsec < oNext.tv_nsec))
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &oNext, nullptr);
        else
            oNext = oNow;  // late: no catching up
        if (!m_bRun)
            break;
        poHeader = TakeFree();
        if (poHeader == nullptr)
        {
            ++m_uiSkipped;
            continue;
        }
        local_DrawPicture(oPicture, oParam.i_width, oParam.i_height, uiFrame);
        oPicture.i_pts = static_cast<int64_t>(uiFrame++);
        const int iSize = x264_encoder_encode(poEncoder, &poNals, &iNalCount, &oPicture, &oPictureOut);
        poHeader->nOffset = 0;
        poHeader->nFilledLen = iSize > 0 ? local_Fill(poHeader, poNals, iNalCount, false) : 0;
        if (poHeader->nFilledLen == 0)
        {
            EmptyBufferDone(poHeader);
            continue;
        }
        poHeader->nFlags = oPictureOut.b_keyframe ? OMX_BUFFERFLAG_SYNCFRAME : 0;
        poHeader->nTimeStamp = static_cast<OMX_TICKS>(uiFrame * 1000000ULL / m_oConfig.uiFps);
        Send(uiIndex++, poHeader);
    }
    x264_picture_clean(&oPicture);
    x264_encoder_close(poEncoder);
}
