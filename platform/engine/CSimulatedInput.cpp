#include "CSimulatedInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CMediaSource.h"

namespace
{
const char* const local_szDefaultSignal = "1920x1080p60";
const unsigned long local_uiMaxDimension = 8192;
const unsigned long local_uiMaxRate = 240;

struct SSourcePrefix
{
    const char* szPrefix;
    EInputKind eKind;
};
const SSourcePrefix local_aoSourcePrefixes[] = {
    {"file:", InputKind_File},
    {"v4l2:", InputKind_V4l2},
    {"gst:", InputKind_Gst},
};

struct SPatternName
{
    const char* szName;
    EPattern ePattern;
};
const SPatternName local_aoPatternNames[] = {
    {"bars", Pattern_Bars},
    {"motion", Pattern_Motion},
};

// Reads a decimal number from 1 to uiMax; advances rpszText past it.
bool ParseNumber(const char*& rpszText, unsigned long uiMax, unsigned& ruiValue)
{
    if (*rpszText < '0' || *rpszText > '9')
        return false;
    char* pszEnd = nullptr;
    const unsigned long uiValue = strtoul(rpszText, &pszEnd, 10);
    if (uiValue == 0 || uiValue > uiMax)
        return false;
    rpszText = pszEnd;
    ruiValue = static_cast<unsigned>(uiValue);
    return true;
}

// The picture named after the signal: nothing (bars) or ":NAME".
bool ParsePatternName(const char* szText, EPattern& rePattern)
{
    if (*szText == 0)
    {
        rePattern = Pattern_Bars;
        return true;
    }
    if (*szText != ':')
        return false;
    for (const SPatternName& roName : local_aoPatternNames)
        if (strcmp(szText + 1, roName.szName) == 0)
        {
            rePattern = roName.ePattern;
            return true;
        }
    return false;
}

bool ParsePattern(const char* szSignal, SSimulatedSignal& roSignal, EPattern& rePattern)
{
    if (strcmp(szSignal, "none") == 0)
    {
        roSignal = SSimulatedSignal();
        rePattern = Pattern_Bars;
        return true;
    }
    SSimulatedSignal oSignal = SSimulatedSignal();
    const char* pszText = szSignal;
    if (!ParseNumber(pszText, local_uiMaxDimension, oSignal.uiWidth) || *pszText++ != 'x' ||
        !ParseNumber(pszText, local_uiMaxDimension, oSignal.uiHeight))
        return false;
    if (*pszText != 'p' && *pszText != 'i')
        return false;
    oSignal.bInterlaced = *pszText++ == 'i';
    EPattern ePattern = Pattern_Bars;
    if (!ParseNumber(pszText, local_uiMaxRate, oSignal.uiRate) || !ParsePatternName(pszText, ePattern))
        return false;
    if (oSignal.bInterlaced && oSignal.uiHeight % 2 != 0)
        return false;
    oSignal.bPresent = true;
    roSignal = oSignal;
    rePattern = ePattern;
    return true;
}
} // namespace

bool operator==(const SSimulatedSignal& roA, const SSimulatedSignal& roB)
{
    return roA.bPresent == roB.bPresent && roA.uiWidth == roB.uiWidth && roA.uiHeight == roB.uiHeight &&
           roA.uiRate == roB.uiRate && roA.bInterlaced == roB.bInterlaced;
}

CSimulatedInput& CSimulatedInput::Instance()
{
    static CSimulatedInput s_oInput;
    return s_oInput;
}

CSimulatedInput::CSimulatedInput()
    : m_oSignal(), m_ePattern(Pattern_Bars), m_uiGeneration(0), m_eStatus(OMX_ErrorNone)
{
    SInputSelection oSelection;
    Parse(local_szDefaultSignal, oSelection);
    m_oSignal = oSelection.oPattern;
    const char* szEnvironment = getenv("PELLIX_SIM_INPUT");
    if (szEnvironment == nullptr || szEnvironment[0] == 0)
        return;
    if (!Parse(szEnvironment, oSelection))
    {
        m_eStatus = OMX_ErrorBadParameter;
        m_oStatusMessage = std::string("PELLIX_SIM_INPUT=") + szEnvironment +
                           " is not none, WxHpR[:PATTERN], WxHiR[:PATTERN], file:PATH, v4l2:DEVICE or "
                           "gst:DESCRIPTION (PATTERN: bars or motion)";
        fprintf(stderr, "%s; using %s\n", m_oStatusMessage.c_str(), local_szDefaultSignal);
        return;
    }
    if (oSelection.eKind == InputKind_Pattern)
    {
        m_oSignal = oSelection.oPattern;
        m_ePattern = oSelection.ePattern;
        return;
    }
    // A real source that cannot serve leaves the input without a signal; the status says why
    // (the host program asks for it).
    std::string oMessage;
    std::shared_ptr<CMediaSource> poSource = OpenSource(oSelection, oMessage);
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_oSignal = SSimulatedSignal();
    m_oStatusMessage = oMessage;
    if (poSource != nullptr)
    {
        // Its reports count from here on; what it reported before is in its signal.
        m_poSource = poSource;
        m_oSignal = poSource->Signal();
    }
    else
        m_eStatus = OMX_ErrorContentPipeOpenFailed;
}

CSimulatedInput::~CSimulatedInput()
{
    std::shared_ptr<CMediaSource> poSource;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        poSource.swap(m_poSource);
    }
    // Stopped now, even if a component still holds it: it reports to this object no more.
    if (poSource != nullptr)
        poSource->Close();
}

