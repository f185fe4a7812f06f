// What the host program prepares before it loads the library on the simulated platform: a
// private platform root, the ALSA configuration of the stand-in, the simulated input and monitor,
// the network interface that names the URL and the RTSP server's client limit.
#ifndef CSIMULATED_PLATFORM_H
#define CSIMULATED_PLATFORM_H

#include <string>

class CHostOptions;

class CSimulatedPlatform
{
public:
    CSimulatedPlatform() = default;
    ~CSimulatedPlatform();  // removes the private platform root it made
    CSimulatedPlatform(const CSimulatedPlatform&) = delete;
    CSimulatedPlatform& operator=(const CSimulatedPlatform&) = delete;

    // Sets the environment the library and its platform read. False with roError on failure.
    // The host changes its environment here only, while it has no other thread: setenv may move
    // the environment's array and free the old one under a getenv of another thread (GStreamer's
    // streaming threads read the environment as soon as a real source's pipeline runs, which
    // the input check starts).
    bool Prepare(const CHostOptions& roOptions, std::string& roError);

    const std::string& GetInterface() const { return m_oInterface; }
    const std::string& GetPlatformRoot() const { return m_oPlatformRoot; }

    // eth0 when it has an IPv4 address, else the first interface with one, loopback last; empty
    // when no interface has an address.
    static std::string ChooseInterface();

private:
    std::string m_oPlatformRoot;   // the private root, or empty when the caller's was kept
    bool m_bOwnsPlatformRoot = false;
    std::string m_oInterface;
};

#endif // CSIMULATED_PLATFORM_H
