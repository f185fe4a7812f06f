#include "CMediaSource.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstbasesink.h>
#include <gst/video/video.h>

#include <chrono>
#include <cmath>

namespace
{
// The application message of a failure found on a streaming thread; its field "reason".
const char* const local_szFailure = "pellix-failure";
const char* const local_szEnded = "ended";
const char* const local_szDecoderName = "pellix_decoder";
const char* const local_szAudioCaps = "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2";

// The reason of an error message: its text, and the last line of its details (which names the
// file or the device) when there is one.
std::string local_ErrorText(const GError* poError, const gchar* szDebug)
{
    std::string oText = poError != nullptr ? poError->message : "unknown error";
    if (szDebug != nullptr)
    {
        const std::string oDebug = szDebug;
        const size_t uiLine = oDebug.find_last_of('\n');
        if (uiLine != std::string::npos && uiLine + 1 < oDebug.size())
            oText += " (" + oDebug.substr(uiLine + 1) + ")";
    }
    return oText;
}

void local_PostFailure(GstElement* poFrom, const std::string& roReason)
{
    GstStructure* poReason = gst_structure_new(local_szFailure, "reason", G_TYPE_STRING, roReason.c_str(), nullptr);
    gst_element_post_message(poFrom, gst_message_new_application(GST_OBJECT(poFrom), poReason));
}

// Adds the elements to the pipeline, links them in order from poPad on, and brings them to the
// pipeline's state; false (and a failure posted) when one is missing or does not link.
bool local_AddBranch(GstElement* poDecoder, GstPad* poPad, GstElement* const* apoElements, unsigned uiCount)
{
    for (unsigned ui = 0; ui < uiCount; ++ui)
    {
        if (apoElements[ui] != nullptr)
            continue;
        for (unsigned uj = 0; uj < uiCount; ++uj)
            if (apoElements[uj] != nullptr)
                gst_object_unref(gst_object_ref_sink(apoElements[uj]));
        local_PostFailure(poDecoder, "a GStreamer element is missing (videoconvert, videoscale, audioconvert, "
                                     "audioresample, appsink: gstreamer1.0-plugins-base)");
        return false;
    }
    GstElement* poPipeline = GST_ELEMENT(gst_element_get_parent(poDecoder));
    for (unsigned ui = 0; ui < uiCount; ++ui)
        gst_bin_add(GST_BIN(poPipeline), apoElements[ui]);
    gst_object_unref(poPipeline);
    bool bLinked = true;
    for (unsigned ui = 0; ui + 1 < uiCount && bLinked; ++ui)
        bLinked = gst_element_link(apoElements[ui], apoElements[ui + 1]);
    for (unsigned ui = uiCount; ui-- > 0;)
        gst_element_sync_state_with_parent(apoElements[ui]);
    GstPad* poSinkPad = gst_element_get_static_pad(apoElements[0], "sink");
    bLinked = bLinked && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(poPad, poSinkPad));
    gst_object_unref(poSinkPad);
    if (!bLinked)
        local_PostFailure(poDecoder, "its decoded stream does not link");
    return bLinked;
}

const char* local_GstFormat(OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYUV420SemiPlanar ? "NV12" : "YUY2";
}

unsigned local_Round(double dValue)
{
    return static_cast<unsigned>(std::lround(dValue));
}
} // namespace

std::string CMediaSource::Quote(const std::string& roText)
{
    std::string oQuoted = "\"";
    for (const char c : roText)
    {
        if (c == '"' || c == '\\')
            oQuoted += '\\';
        oQuoted += c;
    }
    return oQuoted + "\"";
}

std::string CMediaSource::Describe(EInputKind eKind, const std::string& roLocation)
{
    switch (eKind)
    {
    case InputKind_File:
        return "filesrc location=" + Quote(roLocation);
    case InputKind_V4l2:
        return "v4l2src device=" + Quote(roLocation);
    default:
        return roLocation;
    }
}

