#include "test-units/PellixServerTest/PellixServerTestEntry.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "ti814x-framework.h"

tagGStreamerEncodeServer* g_poServer = nullptr;
MBOOL g_bAudioOn = false;
MBOOL g_bAudioPlaybackOn = false;
VideoModeChangedCallback g_pfnCallbackVideoModeChanged = nullptr;

namespace
{
// The media's path, and what is added to it when the audio stream is served too.
const char* const g_szServerPathForm = "/Video%ux%u@%ufps";
const char* const g_szServerPathAudio = "_audio";
} // namespace

void PellixerTest_Open()
{
    SetInfoMessageLevel(2);
    g_poServer = nullptr;
    g_bAudioOn = false;
    g_bAudioPlaybackOn = false;
    g_pfnCallbackVideoModeChanged = nullptr;
}

void PellixerTest_Close()
{
}

void ActivateAudioServer(MBOOL bActivate)
{
    g_bAudioOn = bActivate;
}

void ActivateAudioServerPlayback(MBOOL bActivated)
{
    g_bAudioPlaybackOn = bActivated;
}

void SetVideoModeChangeCallback(VideoModeChangedCallback pfnCallback)
{
    g_pfnCallbackVideoModeChanged = pfnCallback;
}

// ---- Records ------------------------------------------------------------------------------

bool IsStreaming()
{
    if (g_poServer == nullptr)
        return false;
    CComponent& roHead = g_poServer->m_bCapture ? static_cast<CComponent&>(g_poServer->m_oCapture)
                                                : static_cast<CComponent&>(g_poServer->m_oDefaultSource);
    return roHead.IsBufferProcessing() == 1;
}

bool SetEncoderPlaybackVolume(MUINT uiPercent)
{
    OMX_ERRORTYPE eError = OMX_ErrorUndefined;
    if (g_poServer != nullptr && g_poServer->m_poAudio != nullptr)
        eError = g_poServer->m_poAudio->m_oALSAAudioCapture.SetPlaybackVolume(static_cast<int>(uiPercent));
    if (eError == OMX_ErrorNone)
        return true;
    ZEM_INFO(0, "Error: %s", CComponent::ErrorToStr(eError));
    return false;
}

// ---- Graph set-up and teardown ------------------------------------------------------------

OMX_ERRORTYPE InitComponents()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    // A second call while a record exists would lose the first one with its platform handles.
    if (g_poServer != nullptr)
        ZEM_FAIL(OMX_ErrorInvalidState);
    g_poServer = new (std::nothrow) GStreamerEncodeServer();
    if (g_poServer == nullptr)
        ZEM_FAIL(OMX_ErrorInsufficientResources);

    ZEM_CHECK(g_poServer->m_oRTSPServer.Init());
    ZEM_CHECK(g_poServer->m_oRTSPVideoServerComponent.Init());
    ZEM_CHECK(g_poServer->m_oDefaultSource.Init());
    ZEM_CHECK(g_poServer->m_oCapture.Init());
    ZEM_CHECK(g_poServer->m_oDei.Init());
    ZEM_CHECK(g_poServer->m_oDisplay.Init());
    ZEM_CHECK(g_poServer->m_oEncoder.Init());

    if (g_bAudioOn)
    {
        g_poServer->m_poAudio = new (std::nothrow) PellixAudioServer();
        if (g_poServer->m_poAudio == nullptr)
            ZEM_FAIL(OMX_ErrorInsufficientResources);
        ZEM_CHECK(g_poServer->m_poAudio->m_oRTSPAudioServerComponent.Init());
        ZEM_CHECK(g_poServer->m_poAudio->m_oALSAAudioCapture.Init());
        ZEM_CHECK(g_poServer->m_poAudio->m_oDSPAudioEncoder.Init());
    }
    else
        g_poServer->m_poAudio = nullptr;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

