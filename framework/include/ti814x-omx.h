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

#endif // TI814X_OMX_H
