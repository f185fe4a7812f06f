#include "ti-components/DisplayVFDC.h"

#include <cstdio>
#include <cstring>

#include "GenUtils.h"
#include "edid/Edid.h"
#include "ti814x-framework.h"

namespace
{
const char* const local_szDisplayName = "OMX.TI.VPSSM3.VFDC";
const char* const local_szControllerName = "OMX.TI.VPSSM3.CTRL.DC";
// The display driver's files of the first display.
const char* const local_szEnabledPath = "/sys/devices/platform/vpss/display0/enabled";
const char* const local_szTimingsPath = "/sys/devices/platform/vpss/display0/timings";
// The display component keeps five layouts, ids 0 to 4.
const MUINT32 local_uiNbLayout = 5;
const MUINT32 local_uiMaxMosaicRegions = 19;
const size_t local_uiTimingsLength = 90;
const MUINT32 local_uiMonitorNameLength = 256;

// Fills the mode from its parts; the rate of an interlaced mode is its field rate.
void local_SetMode(OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode, unsigned uiWidth, unsigned uiHeight, bool bInterlaced,
                   unsigned uiFps, unsigned uiPixelClock, unsigned uiHorzFrontPorch, unsigned uiHorzBackPorch,
                   unsigned uiHorzSync, unsigned uiVertFrontPorch, unsigned uiVertBackPorch, unsigned uiVertSync)
{
    roMode.width = uiWidth;
    roMode.height = uiHeight;
    roMode.scanFormat = bInterlaced ? OMX_DC_SF_INTERLACED : OMX_SF_PROGRESSIVE;
    roMode.fps = uiFps;
    roMode.pixelClock = uiPixelClock;
    roMode.hFrontPorch = uiHorzFrontPorch;
    roMode.hBackPorch = uiHorzBackPorch;
    roMode.hSyncLen = uiHorzSync;
    roMode.vFrontPorch = uiVertFrontPorch;
    roMode.vBackPorch = uiVertBackPorch;
    roMode.vSyncLen = uiVertSync;
}

// The three codes of a vector.
void local_ConvertVector(const float (&afSource)[3], OMX_U32 (&auiCodes)[3], unsigned uiIntBits, unsigned uiFracBits)
{
    for (unsigned ui = 0; ui < 3; ++ui)
        auiCodes[ui] = ConvertFloatToFixedPoint(afSource[ui], uiIntBits, uiFracBits);
}
} // namespace

CDisplayVFDC::CDisplayVFDC()
    : COMXComponent(const_cast<char*>(local_szDisplayName)),
      m_oDisplayMode(),
      m_oCscMatrix(),
      m_poEdid(nullptr),
      m_sMonitorName(),
      m_bSetCscMatrix(false),
      m_uiNbInPorts(0),
      m_aoInPort(),
      m_uiNbMosaicRegions(0),
      m_aoMosaicRgn(),
      m_uiMosaicLayoutId(0)
{
    ZEM_INFO(3, "");
    OmxInitStructure(m_oDisplayMode);
    OmxInitStructure(m_oCscMatrix);
}

CDisplayVFDC::~CDisplayVFDC()
{
    ZEM_INFO(3, "");
    delete m_poEdid;
}

