// The platform's ALSA side for one test: ALSA_CONFIG_PATH at the configuration the build
// generated, and a private control folder (PELLIX_ALSA_DIR) through which the test steers the
// simulated devices and reads what they did. Both are put back when the object goes.
#ifndef ALSA_TEST_ENVIRONMENT_H
#define ALSA_TEST_ENVIRONMENT_H

#include <filesystem>
#include <string>

#include "TempDir.h"

class CAlsaTestEnvironment
{
public:
    bool Exists(const std::string& roFile) const { return std::filesystem::exists(m_oDir.Path() / roFile); }
    void Write(const std::string& roFile, const std::string& roText) const { m_oDir.Write(roFile, roText); }
    std::string Read(const std::string& roFile) const { return m_oDir.Read(roFile); }
    void Remove(const std::string& roFile) const { std::filesystem::remove(m_oDir.Path() / roFile); }

private:
    CTempDir m_oDir;
    CScopedEnv m_oConfig{"ALSA_CONFIG_PATH", std::string(PELLIX_BINARY_DIR) + "/platform/alsa/asound.conf"};
    CScopedEnv m_oFolder{"PELLIX_ALSA_DIR", m_oDir.Path().string()};
};

#endif // ALSA_TEST_ENVIRONMENT_H
