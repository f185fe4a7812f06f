// The platform's OpenMAX IL extensions: its vendor indices, the structures exchanged with the
// device components through them, and the H.264 codec's parameter records those structures carry.
// Shared by the library and the platform's components.
//
// Everything here is declared as the platform publishes it: the same names, index values, member
// order and types, array lengths and enumerator values, so that a structure built here is read
// byte for byte as the appliance's IL core reads it (tests/data/ti814x-omx-layout.txt holds every
// size and offset on the appliance's 32-bit ARM target, checked by the VendorLayout tests). The
// codec's scalar types are declared with fixed widths (XDAS_Int32 is a 32-bit int, not a long),
// so the codec records have one layout on the target and on a 64-bit host; the OpenMAX IL
// structures follow OMX_U32, which the host's OpenMAX IL headers make 8 bytes wide.
//
// Our own, because the platform publishes no declaration of them (the appliance's receiver and
// display controls are additions to the platform's control component):
// - the indices OMX_TI_IndexParamCtrlVidDecDetectVideo, OMX_TI_IndexParamCtrlColorRange and
//   OMX_TI_IndexConfigCtrlSetCsc, numbered in a range of our own at the top of the vendor index
//   range (OMX_IndexVendorStartUnused + 0xF0001 ...), far from the published entries and from
//   any a later platform release appends after them;
// - the structures OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO, OMX_PARAM_CTRL_COLOR_RANGE and
//   OMX_CONFIG_CTRL_SET_CSC (the standard header, then their fields as 32-bit values);
// - the receiver OMX_VID_DEC_ADV7611_DRV (4, the next free value of OMX_CTRL_VID_DECODER_ID);
// - the value sets IH264ENC_EntropyCodingMode and IH264ENC_TransformBlockSize of the codec's
//   entropyCodingMode and transformBlockSize, and OMX_VFDC_MAX_LAYOUTS;
// - the descriptor the codec's data-sync callbacks are handed: declared only by name (nothing
//   of the system calls them; the members are null and only their width counts);
// - OmxInitStructureHeader and OmxInitStructure, at the end.
#ifndef TI814X_OMX_H
#define TI814X_OMX_H

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_IVCommon.h>
#include <OMX_Video.h>

#include <cstdint>
#include <cstring>

// ---- The codec's scalar types ---------------------------------------------------------------
typedef int8_t XDAS_Int8;
typedef uint8_t XDAS_UInt8;
typedef int16_t XDAS_Int16;
typedef uint16_t XDAS_UInt16;
typedef int32_t XDAS_Int32;
typedef uint32_t XDAS_UInt32;

// ---- Vendor indices -------------------------------------------------------------------------
// Numbered from OMX_IndexVendorStartUnused + 1, one by one; the static, dynamic and status
// parameters of a video codec have one index for both parameter and configuration.
enum OMX_TI_INDEXTYPE
{
    OMX_IndexConfigAutoPauseAfterCapture = OMX_IndexAutoPauseAfterCapture,
    OMX_TI_IndexConfigChannelName = OMX_IndexVendorStartUnused + 1,
    OMX_TI_IndexParamJPEGUncompressedMode,
    OMX_TI_IndexParamJPEGCompressedMode,
    OMX_TI_IndexParamDecodeSubregion,
    OMX_TI_IndexParamVideoDataSyncMode,
    OMX_TI_IndexParamVideoBitStreamFormatSelect,
    OMX_TI_IndexParamVideoNALUsettings,
    OMX_TI_IndexParamVideoMEBlockSize,
    OMX_TI_IndexParamVideoIntraPredictionSettings,
    OMX_TI_IndexParamVideoEncoderPreset,
    OMX_TI_IndexParamVideoFrameDataContentSettings,
    OMX_TI_IndexParamVideoTransformBlockSize,
    OMX_TI_IndexParamVideoVUIsettings,
    OMX_TI_IndexParamVideoAdvancedFMO,
    OMX_TI_IndexConfigVideoPixelInfo,
    OMX_TI_IndexConfigVideoMESearchRange,
    OMX_TI_IndexConfigVideoQPSettings,
    OMX_TI_IndexConfigSliceSettings,
    OMX_TI_IndexParamVideoStaticParams,
    OMX_TI_IndexParamVideoDynamicParams,
    OMX_TI_IndexParamVideoStatus,
    OMX_TI_IndexConfigVideoStaticParams = OMX_TI_IndexParamVideoStaticParams,
    OMX_TI_IndexConfigVideoDynamicParams = OMX_TI_IndexParamVideoDynamicParams,
    OMX_TI_IndexConfigVideoStatus = OMX_TI_IndexParamVideoStatus,
    OMX_TI_IndexVideoEncoderSet,
    OMX_IndexParamSensorSelect,
    OMX_IndexConfigFlickerCancel,
    OMX_IndexConfigSensorCal,
    OMX_IndexConfigISOSetting,
    OMX_IndexParamSceneMode,
    OMX_IndexConfigDigitalZoomSpeed,
    OMX_IndexConfigDigitalZoomTarget,
    OMX_IndexConfigCommonScaleQuality,
    OMX_IndexConfigCommonDigitalZoomQuality,
    OMX_IndexConfigOpticalZoomSpeed,
    OMX_IndexConfigOpticalZoomTarget,
    OMX_IndexConfigSmoothZoom,
    OMX_IndexConfigBlemish,
    OMX_IndexConfigExtCaptureMode,
    OMX_IndexConfigExtPrepareCapturing,
    OMX_IndexConfigExtCapturing,
    OMX_IndexCameraOperatingMode,
    OMX_IndexConfigDigitalFlash,
    OMX_IndexConfigPrivacyIndicator,
    OMX_IndexConfigTorchMode,
    OMX_IndexConfigSlowSync,
    OMX_IndexConfigExtFocusRegion,
    OMX_IndexConfigFocusAssist,
    OMX_IndexConfigImageFocusLock,
    OMX_IndexConfigImageWhiteBalanceLock,
    OMX_IndexConfigImageExposureLock,
    OMX_IndexConfigImageAllLock,
    OMX_IndexConfigImageDeNoiseLevel,
    OMX_IndexConfigSharpeningLevel,
    OMX_IndexConfigDeBlurringLevel,
    OMX_IndexConfigChromaCorrection,
    OMX_IndexConfigDeMosaicingLevel,
    OMX_IndexConfigCommonWhiteBalanceGain,
    OMX_IndexConfigCommonRGB2RGB,
    OMX_IndexConfigCommonRGB2YUV,
    OMX_IndexConfigCommonYUV2RGB,
    OMX_IndexConfigCommonGammaTable,
    OMX_IndexConfigImageFaceDetection,
    OMX_IndexConfigImageBarcodeDetection,
    OMX_IndexConfigImageSmileDetection,
    OMX_IndexConfigImageBlinkDetection,
    OMX_IndexConfigImageFrontObjectDetection,
    OMX_IndexConfigHistogramMeasurement,
    OMX_IndexConfigDistanceMeasurement,
    OMX_IndexConfigSnapshotToPreview,
    OMX_IndexConfigJpegHeaderType,
    OMX_IndexParamJpegMaxSize,
    OMX_IndexConfigRestartMarker,
    OMX_IndexParamImageStampOverlay,
    OMX_IndexParamThumbnail,
    OMX_IndexConfigImageStabilization,
    OMX_IndexConfigMotionTriggeredImageStabilisation,
    OMX_IndexConfigRedEyeRemoval,
    OMX_IndexParamHighISONoiseFiler,
    OMX_IndexParamLensDistortionCorrection,
    OMX_IndexParamLocalBrightnessAndContrast,
    OMX_IndexConfigChromaticAberrationCorrection,
    OMX_IndexParamVideoCaptureYUVRange,
    OMX_IndexConfigFocusRegion,
    OMX_IndexConfigImageMotionEstimation,
    OMX_IndexParamProcessingOrder,
    OMX_IndexParamFrameStabilisation,
    OMX_IndexParamVideoNoiseFilter,
    OMX_TI_IndexParamVFDCDriverInstId,
    OMX_TI_IndexParamVFDCCustomModeInfo,
    OMX_TI_IndexParamVFDCUpsampleInfo,
    OMX_TI_IndexConfigChannelGroupInfo,
    OMX_TI_IndexConfigCallbackfxnInfo,
    OMX_TI_IndexConfigGetDomxCompInfo,
    OMX_TI_IndexConfigOtherExtraDataControl,
    OMX_TI_IndexConfigVidChResolution,
    OMX_TI_IndexParamBuffMemType,
    OMX_TI_IndexParamCompPortNotifyType,
    OMX_TI_IndexConfigVFDCMosaicPort2WinMap,
    OMX_TI_IndexParamVFDCCreateMosaicLayout,
    OMX_TI_IndexParamVFPCNumChPerHandle,
    OMX_TI_IndexConfigAlgEnable,
    OMX_TI_IndexConfigSubSamplingFactor,
    OMX_TI_IndexParamFileModeType,
    OMX_TI_IndexParamVFCCHwPortID,
    OMX_TI_IndexParamVFCCHwPortProperties,
    OMX_TI_IndexConfigVFCCFrameSkip,
    OMX_TI_IndexParamCTRLVidDecInfo,
    OMX_IndexConfigVFCCPortStats,
    OMX_IndexConfigVFCCPortResetStats,
    OMX_IndexParamCTRLVidDecCfg,
    OMX_TI_IndexConfigVSWMOSAICCreateMosaicLayout,
    OMX_TI_IndexConfigVSWMOSAICSetBackgroundColor,
    OMX_TI_IndexParamVSWMOSAICMosaicPeriodicity,
    OMX_TI_IndexParamVSPLCPortMapInfo,
    OMX_IndexParamFrameQBufferManagerInfo,
    OMX_TI_IndexParamAssignFrameQBufferManager,
    OMX_IndexParamDupPorts,
    OMX_TI_IndexParamVFDCFieldMergeMode,
    OMX_TI_IndexParamResolutionChangeType,
    OMX_TI_IndexConfigResolutionChangeType,
    OMX_TI_IndexConfigFrameRateControlType,
    OMX_TI_IndexConfigVFDCModifyMosaicLayout,
    OMX_TI_IndexConfigTvpPortStatus,
    OMX_TI_IndexConfigGDRSettings,

