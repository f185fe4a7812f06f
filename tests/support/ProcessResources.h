// What this process holds: threads, descriptors, resident memory and heap in use; for tests that
// check that a stop or a failure leaves nothing behind.
//
//   const SProcessResources oBefore = CurrentResources();
//   ... start, stop ...
//   EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources());
#ifndef PELLIX_TEST_PROCESS_RESOURCES_H
#define PELLIX_TEST_PROCESS_RESOURCES_H

#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Eventually.h"

struct SProcessResources
{
    unsigned uiThreads = 0;
    unsigned uiFds = 0;
    long lRssKb = 0;
    long long llHeapInUse = 0;  // bytes allocated with malloc and not freed
};

inline unsigned CountEntries(const char* szFolder)
{
    unsigned uiCount = 0;
    for (std::filesystem::directory_iterator oAt(szFolder), oEnd; oAt != oEnd; ++oAt)
        ++uiCount;
    return uiCount;
}

inline SProcessResources CurrentResources()
{
    SProcessResources oResources;
    oResources.uiThreads = CountEntries("/proc/self/task");
    oResources.uiFds = CountEntries("/proc/self/fd") - 1;  // without the folder's own
    std::ifstream oStatus("/proc/self/status");
    for (std::string oLine; std::getline(oStatus, oLine);)
        if (oLine.compare(0, 6, "VmRSS:") == 0)
            oResources.lRssKb = strtol(oLine.c_str() + 6, nullptr, 10);
    const struct mallinfo2 oHeap = mallinfo2();
    oResources.llHeapInUse = static_cast<long long>(oHeap.uordblks + oHeap.hblkhd);
    return oResources;
}

// Waits (bounded) until threads and descriptors are back at most at roBaseline.
inline bool ResourcesBackTo(const SProcessResources& roBaseline)
{
    return Eventually([&] {
        const SProcessResources oNow = CurrentResources();
        return oNow.uiThreads <= roBaseline.uiThreads && oNow.uiFds <= roBaseline.uiFds;
    }, std::chrono::seconds(10));
}

inline std::string Describe(const SProcessResources& roResources)
{
    return std::to_string(roResources.uiThreads) + " threads, " + std::to_string(roResources.uiFds) +
           " descriptors, " + std::to_string(roResources.lRssKb) + " kB resident, " +
           std::to_string(roResources.llHeapInUse / 1024) + " kB heap in use";
}

#endif // PELLIX_TEST_PROCESS_RESOURCES_H
