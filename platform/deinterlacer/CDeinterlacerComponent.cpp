#include "CDeinterlacerComponent.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/mem.h>
}

#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.VFPC.DEIMDUALOUT", PellixCreateComponent<CDeinterlacerComponent>)

const OMX_U32 CDeinterlacerComponent::s_auiOutputPort[2] = {16, 17};

namespace
{
// nFlags of the second field of a frame.
const OMX_U32 local_uiSecondField = 0x00020000;

// A 1920 x 1080 video port of the format, four buffers.
void local_SetVideoPort(CPlatformPort& roPort, OMX_COLOR_FORMATTYPE eFormat)
{
    CVideoFrameGeometry(1920, 1080, CVideoFrameGeometry::MinimumStride(1920, eFormat), eFormat)
        .WriteTo(roPort.Definition());
    roPort.SetBufferRequirements(1, 4, roPort.Definition().nBufferSize);
}

bool local_Matches(const CVideoFrameGeometry& roPort, OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_U32 uiPitch)
{
    return roPort.m_uiWidth == uiWidth && roPort.m_uiHeight == uiHeight && roPort.m_uiStride == uiPitch;
}

// The crop is not empty, lies within the picture and covers whole chroma samples.
bool local_CropFits(const OMX_CONFIG_VIDCHANNEL_RESOLUTION& roResolution, const CVideoFrameGeometry& roPicture)
{
    const uint64_t uiRight = static_cast<uint64_t>(roResolution.FrmStartX) + roResolution.FrmCropWidth;
    const uint64_t uiBottom = static_cast<uint64_t>(roResolution.FrmStartY) + roResolution.FrmCropHeight;
    const bool bLinePairs = roPicture.IsSemiPlanar();
    return roResolution.FrmCropWidth > 0 && roResolution.FrmCropHeight > 0 && uiRight <= roPicture.m_uiWidth &&
           uiBottom <= roPicture.m_uiHeight && roResolution.FrmStartX % 2 == 0 && roResolution.FrmCropWidth % 2 == 0 &&
           (!bLinePairs || (roResolution.FrmStartY % 2 == 0 && roResolution.FrmCropHeight % 2 == 0));
}

bool local_IsStructOk(const void* pvStruct, size_t uiSize, OMX_ERRORTYPE& reError)
{
    const auto* poHead = static_cast<const OMX_CONFIG_VIDCHANNEL_RESOLUTION*>(pvStruct);
    reError = poHead->nSize < uiSize                    ? OMX_ErrorBadParameter
              : poHead->nVersion.s.nVersionMajor != 1 ? OMX_ErrorVersionMismatch
                                                      : OMX_ErrorNone;
    return reError == OMX_ErrorNone;
}
} // namespace

