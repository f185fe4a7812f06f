#include "CDisplayComponent.h"

#include <algorithm>
#include <cstring>

#include "CDisplayDriverFiles.h"
#include "CDisplaySettings.h"
#include "CImageFile.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.VFDC", PellixCreateComponent<CDisplayComponent>)

namespace
{
const OMX_U32 local_uiMaxFrameDimension = 4096;

// One record under two names: the layouts created in Loaded and modified later.
static_assert(sizeof(OMX_CONFIG_VFDC_MODIFYMOSAICLAYOUT) == sizeof(OMX_PARAM_VFDC_CREATEMOSAICLAYOUT),
              "a modified layout is a created one");

bool local_IsSemiPlanar(const OMX_VFDC_MultipleWindowFmt& roWindow)
{
    return roWindow.dataFormat == VFDC_DF_YUV422SP_VU;
}

// Bytes of one line of the first plane.
uint64_t local_LineBytes(OMX_U32 nWidth, bool bSemiPlanar)
{
    return bSemiPlanar ? uint64_t(nWidth) : 2 * uint64_t(nWidth);
}

// Bytes a frame of the given lines and pitch takes, chroma plane included.
uint64_t local_FrameBytes(uint64_t uiPitch, uint64_t uiLines, bool bSemiPlanar)
{
    return bSemiPlanar ? uiPitch * uiLines * 3 / 2 : uiPitch * uiLines;
}

bool local_IsShownFormat(OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYCbYCr || eFormat == OMX_COLOR_FormatYUV420SemiPlanar;
}
} // namespace

CDisplayComponent::CDisplayComponent(const char* szName)
    : CPlatformComponent(szName), m_aoLayout(), m_abLayoutCreated(), m_oPortMap(), m_bMapSelected(false),
      m_abOnScreen()
{
    CDisplayDriverFiles::EnsureCreated();

    OMX_PARAM_BUFFER_MEMORYTYPE oMemory;
    CDisplaySettings::InitStruct(oMemory);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
    for (OMX_U32 nPort = 0; nPort < s_uiPortCount; ++nPort)
    {
        CPlatformPort& roPort = AddPort(nPort, OMX_DirInput, OMX_PortDomainVideo);
        roPort.SetBufferRequirements(2, 4, 1920 * 1080 * 2);
        OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
        roVideo.nFrameWidth = 1920;
        roVideo.nFrameHeight = 1080;
        roVideo.nStride = 1920 * 2;
        roVideo.nSliceHeight = 1080;
        roVideo.eCompressionFormat = OMX_VIDEO_CodingUnused;
        roVideo.eColorFormat = OMX_COLOR_FormatYCbYCr;
        // A port takes part only once the client enables it.
        roPort.SetEnabled(false);
        oMemory.nPortIndex = nPort;
        AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamBuffMemType), SettingAccess_LoadedOnly, true,
                     &oMemory);
    }
    const OMX_PARAM_VFDC_DRIVERINSTID oInstance = CDisplaySettings::DefaultDriverInstance();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCDriverInstId), SettingAccess_LoadedOnly, false,
                 &oInstance);
    const OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = CDisplaySettings::DefaultMode();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo), SettingAccess_LoadedOnly, false,
                 &oMode);
    CTestControl::Instance().SetSnapshotWriter(this, &SnapshotWriter);
}

CDisplayComponent::~CDisplayComponent()
{
    CTestControl::Instance().ClearSnapshotWriter(this);
}

// ---- Refresh ---------------------------------------------------------------------------------

OMX_ERRORTYPE CDisplayComponent::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    if (eTo == OMX_StateExecuting)
    {
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode;
        if (!ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo), false, 0, &oMode,
                         sizeof(oMode)))
            return OMX_ErrorUndefined;
        StartClock(CDisplaySettings::FramePeriodNs(oMode));
        if (CDisplayWindow::IsWanted())
        {
            unsigned uiWidth = 0;
            unsigned uiHeight = 0;
            ScreenSize(uiWidth, uiHeight);
            m_oWindow.Open(uiWidth, uiHeight);
        }
    }
    else if (eFrom == OMX_StateExecuting)
    {
        StopClock();
        m_oWindow.Close();
    }
    return OMX_ErrorNone;
}

