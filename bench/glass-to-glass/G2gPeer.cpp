// g2g-peer: what a user would pick instead of the appliance, to measure the appliance against: a
// GStreamer RTSP server (gst-rtsp-server's media factory) that codes the same pictures as the
// simulated HDMI input with x264enc at the same settings as the platform's encoder (preset,
// zero-latency coding on two slice threads, bit rate under the same decoder buffer, key-picture
// interval, Baseline profile) and serves them with rtph264pay, optionally with AAC audio beside
// them as the appliance serves its own.
//
// Its input is drawn like the capture's (CMotionPattern or CTestPattern, YUV 4:2:2 packed, each
// picture stamped with its capture time by CCaptureTimeCode) at the frame rate, into a pool of
// six buffers as the capture has; a picture for which no buffer is free is dropped, as the
// capture drops it.
//   g2g-peer WIDTH HEIGHT RATE PATTERN BITRATE PRESET KEYINT [audio]
// serves rtsp://127.0.0.1:8554/peer until SIGINT or SIGTERM.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <glib-unix.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "CCaptureTimeCode.h"
#include "CFrameLines.h"
#include "CMotionPattern.h"
#include "CTestPattern.h"

namespace
{
const unsigned local_uiPoolBuffers = 6;

struct SSettings
{
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiRate;
    bool bMotion;
};

// Draws the input's pictures at its rate into the media's appsrc while the media lives.
class CFeeder
{
public:
    CFeeder(const SSettings& roSettings, GstElement* poSource) : m_oSettings(roSettings), m_poSource(poSource)
    {
        gst_object_ref(m_poSource);
        m_oThread = std::thread(&CFeeder::Run, this);
    }
    ~CFeeder()
    {
        m_bStop = true;
        m_oThread.join();
        gst_object_unref(m_poSource);
    }

private:
    void Run()
    {
        const CVideoFrameGeometry oGeometry(m_oSettings.uiWidth, m_oSettings.uiHeight, 2 * m_oSettings.uiWidth,
                                            OMX_COLOR_FormatYCbYCr);
        CFrameLines oLines;
        oLines.Configure(oGeometry, false);
        CMotionPattern oMotion;
        CTestPattern oBars;
        if (m_oSettings.bMotion)
            oMotion.Configure(oGeometry, false);
        else
            oBars.Configure(oGeometry, false);

        GstBufferPool* poPool = gst_buffer_pool_new();
        GstStructure* poConfig = gst_buffer_pool_get_config(poPool);
        GstCaps* poCaps = nullptr;
        g_object_get(m_poSource, "caps", &poCaps, nullptr);
        gst_buffer_pool_config_set_params(poConfig, poCaps, static_cast<guint>(oLines.FrameBytes()), local_uiPoolBuffers,
                                          local_uiPoolBuffers);
        gst_caps_unref(poCaps);
        gst_buffer_pool_set_config(poPool, poConfig);
        gst_buffer_pool_set_active(poPool, TRUE);

        const uint64_t uiPeriodNs = 1000000000ull / m_oSettings.uiRate;
        timespec oNext;
        clock_gettime(CLOCK_MONOTONIC, &oNext);
        for (uint64_t uiFrame = 0; !m_bStop; ++uiFrame)
        {
            oNext.tv_nsec += static_cast<long>(uiPeriodNs);
            while (oNext.tv_nsec >= 1000000000L)
            {
                oNext.tv_nsec -= 1000000000L;
                ++oNext.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &oNext, nullptr);
            GstBuffer* poBuffer = nullptr;
            GstBufferPoolAcquireParams oParams = {};
            oParams.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT;
            if (gst_buffer_pool_acquire_buffer(poPool, &poBuffer, &oParams) != GST_FLOW_OK)
                continue;  // no free buffer: the picture is lost
            GstMapInfo oMap;
            if (gst_buffer_map(poBuffer, &oMap, GST_MAP_WRITE))
            {
                if (m_oSettings.bMotion)
                    oMotion.Draw(uiFrame, oMap.data);
                else
                    oBars.Draw(uiFrame, oMap.data);
                // Captured when it was due, as the capture stamps the frames its thread was late for.
                const uint64_t uiDueUs = static_cast<uint64_t>(oNext.tv_sec) * 1000000u + oNext.tv_nsec / 1000;
                const CCaptureTimeCode::SValue oValue = {uiDueUs, static_cast<uint32_t>(uiFrame)};
                CCaptureTimeCode::Write(oLines, oMap.data, oValue);
                gst_buffer_unmap(poBuffer, &oMap);
            }
            gst_app_src_push_buffer(GST_APP_SRC(m_poSource), poBuffer);
        }
        gst_buffer_pool_set_active(poPool, FALSE);
        gst_object_unref(poPool);
    }

