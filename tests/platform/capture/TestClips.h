// Short clips made with ffmpeg for the tests of the real sources, and the frequency of a tone.
#ifndef PELLIX_TEST_CLIPS_H
#define PELLIX_TEST_CLIPS_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// The clips, by name: ffmpeg's inputs and options after "-f lavfi -i".
struct STestClip
{
    const char* szName;
    const char* szFfmpeg;
};

// 1280x720p50 with a 440 Hz tone; 1920x1080i50 and 720x576i50 (top field first); the two halves
// of change.ts, a transport stream of 1280x720 for 3 s then 800x600 for 6 s at 25 frames/s.
const STestClip g_aoTestClips[] = {
    {"p720-tone.mp4", "testsrc2=s=1280x720:r=50:d=3 -f lavfi -i sine=f=440:r=48000:d=3 -c:v libx264 -preset ultrafast "
                      "-pix_fmt yuv420p -c:a aac"},
    {"i1080.mkv", "testsrc2=s=1920x1080:r=50:d=2 -vf tinterlace=interleave_top,setfield=tff -c:v libx264 "
                  "-preset ultrafast -flags +ildct+ilme -x264opts tff=1"},
    {"i576.mkv", "testsrc2=s=720x576:r=50:d=2 -vf tinterlace=interleave_top,setfield=tff -c:v libx264 "
                 "-preset ultrafast -flags +ildct+ilme -x264opts tff=1"},
    {"change-1.ts", "testsrc2=s=1280x720:r=25:d=3 -c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
    {"change-2.ts", "testsrc2=s=800x600:r=25:d=6 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -output_ts_offset 3"},
};

// Makes every clip in roFolder, and change.ts of its halves; false when ffmpeg fails on one.
inline bool MakeTestClips(const std::filesystem::path& roFolder)
{
    for (const STestClip& roClip : g_aoTestClips)
    {
        const std::string oCommand = std::string("ffmpeg -nostdin -v error -y -f lavfi -i ") + roClip.szFfmpeg + " " +
                                     (roFolder / roClip.szName).string();
        if (std::system(oCommand.c_str()) != 0)
            return false;
    }
    const std::string oJoin = "cat " + (roFolder / "change-1.ts").string() + " " + (roFolder / "change-2.ts").string() +
                              " > " + (roFolder / "change.ts").string();
    return std::system(oJoin.c_str()) == 0;
}

// The frequency of a tone in interleaved samples (every uiStep-th sample, at uiRate per second):
// the median of the periods between its rising crossings, each from below a quarter of its peak
// under zero to above a quarter over it, so that a gap or a cut of a busy machine's run (silence,
// the ringing around it) moves no period but its own.
inline double ToneFrequency(const int16_t* piSamples, size_t uiCount, unsigned uiStep, unsigned uiRate)
{
    int iPeak = 0;
    for (size_t i = 0; i < uiCount; i += uiStep)
        iPeak = std::max(iPeak, std::abs(static_cast<int>(piSamples[i])));
    std::vector<size_t> auiPeriods;
    bool bBelow = false;
    for (size_t i = 0, uiLastRise = 0; i < uiCount; i += uiStep)
    {
        if (piSamples[i] < -iPeak / 4)
            bBelow = true;
        else if (bBelow && piSamples[i] > iPeak / 4)
        {
            if (uiLastRise != 0)
                auiPeriods.push_back((i - uiLastRise) / uiStep);
            uiLastRise = i;
            bBelow = false;
        }
    }
    if (auiPeriods.empty())
        return 0.0;
    std::nth_element(auiPeriods.begin(), auiPeriods.begin() + auiPeriods.size() / 2, auiPeriods.end());
    return static_cast<double>(uiRate) / auiPeriods[auiPeriods.size() / 2];
}

#endif // PELLIX_TEST_CLIPS_H
