// The local monitor as a real window (PELLIX_SIM_DISPLAY=window): the picture the display
// composes, shown at each refresh through GStreamer,
//   appsrc ! videoconvert ! autovideosink
// in YUY2 of the screen's size, read as full-range BT.601 (as the display's snapshot reads it),
// converted for the window by GStreamer. The screen pictures come from a pool of three buffers, so
// that a refresh allocates nothing; when the window falls behind and none is free, that refresh
// is not shown. A window that cannot open (no display) or fails (closed) is said on standard
// error once, and the display goes on without it.
#ifndef CDISPLAY_WINDOW_H
#define CDISPLAY_WINDOW_H

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "CRgbImage.h"

class CDisplayWindow
{
public:
    // PELLIX_SIM_DISPLAY is "window"; another value than that and "headless" is said.
    static bool IsWanted();

    // Draws a window's pixels into a YUY2 screen picture (uiStride bytes per line), clipped to
    // the screen and to the bytes the window may read; a window at an odd X starts a pixel to
    // its left, on a whole Y0 Cb Y1 Cr pair.
    static void DrawWindow(const SWindowPixels& roWindow, uint8_t* puiScreen, size_t uiStride, unsigned uiScreenWidth,
                           unsigned uiScreenHeight);

    CDisplayWindow() = default;
    ~CDisplayWindow();
    CDisplayWindow(const CDisplayWindow&) = delete;
    CDisplayWindow& operator=(const CDisplayWindow&) = delete;

    // Opens the window for a screen of that size; false (said on standard error) when it cannot.
    bool Open(unsigned uiWidth, unsigned uiHeight);
    void Close();
    bool IsOpen() const { return m_poPipeline != nullptr; }

    // One refresh: a black screen picture to draw into, or null when none is free (or the
    // window failed); Show hands it to the window.
    uint8_t* BeginFrame(size_t& ruiStride);
    void Show();

private:
    // A failure the window reported (said on standard error).
    bool CheckFailure();
    // autovideosink found a sink that shows a window (said on standard error when not).
    bool HasWindowSink() const;

    GstElement* m_poPipeline = nullptr;
    GstElement* m_poSource = nullptr;
    GstBufferPool* m_poPool = nullptr;
    GstBus* m_poBus = nullptr;
    unsigned m_uiWidth = 0;
    unsigned m_uiHeight = 0;
    GstBuffer* m_poFrame = nullptr;  // between BeginFrame and Show
    GstMapInfo m_oMap = GstMapInfo();
};

#endif // CDISPLAY_WINDOW_H