    const SSettings m_oSettings;
    GstElement* m_poSource;
    std::atomic<bool> m_bStop{false};
    std::thread m_oThread;
};

SSettings local_oSettings;
// The feeder of the media that lives, if any; replaced and stopped from the server's threads and
// from main.
std::mutex local_oFeederMutex;
std::unique_ptr<CFeeder> local_poFeeder;

void local_ReplaceFeeder(std::unique_ptr<CFeeder> poFeeder)
{
    {
        std::lock_guard<std::mutex> oLock(local_oFeederMutex);
        local_poFeeder.swap(poFeeder);
    }
    // The one replaced stops here, outside the lock.
}

void local_MediaUnprepared(GstRTSPMedia*, gpointer)
{
    local_ReplaceFeeder(nullptr);
}

void local_MediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* poMedia, gpointer)
{
    GstElement* poBin = gst_rtsp_media_get_element(poMedia);
    GstElement* poSource = gst_bin_get_by_name_recurse_up(GST_BIN(poBin), "src");
    local_ReplaceFeeder(std::make_unique<CFeeder>(local_oSettings, poSource));
    gst_object_unref(poSource);
    gst_object_unref(poBin);
    g_signal_connect(poMedia, "unprepared", G_CALLBACK(local_MediaUnprepared), nullptr);
}

gboolean local_Quit(gpointer pvLoop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(pvLoop));
    return G_SOURCE_REMOVE;
}
} // namespace

int main(int iArgc, char** apszArgv)
{
    if (iArgc != 8 && iArgc != 9)
    {
        fprintf(stderr, "usage: g2g-peer WIDTH HEIGHT RATE bars|motion BITRATE PRESET KEYINT [audio]\n");
        return 2;
    }
    local_oSettings.uiWidth = static_cast<unsigned>(atoi(apszArgv[1]));
    local_oSettings.uiHeight = static_cast<unsigned>(atoi(apszArgv[2]));
    local_oSettings.uiRate = static_cast<unsigned>(atoi(apszArgv[3]));
    local_oSettings.bMotion = strcmp(apszArgv[4], "motion") == 0;
    const unsigned uiKiloBits = static_cast<unsigned>(atoi(apszArgv[5]) / 1000);
    const std::string oPreset = apszArgv[6];
    const std::string oKeyInterval = apszArgv[7];
    const bool bAudio = iArgc == 9 && strcmp(apszArgv[8], "audio") == 0;
    gst_init(nullptr, nullptr);

    // The platform's encoder: the preset's analysis, zero latency (two slice threads, no
    // look-ahead, no B pictures), average bit rate under a buffer of half a second at the target,
    // an IDR picture every KEYINT pictures and nowhere else, Baseline profile.
    char szVideo[1024];
    snprintf(szVideo, sizeof(szVideo),
             "appsrc name=src is-live=true format=time do-timestamp=true "
             "caps=video/x-raw,format=YUY2,width=%u,height=%u,framerate=%u/1,interlace-mode=progressive ! "
             "videoconvert ! video/x-raw,format=I420 ! "
             "x264enc speed-preset=%s tune=zerolatency threads=2 bitrate=%u vbv-buf-capacity=500 key-int-max=%s "
             "option-string=min-keyint=%s:scenecut=0 ! video/x-h264,profile=baseline ! rtph264pay name=pay0 pt=96",
             local_oSettings.uiWidth, local_oSettings.uiHeight, local_oSettings.uiRate, oPreset.c_str(), uiKiloBits,
             oKeyInterval.c_str(), oKeyInterval.c_str());
    std::string oLaunch = std::string("( ") + szVideo;
    if (bAudio)
        oLaunch += " audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=48000,channels=2 ! "
                   "avenc_aac ! rtpmp4apay name=pay1 pt=97";
    oLaunch += " )";

    GstRTSPServer* poServer = gst_rtsp_server_new();
    gst_rtsp_server_set_service(poServer, "8554");
    GstRTSPMediaFactory* poFactory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(poFactory, oLaunch.c_str());
    gst_rtsp_media_factory_set_shared(poFactory, TRUE);
    g_signal_connect(poFactory, "media-configure", G_CALLBACK(local_MediaConfigure), nullptr);
    GstRTSPMountPoints* poMounts = gst_rtsp_server_get_mount_points(poServer);
    gst_rtsp_mount_points_add_factory(poMounts, "/peer", poFactory);
    g_object_unref(poMounts);
    if (gst_rtsp_server_attach(poServer, nullptr) == 0)
    {
        fprintf(stderr, "g2g-peer: cannot serve on port 8554\n");
        return 1;
    }
    GMainLoop* poLoop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGINT, &local_Quit, poLoop);
    g_unix_signal_add(SIGTERM, &local_Quit, poLoop);
    printf("g2g-peer: streaming at rtsp://127.0.0.1:8554/peer\n");
    fflush(stdout);
    g_main_loop_run(poLoop);
    local_ReplaceFeeder(nullptr);
    g_main_loop_unref(poLoop);
    g_object_unref(poServer);
    return 0;
}
