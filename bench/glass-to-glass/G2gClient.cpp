// g2g-client: a low-latency viewer that measures. It plays an RTSP stream as a viewer does with
// its buffering turned off (rtspsrc latency=0 over TCP, the decoder's output taken at once,
// without waiting for the pictures' times), reads each decoded picture's capture code
// (CCaptureTimeCode) and the time it was decoded, and prints what it saw after the first second:
// pictures and frames per second decoded, frame numbers missing, damaged codes, decoding errors
// and the glass-to-glass latency (decoded minus captured, on CLOCK_MONOTONIC) median, p95, p99
// and maximum, as "name: value" lines.
//   g2g-client URL SECONDS
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CCaptureTimeCode.h"

namespace
{
const uint64_t local_uiWarmUpUs = 1000000;
const GstClockTime local_uiPullTimeout = 100 * GST_MSECOND;
// Longest wait for the first picture.
const uint64_t local_uiFirstPictureUs = 20000000;

std::atomic<unsigned> local_uiDecoderComplaints(0);

// The decoder's complaints (libav's errors reach GStreamer's log under the category "libav").
void local_CountComplaints(GstDebugCategory* poCategory, GstDebugLevel eLevel, const gchar*, const gchar*, gint,
                           GObject*, GstDebugMessage* poMessage, gpointer)
{
    if (eLevel <= GST_LEVEL_WARNING && strcmp(gst_debug_category_get_name(poCategory), "libav") == 0)
    {
        if (local_uiDecoderComplaints++ < 5)
            fprintf(stderr, "g2g-client: decoder: %s\n", gst_debug_message_get(poMessage));
    }
}

struct SPicture
{
    uint64_t uiDecodedUs;
    bool bRead;
    CCaptureTimeCode::SValue oCode;
};

double local_Percentile(std::vector<double> adValues, double dFraction)
{
    if (adValues.empty())
        return 0;
    std::sort(adValues.begin(), adValues.end());
    const size_t uiIndex = std::min(adValues.size() - 1, static_cast<size_t>(dFraction * (adValues.size() - 1) + 0.5));
    return adValues[uiIndex];
}

double local_CpuSeconds()
{
    rusage oUsage;
    getrusage(RUSAGE_SELF, &oUsage);
    return oUsage.ru_utime.tv_sec + oUsage.ru_stime.tv_sec + (oUsage.ru_utime.tv_usec + oUsage.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int iArgc, char** apszArgv)
{
    if (iArgc != 3)
    {
        fprintf(stderr, "usage: g2g-client URL SECONDS\n");
        return 2;
    }
    const std::string oUrl = apszArgv[1];
    uint64_t uiSecondsUs = strtoull(apszArgv[2], nullptr, 10) * 1000000u;
    gst_init(nullptr, nullptr);
    gst_debug_remove_log_function(gst_debug_log_default);
    gst_debug_add_log_function(&local_CountComplaints, nullptr, nullptr);
    gst_debug_set_threshold_for_name("libav", GST_LEVEL_WARNING);

    // Two slice threads, no frame threads: a frame thread holds a picture back.
    const std::string oLaunch = "rtspsrc location=" + oUrl +
                                " latency=0 protocols=tcp ! rtph264depay ! h264parse ! "
                                "avdec_h264 thread-type=slice max-threads=2 output-corrupt=true ! "
                                "appsink name=sink sync=false max-buffers=4";
    GError* poError = nullptr;
    GstElement* poPipeline = gst_parse_launch(oLaunch.c_str(), &poError);
    if (poPipeline == nullptr)
    {
        fprintf(stderr, "g2g-client: %s\n", poError != nullptr ? poError->message : "no pipeline");
        return 1;
    }
    GstAppSink* poSink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(poPipeline), "sink"));
    GstBus* poBus = gst_element_get_bus(poPipeline);
    gst_element_set_state(poPipeline, GST_STATE_PLAYING);

