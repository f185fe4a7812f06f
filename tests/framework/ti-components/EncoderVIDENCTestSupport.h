// What the encoder wrapper's tests share: a source of the NV12 test pattern on the platform
// engine with its wrapper, which provides the frame buffers as the deinterlacer does in the
// system; a sink that keeps every byte and buffer the encoder hands on; OpenMAX structure set-up
// and the fixture that registers the source and checks that every handle goes back.
#ifndef ENCODER_VIDENC_TEST_SUPPORT_H
#define ENCODER_VIDENC_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Core.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CNv12Pattern.h"
#include "Eventually.h"
#include "CPlatformComponent.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "base-components/CSinkComponent.h"
#include "base-components/OMXClassPort.h"
#include "ti-components/EncoderVIDENC.h"
#include "ti814x-framework.h"
#include "ti814x-omx.h"

#define ENCODER_NAME "OMX.TI.DUCATI.VIDENC"
#define PATTERN_SOURCE_NAME "OMX.Pellix.Test.Nv12Pattern"

template <typename TStruct>
void InitOmxStruct(TStruct& roStruct, OMX_U32 nPort)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
    roStruct.nPortIndex = nPort;
}

// Output port 0: NV12 frames of the port's size showing the moving test pattern, as fast as
// buffers come back. Each move to Executing starts again at frame 0 and makes s_uiFrameLimit
// frames, the last flagged OMX_BUFFERFLAG_EOS; frame n is stamped n seconds / frame rate, in
// microseconds.
class CNv12PatternSource : public CPlatformComponent
{
public:
    inline static std::atomic<unsigned> s_uiFrameLimit{0};

    explicit CNv12PatternSource(const char* szName) : CPlatformComponent(szName)
    {
        CPlatformPort& roPort = AddPort(0, OMX_DirOutput, OMX_PortDomainVideo);
        roPort.SetBufferRequirements(1, 4, 64 * 64 * 3 / 2);
        OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
        roVideo.nFrameWidth = 64;
        roVideo.nFrameHeight = 64;
        roVideo.nStride = 64;
        roVideo.nSliceHeight = 64;
        roVideo.xFramerate = 60u << 16;
        roVideo.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
    }

    static OMX_TICKS TimeStamp(uint64_t uiFrame, OMX_U32 xFramerate)
    {
        return static_cast<OMX_TICKS>(uiFrame * 1000000 * 65536 / xFramerate);
    }

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override
    {
        if (eFrom != OMX_StateIdle || eTo != OMX_StateExecuting || !ReadPortDefinition(0, m_oDefinition))
            return OMX_ErrorNone;
        const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = m_oDefinition.format.video;
        if (!m_poPattern || m_poPattern->Width() != roVideo.nFrameWidth || m_poPattern->Height() != roVideo.nFrameHeight)
            m_poPattern.reset(new CNv12Pattern(roVideo.nFrameWidth, roVideo.nFrameHeight));
        m_uiFrame = 0;
        m_uiLimit = s_uiFrameLimit;
        return OMX_ErrorNone;
    }

    void OnProcess() override
    {
        const unsigned uiStride = static_cast<unsigned>(m_oDefinition.format.video.nStride);
        while (m_uiFrame < m_uiLimit)
        {
            OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0);
            if (poHeader == nullptr)
                return;
            m_poPattern->Render(m_uiFrame, poHeader->pBuffer, uiStride);
            poHeader->nOffset = 0;
            poHeader->nFilledLen = static_cast<OMX_U32>(m_poPattern->FrameBytes(uiStride));
            poHeader->nTimeStamp = TimeStamp(m_uiFrame, m_oDefinition.format.video.xFramerate);
            poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (m_uiFrame + 1 == m_uiLimit ? OMX_BUFFERFLAG_EOS : 0);
            ++m_uiFrame;
            Count(PellixCounter_FramesProduced);
            ReturnBuffer(poHeader);
        }
    }

private:
    // The component thread's own.
    OMX_PARAM_PORTDEFINITIONTYPE m_oDefinition{};
    std::unique_ptr<CNv12Pattern> m_poPattern;
    unsigned m_uiFrame = 0;
    unsigned m_uiLimit = 0;
};

// The wrapper of the pattern source: one output, which provides its buffers.
class CPatternSourceWrapper : public COMXComponent
{
public:
    CPatternSourceWrapper() : COMXComponent(const_cast<char*>(PATTERN_SOURCE_NAME)) {}

    void SetFormat(MUINT32 uiWidth, MUINT32 uiHeight, MUINT32 uiFrameRate, MUINT32 uiBuffers)
    {
        m_uiWidth = uiWidth;
        m_uiHeight = uiHeight;
        m_uiFrameRate = uiFrameRate;
        m_uiBuffers = uiBuffers;
    }

