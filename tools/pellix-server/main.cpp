// pellix-server: the host program of libPellixServerTest.so. It loads the library the way a host
// of the appliance does, with dlopen, and drives it through its exported entry points.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const char* LibraryPath()
{
    const char* szPath = getenv("PELLIX_LIBRARY");
    return szPath && szPath[0] ? szPath : PELLIX_LIBRARY_PATH;
}

void PrintUsage(FILE* poStream)
{
    fprintf(poStream,
            "Usage: pellix-server [--help]\n"
            "Loads libPellixServerTest.so and reports the framework version.\n");
}
} // namespace

int main(int iArgc, char** apszArgv)
{
    for (int i = 1; i < iArgc; ++i)
    {
        if (strcmp(apszArgv[i], "--help") == 0)
        {
            PrintUsage(stdout);
            return 0;
        }
        fprintf(stderr, "pellix-server: unknown option '%s'\n", apszArgv[i]);
        PrintUsage(stderr);
        return 2;
    }

    void* pvLibrary = dlopen(LibraryPath(), RTLD_NOW | RTLD_LOCAL);
    if (pvLibrary == nullptr)
    {
        fprintf(stderr, "pellix-server: cannot load %s: %s\n", LibraryPath(), dlerror());
        return 1;
    }
    using VersionFunction = unsigned long (*)();
    auto pfnVersion = reinterpret_cast<VersionFunction>(dlsym(pvLibrary, "_Z20OMXFramework_Versionv"));
    if (pfnVersion == nullptr)
    {
        fprintf(stderr, "pellix-server: %s has no OMXFramework_Version\n", LibraryPath());
        dlclose(pvLibrary);
        return 1;
    }
    printf("pellix-server: loaded %s, framework version 0x%08lx\n", LibraryPath(), pfnVersion());
    dlclose(pvLibrary);
    return 0;
}