CDeinterlacerComponent::CDeinterlacerComponent(const char* szName)
    : CPlatformComponent(szName),
      m_aoResolution(),
      m_bReconfigure(false),
      m_bConfigured(false),
      m_bFields(false),
      m_bWeave(false),
      m_bLineByLine(false),
      m_auiCrop(),
      m_pWoven(nullptr, &av_free)
{
    local_SetVideoPort(AddPort(s_uiInputPort, OMX_DirInput, OMX_PortDomainVideo), OMX_COLOR_FormatYCbYCr);
    local_SetVideoPort(AddPort(s_auiOutputPort[0], OMX_DirOutput, OMX_PortDomainVideo), OMX_COLOR_FormatYCbYCr);
    local_SetVideoPort(AddPort(s_auiOutputPort[1], OMX_DirOutput, OMX_PortDomainVideo),
                       OMX_COLOR_FormatYUV420SemiPlanar);

    OMX_PARAM_BUFFER_MEMORYTYPE oMemoryType;
    for (OMX_U32 nPort : {s_uiInputPort, s_auiOutputPort[0], s_auiOutputPort[1]})
    {
        OmxInitStructure(oMemoryType, nPort);
        oMemoryType.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
        AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamBuffMemType), SettingAccess_LoadedOnly, true,
                     &oMemoryType);
    }
    OMX_PARAM_VFPC_NUMCHANNELPERHANDLE oChannels;
    OmxInitStructure(oChannels, s_uiInputPort);
    oChannels.nNumChannelsPerHandle = 1;
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFPCNumChPerHandle), SettingAccess_LoadedOnly, false,
                 &oChannels);
    OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
    OmxInitStructure(oSubSampling, s_uiInputPort);
    oSubSampling.nSubSamplingFactor = 1;
    AddConfig(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigSubSamplingFactor), SettingAccess_AnyState, false,
              &oSubSampling);
    OMX_CONFIG_RESOLUTIONCHANGE_TYPE oChangeType;
    OmxInitStructure(oChangeType, s_uiInputPort);
    oChangeType.eResolutionChangeType = OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT;
    AddConfig(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigResolutionChangeType), SettingAccess_AnyState, false,
              &oChangeType);
    // Progressive frames pass without deinterlacing until told otherwise.
    OMX_CONFIG_ALG_ENABLE oAlgorithm;
    OmxInitStructure(oAlgorithm, s_uiInputPort);
    oAlgorithm.bAlgBypass = OMX_TRUE;
    AddConfig(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigAlgEnable), SettingAccess_AnyState, false, &oAlgorithm);

    // The channel resolutions match the ports' definitions; the whole input is processed.
    OMX_CONFIG_VIDCHANNEL_RESOLUTION& roInput = m_aoResolution[0];
    OmxInitStructure(roInput, s_uiInputPort);
    roInput.eDir = OMX_DirInput;
    roInput.Frm0Width = roInput.FrmCropWidth = 1920;
    roInput.Frm0Height = roInput.FrmCropHeight = 1080;
    roInput.Frm0Pitch = 1920 * 2;
    OMX_CONFIG_VIDCHANNEL_RESOLUTION& roOutput = m_aoResolution[1];
    OmxInitStructure(roOutput, s_uiInputPort);
    roOutput.eDir = OMX_DirOutput;
    roOutput.Frm0Width = roOutput.Frm1Width = 1920;
    roOutput.Frm0Height = roOutput.Frm1Height = 1080;
    roOutput.Frm0Pitch = 1920 * 2;
    roOutput.Frm1Pitch = 1920;
}

CDeinterlacerComponent::~CDeinterlacerComponent() = default;

// ---- Settings -------------------------------------------------------------------------------------

OMX_ERRORTYPE CDeinterlacerComponent::CheckPortDefinition(const CPlatformPort&, OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    const OMX_ERRORTYPE eError = CVideoFrameGeometry::CheckPortDefinition(roNew);
    if (eError == OMX_ErrorNone)
        m_bReconfigure = true;
    return eError;
}

