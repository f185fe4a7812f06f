// The platform's OpenMAX IL extensions: vendor indices and the structures exchanged with the
// device components through them. Shared by the library and the platform's components.
#ifndef TI814X_OMX_H
#define TI814X_OMX_H

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_IVCommon.h>
#include <OMX_Video.h>

#include <cstring>

// ---- Vendor indices -----------------------------------------------------------------------
enum OMX_TI_INDEXTYPE
{
    OMX_TI_IndexParamBuffMemType = OMX_IndexVendorStartUnused + 0x100,

    // Capture and its receiver control.
    OMX_TI_IndexParamVFCCHwPortID,
    OMX_TI_IndexParamVFCCHwPortProperties,
    OMX_TI_IndexConfigVFCCFrameSkip,
    OMX_TI_IndexParamCTRLVidDecInfo,
    OMX_TI_IndexParamCtrlVidDecDetectVideo,
    OMX_TI_IndexParamCtrlColorRange,

    // Deinterlacer and scaler.
    OMX_TI_IndexParamVFPCNumChPerHandle,
    OMX_TI_IndexConfigVidChResolution,
    OMX_TI_IndexConfigResolutionChangeType,
    OMX_TI_IndexConfigAlgEnable,
    OMX_TI_IndexConfigSubSamplingFactor,

    // H.264 encoder.
    OMX_TI_IndexParamVideoEncoderPreset,
    OMX_TI_IndexParamVideoStaticParams,
    OMX_TI_IndexConfigVideoDynamicParams,

    // Display controller and its control.
    OMX_TI_IndexParamVFDCDriverInstId,
    OMX_TI_IndexParamVFDCCustomModeInfo,
    OMX_TI_IndexParamVFDCCreateMosaicLayout,
    OMX_TI_IndexConfigVFDCModifyMosaicLayout,
    OMX_TI_IndexConfigVFDCMosaicPort2WinMap,
    OMX_TI_IndexConfigCtrlSetCsc,
};

// ---- Shared by several components ----------------------------------------------------------

// Every structure exchanged with the platform starts zeroed, then carries its size and the
// version 1.1.0.0 ...
template <typename TStruct>
inline void OmxInitStructureHeader(TStruct& roStruct)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
}

// ... and, where it has one, the port it is about.
template <typename TStruct>
inline void OmxInitStructure(TStruct& roStruct, OMX_U32 nPortIndex = 0)
{
    OmxInitStructureHeader(roStruct);
    roStruct.nPortIndex = nPortIndex;
}
typedef enum OMX_BUFFER_MEMORYTYPE
{
    OMX_BUFFER_MEMORY_CUSTOM_TILER = 0,
    OMX_BUFFER_MEMORY_DEFAULT = 1,
} OMX_BUFFER_MEMORYTYPE;

typedef struct OMX_PARAM_BUFFER_MEMORYTYPE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_BUFFER_MEMORYTYPE eBufMemoryType;
} OMX_PARAM_BUFFER_MEMORYTYPE;

// ---- Capture and receiver control -----------------------------------------------------------
// Each enumeration ends, as OpenMAX IL's own do, with a value that makes every 31-bit number one
// of its values: a component reads whatever a client wrote into a field before it checks it.

