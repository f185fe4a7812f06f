// The simulated platform of one test, in this process's environment and put back when the object
// goes:
//   PELLIX_PLATFORM_ROOT  a private temporary folder (the display driver's files live there)
//   ALSA_CONFIG_PATH      <build>/platform/alsa/asound.conf, the stand-in's ALSA devices
//   PELLIX_ALSA_DIR       a private control folder of those devices (AlsaFile reads it)
//   PELLIX_NET_INTERFACE  lo: loopback names the URL
//   PELLIX_SIM_INPUT, PELLIX_SIM_MONITOR  the simulated input signal and monitor
//
//   CTestPlatform oPlatform("1920x1080i60");
//   ... StartStreaming(...) ...; oPlatform.AlsaFile("analog_volume");
//
// Environment() gives the same settings as changes for a child process (CChildProcess).
#ifndef PELLIX_TEST_PLATFORM_H
#define PELLIX_TEST_PLATFORM_H

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

class CTestPlatform
{
public:
    explicit CTestPlatform(const std::string& roInput = "1920x1080p60", const std::string& roMonitor = "1080p60")
        : m_aoSettings{"PELLIX_PLATFORM_ROOT=" + m_oRoot.Path().string(),
                       "ALSA_CONFIG_PATH=" PELLIX_BINARY_DIR "/platform/alsa/asound.conf",
                       "PELLIX_ALSA_DIR=" + m_oAlsa.Path().string(), "PELLIX_NET_INTERFACE=lo",
                       "PELLIX_SIM_INPUT=" + roInput, "PELLIX_SIM_MONITOR=" + roMonitor}
    {
        for (const std::string& roSetting : m_aoSettings)
        {
            const size_t uiEqual = roSetting.find('=');
            m_apoScoped.push_back(std::make_unique<CScopedEnv>(roSetting.substr(0, uiEqual).c_str(),
                                                               roSetting.substr(uiEqual + 1)));
        }
    }

    const CTempDir& Root() const { return m_oRoot; }
    // A file of the ALSA control folder, e.g. "analog_volume".
    std::string AlsaFile(const std::string& roName) const { return m_oAlsa.Read(roName); }
    const std::vector<std::string>& Environment() const { return m_aoSettings; }

private:
    CTempDir m_oRoot;
    CTempDir m_oAlsa;
    std::vector<std::string> m_aoSettings;
    std::vector<std::unique_ptr<CScopedEnv>> m_apoScoped;
};

#endif // PELLIX_TEST_PLATFORM_H
