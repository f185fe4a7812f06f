#include "PellixTestComponents.h"

#include "CTestPassThrough.h"
#include "CTestSource.h"
#include "PellixPlatform.h"

OMX_ERRORTYPE PellixTestComponents_Register()
{
    OMX_ERRORTYPE eError =
        PellixPlatform_RegisterComponent(PELLIX_TEST_PASS_THROUGH, &PellixCreateComponent<CTestPassThrough>);
    if (eError == OMX_ErrorNone)
        eError = PellixPlatform_RegisterComponent(PELLIX_TEST_SOURCE, &PellixCreateComponent<CTestSource>);
    return eError;
}
