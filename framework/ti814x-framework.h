// Levelled text log, the INFO and ABORT record helpers, the framework entry points and the
// rectangle fit used to place the video on the monitor.
#ifndef TI814X_FRAMEWORK_H
#define TI814X_FRAMEWORK_H

#include <OMX_Core.h>
#include "ZemBaseTypes.h"

class CComponent;

// ---- Framework entry points and log -------------------------------------------------------
void SetInfoMessageLevel(int iLevel);
void LInfoMessage(int iLevel, const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
void LErrorMessage(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
void OmxFramework_Open();
void OmxFramework_Close();
OMX_U32 OMXFramework_Version();
OMX_ERRORTYPE OMXFramework_Connect(CComponent* poSource, OMX_U32 uiOutputIndex, CComponent* poSink,
                                   OMX_U32 uiInputIndex);

// ---- Geometry -----------------------------------------------------------------------------
bool FitRectangle(const tagMSIZE32& roInSize, const tagMSIZE32& roOutSize, bool bKeepAspectRatio,
                  bool bDontScaleUp, tagMRECT32& roOutRect);

// ---- Records ------------------------------------------------------------------------------
// Writes the two lines of an ABORT record: the failing check's line and source file, then the
// failing function and the text of the error code.
void ZemAbortRecord(unsigned uiLine, const char* szFile, const char* szFunction, OMX_ERRORTYPE eError);

// An INFO record: prefix with the call-site line and the current function, the message, the line
// end. Each piece is tested against the level on its own, as every LInfoMessage call is.
#define ZEM_INFO(iLevel, ...)                                                                  \
    do                                                                                         \
    {                                                                                          \
        LInfoMessage((iLevel), "INFO  %03d# %-20s ", __LINE__, __func__);                      \
        LInfoMessage((iLevel), __VA_ARGS__);                                                   \
        LInfoMessage((iLevel), "\n");                                                          \
    } while (0)

// The error flow of every operation: two locals, `eError` and `uiAbortLine`, and one exit at the
// label Zem_Abort that writes the ABORT record and returns `eError`:
//
//     OMX_ERRORTYPE eError = OMX_ErrorNone;
//     unsigned uiAbortLine = 0;
//     ZEM_CHECK(DoSomething());
//     if (bBad) ZEM_FAIL(OMX_ErrorBadParameter);
//     return OMX_ErrorNone;
// Zem_Abort:
//     ZEM_ABORT_RECORD();
//     return eError;
#define ZEM_FAIL(eCode)                                                                        \
    do                                                                                         \
    {                                                                                          \
        eError = (eCode);                                                                      \
        uiAbortLine = __LINE__;                                                                \
        goto Zem_Abort;                                                                        \
    } while (0)

#define ZEM_CHECK(expr)                                                                        \
    do                                                                                         \
    {                                                                                          \
        eError = (expr);                                                                       \
        if (eError != OMX_ErrorNone)                                                           \
        {                                                                                      \
            uiAbortLine = __LINE__;                                                            \
            goto Zem_Abort;                                                                    \
        }                                                                                      \
    } while (0)

#define ZEM_ABORT_RECORD() ZemAbortRecord(uiAbortLine, __FILE__, __func__, eError)

#endif // TI814X_FRAMEWORK_H
