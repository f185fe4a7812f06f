#include "ti814x-framework.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base-components/OMXClassComponent.h"

namespace
{
// The current message level. A record is shown when its level is at most this value. Every thread
// logs, and the host may change the level at any time: the value is read and written whole, with
// no ordering against anything else.
std::atomic<int> local_iMessageLevel{2};

const int local_iMessageSize = 1024;

// Formats one message into a buffer of its own and writes it. What does not fit in 1023
// characters is cut off.
__attribute__((format(printf, 2, 0))) void local_WriteMessage(FILE* poStream, const char* szFormat, va_list oArgs)
{
    char szMessage[local_iMessageSize];
    vsnprintf(szMessage, sizeof(szMessage), szFormat, oArgs);
    fputs(szMessage, poStream);
}
} // namespace

void SetInfoMessageLevel(int iLevel)
{
    local_iMessageLevel.store(iLevel, std::memory_order_relaxed);
}

void LInfoMessage(int iLevel, const char* szFormat, ...)
{
    if (iLevel > local_iMessageLevel.load(std::memory_order_relaxed))
        return;
    va_list oArgs;
    va_start(oArgs, szFormat);
    local_WriteMessage(stdout, szFormat, oArgs);
    va_end(oArgs);
}

void LErrorMessage(const char* szFormat, ...)
{
    va_list oArgs;
    va_start(oArgs, szFormat);
    local_WriteMessage(stderr, szFormat, oArgs);
    va_end(oArgs);
}

void ZemAbortRecord(unsigned uiLine, const char* szFile, const char* szFunction, OMX_ERRORTYPE eError)
{
    // The record names the source without its extension: framework/base-components/OMXClassComponent.
    const char* szBase = strrchr(szFile, '/');
    const char* szDot = strrchr(szBase ? szBase : szFile, '.');
    const int iFileLength = szDot ? static_cast<int>(szDot - szFile) : static_cast<int>(strlen(szFile));
    LErrorMessage("\nABORT Line:%03d File:%.*s\n", uiLine, iFileLength, szFile);
    LErrorMessage("%-24s %s\n\n", szFunction, CComponent::ErrorToStr(eError));
}

void OmxFramework_Open()
{
    SetInfoMessageLevel(0);
    ZEM_INFO(1, "");
    OMX_Init();
}

void OmxFramework_Close()
{
    ZEM_INFO(1, "");
    OMX_Deinit();
}

OMX_U32 OMXFramework_Version()
{
    return 0x00010000;
}

OMX_ERRORTYPE OMXFramework_Connect(CComponent* /*poSource*/, OMX_U32 /*uiOutputIndex*/, CComponent* /*poSink*/,
                                   OMX_U32 /*uiInputIndex*/)
{
    // Components are connected with CComponent::ConnectTo.
    return OMX_ErrorNone;
}

bool FitRectangle(const tagMSIZE32& roInSize, const tagMSIZE32& roOutSize, bool bKeepAspectRatio,
                  bool bDontScaleUp, tagMRECT32& roOutRect)
{
    if (roInSize.m_uiCx == 0 || roInSize.m_uiCy == 0 || roOutSize.m_uiCx == 0 || roOutSize.m_uiCy == 0)
        return false;

    MUINT32 uiWidth = 0;
    MUINT32 uiHeight = 0;
    const bool bInputFits = roInSize.m_uiCx <= roOutSize.m_uiCx && roInSize.m_uiCy <= roOutSize.m_uiCy;
    if (bKeepAspectRatio)
    {
        if (bDontScaleUp && bInputFits)
        {
            uiWidth = roInSize.m_uiCx;
            uiHeight = roInSize.m_uiCy;
        }
        else
        {
            // The products are formed in 64 bits: both factors may be beyond 65535.
            const MUINT64 uiFullHeightWidth = MUINT64(roOutSize.m_uiCy) * roInSize.m_uiCx / roInSize.m_uiCy;
            if (uiFullHeightWidth <= roOutSize.m_uiCx)
            {
                uiWidth = static_cast<MUINT32>(uiFullHeightWidth);
                uiHeight = roOutSize.m_uiCy;
            }
            else
            {
                uiWidth = roOutSize.m_uiCx;
                uiHeight = static_cast<MUINT32>(MUINT64(roInSize.m_uiCy) * roOutSize.m_uiCx / roInSize.m_uiCx);
            }
        }
    }
    else if (bDontScaleUp)
    {
        uiWidth = roInSize.m_uiCx < roOutSize.m_uiCx ? roInSize.m_uiCx : roOutSize.m_uiCx;
        uiHeight = roInSize.m_uiCy < roOutSize.m_uiCy ? roInSize.m_uiCy : roOutSize.m_uiCy;
    }
    else
    {
        uiWidth = roOutSize.m_uiCx;
        uiHeight = roOutSize.m_uiCy;
    }

    const MUINT32 uiAlignMask = ~1u;
    roOutRect.m_oPos.m_iX = static_cast<MINT32>(((roOutSize.m_uiCx - uiWidth) / 2) & uiAlignMask);
    roOutRect.m_oPos.m_iY = static_cast<MINT32>(((roOutSize.m_uiCy - uiHeight) / 2) & uiAlignMask);
    roOutRect.m_oSize.m_uiCx = uiWidth;
    roOutRect.m_oSize.m_uiCy = uiHeight;
    return true;
}
