#include "GenUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

// ---- Pixels -------------------------------------------------------------------------------

namespace
{
// Full-range BT.601 coefficients scaled by 1024, each triple ordered (R, G, B).
const MINT32 local_aiRgbToY[3] = {306, 601, 117};
const MINT32 local_aiRgbToCb[3] = {-173, -339, 512};
const MINT32 local_aiRgbToCr[3] = {512, -429, -83};

// One weighted sum of a pixel's components divided by 1024, truncated toward zero.
MINT32 local_Weigh(const PixFmt_A8R8G8B8& roPixel, const MINT32 (&raiCoefficients)[3])
{
    const MINT32 iSum = raiCoefficients[0] * roPixel.m_oPixel.m_uiR + raiCoefficients[1] * roPixel.m_oPixel.m_uiG +
                        raiCoefficients[2] * roPixel.m_oPixel.m_uiB;
    return iSum / 1024;
}
} // namespace

void ConvertRgbToYuv(const PixFmt_A8R8G8B8* poRgbSrc, PixFmt_YUV422& roYuvDst)
{
    roYuvDst.m_oTwoPixels.m_uiY0 = static_cast<unsigned char>(local_Weigh(poRgbSrc[0], local_aiRgbToY));
    roYuvDst.m_oTwoPixels.m_uiCb = static_cast<unsigned char>(local_Weigh(poRgbSrc[0], local_aiRgbToCb) + 128);
    roYuvDst.m_oTwoPixels.m_uiY1 = static_cast<unsigned char>(local_Weigh(poRgbSrc[1], local_aiRgbToY));
    roYuvDst.m_oTwoPixels.m_uiCr = static_cast<unsigned char>(local_Weigh(poRgbSrc[1], local_aiRgbToCr) + 128);
}

unsigned ConvertFloatToFixedPoint(float fSrc, unsigned uiNbIntBits, unsigned uiNbFracBits)
{
    // Worked in 64 bits so that a field of up to 32 bits, or a value far out of range, neither
    // shifts past the width of the type nor converts an unrepresentable float.
    const unsigned uiFieldBits = uiNbIntBits + uiNbFracBits;
    const MUINT64 uiMask = uiFieldBits >= 32 ? 0xFFFFFFFFull : (MUINT64(1) << uiFieldBits) - 1;
    const unsigned uiScaleBits = uiNbFracBits + 1 < 63 ? uiNbFracBits + 1 : 63;
    const float fScaled = fSrc * static_cast<float>(MUINT64(1) << uiScaleBits);

    MUINT64 uiTmp = 0;
    if (std::isnan(fScaled))
        uiTmp = 0;
    else if (std::fabs(fScaled) >= 9.2e18f)
        uiTmp = uiMask;  // saturates below
    else
        uiTmp = static_cast<MUINT64>(std::llabs(static_cast<long long>(fScaled)));

    const MUINT64 uiRounded = uiTmp + 1 < uiMask ? uiTmp + 1 : uiMask;
    const MUINT64 uiFixedPoint = uiRounded >> 1;
    if (fSrc < 0)
        return static_cast<unsigned>((0 - uiFixedPoint) & uiMask);
    return static_cast<unsigned>(uiFixedPoint);
}

// ---- Time ---------------------------------------------------------------------------------

MUINT64 GetRealTimeUsec()
{
    struct timespec oNow;
    clock_gettime(CLOCK_REALTIME, &oNow);
    return MUINT64(oNow.tv_sec) * 1000000u + MUINT64(oNow.tv_nsec) / 1000u;
}

CChrono::CChrono(const char* szString) : m_szString(szString), m_uiStartTime(GetRealTimeUsec())
{
}

CChrono::~CChrono()
{
    printf("%s: %d usec.\n", m_szString, static_cast<MINT32>(GetRealTimeUsec() - m_uiStartTime));
}

void LCpuThread_Sleep(MUINT32 uiTimeoutMilliSec)
{
    struct timespec oDelay;
    oDelay.tv_sec = uiTimeoutMilliSec / 1000;
    oDelay.tv_nsec = static_cast<long>(uiTimeoutMilliSec % 1000) * 1000000L;
    nanosleep(&oDelay, nullptr);
}

// ---- Console ------------------------------------------------------------------------------

