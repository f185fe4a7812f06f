#include "GenUtils.h"

#include <cstdlib>

std::string PlatformPath(const char* szDevicePath)
{
    const char* szRoot = getenv("PELLIX_PLATFORM_ROOT");
    std::string oPath = szRoot ? szRoot : "";
    while (!oPath.empty() && oPath.back() == '/')
        oPath.pop_back();
    if (!oPath.empty() && szDevicePath[0] != '/')
        oPath += '/';
    oPath += szDevicePath;
    return oPath;
}
