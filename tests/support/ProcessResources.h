// What this process holds: threads, descriptors, resident memory and heap in use; for tests that
// link the library and check that a stop or a failure leaves nothing behind.
//
//   const SProcessResources oBefore = CurrentResources();
//   ... start, stop ...
//   EXPECT_TRUE(ResourcesBackTo(oBefore)) << Describe(CurrentResources());
#ifndef PELLIX_TEST_PROCESS_RESOURCES_H
#define PELLIX_TEST_PROCESS_RESOURCES_H

#include <glib.h>
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

// Waits (bounded) until threads and descriptors are back at most at roBaseline. GLib keeps idle
// threads of its pool (which ran GStreamer's streaming threads) for a while: they are asked to end
// at every look, so that one that went idle late is not counted as left behind.
inline bool ResourcesBackTo(const SProcessResources& roBaseline)
{
    return Eventually([&] {
        g_thread_pool_stop_unused_threads();
        const SProcessResources oNow = CurrentResources();
        return oNow.lThreads <= roBaseline.lThreads && oNow.lFds <= roBaseline.lFds;
    }, std::chrono::seconds(10));
}

inline std::string Describe(const SProcessResources& roNow)
{
    return std::to_string(roNow.lThreads) + " threads, " + std::to_string(roNow.lFds) + " descriptors, " + std::to_string(roNow.lRssKb) +
           " kB resident, " + std::to_string(roNow.llHeapInUse / 1024) + " kB heap in use";
}

#endif // PELLIX_TEST_PROCESS_RESOURCES_H