CMediaSource::CMediaSource(EInputKind eKind, const std::string& roLocation, void* pvContext,
                           PfnSignalled pfnSignalled)
    : m_eKind(eKind),
      m_oLocation(roLocation),
      m_pvContext(pvContext),
      m_pfnSignalled(pfnSignalled),
      m_bQuit(false),
      m_eOpenState(OpenState_Waiting),
      m_oSignal(),
      m_bHasAudio(false),
      m_uiPictureWidth(0),
      m_uiPictureHeight(0),
      m_ePictureFormat(OMX_COLOR_FormatYCbYCr),
      m_poPipeline(nullptr),
      m_poVideoFilter(nullptr),
      m_poVideoSink(nullptr),
      m_pvConsumer(nullptr),
      m_pfnConsumer(nullptr),
      m_bPrerolled(false)
{
}

CMediaSource::~CMediaSource()
{
    Close();
}

// ---- Open and close ------------------------------------------------------------------------

bool CMediaSource::Open(std::string& roMessage)
{
    GError* poError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &poError))
    {
        roMessage = std::string("GStreamer does not start: ") + (poError != nullptr ? poError->message : "");
        g_clear_error(&poError);
        return false;
    }
    m_oThread = std::thread(&CMediaSource::SourceThread, this);

    std::unique_lock<std::mutex> oLock(m_oMutex);
    m_oWake.wait_for(oLock, std::chrono::milliseconds(s_uiOpenTimeoutMs),
                     [this]() { return m_eOpenState != OpenState_Waiting; });
    if (m_eOpenState == OpenState_Failed)
    {
        roMessage = m_oOpenMessage;
        oLock.unlock();
        Close();
        return false;
    }
    if (m_eOpenState == OpenState_Waiting)
    {
        // A live source may take its time; until its first picture there is no signal.
        m_eOpenState = OpenState_Ready;
        m_oMessage = "no picture yet";
    }
    roMessage = m_oMessage;
    return true;
}

void CMediaSource::Close()
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bQuit = true;
    }
    m_oWake.notify_all();
    if (m_oThread.joinable())
        m_oThread.join();
    SetPictureConsumer(nullptr, nullptr);
}

void CMediaSource::SetOpenState(EOpenState eState, const std::string& roMessage)
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_eOpenState != OpenState_Waiting)
            return;
        m_eOpenState = eState;
        m_oOpenMessage = roMessage;
    }
    m_oWake.notify_all();
}

bool CMediaSource::Pause(unsigned uiMs)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return !m_oWake.wait_for(oLock, std::chrono::milliseconds(uiMs), [this]() { return m_bQuit; });
}

// ---- The control thread --------------------------------------------------------------------

void CMediaSource::SourceThread(CMediaSource* poSource)
{
    poSource->Run();
}

void CMediaSource::Run()
{
    for (;;)
    {
        std::string oMessage;
        EBusVerdict eVerdict = Bus_Failed;
        if (Start(oMessage))
        {
            GstBus* poBus = gst_element_get_bus(m_poPipeline);
            eVerdict = Bus_Continue;
            while (eVerdict == Bus_Continue && Pause(0))
            {
                GstMessage* poMessage = gst_bus_timed_pop(poBus, 100 * GST_MSECOND);
                if (poMessage == nullptr)
                    continue;
                eVerdict = HandleMessage(poMessage, oMessage);
                gst_message_unref(poMessage);
            }
            gst_object_unref(poBus);
        }
        Stop();
        if (!Pause(0))
            return;

        bool bOpening = false;
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            bOpening = m_eOpenState == OpenState_Waiting;
        }
        if (bOpening && m_eKind != InputKind_V4l2)
        {
            // Nothing to serve: the one who opens it says so.
            SetOpenState(OpenState_Failed,
                         eVerdict == Bus_Ended ? "ended before its first picture" : oMessage);
            return;
        }
        const bool bEnded = eVerdict == Bus_Ended;
        Report(SSimulatedSignal(), bEnded ? local_szEnded
                                          : oMessage + " (trying again every " + std::to_string(s_uiRetryMs / 1000) + " s)");
        SetOpenState(OpenState_Ready, "");
        // A source that ended stays so; one that failed (a device unplugged) is tried again.
        if (bEnded)
        {
            while (Pause(1000))
                ;
            return;
        }
        if (!Pause(s_uiRetryMs))
            return;
    }
}