    // Ours (see the top of this file): the receiver control's detection and colour range, and
    // the display controller's colour-space converter.
    OMX_TI_IndexParamCtrlVidDecDetectVideo = OMX_IndexVendorStartUnused + 0xF0001,
    OMX_TI_IndexParamCtrlColorRange,
    OMX_TI_IndexConfigCtrlSetCsc,

    OMX_TI_IndexMAX = 0x7F0FFFFF
};

// ---- Shared by several components -----------------------------------------------------------

// OMX_TI_IndexParamBuffMemType, per port: the memory its buffers are allocated in.
typedef enum OMX_BUFFER_MEMORY_TYPE
{
    OMX_BUFFER_MEMORY_DEFAULT = 1,
    OMX_BUFFER_MEMORY_TILED_8BIT = 2,
    OMX_BUFFER_MEMORY_TILED_16BIT = 3,
    OMX_BUFFER_MEMORY_TILED_32BIT = 4,
    OMX_BUFFER_MEMORY_TILED_PAGE = 5,
    OMX_BUFFER_MEMORY_CUSTOM = 10,
    OMX_BUFFER_MEMORY_32_BIT = 0x10000,
} OMX_BUFFER_MEMORY_TYPE;

typedef struct OMX_PARAM_BUFFER_MEMORYTYPE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_BUFFER_MEMORY_TYPE eBufMemoryType;
} OMX_PARAM_BUFFER_MEMORYTYPE;

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
    OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT = 0,
    OMX_RESOLUTIONCHANGE_TYPE_CONFIG = 1,
    OMX_RESOLUTIONCHANGE_TYPE_32_BIT = 0x10000,
} OMX_RESOLUTIONCHANGE_TYPE;

// OMX_TI_IndexConfigResolutionChangeType of channel nChId: AUTODETECT follows the channel
// resolution last configured.
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

// OMX_TI_IndexConfigSubSamplingFactor: 2 when each input buffer holds one field of a frame, 1
// when it holds a whole frame.
typedef struct OMX_CONFIG_SUBSAMPLING_FACTOR
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nSubSamplingFactor;
} OMX_CONFIG_SUBSAMPLING_FACTOR;

// ---- Capture and receiver control -----------------------------------------------------------
// Each enumeration ends, as OpenMAX IL's own do, with a value that makes every 31-bit number one
// of its values: a component reads whatever a client wrote into a field before it checks it.

// The chip's video input ports.
typedef enum OMX_VIDEO_CAPTURE_HWPORT_ID
{
    OMX_VIDEO_CaptureHWPortUnUsed = 0,
    OMX_VIDEO_CaptureHWPortVIP1_PORTA = 1,
    OMX_VIDEO_CaptureHWPortVIP1_PORTB = 2,
    OMX_VIDEO_CaptureHWPortVIP2_PORTA = 3,
    OMX_VIDEO_CaptureHWPortVIP2_PORTB = 4,
    OMX_VIDEO_CaptureHWPortALL_PORTS = 5,
    OMX_VIDEO_CaptureHWPortTIExtensions = 0x6F000000,
    OMX_VIDEO_CaptureHWPortVendorStartUnused = 0x7F000000,
    OMX_VIDEO_CaptureHWPortMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTURE_HWPORT_ID;

// How the video input port multiplexes its channels.
typedef enum OMX_VIDEO_CAPTURE_HWPORT_CAPT_MODE
{
    OMX_VIDEO_CaptureModeUnused = 0,
    OMX_VIDEO_CaptureModeSC_NON_MUX = 1,
    OMX_VIDEO_CaptureModeMC_LINE_MUX = 2,
    OMX_VIDEO_CaptureModeMC_PEL_MUX = 3,
    OMX_VIDEO_CaptureModeSC_DISCRETESYNC = 4,
    OMX_VIDEO_CaptureModeMC_LINE_MUX_SPLIT_LINE = 5,
    OMX_VIDEO_CaptureModeSC_DISCRETESYNC_ACTVID_VSYNC = 6,
    OMX_VIDEO_CaptureModeSC_DISCRETESYNC_ACTVID_VBLK = OMX_VIDEO_CaptureModeSC_DISCRETESYNC,
    OMX_VIDEO_CaptureModeTIExtensions = 0x6F000000,
    OMX_VIDEO_CaptureModeVendorStartUnused = 0x7F000000,
    OMX_VIDEO_CaptureModeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTURE_HWPORT_CAPT_MODE;

// Width of the video interface between the receiver and the input port.
typedef enum OMX_VIDEO_CAPTURE_HWPORT_VIF_MODE
{
    OMX_VIDEO_CaptureVifModeUnused = 0,
    OMX_VIDEO_CaptureVifMode_08BIT = 1,
    OMX_VIDEO_CaptureVifMode_16BIT = 2,
    OMX_VIDEO_CaptureVifMode_24BIT = 3,
    OMX_VIDEO_CaptureVifModeTIExtensions = 0x6F000000,
    OMX_VIDEO_CaptureVifModeVendorStartUnused = 0x7F000000,
    OMX_VIDEO_CaptureVifModeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTURE_HWPORT_VIF_MODE;

// Interlaced: a frame holds its two fields (one after the other unless bFieldMerged).
typedef enum OMX_VIDEO_CAPTURE_SCANTYPE
{
    OMX_VIDEO_CaptureScanTypeUnused = 0,
    OMX_VIDEO_CaptureScanTypeProgressive = 1,
    OMX_VIDEO_CaptureScanTypeInterlaced = 2,
    OMX_VIDEO_CaptureScanTypeTIExtensions = 0x6F000000,
    OMX_VIDEO_CaptureScanTypeVendorStartUnused = 0x7F000000,
    OMX_VIDEO_CaptureScanTypeMax = 0x7FFFFFFF,
} OMX_VIDEO_CAPTURE_SCANTYPE;

// OMX_TI_IndexParamVFCCHwPortID: the input port a capture or receiver control works on.
typedef struct OMX_PARAM_VFCC_HWPORT_ID
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_CAPTURE_HWPORT_ID eHwPortId;
} OMX_PARAM_VFCC_HWPORT_ID;

// OMX_TI_IndexParamVFCCHwPortProperties, to the capture component and to the receiver control:
// what arrives on the input port and the largest picture it carries.
typedef struct OMX_PARAM_VFCC_HWPORT_PROPERTIES
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_CAPTURE_HWPORT_CAPT_MODE eCaptMode;
    OMX_VIDEO_CAPTURE_HWPORT_VIF_MODE eVifMode;
    OMX_COLOR_FORMATTYPE eInColorFormat;
    OMX_VIDEO_CAPTURE_SCANTYPE eScanType;
    OMX_U32 nMaxWidth;
    OMX_U32 nMaxHeight;
    OMX_U32 nMaxChnlsPerHwPort;
    OMX_BOOL bFieldMerged;
} OMX_PARAM_VFCC_HWPORT_PROPERTIES;

// OMX_TI_IndexConfigVFCCFrameSkip: bit i set skips input frame i of every 30 (bits 30 and 31
// are not used); 0x2AAAAAAA keeps every other frame.
typedef struct OMX_CONFIG_VFCC_FRAMESKIP_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 frameSkipMask;
} OMX_CONFIG_VFCC_FRAMESKIP_INFO;

