// The platform's ALSA side for one test: ALSA_CONFIG_PATH at the configuration the build
// generated, and a private control folder (PELLIX_ALSA_DIR) through which the test steers the
// simulated devices and reads what they did. Both are put back when the object goes.
#ifndef ALSA_TEST_ENVIRONMENT_H
#define ALSA_TEST_ENVIRONMENT_H

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "TempDir.h"

class CAlsaTestEnvironment
{
public:
    CAlsaTestEnvironment()
        : m_oDir(),
          m_oConfig("ALSA_CONFIG_PATH", std::string(PELLIX_BINARY_DIR) + "/platform/alsa/asound.conf"),
          m_oFolder("PELLIX_ALSA_DIR", m_oDir.Path().string())
    {
    }

    std::string PathOf(const std::string& roFile) const { return (m_oDir.Path() / roFile).string(); }
    bool Exists(const std::string& roFile) const { return std::filesystem::exists(m_oDir.Path() / roFile); }
    void Write(const std::string& roFile, const std::string& roText) const { m_oDir.Write(roFile, roText); }
    std::string Read(const std::string& roFile) const { return m_oDir.Read(roFile); }
    void Remove(const std::string& roFile) const
    {
        std::error_code oError;
        std::filesystem::remove(m_oDir.Path() / roFile, oError);
    }

private:
    CTempDir m_oDir;
    CScopedEnv m_oConfig;
    CScopedEnv m_oFolder;
};

#endif // ALSA_TEST_ENVIRONMENT_H
