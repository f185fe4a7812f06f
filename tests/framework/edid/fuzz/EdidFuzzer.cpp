// libFuzzer entry of the display-timing code; built by run-fuzzer.sh.
#include "EdidFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* puiData, size_t uiSize)
{
    ExerciseEdidInput(puiData, uiSize);
    return 0;
}