typedef enum OMX_CTRL_VIDEO_DECODER_STD
{
    OMX_VIDEO_DECODER_STD_Unused = 0,
    OMX_VIDEO_DECODER_STD_AUTO_DETECT = 1,
    OMX_VIDEO_DECODER_STD_1080P_60 = 2,
    OMX_VIDEO_DECODER_STD_1080I_60 = 3,
    OMX_VIDEO_DECODER_STD_1080I_50 = 4,
    OMX_VIDEO_DECODER_STD_MUX_4CH_D1 = 5,
    OMX_VIDEO_DECODER_STD_720P_60 = 6,
    OMX_VIDEO_DECODER_STD_NTSC = 7,
    OMX_VIDEO_DECODER_STD_PAL = 8,
    OMX_VIDEO_DECODER_STD_1CH_D1 = 9,
    OMX_VIDEO_DECODER_STD_TIExtensions = 0x6F000000,
    OMX_VIDEO_DECODER_STD_VendorStartUnused = 0x7F000000,
    OMX_VIDEO_DECODER_STD_Max = 0x7FFFFFFF,
} OMX_CTRL_VIDEO_DECODER_STD;

// The video receivers a receiver control drives; OMX_VID_DEC_ADV7611_DRV, the appliance's HDMI
// receiver, is ours.
typedef enum OMX_CTRL_VID_DECODER_ID
{
    OMX_VID_DEC_Unused = 0,
    OMX_VID_DEC_SII9135_DRV = 1,
    OMX_VID_DEC_TVP7002_DRV = 2,
    OMX_VID_DEC_TVP5158_DRV = 3,
    OMX_VID_DEC_ADV7611_DRV = 4,
    OMX_VID_DEC_TIExtensions = 0x6F000000,
    OMX_VID_DEC_VendorStartUnused = 0x7F000000,
    OMX_VID_DEC_Max = 0x7FFFFFFF,
} OMX_CTRL_VID_DECODER_ID;

typedef enum OMX_CTRL_VIDEO_DECODER_SYSTEM_STD
{
    OMX_VIDEO_DECODER_VIDEO_SYSTEM_NTSC = 0,
    OMX_VIDEO_DECODER_VIDEO_SYSTEM_PAL = 1,
    OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT = 2,
    OMX_VIDEO_DECODER_VIDEO_SYSTEM_Max = 0x7FFFFFFF,
} OMX_CTRL_VIDEO_DECODER_SYSTEM_STD;

// OMX_TI_IndexParamCTRLVidDecInfo: which receiver the control drives and what it looks for.
typedef struct OMX_PARAM_CTRL_VIDDECODER_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_CTRL_VIDEO_DECODER_STD videoStandard;
    OMX_CTRL_VID_DECODER_ID videoDecoderId;
    OMX_CTRL_VIDEO_DECODER_SYSTEM_STD videoSystemId;
} OMX_PARAM_CTRL_VIDDECODER_INFO;

// Ours. OMX_TI_IndexParamCtrlVidDecDetectVideo (read only): the signal the receiver sees on
// channel uiChannelIndex. An interlaced signal is described by one field: uiFrameHeight is the
// field's height and uiFrameInterval the time between fields, in microseconds.
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

// Ours. OMX_TI_IndexParamCtrlColorRange, to the receiver control and to the display control:
// full (0..255) or limited (16..235) range on the video interface.
typedef struct OMX_PARAM_CTRL_COLOR_RANGE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_BOOL bFullRange;
} OMX_PARAM_CTRL_COLOR_RANGE;

// ---- Deinterlacer and scaler ----------------------------------------------------------------

// OMX_TI_IndexParamVFPCNumChPerHandle: channels one component instance processes.
typedef struct OMX_PARAM_VFPC_NUMCHANNELPERHANDLE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nNumChannelsPerHandle;
} OMX_PARAM_VFPC_NUMCHANNELPERHANDLE;

// ---- Display controller ---------------------------------------------------------------------

#define VFDC_MAX_PLANES 3
// Windows of a mosaic layout, and input ports of a display component.
#define OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS 20
#define OMX_VFDC_NUM_INPUT_PORTS 20
// Ours: the layouts a display component keeps.
#define OMX_VFDC_MAX_LAYOUTS 5

// Display outputs a display component or its controller drives.
typedef enum OMX_VIDEO_DISPLAY_ID
{
    OMX_VIDEO_DISPLAY_ID_HD0 = 0,
    OMX_VIDEO_DISPLAY_ID_HD1 = 1,
    OMX_VIDEO_DISPLAY_ID_SD0 = 2,
    OMX_VIDEO_DISPLAY_ID_Max = 0x7FFFFFFF,
} OMX_VIDEO_DISPLAY_ID;

// Timing of the output's video encoder: OMX_DC_MODE_CUSTOM is that of
// OMX_PARAM_DC_CUSTOM_MODE_INFO.
typedef enum Omx_DcModeId
{
    OMX_DC_MODE_NTSC = 0,
    OMX_DC_MODE_PAL = 1,
    OMX_DC_MODE_1080P_60 = 2,
    OMX_DC_MODE_720P_60 = 3,
    OMX_DC_MODE_1080I_60 = 4,
    OMX_DC_MODE_1080P_30 = 5,
    OMX_DC_MODE_CUSTOM = 6,
    OMX_DC_MODE_Max = 0x7FFFFFFF,
} Omx_DcModeId;

// OMX_TI_IndexParamVFDCDriverInstId, to the display component and to its controller.
typedef struct OMX_PARAM_VFDC_DRIVERINSTID
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_DISPLAY_ID nDrvInstID;
    Omx_DcModeId eDispVencMode;
} OMX_PARAM_VFDC_DRIVERINSTID;

