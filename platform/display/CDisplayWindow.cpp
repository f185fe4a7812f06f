#include "CDisplayWindow.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const unsigned local_uiPoolBuffers = 3;
// Full-range black of Y0 Cb Y1 Cr.
const uint8_t local_auiBlackPair[4] = {0, 128, 0, 128};
} // namespace

bool CDisplayWindow::IsWanted()
{
    const char* szDisplay = getenv("PELLIX_SIM_DISPLAY");
    if (szDisplay == nullptr || szDisplay[0] == 0 || strcmp(szDisplay, "headless") == 0)
        return false;
    if (strcmp(szDisplay, "window") == 0)
        return true;
    fprintf(stderr, "PELLIX_SIM_DISPLAY=%s is not headless or window; headless\n", szDisplay);
    return false;
}

void CDisplayWindow::DrawWindow(const SWindowPixels& roWindow, uint8_t* puiScreen, size_t uiStride,
                                unsigned uiScreenWidth, unsigned uiScreenHeight)
{
    const unsigned uiX = roWindow.uiX & ~1u;
    if (roWindow.puiData == nullptr || uiX >= uiScreenWidth || roWindow.uiY >= uiScreenHeight)
        return;
    const unsigned uiWidth = std::min(roWindow.uiWidth, uiScreenWidth - uiX) & ~1u;
    const unsigned uiHeight = std::min(roWindow.uiHeight, uiScreenHeight - roWindow.uiY);
    for (unsigned uiRow = 0; uiRow < uiHeight; ++uiRow)
    {
        uint8_t* puiOut = puiScreen + (roWindow.uiY + uiRow) * uiStride + size_t(uiX) * 2;
        const size_t uiLine = size_t(uiRow) * roWindow.uiPitch;
        if (!roWindow.bSemiPlanar)
        {
            // The same layout: one copy of what lies within the window's bytes.
            const size_t uiBytes = uiLine < roWindow.uiSize ? std::min<size_t>(size_t(uiWidth) * 2, roWindow.uiSize - uiLine) & ~size_t(3) : 0;
            memcpy(puiOut, roWindow.puiData + uiLine, uiBytes);
            continue;
        }
        // 4:2:0 semi-planar: each chroma line serves two lines.
        const size_t uiChromaLine = roWindow.uiChromaOffset + size_t(uiRow / 2) * roWindow.uiChromaPitch;
        if (uiLine + uiWidth > roWindow.uiSize || uiChromaLine + uiWidth > roWindow.uiSize)
            continue;
        const uint8_t* puiLuma = roWindow.puiData + uiLine;
        const uint8_t* puiChroma = roWindow.puiData + uiChromaLine;
        for (unsigned uiColumn = 0; uiColumn < uiWidth; uiColumn += 2)
        {
            puiOut[2 * uiColumn] = puiLuma[uiColumn];
            puiOut[2 * uiColumn + 1] = puiChroma[uiColumn];
            puiOut[2 * uiColumn + 2] = puiLuma[uiColumn + 1];
            puiOut[2 * uiColumn + 3] = puiChroma[uiColumn + 1];
        }
    }
}

CDisplayWindow::~CDisplayWindow()
{
    Close();
}

bool CDisplayWindow::Open(unsigned uiWidth, unsigned uiHeight)
{
    Close();
    GError* poError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &poError))
    {
        fprintf(stderr, "pellix display window: GStreamer does not start: %s\n",
                poError != nullptr ? poError->message : "");
        g_clear_error(&poError);
        return false;
    }
    // DirectFB's sink, which autovideosink tries when no window system answers, brings the
    // process down without a frame buffer: it is never chosen.
    GstPluginFeature* poDirectFb = gst_registry_lookup_feature(gst_registry_get(), "dfbvideosink");
    if (poDirectFb != nullptr)
    {
        gst_plugin_feature_set_rank(poDirectFb, GST_RANK_NONE);
        gst_object_unref(poDirectFb);
    }
    m_poPipeline = gst_parse_launch("appsrc name=screen is-live=true do-timestamp=true format=time ! videoconvert ! "
                                    "autovideosink name=monitor sync=false",
                                    &poError);
    if (poError != nullptr || m_poPipeline == nullptr)
    {
        fprintf(stderr, "pellix display window: %s\n", poError != nullptr ? poError->message : "no pipeline");
        g_clear_error(&poError);
        if (m_poPipeline != nullptr)
            gst_object_unref(m_poPipeline);
        m_poPipeline = nullptr;
        return false;
    }
    m_uiWidth = uiWidth;
    m_uiHeight = uiHeight;
    m_poSource = gst_bin_get_by_name(GST_BIN(m_poPipeline), "screen");
    m_poBus = gst_element_get_bus(m_poPipeline);
    // Y0 Cb Y1 Cr as the snapshot reads it: full-range BT.601.
    GstCaps* poCaps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "YUY2", "width", G_TYPE_INT,
                                          static_cast<gint>(uiWidth), "height", G_TYPE_INT, static_cast<gint>(uiHeight),
                                          "framerate", GST_TYPE_FRACTION, 0, 1, "colorimetry", G_TYPE_STRING,
                                          "1:4:0:0", nullptr);
    gst_app_src_set_caps(GST_APP_SRC(m_poSource), poCaps);
    m_poPool = gst_buffer_pool_new();
    GstStructure* poConfig = gst_buffer_pool_get_config(m_poPool);
    gst_buffer_pool_config_set_params(poConfig, poCaps, static_cast<guint>(uiWidth * 2 * uiHeight), local_uiPoolBuffers,
                                      local_uiPoolBuffers);
    gst_caps_unref(poCaps);
    const bool bPool = gst_buffer_pool_set_config(m_poPool, poConfig) && gst_buffer_pool_set_active(m_poPool, TRUE);
    if (!bPool)
        fprintf(stderr, "pellix display window: no buffers for a %ux%u screen\n", uiWidth, uiHeight);
    if (!bPool || gst_element_set_state(m_poPipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        CheckFailure() || !HasWindowSink())
    {
        Close();
        return false;
    }
    return true;
}

