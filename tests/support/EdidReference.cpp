#include "EdidReference.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace
{
bool StartsWith(const std::string& roText, const char* szPrefix)
{
    return roText.compare(0, std::char_traits<char>::length(szPrefix), szPrefix) == 0;
}

// "    DMT 0x52:  1920x1080    60.000000 Hz  16:9     67.500 kHz    148.500000 MHz (RB)"
bool ParseTiming(const std::string& roLine, SRefTiming& roTiming)
{
    static const std::regex s_oLine(R"(^\s+(DMT 0x[0-9a-f]+|IBM|Apple|GTF|CVT|Unknown|DTD\s+\d+)\s*:\s+(\d+)x(\d+)(i?))"
                                    R"(\s+([\d.]+) Hz\s+\S+(?:\s+([\d.]+) kHz\s+([\d.]+) MHz)?.*$)");
    std::smatch oMatch;
    if (!std::regex_match(roLine, oMatch, s_oLine))
        return false;
    roTiming = SRefTiming{oMatch[1], std::stoi(oMatch[2]), std::stoi(oMatch[3]), oMatch[4].length() > 0,
                          std::stod(oMatch[5]), oMatch[6].matched ? std::stod(oMatch[6]) : -1,
                          oMatch[7].matched ? std::stod(oMatch[7]) : -1};
    return true;
}

// "Hfront   48 Hsync  32 Hback   80 Hpol P" (and the V line).
bool ParsePorches(const std::string& roLine, char cAxis, int (&raiPorches)[3], bool& rbPositive)
{
    const std::string oAxis(1, cAxis);
    const std::regex oLine("^\\s+" + oAxis + "front\\s+(\\d+) " + oAxis + "sync\\s+(\\d+) " + oAxis +
                           "back\\s+(\\d+) " + oAxis + "pol ([PN]).*$");
    std::smatch oMatch;
    if (!std::regex_match(roLine, oMatch, oLine))
        return false;
    for (int i = 0; i < 3; ++i)
        raiPorches[i] = std::stoi(oMatch[i + 1]);
    rbPositive = oMatch[4] == "P";
    return true;
}

// The text between the first and the last quote.
std::string Quoted(const std::string& roLine)
{
    const size_t uiFirst = roLine.find('\'');
    const size_t uiLast = roLine.rfind('\'');
    return uiFirst == std::string::npos || uiLast <= uiFirst ? "" : roLine.substr(uiFirst + 1, uiLast - uiFirst - 1);
}
} // namespace

std::vector<std::string> EdidDataFiles()
{
    std::vector<std::string> aoFiles;
    std::error_code oError;
    for (const auto& roEntry : std::filesystem::directory_iterator(EdidDataDir(), oError))
        if (roEntry.path().extension() == ".txt")
            aoFiles.push_back(roEntry.path().filename().string());
    std::sort(aoFiles.begin(), aoFiles.end());
    return aoFiles;
}

std::string EdidTestName(const std::string& roFile)
{
    std::string oName = roFile.substr(0, roFile.find('.'));
    std::replace(oName.begin(), oName.end(), '-', '_');
    return oName;
}

