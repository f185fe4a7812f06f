#include "ti-components/CaptureVFCC.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "gst-components/CMutexLockUnlock.h"
#include "ti814x-framework.h"
#include "ti814x-omx.h"

const MSIZE32 CCaptureVFCC::s_oMinFrameSize = {640, 480};
const MSIZE32 CCaptureVFCC::s_oMaxFrameSize = {1920, 1200};

namespace
{
const char* const local_szCaptureName = "OMX.TI.VPSSM3.VFCC";
const char* const local_szControlName = "OMX.TI.VPSSM3.CTRL.TVP";
const unsigned local_uiPollingPeriodSec = 1;
// Input frames 1, 3, ..., 29 of every 30 are skipped: every other frame is kept.
const OMX_U32 local_uiSkipEveryOtherFrame = 0x2AAAAAAA;

bool local_IsSizeAccepted(MUINT32 uiWidth, MUINT32 uiHeight)
{
    return uiWidth >= CCaptureVFCC::s_oMinFrameSize.m_uiCx && uiWidth <= CCaptureVFCC::s_oMaxFrameSize.m_uiCx &&
           uiHeight >= CCaptureVFCC::s_oMinFrameSize.m_uiCy && uiHeight <= CCaptureVFCC::s_oMaxFrameSize.m_uiCy;
}
} // namespace

CCaptureVFCC::CCaptureVFCC()
    : COMXComponent(const_cast<char*>(local_szCaptureName)),
      m_ePixelFormat(OmxPixFmt_YUV422),
      m_bHdmiInput(true),
      m_eFrameRateDiv(CaptureFpsDiv_1),
      m_bVideoDetected(false),
      m_oFrameSize{0, 0},
      m_uiFrameRate(0),
      m_bInterlaced(false),
      m_oPortBufferInfo(),
      m_uiNumberOfBuffer(0),
      m_poVideoModeChangePollingThread(nullptr),
      m_pbPollingThreadReleased(nullptr),
      m_bKillVideoModeChangePollingThread(0),
      m_pfnVideoModeChangedCb(nullptr),
      m_pvVideoModeChangedData(nullptr)
{
    ZEM_INFO(3, "");
    pthread_mutex_init(&m_hDetectionMutex, nullptr);
    pthread_mutex_init(&m_hPollingMutex, nullptr);
    // The polling period is measured on the monotonic clock, so that setting the time of day
    // neither stretches nor shortens it.
    pthread_condattr_t oAttr;
    pthread_condattr_init(&oAttr);
    pthread_condattr_setclock(&oAttr, CLOCK_MONOTONIC);
    pthread_cond_init(&m_hPollingCond, &oAttr);
    pthread_condattr_destroy(&oAttr);
}

CCaptureVFCC::~CCaptureVFCC()
{
    ZEM_INFO(3, "");
    // A polling thread must not outlive the object it polls through.
    KillVideoModeChangePollingThread();
    pthread_cond_destroy(&m_hPollingCond);
    pthread_mutex_destroy(&m_hPollingMutex);
    pthread_mutex_destroy(&m_hDetectionMutex);
}

OMX_ERRORTYPE CCaptureVFCC::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    CMutexLockUnlock oLock(m_hDetectionMutex);

    ZEM_INFO(2, "CCaptureVFCC");
    ZEM_CHECK(COMXComponent::Init());
    if (m_hOMXComponent != nullptr)
    {
        eError = OMX_GetHandle(&m_hOMXCtrl, const_cast<char*>(local_szControlName), this, &oOmxCallback);
        if (eError != OMX_ErrorNone)
        {
            // Without its receiver control the capture is of no use: both go.
            OMX_FreeHandle(m_hOMXComponent);
            m_hOMXComponent = nullptr;
            m_hOMXCtrl = nullptr;
        }
        else
            m_eCtrlState = OMX_StateLoaded;
    }
    ZEM_INFO(1, "(** m_hOMXComponent=%p -- m_hOMXCtrl=%p **)", m_hOMXComponent, m_hOMXCtrl);
    ZEM_CHECK(eError);
    ZEM_CHECK(InitPorts());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CCaptureVFCC::CreatePorts()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oCaptureOutput;
    m_oCaptureOutput.SetPortID(0);
    ZEM_CHECK(EnablePort(0, 1));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CCaptureVFCC::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CCaptureVFCC");
    KillVideoModeChangePollingThread();
    ZEM_CHECK(DeinitPortsAndHandles());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CCaptureVFCC::ConnectTo(CComponent* poSink, unsigned int uiInputIndex)
{
    return CComponent::ConnectTo(0, poSink, uiInputIndex);
}