typedef enum Omx_DcScanFormat
{
    OMX_DC_SF_INTERLACED = 0,
    OMX_SF_PROGRESSIVE = 1,
    OMX_SF_Max = 0x7FFFFFFF,
} Omx_DcScanFormat;

// OMX_TI_IndexParamVFDCCustomModeInfo: the output's timing. An interlaced mode counts the lines
// and the rate of one field. width and the porches and sync in pixels, height and the vertical
// ones in lines, pixelClock in kHz, fps (the vertical refresh) in Hz.
typedef struct OMX_PARAM_DC_CUSTOM_MODE_INFO
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 width;
    OMX_U32 height;
    Omx_DcScanFormat scanFormat;
    OMX_U32 pixelClock;
    OMX_U32 fps;
    OMX_U32 hFrontPorch;
    OMX_U32 hBackPorch;
    OMX_U32 hSyncLen;
    OMX_U32 vFrontPorch;
    OMX_U32 vBackPorch;
    OMX_U32 vSyncLen;
} OMX_PARAM_DC_CUSTOM_MODE_INFO;

// Layout of the pixels a window reads (OMX_VFDC_MultipleWindowFmt::dataFormat). In the
// 4:2:2 semi-planar formats a luma plane is followed by an interleaved chroma plane.
typedef enum VFDC_DataFormat
{
    VFDC_DF_YUV422I_UYVY = 0,
    VFDC_DF_YUV422I_YUYV = 1,
    VFDC_DF_YUV422I_YVYU = 2,
    VFDC_DF_YUV422I_VYUY = 3,
    VFDC_DF_YUV422SP_UV = 4,
    VFDC_DF_YUV422SP_VU = 5,
    VFDC_DF_YUV422P = 6,
    VFDC_DF_YUV420SP_UV = 7,
    VFDC_DF_YUV420SP_VU = 8,
    VFDC_DF_YUV420P = 9,
    VFDC_DF_YUV444P = 10,
    VFDC_DF_YUV444I = 11,
    VFDC_DF_RGB16_565 = 0x1000,
    VFDC_DF_ARGB16_1555 = 0x1001,
    VFDC_DF_RGBA16_5551 = 0x1002,
    VFDC_DF_ARGB16_4444 = 0x1003,
    VFDC_DF_RGBA16_4444 = 0x1004,
    VFDC_DF_ARGB24_6666 = 0x1005,
    VFDC_DF_RGBA24_6666 = 0x1006,
    VFDC_DF_RGB24_888 = 0x1007,
    VFDC_DF_ARGB32_8888 = 0x1008,
    VFDC_DF_RGBA32_8888 = 0x1009,
    VFDC_DF_BITMAP8 = 0x2000,
    VFDC_DF_BITMAP4_LOWER = 0x2001,
    VFDC_DF_BITMAP4_UPPER = 0x2002,
    VFDC_DF_BITMAP2_OFFSET0 = 0x2003,
    VFDC_DF_BITMAP2_OFFSET1 = 0x2004,
    VFDC_DF_BITMAP2_OFFSET2 = 0x2005,
    VFDC_DF_BITMAP2_OFFSET3 = 0x2006,
    VFDC_DF_BITMAP1_OFFSET0 = 0x2007,
    VFDC_DF_BITMAP1_OFFSET1 = 0x2008,
    VFDC_DF_BITMAP1_OFFSET2 = 0x2009,
    VFDC_DF_BITMAP1_OFFSET3 = 0x200A,
    VFDC_DF_BITMAP1_OFFSET4 = 0x200B,
    VFDC_DF_BITMAP1_OFFSET5 = 0x200C,
    VFDC_DF_BITMAP1_OFFSET6 = 0x200D,
    VFDC_DF_BITMAP1_OFFSET7 = 0x200E,
    VFDC_DF_BAYER_RAW = 0x3000,
    VFDC_DF_RAW_VBI = 0x3001,
    VFDC_DF_RAW = 0x3002,
    VFDC_DF_MISC = 0x3003,
    VFDC_DF_INVALID = 0x3004,
    VFDC_DF_32_BIT = 0x7FFFFFFF,
} VFDC_DataFormat;

// OMX_VFDC_MultipleWindowFmt::bpp.
typedef enum VFDC_BitsPerPixel
{
    VFDC_BPP_BITS1 = 0,
    VFDC_BPP_BITS2 = 1,
    VFDC_BPP_BITS4 = 2,
    VFDC_BPP_BITS8 = 3,
    VFDC_BPP_BITS12 = 4,
    VFDC_BPP_BITS16 = 5,
    VFDC_BPP_BITS24 = 6,
    VFDC_BPP_BITS32 = 7,
    VFDC_BPP_32_BIT = 0x7FFFFFFF,
} VFDC_BitsPerPixel;

// One window of a mosaic layout. pitch[0] is the byte length of a line of the first plane;
// with VFDC_DF_YUV422SP_VU, pitch[1] counts the Cb/Cr pairs of a chroma line. dataFormat is a
// VFDC_DataFormat, bpp a VFDC_BitsPerPixel; a window of a higher priority lies above one of a
// lower.
typedef struct OMX_VFDC_MultipleWindowFmt
{
    OMX_U32 winStartX;
    OMX_U32 winStartY;
    OMX_U32 winWidth;
    OMX_U32 winHeight;
    OMX_U32 pitch[VFDC_MAX_PLANES];
    OMX_U32 dataFormat;
    OMX_U32 bpp;
    OMX_U32 priority;
} OMX_VFDC_MultipleWindowFmt;

// OMX_TI_IndexParamVFDCCreateMosaicLayout (in Loaded): the windows of layout nLayoutId.
typedef struct OMX_PARAM_VFDC_CREATEMOSAICLAYOUT
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nDisChannelNum;
    OMX_U32 nLayoutId;
    OMX_U32 nNumWindows;
    OMX_VFDC_MultipleWindowFmt sMosaicWinFmt[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
} OMX_PARAM_VFDC_CREATEMOSAICLAYOUT;

// OMX_TI_IndexConfigVFDCModifyMosaicLayout (any state, never the layout on screen): the same
// record under its own name, so either may be sent.
typedef struct OMX_CONFIG_VFDC_MODIFYMOSAICLAYOUT
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nDisChannelNum;
    OMX_U32 nLayoutId;
    OMX_U32 nNumWindows;
    OMX_VFDC_MultipleWindowFmt sMosaicWinFmt[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
} OMX_CONFIG_VFDC_MODIFYMOSAICLAYOUT;

// OMX_TI_IndexConfigVFDCMosaicPort2WinMap: selects layout nLayoutId for the screen, window i
// showing the frames of input port omxPortList[i].
typedef struct OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nLayoutId;
    OMX_U32 numWindows;
    OMX_U32 omxPortList[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
} OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP;

// Ours. OMX_TI_IndexConfigCtrlSetCsc: the colour-space converter's matrix as two's-complement
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

// ---- H.264 encoder: presets -----------------------------------------------------------------

// How much effort the encoder spends per picture; User_Defined takes the coding tools and limits
// from the codec parameters.
typedef enum OMX_VIDEO_ENCODING_MODE_PRESETTYPE
{
    OMX_Video_Enc_Default = 0,
    OMX_Video_Enc_High_Quality = 1,
    OMX_Video_Enc_User_Defined = 2,
    OMX_Video_Enc_High_Speed_Med_Quality = 3,
    OMX_Video_Enc_Med_Speed_Med_Quality = 4,
    OMX_Video_Enc_Med_Speed_High_Quality = 5,
    OMX_Video_Enc_High_Speed = 6,
    OMX_Video_Enc_Max = 0x7FFFFFFF,
} OMX_VIDEO_ENCODING_MODE_PRESETTYPE;

