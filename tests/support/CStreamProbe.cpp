#include "CStreamProbe.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "CNv12Pattern.h"

namespace
{
// The lines of the counter kept from each decoded picture.
const unsigned local_uiCounterRows = 16;

std::string local_Quote(const std::string& roText)
{
    std::string oQuoted = "'";
    for (char c : roText)
        oQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return oQuoted + "'";
}
} // namespace

int CStreamProbe::Run(const std::string& roCommand, std::string& roOutput, bool bWithErrors)
{
    roOutput.clear();
    FILE* poPipe = popen((roCommand + (bWithErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    if (poPipe == nullptr)
        return -1;
    char acBuffer[65536];
    size_t uiRead = 0;
    while ((uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0)
        roOutput.append(acBuffer, uiRead);
    const int iStatus = pclose(poPipe);
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

bool CStreamProbe::Probe(const std::string& roPath, SStreamProbe& roProbe)
{
    std::string oOutput;
    const int iExit = Run("ffprobe -v error -f h264 -select_streams v:0 "
                          "-show_entries stream=width,height,profile,level:frame=key_frame,pict_type "
                          "-of default=noprint_wrappers=1 " + local_Quote(roPath),
                          oOutput, false);
    if (iExit != 0)
        return false;
    roProbe = SStreamProbe();
    std::istringstream oLines(oOutput);
    std::string oLine;
    while (std::getline(oLines, oLine))
    {
        const size_t uiEquals = oLine.find('=');
        if (uiEquals == std::string::npos)
            continue;
        const std::string oKey = oLine.substr(0, uiEquals);
        const std::string oValue = oLine.substr(uiEquals + 1);
        if (oKey == "width")
            roProbe.uiWidth = static_cast<unsigned>(std::stoul(oValue));
        else if (oKey == "height")
            roProbe.uiHeight = static_cast<unsigned>(std::stoul(oValue));
        else if (oKey == "profile")
            roProbe.oProfile = oValue;
        else if (oKey == "level")
            roProbe.iLevel = std::stoi(oValue);
        else if (oKey == "key_frame")
            roProbe.abKeyFrame.push_back(oValue == "1");
        else if (oKey == "pict_type")
            roProbe.oPictureTypes += oValue.empty() ? '?' : oValue[0];
    }
    return true;
}

bool CStreamProbe::DecodesCleanly(const std::string& roPath, std::string& roErrors)
{
    const int iExit = Run("ffmpeg -nostdin -v error -f h264 -i " + local_Quote(roPath) + " -f null -", roErrors, true);
    return iExit == 0 && roErrors.empty();
}

bool CStreamProbe::DecodeCounters(const std::string& roPath, unsigned uiWidth, std::vector<uint64_t>& rauiCounters)
{
    std::string oPixels;
    const int iExit = Run("ffmpeg -nostdin -v error -f h264 -i " + local_Quote(roPath) + " -vf crop=iw:" +
                              std::to_string(local_uiCounterRows) + ":0:0 -pix_fmt gray -f rawvideo -",
                          oPixels, false);
    rauiCounters.clear();
    const size_t uiFrameBytes = static_cast<size_t>(uiWidth) * local_uiCounterRows;
    if (iExit != 0 || oPixels.size() % uiFrameBytes != 0)
        return false;
    for (size_t uiPos = 0; uiPos < oPixels.size(); uiPos += uiFrameBytes)
        rauiCounters.push_back(CNv12Pattern::ReadCounter(
            reinterpret_cast<const uint8_t*>(oPixels.data() + uiPos), uiWidth, uiWidth));
    return true;
}