OMX_ERRORTYPE CDeinterlacerComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    bool bValid = true;
    switch (static_cast<OMX_U32>(eIndex))
    {
    case OMX_TI_IndexParamBuffMemType:
        // No tiled memory on this platform.
        bValid = static_cast<const OMX_PARAM_BUFFER_MEMORYTYPE*>(pvNew)->eBufMemoryType == OMX_BUFFER_MEMORY_DEFAULT;
        break;
    case OMX_TI_IndexParamVFPCNumChPerHandle:
        bValid = static_cast<const OMX_PARAM_VFPC_NUMCHANNELPERHANDLE*>(pvNew)->nNumChannelsPerHandle == 1;
        break;
    case OMX_TI_IndexConfigSubSamplingFactor:
    {
        const OMX_U32 uiFactor = static_cast<const OMX_CONFIG_SUBSAMPLING_FACTOR*>(pvNew)->nSubSamplingFactor;
        bValid = uiFactor == 1 || uiFactor == 2;
        break;
    }
    case OMX_TI_IndexConfigResolutionChangeType:
    {
        const auto& roType = *static_cast<const OMX_CONFIG_RESOLUTIONCHANGE_TYPE*>(pvNew);
        bValid = roType.nChId == 0 && roType.eResolutionChangeType == OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT;
        break;
    }
    case OMX_TI_IndexConfigAlgEnable:
    {
        const auto& roAlgorithm = *static_cast<const OMX_CONFIG_ALG_ENABLE*>(pvNew);
        bValid = roAlgorithm.nChId == 0 && (roAlgorithm.bAlgBypass == OMX_TRUE || roAlgorithm.bAlgBypass == OMX_FALSE);
        break;
    }
    default:
        break;
    }
    if (!bValid)
        return OMX_ErrorBadParameter;
    m_bReconfigure = true;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDeinterlacerComponent::CheckResolution(const OMX_CONFIG_VIDCHANNEL_RESOLUTION& roResolution) const
{
    if ((roResolution.eDir != OMX_DirInput && roResolution.eDir != OMX_DirOutput) || roResolution.nChId != 0)
        return OMX_ErrorBadParameter;
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    if (roResolution.eDir == OMX_DirOutput)
    {
        // Frm0 is the primary output's picture, Frm1 the secondary's, as their ports say.
        OMX_PARAM_PORTDEFINITIONTYPE oSecondary;
        if (!ReadPortDefinition(s_auiOutputPort[0], oDefinition) || !ReadPortDefinition(s_auiOutputPort[1], oSecondary))
            return OMX_ErrorUndefined;
        const bool bValid = local_Matches(CVideoFrameGeometry::FromPortDefinition(oDefinition), roResolution.Frm0Width,
                                          roResolution.Frm0Height, roResolution.Frm0Pitch) &&
                            local_Matches(CVideoFrameGeometry::FromPortDefinition(oSecondary), roResolution.Frm1Width,
                                          roResolution.Frm1Height, roResolution.Frm1Pitch);
        return bValid ? OMX_ErrorNone : OMX_ErrorBadParameter;
    }
    if (!ReadPortDefinition(s_uiInputPort, oDefinition))
        return OMX_ErrorUndefined;
    const CVideoFrameGeometry oInput = CVideoFrameGeometry::FromPortDefinition(oDefinition);
    if (!local_Matches(oInput, roResolution.Frm0Width, roResolution.Frm0Height, roResolution.Frm0Pitch))
        return OMX_ErrorBadParameter;
    // No crop at all takes the whole picture.
    const bool bWhole = roResolution.FrmCropWidth == 0 && roResolution.FrmCropHeight == 0 &&
                        roResolution.FrmStartX == 0 && roResolution.FrmStartY == 0;
    const bool bValid = bWhole || local_CropFits(roResolution, oInput);
    return bValid ? OMX_ErrorNone : OMX_ErrorBadParameter;
}

OMX_ERRORTYPE CDeinterlacerComponent::OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) != OMX_TI_IndexConfigVidChResolution)
        return OMX_ErrorUnsupportedIndex;
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    if (!local_IsStructOk(pvStruct, sizeof(OMX_CONFIG_VIDCHANNEL_RESOLUTION), eError))
        return eError;
    auto* poResolution = static_cast<OMX_CONFIG_VIDCHANNEL_RESOLUTION*>(pvStruct);
    if ((poResolution->eDir != OMX_DirInput && poResolution->eDir != OMX_DirOutput) || poResolution->nChId != 0)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> oLock(m_oResolutionMutex);
    *poResolution = m_aoResolution[DirectionSlot(poResolution->eDir)];
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDeinterlacerComponent::OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) != OMX_TI_IndexConfigVidChResolution)
        return OMX_ErrorUnsupportedIndex;
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    if (!local_IsStructOk(pvStruct, sizeof(OMX_CONFIG_VIDCHANNEL_RESOLUTION), eError))
        return eError;
    const auto& roResolution = *static_cast<const OMX_CONFIG_VIDCHANNEL_RESOLUTION*>(pvStruct);
    eError = CheckResolution(roResolution);
    if (eError != OMX_ErrorNone)
        return eError;
    {
        std::lock_guard<std::mutex> oLock(m_oResolutionMutex);
        m_aoResolution[DirectionSlot(roResolution.eDir)] = roResolution;
        m_aoResolution[DirectionSlot(roResolution.eDir)].nSize = sizeof(OMX_CONFIG_VIDCHANNEL_RESOLUTION);
    }
    m_bReconfigure = true;
    return OMX_ErrorNone;
}

// ---- The work -------------------------------------------------------------------------------------