// How the video input port multiplexes its channels.
typedef enum OMX_VIDEO_CAPTUREMODETYPE
{
    OMX_VIDEO_CaptureModeSC_NON_MUX = 1,  // one channel, not multiplexed
    OMX_VIDEO_CaptureModeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTUREMODETYPE;

// Width of the video interface between the receiver and the input port.
typedef enum OMX_VIDEO_CAPTUREVIFMODETYPE
{
    OMX_VIDEO_CaptureVifMode_8BIT = 1,
    OMX_VIDEO_CaptureVifMode_16BIT = 2,
    OMX_VIDEO_CaptureVifMode_24BIT = 3,
    OMX_VIDEO_CaptureVifModeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTUREVIFMODETYPE;

typedef enum OMX_VIDEO_CAPTURESCANTYPE
{
    OMX_VIDEO_CaptureScanTypeProgressive = 1,
    OMX_VIDEO_CaptureScanTypeInterlaced = 2,  // frames hold their two fields one after the other
    OMX_VIDEO_CaptureScanTypeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTURESCANTYPE;

// The chip's video input ports.
typedef enum OMX_VIDEO_CAPTUREHWPORTID
{
    OMX_VIDEO_CaptureHWPortVIP1_PORTA = 1,
    OMX_VIDEO_CaptureHWPortVIP1_PORTB = 2,
    OMX_VIDEO_CaptureHWPortVIP2_PORTA = 3,
    OMX_VIDEO_CaptureHWPortVIP2_PORTB = 4,
    OMX_VIDEO_CaptureHWPortMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTUREHWPORTID;

// OMX_TI_IndexParamVFCCHwPortProperties, to the capture component and to the receiver control:
// what arrives on the input port and the largest picture it carries.
typedef struct OMX_PARAM_VFCC_HWPORT_PROPERTIES
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_CAPTUREMODETYPE eCaptMode;
    OMX_VIDEO_CAPTUREVIFMODETYPE eVifMode;
    OMX_COLOR_FORMATTYPE eInColorFormat;
    OMX_VIDEO_CAPTURESCANTYPE eScanType;
    OMX_U32 nMaxWidth;
    OMX_U32 nMaxHeight;
    OMX_U32 nMaxChnlsPerHwPort;
} OMX_PARAM_VFCC_HWPORT_PROPERTIES;

// OMX_TI_IndexParamVFCCHwPortID: the input port a capture or receiver control works on.
typedef struct OMX_PARAM_VFCC_HWPORT_ID
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_CAPTUREHWPORTID eHwPortId;
} OMX_PARAM_VFCC_HWPORT_ID;

// OMX_TI_IndexConfigVFCCFrameSkip: bit i set skips input frame i of every 30 (bits 30 and 31
// are not used); 0x2AAAAAAA keeps every other frame.
typedef struct OMX_CONFIG_VFCC_FRAMESKIP_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 frameSkipMask;
} OMX_CONFIG_VFCC_FRAMESKIP_INFO;

typedef enum OMX_VIDEO_DECODER_STD
{
    OMX_VIDEO_DECODER_STD_AUTO_DETECT = 1,
} OMX_VIDEO_DECODER_STD;

// The video receivers a receiver control drives.
typedef enum OMX_VID_DEC_ID
{
    OMX_VID_DEC_ADV7611_DRV = 4,  // the HDMI receiver
} OMX_VID_DEC_ID;

typedef enum OMX_VIDEO_DECODER_VIDEO_SYSTEM
{
    OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT = 2,
} OMX_VIDEO_DECODER_VIDEO_SYSTEM;

// OMX_TI_IndexParamCTRLVidDecInfo: which receiver the control drives and what it looks for.
typedef struct OMX_PARAM_CTRL_VIDDECODER_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_DECODER_STD videoStandard;
    OMX_VID_DEC_ID videoDecoderId;
    OMX_VIDEO_DECODER_VIDEO_SYSTEM videoSystemId;
} OMX_PARAM_CTRL_VIDDECODER_INFO;

// OMX_TI_IndexParamCtrlVidDecDetectVideo (read only): the signal the receiver sees on channel
// uiChannelIndex. An interlaced signal is described by one field: uiFrameHeight is the field's
// height and uiFrameInterval the time between fields, in microseconds.
typedef struct OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 uiChannelIndex;
    OMX_BOOL bIsPresent;
    OMX_U32 uiFrameWidth;
    OMX_U32 uiFrameHeight;
    OMX_U32 uiFrameInterval;
    OMX_BOOL bInterlaced;
} OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO;

// OMX_TI_IndexParamCtrlColorRange, to the receiver control and to the display control: full
// (0..255) or limited (16..235) range on the video interface.
typedef struct OMX_PARAM_CTRL_COLOR_RANGE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_BOOL bFullRange;
} OMX_PARAM_CTRL_COLOR_RANGE;

// ---- Deinterlacer and scaler ----------------------------------------------------------------

// OMX_TI_IndexConfigSubSamplingFactor: 2 when each input buffer holds one field of a frame, 1
// when it holds a whole frame.
typedef struct OMX_CONFIG_SUBSAMPLING_FACTOR
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nSubSamplingFactor;
} OMX_CONFIG_SUBSAMPLING_FACTOR;

// OMX_TI_IndexParamVFPCNumChPerHandle: channels one component instance processes.
typedef struct OMX_PARAM_VFPC_NUMCHANNELPERHANDLE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nNumChannelsPerHandle;
} OMX_PARAM_VFPC_NUMCHANNELPERHANDLE;

