// The display driver's files the stand-in creates below the platform root, and the EDID of the
// monitor PELLIX_SIM_MONITOR names, read back with the library's EDID reader.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "DisplayTestSupport.h"
#include "OutputCapture.h"
#include "edid/Edid.h"

namespace
{
const std::string kEdidDir = PELLIX_SOURCE_DIR "/../shared/testdata/edid/";

// The hex bytes at the head of an edid-decode output.
std::vector<uint8_t> HexBlock(const std::string& roPath)
{
    std::ifstream oFile(roPath);
    std::string oLine;
    std::vector<uint8_t> aBytes;
    std::getline(oFile, oLine);  // "edid-decode (hex):"
    while (std::getline(oFile, oLine) && oLine.rfind("----", 0) != 0)
    {
        std::istringstream oTokens(oLine);
        std::string oToken;
        while (oTokens >> oToken)
            aBytes.push_back(static_cast<uint8_t>(std::stoul(oToken, nullptr, 16)));
    }
    return aBytes;
}

std::vector<uint8_t> EdidBytes(const CEdid& roEdid)
{
    std::vector<uint8_t> aBytes(roEdid.GetSize());
    roEdid.GetEdidBuffer(aBytes.data(), static_cast<MUINT32>(aBytes.size()));
    return aBytes;
}

class DisplayFiles : public CDisplayTest
{
protected:
    explicit DisplayFiles(const char* szMonitor = "1080p60") : CDisplayTest(szMonitor) {}
};

class DisplayFilesNoMonitor : public DisplayFiles
{
protected:
    DisplayFilesNoMonitor() : DisplayFiles("none") {}
};

class DisplayFilesInterlaced : public DisplayFiles
{
protected:
    DisplayFilesInterlaced() : DisplayFiles("1080i60") {}
};

class DisplayFilesFromDump : public DisplayFiles
{
protected:
    DisplayFilesFromDump() : DisplayFiles((kEdidDir + "ACR-ACR1616-4108C2D271EB.txt").c_str()) {}
};

class DisplayFilesBadMonitor : public DisplayFiles
{
protected:
    DisplayFilesBadMonitor() : DisplayFiles("/nonexistent/monitor.txt") {}
};

TEST_F(DisplayFiles, DisplayComponentCreatesTheDriverFilesWithTheBuiltInMonitor)
{
    EXPECT_EQ("", DriverFile("enabled"));
    COmxTestClient oDisplay(DISPLAY_NAME);
    ASSERT_EQ(OMX_ErrorNone, oDisplay.GetHandleResult());
    EXPECT_EQ("1\n", DriverFile("enabled"));
    EXPECT_EQ("148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("timings"));
    EXPECT_EQ(0u, DriverFile("edid").find("0000: 00 ff ff ff ff ff ff 00 "));

    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    EXPECT_EQ(128u, poEdid->GetSize());
    EXPECT_TRUE(poEdid->IsChecksumValid());
    char szName[256] = {};
    ASSERT_TRUE(poEdid->GetDetailedMonitorName(szName, sizeof(szName)));
    EXPECT_STREQ("PELLIX HD60", szName);
    CDetailedTiming oPreferred;
    ASSERT_TRUE(poEdid->GetPreferredMode(oPreferred));
    EXPECT_EQ(1920, oPreferred.GetHorizontalActive());
    EXPECT_EQ(1080, oPreferred.GetVerticalActive());
    EXPECT_EQ(60, oPreferred.GetVerticalRate());
    EXPECT_EQ(148500, oPreferred.GetPixelClock());
    EXPECT_EQ(88, oPreferred.GetHorizontalFrontPorch());
    EXPECT_EQ(148, oPreferred.GetHorizontalBackPorch());
    EXPECT_EQ(44, oPreferred.GetHorizontalSync());
    EXPECT_EQ(4, oPreferred.GetVerticalFrontPorch());
    EXPECT_EQ(36, oPreferred.GetVerticalBackPorch());
    EXPECT_EQ(5, oPreferred.GetVerticalSync());
    EXPECT_FALSE(oPreferred.IsInterlaced());
}

TEST_F(DisplayFiles, FilesAlreadyThereAreKept)
{
    m_oRoot.Write("sys/devices/platform/vpss/display0/timings", "74250,1280/110/220/40,720/5/20/5,1");
    m_oRoot.Write("sys/devices/platform/vpss/display0/enabled", "0");
    COmxTestClient oController(DISPLAY_CONTROL_NAME);
    ASSERT_EQ(OMX_ErrorNone, oController.GetHandleResult());
    EXPECT_EQ("74250,1280/110/220/40,720/5/20/5,1", DriverFile("timings"));
    EXPECT_EQ("0", DriverFile("enabled"));
    EXPECT_FALSE(DriverFile("edid").empty());
}

TEST_F(DisplayFilesNoMonitor, NoMonitorLeavesTheEdidFileEmpty)
{
    COmxTestClient oController(DISPLAY_CONTROL_NAME);
    ASSERT_EQ(OMX_ErrorNone, oController.GetHandleResult());
    EXPECT_EQ("", DriverFile("edid"));
    EXPECT_EQ("1\n", DriverFile("enabled"));
    EXPECT_EQ(nullptr, CEdid::Read(0));
}

TEST_F(DisplayFilesInterlaced, BuiltInInterlacedMonitorPrefers1080i)
{
    COmxTestClient oDisplay(DISPLAY_NAME);
    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    EXPECT_TRUE(poEdid->IsChecksumValid());
    CDetailedTiming oPreferred;
    ASSERT_TRUE(poEdid->GetPreferredMode(oPreferred));
    EXPECT_TRUE(oPreferred.IsInterlaced());
    EXPECT_EQ(1920, oPreferred.GetHorizontalActive());
    EXPECT_EQ(540, oPreferred.GetVerticalActive());
    EXPECT_EQ(60, oPreferred.GetVerticalRate());
    EXPECT_EQ(74250, oPreferred.GetPixelClock());
}

TEST_F(DisplayFilesFromDump, DumpOfTheTestDataIsReportedByteForByte)
{
    COmxTestClient oDisplay(DISPLAY_NAME);
    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    const std::vector<uint8_t> aExpected = HexBlock(kEdidDir + "ACR-ACR1616-4108C2D271EB.txt");
    ASSERT_EQ(256u, aExpected.size());
    // The reader keeps the base block; the driver's file holds both blocks.
    EXPECT_EQ(std::vector<uint8_t>(aExpected.begin(), aExpected.begin() + 128), EdidBytes(*poEdid));
    const std::string oDump = DriverFile("edid");
    EXPECT_NE(std::string::npos, oDump.find("00F0: "));
    EXPECT_EQ(16, std::count(oDump.begin(), oDump.end(), '\n'));
}

TEST_F(DisplayFiles, DriverDumpsAndRawBytesServeAsMonitorsToo)
{
    // The file the stand-in wrote, given back as a monitor, and the same bytes raw.
    std::string oDump;
    {
        COmxTestClient oController(DISPLAY_CONTROL_NAME);
        oDump = DriverFile("edid");
    }
    std::unique_ptr<CEdid> poOriginal(CEdid::Read(0));
    ASSERT_NE(nullptr, poOriginal);
    const std::vector<uint8_t> aBytes = EdidBytes(*poOriginal);
    const std::filesystem::path oDumpPath = m_oRoot.Write("monitors/dump.txt", oDump);
    const std::filesystem::path oRawPath =
        m_oRoot.Write("monitors/raw.bin", std::string(aBytes.begin(), aBytes.end()));
    for (const std::filesystem::path& roPath : {oDumpPath, oRawPath})
    {
        SCOPED_TRACE(roPath.string());
        std::filesystem::remove(m_oRoot.Path() / "sys/devices/platform/vpss/display0/edid");
        CScopedEnv oMonitor("PELLIX_SIM_MONITOR", roPath.string());
        COmxTestClient oController(DISPLAY_CONTROL_NAME);
        EXPECT_EQ(oDump, DriverFile("edid"));
    }
}

TEST_F(DisplayFilesBadMonitor, UnreadableMonitorIsReportedAndTheBuiltInOneServes)
{
    COutputCapture oErr(STDERR_FILENO);
    {
        COmxTestClient oController(DISPLAY_CONTROL_NAME);
    }
    EXPECT_NE(std::string::npos, oErr.Finish().find("PELLIX_SIM_MONITOR=/nonexistent/monitor.txt"));
    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    char szName[256] = {};
    poEdid->GetDetailedMonitorName(szName, sizeof(szName));
    EXPECT_STREQ("PELLIX HD60", szName);
}
} // namespace
