// The pass-through filter of the tests (PELLIX_TEST_PASS_THROUGH).
#ifndef CTEST_PASS_THROUGH_H
#define CTEST_PASS_THROUGH_H

#include "CPlatformComponent.h"

class CTestPassThrough : public CPlatformComponent
{
public:
    explicit CTestPassThrough(const char* szName);

protected:
    void OnProcess() override;
};

#endif // CTEST_PASS_THROUGH_H
