/* Registration of the stand-in's OpenMAX IL components (the test-control API through which tests
 * and the host program's simulation options steer the simulated hardware is in
 * PellixTestControl.h). Never called by libPellixServerTest.so itself. */
#ifndef PELLIX_PLATFORM_H
#define PELLIX_PLATFORM_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Component registry ------------------------------------------------------------------ */

/* Fills in a freshly allocated OMX_COMPONENTTYPE (nSize, nVersion and pApplicationPrivate are
 * already set) with the component's entry points and private data, for a component of the
 * registered name szName. OMX_GetHandle calls it, then hands the callbacks to the component with
 * its SetCallbacks. */
typedef OMX_ERRORTYPE (*PellixComponentFactory)(OMX_COMPONENTTYPE* poComponent, const char* szName);

/* Registers a component under a name; a second registration of the same name replaces the first.
 * Returns OMX_ErrorBadParameter for a null or over-long name or a null factory. */
OMX_ERRORTYPE PellixPlatform_RegisterComponent(const char* szName, PellixComponentFactory pfnFactory);

/* Removes a registration; OMX_ErrorComponentNotFound when the name is not registered. Handles
 * already obtained stay valid. */
OMX_ERRORTYPE PellixPlatform_UnregisterComponent(const char* szName);

/* Number of handles obtained and not yet freed, all components together. */
unsigned PellixPlatform_LiveHandleCount(void);

/* Number of OMX_Init and of OMX_Deinit calls since libOMX_Core.so was loaded. */
unsigned PellixPlatform_CoreInitCount(void);
unsigned PellixPlatform_CoreDeinitCount(void);

#ifdef __cplusplus
}
#endif

#endif /* PELLIX_PLATFORM_H */