// OMX_TI_IndexConfigVidChResolution, one per direction of channel nChId. Input: Frm0 is the
// picture of one input buffer (a field when the subsampling factor is 2) and FrmStart/FrmCrop
// the part of it that is processed. Output: Frm0 is the primary output's picture, Frm1 the
// secondary's. Widths and heights in pixels, pitches in bytes.
typedef struct OMX_CONFIG_VIDCHANNEL_RESOLUTION
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_DIRTYPE eDir;
    OMX_U32 nChId;
    OMX_U32 Frm0Width;
    OMX_U32 Frm0Height;
    OMX_U32 Frm0Pitch;
    OMX_U32 Frm1Width;
    OMX_U32 Frm1Height;
    OMX_U32 Frm1Pitch;
    OMX_U32 FrmStartX;
    OMX_U32 FrmStartY;
    OMX_U32 FrmCropWidth;
    OMX_U32 FrmCropHeight;
} OMX_CONFIG_VIDCHANNEL_RESOLUTION;

typedef enum OMX_RESOLUTIONCHANGE_TYPE
{
    OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT = 0,  // follow the channel resolution last configured
} OMX_RESOLUTIONCHANGE_TYPE;

// OMX_TI_IndexConfigResolutionChangeType of channel nChId.
typedef struct OMX_CONFIG_RESOLUTIONCHANGE_TYPE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nChId;
    OMX_RESOLUTIONCHANGE_TYPE eResolutionChangeType;
} OMX_CONFIG_RESOLUTIONCHANGE_TYPE;

// OMX_TI_IndexConfigAlgEnable of channel nChId: OMX_TRUE bypasses the deinterlacing algorithm.
typedef struct OMX_CONFIG_ALG_ENABLE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nChId;
    OMX_BOOL bAlgBypass;
} OMX_CONFIG_ALG_ENABLE;

// ---- H.264 encoder --------------------------------------------------------------------------

// OMX_TI_IndexParamVideoEncoderPreset (output port): how much effort the encoder spends per
// picture, and how its rate control trades delay for steadiness.
typedef enum OMX_VIDEO_ENCODING_MODE_PRESETTYPE
{
    OMX_Video_Enc_Default = 0,
    OMX_Video_Enc_High_Quality = 1,
    OMX_Video_Enc_User_Defined = 2,  // the coding tools and limits come from the codec parameters
    OMX_Video_Enc_High_Speed_Med_Quality = 3,
    OMX_Video_Enc_Med_Speed_Med_Quality = 4,
    OMX_Video_Enc_Med_Speed_High_Quality = 5,
    OMX_Video_Enc_High_Speed = 6,
} OMX_VIDEO_ENCODING_MODE_PRESETTYPE;

typedef enum OMX_VIDEO_RATECONTROL_PRESETTYPE
{
    OMX_Video_RC_Low_Delay = 0,  // constant bit rate, small decoder buffer: for live streams
    OMX_Video_RC_Storage = 1,    // average bit rate, large decoder buffer: for recordings
    OMX_Video_RC_Twopass = 2,
    OMX_Video_RC_None = 3,
    OMX_Video_RC_User_Defined = 4,
} OMX_VIDEO_RATECONTROL_PRESETTYPE;

typedef struct OMX_VIDEO_PARAM_ENCODER_PRESETTYPE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncodingModePreset;
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControlPreset;
} OMX_VIDEO_PARAM_ENCODER_PRESETTYPE;

// The codec's own parameter records, carried inside the two structures below.

// Which quantiser limits apply: the encoder's own, the ones given, or the ones in force.
typedef enum IH264ENC_RateControlParamsPreset
{
    IH264_RATECONTROLPARAMS_DEFAULTPRESET = 0,
    IH264_RATECONTROLPARAMS_USERDEFINED = 1,
    IH264_RATECONTROLPARAMS_EXISTING = 2,
} IH264ENC_RateControlParamsPreset;

// Quantiser limits per picture type, 0 to 51. The qp fields are start values; -1 lets the encoder
// choose.
typedef struct IH264ENC_RateControlParams
{
    OMX_S8 rateControlParamsPreset;  // an IH264ENC_RateControlParamsPreset
    OMX_S8 qpI;
    OMX_S8 qpMaxI;
    OMX_S8 qpMinI;
    OMX_S8 qpP;
    OMX_S8 qpMaxP;
    OMX_S8 qpMinP;
    OMX_S8 qpOffsetB;  // B pictures relative to P pictures
    OMX_S8 qpMaxB;
    OMX_S8 qpMinB;
    OMX_S8 allowFrameSkip;
    OMX_S8 reserved;
} IH264ENC_RateControlParams;

typedef enum IH264ENC_SliceMode
{
    IH264_SLICEMODE_NONE = 0,    // one slice per picture
    IH264_SLICEMODE_MBUNIT = 1,  // slices of sliceUnitSize macroblocks
    IH264_SLICEMODE_BYTES = 2,   // slices of at most sliceUnitSize bytes
} IH264ENC_SliceMode;

