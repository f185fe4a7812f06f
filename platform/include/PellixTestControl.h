/* Test control of the simulated platform: fault injection, injected error events, delayed
 * command completion, per-component counters, the simulated input signal and the display
 * snapshot. Called by tests and by the host program's simulation options; the control library
 * never calls it. Every function may be called from any thread at any time. */
#ifndef PELLIX_TEST_CONTROL_H
#define PELLIX_TEST_CONTROL_H

#include <OMX_Core.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Fault injection ---------------------------------------------------------------------- */

/* The kinds of call a fault can be armed on. */
typedef enum PellixFaultKind
{
    PellixFault_GetHandle = 0,   /* OMX_GetHandle: fails before anything is created */
    PellixFault_FreeHandle,      /* OMX_FreeHandle: fails and leaves the handle alive */
    PellixFault_GetParameter,
    PellixFault_SetParameter,
    PellixFault_GetConfig,
    PellixFault_SetConfig,
    PellixFault_AllocateBuffer,
    PellixFault_UseBuffer,
    PellixFault_FreeBuffer,      /* fails and leaves the buffer allocated */
    PellixFault_SendCommand,     /* the call fails; the command is not queued */
    PellixFault_EmptyThisBuffer,
    PellixFault_FillThisBuffer,
    PellixFault_StateTransition, /* the command is accepted, then answered by OMX_EventError with
                                    the chosen code (second data word 0) instead of completion */
    PellixFault_KindCount
} PellixFaultKind;

/* Matches every index, every command or every target state. */
#define PELLIX_ANY_INDEX 0xFFFFFFFFu

/* Makes the next uiCount calls of eKind fail with eError (which must not be OMX_ErrorNone).
 * szComponent restricts the fault to components of that name (NULL: any component).
 * uiIndex restricts it further: the OMX_INDEXTYPE for Get/SetParameter and Get/SetConfig, the
 * OMX_COMMANDTYPE for SendCommand, the target OMX_STATETYPE for StateTransition, the port index
 * for AllocateBuffer, UseBuffer, FreeBuffer, EmptyThisBuffer and FillThisBuffer;
 * PELLIX_ANY_INDEX for all. Ignored for GetHandle and FreeHandle. Faults armed for the same
 * call are used in the order they were armed. OMX_ErrorBadParameter for a bad kind or error. */
OMX_ERRORTYPE PellixTest_InjectFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex,
                                     unsigned uiCount, OMX_ERRORTYPE eError);

/* The same, but the first uiSkip matching calls pass before the uiCount that fail: for example
 * the second of two calls a client makes in a row. */
OMX_ERRORTYPE PellixTest_InjectFaultAfter(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex,
                                          unsigned uiSkip, unsigned uiCount, OMX_ERRORTYPE eError);

/* Number of injected failures not yet used, all kinds together. */
unsigned PellixTest_PendingFaults(void);

/* ---- Events and timing -------------------------------------------------------------------- */

/* Sends OMX_EventError (eError, nData2) to the client of a component from the component's own
 * thread: of the handle hComponent when it is not NULL, else of every live component named
 * szComponent. OMX_ErrorComponentNotFound when no such component is alive. */
OMX_ERRORTYPE PellixTest_RaiseError(const char* szComponent, OMX_HANDLETYPE hComponent, OMX_ERRORTYPE eError,
                                    OMX_U32 nData2);

/* Delays every command sent from now on to components named szComponent (NULL: every
 * component) by uiMilliseconds: the command is carried out, and completes, no earlier than that
 * long after OMX_SendCommand. 0 removes the delay. */
OMX_ERRORTYPE PellixTest_DelayCommands(const char* szComponent, unsigned uiMilliseconds);

/* ---- Counters ----------------------------------------------------------------------------- */

typedef enum PellixCounter
{
    PellixCounter_BuffersEmptied = 0, /* EmptyBufferDone callbacks sent */
    PellixCounter_BuffersFilled,      /* FillBufferDone callbacks sent */
    PellixCounter_FramesProduced,     /* a source made a frame */
    PellixCounter_FramesConsumed,     /* a filter or sink processed an input frame */
    PellixCounter_FramesShown,        /* a display showed a frame */
    PellixCounter_FramesEncoded,      /* an encoder emitted an encoded frame */
    PellixCounter_FramesDropped,      /* a frame was lost for want of a buffer */
    PellixCounter_Count
} PellixCounter;

/* The counter summed over every component of that name created since the last reset, freed
 * ones included. 0 for an unknown name or counter. */
unsigned long long PellixTest_GetCounter(const char* szComponent, PellixCounter eCounter);

/* Disarms every fault, removes every delay and zeroes every counter. */
void PellixTest_Reset(void);

/* ---- Simulated devices -------------------------------------------------------------------- */

/* Sets the simulated HDMI input, as PELLIX_SIM_INPUT: "none", "WxHpR" (the test pattern,
 * progressive, R frames/s), "WxHiR" (interlaced, W x H the frame, R fields/s), each optionally
 * followed by ":bars" (colour bars, the default) or ":motion" (fine detail moving everywhere,
 * as hard to code as a camera's pictures), or a real source
 * read through GStreamer: "file:PATH" (looped), "v4l2:DEVICE", "gst:DESCRIPTION" (ending in
 * video). A real source is started first and its first picture awaited (up to 10 s). Takes
 * effect at once for the capture and detection components. OMX_ErrorBadParameter for any other
 * text; OMX_ErrorContentPipeOpenFailed for a real source that cannot serve (a file missing or
 * not decodable, a description that does not parse, no video, an end before the first picture:
 * PellixTest_GetSimulatedInputStatus says why). After either the input stays as it was. */
OMX_ERRORTYPE PellixTest_SetSimulatedInput(const char* szSignal);

/* How the simulated HDMI input stands, PELLIX_SIM_INPUT's choice included: OMX_ErrorNone when
 * it serves, szMessage then empty or telling why there is no signal now (a V4L2 device missing,
 * a source that ended); the error of the last choice that could not serve otherwise, szMessage
 * telling why. szMessage (uiMessageSize bytes, may be NULL) is always terminated. */
OMX_ERRORTYPE PellixTest_GetSimulatedInputStatus(char* szMessage, unsigned uiMessageSize);

/* Writes the frame the display showed last to szPath. OMX_ErrorNotReady when no display
 * component is alive or it has shown nothing yet; OMX_ErrorBadParameter for a NULL path;
 * OMX_ErrorUndefined when the file cannot be written. */
OMX_ERRORTYPE PellixTest_WriteDisplaySnapshot(const char* szPath);

#ifdef __cplusplus
}
#endif

#endif /* PELLIX_TEST_CONTROL_H */