bool CMediaSource::Start(std::string& roMessage)
{
    // The source part and decodebin are parsed as one, so that the description may end in caps.
    const std::string oDescription = Describe(m_eKind, m_oLocation) + " ! decodebin name=" + local_szDecoderName;
    GError* poError = nullptr;
    GstElement* poPipeline = gst_parse_launch(oDescription.c_str(), &poError);
    GstElement* poDecoder =
        poPipeline != nullptr && GST_IS_BIN(poPipeline) ? gst_bin_get_by_name(GST_BIN(poPipeline), local_szDecoderName) : nullptr;
    if (poError != nullptr || poDecoder == nullptr)
    {
        roMessage = poError != nullptr ? std::string("does not parse: ") + poError->message
                                       : "does not parse into a source of video";
        g_clear_error(&poError);
        if (poDecoder != nullptr)
            gst_object_unref(poDecoder);
        if (poPipeline != nullptr)
            gst_object_unref(poPipeline);
        return false;
    }
    g_signal_connect(poDecoder, "pad-added", G_CALLBACK(&CMediaSource::CallbackPadAdded), this);
    g_signal_connect(poDecoder, "no-more-pads", G_CALLBACK(&CMediaSource::CallbackNoMorePads), this);
    gst_object_unref(poDecoder);
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_poPipeline = poPipeline;
        m_bHasAudio = false;
        m_oUndecodedVideo.clear();
    }
    m_bPrerolled = false;
    // A failing change of state posts its error, which the bus loop reads.
    gst_element_set_state(poPipeline, GST_STATE_PLAYING);
    return true;
}

void CMediaSource::Stop()
{
    GstElement* poPipeline = nullptr;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        poPipeline = m_poPipeline;
        m_poPipeline = nullptr;
        m_poVideoFilter = nullptr;
        m_poVideoSink = nullptr;
        m_bHasAudio = false;
    }
    if (poPipeline != nullptr)
    {
        // Waits for the streaming threads to leave.
        gst_element_set_state(poPipeline, GST_STATE_NULL);
        gst_object_unref(poPipeline);
    }
    m_oAudio.Clear();
}

CMediaSource::EBusVerdict CMediaSource::HandleMessage(GstMessage* poMessage, std::string& roMessage)
{
    switch (GST_MESSAGE_TYPE(poMessage))
    {
    case GST_MESSAGE_ERROR:
    {
        GError* poError = nullptr;
        gchar* szDebug = nullptr;
        gst_message_parse_error(poMessage, &poError, &szDebug);
        roMessage = local_ErrorText(poError, szDebug);
        g_clear_error(&poError);
        g_free(szDebug);
        return Bus_Failed;
    }
    case GST_MESSAGE_APPLICATION:
    {
        const GstStructure* poStructure = gst_message_get_structure(poMessage);
        if (poStructure == nullptr || !gst_structure_has_name(poStructure, local_szFailure))
            return Bus_Continue;
        const gchar* szReason = gst_structure_get_string(poStructure, "reason");
        roMessage = szReason != nullptr ? szReason : "failed";
        return Bus_Failed;
    }
    case GST_MESSAGE_EOS:
        if (m_eKind != InputKind_File)
        {
            roMessage = local_szEnded;
            return Bus_Ended;
        }
        // A file starts again from its beginning (segment seeks, which would loop it without the
        // short gap, are not offered by every demuxer, and a refused one stalls some of them).
        if (!gst_element_seek_simple(m_poPipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0))
        {
            roMessage = "cannot be played again from its beginning";
            return Bus_Failed;
        }
        return Bus_Continue;
    case GST_MESSAGE_ASYNC_DONE:
        // A file has prerolled: all its streams are known.
        if (m_eKind != InputKind_File || m_bPrerolled || GST_MESSAGE_SRC(poMessage) != GST_OBJECT(m_poPipeline))
            return Bus_Continue;
        m_bPrerolled = true;
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            if (m_poVideoSink == nullptr)
            {
                roMessage = "has no video";
                return Bus_Failed;
            }
        }
        SetOpenState(OpenState_Ready, "");
        return Bus_Continue;
    case GST_MESSAGE_LATENCY:
        gst_bin_recalculate_latency(GST_BIN(m_poPipeline));
        return Bus_Continue;
    default:
        return Bus_Continue;
    }
}

// ---- The branches, on streaming threads ---------------------------------------------------

