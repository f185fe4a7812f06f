#include "CDisplayDriverFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

#include "CSimulatedMonitor.h"

const char* const CDisplayDriverFiles::s_szDefaultTimings = "148500,1920/88/148/44,1080/4/36/5,1";

namespace
{
const char* const local_szDisplayFolder = "/sys/devices/platform/vpss/display0";

// Writes a file that does not exist yet; one that exists is left as it is.
void local_CreateIfMissing(const std::filesystem::path& roPath, const std::string& roContent)
{
    std::error_code oError;
    if (std::filesystem::exists(roPath, oError))
        return;
    std::ofstream oFile(roPath, std::ios::binary | std::ios::trunc);
    oFile << roContent;
}
} // namespace

std::string CDisplayDriverFiles::Folder()
{
    const char* szRoot = getenv("PELLIX_PLATFORM_ROOT");
    if (szRoot == nullptr || szRoot[0] == 0)
        return std::string();
    return std::string(szRoot) + local_szDisplayFolder;
}

void CDisplayDriverFiles::EnsureCreated()
{
    static std::mutex s_oMutex;
    const std::string oFolder = Folder();
    if (oFolder.empty())
        return;
    std::lock_guard<std::mutex> oLock(s_oMutex);
    std::error_code oError;
    std::filesystem::create_directories(oFolder, oError);
    if (oError)
        return;
    const std::filesystem::path oPath(oFolder);
    local_CreateIfMissing(oPath / "enabled", "1\n");
    local_CreateIfMissing(oPath / "timings", std::string(s_szDefaultTimings) + "\n");

    if (std::filesystem::exists(oPath / "edid", oError))
        return;
    const char* szMonitor = getenv("PELLIX_SIM_MONITOR");
    std::vector<uint8_t> aEdid;
    if (!CSimulatedMonitor::EdidFor(szMonitor, aEdid))
    {
        fprintf(stderr, "PELLIX_SIM_MONITOR=%s is not a built-in monitor, none or a readable EDID dump; using 1080p60\n",
                szMonitor);
        CSimulatedMonitor::BuiltInEdid("1080p60", aEdid);
    }
    local_CreateIfMissing(oPath / "edid", CSimulatedMonitor::FormatDriverDump(aEdid));
}
