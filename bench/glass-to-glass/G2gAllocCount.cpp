// libg2g-alloc-count.so: counts the heap allocations each thread of a process makes, for the
// glass-to-glass benchmark (LD_PRELOAD). Every malloc, calloc, realloc and aligned allocation
// (and so every operator new) counts one for the calling thread; once a second a thread of its
// own writes "TID NAME COUNT" for every thread that allocated to the file PELLIX_ALLOC_COUNT_FILE
// names (replaced whole, so that a reader always finds a complete table). The benchmark takes the
// table at two instants and divides the difference by the pictures made in between.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(size_t uiSize);
void* __libc_calloc(size_t uiCount, size_t uiSize);
void* __libc_realloc(void* pvMemory, size_t uiSize);
void* __libc_memalign(size_t uiAlignment, size_t uiSize);
void __libc_free(void* pvMemory);
}

namespace
{
struct SThreadSlot
{
    std::atomic<pid_t> iTid;
    std::atomic<unsigned long long> uiCount;
    char szName[16];
};

// Slot 0 takes the threads that come after the table is full.
constexpr unsigned local_uiSlots = 4096;
SThreadSlot local_aoSlots[local_uiSlots];
std::atomic<unsigned> local_uiUsed(1);
__thread SThreadSlot* local_poSlot __attribute__((tls_model("initial-exec"))) = nullptr;

void local_Count()
{
    SThreadSlot* poSlot = local_poSlot;
    if (poSlot == nullptr)
    {
        const unsigned uiIndex = local_uiUsed.fetch_add(1);
        poSlot = &local_aoSlots[uiIndex < local_uiSlots ? uiIndex : 0];
        if (uiIndex < local_uiSlots)
            poSlot->iTid = static_cast<pid_t>(syscall(SYS_gettid));
        local_poSlot = poSlot;
    }
    poSlot->uiCount.fetch_add(1, std::memory_order_relaxed);
}

void* local_Report(void*)
{
    pthread_setname_np(pthread_self(), "alloc-count");
    const char* szPath = getenv("PELLIX_ALLOC_COUNT_FILE");
    char szTemporary[4096];
    snprintf(szTemporary, sizeof(szTemporary), "%s.new", szPath);
    for (;;)
    {
        sleep(1);
        FILE* poFile = fopen(szTemporary, "w");
        if (poFile == nullptr)
            continue;
        const unsigned uiUsed = local_uiUsed.load() < local_uiSlots ? local_uiUsed.load() : local_uiSlots;
        for (unsigned i = 1; i < uiUsed; ++i)
        {
            SThreadSlot& roSlot = local_aoSlots[i];
            char szComm[64];
            snprintf(szComm, sizeof(szComm), "/proc/self/task/%d/comm", static_cast<int>(roSlot.iTid.load()));
            // The name of a thread that ended stays as it was last seen.
            if (FILE* poComm = fopen(szComm, "r"))
            {
                char szName[32] = {0};
                if (fgets(szName, sizeof(szName), poComm) != nullptr)
                {
                    szName[strcspn(szName, "\n")] = 0;
                    for (char* p = szName; *p; ++p)
                        if (*p == ' ')
                            *p = '_';
                    snprintf(roSlot.szName, sizeof(roSlot.szName), "%s", szName);
                }
                fclose(poComm);
            }
            fprintf(poFile, "%d %s %llu\n", static_cast<int>(roSlot.iTid.load()),
                    roSlot.szName[0] ? roSlot.szName : "?", roSlot.uiCount.load());
        }
        fprintf(poFile, "0 overflow %llu\n", local_aoSlots[0].uiCount.load());
        fclose(poFile);
        rename(szTemporary, szPath);
    }
    return nullptr;
}

__attribute__((constructor)) void local_Start()
{
    if (getenv("PELLIX_ALLOC_COUNT_FILE") == nullptr)
        return;
    pthread_t hThread;
    if (pthread_create(&hThread, nullptr, &local_Report, nullptr) == 0)
        pthread_detach(hThread);
}
} // namespace

extern "C" {
void* malloc(size_t uiSize)
{
    local_Count();
    return __libc_malloc(uiSize);
}

void* calloc(size_t uiCount, size_t uiSize)
{
    local_Count();
    return __libc_calloc(uiCount, uiSize);
}

void* realloc(void* pvMemory, size_t uiSize)
{
    local_Count();
    return __libc_realloc(pvMemory, uiSize);
}

void* memalign(size_t uiAlignment, size_t uiSize)
{
    local_Count();
    return __libc_memalign(uiAlignment, uiSize);
}

void* aligned_alloc(size_t uiAlignment, size_t uiSize)
{
    local_Count();
    return __libc_memalign(uiAlignment, uiSize);
}

int posix_memalign(void** ppvMemory, size_t uiAlignment, size_t uiSize)
{
    local_Count();
    void* pvMemory = __libc_memalign(uiAlignment, uiSize);
    if (pvMemory == nullptr)
        return ENOMEM;
    *ppvMemory = pvMemory;
    return 0;
}

void free(void* pvMemory)
{
    __libc_free(pvMemory);
}
}
