// Small components for tests, built on the platform engine: a pass-through filter, a frame source
// and a control component without ports. Tests register them by name and drive them through the
// OpenMAX IL core like any device component.
#ifndef PELLIX_TEST_COMPONENTS_H
#define PELLIX_TEST_COMPONENTS_H

#include <OMX_Core.h>

// Input port 0, output port 1, video, YUV 4:2:2 64 x 16 (2048-byte buffers), 1 buffer minimum,
// 4 by default. Copies each input buffer into an output buffer (nFilledLen, nTimeStamp and
// nFlags follow), then returns the input and the output.
#define PELLIX_TEST_PASS_THROUGH "OMX.Pellix.Test.PassThrough"

// Output port 0 with the same format. Fills each output buffer as soon as it comes (every byte the
// frame number's low byte, the time stamp the frame number in 60ths of a second) and returns it.
// Stores OMX_IndexConfigVideoFramerate of port 0 (settable in any state) and does nothing with it.
#define PELLIX_TEST_SOURCE "OMX.Pellix.Test.Source"

// No ports: its state changes complete at once. Serves as a control component.
#define PELLIX_TEST_PORTLESS "OMX.Pellix.Test.Portless"

// Registers the components under the names above. May be called any number of times.
OMX_ERRORTYPE PellixTestComponents_Register();

#endif // PELLIX_TEST_COMPONENTS_H
