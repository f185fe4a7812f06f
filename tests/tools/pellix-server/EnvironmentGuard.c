// Preloaded into the host by its end-to-end tests. setenv and putenv may move the environment's
// array and free the old one under a getenv of another thread (GStreamer's streaming threads read
// the environment once a real source runs): the host may change its environment only while it is
// the only thread. A change with another thread running ends the process with a message.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

static void local_RefuseWithThreads(const char* szCall, const char* szName)
{
    unsigned uiThreads = 0;
    DIR* poTasks = opendir("/proc/self/task");
    for (struct dirent* poEntry; poTasks != NULL && (poEntry = readdir(poTasks)) != NULL;)
        uiThreads += poEntry->d_name[0] != '.';
    if (poTasks != NULL)
        closedir(poTasks);
    if (uiThreads <= 1)
        return;
    fprintf(stderr, "environment guard: %s(%s) while %u threads run\n", szCall, szName, uiThreads);
    abort();
}

int setenv(const char* szName, const char* szValue, int iOverwrite)
{
    local_RefuseWithThreads("setenv", szName);
    int (*pfnSetenv)(const char*, const char*, int) = (int (*)(const char*, const char*, int))dlsym(RTLD_NEXT, "setenv");
    return pfnSetenv(szName, szValue, iOverwrite);
}

int putenv(char* szAssignment)
{
    local_RefuseWithThreads("putenv", szAssignment);
    int (*pfnPutenv)(char*) = (int (*)(char*))dlsym(RTLD_NEXT, "putenv");
    return pfnPutenv(szAssignment);
}
