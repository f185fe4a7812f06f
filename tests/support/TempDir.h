// A private temporary folder, removed with everything in it when the object goes.
#ifndef PELLIX_TEST_TEMP_DIR_H
#define PELLIX_TEST_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

class CTempDir
{
public:
    CTempDir()
    {
        std::string oTemplate = (std::filesystem::temp_directory_path() / "pellix-test-XXXXXX").string();
        if (mkdtemp(oTemplate.data()) != nullptr)
            m_oPath = oTemplate;
    }
    ~CTempDir()
    {
        std::error_code oError;
        if (!m_oPath.empty())
            std::filesystem::remove_all(m_oPath, oError);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_oPath; }

    // Writes a file below the folder, creating the folders on the way.
    std::filesystem::path Write(const std::string& roRelative, const std::string& roContent) const
    {
        const std::filesystem::path oFile = m_oPath / roRelative;
        std::filesystem::create_directories(oFile.parent_path());
        std::ofstream(oFile, std::ios::binary) << roContent;
        return oFile;
    }

    std::string Read(const std::string& roRelative) const
    {
        std::ifstream oFile(m_oPath / roRelative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(oFile), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path m_oPath;
};

// Sets an environment variable for one scope and puts back what was there.
class CScopedEnv
{
public:
    CScopedEnv(const char* szName, const std::string& roValue)
        : m_oName(szName), m_bHadValue(getenv(szName) != nullptr), m_oOldValue(m_bHadValue ? getenv(szName) : "")
    {
        setenv(szName, roValue.c_str(), 1);
    }
    ~CScopedEnv() { m_bHadValue ? setenv(m_oName.c_str(), m_oOldValue.c_str(), 1) : unsetenv(m_oName.c_str()); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    const std::string m_oName;
    const bool m_bHadValue;
    const std::string m_oOldValue;
};

#endif // PELLIX_TEST_TEMP_DIR_H