OMX_ERRORTYPE CDeinterlacerComponent::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    if (eTo == OMX_StateExecuting && eFrom == OMX_StateIdle)
    {
        m_bReconfigure = false;
        m_bConfigured = Configure();
        if (!m_bConfigured)
            return OMX_ErrorInsufficientResources;
    }
    else if (eTo == OMX_StateLoaded)
    {
        // The memory of the work goes with the buffers.
        for (CFrameScaler& roScaler : m_aoScaler)
            roScaler.Release();
        m_pWoven.reset();
        m_bConfigured = false;
    }
    return OMX_ErrorNone;
}

bool CDeinterlacerComponent::Configure()
{
    OMX_PARAM_PORTDEFINITIONTYPE oInput;
    OMX_PARAM_PORTDEFINITIONTYPE aoOutput[2];
    OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
    OMX_CONFIG_ALG_ENABLE oAlgorithm;
    if (!ReadPortDefinition(s_uiInputPort, oInput) || !ReadPortDefinition(s_auiOutputPort[0], aoOutput[0]) ||
        !ReadPortDefinition(s_auiOutputPort[1], aoOutput[1]) ||
        !ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigSubSamplingFactor), true, s_uiInputPort,
                     &oSubSampling, sizeof(oSubSampling)) ||
        !ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigAlgEnable), true, s_uiInputPort, &oAlgorithm,
                     sizeof(oAlgorithm)))
        return false;
    OMX_CONFIG_VIDCHANNEL_RESOLUTION oResolution;
    {
        std::lock_guard<std::mutex> oLock(m_oResolutionMutex);
        oResolution = m_aoResolution[0];
    }

    m_oInput = CVideoFrameGeometry::FromPortDefinition(oInput);
    m_bFields = oSubSampling.nSubSamplingFactor == 2;
    m_bWeave = m_bFields && oAlgorithm.bAlgBypass == OMX_FALSE;
    // The crop, when it still fits the input's picture (its definition may have changed since);
    // else the whole picture.
    const bool bCropFits = local_CropFits(oResolution, m_oInput);
    m_auiCrop[0] = bCropFits ? oResolution.FrmStartX : 0;
    m_auiCrop[1] = bCropFits ? oResolution.FrmStartY : 0;
    m_auiCrop[2] = bCropFits ? oResolution.FrmCropWidth : m_oInput.m_uiWidth;
    m_auiCrop[3] = bCropFits ? oResolution.FrmCropHeight : m_oInput.m_uiHeight;

    m_oSource = m_oInput;
    m_pWoven.reset();
    if (m_bWeave)
    {
        // Two fields make a frame of twice the lines; the crop covers the same part of it.
        m_oSource = CVideoFrameGeometry(m_oInput.m_uiWidth, 2 * m_oInput.m_uiHeight,
                                        CVideoFrameGeometry::MinimumStride(m_oInput.m_uiWidth, m_oInput.m_eFormat),
                                        m_oInput.m_eFormat);
        m_auiCrop[1] *= 2;
        m_auiCrop[3] *= 2;
    }
    for (unsigned i = 0; i < 2; ++i)
    {
        m_aoOutput[i] = CVideoFrameGeometry::FromPortDefinition(aoOutput[i]);
        if (!m_aoScaler[i].Configure(m_auiCrop[2], m_auiCrop[3], m_oSource.m_eFormat, m_aoOutput[i]))
            return false;
    }
    // Outputs done line by line read the fields where they are; libswscale reads a woven frame.
    m_bLineByLine = m_aoScaler[0].IsLineByLine() && m_aoScaler[1].IsLineByLine();
    if (m_bWeave && !m_bLineByLine)
    {
        m_pWoven.reset(static_cast<uint8_t*>(av_malloc(m_oSource.ByteLength())));
        if (!m_pWoven)
            return false;
    }
    return true;
}

void CDeinterlacerComponent::OnProcess()
{
    if (m_bReconfigure.exchange(false))
        m_bConfigured = Configure();
    SInputFrame oFrame;
    // The primary output sets the pace: no free buffer there, no frame taken.
    while (PeekBuffer(s_auiOutputPort[0]) != nullptr && TakeInputFrame(oFrame))
    {
        if (!m_bConfigured || !HoldsPicture(oFrame.poFirst) ||
            (oFrame.poSecond != nullptr && !HoldsPicture(oFrame.poSecond)))
        {
            Drop(oFrame.poFirst);
            if (oFrame.poSecond != nullptr)
                Drop(oFrame.poSecond);
            continue;
        }
        Process(oFrame);
    }
}