OMX_ERRORTYPE CDisplayVFDC::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDisplayVFDC");
    ZEM_CHECK(COMXComponent::Init());
    // A platform that reports success without a handle has no display to drive.
    if (m_hOMXComponent == nullptr)
        ZEM_FAIL(OMX_ErrorInvalidComponent);
    // The controller's state stays unknown (OMX_StateInvalid) until it reports its first change.
    eError = OMX_GetHandle(&m_hOMXCtrl, const_cast<char*>(local_szControllerName), this, &oOmxCallback);
    if (eError != OMX_ErrorNone)
    {
        // Without its controller the display is of no use: both go.
        OMX_FreeHandle(m_hOMXComponent);
        m_hOMXComponent = nullptr;
        m_hOMXCtrl = nullptr;
    }
    ZEM_INFO(1, "(** m_hOMXComponent=%p -- m_hOMXCtrl=%p **)", m_hOMXComponent, m_hOMXCtrl);
    ZEM_CHECK(eError);
    ZEM_CHECK(InitPorts());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDisplayVFDC::CreatePorts()
{
    m_uiInputPortCount = s_uiMaxInputPorts;
    m_poInputPort = m_aoSinkPort;
    for (MUINT32 uiPort = 0; uiPort < s_uiMaxInputPorts; ++uiPort)
        m_aoSinkPort[uiPort].SetPortID(uiPort);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayVFDC::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDisplayVFDC");
    delete m_poEdid;
    m_poEdid = nullptr;
    ZEM_CHECK(DeinitPortsAndHandles());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

// ---- Display mode ------------------------------------------------------------------------------

OMX_ERRORTYPE CDisplayVFDC::SetVideoOutParams(bool bUsePreferedMode, unsigned uiWidth, unsigned uiHeight,
                                              bool bInterlaced, unsigned uiFps, unsigned uiPixelClock,
                                              unsigned uiHorzFrontPorch, unsigned uiHorzBackPorch, unsigned uiHorzSync,
                                              unsigned uiVertFrontPorch, unsigned uiVertBackPorch, unsigned uiVertSync)
{
    const CEdid* poEdid = GetEdid(true);
    CDetailedTiming oPreferred;
    bool bPreferred = bUsePreferedMode && poEdid != nullptr && poEdid->GetPreferredMode(oPreferred);
    // The output refuses a timing it cannot drive, which would stop the whole start: such a
    // monitor is driven in the caller's mode instead (most monitors take 1080p60 too).
    const unsigned uiFrameLines = static_cast<unsigned>(oPreferred.GetVerticalActive()) *
                                  (oPreferred.IsInterlaced() != 0 ? 2u : 1u);
    if (bPreferred && (static_cast<unsigned>(oPreferred.GetPixelClock()) > s_uiMaxPixelClock ||
                       static_cast<unsigned>(oPreferred.GetHorizontalActive()) > s_oMaxActiveSize.m_uiCx ||
                       uiFrameLines > s_oMaxActiveSize.m_uiCy))
    {
        ZEM_INFO(1, "Preferred mode %dx%d@%dHz (%d kHz) is beyond the output, using %ux%u@%uHz",
                 oPreferred.GetHorizontalActive(), static_cast<int>(uiFrameLines), oPreferred.GetVerticalRate(),
                 oPreferred.GetPixelClock(), uiWidth, bInterlaced ? 2 * uiHeight : uiHeight, uiFps);
        bPreferred = false;
    }
    if (bPreferred)
    {
        // An interlaced timing counts the lines and the rate of one field, and so does the mode.
        local_SetMode(m_oDisplayMode, static_cast<unsigned>(oPreferred.GetHorizontalActive()),
                      static_cast<unsigned>(oPreferred.GetVerticalActive()), oPreferred.IsInterlaced() != 0,
                      static_cast<unsigned>(oPreferred.GetVerticalRate()),
                      static_cast<unsigned>(oPreferred.GetPixelClock()),
                      static_cast<unsigned>(oPreferred.GetHorizontalFrontPorch()),
                      static_cast<unsigned>(oPreferred.GetHorizontalBackPorch()),
                      static_cast<unsigned>(oPreferred.GetHorizontalSync()),
                      static_cast<unsigned>(oPreferred.GetVerticalFrontPorch()),
                      static_cast<unsigned>(oPreferred.GetVerticalBackPorch()),
                      static_cast<unsigned>(oPreferred.GetVerticalSync()));
    }
    else
    {
        local_SetMode(m_oDisplayMode, uiWidth, uiHeight, bInterlaced, uiFps, uiPixelClock, uiHorzFrontPorch,
                      uiHorzBackPorch, uiHorzSync, uiVertFrontPorch, uiVertBackPorch, uiVertSync);
    }
    ZEM_INFO(3, "Display mode: %dx%d@%dHz", static_cast<int>(m_oDisplayMode.width),
             static_cast<int>(m_oDisplayMode.height), static_cast<int>(m_oDisplayMode.fps));
    return OMX_ErrorNone;
}

CEdid* CDisplayVFDC::GetEdid(bool bReset)
{
    if (bReset && m_poEdid != nullptr)
    {
        delete m_poEdid;
        m_poEdid = nullptr;
    }
    if (m_poEdid == nullptr)
    {
        m_sMonitorName = "Unknown";
        m_poEdid = CEdid::Read(0);
        MCHAR8 szName[local_uiMonitorNameLength] = {};
        if (m_poEdid != nullptr && m_poEdid->GetDetailedMonitorName(szName, local_uiMonitorNameLength))
            m_sMonitorName = szName;
    }
    return m_poEdid;
}

bool CDisplayVFDC::ChangeDisplayMode(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roDisplayMode)
{
    char szTimings[local_uiTimingsLength];
    snprintf(szTimings, sizeof(szTimings), "%d,%d/%d/%d/%d,%d/%d/%d/%d,%d", static_cast<int>(roDisplayMode.pixelClock),
             static_cast<int>(roDisplayMode.width), static_cast<int>(roDisplayMode.hFrontPorch),
             static_cast<int>(roDisplayMode.hBackPorch), static_cast<int>(roDisplayMode.hSyncLen),
             static_cast<int>(roDisplayMode.height), static_cast<int>(roDisplayMode.vFrontPorch),
             static_cast<int>(roDisplayMode.vBackPorch), static_cast<int>(roDisplayMode.vSyncLen),
             roDisplayMode.scanFormat != OMX_DC_SF_INTERLACED ? 1 : 0);

    FILE* poEnabled = fopen(PlatformPath(local_szEnabledPath).c_str(), "w");
    if (poEnabled == nullptr)
        return false;

    // Unchanged when the driver's timing starts with the new one.
    bool bChanged = true;
    FILE* poTimings = fopen(PlatformPath(local_szTimingsPath).c_str(), "r");
    if (poTimings != nullptr)
    {
        bChanged = false;
        for (size_t uiChar = 0; szTimings[uiChar] != 0; ++uiChar)
        {
            if (fgetc(poTimings) != static_cast<unsigned char>(szTimings[uiChar]))
            {
                bChanged = true;
                break;
            }
        }
        fclose(poTimings);
    }

    bool bSet = false;
    if (bChanged && fputc('0', poEnabled) != EOF && fflush(poEnabled) == 0)
    {
        // The output is off while its timing changes.
        poTimings = fopen(PlatformPath(local_szTimingsPath).c_str(), "w");
        if (poTimings != nullptr)
        {
            // The driver takes or refuses the timing when the text reaches it.
            if (fputs(szTimings, poTimings) >= 0 && fflush(poTimings) == 0)
            {
                ZEM_INFO(1, "Timings= %s", szTimings);
                bSet = true;
            }
            fclose(poTimings);
        }
    }

    // Back on, whatever happened; from the start of the file, so that it holds the one character.
    fseek(poEnabled, 0, SEEK_SET);
    fputc('1', poEnabled);
    fclose(poEnabled);
    return !bChanged || bSet;
}

// ---- Ports and windows --------------------------------------------------------------------------

bool CDisplayVFDC::IsRunning() const
{
    const OMX_STATETYPE eState = GetComponentState();
    return eState == OMX_StateIdle || eState == OMX_StateExecuting;
}

unsigned CDisplayVFDC::AddInputPort(bool bReset, OmxPixelFormat ePixelFormat, bool bProvideBuffer,
                                    unsigned uiNbBuffers, const tagMSIZE32& roBufferSize,
                                    const tagMSIZE32& roWindowSize)
{
    if (IsRunning())
        return s_uiInvalidPort;
    if (ePixelFormat != OmxPixFmt_YUV420 && ePixelFormat != OmxPixFmt_YUV422)
        return s_uiInvalidPort;
    if (uiNbBuffers < 2)
        return s_uiInvalidPort;
    if (roBufferSize.m_uiCx < roWindowSize.m_uiCx || roBufferSize.m_uiCy < roWindowSize.m_uiCy)
        return s_uiInvalidPort;
    if (!bReset && m_uiNbInPorts >= s_uiMaxInputPorts)
        return s_uiInvalidPort;
    if (bReset)
    {
        m_uiNbInPorts = 0;
        m_uiNbMosaicRegions = 0;
    }

    const MUINT32 uiPort = m_uiNbInPorts;
    InputPort& roPort = m_aoInPort[uiPort];
    roPort.m_ePixelFormat = ePixelFormat;
    roPort.m_bProvideBuffer = bProvideBuffer;
    roPort.m_uiNbBuffer = uiNbBuffers;
    roPort.m_oBufferSize = roBufferSize;
    roPort.m_oWindowSize = roWindowSize;
    ++m_uiNbInPorts;
    ZEM_INFO(3, "Port %u: PixFmt= %d, ProvBuf= %d, NbBuf= %u, BufSize= %ux%u, WinSize= %ux%u.", uiPort,
             static_cast<int>(ePixelFormat), bProvideBuffer ? 1 : 0, uiNbBuffers, roBufferSize.m_uiCx,
             roBufferSize.m_uiCy, roWindowSize.m_uiCx, roWindowSize.m_uiCy);
    return uiPort;
}

bool CDisplayVFDC::SetMosaicLayout(unsigned uiNbMosaicRegions, const MosaicRegion* aoMosaicRegions)
{
    if (uiNbMosaicRegions > local_uiMaxMosaicRegions || (uiNbMosaicRegions > 0 && aoMosaicRegions == nullptr))
        return false;
    for (unsigned uiRegion = 0; uiRegion < uiNbMosaicRegions; ++uiRegion)
    {
        const MosaicRegion& roRegion = aoMosaicRegions[uiRegion];
        if (roRegion.m_uiInPortIdx >= m_uiNbInPorts || roRegion.m_oDstPos.m_iX < 0 || roRegion.m_oDstPos.m_iY < 0)
            return false;
    }
    for (unsigned uiRegion = 0; uiRegion < uiNbMosaicRegions; ++uiRegion)
    {
        const MosaicRegion& roRegion = aoMosaicRegions[uiRegion];
        m_aoMosaicRgn[uiRegion] = roRegion;
        ZEM_INFO(3, "Window %u: State= %d, PortIdx= %u, DstPos= %u,%u, Z= %u.", uiRegion,
                 static_cast<int>(GetComponentState()), roRegion.m_uiInPortIdx,
                 static_cast<unsigned>(roRegion.m_oDstPos.m_iX), static_cast<unsigned>(roRegion.m_oDstPos.m_iY),
                 roRegion.m_uiZOrder);
    }
    m_uiNbMosaicRegions = uiNbMosaicRegions;
    if (IsRunning())
        return ApplyMosaicLayout() == OMX_ErrorNone;
    return true;
}

OMX_ERRORTYPE CDisplayVFDC::InitSingleWindowLayout(OmxPixelFormat ePixelFormat, unsigned uiNbBuffers,
                                                   tagMRECT32 roWindowRect)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    MosaicRegion oRegion;
    oRegion.m_uiInPortIdx =
        AddInputPort(true, ePixelFormat, false, uiNbBuffers, roWindowRect.m_oSize, roWindowRect.m_oSize);
    if (oRegion.m_uiInPortIdx == s_uiInvalidPort)
        ZEM_FAIL(OMX_ErrorUndefined);
    oRegion.m_oDstPos = roWindowRect.m_oPos;
    oRegion.m_uiZOrder = 0;
    if (!SetMosaicLayout(1, &oRegion))
        ZEM_FAIL(OMX_ErrorUndefined);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

bool CDisplayVFDC::SetCscMatrix(const CscMatrix& roCscMatrix)
{
    local_ConvertVector(roCscMatrix.m_afRedVector, m_oCscMatrix.auiRedVector, 3, 10);
    local_ConvertVector(roCscMatrix.m_afGreenVector, m_oCscMatrix.auiGreenVector, 3, 10);
    local_ConvertVector(roCscMatrix.m_afBlueVector, m_oCscMatrix.auiBlueVector, 3, 10);
    local_ConvertVector(roCscMatrix.m_afOffsetVector, m_oCscMatrix.auiOffsetVector, 10, 2);
    m_bSetCscMatrix = true;
    // Until the controller has reported a state, SetParameters sends the matrix.
    if (GetCtrlState() == OMX_StateInvalid)
        return true;
    return SetOmxCtlConfig(OMX_TI_IndexConfigCtrlSetCsc, &m_oCscMatrix) == OMX_ErrorNone;
}

// ---- Platform settings ----------------------------------------------------------------------------

OMX_ERRORTYPE CDisplayVFDC::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_PARAM_VFDC_DRIVERINSTID oDriverInstance;
    OMX_PARAM_CTRL_COLOR_RANGE oColorRange;

    // Only the configured ports take part.
    m_uiInputPortCount = m_uiNbInPorts;
    for (MUINT32 uiPort = 0; uiPort < m_uiNbInPorts; ++uiPort)
    {
        const InputPort& roPort = m_aoInPort[uiPort];
        const MUINT32 uiPortID = m_aoSinkPort[uiPort].GetPortID();
        ZEM_CHECK(EnablePort(uiPortID, 1));

        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        OmxInitStructure(oDefinition, uiPortID);
        ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        oDefinition.format.video.nFrameWidth = roPort.m_oWindowSize.m_uiCx;
        oDefinition.format.video.nFrameHeight = roPort.m_oWindowSize.m_uiCy;
        oDefinition.format.video.nStride = static_cast<OMX_S32>(GetPitch(roPort.m_oBufferSize.m_uiCx, roPort.m_ePixelFormat));
        oDefinition.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
        oDefinition.format.video.eColorFormat = static_cast<OMX_COLOR_FORMATTYPE>(roPort.m_ePixelFormat);
        oDefinition.nBufferCountActual = roPort.m_uiNbBuffer;
        oDefinition.nBufferSize = GetBufferSize(roPort.m_oBufferSize, roPort.m_ePixelFormat);
        ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roPort.m_bProvideBuffer)
        {
            SPortBufferInfo oBufferInfo = {static_cast<OMX_COLOR_FORMATTYPE>(roPort.m_ePixelFormat),
                                           static_cast<MUINT32>(oDefinition.nBufferSize), roPort.m_oWindowSize.m_uiCx,
                                           roPort.m_oWindowSize.m_uiCy};
            ZEM_CHECK(m_aoSinkPort[uiPort].ProvideBuffer(&oBufferInfo, roPort.m_uiNbBuffer));
        }
    }

    if (!ChangeDisplayMode(m_oDisplayMode))
        ZEM_FAIL(OMX_ErrorUndefined);

    // Both components drive the first HD output in custom mode.
    OmxInitStructure(oDriverInstance);
    oDriverInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD0;
    oDriverInstance.eDispVencMode = OMX_DC_MODE_CUSTOM;
    ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamVFDCDriverInstId, &oDriverInstance));
    ZEM_CHECK(SetOmxCtlParam(OMX_TI_IndexParamVFDCDriverInstId, &oDriverInstance));
    ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamVFDCCustomModeInfo, &m_oDisplayMode));
    ZEM_CHECK(SetOmxCtlParam(OMX_TI_IndexParamVFDCCustomModeInfo, &m_oDisplayMode));

    OmxInitStructure(oColorRange);
    oColorRange.bFullRange = OMX_TRUE;
    ZEM_CHECK(SetOmxCtlParam(OMX_TI_IndexParamCtrlColorRange, &oColorRange));
    if (m_bSetCscMatrix)
        ZEM_CHECK(SetOmxCtlConfig(OMX_TI_IndexConfigCtrlSetCsc, &m_oCscMatrix));

    ZEM_CHECK(ApplyMosaicLayout());

    // Over the windows, taking the sink ports by position.
    for (MUINT32 uiRegion = 0; uiRegion < m_uiNbMosaicRegions; ++uiRegion)
    {
        OMX_PARAM_BUFFER_MEMORYTYPE oMemoryType;
        OmxInitStructure(oMemoryType, m_aoSinkPort[uiRegion].GetPortID());
        oMemoryType.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
        ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamBuffMemType, &oMemoryType));
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDisplayVFDC::ApplyMosaicLayout()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oPortMap;

    OmxInitStructure(oLayout);
    oLayout.nDisChannelNum = 0;
    oLayout.nNumWindows = m_uiNbMosaicRegions;
    OmxInitStructure(oPortMap);
    oPortMap.numWindows = m_uiNbMosaicRegions;
    for (MUINT32 uiRegion = 0; uiRegion < m_uiNbMosaicRegions; ++uiRegion)
    {
        const MosaicRegion& roRegion = m_aoMosaicRgn[uiRegion];
        const InputPort& roPort = m_aoInPort[roRegion.m_uiInPortIdx];
        OMX_VFDC_MultipleWindowFmt& roWindow = oLayout.sMosaicWinFmt[uiRegion];
        roWindow.winStartX = static_cast<OMX_U32>(roRegion.m_oDstPos.m_iX);
        roWindow.winStartY = static_cast<OMX_U32>(roRegion.m_oDstPos.m_iY);
        roWindow.winWidth = roPort.m_oWindowSize.m_uiCx;
        roWindow.winHeight = roPort.m_oWindowSize.m_uiCy;
        roWindow.priority = roRegion.m_uiZOrder;
        roWindow.pitch[0] = GetPitch(roPort.m_oBufferSize.m_uiCx, roPort.m_ePixelFormat);
        if (roPort.m_ePixelFormat == OmxPixFmt_YUV422)
        {
            roWindow.dataFormat = VFDC_DF_YUV422I_YVYU;
            roWindow.bpp = VFDC_BPP_BITS16;
        }
        else
        {
            roWindow.dataFormat = VFDC_DF_YUV422SP_VU;
            roWindow.bpp = VFDC_BPP_BITS12;
            roWindow.pitch[1] = roPort.m_oBufferSize.m_uiCx / 2;
        }
        oPortMap.omxPortList[uiRegion] = m_aoSinkPort[roRegion.m_uiInPortIdx].GetPortID();
        ZEM_INFO(3, "Layout %u/%u: Z= %u, WinPos= %u,%u, WinSize= %ux%u, Pitch= %u.", uiRegion, m_uiNbMosaicRegions,
                 static_cast<unsigned>(roWindow.priority), static_cast<unsigned>(roWindow.winStartX),
                 static_cast<unsigned>(roWindow.winStartY), static_cast<unsigned>(roWindow.winWidth),
                 static_cast<unsigned>(roWindow.winHeight), static_cast<unsigned>(roWindow.pitch[0]));
    }

    switch (GetComponentState())
    {
    case OMX_StateLoaded:
        // Every layout gets the same windows.
        for (MUINT32 uiLayoutId = 0; uiLayoutId < local_uiNbLayout; ++uiLayoutId)
        {
            oLayout.nLayoutId = uiLayoutId;
            eError = SetOmxParam(OMX_TI_IndexParamVFDCCreateMosaicLayout, &oLayout);
            if (eError != OMX_ErrorNone)
                return eError;
        }
        m_uiMosaicLayoutId = 0;
        break;
    case OMX_StateIdle:
    case OMX_StateExecuting:
        // The next layout is rewritten, never the one on screen, and selected only afterwards.
        m_uiMosaicLayoutId = (m_uiMosaicLayoutId + 1) % local_uiNbLayout;
        oLayout.nLayoutId = m_uiMosaicLayoutId;
        eError = SetOmxConfig(OMX_TI_IndexConfigVFDCModifyMosaicLayout, &oLayout);
        if (eError != OMX_ErrorNone)
        {
            ZEM_INFO(0, "Failed modifying layout id= %u!", m_uiMosaicLayoutId);
            return eError;
        }
        break;
    default:
        return OMX_ErrorInvalidState;
    }

    oPortMap.nLayoutId = m_uiMosaicLayoutId;
    eError = SetOmxConfig(OMX_TI_IndexConfigVFDCMosaicPort2WinMap, &oPortMap);
    if (eError != OMX_ErrorNone)
    {
        ZEM_INFO(0, "Failed selecting layout id= %u!", m_uiMosaicLayoutId);
        return eError;
    }
    return OMX_ErrorNone;
}