// How the rate control trades delay for steadiness: Low_Delay (constant bit rate, small decoder
// buffer) for live streams, Storage (average bit rate, large decoder buffer) for recordings.
typedef enum OMX_VIDEO_RATECONTROL_PRESETTYPE
{
    OMX_Video_RC_Low_Delay = 0,
    OMX_Video_RC_Storage = 1,
    OMX_Video_RC_Twopass = 2,
    OMX_Video_RC_None = 3,
    OMX_Video_RC_User_Defined = 4,
    OMX_Video_RC_Max = 0x7FFFFFFF,
} OMX_VIDEO_RATECONTROL_PRESETTYPE;

// OMX_TI_IndexParamVideoEncoderPreset (output port).
typedef struct OMX_VIDEO_PARAM_ENCODER_PRESETTYPE
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncodingModePreset;
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControlPreset;
} OMX_VIDEO_PARAM_ENCODER_PRESETTYPE;

// ---- H.264 encoder: the codec's parameter records -------------------------------------------
// Carried inside OMX_VIDEO_PARAM_STATICPARAMS and OMX_VIDEO_PARAM_DYNAMICPARAMS. Their fields
// are plain integers that hold the values of the enumerations below.

// Values of any video encoder's fields.
typedef enum XDM_EncodingPreset
{
    XDM_DEFAULT = 0,
    XDM_HIGH_QUALITY = 1,
    XDM_HIGH_SPEED = 2,
    XDM_USER_DEFINED = 3,
    XDM_HIGH_SPEED_MED_QUALITY = 4,
    XDM_MED_SPEED_MED_QUALITY = 5,
    XDM_MED_SPEED_HIGH_QUALITY = 6,
    XDM_ENCODING_PRESET_MAX = 7,
    XDM_PRESET_DEFAULT = XDM_MED_SPEED_MED_QUALITY,
} XDM_EncodingPreset;

typedef enum IVIDEO_RateControlPreset
{
    IVIDEO_LOW_DELAY = 1,
    IVIDEO_STORAGE = 2,
    IVIDEO_TWOPASS = 3,
    IVIDEO_NONE = 4,
    IVIDEO_USER_DEFINED = 5,
    IVIDEO_RATECONTROLPRESET_DEFAULT = IVIDEO_LOW_DELAY,
} IVIDEO_RateControlPreset;

typedef enum XDM_DataFormat
{
    XDM_BYTE = 1,
    XDM_LE_16 = 2,
    XDM_LE_32 = 3,
    XDM_LE_64 = 4,
    XDM_BE_16 = 5,
    XDM_BE_32 = 6,
    XDM_BE_64 = 7,
} XDM_DataFormat;

typedef enum XDM_ChromaFormat
{
    XDM_CHROMA_NA = -1,
    XDM_YUV_420P = 1,
    XDM_YUV_422P = 2,
    XDM_YUV_422IBE = 3,
    XDM_YUV_422ILE = 4,
    XDM_YUV_444P = 5,
    XDM_YUV_411P = 6,
    XDM_GRAY = 7,
    XDM_RGB = 8,
    XDM_YUV_420SP = 9,
    XDM_ARGB8888 = 10,
    XDM_RGB555 = 11,
    XDM_RGB565 = 12,
    XDM_YUV_444ILE = 13,
    XDM_CHROMAFORMAT_DEFAULT = XDM_YUV_422ILE,
} XDM_ChromaFormat;

typedef enum IVIDEO_ContentType
{
    IVIDEO_CONTENTTYPE_NA = -1,
    IVIDEO_PROGRESSIVE = 0,
    IVIDEO_PROGRESSIVE_FRAME = IVIDEO_PROGRESSIVE,
    IVIDEO_INTERLACED = 1,
    IVIDEO_INTERLACED_FRAME = IVIDEO_INTERLACED,
    IVIDEO_INTERLACED_TOPFIELD = 2,
    IVIDEO_INTERLACED_BOTTOMFIELD = 3,
    IVIDEO_CONTENTTYPE_DEFAULT = IVIDEO_PROGRESSIVE,
} IVIDEO_ContentType;

typedef enum IVIDEO_OperatingMode
{
    IVIDEO_DECODE_ONLY = 0,
    IVIDEO_ENCODE_ONLY = 1,
    IVIDEO_TRANSCODE_FRAMELEVEL = 2,
    IVIDEO_TRANSCODE_MBLEVEL = 3,
    IVIDEO_TRANSRATE_FRAMELEVEL = 4,
    IVIDEO_TRANSRATE_MBLEVEL = 5,
} IVIDEO_OperatingMode;

// How pictures and the stream are handed over: ENTIREFRAME is one picture per call.
typedef enum IVIDEO_DataMode
{
    IVIDEO_FIXEDLENGTH = 0,
    IVIDEO_SLICEMODE = 1,
    IVIDEO_NUMROWS = 2,
    IVIDEO_ENTIREFRAME = 3,
} IVIDEO_DataMode;

#define IVIDEO_MAX_NUM_METADATA_PLANES 3

typedef enum IVIDEO_MetadataType
{
    IVIDEO_METADATAPLANE_NONE = -1,
    IVIDEO_METADATAPLANE_MBINFO = 0,
    IVIDEO_METADATAPLANE_EINFO = 1,
    IVIDEO_METADATAPLANE_ALPHA = 2,
} IVIDEO_MetadataType;

typedef enum XDM_EncMode
{
    XDM_ENCODE_AU = 0,
    XDM_GENERATE_HEADER = 1,
} XDM_EncMode;

// forceFrame: NA_FRAME forces nothing.
typedef enum IVIDEO_FrameType
{
    IVIDEO_NA_FRAME = -1,
    IVIDEO_I_FRAME = 0,
    IVIDEO_P_FRAME = 1,
    IVIDEO_B_FRAME = 2,
    IVIDEO_IDR_FRAME = 3,
    IVIDEO_II_FRAME = 4,
    IVIDEO_IP_FRAME = 5,
    IVIDEO_IB_FRAME = 6,
    IVIDEO_PI_FRAME = 7,
    IVIDEO_PP_FRAME = 8,
    IVIDEO_PB_FRAME = 9,
    IVIDEO_BI_FRAME = 10,
    IVIDEO_BP_FRAME = 11,
    IVIDEO_BB_FRAME = 12,
    IVIDEO_MBAFF_I_FRAME = 13,
    IVIDEO_MBAFF_P_FRAME = 14,
    IVIDEO_MBAFF_B_FRAME = 15,
    IVIDEO_MBAFF_IDR_FRAME = 16,
    IVIDEO_FRAMETYPE_DEFAULT = IVIDEO_I_FRAME,
} IVIDEO_FrameType;

typedef enum IVIDENC2_MotionVectorAccuracy
{
    IVIDENC2_MOTIONVECTOR_PIXEL = 0,
    IVIDENC2_MOTIONVECTOR_HALFPEL = 1,
    IVIDENC2_MOTIONVECTOR_QUARTERPEL = 2,
    IVIDENC2_MOTIONVECTOR_EIGHTHPEL = 3,
    IVIDENC2_MOTIONVECTOR_MAX = 4,
} IVIDENC2_MotionVectorAccuracy;

// The H.264 codec's fields. Each nested record has a preset: DEFAULT takes the codec's own
// values, EXISTING keeps those in force, USERDEFINED takes the record's fields.
typedef enum IH264ENC_RateControlParamsPreset
{
    IH264_RATECONTROLPARAMS_DEFAULT = 0,
    IH264_RATECONTROLPARAMS_USERDEFINED = 1,
    IH264_RATECONTROLPARAMS_EXISTING = 2,
    IH264_RATECONTROLPARAMS_MAX = 3,
} IH264ENC_RateControlParamsPreset;

typedef enum IH264ENC_RateControlAlgo
{
    IH264_RATECONTROL_PRC = 0,
    IH264_RATECONTROL_PRC_LOW_DELAY = 1,
    IH264_RATECONTROL_DEFAULT = IH264_RATECONTROL_PRC,
} IH264ENC_RateControlAlgo;