namespace
{
// The teardown of DeinitComponents; ruiFailures counts the components whose Deinit failed.
OMX_ERRORTYPE DeinitComponents(MUINT32& ruiFailures)
{
// One component's Deinit: a failure is reported here and the teardown goes on.
#define LOCAL_DEINIT(roComponent, szFailureFormat)                                             \
    do                                                                                         \
    {                                                                                          \
        const OMX_ERRORTYPE eDeinitError = (roComponent).Deinit();                             \
        if (eDeinitError != OMX_ErrorNone)                                                     \
        {                                                                                      \
            ZEM_INFO(0, szFailureFormat, CComponent::ErrorToStr(eDeinitError));                \
            ++ruiFailures;                                                                     \
        }                                                                                      \
    } while (0)

// A wrapper of platform components keeps a handle the platform refused to free for a second
// Deinit: it gets it at once, since the record is destroyed next and a component left alive
// would call into it.
#define LOCAL_DEINIT_WRAPPER(roComponent, szFailureFormat)                                     \
    do                                                                                         \
    {                                                                                          \
        const MUINT32 uiFailuresBefore = ruiFailures;                                          \
        LOCAL_DEINIT(roComponent, szFailureFormat);                                            \
        if (ruiFailures != uiFailuresBefore)                                                   \
            LOCAL_DEINIT(roComponent, szFailureFormat);                                        \
    } while (0)

    ruiFailures = 0;
    if (g_poServer == nullptr)
        return OMX_ErrorNone;

    if (g_poServer->m_poAudio != nullptr)
    {
        PellixAudioServer* const poAudio = g_poServer->m_poAudio;
        ZEM_INFO(2, "Deinitializing audio components");
        LOCAL_DEINIT_WRAPPER(poAudio->m_oDSPAudioEncoder, "Error while deinitializing DSPAudioEncoder: %s");
        LOCAL_DEINIT(poAudio->m_oALSAAudioCapture, "Error while deinitializing ALSAAudioCapture: %s");
        LOCAL_DEINIT(poAudio->m_oRTSPAudioServerComponent, "Error while deinitializing RTSPAudioServerComponent: %s");
        ZEM_INFO(0, "Deleting audio components");
        delete poAudio;
        g_poServer->m_poAudio = nullptr;
    }

    ZEM_INFO(2, "Deinitializing video components");
    LOCAL_DEINIT_WRAPPER(g_poServer->m_oEncoder, "Error while deinitializing EncoderVIDENC: %s");
    LOCAL_DEINIT_WRAPPER(g_poServer->m_oDisplay, "Error while deinitializing DisplayVFDC: %s");
    LOCAL_DEINIT_WRAPPER(g_poServer->m_oDei, "Error while deinitializing DEIMDualOutputVFPC: %s");
    LOCAL_DEINIT_WRAPPER(g_poServer->m_oCapture, "Error while deinitializing CaptureVFCC: %s");
    LOCAL_DEINIT(g_poServer->m_oDefaultSource, "Error while deinitializing default source: %s");
    LOCAL_DEINIT(g_poServer->m_oRTSPVideoServerComponent, "Error while deinitializing RTSPVideoServerComponent: %s");
    LOCAL_DEINIT(g_poServer->m_oRTSPServer, "Error while deinitializing GStreamerRTSPServer: %s");
#undef LOCAL_DEINIT
#undef LOCAL_DEINIT_WRAPPER

    ZEM_INFO(2, "Deleting video elements");
    delete g_poServer;
    g_poServer = nullptr;
    return OMX_ErrorNone;
}
} // namespace

OMX_ERRORTYPE DeinitComponents()
{
    MUINT32 uiFailures = 0;
    return DeinitComponents(uiFailures);
}

// ---- Streaming start and stop ---------------------------------------------------------------

