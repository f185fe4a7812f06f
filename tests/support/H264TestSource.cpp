#include "H264TestSource.h"

#include <time.h>

#include <cstring>

extern "C" {
#include <x264.h>
}

namespace
{
// Pictures encoded once, served round and round.
const int local_iLoopPictures = 120;
} // namespace

void CH264TestSource::COwningPort::Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory)
{
    ProvideBuffer(&roInfo, static_cast<MUINT32>(raabyMemory.size()));
    for (size_t i = 0; i < raabyMemory.size(); ++i)
    {
        m_apoBufferHeader[i] = new OMX_BUFFERHEADERTYPE();
        m_apoBufferHeader[i]->nSize = sizeof(OMX_BUFFERHEADERTYPE);
        m_apoBufferHeader[i]->pBuffer = raabyMemory[i].data();
        m_apoBufferHeader[i]->nAllocLen = roInfo.uiBufferSize;
    }
    m_uiState |= PortState_BufferReady;
}

CH264TestSource::CH264TestSource() : CH264TestSource(SConfig()) {}

CH264TestSource::CH264TestSource(const SConfig& roConfig) : m_oConfig(roConfig)
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
    m_aabyMemory.assign(m_oConfig.uiBufferCount, std::vector<OMX_U8>(m_oConfig.uiBufferSize));
    SPortBufferInfo oInfo{};
    oInfo.uiBufferSize = m_oConfig.uiBufferSize;
    const OMX_ERRORTYPE eError = InitPorts();
    m_oOutput.Own(oInfo, m_aabyMemory);
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.clear();
    for (MUINT32 i = 0; i < m_oConfig.uiBufferCount; ++i)
        m_apoFree.push_back(Header(i));
    return eError;
}

void CH264TestSource::Encode()
{
    x264_param_t oParam;
    x264_param_default_preset(&oParam, "ultrafast", "zerolatency");
    oParam.i_threads = 1;
    oParam.i_width = static_cast<int>(m_oConfig.uiWidth);
    oParam.i_height = static_cast<int>(m_oConfig.uiHeight);
    oParam.i_fps_num = m_oConfig.uiFps;
    oParam.i_fps_den = 1;
    oParam.i_keyint_max = oParam.i_keyint_min = static_cast<int>(m_oConfig.uiKeyInt);
    oParam.i_scenecut_threshold = 0;
    oParam.b_repeat_headers = 0;
    oParam.i_log_level = X264_LOG_NONE;
    x264_param_apply_profile(&oParam, "baseline");
    x264_t* poEncoder = x264_encoder_open(&oParam);
    x264_nal_t* poNals = nullptr;
    int iNals = 0;
    m_aabyUnits.assign(1, {});
    x264_encoder_headers(poEncoder, &poNals, &iNals);
    for (int i = 0; i < iNals; ++i)
        if (poNals[i].i_type == NAL_SPS || poNals[i].i_type == NAL_PPS)
            m_aabyUnits[0].insert(m_aabyUnits[0].end(), poNals[i].p_payload, poNals[i].p_payload + poNals[i].i_payload);
    x264_picture_t oPicture;
    x264_picture_t oOut;
    x264_picture_alloc(&oPicture, X264_CSP_I420, oParam.i_width, oParam.i_height);
    for (int iPicture = 0; iPicture < local_iLoopPictures; ++iPicture)
    {
        // Diagonal stripes moving a step a picture, grey chroma.
        for (int iPlane = 0; iPlane < 3; ++iPlane)
            for (int y = 0; y < oParam.i_height >> (iPlane ? 1 : 0); ++y)
                for (int x = 0; x < oParam.i_width >> (iPlane ? 1 : 0); ++x)
                    oPicture.img.plane[iPlane][y * oPicture.img.i_stride[iPlane] + x] =
                        iPlane ? 128 : static_cast<uint8_t>(64 + ((x + y + 3 * iPicture) & 0x7F));
        oPicture.i_pts = iPicture;
        std::vector<OMX_U8> abyUnit;
        x264_encoder_encode(poEncoder, &poNals, &iNals, &oPicture, &oOut);
        for (int i = 0; i < iNals; ++i)
            if (poNals[i].i_type != NAL_SEI && poNals[i].i_type != NAL_AUD && poNals[i].i_type != NAL_SPS &&
                poNals[i].i_type != NAL_PPS)
                abyUnit.insert(abyUnit.end(), poNals[i].p_payload, poNals[i].p_payload + poNals[i].i_payload);
        m_aabyUnits.push_back(abyUnit);
    }
    x264_picture_clean(&oPicture);
    x264_encoder_close(poEncoder);
}

OMX_ERRORTYPE CH264TestSource::Deinit()
{
    Stop();
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.clear();
    return m_oOutput.Deinit();
}

OMX_ERRORTYPE CH264TestSource::Start()
{
    // As a component that starts its chain: the stream executes (its launch fragment) and
    // processes, then buffers flow.
    OMX_ERRORTYPE eError = m_oOutput.Execute(0);
    if (eError == OMX_ErrorNone)
        eError = m_oOutput.StartBufferProcessing();
    if (m_aabyUnits.empty())
        Encode();
    if (eError == OMX_ErrorNone && !m_bRun.exchange(true))
        m_oThread = std::thread(&CH264TestSource::Produce, this);
    return eError;
}

OMX_ERRORTYPE CH264TestSource::Stop()
{
    m_bRun = false;
    if (m_oThread.joinable())
        m_oThread.join();
    return m_oOutput.GetRemotePort() != nullptr ? m_oOutput.StopBufferProcessing() : OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader)
{
    GiveBack(poHeader);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader)
{
    GiveBack(poHeader);
    return OMX_ErrorNone;
}

void CH264TestSource::GiveBack(OMX_BUFFERHEADERTYPE* poHeader)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.push_back(poHeader);
    m_apoReturned.push_back(poHeader);
}

std::vector<OMX_BUFFERHEADERTYPE*> CH264TestSource::Returned()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_apoReturned;
}

void CH264TestSource::Produce()
{
    timespec oNext;
    clock_gettime(CLOCK_MONOTONIC, &oNext);
    size_t uiUnit = 0;  // the parameter sets, then the pictures round the loop
    while (m_bRun)
    {
        OMX_BUFFERHEADERTYPE* poHeader = nullptr;
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            if (!m_apoFree.empty())
            {
                poHeader = m_apoFree.front();
                m_apoFree.pop_front();
            }
        }
        if (poHeader != nullptr)
        {
            memcpy(poHeader->pBuffer, m_aabyUnits[uiUnit].data(), m_aabyUnits[uiUnit].size());
            poHeader->nOffset = 0;
            poHeader->nFilledLen = static_cast<OMX_U32>(m_aabyUnits[uiUnit].size());
            if (m_oOutput.EmptyThisBuffer(poHeader) != OMX_ErrorNone)
                GiveBack(poHeader);
        }
        // A picture without a free header is skipped; the parameter sets wait for one.
        if (poHeader != nullptr || uiUnit > 0)
            uiUnit = uiUnit % local_iLoopPictures + 1;
        oNext.tv_nsec += 1000000000L / m_oConfig.uiFps;
        oNext.tv_sec += oNext.tv_nsec / 1000000000L;
        oNext.tv_nsec %= 1000000000L;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &oNext, nullptr);
    }
}
