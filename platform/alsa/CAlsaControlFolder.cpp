#include "CAlsaControlFolder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

const char* const CAlsaControlFolder::s_szEnvironmentVariable = "PELLIX_ALSA_DIR";

CAlsaControlFolder::CAlsaControlFolder()
{
    const char* szFolder = getenv(s_szEnvironmentVariable);
    if (szFolder != nullptr)
        m_oFolder = szFolder;
}

std::string CAlsaControlFolder::PathOf(const std::string& roFile) const
{
    return IsSet() ? m_oFolder + "/" + roFile : std::string();
}

bool CAlsaControlFolder::Exists(const std::string& roFile) const
{
    return IsSet() && access(PathOf(roFile).c_str(), F_OK) == 0;
}

bool CAlsaControlFolder::Consume(const std::string& roFile) const
{
    return IsSet() && unlink(PathOf(roFile).c_str()) == 0;
}

bool CAlsaControlFolder::TakeFromCount(const std::string& roFile) const
{
    const std::vector<long> aiCount = ReadNumbers(roFile);
    if (aiCount.empty() || aiCount[0] <= 0)
        return false;
    if (aiCount[0] == 1)
        Consume(roFile);
    else
        WriteText(roFile, std::to_string(aiCount[0] - 1) + "\n");
    return true;
}

std::vector<long> CAlsaControlFolder::ReadNumbers(const std::string& roFile) const
{
    std::vector<long> aiNumbers;
    if (!IsSet())
        return aiNumbers;
    std::ifstream oFile(PathOf(roFile));
    long iNumber = 0;
    while (oFile >> iNumber)
        aiNumbers.push_back(iNumber);
    return aiNumbers;
}

bool CAlsaControlFolder::WriteText(const std::string& roFile, const std::string& roText) const
{
    if (!IsSet())
        return false;
    // Whoever reads the file meanwhile sees the old content or the new one, never a part.
    const std::string oTarget = PathOf(roFile);
    const std::string oTemporary = oTarget + ".new";
    {
        std::ofstream oFile(oTemporary, std::ios::trunc);
        oFile << roText;
        if (!oFile.flush())
            return false;
    }
    return rename(oTemporary.c_str(), oTarget.c_str()) == 0;
}
