// What this process holds: threads, descriptors, resident memory and heap in use; for tests that
// check that a stop or a failure leaves nothing behind.
//
//   const SProcessResources oBefore = CurrentResources();
//   ... start, stop ...
//   EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources());
#ifndef PELLIX_TEST_PROCESS_RESOURCES_H
#define PELLIX_TEST_PROCESS_RESOURCES_H

#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Eventually.h"

struct SProcessResources
{
    long lThreads = 0;
    long lFds = 0;
    long lRssKb = 0;
    long long llHeapInUse = 0;  // bytes allocated with malloc and not freed
};

inline SProcessResources CurrentResources()
{
    using std::filesystem::directory_iterator;
    SProcessResources oNow{std::distance(directory_iterator("/proc/self/task"), directory_iterator()),
                           std::distance(directory_iterator("/proc/self/fd"), directory_iterator()), 0,
                           static_cast<long long>(mallinfo2().uordblks + mallinfo2().hblkhd)};
    std::ifstream oStatus("/proc/self/status");
    for (std::string oLine; std::getline(oStatus, oLine);)
        oNow.lRssKb = oLine.compare(0, 6, "VmRSS:") == 0 ? std::stol(oLine.substr(6)) : oNow.lRssKb;
    return oNow;
}

// Waits (bounded) until threads and descriptors are back at most at roBaseline.
inline bool ResourcesBackTo(const SProcessResources& roBaseline)
{
    return Eventually([&] { return CurrentResources().lThreads <= roBaseline.lThreads && CurrentResources().lFds <= roBaseline.lFds; },
                      std::chrono::seconds(10));
}

inline std::string Describe(const SProcessResources& roNow)
{
    return std::to_string(roNow.lThreads) + " threads, " + std::to_string(roNow.lFds) + " descriptors, " + std::to_string(roNow.lRssKb) +
           " kB resident, " + std::to_string(roNow.llHeapInUse / 1024) + " kB heap in use";
}

#endif // PELLIX_TEST_PROCESS_RESOURCES_H
