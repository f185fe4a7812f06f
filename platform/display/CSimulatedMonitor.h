// The monitor on the simulated display output: the EDID the display driver reports for it.
// PELLIX_SIM_MONITOR names it: a built-in monitor ("1080p60", the default; "1080i60"; "720p60"),
// "none" for no monitor, or the path of an EDID dump (the driver's hex dump, the hex block of
// edid-decode's output, or raw bytes).
#ifndef CSIMULATED_MONITOR_H
#define CSIMULATED_MONITOR_H

#include <cstdint>
#include <string>
#include <vector>

class CSimulatedMonitor
{
public:
    // The EDID bytes of the monitor a PELLIX_SIM_MONITOR value names; empty for "none". False
    // when the value names no built-in monitor and no readable dump.
    static bool EdidFor(const char* szMonitor, std::vector<uint8_t>& raEdid);

    // The EDID of a built-in monitor; false for an unknown name.
    static bool BuiltInEdid(const std::string& roName, std::vector<uint8_t>& raEdid);

    // The bytes of a dump file; false when it cannot be read or holds no bytes.
    static bool ReadDump(const std::string& roPath, std::vector<uint8_t>& raEdid);

    // The bytes as the display driver shows them: lines "%04X: " and 16 bytes "%02x " each.
    static std::string FormatDriverDump(const std::vector<uint8_t>& raEdid);
};

#endif // CSIMULATED_MONITOR_H