typedef enum IH264ENC_ScalingMatPreset
{
    IH264_SCALINGMATRIX_NONE = 0,
    IH264_SCALINGMATRIX_DEFAULT = IH264_SCALINGMATRIX_NONE,
    IH264_SCALINGMATRIX_NORMAL = 1,
    IH264_SCALINGMATRIX_NOISY = 2,
    IH264_SCALINGMATRIX_STD_DEFAULT = 3,
    IH264_SCALINGMATRIX_USERDEFINED_SPSLEVEL = 4,
    IH264_SCALINGMATRIX_USERDEFINED_PPSLEVEL = 5,
    IH264_SCALINGMATRIX_MAX = 6,
} IH264ENC_ScalingMatPreset;

typedef enum IH264ENC_FrameQualityFactor
{
    IH264_QUALITY_FACTOR_1 = 0,
    IH264_QUALITY_FACTOR_DEFAULT = IH264_QUALITY_FACTOR_1,
    IH264_QUALITY_FACTOR_2 = 1,
    IH264_QUALITY_FACTOR_3 = 2,
    IH264_QUALITY_FACTOR_MAX = 3,
} IH264ENC_FrameQualityFactor;

typedef enum IH264ENC_InterCodingPreset
{
    IH264_INTERCODING_DEFAULT = 0,
    IH264_INTERCODING_USERDEFINED = 1,
    IH264_INTERCODING_EXISTING = 2,
    IH264_INTERCODING_MED_SPEED_HIGH_QUALITY = 3,
    IH264_INTERCODING_HIGH_SPEED = 4,
    IH264_INTERCODING_MAX = 5,
} IH264ENC_InterCodingPreset;

typedef enum IH264ENC_MeAlgoMode
{
    IH264ENC_MOTIONESTMODE_NORMAL = 0,
    IH264ENC_MOTIONESTMODE_HIGH_SPEED = 1,
    IH264ENC_MOTIONESTMODE_DEFAULT = IH264ENC_MOTIONESTMODE_NORMAL,
    IH264ENC_MOTIONESTMODE_MAX = 1,
} IH264ENC_MeAlgoMode;

typedef enum IH264ENC_InterBlockSize
{
    IH264_BLOCKSIZE_16x16 = 0,
    IH264_BLOCKSIZE_DEFAULT = IH264_BLOCKSIZE_16x16,
    IH264_BLOCKSIZE_8x8 = 1,
    IH264_BLOCKSIZE_4x4 = 2,
    IH264_BLOCKSIZE_MAX = 3,
} IH264ENC_InterBlockSize;

typedef enum IH264ENC_BiasFactor
{
    IH264_BIASFACTOR_LOW = 0,
    IH264_BIASFACTOR_MEDIUM = 1,
    IH264_BIASFACTOR_NORMAL = IH264_BIASFACTOR_MEDIUM,
    IH264_BIASFACTOR_DEFAULT = IH264_BIASFACTOR_MEDIUM,
    IH264_BIASFACTOR_HIGH = 2,
    IH264_BIASFACTOR_MILD = 4,
    IH264_BIASFACTOR_ADAPTIVE = 5,
    IH264_BIASFACTOR_MAX = 6,
} IH264ENC_BiasFactor;

typedef enum IH264ENC_IntraCodingPreset
{
    IH264_INTRACODING_DEFAULT = 0,
    IH264_INTRACODING_USERDEFINED = 1,
    IH264_INTRACODING_EXISTING = 2,
    IH264_INTRACODING_HIGH_SPEED = 3,
    IH264_INTRACODING_MAX = 4,
} IH264ENC_IntraCodingPreset;

typedef enum IH264ENC_IntraRefreshMethods
{
    IH264_INTRAREFRESH_NONE = 0,
    IH264_INTRAREFRESH_DEFAULT = IH264_INTRAREFRESH_NONE,
    IH264_INTRAREFRESH_CYCLIC_MBS = 1,
    IH264_INTRAREFRESH_CYCLIC_SLICES = 2,
    IH264_INTRAREFRESH_RDOPT_MBS = 3,
    IH264_INTRAREFRESH_GDR = 4,
    IH264_INTRAREFRESH_MAX = 5,
} IH264ENC_IntraRefreshMethods;

typedef enum IH264ENC_IntraCodingBias
{
    IH264ENC_INTRACODINGBIAS_NORMAL = 0,
    IH264ENC_INTRACODINGBIAS_HIGH_SPEED = 12,
    IH264ENC_INTRACODINGBIAS_DEFAULT = IH264ENC_INTRACODINGBIAS_NORMAL,
    IH264ENC_INTRACODINGBIAS_MAX = 1,
} IH264ENC_IntraCodingBias;

typedef enum IH264ENC_ChormaComponent
{
    IH264_CHROMA_COMPONENT_CB_CR_BOTH = 0,
    IH264_CHROMA_COMPONENT_CR_ONLY = 1,
    IH264_CHROMA_COMPONENT_DEFAULT = IH264_CHROMA_COMPONENT_CR_ONLY,
    IH264_CHROMA_COMPONENT_MAX = 2,
} IH264ENC_ChormaComponent;

typedef enum IH264ENC_SliceCodingPreset
{
    IH264_SLICECODING_DEFAULT = 0,
    IH264_SLICECODING_USERDEFINED = 1,
    IH264_SLICECODING_EXISTING = 2,
    IH264_SLICECODING_MAX = 3,
} IH264ENC_SliceCodingPreset;

typedef enum IH264ENC_SliceMode
{
    IH264_SLICEMODE_NONE = 0,
    IH264_SLICEMODE_DEFAULT = IH264_SLICEMODE_NONE,
    IH264_SLICEMODE_MBUNIT = 1,
    IH264_SLICEMODE_BYTES = 2,
    IH264_SLICEMODE_OFFSET = 3,
    IH264_SLICEMODE_MAX = 4,
} IH264ENC_SliceMode;

typedef enum IH264ENC_StreamFormat
{
    IH264_BYTE_STREAM = 0,
    IH264_STREAM_FORMAT_DEFAULT = IH264_BYTE_STREAM,
    IH264_NALU_STREAM = 1,
    IH264_STREAM_FORMAT_MAX = 2,
} IH264ENC_StreamFormat;

// profile and level of IVIDENC2_Params: profile_idc and level_idc of the stream.
typedef enum IH264ENC_Profile
{
    IH264_BASELINE_PROFILE = 66,
    IH264_MAIN_PROFILE = 77,
    IH264_EXTENDED_PROFILE = 88,
    IH264_HIGH_PROFILE = 100,
    IH264_DEFAULT_PROFILE = IH264_HIGH_PROFILE,
    IH264_HIGH10_PROFILE = 110,
    IH264_HIGH422_PROFILE = 122,
    IH264SVC_BASELINE_PROFILE = 83,
    IH264SVC_HIGH_PROFILE = 86,
} IH264ENC_Profile;

typedef enum IH264ENC_Level
{
    IH264_LEVEL_10 = 10,
    IH264_LEVEL_1b = 9,
    IH264_LEVEL_11 = 11,
    IH264_LEVEL_12 = 12,
    IH264_LEVEL_13 = 13,
    IH264_LEVEL_20 = 20,
    IH264_LEVEL_21 = 21,
    IH264_LEVEL_22 = 22,
    IH264_LEVEL_30 = 30,
    IH264_LEVEL_31 = 31,
    IH264_LEVEL_32 = 32,
    IH264_LEVEL_40 = 40,
    IH264_LEVEL_41 = 41,
    IH264_LEVEL_42 = 42,
    IH264_LEVEL_50 = 50,
    IH264_LEVEL_51 = 51,
} IH264ENC_Level;

