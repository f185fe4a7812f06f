// The control API's scenarios on the simulated platform, for the tests that link the library: the
// platform of one test, a start with its output captured, and what a stop must leave.
//
//   CTestPlatform oPlatform("1920x1080i60");             // input signal, monitor
//   std::string oOut;
//   const std::string oUrl = StartCaptured(&oOut, 1);   // INFO records up to level 1; "" when it failed
//   EXPECT_TRUE(StopStreaming());
//   ExpectNothingLeft(&oBaseline);                     // without a baseline: the graph alone
#ifndef PELLIX_TEST_CONTROL_API_H
#define PELLIX_TEST_CONTROL_API_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Eventually.h"
#include "LibraryTestSupport.h"
#include "PellixPlatform.h"
#include "ProcessResources.h"
#include "RtspClients.h"
#include "TempDir.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"

// The simulated platform of one test, in this process's environment and put back when the object
// goes:
//   PELLIX_PLATFORM_ROOT  a private temporary folder (the display driver's files live there)
//   ALSA_CONFIG_PATH      <build>/platform/alsa/asound.conf, the stand-in's ALSA devices
//   PELLIX_ALSA_DIR       a private control folder of those devices (AlsaFile reads it)
//   PELLIX_NET_INTERFACE  lo: loopback names the URL
//   PELLIX_SIM_INPUT, PELLIX_SIM_MONITOR  the simulated input signal and monitor
class CTestPlatform
{
public:
    explicit CTestPlatform(const std::string& roInput = "1920x1080p60", const std::string& roMonitor = "1080p60")
    {
        const std::pair<const char*, std::string> aoSettings[] = {
            {"PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()}, {"ALSA_CONFIG_PATH", PELLIX_BINARY_DIR "/platform/alsa/asound.conf"},
            {"PELLIX_ALSA_DIR", m_oAlsa.Path().string()},      {"PELLIX_NET_INTERFACE", "lo"},
            {"PELLIX_SIM_INPUT", roInput},                     {"PELLIX_SIM_MONITOR", roMonitor}};
        for (const auto& roSetting : aoSettings)
            m_apoScoped.push_back(std::make_unique<CScopedEnv>(roSetting.first, roSetting.second));
    }

    // A file of the ALSA control folder, e.g. "analog_volume".
    std::string AlsaFile(const std::string& roName) const { return m_oAlsa.Read(roName); }

private:
    CTempDir m_oRoot;
    CTempDir m_oAlsa;
    std::vector<std::unique_ptr<CScopedEnv>> m_apoScoped;
};

// Starts streaming at 8 Mbit/s once the service's port is free (another program may still be
// leaving it), standard output captured at iLevel into *poOut; the address once frames flow, ""
// when the start failed.
inline std::string StartCaptured(std::string* poOut = nullptr, int iLevel = 0)
{
    char szAddress[128] = {0};
    bool bStarted = false;
    const std::string oOut = LogOf(iLevel, [&] {
        bStarted = WaitPortFree(8554) && StartStreaming(8000000, sizeof(szAddress), szAddress);
    });
    if (poOut != nullptr)
        *poOut = oOut;
    return bStarted && Eventually([] { return IsStreaming(); }) ? szAddress : "";
}

// Nothing of a graph is left: no record, no platform handle, the port free; with a baseline, the
// threads and descriptors back at most there.
inline void ExpectNothingLeft(const SProcessResources* poBaseline = nullptr)
{
    EXPECT_TRUE(g_poServer == nullptr && !IsStreaming() && PellixPlatform_LiveHandleCount() == 0 && CanBindPort(8554));
    EXPECT_TRUE(poBaseline == nullptr || ResourcesBackTo(*poBaseline))
        << Describe(CurrentResources()) << " against " << Describe(*poBaseline);
}

#endif // PELLIX_TEST_CONTROL_API_H