bool StartStreaming(int iBitRate, int iAddressLength, char* pszAddress)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    MSIZE32 oCaptureSize = {0, 0};
    MSIZE32 oEncodeSize = {0, 0};
    MSIZE32 oDisplaySize = {0, 0};
    MRECT32 oDisplayRect = {{0, 0}, {0, 0}};
    EncodingParam oEncParam = {};
    char szPort[41] = {0};
    char szAddress[128] = {0};
    CComponent* poHead = nullptr;

    if (g_poServer != nullptr)
    {
        ZEM_INFO(0, "PellixServer already started.");
        return true;
    }
    if (pszAddress == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);

    ZEM_CHECK(InitComponents());
    {
        GStreamerEncodeServer& roServer = *g_poServer;
        CCaptureVFCC& roCapture = roServer.m_oCapture;

        ZEM_CHECK(roCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 6, true, 1920, 1080, 60));
        roServer.m_bCapture = roCapture.IsVideoDetected();
        if (roServer.m_bCapture)
        {
            printf("Capture video mode: %dx%d@%dfps, %s.\n", roCapture.GetFrameSize().m_uiCx,
                   roCapture.GetFrameSize().m_uiCy, roCapture.GetFrameRate(),
                   roCapture.IsInterlaced() ? "Interlaced" : "Progressive");
            if (roCapture.GetFrameRate() > 60)
            {
                puts("Cannot capture over 60 fps!");
                ZEM_FAIL(OMX_ErrorNone);
            }
        }
        else
        {
            puts("Cannot capture video: Put default bitmap.");
            roServer.m_oDefaultSource.SetFrameSize(1024, 768);
        }

        if (g_pfnCallbackVideoModeChanged != nullptr)
            roCapture.SetCallbackVideoModeChanged(g_pfnCallbackVideoModeChanged, nullptr);

        CDisplayVFDC& roDisplay = roServer.m_oDisplay;
        ZEM_CHECK(roDisplay.SetVideoOutParams(true, 1920, 1080, false, 60, 148500, 88, 148, 44, 4, 36, 5));
        printf("Monitor: \"%s\", %dx%d@%dHz\n", roDisplay.GetMonitorName(), roDisplay.GetDisplayWidth(),
               roDisplay.GetDisplayHeight(), roDisplay.GetDisplayFrequency());

        oCaptureSize = roServer.m_bCapture ? roCapture.GetFrameSize() : roServer.m_oDefaultSource.GetFrameSize();
        oEncodeSize = oCaptureSize;
        oDisplaySize.m_uiCx = roDisplay.GetDisplayWidth();
        oDisplaySize.m_uiCy = roDisplay.GetDisplayHeight();
        if (!FitRectangle(oEncodeSize, oDisplaySize, true, true, oDisplayRect))
            ZEM_FAIL(OMX_ErrorNone);

        ZEM_CHECK(roDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, oDisplayRect));
        ZEM_CHECK(roServer.m_oDei.SetDeiParams(oCaptureSize, oDisplayRect.m_oSize, oEncodeSize, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV422, OmxPixFmt_YUV420,
                                               roServer.m_bCapture ? roCapture.IsInterlaced() : false, 6, 6, 8,
                                               !roServer.m_bCapture));

        oEncParam.m_oFrameSize = oEncodeSize;
        oEncParam.m_ePixelFormat = OmxPixFmt_YUV420;
        oEncParam.m_uiFrameRate = roServer.m_bCapture ? roCapture.GetFrameRate() : 60;
        oEncParam.m_uiTargetBitRate = static_cast<unsigned>(iBitRate);
        oEncParam.m_eEncodingPreset = EncPre_BetterQuality;
        oEncParam.m_oGop.m_uiIFrameInterval = 90;
        oEncParam.m_oGop.m_uiPFrameInterval = 1;
        oEncParam.m_oRateCtl.m_bEnable = false;
        ZEM_CHECK(roServer.m_oEncoder.SetEncoderParams(oEncParam, 8, 8));

        if (roServer.m_bCapture)
            ZEM_CHECK(roCapture.ConnectTo(&roServer.m_oDei, 0));
        else
            ZEM_CHECK(roServer.m_oDefaultSource.CComponent::ConnectTo(0, &roServer.m_oDei, 0));
        ZEM_CHECK(roServer.m_oDei.ConnectPrimaryTo(&roDisplay, 0));
        ZEM_CHECK(roServer.m_oDei.ConnectSecondaryTo(&roServer.m_oEncoder, 0));
        ZEM_CHECK(roServer.m_oEncoder.ConnectTo(&roServer.m_oRTSPVideoServerComponent, 0));

        PellixAudioServer* const poAudio = roServer.m_poAudio;
        if (poAudio != nullptr)
        {
            ZEM_CHECK(poAudio->m_oALSAAudioCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz,
                                                                    NumChannels_Two));
            ZEM_CHECK(poAudio->m_oALSAAudioCapture.ConnectTo(&poAudio->m_oDSPAudioEncoder, 0));
            ZEM_CHECK(poAudio->m_oDSPAudioEncoder.ConnectTo(&poAudio->m_oRTSPAudioServerComponent, 0));
        }

        ZEM_INFO(2, "start capture");
        poHead = roServer.m_bCapture ? static_cast<CComponent*>(&roCapture)
                                     : static_cast<CComponent*>(&roServer.m_oDefaultSource);
        ZEM_CHECK(poHead->Start());
        if (poAudio != nullptr)
            ZEM_CHECK(poAudio->m_oALSAAudioCapture.Start());

        ZEM_INFO(2, "adding component");
        if (poAudio != nullptr)
            ZEM_CHECK(roServer.m_oRTSPServer.AddStreamingComponent(&poAudio->m_oRTSPAudioServerComponent));
        ZEM_CHECK(roServer.m_oRTSPServer.AddStreamingComponent(&roServer.m_oRTSPVideoServerComponent));

        snprintf(szPort, 40, g_szServerPathForm, oEncodeSize.m_uiCx, oEncodeSize.m_uiCy, oEncParam.m_uiFrameRate);
        if (poAudio != nullptr)
            strncat(szPort, g_szServerPathAudio, 39 - strlen(szPort));
        ZEM_CHECK(roServer.m_oRTSPServer.SetPortInfo(szPort, 8554));

        ZEM_INFO(2, "StartServing");
        ZEM_CHECK(roServer.m_oRTSPServer.StartServing(false));

        if (!roServer.m_oRTSPServer.GetServerAddress(szAddress, sizeof(szAddress)))
            ZEM_FAIL(OMX_ErrorNone);
        if (iAddressLength <= 0 || strlen(szAddress) >= static_cast<size_t>(iAddressLength))
            ZEM_FAIL(OMX_ErrorNone);
        memcpy(pszAddress, szAddress, strlen(szAddress) + 1);
    }
    return true;

