#include "CSimulatedMonitor.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace
{
const size_t local_uiBlockSize = 128;
// A dump larger than this (256 blocks) is not an EDID.
const size_t local_uiMaxDumpBytes = 256 * local_uiBlockSize;
const uint8_t local_auiHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// The timing of a built-in monitor's preferred mode (its first detailed timing descriptor).
struct SBuiltInTiming
{
    unsigned uiClock10kHz;
    unsigned uiHActive, uiHBlank, uiHSyncOffset, uiHSyncWidth;
    unsigned uiVActive, uiVBlank, uiVSyncOffset, uiVSyncWidth;  // lines of a field when interlaced
    bool bInterlaced;
};

struct SBuiltInMonitor
{
    const char* szPreset;
    const char* szName;  // at most 13 characters
    uint16_t uiProductCode;
    SBuiltInTiming oTiming;
};

// CEA-861 timings, digital separate sync with both polarities positive.
const SBuiltInMonitor local_aoMonitors[] = {
    {"1080p60", "PELLIX HD60", 0x1080, {14850, 1920, 280, 88, 44, 1080, 45, 4, 5, false}},
    {"1080i60", "PELLIX HD60I", 0x1081, {7425, 1920, 280, 88, 44, 540, 22, 2, 5, true}},
    {"720p60", "PELLIX HD720", 0x0720, {7425, 1280, 370, 110, 40, 720, 30, 5, 5, false}},
};

void local_PutDetailedTiming(uint8_t* puiOut, const SBuiltInTiming& roT)
{
    const unsigned uiHImageMm = 509;
    const unsigned uiVImageMm = 286;
    puiOut[0] = static_cast<uint8_t>(roT.uiClock10kHz & 0xFF);
    puiOut[1] = static_cast<uint8_t>(roT.uiClock10kHz >> 8);
    puiOut[2] = static_cast<uint8_t>(roT.uiHActive & 0xFF);
    puiOut[3] = static_cast<uint8_t>(roT.uiHBlank & 0xFF);
    puiOut[4] = static_cast<uint8_t>(((roT.uiHActive >> 8) << 4) | (roT.uiHBlank >> 8));
    puiOut[5] = static_cast<uint8_t>(roT.uiVActive & 0xFF);
    puiOut[6] = static_cast<uint8_t>(roT.uiVBlank & 0xFF);
    puiOut[7] = static_cast<uint8_t>(((roT.uiVActive >> 8) << 4) | (roT.uiVBlank >> 8));
    puiOut[8] = static_cast<uint8_t>(roT.uiHSyncOffset & 0xFF);
    puiOut[9] = static_cast<uint8_t>(roT.uiHSyncWidth & 0xFF);
    puiOut[10] = static_cast<uint8_t>(((roT.uiVSyncOffset & 15) << 4) | (roT.uiVSyncWidth & 15));
    puiOut[11] = static_cast<uint8_t>(((roT.uiHSyncOffset >> 8) << 6) | ((roT.uiHSyncWidth >> 8) << 4) |
                                      ((roT.uiVSyncOffset >> 4) << 2) | (roT.uiVSyncWidth >> 4));
    puiOut[12] = static_cast<uint8_t>(uiHImageMm & 0xFF);
    puiOut[13] = static_cast<uint8_t>(uiVImageMm & 0xFF);
    puiOut[14] = static_cast<uint8_t>(((uiHImageMm >> 8) << 4) | (uiVImageMm >> 8));
    puiOut[15] = 0;
    puiOut[16] = 0;
    // Digital separate sync, both polarities positive.
    puiOut[17] = static_cast<uint8_t>(0x1E | (roT.bInterlaced ? 0x80 : 0x00));
}

// A display descriptor of a type with a text: up to 13 characters, a line feed, blank padding.
void local_PutTextDescriptor(uint8_t* puiOut, uint8_t uiType, const char* szText)
{
    memset(puiOut, 0, 5);
    puiOut[3] = uiType;
    const size_t uiLength = strlen(szText) < 13 ? strlen(szText) : 13;
    memset(puiOut + 5, ' ', 13);
    memcpy(puiOut + 5, szText, uiLength);
    if (uiLength < 13)
        puiOut[5 + uiLength] = '\n';
}

void local_BuildEdid(const SBuiltInMonitor& roMonitor, std::vector<uint8_t>& raEdid)
{
    raEdid.assign(local_uiBlockSize, 0);
    uint8_t* puiEdid = raEdid.data();
    memcpy(puiEdid, local_auiHeader, sizeof(local_auiHeader));
    // Manufacturer "PLX" in three 5-bit letters, big-endian.
    const unsigned uiMaker = ((unsigned('P') - 'A' + 1) << 10) | ((unsigned('L') - 'A' + 1) << 5) | (unsigned('X') - 'A' + 1);
    puiEdid[8] = static_cast<uint8_t>(uiMaker >> 8);
    puiEdid[9] = static_cast<uint8_t>(uiMaker & 0xFF);
    puiEdid[10] = static_cast<uint8_t>(roMonitor.uiProductCode & 0xFF);
    puiEdid[11] = static_cast<uint8_t>(roMonitor.uiProductCode >> 8);
    puiEdid[12] = 1;                    // serial number 1
    puiEdid[16] = 1;                    // week 1
    puiEdid[17] = 2024 - 1990;          // of 2024
    puiEdid[18] = 1;                    // EDID 1.3
    puiEdid[19] = 3;
    puiEdid[20] = 0x80;                 // digital input
    puiEdid[21] = 51;                   // 51 x 29 cm
    puiEdid[22] = 29;
    puiEdid[23] = 120;                  // gamma 2.2
    puiEdid[24] = 0x0A;                 // RGB colour; the first detailed timing is preferred
    const uint8_t auiChromaticity[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    memcpy(puiEdid + 25, auiChromaticity, sizeof(auiChromaticity));
    puiEdid[35] = 0x21;                 // 640x480 at 60 Hz, 800x600 at 60 Hz
    puiEdid[36] = 0x08;                 // 1024x768 at 60 Hz
    const uint8_t auiStandard[16] = {0xD1, 0xC0, 0x81, 0xC0, 0x81, 0x80, 0x01, 0x01,
                                     0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
    memcpy(puiEdid + 38, auiStandard, sizeof(auiStandard));
    local_PutDetailedTiming(puiEdid + 54, roMonitor.oTiming);
    // Range limits: 56..76 Hz, 30..83 kHz, 170 MHz, default GTF.
    const uint8_t auiRange[18] = {0, 0, 0, 0xFD, 0, 56, 76, 30, 83, 17, 0, 0x0A, ' ', ' ', ' ', ' ', ' ', ' '};
    memcpy(puiEdid + 72, auiRange, sizeof(auiRange));
    local_PutTextDescriptor(puiEdid + 90, 0xFC, roMonitor.szName);
    local_PutTextDescriptor(puiEdid + 108, 0xFF, "0000000001");
    uint8_t uiSum = 0;
    for (size_t ui = 0; ui + 1 < local_uiBlockSize; ++ui)
        uiSum = static_cast<uint8_t>(uiSum + puiEdid[ui]);
    puiEdid[local_uiBlockSize - 1] = static_cast<uint8_t>(0x100 - uiSum);
}

bool local_IsHexByte(const std::string& roToken)
{
    return roToken.size() == 2 && isxdigit(static_cast<unsigned char>(roToken[0])) &&
           isxdigit(static_cast<unsigned char>(roToken[1]));
}

// The bytes of one line of a text dump: an optional "XXXX:" label, then hex bytes only. False
// for a line that is not all data (blank lines are data lines without bytes).
bool local_ParseDumpLine(const std::string& roLine, std::vector<uint8_t>& raBytes)
{
    std::istringstream oTokens(roLine);
    std::string oToken;
    bool bFirst = true;
    std::vector<uint8_t> aLine;
    while (oTokens >> oToken)
    {
        const bool bLabel = bFirst && oToken.size() == 5 && oToken[4] == ':' && local_IsHexByte(oToken.substr(0, 2)) &&
                            local_IsHexByte(oToken.substr(2, 2));
        bFirst = false;
        if (bLabel)
            continue;
        if (!local_IsHexByte(oToken))
            return false;
        aLine.push_back(static_cast<uint8_t>(std::stoul(oToken, nullptr, 16)));
    }
    raBytes.insert(raBytes.end(), aLine.begin(), aLine.end());
    return true;
}
} // namespace

bool CSimulatedMonitor::BuiltInEdid(const std::string& roName, std::vector<uint8_t>& raEdid)
{
    for (const SBuiltInMonitor& roMonitor : local_aoMonitors)
    {
        if (roName == roMonitor.szPreset)
        {
            local_BuildEdid(roMonitor, raEdid);
            return true;
        }
    }
    return false;
}

bool CSimulatedMonitor::ReadDump(const std::string& roPath, std::vector<uint8_t>& raEdid)
{
    raEdid.clear();
    std::ifstream oFile(roPath, std::ios::binary);
    if (!oFile)
        return false;
    std::string oContent;
    oContent.reserve(4096);
    char acChunk[4096];
    while (oFile.read(acChunk, sizeof(acChunk)) || oFile.gcount() > 0)
    {
        oContent.append(acChunk, static_cast<size_t>(oFile.gcount()));
        if (oContent.size() > 8 * local_uiMaxDumpBytes)
            return false;
    }

    // Raw bytes: the EDID header itself.
    if (oContent.size() >= sizeof(local_auiHeader) && memcmp(oContent.data(), local_auiHeader, sizeof(local_auiHeader)) == 0)
    {
        const size_t uiSize = oContent.size() < local_uiMaxDumpBytes ? oContent.size() : local_uiMaxDumpBytes;
        raEdid.assign(oContent.begin(), oContent.begin() + static_cast<std::ptrdiff_t>(uiSize));
        return true;
    }

    // Text: the first run of data lines, text before it skipped.
    std::istringstream oLines(oContent);
    std::string oLine;
    while (std::getline(oLines, oLine) && raEdid.size() <= local_uiMaxDumpBytes)
    {
        if (!local_ParseDumpLine(oLine, raEdid) && !raEdid.empty())
            break;
    }
    if (raEdid.size() > local_uiMaxDumpBytes)
        raEdid.resize(local_uiMaxDumpBytes);
    return !raEdid.empty();
}

bool CSimulatedMonitor::EdidFor(const char* szMonitor, std::vector<uint8_t>& raEdid)
{
    raEdid.clear();
    const std::string oMonitor = szMonitor != nullptr && szMonitor[0] != 0 ? szMonitor : "1080p60";
    if (oMonitor == "none")
        return true;
    if (BuiltInEdid(oMonitor, raEdid))
        return true;
    return ReadDump(oMonitor, raEdid);
}

std::string CSimulatedMonitor::FormatDriverDump(const std::vector<uint8_t>& raEdid)
{
    std::string oText;
    char szPiece[8];
    for (size_t ui = 0; ui < raEdid.size(); ++ui)
    {
        if (ui % 16 == 0)
        {
            snprintf(szPiece, sizeof(szPiece), "%04X: ", static_cast<unsigned>(ui));
            oText += szPiece;
        }
        snprintf(szPiece, sizeof(szPiece), "%02x ", raEdid[ui]);
        oText += szPiece;
        if (ui % 16 == 15 || ui + 1 == raEdid.size())
            oText += '\n';
    }
    return oText;
}