// ---- Configuration ----------------------------------------------------------------------------

OMX_ERRORTYPE CCaptureVFCC::SetCaptureParam(OmxPixelFormat ePixelFormat, CaptureFpsDiv eFrameRateDiv,
                                            MUINT32 uiNumberOfBuffer, bool bHdmiInput, MUINT32 uiFrameWidth,
                                            MUINT32 uiFrameHeight, MUINT32 uiFrameRate)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_PARAM_CTRL_VIDDECODER_INFO oDecoderInfo;
    MUINT64 uiDivisor = 0;

    if (ePixelFormat != OmxPixFmt_YUV420 && ePixelFormat != OmxPixFmt_YUV422)
        return OMX_ErrorBadParameter;
    // The divisor divides the frame rate: any divisor from 1 on; 0 would divide by zero.
    if (static_cast<int>(eFrameRateDiv) < 1)
        return OMX_ErrorBadParameter;
    if (!local_IsSizeAccepted(uiFrameWidth, uiFrameHeight))
        return OMX_ErrorBadParameter;

    {
        CMutexLockUnlock oLock(m_hDetectionMutex);
        // The given size and rate stand when no signal is detected.
        m_ePixelFormat = ePixelFormat;
        m_eFrameRateDiv = eFrameRateDiv;
        m_oFrameSize.m_uiCx = uiFrameWidth;
        m_oFrameSize.m_uiCy = uiFrameHeight;
        m_uiFrameRate = uiFrameRate;
        m_bHdmiInput = bHdmiInput;
        m_uiNumberOfBuffer = uiNumberOfBuffer;

        if (m_eComponentState != OMX_StateLoaded || m_eCtrlState != OMX_StateLoaded)
            ZEM_FAIL(OMX_ErrorIncorrectStateOperation);

        OmxInitStructure(oDecoderInfo);
        oDecoderInfo.videoStandard = OMX_VIDEO_DECODER_STD_AUTO_DETECT;
        oDecoderInfo.videoDecoderId = OMX_VID_DEC_ADV7611_DRV;
        oDecoderInfo.videoSystemId = OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT;
        ZEM_CHECK(SetOmxCtlParam(OMX_TI_IndexParamCTRLVidDecInfo, &oDecoderInfo));
        ZEM_CHECK(SetHwPortID(true));
        ZEM_CHECK(SetHwPortProperties(true, false, s_oMaxFrameSize.m_uiCx, s_oMaxFrameSize.m_uiCy));
        ZEM_CHECK(DetectInputVideoMode(m_bVideoDetected, m_oFrameSize, m_uiFrameRate, m_bInterlaced));

        // The rate divided by the divisor, rounded half up, never 0.
        uiDivisor = static_cast<MUINT64>(m_eFrameRateDiv);
        m_uiFrameRate =
            static_cast<MUINT32>((2 * static_cast<MUINT64>(m_uiFrameRate) + uiDivisor) / (2 * uiDivisor));
        if (m_uiFrameRate == 0)
            m_uiFrameRate = 1;
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CCaptureVFCC::SetHwPortProperties(bool bOnControl, bool bInterlaced, MUINT32 uiMaxWidth,
                                                MUINT32 uiMaxHeight)
{
    OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
    OmxInitStructure(oProperties);
    oProperties.eCaptMode = OMX_VIDEO_CaptureModeSC_NON_MUX;
    oProperties.eVifMode = OMX_VIDEO_CaptureVifMode_16BIT;
    oProperties.eInColorFormat = OMX_COLOR_FormatYCbYCr;
    oProperties.eScanType = bInterlaced ? OMX_VIDEO_CaptureScanTypeInterlaced : OMX_VIDEO_CaptureScanTypeProgressive;
    oProperties.nMaxWidth = uiMaxWidth;
    oProperties.nMaxHeight = uiMaxHeight;
    oProperties.nMaxChnlsPerHwPort = 1;
    return bOnControl ? SetOmxCtlParam(OMX_TI_IndexParamVFCCHwPortProperties, &oProperties)
                      : SetOmxParam(OMX_TI_IndexParamVFCCHwPortProperties, &oProperties);
}

OMX_ERRORTYPE CCaptureVFCC::SetHwPortID(bool bOnControl)
{
    OMX_PARAM_VFCC_HWPORT_ID oPortId;
    OmxInitStructure(oPortId);
    oPortId.eHwPortId = OMX_VIDEO_CaptureHWPortVIP1_PORTA;
    return bOnControl ? SetOmxCtlParam(OMX_TI_IndexParamVFCCHwPortID, &oPortId)
                      : SetOmxParam(OMX_TI_IndexParamVFCCHwPortID, &oPortId);
}

OMX_ERRORTYPE CCaptureVFCC::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_PARAM_CTRL_COLOR_RANGE oColorRange;
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    OMX_PARAM_BUFFER_MEMORYTYPE oMemoryType;
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oFrameSkip;
    SPortBufferInfo oBufferInfo;

    if (m_eComponentState != OMX_StateLoaded || m_eCtrlState != OMX_StateLoaded)
        ZEM_FAIL(OMX_ErrorIncorrectStateOperation);

    ZEM_CHECK(SetHwPortProperties(true, m_bInterlaced, s_oMaxFrameSize.m_uiCx, s_oMaxFrameSize.m_uiCy));
    OmxInitStructure(oColorRange);
    oColorRange.bFullRange = OMX_TRUE;
    ZEM_CHECK(SetOmxCtlParam(OMX_TI_IndexParamCtrlColorRange, &oColorRange));

    OmxInitStructure(oDefinition);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = m_uiNumberOfBuffer;
    oDefinition.format.video.nFrameWidth = m_oFrameSize.m_uiCx;
    oDefinition.format.video.nFrameHeight = m_oFrameSize.m_uiCy;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(GetPitch(m_oFrameSize.m_uiCx, m_ePixelFormat));
    oDefinition.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
    oDefinition.format.video.eColorFormat = static_cast<OMX_COLOR_FORMATTYPE>(m_ePixelFormat);
    oDefinition.nBufferSize = GetBufferSize(m_oFrameSize, m_ePixelFormat);
    ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));

    // A failure here shows when the wrapper allocates the buffers.
    oBufferInfo.eFormat = static_cast<OMX_COLOR_FORMATTYPE>(m_ePixelFormat);
    oBufferInfo.uiBufferSize = static_cast<MUINT32>(oDefinition.nBufferSize);
    oBufferInfo.uiWidth = m_oFrameSize.m_uiCx;
    oBufferInfo.uiHeight = m_oFrameSize.m_uiCy;
    m_oCaptureOutput.ProvideBuffer(&oBufferInfo, m_uiNumberOfBuffer);

    OmxInitStructure(oMemoryType);
    oMemoryType.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
    ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamBuffMemType, &oMemoryType));
    ZEM_CHECK(SetHwPortID(false));
    ZEM_CHECK(SetHwPortProperties(false, m_bInterlaced, m_oFrameSize.m_uiCx, m_oFrameSize.m_uiCy));

    OmxInitStructure(oFrameSkip);
    oFrameSkip.frameSkipMask = m_eFrameRateDiv == CaptureFpsDiv_2 ? local_uiSkipEveryOtherFrame : 0;
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigVFCCFrameSkip, &oFrameSkip));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