Zem_Abort:
    ZEM_ABORT_RECORD();
    StopStreaming();
    return false;
}

bool StopStreaming()
{
    OMX_ERRORTYPE eServerResult = OMX_ErrorNone;
    OMX_ERRORTYPE eAudioResult = OMX_ErrorNone;
    OMX_ERRORTYPE eVideoResult = OMX_ErrorNone;

    if (g_poServer == nullptr)
        return true;

    ZEM_INFO(2, "Stopping RTSP server");
    eServerResult = g_poServer->m_oRTSPServer.StopServing();

    ZEM_INFO(2, "Stopping audio capture");
    if (g_poServer->m_poAudio != nullptr)
    {
        ZEM_INFO(1, "Stopping audio capture");
        eAudioResult = g_poServer->m_poAudio->m_oALSAAudioCapture.Stop();
    }

    ZEM_INFO(2, "Stopping video capture");
    if (g_poServer->m_bCapture)
        eVideoResult = g_poServer->m_oCapture.Stop();
    else
        eVideoResult = g_poServer->m_oDefaultSource.Stop();

    // A component that could not be released is a failed stop too.
    MUINT32 uiDeinitFailures = 0;
    DeinitComponents(uiDeinitFailures);
    return eServerResult == OMX_ErrorNone && eAudioResult == OMX_ErrorNone && eVideoResult == OMX_ErrorNone &&
           uiDeinitFailures == 0;
}

// Load-time initialisers and unload-time finalisers: PellixerTest_Open then OmxFramework_Open
// when the library is loaded (so the message level is 0 before the host calls anything), and
// OmxFramework_Close then PellixerTest_Close when it is unloaded.
namespace
{
__attribute__((constructor)) void local_OnLibraryLoad()
{
    PellixerTest_Open();
    OmxFramework_Open();
}

__attribute__((destructor)) void local_OnLibraryUnload()
{
    OmxFramework_Close();
    PellixerTest_Close();
}
} // namespace