    OMX_ERRORTYPE Init() override
    {
        OMX_ERRORTYPE eError = COMXComponent::Init();
        return eError == OMX_ErrorNone ? InitPorts() : eError;
    }
    OMX_ERRORTYPE Deinit() override
    {
        OMX_ERRORTYPE eError = m_oOutput.Deinit();
        return eError == OMX_ErrorNone ? COMXComponent::Deinit() : eError;
    }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiOutputPortCount = 1;
        m_poOutputPort = &m_oOutput;
        m_oOutput.SetPortID(0);
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE SetParameters() override
    {
        OMX_PARAM_PORTDEFINITIONTYPE oPort;
        InitOmxStruct(oPort, 0);
        OMX_ERRORTYPE eError = GetOmxParam(OMX_IndexParamPortDefinition, &oPort);
        if (eError != OMX_ErrorNone)
            return eError;
        const MUINT32 uiSize = m_uiWidth * m_uiHeight * 3 / 2;
        oPort.nBufferCountActual = m_uiBuffers;
        oPort.nBufferSize = uiSize;
        oPort.format.video.nFrameWidth = m_uiWidth;
        oPort.format.video.nFrameHeight = m_uiHeight;
        oPort.format.video.nStride = static_cast<OMX_S32>(m_uiWidth);
        oPort.format.video.nSliceHeight = m_uiHeight;
        oPort.format.video.xFramerate = static_cast<OMX_U32>(m_uiFrameRate) << 16;
        eError = SetOmxParam(OMX_IndexParamPortDefinition, &oPort);
        if (eError != OMX_ErrorNone)
            return eError;
        SPortBufferInfo oInfo = {OMX_COLOR_FormatYUV420SemiPlanar, uiSize, m_uiWidth, m_uiHeight};
        return m_oOutput.ProvideBuffer(&oInfo, m_uiBuffers);
    }

private:
    CSourcePort m_oOutput;
    MUINT32 m_uiWidth = 64;
    MUINT32 m_uiHeight = 64;
    MUINT32 m_uiFrameRate = 60;
    MUINT32 m_uiBuffers = 4;
};

// One buffer the sink received.
struct SReceived
{
    OMX_U32 nFlags;
    OMX_TICKS nTimeStamp;
    size_t uiOffset;  // of its bytes in the stream
    size_t uiSize;
};

// Keeps every byte the encoder hands on, in order, as an H.264 elementary stream, with a record
// of each buffer; gives each buffer straight back.
class CStreamSink : public CSinkComponent
{
public:
    CStreamSink() { m_oStream.reserve(32u << 20); }

    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_aoReceived.push_back(
                SReceived{poHeader->nFlags, poHeader->nTimeStamp, m_oStream.size(), poHeader->nFilledLen});
            m_oStream.append(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset),
                             poHeader->nFilledLen);
            m_bEndOfStream = m_bEndOfStream || (poHeader->nFlags & OMX_BUFFERFLAG_EOS) != 0;
        }
        m_oChanged.notify_all();
        return CSinkComponent::EmptyThisBuffer(poHeader);
    }

    bool WaitEndOfStream(std::chrono::seconds oBound = std::chrono::seconds(240))
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        return m_oChanged.wait_for(oLock, oBound, [this] { return m_bEndOfStream; });
    }

    void Clear()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_aoReceived.clear();
        m_oStream.clear();
        m_bEndOfStream = false;
    }

    std::vector<SReceived> Received()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoReceived;
    }

    std::string Stream()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_oStream;
    }

private:
    std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    std::vector<SReceived> m_aoReceived;
    std::string m_oStream;
    bool m_bEndOfStream = false;
};

// Registers the pattern source; quiet log, nothing armed; every handle given back at the end.
class EncoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(OMX_ErrorNone,
                  PellixPlatform_RegisterComponent(PATTERN_SOURCE_NAME, &PellixCreateComponent<CNv12PatternSource>));
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        m_uiLiveBefore = PellixPlatform_LiveHandleCount();
    }

    void TearDown() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    }

    // The system's record: YUV 4:2:0, better quality, an I frame every 90, no B frames, no
    // quantiser limits.
    static EncodingParam SystemRecord(MUINT32 uiWidth, MUINT32 uiHeight, MUINT32 uiBitRate)
    {
        EncodingParam oParam;
        memset(&oParam, 0, sizeof(oParam));
        oParam.m_oFrameSize = {uiWidth, uiHeight};
        oParam.m_ePixelFormat = OmxPixFmt_YUV420;
        oParam.m_uiFrameRate = 60;
        oParam.m_uiTargetBitRate = uiBitRate;
        oParam.m_eEncodingPreset = EncPre_BetterQuality;
        oParam.m_oGop.m_uiIFrameInterval = 90;
        oParam.m_oGop.m_uiPFrameInterval = 1;
        return oParam;
    }

    unsigned m_uiLiveBefore = 0;
};

#endif // ENCODER_VIDENC_TEST_SUPPORT_H