void CMediaSource::CallbackPadAdded(GstElement* poDecoder, GstPad* poPad, gpointer pvSource)
{
    CMediaSource* poThis = static_cast<CMediaSource*>(pvSource);
    GstCaps* poCaps = gst_pad_get_current_caps(poPad);
    if (poCaps == nullptr)
        poCaps = gst_pad_query_caps(poPad, nullptr);
    const char* szType = gst_caps_get_size(poCaps) > 0 ? gst_structure_get_name(gst_caps_get_structure(poCaps, 0)) : "";
    const bool bVideo = g_str_has_prefix(szType, "video/x-raw");
    const bool bAudio = g_str_has_prefix(szType, "audio/x-raw");
    if (!bVideo && g_str_has_prefix(szType, "video/"))
    {
        // Video that no decoder of this machine decodes: said if there is no other.
        std::lock_guard<std::mutex> oLock(poThis->m_oMutex);
        poThis->m_oUndecodedVideo = szType;
    }
    gst_caps_unref(poCaps);

    bool bTaken = false;
    {
        std::lock_guard<std::mutex> oLock(poThis->m_oMutex);
        bTaken = bVideo ? poThis->m_poVideoSink != nullptr : bAudio ? poThis->m_bHasAudio : true;
    }
    if (bVideo && !bTaken)
        poThis->AddVideoBranch(poPad);
    else if (bAudio && !bTaken)
        poThis->AddAudioBranch(poPad);
    else
    {
        // Other streams (a second track, subtitles) are read and dropped, so that they never
        // hold the pipeline up.
        GstElement* poSink = gst_element_factory_make("fakesink", nullptr);
        if (poSink == nullptr)
            return;
        g_object_set(poSink, "sync", FALSE, "async", FALSE, nullptr);
        GstElement* poPipeline = GST_ELEMENT(gst_element_get_parent(poDecoder));
        gst_bin_add(GST_BIN(poPipeline), poSink);
        gst_element_sync_state_with_parent(poSink);
        GstPad* poSinkPad = gst_element_get_static_pad(poSink, "sink");
        gst_pad_link(poPad, poSinkPad);
        gst_object_unref(poSinkPad);
        gst_object_unref(poPipeline);
    }
}

void CMediaSource::CallbackNoMorePads(GstElement* poDecoder, gpointer pvSource)
{
    CMediaSource* poThis = static_cast<CMediaSource*>(pvSource);
    bool bVideo = false;
    std::string oUndecoded;
    {
        std::lock_guard<std::mutex> oLock(poThis->m_oMutex);
        bVideo = poThis->m_poVideoSink != nullptr;
        oUndecoded = poThis->m_oUndecodedVideo;
    }
    if (!bVideo)
        local_PostFailure(poDecoder, oUndecoded.empty() ? "has no video"
                                                        : "has no video that GStreamer decodes here (" + oUndecoded +
                                                              ": a decoder is missing)");
}

GstElement* CMediaSource::AddBranch(GstPad* poPad, const char* szConvert, const char* szAdapt, GstCaps* poCaps,
                                    GstFlowReturn (*pfnNewSample)(GstAppSink*, gpointer), GstElement*& rpoFilter)
{
    GstElement* poDecoder = gst_pad_get_parent_element(poPad);
    GstElement* const apoElements[] = {
        gst_element_factory_make("queue", nullptr),      gst_element_factory_make(szConvert, nullptr),
        gst_element_factory_make(szAdapt, nullptr),      gst_element_factory_make("capsfilter", nullptr),
        gst_element_factory_make("appsink", nullptr),
    };
    GstElement* poSink = apoElements[4];
    rpoFilter = apoElements[3];
    if (rpoFilter != nullptr && poSink != nullptr)
    {
        g_object_set(rpoFilter, "caps", poCaps, nullptr);
        // An end is reported when it comes, whether or not the pictures before it were taken.
        g_object_set(poSink, "sync", TRUE, "enable-last-sample", FALSE, "wait-on-eos", FALSE, nullptr);
        GstAppSinkCallbacks oCallbacks = {};
        oCallbacks.new_sample = pfnNewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(poSink), &oCallbacks, this, nullptr);
    }
    const bool bAdded = local_AddBranch(poDecoder, poPad, apoElements, sizeof(apoElements) / sizeof(apoElements[0]));
    gst_object_unref(poDecoder);
    gst_caps_unref(poCaps);
    return bAdded ? poSink : nullptr;
}