typedef enum IH264ENC_StreamFormat
{
    IH264_BYTE_STREAM = 0,  // start codes before every NAL unit
    IH264_NALU_STREAM = 1,
} IH264ENC_StreamFormat;

#define IH264ENC_MAX_NUM_SLICE_START_OFFSET 3

typedef struct IH264ENC_SliceCodingParams
{
    OMX_S32 sliceMode;      // an IH264ENC_SliceMode
    OMX_S32 sliceUnitSize;
    OMX_S32 sliceStartOffset[IH264ENC_MAX_NUM_SLICE_START_OFFSET];  // first macroblock row of slices 1, 2, 3
    OMX_S32 streamFormat;   // an IH264ENC_StreamFormat
} IH264ENC_SliceCodingParams;

typedef enum IH264ENC_EntropyCodingMode
{
    IH264_ENTROPYCODING_CAVLC = 0,
    IH264_ENTROPYCODING_CABAC = 1,
} IH264ENC_EntropyCodingMode;

typedef enum IH264ENC_TransformBlockSize
{
    IH264_TRANSFORM_4x4 = 0,
    IH264_TRANSFORM_ADAPTIVE = 1,  // 4x4 or 8x8 per macroblock
} IH264ENC_TransformBlockSize;

// What any video encoder is created with.
typedef struct IVIDENC2_Params
{
    OMX_S32 size;                   // bytes of the record
    OMX_S32 encodingPreset;         // an OMX_VIDEO_ENCODING_MODE_PRESETTYPE
    OMX_S32 rateControlPreset;      // an OMX_VIDEO_RATECONTROL_PRESETTYPE
    OMX_S32 maxHeight;              // lines
    OMX_S32 maxWidth;               // pixels
    OMX_S32 maxInterFrameInterval;  // 1 + B pictures between reference pictures
    OMX_S32 inputChromaFormat;      // the input's OMX_COLOR_FORMATTYPE
    OMX_S32 profile;                // profile_idc of the stream: 66, 77, 100
    OMX_S32 level;                  // level_idc of the stream: 42 is level 4.2
} IVIDENC2_Params;

// OMX_TI_IndexParamVideoStaticParams (output port, read only): what the H.264 encoder will be
// created with on the next move to executing, from the port definitions, the preset, the AVC
// parameters and the dynamic parameters in force.
typedef struct IH264ENC_Params
{
    IVIDENC2_Params videnc2Params;
    IH264ENC_RateControlParams rateControlParams;
    IH264ENC_SliceCodingParams sliceCodingParams;
    OMX_S32 entropyCodingMode;   // an IH264ENC_EntropyCodingMode
    OMX_S32 transformBlockSize;  // an IH264ENC_TransformBlockSize
} IH264ENC_Params;

typedef struct OMX_VIDEO_PARAM_STATICPARAMS
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    IH264ENC_Params videoStaticParams;
} OMX_VIDEO_PARAM_STATICPARAMS;

// What any video encoder may change while it runs. The picture size, the frame rates and the
// picture intervals follow the port definitions and the AVC parameters; a set may change the
// bit rate, but not them.
typedef struct IVIDENC2_DynamicParams
{
    OMX_S32 size;                // bytes of the record
    OMX_S32 inputHeight;         // lines
    OMX_S32 inputWidth;          // pixels
    OMX_S32 refFrameRate;        // frames per 1000 seconds
    OMX_S32 targetFrameRate;     // frames per 1000 seconds
    OMX_S32 targetBitRate;       // bits per second
    OMX_S32 intraFrameInterval;  // pictures from one I picture to the next
    OMX_S32 interFrameInterval;  // pictures from one reference picture to the next
} IVIDENC2_DynamicParams;

typedef struct IH264ENC_DynamicParams
{
    IVIDENC2_DynamicParams videnc2DynamicParams;
    IH264ENC_RateControlParams rateControlParams;
} IH264ENC_DynamicParams;

// OMX_TI_IndexConfigVideoDynamicParams (output port), in any state; a set while executing applies
// from the next picture on.
typedef struct OMX_VIDEO_PARAM_DYNAMICPARAMS
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    IH264ENC_DynamicParams videoDynamicParams;
} OMX_VIDEO_PARAM_DYNAMICPARAMS;

// ---- Display controller ---------------------------------------------------------------------

// Display outputs a display component or its controller drives.
typedef enum OMX_VIDEO_DISPLAY_ID
{
    OMX_VIDEO_DISPLAY_ID_HD0 = 0,  // the first HD output: the monitor
} OMX_VIDEO_DISPLAY_ID;