MBOOL32 LHIsKeyPressed(int* piKeepKeyPressed)
{
    // Standard input in non-canonical mode without echo and non-blocking for one getchar; both are
    // restored before returning. A standard input that is no terminal is only made non-blocking.
    struct termios oSavedAttributes;
    const bool bTerminal = tcgetattr(STDIN_FILENO, &oSavedAttributes) == 0;
    if (bTerminal)
    {
        struct termios oRawAttributes = oSavedAttributes;
        oRawAttributes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &oRawAttributes);
    }
    const int iSavedFlags = fcntl(STDIN_FILENO, F_GETFL, 0);
    if (iSavedFlags != -1)
        fcntl(STDIN_FILENO, F_SETFL, iSavedFlags | O_NONBLOCK);

    const int iKey = getchar();

    if (bTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &oSavedAttributes);
    if (iSavedFlags != -1)
        fcntl(STDIN_FILENO, F_SETFL, iSavedFlags);

    if (iKey == EOF)
    {
        // "Nothing to read yet" must not stay recorded as an error of the stream.
        clearerr(stdin);
        return false;
    }
    if (piKeepKeyPressed != nullptr)
        *piKeepKeyPressed = iKey;
    else
        ungetc(iKey, stdin);
    return true;
}

int LHWaitKeyPressed()
{
    int iKey = 0;
    while (!LHIsKeyPressed(&iKey))
        LCpuThread_Sleep(100);
    return iKey;
}

// ---- Files and the platform's devices ------------------------------------------------------

MBOOL32 IsFileValid(const char* szFilePath)
{
    if (szFilePath == nullptr || szFilePath[0] == 0)
    {
        puts("Error, file path is null");
        return false;
    }
    const int iFile = open(szFilePath, O_RDONLY);
    if (iFile < 0)
    {
        printf("Error, Cannot open input file %s\n", szFilePath);
        return false;
    }
    struct stat oStat;
    const bool bStat = fstat(iFile, &oStat) == 0;
    close(iFile);
    if (!bStat)
    {
        puts("Error, cannot get file stats");
        return false;
    }
    return true;
}

namespace
{
// The display driver's switch of one output, below the platform root.
std::string local_DisplayEnabledPath(MUINT uiDisplayIndex)
{
    char szPath[55];
    snprintf(szPath, sizeof(szPath), "/sys/devices/platform/vpss/display%u/enabled", uiDisplayIndex);
    return PlatformPath(szPath);
}

// Interface names go to a shell: only letters, digits, '.', '_' and '-' are let through.
bool local_IsSafeInterfaceName(const std::string& roName)
{
    if (roName.empty())
        return false;
    for (const char cChar : roName)
    {
        const bool bSafe = (cChar >= 'a' && cChar <= 'z') || (cChar >= 'A' && cChar <= 'Z') ||
                           (cChar >= '0' && cChar <= '9') || cChar == '.' || cChar == '_' || cChar == '-';
        if (!bSafe)
            return false;
    }
    return true;
}
} // namespace

bool IsDisplayEnabled(MUINT uiDisplayIndex)
{
    FILE* poFile = fopen(local_DisplayEnabledPath(uiDisplayIndex).c_str(), "r");
    if (poFile == nullptr)
        return false;
    const int iFirst = fgetc(poFile);
    fclose(poFile);
    return iFirst == '1';
}

bool EnableDisplay(MUINT uiDisplayIndex, bool bEnable)
{
    FILE* poFile = fopen(local_DisplayEnabledPath(uiDisplayIndex).c_str(), "w");
    if (poFile == nullptr)
        return false;
    const bool bWritten = fputc(bEnable ? '1' : '0', poFile) != EOF;
    // The driver sees the character when the stream is flushed, and refuses it there.
    const bool bClosed = fclose(poFile) == 0;
    return bWritten && bClosed;
}

bool EnableMulticastRouting()
{
    FILE* poFile = fopen(PlatformPath("/proc/net/dev").c_str(), "r");
    if (poFile == nullptr)
        return false;
    std::string oDevices;
    char szLine[256];
    while (fgets(szLine, sizeof(szLine), poFile) != nullptr)
        oDevices += szLine;
    fclose(poFile);

    bool bStarted = false;
    std::string::size_type uiPos = 0;
    for (;;)
    {
        const std::string::size_type uiName = oDevices.find("eth", uiPos);
        if (uiName == std::string::npos)
            break;
        const std::string::size_type uiColon = oDevices.find(':', uiName);
        if (uiColon == std::string::npos)
            break;
        const std::string oName = oDevices.substr(uiName, uiColon - uiName);
        uiPos = uiColon;
        if (!local_IsSafeInterfaceName(oName))
            continue;
        const std::string oCommand = "ip route add 224.0.0.0/4 dev " + oName;
        FILE* poCommand = popen(oCommand.c_str(), "r");
        if (poCommand == nullptr)
            continue;
        pclose(poCommand);
        bStarted = true;
    }
    return bStarted;
}
