// A real source as the HDMI input, read through GStreamer: a file (file:PATH, played at its own
// rate and looped), a V4L2 capture device (v4l2:DEVICE, at the mode it delivers) or a GStreamer
// source description (gst:DESCRIPTION). It keeps running, like the source on the other end of an
// HDMI cable, whoever captures it and for as long as it is the input.
//
// The pipeline: the source part (Describe) ! decodebin; decodebin's video goes
//   queue ! videoconvert ! videoscale ! capsfilter ! appsink
// in the capture's pixel format and size (SetPictureFormat), and its audio, when there is a track,
//   queue ! audioconvert ! audioresample ! capsfilter (S16LE, 48 kHz, stereo) ! appsink
// into the audio ring that the HDMI audio capture device reads. Both sinks hand on each buffer
// when the pipeline's clock (CLOCK_MONOTONIC) reaches its time (the video s_uiVideoDelayMs
// later), so a file is paced at its own rate and a live source at its own pace, and a picture
// and the audio of the same instant reach a client together. The capture takes the pictures (TakePicture) and copies each once into its buffer
// (CSourcePicture); nothing here converts a pixel or a sample.
//
// The signal is the video's caps as they reach the video branch, before any conversion: size,
// rate and interlacing. A change of caps is reported as it comes; so is the loss of the signal
// (the end of a source that does not loop, a failure, a device unplugged) and its return. After
// a failure the source is started again every s_uiRetryMs.
//
// Threads: a control thread of its own (bus messages, looping, restarts), GStreamer's
// streaming threads (caps, pictures, audio). Reports and picture notices are made without a lock
// of this object held.
#ifndef CMEDIA_SOURCE_H
#define CMEDIA_SOURCE_H

#include <OMX_IVCommon.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "CAudioRing.h"
#include "CSimulatedInput.h"

class CMediaSource
{
public:
    // The source's signal changed (streaming or control thread).
    typedef void (*PfnSignalled)(void* pvContext, const CMediaSource* poSource, const SSimulatedSignal& roSignal);
    // A picture waits to be taken (streaming thread).
    typedef void (*PfnPictureReady)(void* pvContext);

    // How long Open waits for the first picture's format before it settles for no signal.
    static constexpr unsigned s_uiOpenTimeoutMs = 10000;
    static constexpr unsigned s_uiRetryMs = 2000;
    // Reported when the caps give no frame rate (a variable rate).
    static constexpr unsigned s_uiUnknownRate = 30;
    // How long after it is due a picture is handed on. Its sound is written to the audio ring
    // when due, and the HDMI audio capture device takes it 30 ms later; the audio path behind the
    // device (a capture period of 1024 frames, the AAC encoder's frame of delay) takes some 40 ms
    // longer than the video path to reach the stream, which stamps both on arrival: so picture
    // and sound reach a client together.
    static constexpr unsigned s_uiVideoDelayMs = 70;

    // The GStreamer description of the source part, for the kinds that have one built in
    // (file: "filesrc location=...", v4l2: "v4l2src device=..."), the text itself for gst:.
    static std::string Describe(EInputKind eKind, const std::string& roLocation);
    // roText as one quoted value of a description.
    static std::string Quote(const std::string& roText);

    CMediaSource(EInputKind eKind, const std::string& roLocation, void* pvContext, PfnSignalled pfnSignalled);
    ~CMediaSource();
    CMediaSource(const CMediaSource&) = delete;
    CMediaSource& operator=(const CMediaSource&) = delete;

    // Starts the source and waits for its first picture's format, its failure or its end, at
    // most s_uiOpenTimeoutMs. False with the reason in roMessage when it cannot serve: the
    // description does not parse or leaves nothing to read, the source fails, has no video or
    // ends before its first picture. A V4L2 device that fails is no signal instead (true, the
    // reason in roMessage), since it may be plugged in later; so is a source still silent at the
    // end of the wait.
    bool Open(std::string& roMessage);
    // Stops the source for good: no report, no picture, no audio after it returns.
    void Close();

    SSimulatedSignal Signal() const;
    // Why there is no signal now; empty while there is one.
    std::string Message() const;
    bool HasAudio() const;
    void ReadAudio(uint64_t uiFirstFrame, int16_t* piFrames, unsigned uiFrames) const { m_oAudio.Read(uiFirstFrame, piFrames, uiFrames); }

