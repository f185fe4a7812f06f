#include "CEncoderTestDriver.h"

#include <chrono>
#include <cstring>
#include <fstream>

#include "EngineTestSupport.h"

namespace
{
const std::chrono::seconds local_oBound(120);

// Reads the structure, lets fnChange change it and writes it back.
template <typename TStruct, typename TChange>
OMX_ERRORTYPE local_Update(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, bool bConfig, TChange fnChange)
{
    TStruct oStruct;
    InitStruct(oStruct, 1);
    OMX_ERRORTYPE eError = bConfig ? OMX_GetConfig(hHandle, eIndex, &oStruct) : OMX_GetParameter(hHandle, eIndex, &oStruct);
    if (eError != OMX_ErrorNone)
        return eError;
    fnChange(oStruct);
    return bConfig ? OMX_SetConfig(hHandle, eIndex, &oStruct) : OMX_SetParameter(hHandle, eIndex, &oStruct);
}
} // namespace

CEncoderTestDriver::CEncoderTestDriver() : m_oClient(PELLIX_ENCODER_NAME)
{
    m_oClient.OnEmptyDone([this](OMX_BUFFERHEADERTYPE* poHeader) { FeedInput(poHeader); });
    m_oClient.OnFillDone([this](OMX_BUFFERHEADERTYPE* poHeader) { TakeOutput(poHeader); });
}

OMX_ERRORTYPE CEncoderTestDriver::Configure(const SEncoderSetup& roSetup)
{
    m_oSetup = roSetup;
    OMX_PARAM_PORTDEFINITIONTYPE oPort = m_oClient.PortDefinition(0);
    oPort.nBufferCountActual = roSetup.uiInputBuffers;
    oPort.format.video.nFrameWidth = roSetup.uiWidth;
    oPort.format.video.nFrameHeight = roSetup.uiHeight;
    oPort.format.video.nStride = static_cast<OMX_S32>(roSetup.uiWidth);
    oPort.format.video.xFramerate = static_cast<OMX_U32>(roSetup.uiFrameRate) << 16;
    oPort.format.video.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
    OMX_ERRORTYPE eError = OMX_SetParameter(Handle(), OMX_IndexParamPortDefinition, &oPort);
    if (eError != OMX_ErrorNone)
        return eError;
    m_uiStride = static_cast<unsigned>(m_oClient.PortDefinition(0).format.video.nStride);
    m_poPattern.reset(new CNv12Pattern(roSetup.uiWidth, roSetup.uiHeight));

    oPort = m_oClient.PortDefinition(1);
    oPort.nBufferCountActual = roSetup.uiOutputBuffers;
    if (roSetup.uiOutputBufferSize != 0)
        oPort.nBufferSize = roSetup.uiOutputBufferSize;
    oPort.format.video.nBitrate = roSetup.uiBitRate;
    eError = OMX_SetParameter(Handle(), OMX_IndexParamPortDefinition, &oPort);
    if (eError == OMX_ErrorNone)
        eError = local_Update<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(
            Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoEncoderPreset), false,
            [&](OMX_VIDEO_PARAM_ENCODER_PRESETTYPE& roPreset) {
                roPreset.eEncodingModePreset = roSetup.eEncodingPreset;
                roPreset.eRateControlPreset = roSetup.eRateControlPreset;
            });
    if (eError == OMX_ErrorNone)
        eError = local_Update<OMX_VIDEO_PARAM_AVCTYPE>(Handle(), OMX_IndexParamVideoAvc, false,
                                                       [&](OMX_VIDEO_PARAM_AVCTYPE& roAvc) {
                                                           roAvc.eProfile = roSetup.eProfile;
                                                           roAvc.eLevel = roSetup.eLevel;
                                                           roAvc.nPFrames = roSetup.uiKeyInterval - 1;
                                                           roAvc.nBFrames = roSetup.uiBFrames;
                                                       });
    if (eError == OMX_ErrorNone && roSetup.bQpLimits)
        eError = local_Update<OMX_VIDEO_PARAM_DYNAMICPARAMS>(
            Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVideoDynamicParams), true,
            [&](OMX_VIDEO_PARAM_DYNAMICPARAMS& roDynamic) {
                IH264ENC_RateControlParams& roRate = roDynamic.videoDynamicParams.rateControlParams;
                roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
                roRate.qpMinI = roRate.qpMinP = roRate.qpMinB = static_cast<OMX_S8>(roSetup.iQpMin);
                roRate.qpMaxI = roRate.qpMaxP = roRate.qpMaxB = static_cast<OMX_S8>(roSetup.iQpMax);
            });
    return eError;
}

