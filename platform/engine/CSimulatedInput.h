// The HDMI input that the capture and detection components see: which source feeds it and the
// signal it carries. Starts as PELLIX_SIM_INPUT says (1920x1080p60 when unset) and changes at
// run time through the test-control API.
//
// Sources: a built-in pattern ("WxHpR", "WxHiR", optionally followed by ":bars", the default, or
// ":motion", the demanding one), nothing ("none"), or a real source read through GStreamer
// (CMediaSource, platform/capture): "file:PATH", "v4l2:DEVICE", "gst:DESCRIPTION". A real source
// reports its own signal as it changes (its caps, its end, its failure and return); the pattern's
// signal is the one its text names.
#ifndef CSIMULATED_INPUT_H
#define CSIMULATED_INPUT_H

#include <OMX_Core.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CMediaSource;

struct SSimulatedSignal
{
    bool bPresent;       // false for "none"; the other fields are then 0
    unsigned uiWidth;    // frame width in pixels
    unsigned uiHeight;   // frame height in lines (two fields of uiHeight / 2 lines when interlaced)
    unsigned uiRate;     // frames per second, or fields per second when interlaced
    bool bInterlaced;
};

bool operator==(const SSimulatedSignal& roA, const SSimulatedSignal& roB);
inline bool operator!=(const SSimulatedSignal& roA, const SSimulatedSignal& roB)
{
    return !(roA == roB);
}

enum EInputKind
{
    InputKind_Pattern,  // the built-in test pattern, or no signal ("none")
    InputKind_File,     // file:PATH
    InputKind_V4l2,     // v4l2:DEVICE
    InputKind_Gst,      // gst:DESCRIPTION
};

// The built-in pictures.
enum EPattern
{
    Pattern_Bars,    // colour bars, a moving bar and a counter (CTestPattern): cheap to code
    Pattern_Motion,  // fine detail moving everywhere (CMotionPattern): as hard to code as a camera's
};

// What an input text names.
struct SInputSelection
{
    EInputKind eKind = InputKind_Pattern;
    SSimulatedSignal oPattern = SSimulatedSignal();  // InputKind_Pattern: the signal
    EPattern ePattern = Pattern_Bars;                // InputKind_Pattern: the picture
    std::string oLocation;                           // the real sources: the text after the prefix
};

class CSimulatedInput
{
public:
    // Told of every change, on the thread that made it, under the input's listener mutex: it
    // must not add or remove listeners or set the input.
    typedef void (*PfnListener)(void* pvContext, const SSimulatedSignal& roSignal);

    static CSimulatedInput& Instance();

    // "none", "WxHpR", "WxHiR" (each of the last two optionally followed by ":bars" or
    // ":motion"), or a prefix "file:", "v4l2:", "gst:" followed by at least one character; false
    // for any other text (roSelection then untouched).
    static bool Parse(const char* szInput, SInputSelection& roSelection);

    SSimulatedSignal Current() const;
    // The picture the built-in pattern shows.
    EPattern Pattern() const;
    // Goes up by one with every change of the signal or of the source, so that a component can
    // poll for changes.
    unsigned Generation() const;
    // Selects another input. A real source is started and its first picture awaited first.
    // OMX_ErrorBadParameter for a text Parse refuses, OMX_ErrorContentPipeOpenFailed for a real
    // source that cannot serve (the reason in Status); the input then stays as it was.
    OMX_ERRORTYPE Set(const char* szInput);
    // How the last selection went: OMX_ErrorNone, or the error of a real source that could not
    // serve (or of a PELLIX_SIM_INPUT that named none); roMessage says why there is no signal or
    // why it failed, or is empty.
    OMX_ERRORTYPE Status(std::string& roMessage) const;
    // The real source feeding the input; null for the pattern.
    std::shared_ptr<CMediaSource> MediaSource() const;

    void AddListener(void* pvContext, PfnListener pfnListener);
    void RemoveListener(void* pvContext);

private:
    CSimulatedInput();
    ~CSimulatedInput();

    struct SListener
    {
        void* pvContext;
        PfnListener pfnListener;
    };

    // A real source's report of its signal; heeded only from the source that feeds the input.
    static void SourceSignalled(void* pvContext, const CMediaSource* poSource, const SSimulatedSignal& roSignal);
    // Starts a real source; null with the reason in roMessage when it cannot serve.
    std::shared_ptr<CMediaSource> OpenSource(const SInputSelection& roSelection, std::string& roMessage);
    // Makes the signal current and tells the listeners. With ppoReplaced, makes rpoSource (null
    // for the pattern) the input's source, whose own signal then replaces roSignal, and hands the
    // source it replaces to the caller, who stops it outside the locks; without, roSignal is a
    // report of rpoSource, heeded while it is the input's source.
    // ePattern is the new selection's picture (with ppoReplaced only).
    void Adopt(const SSimulatedSignal& roSignal, EPattern ePattern, const std::shared_ptr<CMediaSource>& rpoSource,
               std::shared_ptr<CMediaSource>* ppoReplaced);

    mutable std::mutex m_oMutex;
    std::mutex m_oListenerMutex;
    SSimulatedSignal m_oSignal;
    EPattern m_ePattern;
    unsigned m_uiGeneration;
    std::shared_ptr<CMediaSource> m_poSource;
    OMX_ERRORTYPE m_eStatus;
    std::string m_oStatusMessage;
    std::vector<SListener> m_aoListeners;
};

#endif // CSIMULATED_INPUT_H
