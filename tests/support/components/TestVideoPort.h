// The video format the test components start with.
#ifndef TEST_VIDEO_PORT_H
#define TEST_VIDEO_PORT_H

#include <OMX_IVCommon.h>

#include "CPlatformPort.h"

// 64 x 16 YUV 4:2:2 packed, one buffer minimum, four by default.
inline void SetTestVideoPort(CPlatformPort& roPort)
{
    const OMX_U32 nWidth = 64;
    const OMX_U32 nHeight = 16;
    roPort.SetBufferRequirements(1, 4, nWidth * nHeight * 2);
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
    roVideo.nFrameWidth = nWidth;
    roVideo.nFrameHeight = nHeight;
    roVideo.nStride = static_cast<OMX_S32>(nWidth * 2);
    roVideo.nSliceHeight = nHeight;
    roVideo.eCompressionFormat = OMX_VIDEO_CodingUnused;
    roVideo.eColorFormat = OMX_COLOR_FormatYCbYCr;
}

#endif // TEST_VIDEO_PORT_H