void CDisplayComponent::OnTick(unsigned)
{
    // A refresh: each window shows the next frame of its port, if one came; the frame it replaces
    // goes back. Ports off screen give back what they hold.
    OMX_BUFFERHEADERTYPE* apoBack[2 * s_uiPortCount];
    unsigned uiBack = 0;
    bool bShown = false;
    for (OMX_U32 nPort = 0; nPort < s_uiPortCount; ++nPort)
    {
        OMX_BUFFERHEADERTYPE* poNext = TakeBuffer(nPort);
        std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
        SPortScreen& roScreen = m_aoScreen[nPort];
        if (!m_abOnScreen[nPort])
        {
            if (roScreen.poShown != nullptr)
                apoBack[uiBack++] = roScreen.poShown;
            roScreen.poShown = nullptr;
            if (poNext != nullptr)
                apoBack[uiBack++] = poNext;
            continue;
        }
        if (poNext == nullptr)
            continue;
        if (roScreen.poShown != nullptr)
            apoBack[uiBack++] = roScreen.poShown;
        roScreen.poShown = poNext;
        roScreen.bKept = false;
        bShown = true;
    }
    if (m_oWindow.IsOpen())
        ShowInWindow();
    // Outside the display mutex: the client's callback may call straight back.
    for (unsigned ui = 0; ui < uiBack; ++ui)
        ReturnBuffer(apoBack[ui]);
    if (bShown)
        Count(PellixCounter_FramesShown);
}

void CDisplayComponent::ShowInWindow()
{
    size_t uiStride = 0;
    uint8_t* puiScreen = m_oWindow.BeginFrame(uiStride);
    if (puiScreen == nullptr)
        return;
    OMX_PARAM_PORTDEFINITIONTYPE aoDefinition[s_uiPortCount];
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    ReadScreen(aoDefinition, uiWidth, uiHeight);
    {
        std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
        SWindowPixels aoWindows[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
        const unsigned uiWindows = VisibleWindows(aoDefinition, aoWindows);
        for (unsigned ui = 0; ui < uiWindows; ++ui)
            CDisplayWindow::DrawWindow(aoWindows[ui], puiScreen, uiStride, uiWidth, uiHeight);
    }
    m_oWindow.Show();
}

void CDisplayComponent::OnReleaseBuffers(OMX_U32 nPortIndex)
{
    if (nPortIndex >= s_uiPortCount)
        return;
    // The engine hands every buffer back now: the frame on screen is kept as a copy.
    std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
    SPortScreen& roScreen = m_aoScreen[nPortIndex];
    const OMX_BUFFERHEADERTYPE* poShown = roScreen.poShown;
    if (poShown == nullptr)
        return;
    roScreen.poShown = nullptr;
    const OMX_U32 nOffset = poShown->nOffset < poShown->nAllocLen ? poShown->nOffset : poShown->nAllocLen;
    roScreen.auiKept.assign(poShown->pBuffer + nOffset, poShown->pBuffer + poShown->nAllocLen);
    roScreen.bKept = true;
}

// ---- Snapshot --------------------------------------------------------------------------------

OMX_ERRORTYPE CDisplayComponent::SnapshotWriter(void* pvContext, const char* szPath)
{
    return static_cast<CDisplayComponent*>(pvContext)->WriteSnapshot(szPath);
}

void CDisplayComponent::ReadScreen(OMX_PARAM_PORTDEFINITIONTYPE (&raoDefinition)[s_uiPortCount], unsigned& ruiWidth,
                                   unsigned& ruiHeight) const
{
    for (OMX_U32 nPort = 0; nPort < s_uiPortCount; ++nPort)
        ReadPortDefinition(nPort, raoDefinition[nPort]);
    ScreenSize(ruiWidth, ruiHeight);
}

void CDisplayComponent::ScreenSize(unsigned& ruiWidth, unsigned& ruiHeight) const
{
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = CDisplaySettings::DefaultMode();
    ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo), false, 0, &oMode, sizeof(oMode));
    ruiWidth = static_cast<unsigned>(oMode.width);
    ruiHeight = static_cast<unsigned>(CDisplaySettings::FrameLines(oMode));
}