// Timing of the output's video encoder.
typedef enum OMX_DC_MODETYPE
{
    OMX_DC_MODE_CUSTOM = 6,  // the timing of OMX_PARAM_DC_CUSTOM_MODE_INFO
} OMX_DC_MODETYPE;

// OMX_TI_IndexParamVFDCDriverInstId, to the display component and to its controller.
typedef struct OMX_PARAM_VFDC_DRIVERINSTID
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nDrvInstID;               // an OMX_VIDEO_DISPLAY_ID
    OMX_DC_MODETYPE eDispVencMode;
} OMX_PARAM_VFDC_DRIVERINSTID;

typedef enum Omx_DcScanFormat
{
    OMX_DC_SF_INTERLACED = 0,
    OMX_SF_PROGRESSIVE = 1,
} Omx_DcScanFormat;

// OMX_TI_IndexParamVFDCCustomModeInfo: the output's timing. An interlaced mode counts the lines
// and the rate of one field.
typedef struct OMX_PARAM_DC_CUSTOM_MODE_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 width;         // active pixels per line
    OMX_U32 height;        // active lines
    Omx_DcScanFormat scanFormat;
    OMX_U32 pixelClock;    // kHz
    OMX_U32 fps;           // vertical refresh, Hz
    OMX_U32 hFrontPorch;   // pixels
    OMX_U32 hBackPorch;
    OMX_U32 hSyncLen;
    OMX_U32 vFrontPorch;   // lines
    OMX_U32 vBackPorch;
    OMX_U32 vSyncLen;
} OMX_PARAM_DC_CUSTOM_MODE_INFO;

// OMX_TI_IndexConfigCtrlSetCsc: the colour-space converter's matrix as two's-complement
// fixed-point codes: coefficients with 3 integer and 10 fraction bits, offsets with 10 integer
// and 2 fraction bits.
typedef struct OMX_CONFIG_CTRL_SET_CSC
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 auiRedVector[3];
    OMX_U32 auiGreenVector[3];
    OMX_U32 auiBlueVector[3];
    OMX_U32 auiOffsetVector[3];
} OMX_CONFIG_CTRL_SET_CSC;

// Layout of the pixels a window reads.
typedef enum VFDC_DataFormat
{
    VFDC_DF_YUV422I_YVYU = 2,  // one packed 4:2:2 plane
    VFDC_DF_YUV422SP_VU = 5,   // a luma plane and an interleaved chroma plane of half the height
} VFDC_DataFormat;

typedef enum VFDC_BitsPerPixel
{
    VFDC_BPP_BITS12 = 4,
    VFDC_BPP_BITS16 = 5,
} VFDC_BitsPerPixel;

// Windows of a mosaic layout and layouts a display component keeps.
#define OMX_VFDC_MAX_WINDOWS 20
#define OMX_VFDC_MAX_LAYOUTS 5
#define OMX_VFDC_MAX_PLANES 2

// One window of a mosaic layout. pitch[0] is the byte length of a line of the first plane;
// with VFDC_DF_YUV422SP_VU, pitch[1] counts the Cb/Cr pairs of a chroma line.
typedef struct OMX_VFDC_MultipleWindowFmt
{
    OMX_U32 winStartX;
    OMX_U32 winStartY;
    OMX_U32 winWidth;
    OMX_U32 winHeight;
    OMX_U32 pitch[OMX_VFDC_MAX_PLANES];
    VFDC_DataFormat dataFormat;
    VFDC_BitsPerPixel bpp;
    OMX_U32 priority;  // stacking order: a higher priority lies above a lower one
} OMX_VFDC_MultipleWindowFmt;

// OMX_TI_IndexParamVFDCCreateMosaicLayout (in Loaded) and
// OMX_TI_IndexConfigVFDCModifyMosaicLayout (any state, never the layout on screen): the windows
// of layout nLayoutId.
typedef struct OMX_PARAM_VFDC_CREATEMOSAICLAYOUT
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nDisChannelNum;
    OMX_U32 nNumWindows;
    OMX_U32 nLayoutId;
    OMX_VFDC_MultipleWindowFmt sMosaicWinFmt[OMX_VFDC_MAX_WINDOWS];
} OMX_PARAM_VFDC_CREATEMOSAICLAYOUT;

// OMX_TI_IndexConfigVFDCMosaicPort2WinMap: selects layout nLayoutId for the screen, window i
// showing the frames of input port omxPortList[i].
typedef struct OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nLayoutId;
    OMX_U32 numWindows;
    OMX_U32 omxPortList[OMX_VFDC_MAX_WINDOWS];
} OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP;

#endif // TI814X_OMX_H