void CMediaSource::AddVideoBranch(GstPad* poPad)
{
    // The signal is the caps the video comes with, before any conversion.
    gst_pad_add_probe(poPad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &CMediaSource::CallbackVideoCaps, this, nullptr);
    GstElement* poFilter = nullptr;
    GstElement* poSink =
        AddBranch(poPad, "videoconvert", "videoscale", PictureCaps(), &CMediaSource::CallbackNewPicture, poFilter);
    if (poSink == nullptr)
        return;
    // A capture that falls behind loses the oldest pictures, as capture hardware does.
    g_object_set(poSink, "max-buffers", 2u, "drop", TRUE, "ts-offset",
                 static_cast<gint64>(s_uiVideoDelayMs) * GST_MSECOND, nullptr);
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_poVideoFilter = poFilter;
    m_poVideoSink = poSink;
}

void CMediaSource::AddAudioBranch(GstPad* poPad)
{
    m_oAudio.Clear();
    GstElement* poFilter = nullptr;
    if (AddBranch(poPad, "audioconvert", "audioresample", gst_caps_from_string(local_szAudioCaps),
                  &CMediaSource::CallbackNewAudio, poFilter) == nullptr)
        return;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_bHasAudio = true;
}

GstPadProbeReturn CMediaSource::CallbackVideoCaps(GstPad*, GstPadProbeInfo* poInfo, gpointer pvSource)
{
    GstEvent* poEvent = GST_PAD_PROBE_INFO_EVENT(poInfo);
    if (poEvent != nullptr && GST_EVENT_TYPE(poEvent) == GST_EVENT_CAPS)
    {
        GstCaps* poCaps = nullptr;
        gst_event_parse_caps(poEvent, &poCaps);
        static_cast<CMediaSource*>(pvSource)->OnVideoCaps(poCaps);
    }
    return GST_PAD_PROBE_OK;
}

void CMediaSource::OnVideoCaps(const GstCaps* poCaps)
{
    GstVideoInfo oInfo;
    if (poCaps == nullptr || !gst_video_info_from_caps(&oInfo, poCaps))
        return;
    SSimulatedSignal oSignal = SSimulatedSignal();
    oSignal.bPresent = true;
    oSignal.uiWidth = static_cast<unsigned>(GST_VIDEO_INFO_WIDTH(&oInfo));
    oSignal.uiHeight = static_cast<unsigned>(GST_VIDEO_INFO_HEIGHT(&oInfo));
    oSignal.bInterlaced = GST_VIDEO_INFO_IS_INTERLACED(&oInfo);
    // Frames per second, or fields per second when interlaced.
    const double dFrames = GST_VIDEO_INFO_FPS_N(&oInfo) > 0 && GST_VIDEO_INFO_FPS_D(&oInfo) > 0
                               ? static_cast<double>(GST_VIDEO_INFO_FPS_N(&oInfo)) / GST_VIDEO_INFO_FPS_D(&oInfo)
                               : s_uiUnknownRate;
    oSignal.uiRate = std::max(1u, local_Round(oSignal.bInterlaced ? 2 * dFrames : dFrames));
    Report(oSignal, "");
    if (m_eKind != InputKind_File)
        SetOpenState(OpenState_Ready, "");
}

GstCaps* CMediaSource::PictureCaps() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (m_uiPictureWidth == 0)
        return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, local_GstFormat(m_ePictureFormat), nullptr);
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, local_GstFormat(m_ePictureFormat), "width",
                               G_TYPE_INT, static_cast<gint>(m_uiPictureWidth), "height", G_TYPE_INT,
                               static_cast<gint>(m_uiPictureHeight), nullptr);
}

GstFlowReturn CMediaSource::CallbackNewPicture(GstAppSink*, gpointer pvSource)
{
    CMediaSource* poThis = static_cast<CMediaSource*>(pvSource);
    std::lock_guard<std::mutex> oLock(poThis->m_oConsumerMutex);
    if (poThis->m_pfnConsumer != nullptr)
        poThis->m_pfnConsumer(poThis->m_pvConsumer);
    return GST_FLOW_OK;
}

