// The frame source of the tests (PELLIX_TEST_SOURCE).
#ifndef CTEST_SOURCE_H
#define CTEST_SOURCE_H

#include <cstdint>

#include "CPlatformComponent.h"

class CTestSource : public CPlatformComponent
{
public:
    explicit CTestSource(const char* szName);

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnProcess() override;
    void OnTick(unsigned uiElapsedTicks) override;

private:
    void Produce(OMX_BUFFERHEADERTYPE* poHeader);

    // The component thread's own.
    bool m_bClocked;
    OMX_U32 m_nFrameSize;
    uint64_t m_uiFrame;
    CClock::time_point m_oStart;
};

#endif // CTEST_SOURCE_H
