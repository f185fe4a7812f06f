#include "CSimulatedPlatform.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "CHostOptions.h"

namespace
{
bool local_HasIpv4(const char* szInterface)
{
    struct ifaddrs* poAddresses = nullptr;
    if (getifaddrs(&poAddresses) != 0)
        return false;
    bool bFound = false;
    for (const struct ifaddrs* po = poAddresses; po != nullptr && !bFound; po = po->ifa_next)
        bFound = po->ifa_addr != nullptr && po->ifa_addr->sa_family == AF_INET && strcmp(po->ifa_name, szInterface) == 0;
    freeifaddrs(poAddresses);
    return bFound;
}
} // namespace

CSimulatedPlatform::~CSimulatedPlatform()
{
    if (m_bOwnsPlatformRoot && !m_oPlatformRoot.empty())
    {
        std::error_code oError;
        std::filesystem::remove_all(m_oPlatformRoot, oError);
    }
}

std::string CSimulatedPlatform::ChooseInterface()
{
    if (local_HasIpv4("eth0"))
        return "eth0";
    struct ifaddrs* poAddresses = nullptr;
    if (getifaddrs(&poAddresses) != 0)
        return "";
    std::string oFirst;
    std::string oLoopback;
    for (const struct ifaddrs* po = poAddresses; po != nullptr; po = po->ifa_next)
    {
        if (po->ifa_addr == nullptr || po->ifa_addr->sa_family != AF_INET)
            continue;
        if ((po->ifa_flags & IFF_LOOPBACK) != 0)
        {
            if (oLoopback.empty())
                oLoopback = po->ifa_name;
        }
        else if (oFirst.empty())
            oFirst = po->ifa_name;
    }
    freeifaddrs(poAddresses);
    return oFirst.empty() ? oLoopback : oFirst;
}

bool CSimulatedPlatform::Prepare(const CHostOptions& roOptions, std::string& roError)
{
    // A private platform root: the display driver's files live there, never below the real /sys.
    const char* szRoot = getenv("PELLIX_PLATFORM_ROOT");
    if (szRoot != nullptr && szRoot[0] != 0)
        m_oPlatformRoot = szRoot;
    else
    {
        const std::string oTemplate = (std::filesystem::temp_directory_path() / "pellix-platform-XXXXXX").string();
        std::string oPath = oTemplate;
        if (mkdtemp(oPath.data()) == nullptr)
        {
            roError = "cannot create a private platform root: " + std::string(strerror(errno));
            return false;
        }
        m_oPlatformRoot = oPath;
        m_bOwnsPlatformRoot = true;
        setenv("PELLIX_PLATFORM_ROOT", m_oPlatformRoot.c_str(), 1);
    }

    // The stand-in's ALSA devices, unless the caller points ALSA elsewhere.
    const char* szAlsa = getenv("ALSA_CONFIG_PATH");
    if ((szAlsa == nullptr || szAlsa[0] == 0) && std::filesystem::exists(PELLIX_ALSA_CONFIG))
        setenv("ALSA_CONFIG_PATH", PELLIX_ALSA_CONFIG, 1);

    if (!roOptions.m_oInput.empty())
        setenv("PELLIX_SIM_INPUT", roOptions.m_oInput.c_str(), 1);
    if (!roOptions.m_oMonitor.empty())
        setenv("PELLIX_SIM_MONITOR", roOptions.m_oMonitor.c_str(), 1);
    if (roOptions.m_bWindow)
        setenv("PELLIX_SIM_DISPLAY", "window", 1);

    m_oInterface = roOptions.m_oInterface.empty() ? ChooseInterface() : roOptions.m_oInterface;
    if (m_oInterface.empty())
    {
        roError = "no network interface has an IPv4 address";
        return false;
    }
    setenv("PELLIX_NET_INTERFACE", m_oInterface.c_str(), 1);
    // The library's RTSP server takes its client limit from the environment.
    setenv("PELLIX_MAX_CLIENTS", std::to_string(roOptions.m_iMaxClients).c_str(), 1);
    return true;
}