GstFlowReturn CMediaSource::CallbackNewAudio(GstAppSink* poSink, gpointer pvSource)
{
    CMediaSource* poThis = static_cast<CMediaSource*>(pvSource);
    GstSample* poSample = gst_app_sink_pull_sample(poSink);
    if (poSample == nullptr)
        return GST_FLOW_EOS;
    GstBuffer* poBuffer = gst_sample_get_buffer(poSample);
    const GstSegment* poSegment = gst_sample_get_segment(poSample);
    const GstClockTime uiRunning =
        poBuffer != nullptr && poSegment != nullptr
            ? gst_segment_to_running_time(poSegment, GST_FORMAT_TIME, GST_BUFFER_PTS(poBuffer))
            : GST_CLOCK_TIME_NONE;
    GstMapInfo oMap;
    if (GST_CLOCK_TIME_IS_VALID(uiRunning) && gst_buffer_map(poBuffer, &oMap, GST_MAP_READ))
    {
        // Due when the pipeline's clock, CLOCK_MONOTONIC, reaches it: the time the picture of the
        // same instant reaches the capture.
        const GstClockTime uiDue = gst_element_get_base_time(GST_ELEMENT(poSink)) + uiRunning +
                                   gst_base_sink_get_latency(GST_BASE_SINK(poSink));
        const unsigned uiFrames =
            static_cast<unsigned>(oMap.size / (CAudioRing::s_uiChannels * sizeof(int16_t)));
        poThis->m_oAudio.Write(CAudioRing::FrameAt(uiDue), reinterpret_cast<const int16_t*>(oMap.data), uiFrames);
        gst_buffer_unmap(poBuffer, &oMap);
    }
    gst_sample_unref(poSample);
    return GST_FLOW_OK;
}

// ---- What the input and the capture ask -----------------------------------------------------

void CMediaSource::Report(const SSimulatedSignal& roSignal, const std::string& roMessage)
{
    bool bChanged = false;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_bQuit)
            return;
        bChanged = m_oSignal != roSignal;
        m_oSignal = roSignal;
        m_oMessage = roMessage;
    }
    if (!bChanged)
        return;
    if (!roSignal.bPresent)
        fprintf(stderr, "pellix input %s: no signal: %s\n", Describe(m_eKind, m_oLocation).c_str(), roMessage.c_str());
    m_pfnSignalled(m_pvContext, this, roSignal);
}

SSimulatedSignal CMediaSource::Signal() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oSignal;
}

std::string CMediaSource::Message() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oMessage;
}

bool CMediaSource::HasAudio() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_bHasAudio;
}

void CMediaSource::SetPictureFormat(OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat)
{
    GstElement* poFilter = nullptr;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_uiPictureWidth == uiWidth && m_uiPictureHeight == uiHeight && m_ePictureFormat == eFormat)
            return;
        m_uiPictureWidth = uiWidth;
        m_uiPictureHeight = uiHeight;
        m_ePictureFormat = eFormat;
        if (m_poVideoFilter != nullptr)
            poFilter = GST_ELEMENT(gst_object_ref(m_poVideoFilter));
    }
    if (poFilter == nullptr)
        return;
    // The converters negotiate the new format with the next picture.
    GstCaps* poCaps = PictureCaps();
    g_object_set(poFilter, "caps", poCaps, nullptr);
    gst_caps_unref(poCaps);
    gst_object_unref(poFilter);
}

void CMediaSource::SetPictureConsumer(void* pvContext, PfnPictureReady pfnReady)
{
    std::lock_guard<std::mutex> oLock(m_oConsumerMutex);
    m_pvConsumer = pvContext;
    m_pfnConsumer = pfnReady;
}

GstSample* CMediaSource::TakePicture()
{
    GstElement* poSink = nullptr;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_poVideoSink != nullptr)
            poSink = GST_ELEMENT(gst_object_ref(m_poVideoSink));
    }
    if (poSink == nullptr)
        return nullptr;
    GstSample* poSample = gst_app_sink_try_pull_sample(GST_APP_SINK(poSink), 0);
    gst_object_unref(poSink);
    return poSample;
}
