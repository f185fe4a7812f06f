// The settings of the H.264 encoder component: their defaults, their checks, and what one
// encoding session is opened with, resolved from the port definitions, the preset, the AVC
// parameters and the rate control in force.
//
// Only the picture size, frame rate, bit rate, picture intervals (nPFrames, nBFrames), profile,
// level, number of reference pictures, the two presets and the quantiser limits steer the codec.
// The entropy coding and the transform size follow the profile (Baseline: CAVLC, 4x4; Main:
// CABAC, 4x4; High: CABAC, adaptive 8x8); the other AVC fields are kept as given.
//
// The static and dynamic parameters are answered whole: what the codec is created with and runs
// with, in the codec's own terms (its preset and chroma-format numbers, frame rates per 1000
// seconds, the decoder buffer in bits). A set of the dynamic parameters reads the bit rate and the
// rate-control record (its other fields are kept and answered as given); every other field must
// hold what the component answers, and the inter, intra and slice records the default or existing
// preset: the codec codes with its own tools, whole pictures in, whole access units out.
#ifndef CH264_ENCODER_SETTINGS_H
#define CH264_ENCODER_SETTINGS_H

#include <cstring>

#include "ti814x-omx.h"

class CPlatformPort;

// The rate a stream is coded at and the decoder buffer it is coded for.
struct SH264BufferModel
{
    unsigned uiKiloBitRate;     // on average
    unsigned uiMaxKiloBitRate;  // the rate the buffer fills at, at most
    unsigned uiBufferKiloBits;
};

// What one encoding session is opened with.
struct SH264SessionConfig
{
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiStride;         // bytes per line of both planes of the NV12 input
    OMX_U32 xFramerate;        // frames per second, Q16
    unsigned uiBitRate;        // bits per second
    unsigned uiKeyInterval;    // pictures from one IDR picture to the next
    unsigned uiBFrames;        // B pictures between reference pictures
    unsigned uiRefFrames;
    int iProfileIdc;           // 66, 77 or 100
    int iLevelIdc;             // 42 is level 4.2
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncodingPreset;
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControlPreset;
    int iQpMin;
    int iQpMax;
};

class CH264EncoderSettings
{
public:
    // Ports and slices of the component.
    static constexpr OMX_U32 s_nInputPort = 0;
    static constexpr OMX_U32 s_nOutputPort = 1;
    // Codec threads, each coding its own slice of every picture (no picture of delay).
    static constexpr unsigned s_uiSliceThreads = 2;
    // Limits of what the codec is given.
    static constexpr OMX_U32 s_nMaxSize = 4096;
    // Lines: the first row of the second slice is an 8-bit field of the static parameters.
    static constexpr OMX_U32 s_nMaxHeight = 4064;
    static constexpr OMX_U32 s_nMaxBitRate = 300000000;
    static constexpr int s_iMaxQp = 51;

    // Everything the component holds that steers the codec.
    struct SState
    {
        OMX_PARAM_PORTDEFINITIONTYPE oInput;
        OMX_PARAM_PORTDEFINITIONTYPE oOutput;
        OMX_VIDEO_PARAM_ENCODER_PRESETTYPE oPreset;
        OMX_VIDEO_PARAM_AVCTYPE oAvc;
        IH264ENC_RateControlParams oRateControl;
        OMX_U32 nBitRate;  // in force: the last one given, by port definition or dynamic parameters
    };

    // ---- Defaults: 1920 x 1080 NV12 at 60 frames per second, 10 Mbit/s, Main profile level
    // 4.2 with an IDR picture every 60, medium speed, low delay, the codec's own quantisers.
    static void SetDefaultInputPort(CPlatformPort& roPort);
    static void SetDefaultOutputPort(CPlatformPort& roPort);
    static OMX_VIDEO_PARAM_ENCODER_PRESETTYPE DefaultPreset();
    static OMX_VIDEO_PARAM_AVCTYPE DefaultAvc();
    // The codec's own quantiser range and start values under the default rate-control preset.
    static IH264ENC_RateControlParams DefaultRateControl();

    // ---- Checks: OMX_ErrorBadParameter for what the codec cannot honour --------------------
    // NV12 of even width up to 4096 and even height up to 4064, a line pitch up to 8192, a frame rate above 0
    // and up to 240. Raises nStride to the width, sets nSliceHeight to the height (the chroma
    // plane follows the last luma line) and raises nBufferSize to a whole frame.
    static OMX_ERRORTYPE CheckInputPort(OMX_PARAM_PORTDEFINITIONTYPE& roNew);
    // AVC of 1 bit/s to 300 Mbit/s.
    static OMX_ERRORTYPE CheckOutputPort(const OMX_PARAM_PORTDEFINITIONTYPE& roNew);
    // A known encoding preset; the low-delay or the storage rate control (a live encoder makes
    // one pass and always controls its rate).
    static OMX_ERRORTYPE CheckPreset(const OMX_VIDEO_PARAM_ENCODER_PRESETTYPE& roNew);
    // Baseline (without B pictures), Main or High; a level from 1 to 5.1; at most 16 B and 16
    // reference pictures; no interlaced coding. Sets the entropy coding and the allowed picture
    // types the profile implies.
    static OMX_ERRORTYPE CheckAvc(OMX_VIDEO_PARAM_AVCTYPE& roNew);
    // A known preset; user-defined limits within 0..51 with each minimum at most its maximum;
    // start values of -1 or within 0..51.
    static OMX_ERRORTYPE CheckRateControl(const IH264ENC_RateControlParams& roNew);
    // A set of the dynamic parameters against those answered now (see above).
    static OMX_ERRORTYPE CheckDynamicParams(const IH264ENC_DynamicParams& roNew, const IH264ENC_DynamicParams& roNow);

    // profile_idc and level_idc of the AVC enumerations; 0 for one the codec does not make.
    static int ProfileIdc(OMX_VIDEO_AVCPROFILETYPE eProfile);
    static int LevelIdc(OMX_VIDEO_AVCLEVELTYPE eLevel);

    // ---- Views of the state --------------------------------------------------------------
    static SH264SessionConfig SessionConfig(const SState& roState);
    static SH264BufferModel BufferModel(OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControl, unsigned uiBitRate);
    static IH264ENC_DynamicParams DynamicView(const SState& roState);
    static IH264ENC_Params StaticView(const SState& roState);
    // The rate control in force: the given record under the user-defined preset, else the
    // codec's own (quantisers 0..51 chosen by the codec, its algorithm and decoder buffer).
    static IH264ENC_RateControlParams EffectiveRateControl(const SState& roState);

    // Zeroes a structure and sets nSize, nVersion 1.1 and nPortIndex.
    template <typename TStruct>
    static void InitStruct(TStruct& roStruct, OMX_U32 nPortIndex)
    {
        OmxInitStructure(roStruct, nPortIndex);
    }
};

#endif // CH264_ENCODER_SETTINGS_H
