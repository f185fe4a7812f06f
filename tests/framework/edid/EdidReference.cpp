#include "EdidReference.h"

#include <cstdio>
#include <regex>
#include <sstream>

namespace
{
bool StartsWith(const std::string& roText, const char* szPrefix)
{
    return roText.compare(0, std::char_traits<char>::length(szPrefix), szPrefix) == 0;
}

std::string Trim(const std::string& roText)
{
    const size_t uiStart = roText.find_first_not_of(' ');
    if (uiStart == std::string::npos)
        return "";
    return roText.substr(uiStart, roText.find_last_not_of(' ') - uiStart + 1);
}

// The text between the first and the last quote.
std::string Quoted(const std::string& roLine)
{
    const size_t uiFirst = roLine.find('\'');
    const size_t uiLast = roLine.rfind('\'');
    if (uiFirst == std::string::npos || uiLast <= uiFirst)
        return "";
    return roLine.substr(uiFirst + 1, uiLast - uiFirst - 1);
}

// "    DMT 0x52:  1920x1080    60.000000 Hz  16:9     67.500 kHz    148.500000 MHz (RB)"
const std::regex& TimingLine()
{
    static const std::regex s_oRegex(
        R"(^\s+(DMT 0x[0-9a-f]+|IBM|Apple|GTF|CVT|Unknown|DTD\s+\d+)\s*:\s+(\d+)x(\d+)(i?)\s+([\d.]+) Hz\s+\S+)"
        R"((?:\s+([\d.]+) kHz\s+([\d.]+) MHz)?(.*)$)");
    return s_oRegex;
}

bool ParseTiming(const std::string& roLine, SRefTiming& roTiming)
{
    std::smatch oMatch;
    if (!std::regex_match(roLine, oMatch, TimingLine()))
        return false;
    roTiming.oSource = oMatch[1];
    roTiming.iWidth = std::stoi(oMatch[2]);
    roTiming.iHeight = std::stoi(oMatch[3]);
    roTiming.bInterlaced = oMatch[4].length() > 0;
    roTiming.dHz = std::stod(oMatch[5]);
    if (oMatch[6].matched)
    {
        roTiming.dKHz = std::stod(oMatch[6]);
        roTiming.dMHz = std::stod(oMatch[7]);
    }
    roTiming.bReducedBlanking = oMatch[8].str().find("(RB)") != std::string::npos;
    return true;
}

// "Hfront   48 Hsync  32 Hback   80 Hpol P" (and the V line).
bool ParsePorches(const std::string& roLine, char cAxis, int& riFront, int& riSync, int& riBack, bool& rbPositive)
{
    static const std::regex s_oH(R"(^\s+Hfront\s+(\d+) Hsync\s+(\d+) Hback\s+(\d+) Hpol ([PN]).*$)");
    static const std::regex s_oV(R"(^\s+Vfront\s+(\d+) Vsync\s+(\d+) Vback\s+(\d+) Vpol ([PN]).*$)");
    std::smatch oMatch;
    if (!std::regex_match(roLine, oMatch, cAxis == 'H' ? s_oH : s_oV))
        return false;
    riFront = std::stoi(oMatch[1]);
    riSync = std::stoi(oMatch[2]);
    riBack = std::stoi(oMatch[3]);
    rbPositive = oMatch[4] == "P";
    return true;
}
} // namespace

