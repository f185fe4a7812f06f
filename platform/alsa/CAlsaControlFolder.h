// CAlsaControlFolder: the folder through which tests and the host program's simulation steer the
// simulated ALSA devices and read what they did. It is named by the environment variable
// PELLIX_ALSA_DIR; without it every device runs fault-free, records nothing and keeps its volumes
// in memory. The files, for a device named <device> in the configuration ("capture", "analog",
// "hdmi") or a mixer control <control> ("analog_volume", "hdmi_volume"):
//
//   <device>.stall      the running capture stalls at its next period: it delivers nothing more
//                       and its poll never wakes until it is closed; the file is removed
//   <device>.xrun       the capture reports an overrun after its next transfer; the file is removed
//   <device>.open-fail  holds a count N: the next N opens of the device fail (ENODEV); the file is
//                       rewritten with N - 1 and removed at 0
//   <device>.rate       holds one rate in Hz: the device offers only that rate
//   <device>.mute       while it exists the capture delivers silence
//   <device>.tone       written by the capture when its signal comes back after a mute: the
//                       CLOCK_MONOTONIC time in nanoseconds of the first sample of the signal
//   <device>.raw        when it exists at open, a playback appends every frame it receives
//                       (interleaved signed 16-bit little-endian)
//   <control>           the values of a volume control, one per channel, separated by blanks
//
// Not thread-safe; each device uses its own instance on the thread that uses the device.
#ifndef CALSA_CONTROL_FOLDER_H
#define CALSA_CONTROL_FOLDER_H

#include <string>
#include <vector>

class CAlsaControlFolder
{
public:
    static const char* const s_szEnvironmentVariable;

    // Reads the folder's name from the environment.
    CAlsaControlFolder();

    bool IsSet() const { return !m_oFolder.empty(); }
    // The path of a file of the folder; empty when no folder is set.
    std::string PathOf(const std::string& roFile) const;
    bool Exists(const std::string& roFile) const;
    // Removes the file; true when it existed.
    bool Consume(const std::string& roFile) const;
    // Takes one from the count held in the file: true when the count was above 0.
    bool TakeFromCount(const std::string& roFile) const;
    // The numbers held in the file (blank-separated); empty when it is missing or holds none.
    std::vector<long> ReadNumbers(const std::string& roFile) const;
    // Replaces the file's content (written to a new file first, then renamed over it).
    bool WriteText(const std::string& roFile, const std::string& roText) const;

private:
    std::string m_oFolder;
};

#endif // CALSA_CONTROL_FOLDER_H