OMX_TICKS CEncoderTestDriver::TimeStamp(unsigned uiFrame) const
{
    return static_cast<OMX_TICKS>(uiFrame) * 1000000 / m_oSetup.uiFrameRate;
}

bool CEncoderTestDriver::Start(unsigned uiFrames, bool bOutputs)
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_aoOutputs.clear();
        m_apoHeld.clear();
        m_bEndOfStream = false;
        m_uiFrames = uiFrames;
        m_uiFramesSent = 0;
    }
    m_bRunning = true;
    if (!m_oClient.GoToExecuting() || (bOutputs && !SubmitOutputs()))
        return false;
    for (OMX_BUFFERHEADERTYPE* poHeader : m_oClient.Buffers(0))
        FeedInput(poHeader);
    return true;
}

void CEncoderTestDriver::FeedInput(OMX_BUFFERHEADERTYPE* poHeader)
{
    // One feeder at a time, so that pictures go in in their order.
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (!m_bRunning || m_uiFramesSent >= m_uiFrames)
        return;
    const unsigned uiFrame = m_uiFramesSent++;
    m_poPattern->Render(uiFrame, poHeader->pBuffer, m_uiStride);
    poHeader->nOffset = 0;
    poHeader->nFilledLen = static_cast<OMX_U32>(m_poPattern->FrameBytes(m_uiStride)) - (m_bShortFrames ? 1 : 0);
    poHeader->nTimeStamp = TimeStamp(uiFrame);
    poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (uiFrame + 1 == m_uiFrames ? OMX_BUFFERFLAG_EOS : 0);
    OMX_EmptyThisBuffer(Handle(), poHeader);
}

void CEncoderTestDriver::TakeOutput(OMX_BUFFERHEADERTYPE* poHeader)
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (!m_bRunning)
            return;
        m_aoOutputs.push_back(SEncodedBuffer{
            poHeader->nFlags, poHeader->nTimeStamp,
            std::string(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset), poHeader->nFilledLen)});
        if ((poHeader->nFlags & OMX_BUFFERFLAG_EOS) != 0)
            m_bEndOfStream = true;
        if (m_bHoldOutputs)
            m_apoHeld.push_back(poHeader);
        else
            OMX_FillThisBuffer(Handle(), poHeader);
    }
    m_oChanged.notify_all();
}

void CEncoderTestDriver::ReleaseHeld()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (OMX_BUFFERHEADERTYPE* poHeader : m_apoHeld)
        OMX_FillThisBuffer(Handle(), poHeader);
    m_apoHeld.clear();
}

bool CEncoderTestDriver::WaitEndOfStream()
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, local_oBound, [this] { return m_bEndOfStream; });
}

bool CEncoderTestDriver::WaitOutputs(size_t uiCount)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, local_oBound, [&] { return m_aoOutputs.size() >= uiCount; });
}

bool CEncoderTestDriver::Stop()
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bRunning = false;
        m_apoHeld.clear();
    }
    return m_oClient.GoToLoaded();
}

bool CEncoderTestDriver::Encode(unsigned uiFrames)
{
    const bool bEncoded = Start(uiFrames) && WaitEndOfStream();
    return Stop() && bEncoded;
}

std::vector<SEncodedBuffer> CEncoderTestDriver::Outputs() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_aoOutputs;
}

std::string CEncoderTestDriver::Stream() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    std::string oStream;
    for (const SEncodedBuffer& roBuffer : m_aoOutputs)
        oStream += roBuffer.oData;
    return oStream;
}

bool CEncoderTestDriver::WriteStream(const std::string& roPath) const
{
    std::ofstream oFile(roPath, std::ios::binary);
    oFile << Stream();
    return static_cast<bool>(oFile);
}
