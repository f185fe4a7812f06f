// "OMX.TI.DUCATI.VIDENC": the H.264 encoder. Input port 0 takes NV12 pictures (Y plane, then
// interleaved CbCr, nStride bytes per line); output port 1 gives an H.264 byte stream.
//
// After each move to Executing the first output buffer carries the sequence and picture parameter
// sets alone (OMX_BUFFERFLAG_CODECCONFIG); every later one carries exactly one access unit made of
// its slices only, an IDR access unit starting with its IDR slice (OMX_BUFFERFLAG_SYNCFRAME), with
// no SEI, no access-unit delimiter and no repeated parameter set. Every output buffer carries
// OMX_BUFFERFLAG_ENDOFFRAME and the timestamp of the picture it codes (of the first picture, for
// the parameter sets). An input picture is only taken while an output buffer is free, so that a
// consumer that holds the output back holds the input back too. An input buffer flagged
// OMX_BUFFERFLAG_EOS ends the stream: the pictures still held come out and the last output
// buffer carries the flag; the next picture starts a new stream with its own parameter sets. An
// input buffer shorter than a picture is handed back uncoded and counted as dropped; an access
// unit larger than the output buffer is dropped with OMX_EventError (OMX_ErrorOverflow) and the
// next picture is coded as an IDR picture.
//
// Settings: the port definitions; OMX_TI_IndexParamVideoEncoderPreset and OMX_IndexParamVideoAvc
// (port 1, Loaded only); OMX_TI_IndexParamVideoStaticParams (port 1, read only: what the codec
// will be created with); OMX_TI_IndexConfigVideoDynamicParams (port 1, any state: the bit rate and
// the quantiser limits, applied to a running stream from its next picture; new limits restart
// the coding with an IDR picture); OMX_IndexConfigVideoIntraVOPRefresh (port 1, any state: with
// IntraRefreshVOP true the next picture coded is an IDR picture, so that a viewer joining a running
// stream can start decoding at once; reading it tells whether that request is still pending). See
// CH264EncoderSettings for what each steers.
//
// A live encoder never falls behind its input: the component times the coding of every picture
// (CCodingPace); when the pictures of the last second took longer on average than the input's
// rate allows, it codes the next ones with the next faster preset of the codec (CX264Session::
// SpeedUp: the same stream, profile, level and picture pattern) and says so once on standard
// error; at the fastest preset it says once that it cannot keep up. Pictures are never dropped
// for speed: they wait in the input port's buffers, whose number bounds the delay.
#ifndef CH264_ENCODER_COMPONENT_H
#define CH264_ENCODER_COMPONENT_H

#include <mutex>
#include <vector>

#include "CCodingPace.h"
#include "CH264EncoderSettings.h"
#include "CPlatformComponent.h"
#include "CX264Session.h"

class CH264EncoderComponent : public CPlatformComponent
{
public:
    explicit CH264EncoderComponent(const char* szName);
    ~CH264EncoderComponent() override;

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnProcess() override;
    OMX_ERRORTYPE OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;

private:
    // Why the coding drains the pictures it holds.
    enum EDrain
    {
        Drain_None,
        Drain_EndOfStream,  // the stream ends; the next picture starts a new one
        Drain_Restart,      // new quantiser limits: the coding restarts with them
    };

    bool ReadState(CH264EncoderSettings::SState& roState) const;
    // The state, for a structure of this component's own indices whose size, version and port
    // are right.
    OMX_ERRORTYPE ReadStateFor(OMX_INDEXTYPE eIndex, const void* pvStruct, size_t uiSize,
                               CH264EncoderSettings::SState& roState) const;
    OMX_ERRORTYPE SetDynamicParams(const OMX_VIDEO_PARAM_DYNAMICPARAMS& roGiven,
                                   const CH264EncoderSettings::SState& roState);
    // Reads or sets the request for an IDR picture.
    OMX_ERRORTYPE AccessIdrRequest(OMX_PTR pvStruct, bool bSet);

    // ---- The component's thread ----------------------------------------------------------
    bool OpenSession();
    // Picks up what the client changed while the stream runs; before every picture.
    void TakeSettingChanges();
    // One step of work; false when nothing can be done until buffers come.
    bool Step();
    bool StepDrain();
    void EncodeInput(OMX_BUFFERHEADERTYPE* poInput);
    // Notes how long a picture took; codes faster when the last second was too slow.
    void KeepPace(uint64_t uiMicroseconds);
    // Hands the access unit just coded to a free output buffer (which the caller knows is there).
    void DeliverAccessUnit(bool bEndOfStream);
    void DeliverParameterSets(OMX_TICKS nTimeStamp);
    void DeliverEmptyEndOfStream();

    // Guards the settings below, which the client's threads write.
    mutable std::mutex m_oSettingsMutex;
    IH264ENC_RateControlParams m_oRateControl;
    OMX_U32 m_nBitRate;
    bool m_bBitRateChanged;  // to be applied to the running stream
    bool m_bLimitsChanged;
    bool m_bIdrRequested;  // the next picture is to be an IDR picture

    // The component thread's own.
    CX264Session m_oSession;
    CCodingPace m_oPace;
    bool m_bBehindSaid;  // that the fastest preset cannot keep up either
    bool m_bParameterSetsDue;   // the next output buffer carries the parameter sets
    bool m_bForceIdr;
    bool m_bEndOfStreamSent;    // the current drain has flagged its last buffer
    EDrain m_eDrain;
    OMX_TICKS m_nLastTimeStamp;  // of the last input picture
    std::vector<uint8_t> m_aucSentParameterSets;
};

#endif // CH264_ENCODER_COMPONENT_H