    // The pictures the capture takes from now on: that size, in that format
    // (OMX_COLOR_FormatYCbYCr or OMX_COLOR_FormatYUV420SemiPlanar), scaled when the source's
    // differs. A picture of the earlier format may still come.
    void SetPictureFormat(OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat);
    // Who hears of waiting pictures (null: nobody). Returns once a notice under way is done.
    void SetPictureConsumer(void* pvContext, PfnPictureReady pfnReady);
    // The oldest picture waiting, or null; the caller owns the reference.
    GstSample* TakePicture();

private:
    // What a bus message means for the pipeline.
    enum EBusVerdict
    {
        Bus_Continue,
        Bus_Ended,   // the source ended and does not loop
        Bus_Failed,
    };

    enum EOpenState
    {
        OpenState_Waiting,
        OpenState_Ready,   // a picture's format is known (or, for a file, it has prerolled)
        OpenState_Failed,
    };

    static void CallbackPadAdded(GstElement* poDecoder, GstPad* poPad, gpointer pvSource);
    static void CallbackNoMorePads(GstElement* poDecoder, gpointer pvSource);
    static GstPadProbeReturn CallbackVideoCaps(GstPad* poPad, GstPadProbeInfo* poInfo, gpointer pvSource);
    static GstFlowReturn CallbackNewPicture(GstAppSink* poSink, gpointer pvSource);
    static GstFlowReturn CallbackNewAudio(GstAppSink* poSink, gpointer pvSource);
    static void SourceThread(CMediaSource* poSource);

    void Run();
    // Builds the pipeline and starts it; false with the reason in roMessage.
    bool Start(std::string& roMessage);
    void Stop();
    // One bus message; the reason in roMessage when the pipeline ended or failed.
    EBusVerdict HandleMessage(GstMessage* poMessage, std::string& roMessage);
    // Adds queue ! szConvert ! szAdapt ! capsfilter (poCaps, taken over) ! appsink after poPad,
    // the appsink paced by the clock and calling pfnNewSample. The appsink, or null (a failure
    // posted) when an element is missing or does not link.
    GstElement* AddBranch(GstPad* poPad, const char* szConvert, const char* szAdapt, GstCaps* poCaps,
                          GstFlowReturn (*pfnNewSample)(GstAppSink*, gpointer), GstElement*& rpoFilter);
    void AddVideoBranch(GstPad* poPad);
    void AddAudioBranch(GstPad* poPad);
    // The caps the video branch gives the capture.
    GstCaps* PictureCaps() const;
    void OnVideoCaps(const GstCaps* poCaps);
    // Records the signal and its reason, tells the input when it changed.
    void Report(const SSimulatedSignal& roSignal, const std::string& roMessage);
    void SetOpenState(EOpenState eState, const std::string& roMessage);
    // Sleeps until the stop request or uiMs; false on the stop request.
    bool Pause(unsigned uiMs);

    const EInputKind m_eKind;
    const std::string m_oLocation;
    void* const m_pvContext;
    const PfnSignalled m_pfnSignalled;
    CAudioRing m_oAudio;

    // Guards everything below but the control thread's own.
    mutable std::mutex m_oMutex;
    std::condition_variable m_oWake;
    bool m_bQuit;
    EOpenState m_eOpenState;
    std::string m_oOpenMessage;
    SSimulatedSignal m_oSignal;
    std::string m_oMessage;
    bool m_bHasAudio;
    std::string m_oUndecodedVideo;  // the caps of a video stream decodebin could not decode
    OMX_U32 m_uiPictureWidth;   // 0 until SetPictureFormat
    OMX_U32 m_uiPictureHeight;
    OMX_COLOR_FORMATTYPE m_ePictureFormat;
    GstElement* m_poPipeline;
    GstElement* m_poVideoFilter;  // the capsfilter before the video appsink, once it exists
    GstElement* m_poVideoSink;

    // Serialises picture notices with a change of consumer.
    std::mutex m_oConsumerMutex;
    void* m_pvConsumer;
    PfnPictureReady m_pfnConsumer;

    // The control thread's own.
    std::thread m_oThread;
    bool m_bPrerolled;  // a file's first preroll is done
};

#endif // CMEDIA_SOURCE_H