bool ParseEdidReference(const std::string& roText, SEdidReference& roReference, std::string& roError)
{
    std::istringstream oStream(roText);
    std::vector<std::string> aoLines;
    for (std::string oLine; std::getline(oStream, oLine);)
        aoLines.push_back(oLine);

    size_t uiLine = 0;
    while (uiLine < aoLines.size() && aoLines[uiLine] != "edid-decode (hex):")
        uiLine++;
    for (uiLine++; uiLine < aoLines.size() && !StartsWith(aoLines[uiLine], "----"); uiLine++)
    {
        std::istringstream oHex(aoLines[uiLine]);
        for (std::string oByte; oHex >> oByte;)
            roReference.aBytes.push_back(static_cast<uint8_t>(std::stoul(oByte, nullptr, 16)));
    }
    if (roReference.aBytes.empty() || roReference.aBytes.size() % 128 != 0)
    {
        roError = "no hex dump of whole blocks";
        return false;
    }

    while (uiLine < aoLines.size() && aoLines[uiLine] != "Block 0, Base EDID:")
        uiLine++;
    if (uiLine == aoLines.size())
    {
        roError = "no base block";
        return false;
    }

    enum { SECTION_OTHER, SECTION_ESTABLISHED, SECTION_STANDARD, SECTION_DESCRIPTORS } eSection = SECTION_OTHER;
    for (uiLine++; uiLine < aoLines.size() && !StartsWith(aoLines[uiLine], "Checksum:"); uiLine++)
    {
        const std::string& roLine = aoLines[uiLine];
        const std::string oTrimmed = Trim(roLine);
        const bool bSectionHeader = StartsWith(roLine, "  ") && roLine[2] != ' ';

        if (bSectionHeader)
        {
            if (StartsWith(oTrimmed, "Established Timings I & II"))
                eSection = SECTION_ESTABLISHED;
            else if (StartsWith(oTrimmed, "Standard Timings"))
                eSection = SECTION_STANDARD;
            else if (StartsWith(oTrimmed, "Detailed Timing Descriptors"))
                eSection = SECTION_DESCRIPTORS;
            else if (StartsWith(oTrimmed, "Display Range Limits"))
                ;  // a descriptor of the same list, printed one level up
            else
                eSection = SECTION_OTHER;
        }

        if (StartsWith(oTrimmed, "EDID Structure Version & Revision:"))
        {
            if (sscanf(oTrimmed.c_str(), "EDID Structure Version & Revision: %d.%d", &roReference.iVersion,
                       &roReference.iRevision) != 2)
            {
                roError = "version: " + oTrimmed;
                return false;
            }
        }
        else if (StartsWith(oTrimmed, "Manufacturer: "))
            roReference.oManufacturer = oTrimmed.substr(14);
        else if (StartsWith(oTrimmed, "Display Product Name:") && !roReference.bHasName)
        {
            roReference.bHasName = true;
            roReference.oName = Quoted(oTrimmed);
        }
        else if (StartsWith(oTrimmed, "Display Product Serial Number:"))
            roReference.bHasSerial = true;
        else if (StartsWith(oTrimmed, "Alphanumeric Data String:") && !roReference.bHasString)
        {
            roReference.bHasString = true;
            roReference.oString = Quoted(oTrimmed);
        }
        else if (StartsWith(oTrimmed, "First detailed timing is preferred timing") ||
                 StartsWith(oTrimmed, "First detailed timing is the preferred timing") ||
                 StartsWith(oTrimmed, "First detailed timing includes the native pixel format"))
            roReference.bPreferredFirst = true;
        else if (StartsWith(oTrimmed, "Monitor ranges (") && !roReference.bHasRange)
        {
            char szKind[32] = {};
            SRefRange& roRange = roReference.oRange;
            if (sscanf(oTrimmed.c_str(), "Monitor ranges (%31[^)]): %d-%d Hz V, %d-%d kHz H, max dotclock %d MHz", szKind,
                       &roRange.iVMin, &roRange.iVMax, &roRange.iHMin, &roRange.iHMax, &roRange.iMaxMHz) != 6)
            {
                roError = "range: " + oTrimmed;
                return false;
            }
            roRange.oKind = szKind;
            roReference.bHasRange = true;
        }
        else if (StartsWith(oTrimmed, "Start frequency: "))
        {
            roReference.bHasGtfCurve = true;
            roReference.oGtfCurve.iStartKHz = std::stoi(oTrimmed.substr(17));
        }
        else if (StartsWith(oTrimmed, "C: "))
            roReference.oGtfCurve.dC = std::stod(oTrimmed.substr(3));
        else if (StartsWith(oTrimmed, "M: "))
            roReference.oGtfCurve.iM = std::stoi(oTrimmed.substr(3));
        else if (StartsWith(oTrimmed, "K: "))
            roReference.oGtfCurve.iK = std::stoi(oTrimmed.substr(3));
        else if (StartsWith(oTrimmed, "J: "))
            roReference.oGtfCurve.dJ = std::stod(oTrimmed.substr(3));
        else if (StartsWith(oTrimmed, "Detailed mode:") && eSection == SECTION_DESCRIPTORS)
            roReference.aoDescriptorTimings.push_back(SRefDescriptorTiming());
        else if (StartsWith(oTrimmed, "DTD "))
        {
            SRefDescriptorTiming oDescriptor;
            oDescriptor.bValid = true;
            if (!ParseTiming(roLine, oDescriptor.oTiming) || uiLine + 2 >= aoLines.size() ||
                !ParsePorches(aoLines[uiLine + 1], 'H', oDescriptor.iHFront, oDescriptor.iHSync, oDescriptor.iHBack,
                              oDescriptor.bHPositive) ||
                !ParsePorches(aoLines[uiLine + 2], 'V', oDescriptor.iVFront, oDescriptor.iVSync, oDescriptor.iVBack,
                              oDescriptor.bVPositive))
            {
                roError = "descriptor: " + roLine;
                return false;
            }
            roReference.aoDescriptorTimings.push_back(oDescriptor);
        }
        else if (!bSectionHeader && (eSection == SECTION_ESTABLISHED || eSection == SECTION_STANDARD))
        {
            SRefTiming oTiming;
            if (!ParseTiming(roLine, oTiming))
            {
                roError = "timing: " + roLine;
                return false;
            }
            std::vector<SRefTiming>& raoList =
                eSection == SECTION_ESTABLISHED ? roReference.aoEstablished : roReference.aoStandard;
            // A timing that EDID 1.4 reads as CVT is printed a second time, as EDID 1.3 reads it.
            if (roLine.find("(EDID 1.3 source)") != std::string::npos && !raoList.empty())
                raoList.back() = oTiming;
            else
                raoList.push_back(oTiming);
        }
    }

    // The failures the decoder found in the base block.
    while (uiLine < aoLines.size() && aoLines[uiLine] != "Failures:")
        uiLine++;
    while (uiLine < aoLines.size() && aoLines[uiLine] != "Block 0, Base EDID:")
        uiLine++;
    for (uiLine++; uiLine < aoLines.size() && StartsWith(aoLines[uiLine], "  "); uiLine++)
        roReference.aoFailures.push_back(Trim(aoLines[uiLine]));
    return true;
}

std::string MakeDriverDump(const std::vector<uint8_t>& raBytes)
{
    std::string oDump;
    char szField[32];
    for (size_t uiIndex = 0; uiIndex < raBytes.size(); uiIndex++)
    {
        if (uiIndex % 16 == 0)
        {
            snprintf(szField, sizeof(szField), "%04zX: ", uiIndex);
            oDump += szField;
        }
        snprintf(szField, sizeof(szField), "%02x%c", raBytes[uiIndex], uiIndex % 16 == 15 ? '\n' : ' ');
        oDump += szField;
    }
    return oDump;
}
