#include "EncodedStreams.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace
{
const unsigned local_uiCounterBits = 16, local_uiBarPeriod = 128, local_uiBarRows = 64;
const unsigned local_uiNoiseSpread = 48;  // of the noise band around mid grey
const unsigned local_uiCounterRows = 16;  // lines of the counter read from each decoded picture

std::string local_Quote(const std::string& roText)
{
    std::string oQuoted = "'";
    for (char c : roText)
        oQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return oQuoted + "'";
}

// What the tool (ffprobe or ffmpeg) writes on standard output given the file and the options after
// it; what it says on standard error, and its exit status when not 0, in roErrors.
std::string local_Run(const std::string& roTool, const std::string& roPath, const std::string& roOptions, std::string& roErrors)
{
    std::string oOutput;
    FILE* poPipe = popen((roTool + " -i " + local_Quote(roPath) + " " + roOptions + " 2>" + local_Quote(roPath + ".errors")).c_str(), "r");
    char acBuffer[65536];
    for (size_t uiRead; poPipe != nullptr && (uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0;)
        oOutput.append(acBuffer, uiRead);
    const int iStatus = poPipe != nullptr ? pclose(poPipe) : -1;
    std::ifstream oErrors(roPath + ".errors");
    roErrors.assign(std::istreambuf_iterator<char>(oErrors), std::istreambuf_iterator<char>());
    const int iExit = iStatus != -1 && WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    roErrors += iExit == 0 ? "" : roTool.substr(0, roTool.find(' ')) + " exit status " + std::to_string(iExit);
    return oOutput;
}
} // namespace

CNv12Pattern::CNv12Pattern(unsigned uiWidth, unsigned uiHeight) : m_uiWidth(uiWidth), m_uiHeight(uiHeight)
{
    // Bars: diagonal stripes in luma, slowly turning hues in chroma (interleaved Cb, Cr).
    const unsigned uiRowBytes = uiWidth + local_uiBarPeriod;
    m_aucBars.resize(2 * local_uiBarRows * uiRowBytes);
    for (unsigned y = 0; y < local_uiBarRows; ++y)
        for (unsigned x = 0; x < uiRowBytes; ++x)
        {
            const unsigned uiPhase = (x + y) % local_uiBarPeriod;
            m_aucBars[y * uiRowBytes + x] =
                uint8_t(uiPhase < local_uiBarPeriod / 2 ? 48 + uiPhase * 2 : 200 - (uiPhase - 64));
            m_aucBars[(local_uiBarRows + y) * uiRowBytes + x] = uint8_t((x % 2 == 0 ? 96 : 160) + uiPhase / 8);
        }
    // Noise from a fixed xorshift sequence, so that every run sees the same frames.
    m_aucNoise.resize(size_t(uiWidth) * (uiHeight / 4 + 1) * 4);
    uint32_t uiState = 0x9E3779B9u;
    for (uint8_t& rucValue : m_aucNoise)
    {
        uiState ^= uiState << 13;
        uiState ^= uiState >> 17;
        uiState ^= uiState << 5;
        rucValue = uint8_t(128 - local_uiNoiseSpread / 2 + uiState % local_uiNoiseSpread);
    }
}

void CNv12Pattern::Render(uint64_t uiFrame, uint8_t* pFrame) const
{
    const unsigned uiRowBytes = m_uiWidth + local_uiBarPeriod, uiBlock = m_uiWidth / local_uiCounterBits;
    // Bars move sideways by whole pixels (whole CbCr pairs in chroma); the noise band starts at a
    // new place of the table every frame.
    const unsigned uiShift = unsigned((uiFrame * 4) % local_uiBarPeriod) & ~1u;
    for (const bool bChroma : {false, true})
    {
        const unsigned uiRows = bChroma ? m_uiHeight / 2 : m_uiHeight, uiScale = bChroma ? 2 : 1;
        const unsigned uiCounterRows = (m_uiHeight >= 256 ? 32 : m_uiHeight / 8) / uiScale;
        const unsigned uiNoiseStart = uiRows - m_uiHeight / 4 / uiScale;
        const size_t uiNoiseBase =
            size_t((uiFrame * 2654435761u) % (m_aucNoise.size() - size_t(m_uiWidth) * (uiRows - uiNoiseStart)));
        const uint8_t* pBars = &m_aucBars[bChroma ? local_uiBarRows * uiRowBytes : 0];
        for (unsigned y = 0; y < uiRows; ++y)
        {
            uint8_t* pRow = pFrame + (bChroma ? size_t(m_uiWidth) * m_uiHeight : 0) + size_t(y) * m_uiWidth;
            if (y < uiCounterRows)
            {
                memset(pRow, bChroma ? 128 : 16, m_uiWidth);
                for (unsigned uiBit = 0; uiBit < local_uiCounterBits && !bChroma; ++uiBit)
                    if ((uiFrame >> (local_uiCounterBits - 1 - uiBit)) & 1)
                        memset(pRow + uiBit * uiBlock, 235, uiBlock);
            }
            else if (y < uiNoiseStart)
                memcpy(pRow, pBars + (y % local_uiBarRows) * uiRowBytes + uiShift, m_uiWidth);
            else
                memcpy(pRow, &m_aucNoise[uiNoiseBase + size_t(y - uiNoiseStart) * m_uiWidth], m_uiWidth);
        }
    }
}

uint64_t CNv12Pattern::ReadCounter(const uint8_t* pLuma, unsigned uiWidth)
{
    // The middle of each block, half way down the counter.
    const unsigned uiBlock = uiWidth / local_uiCounterBits;
    uint64_t uiCounter = 0;
    for (unsigned uiBit = 0; uiBit < local_uiCounterBits; ++uiBit)
        uiCounter = (uiCounter << 1) | (pLuma[size_t(uiWidth) * 8 + uiBit * uiBlock + uiBlock / 2] >= 128 ? 1 : 0);
    return uiCounter;
}

std::vector<SNalUnit> NalUnits(const std::string& roBytes)
{
    const auto* p = reinterpret_cast<const uint8_t*>(roBytes.data());
    const size_t uiSize = roBytes.size();
    // Length of the start code at uiAt (3 or 4 bytes), 0 when there is none.
    const auto fnStartCode = [&](size_t uiAt) -> size_t {
        if (uiAt + 3 <= uiSize && p[uiAt] == 0 && p[uiAt + 1] == 0 && p[uiAt + 2] == 1)
            return 3;
        return uiAt + 4 <= uiSize && p[uiAt] == 0 && p[uiAt + 1] == 0 && p[uiAt + 2] == 0 && p[uiAt + 3] == 1 ? 4 : 0;
    };
    std::vector<SNalUnit> aoUnits;
    for (size_t uiAt = 0, uiCode = fnStartCode(0); uiCode != 0;)
    {
        const size_t uiStart = uiAt + uiCode;
        size_t uiNext = uiStart;
        while (uiNext < uiSize && (uiCode = fnStartCode(uiNext)) == 0)
            ++uiNext;
        uiCode = uiNext < uiSize ? uiCode : 0;
        if (uiStart < uiSize)
        {
            // first_mb_in_slice: Exp-Golomb ue(v) right after the NAL header.
            size_t uiBit = 8, uiZeros = 0;
            const auto fnBit = [&](size_t b)
            { return b < (uiNext - uiStart) * 8 ? (p[uiStart + b / 8] >> (7 - b % 8)) & 1 : 1; };
            for (; fnBit(uiBit) == 0; ++uiBit)
                ++uiZeros;
            unsigned uiValue = 0;
            for (size_t i = 0; i < uiZeros; ++i)
                uiValue = (uiValue << 1) | fnBit(++uiBit);
            aoUnits.push_back(SNalUnit{p[uiStart] & 0x1Fu, (1u << uiZeros) - 1 + uiValue});
        }
        uiAt = uiNext;
    }
    return aoUnits;
}

SStreamProbe ProbeStream(const std::string& roPath, unsigned uiCounterWidth)
{
    SStreamProbe oProbe;
    std::istringstream oLines(local_Run("ffprobe -v error -f h264", roPath,
                                        "-select_streams v:0 -show_entries stream=width,height,profile,level:"
                                        "frame=key_frame,pict_type -of default=noprint_wrappers=1",
                                        oProbe.oErrors));
    for (std::string oLine; std::getline(oLines, oLine);)
    {
        const std::string oKey = oLine.substr(0, oLine.find('=')),
                          oValue = oLine.substr(oKey.size() + (oKey.size() < oLine.size()));
        if (oKey == "width" || oKey == "height")
            (oKey == "width" ? oProbe.uiWidth : oProbe.uiHeight) = unsigned(std::stoul(oValue));
        else if (oKey == "profile")
            oProbe.oProfile = oValue;
        else if (oKey == "level")
            oProbe.iLevel = std::stoi(oValue);
        else if (oKey == "key_frame" || oKey == "pict_type")
            (oKey == "key_frame" ? oProbe.oKeyFrames : oProbe.oPictureTypes) += oValue.empty() ? '?' : oValue[0];
    }
    local_Run("ffmpeg -nostdin -v error -f h264", roPath, "-f null -", oProbe.oErrors);
    if (uiCounterWidth == 0)
        return oProbe;
    const std::string oPixels = DecodeGray(roPath, local_uiCounterRows);
    const size_t uiFrameBytes = size_t(uiCounterWidth) * local_uiCounterRows;
    for (size_t uiPos = 0; uiPos + uiFrameBytes <= oPixels.size(); uiPos += uiFrameBytes)
        oProbe.auiCounters.push_back(
            CNv12Pattern::ReadCounter(reinterpret_cast<const uint8_t*>(oPixels.data() + uiPos), uiCounterWidth));
    return oProbe;
}

std::string DecodeGray(const std::string& roPath, unsigned uiRows)
{
    std::string oErrors;
    const std::string oCrop = uiRows != 0 ? "-vf crop=iw:" + std::to_string(uiRows) + ":0:0 " : "";
    const std::string oPixels = local_Run("ffmpeg -nostdin -v error -f h264", roPath, oCrop + "-pix_fmt gray -f rawvideo -", oErrors);
    return oErrors.empty() ? oPixels : std::string();
}

std::string DecodeAac(const std::string& roPath, unsigned uiChannels, std::string& roErrors)
{
    return local_Run("ffmpeg -nostdin -v error -f aac", roPath, "-f s16le -ac " + std::to_string(uiChannels) + " -", roErrors);
}