void CDeinterlacerComponent::Drop(OMX_BUFFERHEADERTYPE* poHeader)
{
    Count(PellixCounter_FramesDropped);
    ReturnBuffer(poHeader);
}

bool CDeinterlacerComponent::TakeInputFrame(SInputFrame& roFrame)
{
    roFrame.poFirst = nullptr;
    roFrame.poSecond = nullptr;
    if (!m_bFields)
    {
        roFrame.poFirst = TakeBuffer(s_uiInputPort);
        return roFrame.poFirst != nullptr;
    }
    for (;;)
    {
        const OMX_BUFFERHEADERTYPE* poHead = PeekBuffer(s_uiInputPort);
        if (poHead == nullptr)
            return false;
        if ((poHead->nFlags & local_uiSecondField) != 0)
        {
            // A second field whose first did not come before it.
            Drop(TakeBuffer(s_uiInputPort));
            continue;
        }
        if (QueuedBuffers(s_uiInputPort) < 2)
            return false;
        OMX_BUFFERHEADERTYPE* poFirst = TakeBuffer(s_uiInputPort);
        if ((PeekBuffer(s_uiInputPort)->nFlags & local_uiSecondField) == 0)
        {
            // Another first field: this one lost its partner.
            Drop(poFirst);
            continue;
        }
        roFrame.poFirst = poFirst;
        roFrame.poSecond = TakeBuffer(s_uiInputPort);
        return true;
    }
}

bool CDeinterlacerComponent::HoldsPicture(const OMX_BUFFERHEADERTYPE* poHeader) const
{
    return poHeader->pBuffer != nullptr && poHeader->nOffset <= poHeader->nAllocLen &&
           poHeader->nAllocLen - poHeader->nOffset >= m_oInput.ByteLength();
}

void CDeinterlacerComponent::Weave(const uint8_t* pFirst, const uint8_t* pSecond)
{
    // Field f's line k is the frame's line 2k + f; a 4:2:0 frame's chroma line c is chroma line
    // c / 2 of field c % 2.
    uint8_t* pFrame = m_pWoven.get();
    const uint8_t* const apField[2] = {pFirst, pSecond};
    const OMX_U32 uiFieldStride = m_oInput.m_uiStride;
    const OMX_U32 uiFrameStride = m_oSource.m_uiStride;
    const OMX_U32 uiLineBytes = CVideoFrameGeometry::MinimumStride(m_oInput.m_uiWidth, m_oInput.m_eFormat);
    for (OMX_U32 y = 0; y < m_oSource.m_uiHeight; ++y)
        memcpy(pFrame + static_cast<uint64_t>(y) * uiFrameStride,
               apField[y % 2] + static_cast<uint64_t>(y / 2) * uiFieldStride, uiLineBytes);
    if (!m_oSource.IsSemiPlanar())
        return;
    uint8_t* pFrameChroma = pFrame + m_oSource.ChromaOffset();
    for (OMX_U32 c = 0; c < m_oSource.ChromaLines(); ++c)
        memcpy(pFrameChroma + static_cast<uint64_t>(c) * uiFrameStride,
               apField[c % 2] + m_oInput.ChromaOffset() + static_cast<uint64_t>(c / 2) * uiFieldStride, uiLineBytes);
}