// Ours: entropyCodingMode and transformBlockSize of IH264ENC_Params.
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

#define IH264ENC_MAX_NUM_SLICE_START_OFFSET 3
#define IH264ENC_MAXNUMSLCGPS 2

// What any video encoder is created with.
typedef struct IVIDENC2_Params
{
    XDAS_Int32 size;
    XDAS_Int32 encodingPreset;
    XDAS_Int32 rateControlPreset;
    XDAS_Int32 maxHeight;
    XDAS_Int32 maxWidth;
    XDAS_Int32 dataEndianness;
    XDAS_Int32 maxInterFrameInterval;
    XDAS_Int32 maxBitRate;
    XDAS_Int32 minBitRate;
    XDAS_Int32 inputChromaFormat;
    XDAS_Int32 inputContentType;
    XDAS_Int32 operatingMode;
    XDAS_Int32 profile;
    XDAS_Int32 level;
    XDAS_Int32 inputDataMode;
    XDAS_Int32 outputDataMode;
    XDAS_Int32 numInputDataUnits;
    XDAS_Int32 numOutputDataUnits;
    XDAS_Int32 metadataType[IVIDEO_MAX_NUM_METADATA_PLANES];
} IVIDENC2_Params;

// The codec's data-sync callbacks, to hand over parts of pictures or of the stream; null when
// whole pictures go in and whole access units come out (IVIDEO_ENTIREFRAME).
typedef void* XDM_DataSyncHandle;
struct XDM_DataSyncDesc;
typedef void (*XDM_DataSyncPutFxn)(XDM_DataSyncHandle dataSyncHandle, struct XDM_DataSyncDesc* dataSyncDesc);
typedef XDAS_Int32 (*XDM_DataSyncGetFxn)(XDM_DataSyncHandle dataSyncHandle, struct XDM_DataSyncDesc* dataSyncDesc);
typedef XDAS_Int32 (*XDM_DataSyncGetBufferFxn)(XDM_DataSyncHandle dataSyncHandle,
                                               struct XDM_DataSyncDesc* dataSyncDesc);

// What any video encoder may change while it runs.
typedef struct IVIDENC2_DynamicParams
{
    XDAS_Int32 size;
    XDAS_Int32 inputHeight;
    XDAS_Int32 inputWidth;
    XDAS_Int32 refFrameRate;
    XDAS_Int32 targetFrameRate;
    XDAS_Int32 targetBitRate;
    XDAS_Int32 intraFrameInterval;
    XDAS_Int32 generateHeader;
    XDAS_Int32 captureWidth;
    XDAS_Int32 forceFrame;
    XDAS_Int32 interFrameInterval;
    XDAS_Int32 mvAccuracy;
    XDAS_Int32 sampleAspectRatioHeight;
    XDAS_Int32 sampleAspectRatioWidth;
    XDAS_Int32 ignoreOutbufSizeFlag;
    XDM_DataSyncPutFxn putDataFxn;
    XDM_DataSyncHandle putDataHandle;
    XDM_DataSyncGetFxn getDataFxn;
    XDM_DataSyncHandle getDataHandle;
    XDM_DataSyncGetBufferFxn getBufferFxn;
    XDM_DataSyncHandle getBufferHandle;
    XDAS_Int32 lateAcquireArg;
} IVIDENC2_DynamicParams;

typedef struct XDM_Point
{
    XDAS_Int32 x;
    XDAS_Int32 y;
} XDM_Point;

// Quantiser limits per picture type, 0 to 51; qpI and qpP are start values (-1: the codec's
// choice) and qpOffsetB puts B pictures relative to P pictures.
typedef struct IH264ENC_RateControlParams
{
    XDAS_Int8 rateControlParamsPreset;
    XDAS_Int8 scalingMatrixPreset;
    XDAS_Int8 rcAlgo;
    XDAS_Int8 qpI;
    XDAS_Int8 qpMaxI;
    XDAS_Int8 qpMinI;
    XDAS_Int8 qpP;
    XDAS_Int8 qpMaxP;
    XDAS_Int8 qpMinP;
    XDAS_Int8 qpOffsetB;
    XDAS_Int8 qpMaxB;
    XDAS_Int8 qpMinB;
    XDAS_Int8 allowFrameSkip;
    XDAS_Int8 removeExpensiveCoeff;
    XDAS_Int8 chromaQPIndexOffset;
    XDAS_Int8 IPQualityFactor;
    XDAS_Int32 initialBufferLevel;
    XDAS_Int32 HRDBufferSize;
    XDAS_Int16 minPicSizeRatioI;
    XDAS_Int16 maxPicSizeRatioI;
    XDAS_Int16 minPicSizeRatioP;
    XDAS_Int16 maxPicSizeRatioP;
    XDAS_Int16 minPicSizeRatioB;
    XDAS_Int16 maxPicSizeRatioB;
    XDAS_Int8 enablePRC;
    XDAS_Int8 enablePartialFrameSkip;
    XDAS_Int8 discardSavedBits;
    XDAS_Int8 reserved;
    XDAS_Int32 VBRDuration;
    XDAS_Int8 VBRsensitivity;
    XDAS_Int16 skipDistributionWindowLength;
    XDAS_Int16 numSkipInDistributionWindow;
    XDAS_Int8 enableHRDComplianceMode;
    XDAS_Int32 frameSkipThMulQ5;
    XDAS_Int32 vbvUseLevelThQ5;
    XDAS_Int32 reservedRC[3];
} IH264ENC_RateControlParams;

typedef struct IH264ENC_InterCodingParams
{
    XDAS_Int8 interCodingPreset;
    XDAS_Int16 searchRangeHorP;
    XDAS_Int16 searchRangeVerP;
    XDAS_Int16 searchRangeHorB;
    XDAS_Int16 searchRangeVerB;
    XDAS_Int8 interCodingBias;
    XDAS_Int8 skipMVCodingBias;
    XDAS_Int8 minBlockSizeP;
    XDAS_Int8 minBlockSizeB;
    XDAS_Int8 meAlgoMode;
} IH264ENC_InterCodingParams;

typedef struct IH264ENC_IntraCodingParams
{
    XDAS_Int8 intraCodingPreset;
    XDAS_Int16 lumaIntra4x4Enable;
    XDAS_Int16 lumaIntra8x8Enable;
    XDAS_Int8 lumaIntra16x16Enable;
    XDAS_Int8 chromaIntra8x8Enable;
    XDAS_Int8 chromaComponentEnable;
    XDAS_Int8 intraRefreshMethod;
    XDAS_Int16 intraRefreshRate;
    XDAS_Int16 gdrOverlapRowsBtwFrames;
    XDAS_Int16 constrainedIntraPredEnable;
    XDAS_Int8 intraCodingBias;
} IH264ENC_IntraCodingParams;

typedef struct IH264ENC_NALUControlParams
{
    XDAS_Int16 naluControlPreset;
    XDAS_Int16 naluPresentMaskStartOfSequence;
    XDAS_Int16 naluPresentMaskIDRPicture;
    XDAS_Int16 naluPresentMaskIntraPicture;
    XDAS_Int16 naluPresentMaskNonIntraPicture;
    XDAS_Int16 naluPresentMaskEndOfSequence;
} IH264ENC_NALUControlParams;

// sliceMode and sliceUnitSize cut a picture into slices; sliceStartOffset[i] is the macroblock
// row slice i + 1 starts at.
typedef struct IH264ENC_SliceCodingParams
{
    XDAS_Int8 sliceCodingPreset;
    XDAS_Int16 sliceMode;
    XDAS_Int16 sliceUnitSize;
    XDAS_Int8 sliceStartOffset[IH264ENC_MAX_NUM_SLICE_START_OFFSET];
    XDAS_Int8 streamFormat;
} IH264ENC_SliceCodingParams;

