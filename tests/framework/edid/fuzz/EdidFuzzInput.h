// One fuzz input through the display-timing code: the EDID reader and every query, the GTF
// formulas and the mode-table search. Shared by the libFuzzer target and the regression test
// that replays its corpus.
#ifndef EDID_FUZZ_INPUT_H
#define EDID_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

// Byte 0 chooses the way in: an odd value writes the rest as the driver's EDID file (below the
// platform root PELLIX_PLATFORM_ROOT names, which must be set) and reads it with CEdid::Read, an
// even one hands the rest to the constructor as EDID bytes. The first bytes
// of the rest also serve as arguments of the timing formulas.
void ExerciseEdidInput(const uint8_t* puiData, size_t uiSize);

#endif // EDID_FUZZ_INPUT_H
