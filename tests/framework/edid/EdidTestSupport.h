// Helpers of the display-timing tests: a private platform root holding the driver's EDID files,
// and builders of EDID blocks and descriptors.
#ifndef EDID_TEST_SUPPORT_H
#define EDID_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "edid/Edid.h"

// A temporary folder named by PELLIX_PLATFORM_ROOT for the lifetime of the object, so that the
// library reads "/sys/devices/platform/vpss/display%d/edid" below it.
class CPlatformRoot
{
public:
    CPlatformRoot()
    {
        char szTemplate[] = "/tmp/pellix-edid-XXXXXX";
        m_oRoot = mkdtemp(szTemplate);
        setenv("PELLIX_PLATFORM_ROOT", m_oRoot.c_str(), 1);
    }
    ~CPlatformRoot()
    {
        unsetenv("PELLIX_PLATFORM_ROOT");
        std::error_code oError;
        std::filesystem::remove_all(m_oRoot, oError);
    }
    CPlatformRoot(const CPlatformRoot&) = delete;
    CPlatformRoot& operator=(const CPlatformRoot&) = delete;

    std::string EdidPath(unsigned uiDisplay) const
    {
        return m_oRoot + "/sys/devices/platform/vpss/display" + std::to_string(uiDisplay) + "/edid";
    }

    void WriteEdid(const std::string& roText, unsigned uiDisplay = 0) const
    {
        const std::filesystem::path oPath = EdidPath(uiDisplay);
        std::filesystem::create_directories(oPath.parent_path());
        std::ofstream(oPath, std::ios::binary | std::ios::trunc) << roText;
    }

    void RemoveEdid(unsigned uiDisplay = 0) const
    {
        std::error_code oError;
        std::filesystem::remove(EdidPath(uiDisplay), oError);
    }

private:
    std::string m_oRoot;
};

// An 18-byte detailed timing descriptor from its fields (clock in 10 kHz units).
struct SDescriptorFields
{
    unsigned uiClock10kHz, uiHActive, uiHBlank, uiVActive, uiVBlank;
    unsigned uiHSyncOffset, uiHSyncWidth, uiVSyncOffset, uiVSyncWidth;
    unsigned uiHBorder, uiVBorder, uiFlags;
};

inline std::vector<uint8_t> MakeDescriptor(const SDescriptorFields& roF)
{
    return {static_cast<uint8_t>(roF.uiClock10kHz & 0xFF),
            static_cast<uint8_t>(roF.uiClock10kHz >> 8),
            static_cast<uint8_t>(roF.uiHActive & 0xFF),
            static_cast<uint8_t>(roF.uiHBlank & 0xFF),
            static_cast<uint8_t>(((roF.uiHActive >> 8) << 4) | (roF.uiHBlank >> 8)),
            static_cast<uint8_t>(roF.uiVActive & 0xFF),
            static_cast<uint8_t>(roF.uiVBlank & 0xFF),
            static_cast<uint8_t>(((roF.uiVActive >> 8) << 4) | (roF.uiVBlank >> 8)),
            static_cast<uint8_t>(roF.uiHSyncOffset & 0xFF),
            static_cast<uint8_t>(roF.uiHSyncWidth & 0xFF),
            static_cast<uint8_t>(((roF.uiVSyncOffset & 15) << 4) | (roF.uiVSyncWidth & 15)),
            static_cast<uint8_t>(((roF.uiHSyncOffset >> 8) << 6) | ((roF.uiHSyncWidth >> 8) << 4) |
                                 ((roF.uiVSyncOffset >> 4) << 2) | (roF.uiVSyncWidth >> 4)),
            0x10, 0x09, 0x00,
            static_cast<uint8_t>(roF.uiHBorder),
            static_cast<uint8_t>(roF.uiVBorder),
            static_cast<uint8_t>(roF.uiFlags)};
}

// A monitor descriptor of a type with up to 13 bytes of payload (a text padded as monitors do:
// LF, then spaces).
inline std::vector<uint8_t> MakeMonitorDescriptor(uint8_t uiType, const std::vector<uint8_t>& raPayload)
{
    std::vector<uint8_t> aDescriptor(18, 0x20);
    std::fill(aDescriptor.begin(), aDescriptor.begin() + 5, 0);
    aDescriptor[3] = uiType;
    for (size_t i = 0; i < raPayload.size() && i < 13; i++)
        aDescriptor[5 + i] = raPayload[i];
    return aDescriptor;
}

inline std::vector<uint8_t> MakeTextDescriptor(uint8_t uiType, const std::string& roText)
{
    std::vector<uint8_t> aPayload(roText.begin(), roText.end());
    if (aPayload.size() < 13)
        aPayload.push_back('\n');
    return MakeMonitorDescriptor(uiType, aPayload);
}

// A valid EDID 1.x base block: header, vendor "DEL", the version given, no timings announced,
// four empty (dummy, type 0x10) descriptors, checksum set.
class CEdid1Builder
{
public:
    explicit CEdid1Builder(uint8_t uiRevision = 3) : m_aBlock(128, 0)
    {
        const uint8_t auiHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
        std::copy(auiHeader, auiHeader + 8, m_aBlock.begin());
        m_aBlock[8] = 0x10;
        m_aBlock[9] = 0xAC;
        m_aBlock[18] = 1;
        m_aBlock[19] = uiRevision;
        for (int i = 38; i < 54; i++)
            m_aBlock[i] = 0x01;
        for (unsigned uiSlot = 0; uiSlot < 4; uiSlot++)
            SetDescriptor(uiSlot, MakeMonitorDescriptor(0x10, {}));
    }

    CEdid1Builder& Set(size_t uiOffset, uint8_t uiValue)
    {
        m_aBlock[uiOffset] = uiValue;
        return *this;
    }
    CEdid1Builder& SetDescriptor(unsigned uiSlot, const std::vector<uint8_t>& raDescriptor)
    {
        std::copy(raDescriptor.begin(), raDescriptor.end(), m_aBlock.begin() + 54 + 18 * uiSlot);
        return *this;
    }
    CEdid1Builder& SetStandard(unsigned uiIndex, uint8_t uiByte0, uint8_t uiByte1)
    {
        m_aBlock[38 + 2 * uiIndex] = uiByte0;
        m_aBlock[39 + 2 * uiIndex] = uiByte1;
        return *this;
    }
    CEdid1Builder& SetEstablished(uint32_t uiBits)
    {
        m_aBlock[35] = static_cast<uint8_t>(uiBits);
        m_aBlock[36] = static_cast<uint8_t>(uiBits >> 8);
        m_aBlock[37] = static_cast<uint8_t>(uiBits >> 16);
        return *this;
    }
    CEdid1Builder& SetPreferred(bool bPreferred)
    {
        m_aBlock[24] = static_cast<uint8_t>(bPreferred ? (m_aBlock[24] | 2) : (m_aBlock[24] & ~2));
        return *this;
    }

    // The block with its checksum byte set.
    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> aBlock = m_aBlock;
        uint8_t uiSum = 0;
        for (size_t i = 0; i < 127; i++)
            uiSum = static_cast<uint8_t>(uiSum + aBlock[i]);
        aBlock[127] = static_cast<uint8_t>(0x100 - uiSum);
        return aBlock;
    }

    CEdid Build() const
    {
        const std::vector<uint8_t> aBlock = Bytes();
        return CEdid(aBlock.data(), static_cast<int32_t>(aBlock.size()));
    }

private:
    std::vector<uint8_t> m_aBlock;
};

#endif // EDID_TEST_SUPPORT_H