bool ReadEdidReference(const std::string& roFile, SEdidReference& roRef, std::string& roError)
{
    std::ifstream oFile(EdidDataDir() + "/" + roFile);
    std::vector<std::string> aoLines;
    for (std::string oLine; std::getline(oFile, oLine);)
        aoLines.push_back(oLine);
    size_t uiLine = std::find(aoLines.begin(), aoLines.end(), "edid-decode (hex):") - aoLines.begin();
    for (uiLine++; uiLine < aoLines.size() && !StartsWith(aoLines[uiLine], "----"); uiLine++)
    {
        std::istringstream oHex(aoLines[uiLine]);
        for (std::string oByte; oHex >> oByte;)
            roRef.aBytes.push_back(static_cast<uint8_t>(std::stoul(oByte, nullptr, 16)));
    }
    roError = roRef.aBytes.empty() || roRef.aBytes.size() % 128 != 0 ? "no hex dump of whole blocks" : "";
    uiLine = std::find(aoLines.begin() + std::min(uiLine, aoLines.size()), aoLines.end(), "Block 0, Base EDID:") -
             aoLines.begin();
    if (roError.empty() && uiLine == aoLines.size())
        roError = "no base block";

    enum { Other, Established, Standard, Descriptors } eSection = Other;
    for (uiLine++; roError.empty() && uiLine < aoLines.size() && !StartsWith(aoLines[uiLine], "Checksum:"); uiLine++)
    {
        const std::string& roLine = aoLines[uiLine];
        const size_t uiStart = std::min(roLine.find_first_not_of(' '), roLine.size());
        const std::string oText = roLine.substr(uiStart, roLine.find_last_not_of(' ') + 1 - uiStart);
        const bool bSectionHeader = StartsWith(roLine, "  ") && roLine[2] != ' ';
        if (bSectionHeader && !StartsWith(oText, "Display Range Limits"))  // a descriptor, printed one level up
            eSection = StartsWith(oText, "Established Timings I & II") ? Established
                       : StartsWith(oText, "Standard Timings")          ? Standard
                       : StartsWith(oText, "Detailed Timing Descriptors") ? Descriptors
                                                                          : Other;
        SRefTiming oTiming;
        if (StartsWith(oText, "EDID Structure Version & Revision:"))
            sscanf(oText.c_str(), "EDID Structure Version & Revision: %d.%d", &roRef.iVersion, &roRef.iRevision);
        else if (StartsWith(oText, "Manufacturer: "))
            roRef.oManufacturer = oText.substr(14);
        else if (StartsWith(oText, "Display Product Name:") && !roRef.bHasName)
            roRef.bHasName = true, roRef.oName = Quoted(oText);
        else if (StartsWith(oText, "Display Product Serial Number:"))
            roRef.bHasSerial = true;
        else if (StartsWith(oText, "Alphanumeric Data String:") && !roRef.bHasString)
            roRef.bHasString = true, roRef.oString = Quoted(oText);
        else if (StartsWith(oText, "First detailed timing is preferred timing") ||
                 StartsWith(oText, "First detailed timing is the preferred timing") ||
                 StartsWith(oText, "First detailed timing includes the native pixel format"))
            roRef.bPreferredFirst = true;
        else if (StartsWith(oText, "Monitor ranges (") && !roRef.bHasRange)
        {
            int* piRange = roRef.aiRange;
            roRef.bHasRange =
                sscanf(oText.c_str(), "Monitor ranges (%*[^)]): %d-%d Hz V, %d-%d kHz H, max dotclock %d MHz",
                       &piRange[0], &piRange[1], &piRange[2], &piRange[3], &piRange[4]) == 5;
            roError = roRef.bHasRange ? "" : "range: " + oText;
        }
        else if (StartsWith(oText, "Start frequency: "))
            roRef.bHasGtfCurve = true, roRef.adGtfCurve[0] = std::stod(oText.substr(17));
        else if (oText.size() > 3 && std::string("CMKJ").find(oText[0]) != std::string::npos && oText[1] == ':')
            roRef.adGtfCurve[1 + std::string("CMKJ").find(oText[0])] = std::stod(oText.substr(3));
        else if (StartsWith(oText, "Detailed mode:") && eSection == Descriptors)
            roRef.aoDescriptorTimings.push_back(SRefDescriptorTiming());
        else if (StartsWith(oText, "DTD "))
        {
            SRefDescriptorTiming oDescriptor;
            oDescriptor.bValid = true;
            if (!ParseTiming(roLine, oDescriptor.oTiming) || uiLine + 2 >= aoLines.size() ||
                !ParsePorches(aoLines[uiLine + 1], 'H', oDescriptor.aiH, oDescriptor.bHPositive) ||
                !ParsePorches(aoLines[uiLine + 2], 'V', oDescriptor.aiV, oDescriptor.bVPositive))
                roError = "descriptor: " + roLine;
            roRef.aoDescriptorTimings.push_back(oDescriptor);
        }
        else if (!bSectionHeader && (eSection == Established || eSection == Standard))
        {
            std::vector<SRefTiming>& raoList = eSection == Established ? roRef.aoEstablished : roRef.aoStandard;
            if (!ParseTiming(roLine, oTiming))
                roError = "timing: " + roLine;
            // A timing that EDID 1.4 reads as CVT is printed a second time, as EDID 1.3 reads it.
            else if (roLine.find("(EDID 1.3 source)") != std::string::npos && !raoList.empty())
                raoList.back() = oTiming;
            else
                raoList.push_back(oTiming);
        }
    }
    // Among the failures the decoder found (the base block's is the only string descriptor).
    const auto itFailures = std::find(aoLines.begin() + std::min(uiLine, aoLines.size()), aoLines.end(), "Failures:");
    roRef.bNonPrintableString = std::any_of(itFailures, aoLines.end(), [](const std::string& ro) {
        return ro.find("Alphanumeric Data String: Non-printable character.") != std::string::npos;
    });
    return roError.empty();
}

std::string MakeDriverDump(const std::vector<uint8_t>& raBytes)
{
    std::string oDump;
    char szField[32];
    for (size_t uiIndex = 0; uiIndex < raBytes.size(); uiIndex++)
    {
        if (uiIndex % 16 == 0)
            oDump += (snprintf(szField, sizeof(szField), "%04zX: ", uiIndex), szField);
        snprintf(szField, sizeof(szField), "%02x%c", raBytes[uiIndex], uiIndex % 16 == 15 ? '\n' : ' ');
        oDump += szField;
    }
    return oDump;
}
