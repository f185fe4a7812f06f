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
    CScopedEnv(const char* szName, const std::string& roValue) : m_oName(szName)
    {
        const char* szOld = getenv(szName);
        m_bHadValue = szOld != nullptr;
        if (m_bHadValue)
            m_oOldValue = szOld;
        setenv(szName, roValue.c_str(), 1);
    }
    ~CScopedEnv()
    {
        if (m_bHadValue)
            setenv(m_oName.c_str(), m_oOldValue.c_str(), 1);
        else
            unsetenv(m_oName.c_str());
    }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::string m_oName;
    std::string m_oOldValue;
    bool m_bHadValue = false;
};

#endif // PELLIX_TEST_TEMP_DIR_H
