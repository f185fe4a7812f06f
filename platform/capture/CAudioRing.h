// The audio of a real source on its way to the HDMI audio capture device: interleaved stereo
// 16-bit frames at 48 kHz, numbered on CLOCK_MONOTONIC (frame n is due at n / 48000 s), so that
// the device, which runs on that clock too, reads the frames due at the time it captures.
//
// One writer (the source's streaming thread) and readers on any thread; one second is kept.
// Frames never written, or written too long ago, read as silence. Nothing is allocated after
// construction.
#ifndef CAUDIO_RING_H
#define CAUDIO_RING_H

#include <cstdint>
#include <mutex>
#include <vector>

class CAudioRing
{
public:
    static constexpr unsigned s_uiRate = 48000;
    static constexpr unsigned s_uiChannels = 2;
    static constexpr unsigned s_uiCapacity = s_uiRate;  // frames kept
    // A block that starts within this many frames of where the last one ended follows it without
    // a gap; the difference is jitter of the timestamps, not of the audio.
    static constexpr unsigned s_uiContinuityFrames = s_uiRate / 50;

    CAudioRing();

    // The frame number of a CLOCK_MONOTONIC time in nanoseconds.
    static uint64_t FrameAt(uint64_t uiMonotonicNs);

    // Stores uiFrames frames due from frame uiFirstFrame on.
    void Write(uint64_t uiFirstFrame, const int16_t* piFrames, unsigned uiFrames);
    // Copies the frames from uiFirstFrame on; silence where none was stored.
    void Read(uint64_t uiFirstFrame, int16_t* piFrames, unsigned uiFrames) const;
    // Forgets everything stored.
    void Clear();

private:
    mutable std::mutex m_oMutex;
    std::vector<int16_t> m_aiFrames;  // s_uiCapacity frames; frame n in slot n % s_uiCapacity
    uint64_t m_uiBegin;               // frames [m_uiBegin, m_uiEnd) are stored
    uint64_t m_uiEnd;
};

#endif // CAUDIO_RING_H
