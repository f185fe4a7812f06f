// The platform's OpenMAX IL extensions: vendor indices and the structures exchanged with the
// device components through them. Shared by the library and the platform's components.
#ifndef TI814X_OMX_H
#define TI814X_OMX_H

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_IVCommon.h>
#include <OMX_Video.h>

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

// ---- Deinterlacer and scaler ----------------------------------------------------------------

// ---- H.264 encoder --------------------------------------------------------------------------

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
