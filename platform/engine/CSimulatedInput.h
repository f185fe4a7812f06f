// The simulated HDMI input signal that the capture and detection components see. Starts as
// PELLIX_SIM_INPUT says (1920x1080p60 when unset) and changes at run time through the
// test-control API.
#ifndef CSIMULATED_INPUT_H
#define CSIMULATED_INPUT_H

#include <OMX_Core.h>

#include <mutex>
#include <vector>

struct SSimulatedSignal
{
    bool bPresent;       // false for "none"; the other fields are then 0
    unsigned uiWidth;    // frame width in pixels
    unsigned uiHeight;   // frame height in lines (two fields of uiHeight / 2 lines when interlaced)
    unsigned uiRate;     // frames per second, or fields per second when interlaced
    bool bInterlaced;
};

class CSimulatedInput
{
public:
    // Told of every change, on the thread that made it, under the input's listener mutex: it
    // must not add or remove listeners or set the signal.
    typedef void (*PfnListener)(void* pvContext, const SSimulatedSignal& roSignal);

    static CSimulatedInput& Instance();

    // "none", "WxHpR" or "WxHiR"; false for any other text (roSignal then untouched).
    static bool Parse(const char* szSignal, SSimulatedSignal& roSignal);

    SSimulatedSignal Current() const;
    // Goes up by one with every accepted change, so that a component can poll for changes.
    unsigned Generation() const;
    OMX_ERRORTYPE Set(const char* szSignal);

    void AddListener(void* pvContext, PfnListener pfnListener);
    void RemoveListener(void* pvContext);

private:
    CSimulatedInput();

    struct SListener
    {
        void* pvContext;
        PfnListener pfnListener;
    };

    mutable std::mutex m_oMutex;
    std::mutex m_oListenerMutex;
    SSimulatedSignal m_oSignal;
    unsigned m_uiGeneration;
    std::vector<SListener> m_aoListeners;
};

#endif // CSIMULATED_INPUT_H