bool CDisplayWindow::HasWindowSink() const
{
    // autovideosink has chosen its sink on the way to READY; it falls back to a fake one when
    // none opens.
    GstElement* poMonitor = gst_bin_get_by_name(GST_BIN(m_poPipeline), "monitor");
    GstIterator* poChildren = poMonitor != nullptr ? gst_bin_iterate_elements(GST_BIN(poMonitor)) : nullptr;
    GValue oChild = G_VALUE_INIT;
    bool bWindow = false;
    if (poChildren != nullptr && gst_iterator_next(poChildren, &oChild) == GST_ITERATOR_OK)
    {
        GstElementFactory* poFactory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&oChild)));
        bWindow = poFactory != nullptr && strcmp(GST_OBJECT_NAME(poFactory), "fakesink") != 0;
        g_value_unset(&oChild);
    }
    if (poChildren != nullptr)
        gst_iterator_free(poChildren);
    if (poMonitor != nullptr)
        gst_object_unref(poMonitor);
    if (!bWindow)
        fprintf(stderr, "pellix display window: no video sink opens a window here (is DISPLAY set?); the display "
                        "goes on without it\n");
    return bWindow;
}

void CDisplayWindow::Close()
{
    if (m_poFrame != nullptr)
    {
        gst_buffer_unmap(m_poFrame, &m_oMap);
        gst_buffer_unref(m_poFrame);
        m_poFrame = nullptr;
    }
    if (m_poPipeline != nullptr)
    {
        gst_element_set_state(m_poPipeline, GST_STATE_NULL);
        gst_object_unref(m_poSource);
        gst_object_unref(m_poBus);
        gst_object_unref(m_poPipeline);
    }
    if (m_poPool != nullptr)
    {
        gst_buffer_pool_set_active(m_poPool, FALSE);
        gst_object_unref(m_poPool);
    }
    m_poPipeline = nullptr;
    m_poSource = nullptr;
    m_poBus = nullptr;
    m_poPool = nullptr;
}

bool CDisplayWindow::CheckFailure()
{
    GstMessage* poMessage = gst_bus_pop_filtered(m_poBus, GST_MESSAGE_ERROR);
    if (poMessage == nullptr)
        return false;
    GError* poError = nullptr;
    gst_message_parse_error(poMessage, &poError, nullptr);
    fprintf(stderr, "pellix display window: %s; the display goes on without it\n",
            poError != nullptr ? poError->message : "failed");
    g_clear_error(&poError);
    gst_message_unref(poMessage);
    return true;
}

uint8_t* CDisplayWindow::BeginFrame(size_t& ruiStride)
{
    if (m_poPipeline == nullptr || m_poFrame != nullptr)
        return nullptr;
    if (CheckFailure())
    {
        Close();
        return nullptr;
    }
    GstBufferPoolAcquireParams oParams = {};
    oParams.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT;
    if (gst_buffer_pool_acquire_buffer(m_poPool, &m_poFrame, &oParams) != GST_FLOW_OK)
    {
        m_poFrame = nullptr;
        return nullptr;
    }
    if (!gst_buffer_map(m_poFrame, &m_oMap, GST_MAP_WRITE))
    {
        gst_buffer_unref(m_poFrame);
        m_poFrame = nullptr;
        return nullptr;
    }
    ruiStride = size_t(m_uiWidth) * 2;
    // Black: one line drawn, then copied.
    for (size_t uiByte = 0; uiByte + 4 <= ruiStride; uiByte += 4)
        memcpy(m_oMap.data + uiByte, local_auiBlackPair, 4);
    for (unsigned uiRow = 1; uiRow < m_uiHeight; ++uiRow)
        memcpy(m_oMap.data + uiRow * ruiStride, m_oMap.data, ruiStride);
    return m_oMap.data;
}

void CDisplayWindow::Show()
{
    if (m_poFrame == nullptr)
        return;
    gst_buffer_unmap(m_poFrame, &m_oMap);
    // The source takes the buffer over; it goes back to the pool when the window is done with it.
    gst_app_src_push_buffer(GST_APP_SRC(m_poSource), m_poFrame);
    m_poFrame = nullptr;
}