// ---- Life cycle: serialised with the polling thread's detection ---------------------------------

OMX_ERRORTYPE CCaptureVFCC::Execute(MBOOL32 bTestMode)
{
    CMutexLockUnlock oLock(m_hDetectionMutex);
    return COMXComponent::Execute(bTestMode);
}

OMX_ERRORTYPE CCaptureVFCC::Loaded(MUINT uiInputPortId)
{
    CMutexLockUnlock oLock(m_hDetectionMutex);
    return COMXComponent::Loaded(uiInputPortId);
}

OMX_ERRORTYPE CCaptureVFCC::StopBufferProcessing()
{
    CMutexLockUnlock oLock(m_hDetectionMutex);
    return COMXComponent::StopBufferProcessing();
}

// ---- Detection ----------------------------------------------------------------------------------

OMX_ERRORTYPE CCaptureVFCC::GetInputVideoMode(bool& rbVideoDetected, MSIZE32& roFrameSize, MUINT32& ruiFrameRate,
                                              bool& rbInterlaced)
{
    CMutexLockUnlock oLock(m_hDetectionMutex);
    return DetectInputVideoMode(rbVideoDetected, roFrameSize, ruiFrameRate, rbInterlaced);
}

OMX_ERRORTYPE CCaptureVFCC::DetectInputVideoMode(bool& rbVideoDetected, MSIZE32& roFrameSize, MUINT32& ruiFrameRate,
                                                 bool& rbInterlaced)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    bool bBackToLoaded = false;
    OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO oDetect;

    rbVideoDetected = false;
    if (m_hOMXCtrl == nullptr)
        return OMX_ErrorInvalidComponent;
    // The receiver answers in idle or above; a control found loaded goes back there afterwards.
    if (m_eCtrlState == OMX_StateLoaded)
    {
        eError = ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateIdle);
        if (eError != OMX_ErrorNone)
            return eError;
        bBackToLoaded = true;
    }
    else if (m_eCtrlState == OMX_StateInvalid)
        return OMX_ErrorInvalidState;

    OmxInitStructure(oDetect);
    oDetect.uiChannelIndex = 0;
    eError = GetOmxCtlParam(OMX_TI_IndexParamCtrlVidDecDetectVideo, &oDetect);
    // Sizes are judged as reported, so an interlaced signal is judged by its field.
    if (eError == OMX_ErrorNone && oDetect.bIsPresent == OMX_TRUE &&
        local_IsSizeAccepted(static_cast<MUINT32>(oDetect.uiFrameWidth), static_cast<MUINT32>(oDetect.uiFrameHeight)) &&
        oDetect.uiFrameInterval != 0)
    {
        const MUINT64 uiInterval = oDetect.uiFrameInterval;
        rbVideoDetected = true;
        roFrameSize.m_uiCx = static_cast<MUINT32>(oDetect.uiFrameWidth);
        roFrameSize.m_uiCy = static_cast<MUINT32>(oDetect.uiFrameHeight);
        // 1,000,000 / interval, rounded half up.
        ruiFrameRate = static_cast<MUINT32>((uiInterval + 2000000) / (2 * uiInterval));
        rbInterlaced = oDetect.bInterlaced == OMX_TRUE;
        if (rbInterlaced)
        {
            // Field values to frame values.
            roFrameSize.m_uiCy *= 2;
            ruiFrameRate >>= 1;
        }
        if (roFrameSize.m_uiCx == 1918)
        {
            printf("**** Detected 1918x%d! Patched to 1920x%d. *****\n", roFrameSize.m_uiCy, roFrameSize.m_uiCy);
            roFrameSize.m_uiCx = 1920;
        }
        if (roFrameSize.m_uiCy == 1078)
        {
            printf("**** Detected %dx1078! Patched to %dx1080. *****\n", roFrameSize.m_uiCx, roFrameSize.m_uiCx);
            roFrameSize.m_uiCy = 1080;
        }
    }
    if (bBackToLoaded)
        ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateLoaded);
    return eError;
}

