// A record of 32-bit fields (an OpenMAX IL structure, range limits, a timing record) as a list of
// words from the given one on, so that a whole record is compared in one expectation. For an
// OpenMAX IL structure, word 3 is the first after nSize, nVersion and nPortIndex.
#ifndef PELLIX_TEST_WORDS_H
#define PELLIX_TEST_WORDS_H

#include <cstdint>
#include <vector>

template <typename TRecord>
std::vector<uint32_t> Words(const TRecord& roRecord, size_t uiFirst = 0)
{
    static_assert(sizeof(TRecord) % 4 == 0, "a record of 32-bit fields");
    const uint32_t* puiWords = reinterpret_cast<const uint32_t*>(&roRecord);
    return std::vector<uint32_t>(puiWords + uiFirst, puiWords + sizeof(TRecord) / 4);
}

#endif // PELLIX_TEST_WORDS_H
