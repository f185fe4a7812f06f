#include "ti814x-framework.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base-components/OMXClassComponent.h"

namespace
{
// The current message level. A record is shown when its level is at most this value.
int local_iMessageLevel = 2;

const int local_iMessageSize = 1024;
} // namespace

void SetInfoMessageLevel(int iLevel)
{
    local_iMessageLevel = iLevel;
}

void LInfoMessage(int iLevel, const char* szFormat, ...)
{
    if (iLevel > local_iMessageLevel)
        return;
    char szMessage[local_iMessageSize];
    va_list oArgs;
    va_start(oArgs, szFormat);
    vsnprintf(szMessage, sizeof(szMessage), szFormat, oArgs);  // cuts what does not fit
    va_end(oArgs);
    fputs(szMessage, stdout);
}

void LErrorMessage(const char* szFormat, ...)
{
    char szMessage[local_iMessageSize];
    va_list oArgs;
    va_start(oArgs, szFormat);
    vsnprintf(szMessage, sizeof(szMessage), szFormat, oArgs);
    va_end(oArgs);
    fputs(szMessage, stderr);
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
            uiWidth = roOutSize.m_uiCy * roInSize.m_uiCx / roInSize.m_uiCy;
            if (uiWidth <= roOutSize.m_uiCx)
                uiHeight = roOutSize.m_uiCy;
            else
            {
                uiWidth = roOutSize.m_uiCx;
                uiHeight = roInSize.m_uiCy * roOutSize.m_uiCx / roInSize.m_uiCx;
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
