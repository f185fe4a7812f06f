// The display driver's files of the simulated platform: "enabled", "timings" and "edid" of
// display 0 below PELLIX_PLATFORM_ROOT. Nothing is created without that variable: the real
// /sys is never written.
#ifndef CDISPLAY_DRIVER_FILES_H
#define CDISPLAY_DRIVER_FILES_H

#include <string>

class CDisplayDriverFiles
{
public:
    // The output enabled, in the CEA-861 timing of 1920 x 1080 progressive at 60 Hz.
    static const char* const s_szDefaultTimings;

    // Creates the folder and every file that is missing: "enabled" holds "1", "timings" the
    // default timing, "edid" the hex dump of the monitor PELLIX_SIM_MONITOR names (empty for
    // none). Files already there are kept. Safe to call from any thread, any number of times.
    static void EnsureCreated();

    // The folder of display 0's files, or an empty text when PELLIX_PLATFORM_ROOT is not set.
    static std::string Folder();
};

#endif // CDISPLAY_DRIVER_FILES_H