typedef struct IH264ENC_LoopFilterParams
{
    XDAS_Int8 loopfilterPreset;
    XDAS_Int8 loopfilterDisableIDC;
    XDAS_Int8 filterOffsetA;
    XDAS_Int8 filterOffsetB;
} IH264ENC_LoopFilterParams;

typedef struct IH264ENC_FMOCodingParams
{
    XDAS_Int8 fmoCodingPreset;
    XDAS_Int8 numSliceGroups;
    XDAS_Int8 sliceGroupMapType;
    XDAS_Int8 sliceGroupChangeDirectionFlag;
    XDAS_Int8 sliceGroupChangeRate;
    XDAS_Int16 sliceGroupChangeCycle;
    XDAS_Int16 sliceGroupParams[IH264ENC_MAXNUMSLCGPS];
} IH264ENC_FMOCodingParams;

typedef struct IH264ENC_VUICodingParams
{
    XDAS_Int8 vuiCodingPreset;
    XDAS_UInt8 aspectRatioInfoPresentFlag;
    XDAS_UInt8 aspectRatioIdc;
    XDAS_UInt8 videoSignalTypePresentFlag;
    XDAS_UInt8 videoFormat;
    XDAS_UInt8 videoFullRangeFlag;
    XDAS_UInt8 timingInfoPresentFlag;
    XDAS_UInt8 hrdParamsPresentFlag;
    XDAS_UInt32 numUnitsInTicks;
} IH264ENC_VUICodingParams;

typedef struct IH264ENC_StereoInfoParams
{
    XDAS_UInt8 stereoInfoPreset;
    XDAS_UInt8 topFieldIsLeftViewFlag;
    XDAS_UInt8 viewSelfContainedFlag;
} IH264ENC_StereoInfoParams;

typedef struct IH264ENC_FramePackingSEIParams
{
    XDAS_UInt8 framePackingPreset;
    XDAS_UInt8 framePackingType;
    XDAS_UInt8 frame0PositionX;
    XDAS_UInt8 frame0PositionY;
    XDAS_UInt8 frame1PositionX;
    XDAS_UInt8 frame1PositionY;
    XDAS_UInt8 reservedByte;
} IH264ENC_FramePackingSEIParams;

typedef struct IH264ENC_SVCCodingParams
{
    XDAS_UInt8 svcExtensionFlag;
    XDAS_UInt8 dependencyID;
    XDAS_UInt8 qualityID;
    XDAS_UInt8 enhancementProfileID;
    XDAS_UInt8 layerIndex;
    XDAS_Int8 refLayerDQId;
} IH264ENC_SVCCodingParams;

// What the H.264 encoder is created with.
typedef struct IH264ENC_Params
{
    IVIDENC2_Params videnc2Params;
    IH264ENC_RateControlParams rateControlParams;
    IH264ENC_InterCodingParams interCodingParams;
    IH264ENC_IntraCodingParams intraCodingParams;
    IH264ENC_NALUControlParams nalUnitControlParams;
    IH264ENC_SliceCodingParams sliceCodingParams;
    IH264ENC_LoopFilterParams loopFilterParams;
    IH264ENC_FMOCodingParams fmoCodingParams;
    IH264ENC_VUICodingParams vuiCodingParams;
    IH264ENC_StereoInfoParams stereoInfoParams;
    IH264ENC_FramePackingSEIParams framePackingSEIParams;
    IH264ENC_SVCCodingParams svcCodingParams;
    XDAS_Int8 interlaceCodingType;
    XDAS_Int8 bottomFieldIntra;
    XDAS_Int8 gopStructure;
    XDAS_Int8 entropyCodingMode;
    XDAS_Int8 transformBlockSize;
    XDAS_Int8 log2MaxFNumMinus4;
    XDAS_Int8 picOrderCountType;
    XDAS_Int8 enableWatermark;
    XDAS_Int32 IDRFrameInterval;
    XDAS_Int32 pConstantMemory;
    XDAS_Int32 maxIntraFrameInterval;
    XDAS_UInt32 debugTraceLevel;
    XDAS_UInt32 lastNFramesToLog;
    XDAS_Int8 enableAnalyticinfo;
    XDAS_Int8 enableGMVSei;
    XDAS_Int8 constraintSetFlags;
    XDAS_Int8 enableRCDO;
    XDAS_Int32 enableLongTermRefFrame;
    XDAS_Int32 LTRPPeriod;
    XDAS_Int8 numTemporalLayer;
    XDAS_Int8 referencePicMarking;
    XDAS_Int32 reservedParams[3];
} IH264ENC_Params;

// What the H.264 encoder may change while it runs.
typedef struct IH264ENC_DynamicParams
{
    IVIDENC2_DynamicParams videnc2DynamicParams;
    IH264ENC_RateControlParams rateControlParams;
    IH264ENC_InterCodingParams interCodingParams;
    IH264ENC_IntraCodingParams intraCodingParams;
    IH264ENC_SliceCodingParams sliceCodingParams;
    XDAS_Int32 sliceGroupChangeCycle;
    XDM_Point searchCenter;
    XDAS_Int8 enableStaticMBCount;
    XDAS_Int32 intraRefreshRateGDRDynamic;
    XDAS_Int32 gdrOverlapRowsBtwFramesDynamic;
    XDAS_Int32 enableROI;
    XDAS_Int32 reservedDynParams[1];
} IH264ENC_DynamicParams;

// ---- H.264 encoder: the wrappers ------------------------------------------------------------
// One member per codec of the component; this platform's video encoder component codes H.264.

typedef union uVideoStaticParams
{
    IH264ENC_Params h264EncStaticParams;
} uVideoStaticParams;

// OMX_TI_IndexParamVideoStaticParams (output port, read only): what the codec will be created with
// on the next move to executing.
typedef struct OMX_VIDEO_PARAM_STATICPARAMS
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    uVideoStaticParams videoStaticParams;
} OMX_VIDEO_PARAM_STATICPARAMS;

typedef union uVideoDynamicParams
{
    IH264ENC_DynamicParams h264EncDynamicParams;
} uVideoDynamicParams;

// OMX_TI_IndexConfigVideoDynamicParams (output port), in any state; a set while executing applies
// from the next picture on.
typedef struct OMX_VIDEO_PARAM_DYNAMICPARAMS
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    uVideoDynamicParams videoDynamicParams;
} OMX_VIDEO_PARAM_DYNAMICPARAMS;

#define OMX_VIDEO_CONFIG_STATICPARAMS OMX_VIDEO_PARAM_STATICPARAMS
#define OMX_VIDEO_CONFIG_DYNAMICPARAMS OMX_VIDEO_PARAM_DYNAMICPARAMS

// The codec records are made of fixed-width integers only: one layout everywhere.
static_assert(sizeof(IVIDENC2_Params) == 84, "IVIDENC2_Params");
static_assert(sizeof(IH264ENC_RateControlParams) == 72, "IH264ENC_RateControlParams");
static_assert(sizeof(IH264ENC_InterCodingParams) == 16, "IH264ENC_InterCodingParams");
static_assert(sizeof(IH264ENC_IntraCodingParams) == 18, "IH264ENC_IntraCodingParams");
static_assert(sizeof(IH264ENC_NALUControlParams) == 12, "IH264ENC_NALUControlParams");
static_assert(sizeof(IH264ENC_SliceCodingParams) == 10, "IH264ENC_SliceCodingParams");
static_assert(sizeof(IH264ENC_FMOCodingParams) == 12, "IH264ENC_FMOCodingParams");
static_assert(sizeof(IH264ENC_VUICodingParams) == 12, "IH264ENC_VUICodingParams");
static_assert(sizeof(IH264ENC_Params) == 312, "IH264ENC_Params");

// ---- Every structure exchanged with the platform starts zeroed, then carries its size and the
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

#endif // TI814X_OMX_H