unsigned CDisplayComponent::VisibleWindows(const OMX_PARAM_PORTDEFINITIONTYPE* aoDefinition,
                                           SWindowPixels (&raoWindows)[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS]) const
{
    if (!m_bMapSelected)
        return 0;
    const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT& roLayout = m_aoLayout[m_oPortMap.nLayoutId];
    // Lower priorities first, so that higher ones lie above them.
    unsigned auiOrder[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
    const unsigned uiWindows = static_cast<unsigned>(m_oPortMap.numWindows);
    for (unsigned ui = 0; ui < uiWindows; ++ui)
        auiOrder[ui] = ui;
    std::stable_sort(auiOrder, auiOrder + uiWindows, [&roLayout](unsigned uiA, unsigned uiB) {
        return roLayout.sMosaicWinFmt[uiA].priority < roLayout.sMosaicWinFmt[uiB].priority;
    });
    unsigned uiVisible = 0;
    for (unsigned uiOrder = 0; uiOrder < uiWindows; ++uiOrder)
    {
        const unsigned uiWindow = auiOrder[uiOrder];
        const OMX_VFDC_MultipleWindowFmt& roFmt = roLayout.sMosaicWinFmt[uiWindow];
        const OMX_U32 nPort = m_oPortMap.omxPortList[uiWindow];
        const SPortScreen& roScreen = m_aoScreen[nPort];
        SWindowPixels& roPixels = raoWindows[uiVisible];
        if (roScreen.poShown != nullptr)
        {
            const OMX_BUFFERHEADERTYPE* poShown = roScreen.poShown;
            const OMX_U32 nOffset = poShown->nOffset < poShown->nAllocLen ? poShown->nOffset : poShown->nAllocLen;
            roPixels.puiData = poShown->pBuffer + nOffset;
            roPixels.uiSize = poShown->nAllocLen - nOffset;
        }
        else if (roScreen.bKept)
        {
            roPixels.puiData = roScreen.auiKept.data();
            roPixels.uiSize = roScreen.auiKept.size();
        }
        else
            continue;
        roPixels.uiX = static_cast<unsigned>(roFmt.winStartX);
        roPixels.uiY = static_cast<unsigned>(roFmt.winStartY);
        roPixels.uiWidth = static_cast<unsigned>(roFmt.winWidth);
        roPixels.uiHeight = static_cast<unsigned>(roFmt.winHeight);
        roPixels.uiPitch = static_cast<unsigned>(roFmt.pitch[0]);
        roPixels.bSemiPlanar = local_IsSemiPlanar(roFmt);
        // The chroma plane follows the luma lines of the whole buffer.
        const uint64_t uiBufferLines =
            roFmt.pitch[0] > 0 ? 2 * uint64_t(aoDefinition[nPort].nBufferSize) / (3 * uint64_t(roFmt.pitch[0])) : 0;
        roPixels.uiChromaOffset = static_cast<size_t>(uiBufferLines * roFmt.pitch[0]);
        roPixels.uiChromaPitch = static_cast<unsigned>(2 * roFmt.pitch[1]);
        ++uiVisible;
    }
    return uiVisible;
}

OMX_ERRORTYPE CDisplayComponent::WriteSnapshot(const char* szPath)
{
    if (szPath == nullptr)
        return OMX_ErrorBadParameter;
    OMX_PARAM_PORTDEFINITIONTYPE aoDefinition[s_uiPortCount];
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    ReadScreen(aoDefinition, uiWidth, uiHeight);
    CRgbImage oImage(uiWidth, uiHeight);
    {
        std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
        if (!m_bMapSelected)
            return OMX_ErrorNotReady;
        SWindowPixels aoWindows[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS];
        const unsigned uiWindows = VisibleWindows(aoDefinition, aoWindows);
        if (uiWindows == 0)
            return OMX_ErrorNotReady;
        for (unsigned ui = 0; ui < uiWindows; ++ui)
            oImage.DrawWindow(aoWindows[ui]);
    }
    return CImageFile::Write(oImage, szPath) ? OMX_ErrorNone : OMX_ErrorUndefined;
}

// ---- Layouts and the port map ------------------------------------------------------------------

OMX_ERRORTYPE CDisplayComponent::CheckLayout(const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT& roLayout) const
{
    if (roLayout.nDisChannelNum != 0 || roLayout.nLayoutId >= OMX_VFDC_MAX_LAYOUTS ||
        roLayout.nNumWindows > OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS)
        return OMX_ErrorBadParameter;
    unsigned uiScreenWidth = 0;
    unsigned uiScreenHeight = 0;
    ScreenSize(uiScreenWidth, uiScreenHeight);
    for (OMX_U32 nWindow = 0; nWindow < roLayout.nNumWindows; ++nWindow)
    {
        const OMX_VFDC_MultipleWindowFmt& roFmt = roLayout.sMosaicWinFmt[nWindow];
        const bool bSemiPlanar = local_IsSemiPlanar(roFmt);
        const bool bKnownFormat = (roFmt.dataFormat == VFDC_DF_YUV422I_YVYU && roFmt.bpp == VFDC_BPP_BITS16) ||
                                  (bSemiPlanar && roFmt.bpp == VFDC_BPP_BITS12);
        if (!bKnownFormat || roFmt.winWidth == 0 || roFmt.winHeight == 0 ||
            uint64_t(roFmt.winStartX) + roFmt.winWidth > uiScreenWidth ||
            uint64_t(roFmt.winStartY) + roFmt.winHeight > uiScreenHeight ||
            roFmt.pitch[0] < local_LineBytes(roFmt.winWidth, bSemiPlanar) ||
            (bSemiPlanar && roFmt.pitch[1] < roFmt.winWidth / 2))
            return OMX_ErrorBadParameter;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::CheckPortMap(const OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP& roMap) const
{
    if (roMap.nLayoutId >= OMX_VFDC_MAX_LAYOUTS || roMap.numWindows > OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS)
        return OMX_ErrorBadParameter;
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
    {
        std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
        if (!m_abLayoutCreated[roMap.nLayoutId])
            return OMX_ErrorBadParameter;
        oLayout = m_aoLayout[roMap.nLayoutId];
    }
    if (roMap.numWindows != oLayout.nNumWindows)
        return OMX_ErrorBadParameter;
    bool abUsed[s_uiPortCount] = {};
    for (OMX_U32 nWindow = 0; nWindow < roMap.numWindows; ++nWindow)
    {
        const OMX_U32 nPort = roMap.omxPortList[nWindow];
        if (nPort >= s_uiPortCount || abUsed[nPort])
            return OMX_ErrorBadParameter;
        abUsed[nPort] = true;
        // The window must read the port's frames as they are laid out, and inside its buffers.
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        ReadPortDefinition(nPort, oDefinition);
        const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = oDefinition.format.video;
        const OMX_VFDC_MultipleWindowFmt& roFmt = oLayout.sMosaicWinFmt[nWindow];
        const bool bSemiPlanar = local_IsSemiPlanar(roFmt);
        const OMX_COLOR_FORMATTYPE eExpected = bSemiPlanar ? OMX_COLOR_FormatYUV420SemiPlanar : OMX_COLOR_FormatYCbYCr;
        if (roVideo.eColorFormat != eExpected || roFmt.winWidth > roVideo.nFrameWidth ||
            roFmt.winHeight > roVideo.nFrameHeight ||
            local_FrameBytes(roFmt.pitch[0], roFmt.winHeight, bSemiPlanar) > oDefinition.nBufferSize)
            return OMX_ErrorBadParameter;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::StoreLayout(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    const bool bCreate = static_cast<OMX_U32>(eIndex) == OMX_TI_IndexParamVFDCCreateMosaicLayout;
    OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, sizeof(OMX_PARAM_VFDC_CREATEMOSAICLAYOUT));
    if (eError != OMX_ErrorNone)
        return eError;
    const OMX_STATETYPE eState = State();
    const bool bLoaded = eState == OMX_StateLoaded || eState == OMX_StateWaitForResources;
    if (bCreate && !bLoaded)
        return OMX_ErrorIncorrectStateOperation;
    const auto& roLayout = *static_cast<const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT*>(pvStruct);
    eError = CheckLayout(roLayout);
    if (eError != OMX_ErrorNone)
        return eError;

    std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
    const bool bOnScreen = m_bMapSelected && m_oPortMap.nLayoutId == roLayout.nLayoutId;
    // The layout on screen is not rewritten under the running display.
    if (bOnScreen && !bLoaded)
        return OMX_ErrorIncorrectStateOperation;
    m_aoLayout[roLayout.nLayoutId] = roLayout;
    m_aoLayout[roLayout.nLayoutId].nSize = sizeof(OMX_PARAM_VFDC_CREATEMOSAICLAYOUT);
    m_abLayoutCreated[roLayout.nLayoutId] = true;
    if (bOnScreen)
    {
        // Its windows may no longer match the map: the client selects it again.
        m_bMapSelected = false;
        std::fill(m_abOnScreen, m_abOnScreen + s_uiPortCount, false);
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::ReadLayout(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const
{
    const OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, sizeof(OMX_PARAM_VFDC_CREATEMOSAICLAYOUT));
    if (eError != OMX_ErrorNone)
        return eError;
    auto& roLayout = *static_cast<OMX_PARAM_VFDC_CREATEMOSAICLAYOUT*>(pvStruct);
    const OMX_U32 nLayoutId = roLayout.nLayoutId;
    if (nLayoutId >= OMX_VFDC_MAX_LAYOUTS)
        return OMX_ErrorBadParameter;
    const OMX_VERSIONTYPE oVersion = roLayout.nVersion;
    std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
    if (m_abLayoutCreated[nLayoutId])
        roLayout = m_aoLayout[nLayoutId];
    else
    {
        memset(&roLayout, 0, sizeof(roLayout));
        roLayout.nLayoutId = nLayoutId;
    }
    roLayout.nSize = sizeof(roLayout);
    roLayout.nVersion = oVersion;
    return OMX_ErrorNone;
}

// ---- Settings --------------------------------------------------------------------------------

OMX_ERRORTYPE CDisplayComponent::OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) == OMX_TI_IndexParamVFDCCreateMosaicLayout)
        return ReadLayout(eIndex, pvStruct);
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CDisplayComponent::OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) == OMX_TI_IndexParamVFDCCreateMosaicLayout)
        return StoreLayout(eIndex, pvStruct);
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CDisplayComponent::OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) == OMX_TI_IndexConfigVFDCModifyMosaicLayout)
        return ReadLayout(eIndex, pvStruct);
    if (static_cast<OMX_U32>(eIndex) != OMX_TI_IndexConfigVFDCMosaicPort2WinMap)
        return OMX_ErrorUnsupportedIndex;
    const OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, sizeof(OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP));
    if (eError != OMX_ErrorNone)
        return eError;
    auto& roMap = *static_cast<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP*>(pvStruct);
    const OMX_VERSIONTYPE oVersion = roMap.nVersion;
    std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
    if (m_bMapSelected)
        roMap = m_oPortMap;
    else
        memset(&roMap, 0, sizeof(roMap));
    roMap.nSize = sizeof(roMap);
    roMap.nVersion = oVersion;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) == OMX_TI_IndexConfigVFDCModifyMosaicLayout)
        return StoreLayout(eIndex, pvStruct);
    if (static_cast<OMX_U32>(eIndex) != OMX_TI_IndexConfigVFDCMosaicPort2WinMap)
        return OMX_ErrorUnsupportedIndex;
    OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, sizeof(OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP));
    if (eError != OMX_ErrorNone)
        return eError;
    const auto& roMap = *static_cast<const OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP*>(pvStruct);
    eError = CheckPortMap(roMap);
    if (eError != OMX_ErrorNone)
        return eError;
    std::lock_guard<std::mutex> oLock(m_oDisplayMutex);
    m_oPortMap = roMap;
    m_oPortMap.nSize = sizeof(m_oPortMap);
    m_bMapSelected = true;
    std::fill(m_abOnScreen, m_abOnScreen + s_uiPortCount, false);
    for (OMX_U32 nWindow = 0; nWindow < m_oPortMap.numWindows; ++nWindow)
        m_abOnScreen[m_oPortMap.omxPortList[nWindow]] = true;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::CheckPortDefinition(const CPlatformPort&, OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roNew.format.video;
    if (!local_IsShownFormat(roVideo.eColorFormat) || roVideo.eCompressionFormat != OMX_VIDEO_CodingUnused ||
        roVideo.nFrameWidth == 0 || roVideo.nFrameHeight == 0 || roVideo.nFrameWidth > local_uiMaxFrameDimension ||
        roVideo.nFrameHeight > local_uiMaxFrameDimension)
        return OMX_ErrorBadParameter;
    const bool bSemiPlanar = roVideo.eColorFormat == OMX_COLOR_FormatYUV420SemiPlanar;
    if (roVideo.nStride < 0 || uint64_t(roVideo.nStride) < local_LineBytes(roVideo.nFrameWidth, bSemiPlanar) ||
        local_FrameBytes(uint64_t(roVideo.nStride), roVideo.nFrameHeight, bSemiPlanar) > roNew.nBufferSize)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplayComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    switch (static_cast<OMX_U32>(eIndex))
    {
    case OMX_TI_IndexParamVFDCDriverInstId:
        return CDisplaySettings::CheckDriverInstance(*static_cast<const OMX_PARAM_VFDC_DRIVERINSTID*>(pvNew));
    case OMX_TI_IndexParamVFDCCustomModeInfo:
        return CDisplaySettings::CheckMode(*static_cast<const OMX_PARAM_DC_CUSTOM_MODE_INFO*>(pvNew));
    case OMX_TI_IndexParamBuffMemType:
        // The simulated display reads ordinary memory only.
        return static_cast<const OMX_PARAM_BUFFER_MEMORYTYPE*>(pvNew)->eBufMemoryType == OMX_BUFFER_MEMORY_DEFAULT
                   ? OMX_ErrorNone
                   : OMX_ErrorBadParameter;
    default:
        return OMX_ErrorNone;
    }
}