    std::vector<SPicture> aoPictures;
    aoPictures.reserve(static_cast<size_t>(uiSecondsUs / 1000000u + 2) * 70);
    unsigned uiCorrupted = 0;
    unsigned uiBusErrors = 0;
    const uint64_t uiStartUs = CCaptureTimeCode::NowUs();
    uint64_t uiFirstUs = 0;
    uint64_t uiEndUs = 0;
    double dCpuStart = 0;
    for (;;)
    {
        GstSample* poSample = gst_app_sink_try_pull_sample(poSink, local_uiPullTimeout);
        const uint64_t uiNowUs = CCaptureTimeCode::NowUs();
        if (poSample != nullptr)
        {
            if (uiFirstUs == 0)
            {
                uiFirstUs = uiNowUs;
                dCpuStart = local_CpuSeconds();
            }
            SPicture oPicture = {uiNowUs, false, {0, 0}};
            GstVideoInfo oInfo;
            GstVideoFrame oFrame;
            GstBuffer* poBuffer = gst_sample_get_buffer(poSample);
            if (gst_video_info_from_caps(&oInfo, gst_sample_get_caps(poSample)) &&
                gst_video_frame_map(&oFrame, &oInfo, poBuffer, GST_MAP_READ))
            {
                oPicture.bRead = CCaptureTimeCode::Read(
                    static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&oFrame, 0)),
                    static_cast<unsigned>(GST_VIDEO_FRAME_PLANE_STRIDE(&oFrame, 0)),
                    GST_VIDEO_FORMAT_INFO_PSTRIDE(oInfo.finfo, 0), static_cast<unsigned>(GST_VIDEO_INFO_WIDTH(&oInfo)),
                    static_cast<unsigned>(GST_VIDEO_INFO_HEIGHT(&oInfo)), oPicture.oCode);
                gst_video_frame_unmap(&oFrame);
            }
            if (GST_BUFFER_FLAG_IS_SET(poBuffer, GST_BUFFER_FLAG_CORRUPTED))
                ++uiCorrupted;
            aoPictures.push_back(oPicture);
            gst_sample_unref(poSample);
        }
        while (GstMessage* poMessage = gst_bus_pop_filtered(poBus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS)))
        {
            if (GST_MESSAGE_TYPE(poMessage) != GST_MESSAGE_EOS)
            {
                GError* poMessageError = nullptr;
                gchar* szDebug = nullptr;
                if (GST_MESSAGE_TYPE(poMessage) == GST_MESSAGE_ERROR)
                    gst_message_parse_error(poMessage, &poMessageError, &szDebug);
                else
                    gst_message_parse_warning(poMessage, &poMessageError, &szDebug);
                fprintf(stderr, "g2g-client: %s\n", poMessageError != nullptr ? poMessageError->message : "?");
                g_clear_error(&poMessageError);
                g_free(szDebug);
                ++uiBusErrors;
            }
            const bool bEnd = GST_MESSAGE_TYPE(poMessage) != GST_MESSAGE_WARNING;
            gst_message_unref(poMessage);
            if (bEnd)
                uiSecondsUs = 0;
        }
        if (uiSecondsUs == 0 || (uiFirstUs != 0 && uiNowUs >= uiFirstUs + local_uiWarmUpUs + uiSecondsUs))
            break;
        if (uiFirstUs == 0 && uiNowUs >= uiStartUs + local_uiFirstPictureUs)
            break;
    }
    const double dCpu = local_CpuSeconds() - dCpuStart;
    uiEndUs = CCaptureTimeCode::NowUs();
    gst_element_set_state(poPipeline, GST_STATE_NULL);
    gst_object_unref(poBus);
    gst_object_unref(poSink);
    gst_object_unref(poPipeline);

    // The first second is left out: the pictures held while nobody watched, and the wait for the
    // first key picture.
    std::vector<double> adLatencyMs;
    unsigned uiSteady = 0;
    unsigned uiDamaged = 0;
    uint64_t uiMissing = 0;
    bool bHaveLast = false;
    uint32_t uiLast = 0;
    uint64_t uiSteadyFirstUs = 0;
    uint64_t uiSteadyLastUs = 0;
    for (const SPicture& roPicture : aoPictures)
    {
        if (roPicture.uiDecodedUs < uiFirstUs + local_uiWarmUpUs)
        {
            if (roPicture.bRead)
            {
                bHaveLast = true;
                uiLast = roPicture.oCode.uiFrame;
            }
            continue;
        }
        if (uiSteady++ == 0)
            uiSteadyFirstUs = roPicture.uiDecodedUs;
        uiSteadyLastUs = roPicture.uiDecodedUs;
        if (!roPicture.bRead)
        {
            ++uiDamaged;
            continue;
        }
        adLatencyMs.push_back((static_cast<double>(roPicture.uiDecodedUs) - static_cast<double>(roPicture.oCode.uiTimeUs)) / 1000.0);
        if (bHaveLast && roPicture.oCode.uiFrame > uiLast + 1)
            uiMissing += roPicture.oCode.uiFrame - uiLast - 1;
        bHaveLast = true;
        uiLast = roPicture.oCode.uiFrame;
    }
    const double dSpan = (uiSteadyLastUs - uiSteadyFirstUs) / 1e6;
    printf("pictures decoded: %zu (%u after the first second)\n", aoPictures.size(), uiSteady);
    printf("frames per second: %.2f\n", uiSteady > 1 && dSpan > 0 ? (uiSteady - 1) / dSpan : 0.0);
    printf("frames lost: %llu\n", static_cast<unsigned long long>(uiMissing));
    printf("codes damaged: %u\n", uiDamaged);
    printf("decoding errors: %u (decoder complaints %u, corrupted pictures %u, stream errors %u)\n",
           local_uiDecoderComplaints.load() + uiCorrupted + uiBusErrors, local_uiDecoderComplaints.load(), uiCorrupted,
           uiBusErrors);
    printf("latency ms: median %.1f p95 %.1f p99 %.1f max %.1f\n", local_Percentile(adLatencyMs, 0.5),
           local_Percentile(adLatencyMs, 0.95), local_Percentile(adLatencyMs, 0.99), local_Percentile(adLatencyMs, 1.0));
    printf("client CPU: %.1f%% of one core\n", uiFirstUs != 0 ? 100.0 * dCpu / ((uiEndUs - uiFirstUs) / 1e6) : 0.0);
    return aoPictures.empty() ? 1 : 0;
}