bool CSimulatedInput::Parse(const char* szInput, SInputSelection& roSelection)
{
    if (szInput == nullptr)
        return false;
    for (const SSourcePrefix& roPrefix : local_aoSourcePrefixes)
    {
        const size_t uiLength = strlen(roPrefix.szPrefix);
        if (strncmp(szInput, roPrefix.szPrefix, uiLength) != 0)
            continue;
        if (szInput[uiLength] == 0)
            return false;
        roSelection.eKind = roPrefix.eKind;
        roSelection.oPattern = SSimulatedSignal();
        roSelection.oLocation = szInput + uiLength;
        return true;
    }
    SSimulatedSignal oSignal;
    EPattern ePattern = Pattern_Bars;
    if (!ParsePattern(szInput, oSignal, ePattern))
        return false;
    roSelection.eKind = InputKind_Pattern;
    roSelection.oPattern = oSignal;
    roSelection.ePattern = ePattern;
    roSelection.oLocation.clear();
    return true;
}

SSimulatedSignal CSimulatedInput::Current() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oSignal;
}

EPattern CSimulatedInput::Pattern() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_ePattern;
}

unsigned CSimulatedInput::Generation() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_uiGeneration;
}

std::shared_ptr<CMediaSource> CSimulatedInput::MediaSource() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_poSource;
}

OMX_ERRORTYPE CSimulatedInput::Status(std::string& roMessage) const
{
    std::shared_ptr<CMediaSource> poSource;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        roMessage = m_oStatusMessage;
        if (m_eStatus != OMX_ErrorNone)
            return m_eStatus;
        poSource = m_poSource;
    }
    // A running source says why it has no signal now, if it has none.
    if (poSource != nullptr)
        roMessage = poSource->Message();
    return OMX_ErrorNone;
}

std::shared_ptr<CMediaSource> CSimulatedInput::OpenSource(const SInputSelection& roSelection, std::string& roMessage)
{
    std::shared_ptr<CMediaSource> poSource =
        std::make_shared<CMediaSource>(roSelection.eKind, roSelection.oLocation, this, &SourceSignalled);
    if (!poSource->Open(roMessage))
        return nullptr;
    return poSource;
}

OMX_ERRORTYPE CSimulatedInput::Set(const char* szInput)
{
    SInputSelection oSelection;
    if (!Parse(szInput, oSelection))
        return OMX_ErrorBadParameter;
    std::shared_ptr<CMediaSource> poSource;
    std::string oMessage;
    if (oSelection.eKind != InputKind_Pattern)
    {
        // Opened outside every lock: it waits for the source's first picture.
        poSource = OpenSource(oSelection, oMessage);
        if (poSource == nullptr)
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_oStatusMessage = oMessage;
            return OMX_ErrorContentPipeOpenFailed;
        }
    }
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_eStatus = OMX_ErrorNone;
        m_oStatusMessage = oMessage;
    }
    std::shared_ptr<CMediaSource> poReplaced;
    Adopt(oSelection.oPattern, oSelection.ePattern, poSource, &poReplaced);
    // The source replaced stops here, outside every lock, even if a component still holds it.
    if (poReplaced != nullptr)
        poReplaced->Close();
    return OMX_ErrorNone;
}

void CSimulatedInput::SourceSignalled(void* pvContext, const CMediaSource* poSource, const SSimulatedSignal& roSignal)
{
    CSimulatedInput* poInput = static_cast<CSimulatedInput*>(pvContext);
    std::shared_ptr<CMediaSource> poCurrent = poInput->MediaSource();
    if (poCurrent.get() == poSource)
        poInput->Adopt(roSignal, Pattern_Bars, poCurrent, nullptr);
}

void CSimulatedInput::Adopt(const SSimulatedSignal& roSignal, EPattern ePattern,
                            const std::shared_ptr<CMediaSource>& rpoSource, std::shared_ptr<CMediaSource>* ppoReplaced)
{
    const bool bNewSource = ppoReplaced != nullptr;
    // Listeners hear the changes in the order they were made.
    std::lock_guard<std::mutex> oListenerLock(m_oListenerMutex);
    SSimulatedSignal oSignal = roSignal;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        // A report from a source that was replaced meanwhile comes too late.
        if (m_poSource != rpoSource && !bNewSource)
            return;
        if (!bNewSource && m_oSignal == roSignal)
            return;
        // A new source's reports count from here on; what it reported before is in its signal.
        if (bNewSource && rpoSource != nullptr)
            oSignal = rpoSource->Signal();
        if (bNewSource)
        {
            ppoReplaced->swap(m_poSource);
            m_ePattern = ePattern;
        }
        m_poSource = rpoSource;
        m_oSignal = oSignal;
        ++m_uiGeneration;
    }
    for (const SListener& roListener : m_aoListeners)
        roListener.pfnListener(roListener.pvContext, oSignal);
}

void CSimulatedInput::AddListener(void* pvContext, PfnListener pfnListener)
{
    std::lock_guard<std::mutex> oLock(m_oListenerMutex);
    m_aoListeners.push_back(SListener{pvContext, pfnListener});
}

void CSimulatedInput::RemoveListener(void* pvContext)
{
    std::lock_guard<std::mutex> oLock(m_oListenerMutex);
    for (auto it = m_aoListeners.begin(); it != m_aoListeners.end();)
        it = it->pvContext == pvContext ? m_aoListeners.erase(it) : it + 1;
}