// ---- Polling ------------------------------------------------------------------------------------

OMX_ERRORTYPE CCaptureVFCC::SetCallbackVideoModeChanged(VideoModeChangedCallback pCallback, void* pvCallbackData)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    int iResult = 0;

    KillVideoModeChangePollingThread();
    m_pfnVideoModeChangedCb = pCallback;
    m_pvVideoModeChangedData = pvCallbackData;
    if (pCallback == nullptr)
        return OMX_ErrorNone;

    ZEM_INFO(2, "Creating polling thread");
    m_poVideoModeChangePollingThread = new (std::nothrow) pthread_t;
    if (m_poVideoModeChangePollingThread == nullptr)
        ZEM_FAIL(OMX_ErrorInsufficientResources);
    iResult = pthread_create(m_poVideoModeChangePollingThread, nullptr, VideoModeChangePollingThread, this);
    if (iResult != 0)
    {
        ZEM_INFO(0, "ERROR, can't create VideoModeChangePollingThread (%s)", strerror(iResult));
        delete m_poVideoModeChangePollingThread;
        m_poVideoModeChangePollingThread = nullptr;
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

void CCaptureVFCC::KillVideoModeChangePollingThread()
{
    if (m_poVideoModeChangePollingThread == nullptr)
        return;
    if (pthread_equal(pthread_self(), *m_poVideoModeChangePollingThread))
    {
        // The host's callback, on the polling thread, stops the polling (it installs another
        // callback, or stops the whole graph): the thread cannot join itself. It is released
        // instead and ends as soon as the callback returns, without touching this component again,
        // which the callback may have deinitialised or destroyed by then.
        *m_pbPollingThreadReleased = true;
        pthread_detach(*m_poVideoModeChangePollingThread);
    }
    else
    {
        pthread_mutex_lock(&m_hPollingMutex);
        m_bKillVideoModeChangePollingThread = 1;
        pthread_cond_broadcast(&m_hPollingCond);
        pthread_mutex_unlock(&m_hPollingMutex);
        if (pthread_join(*m_poVideoModeChangePollingThread, nullptr) != 0)
            ZEM_INFO(0, "ERROR, can't stop VideoCaptureModeChangePollingThread");
        m_bKillVideoModeChangePollingThread = 0;
    }
    m_pbPollingThreadReleased = nullptr;
    ZEM_INFO(1, "Video mode change polling thread stopped");
    delete m_poVideoModeChangePollingThread;
    m_poVideoModeChangePollingThread = nullptr;
}

bool CCaptureVFCC::WaitPollingPeriod()
{
    timespec oDeadline;
    clock_gettime(CLOCK_MONOTONIC, &oDeadline);
    oDeadline.tv_sec += local_uiPollingPeriodSec;
    pthread_mutex_lock(&m_hPollingMutex);
    while (!m_bKillVideoModeChangePollingThread)
    {
        if (pthread_cond_timedwait(&m_hPollingCond, &m_hPollingMutex, &oDeadline) == ETIMEDOUT)
            break;
    }
    const bool bGoOn = !m_bKillVideoModeChangePollingThread;
    pthread_mutex_unlock(&m_hPollingMutex);
    return bGoOn;
}

void* CCaptureVFCC::VideoModeChangePollingThread(void* pvComponent)
{
    CCaptureVFCC* poCapture = static_cast<CCaptureVFCC*>(pvComponent);
    bool bDetected = false;
    MSIZE32 oFrameSize = {0, 0};
    MUINT32 uiFrameRate = 0;
    bool bInterlaced = false;
    // Set by KillVideoModeChangePollingThread when the host's callback stops the polling.
    bool bReleased = false;

    ZEM_INFO(2, "Created");
    {
        // The mode the control thread detected last is the one changes are measured against.
        CMutexLockUnlock oLock(poCapture->m_hDetectionMutex);
        poCapture->m_pbPollingThreadReleased = &bReleased;
        bDetected = poCapture->m_bVideoDetected;
        oFrameSize = poCapture->m_oFrameSize;
        uiFrameRate = poCapture->m_uiFrameRate;
        bInterlaced = poCapture->m_bInterlaced;
    }
    while (poCapture->WaitPollingPeriod())
    {
        bool bNowDetected = bDetected;
        MSIZE32 oNowFrameSize = oFrameSize;
        MUINT32 uiNowFrameRate = uiFrameRate;
        bool bNowInterlaced = bInterlaced;

        ZEM_INFO(2, "Polling...");
        poCapture->GetInputVideoMode(bNowDetected, oNowFrameSize, uiNowFrameRate, bNowInterlaced);
        // The frame rate alone is never a change.
        const bool bChanged = bNowDetected != bDetected ||
                              (bNowDetected && (oNowFrameSize.m_uiCx != oFrameSize.m_uiCx ||
                                                oNowFrameSize.m_uiCy != oFrameSize.m_uiCy ||
                                                bNowInterlaced != bInterlaced));
        if (!bChanged)
            continue;
        ZEM_INFO(2, "Video mode changed, notifying application");
        bDetected = bNowDetected;
        oFrameSize = oNowFrameSize;
        uiFrameRate = uiNowFrameRate;
        bInterlaced = bNowInterlaced;
        if (poCapture->m_pfnVideoModeChangedCb != nullptr)
        {
            poCapture->m_pfnVideoModeChangedCb(bDetected ? 1 : 0, oFrameSize.m_uiCx, oFrameSize.m_uiCy, uiFrameRate,
                                               bInterlaced ? 1 : 0, poCapture->m_pvVideoModeChangedData);
            if (bReleased)
                return nullptr;
        }
    }
    return nullptr;
}