void CDeinterlacerComponent::ConvertLineByLine(const uint8_t* const* apField, uint64_t uiStride,
                                               OMX_BUFFERHEADERTYPE* const* apoOutput)
{
    // Bands of lines, each written to every output done line by line while it is in the cache.
    // With two fields, frame line y is line y / 2 of field y % 2.
    const uint64_t uiLeft = m_oSource.IsSemiPlanar() ? m_auiCrop[0] : 2 * uint64_t(m_auiCrop[0]);
    const unsigned uiHeight = m_auiCrop[3];
    const uint8_t* apLines[s_uiBandLines];
    for (unsigned uiFirst = 0; uiFirst < uiHeight; uiFirst += s_uiBandLines)
    {
        const unsigned uiCount = std::min(s_uiBandLines, uiHeight - uiFirst);
        for (unsigned i = 0; i < uiCount; ++i)
        {
            const unsigned y = m_auiCrop[1] + uiFirst + i;
            apLines[i] = apField[1] != nullptr ? apField[y % 2] + (y / 2) * uiStride + uiLeft
                                               : apField[0] + y * uiStride + uiLeft;
        }
        for (unsigned i = 0; i < 2; ++i)
            if (apoOutput[i] != nullptr && m_aoScaler[i].IsLineByLine())
                m_aoScaler[i].ConvertLines(apLines, uiFirst, uiCount, apoOutput[i]->pBuffer);
    }
}

void CDeinterlacerComponent::Process(const SInputFrame& roFrame)
{
    OMX_BUFFERHEADERTYPE* apoOutput[2] = {TakeBuffer(s_auiOutputPort[0]), TakeBuffer(s_auiOutputPort[1])};
    // The outputs that get the picture: only the secondary can be without a buffer (it skips
    // this frame), and a buffer too small for the output's picture goes back empty.
    OMX_BUFFERHEADERTYPE* apoFilled[2] = {nullptr, nullptr};
    for (unsigned i = 0; i < 2; ++i)
    {
        OMX_BUFFERHEADERTYPE* poOutput = apoOutput[i];
        if (poOutput == nullptr)
        {
            Count(PellixCounter_FramesDropped);
            continue;
        }
        poOutput->nOffset = 0;
        poOutput->nFilledLen = 0;
        poOutput->nTimeStamp = roFrame.poFirst->nTimeStamp;
        poOutput->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (roFrame.poFirst->nFlags & OMX_BUFFERFLAG_EOS);
        if (poOutput->nAllocLen >= m_aoOutput[i].ByteLength())
            apoFilled[i] = poOutput;
    }
    // The picture the outputs read: the input's, two fields woven, or, when every output is made
    // line by line, the two fields where they are.
    const uint8_t* apField[2] = {roFrame.poFirst->pBuffer + roFrame.poFirst->nOffset, nullptr};
    uint64_t uiStride = m_oSource.m_uiStride;
    if (m_bWeave && m_bLineByLine)
    {
        apField[1] = roFrame.poSecond->pBuffer + roFrame.poSecond->nOffset;
        uiStride = m_oInput.m_uiStride;
    }
    else if (m_bWeave)
    {
        Weave(apField[0], roFrame.poSecond->pBuffer + roFrame.poSecond->nOffset);
        apField[0] = m_pWoven.get();
    }
    ConvertLineByLine(apField, uiStride, apoFilled);
    const bool bSemiPlanar = m_oSource.IsSemiPlanar();
    const uint8_t* pLuma = apField[0] + m_auiCrop[1] * uiStride + (bSemiPlanar ? m_auiCrop[0] : 2 * m_auiCrop[0]);
    const uint8_t* pChroma =
        bSemiPlanar ? apField[0] + m_oSource.ChromaOffset() + (m_auiCrop[1] / 2) * uiStride + m_auiCrop[0] : nullptr;
    for (unsigned i = 0; i < 2; ++i)
        if (apoFilled[i] != nullptr && !m_aoScaler[i].IsLineByLine())
            m_aoScaler[i].Scale(pLuma, pChroma, static_cast<int>(uiStride), apoFilled[i]->pBuffer);
    for (unsigned i = 0; i < 2; ++i)
    {
        if (apoFilled[i] != nullptr)
        {
            apoFilled[i]->nFilledLen = static_cast<OMX_U32>(m_aoOutput[i].ByteLength());
            Count(PellixCounter_FramesProduced);
        }
        if (apoOutput[i] != nullptr)
            ReturnBuffer(apoOutput[i]);
    }
    Count(PellixCounter_FramesConsumed);
    ReturnBuffer(roFrame.poFirst);
    if (roFrame.poSecond != nullptr)
        ReturnBuffer(roFrame.poSecond);
}
