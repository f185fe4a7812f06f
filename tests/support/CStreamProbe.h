// What real decoders make of an H.264 elementary stream file: ffprobe's view of the stream and of
// every decoded picture, ffmpeg's complaints while decoding it, and the frame counters of the
// test pattern read back from the decoded pictures.
#ifndef CSTREAM_PROBE_H
#define CSTREAM_PROBE_H

#include <cstdint>
#include <string>
#include <vector>

struct SStreamProbe
{
    unsigned uiWidth = 0;
    unsigned uiHeight = 0;
    std::string oProfile;          // as ffprobe names it: "Constrained Baseline", "Main", "High"
    int iLevel = 0;                // 42 is level 4.2
    std::vector<bool> abKeyFrame;  // per decoded picture, in presentation order
    std::string oPictureTypes;     // I, P or B per decoded picture
};

class CStreamProbe
{
public:
    // Runs a shell command; its standard output (and standard error when bWithErrors) in
    // roOutput. The exit status, or -1 when it could not run.
    static int Run(const std::string& roCommand, std::string& roOutput, bool bWithErrors);

    // ffprobe's view; false when ffprobe failed.
    static bool Probe(const std::string& roPath, SStreamProbe& roProbe);
    // Decodes every picture with ffmpeg; true when it exits cleanly and reports nothing at all.
    // What it reported goes to roErrors.
    static bool DecodesCleanly(const std::string& roPath, std::string& roErrors);
    // The pattern's frame counter of every decoded picture, in presentation order.
    static bool DecodeCounters(const std::string& roPath, unsigned uiWidth, std::vector<uint64_t>& rauiCounters);
};

#endif // CSTREAM_PROBE_H
