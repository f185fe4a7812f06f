#include "CAudioRing.h"

#include <algorithm>
#include <cstring>

namespace
{
const uint64_t local_uiNsPerSecond = 1000000000;
}

CAudioRing::CAudioRing() : m_aiFrames(s_uiCapacity * s_uiChannels, 0), m_uiBegin(0), m_uiEnd(0)
{
}

uint64_t CAudioRing::FrameAt(uint64_t uiMonotonicNs)
{
    return uiMonotonicNs / local_uiNsPerSecond * s_uiRate + uiMonotonicNs % local_uiNsPerSecond * s_uiRate / local_uiNsPerSecond;
}

void CAudioRing::Write(uint64_t uiFirstFrame, const int16_t* piFrames, unsigned uiFrames)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const bool bFollows = m_uiEnd > m_uiBegin && uiFirstFrame + s_uiContinuityFrames >= m_uiEnd &&
                          uiFirstFrame <= m_uiEnd + s_uiContinuityFrames;
    if (bFollows)
        uiFirstFrame = m_uiEnd;
    else
        m_uiBegin = uiFirstFrame;
    // Only the last second of a longer block can be kept.
    if (uiFrames > s_uiCapacity)
    {
        piFrames += static_cast<size_t>(uiFrames - s_uiCapacity) * s_uiChannels;
        uiFirstFrame += uiFrames - s_uiCapacity;
        uiFrames = s_uiCapacity;
    }
    unsigned uiDone = 0;
    while (uiDone < uiFrames)
    {
        const uint64_t uiFrame = uiFirstFrame + uiDone;
        const unsigned uiSlot = static_cast<unsigned>(uiFrame % s_uiCapacity);
        const unsigned uiRun = std::min(uiFrames - uiDone, s_uiCapacity - uiSlot);
        memcpy(&m_aiFrames[static_cast<size_t>(uiSlot) * s_uiChannels], piFrames + static_cast<size_t>(uiDone) * s_uiChannels,
               static_cast<size_t>(uiRun) * s_uiChannels * sizeof(int16_t));
        uiDone += uiRun;
    }
    m_uiEnd = uiFirstFrame + uiFrames;
    m_uiBegin = std::max(m_uiBegin, m_uiEnd > s_uiCapacity ? m_uiEnd - s_uiCapacity : 0);
}

void CAudioRing::Read(uint64_t uiFirstFrame, int16_t* piFrames, unsigned uiFrames) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (unsigned uiDone = 0; uiDone < uiFrames;)
    {
        const uint64_t uiFrame = uiFirstFrame + uiDone;
        int16_t* piOut = piFrames + static_cast<size_t>(uiDone) * s_uiChannels;
        if (uiFrame < m_uiBegin || uiFrame >= m_uiEnd)
        {
            // Silence up to the stored frames, or to the end.
            const uint64_t uiStop = uiFrame < m_uiBegin ? m_uiBegin : UINT64_MAX;
            const unsigned uiRun = static_cast<unsigned>(std::min<uint64_t>(uiFrames - uiDone, uiStop - uiFrame));
            memset(piOut, 0, static_cast<size_t>(uiRun) * s_uiChannels * sizeof(int16_t));
            uiDone += uiRun;
            continue;
        }
        const unsigned uiSlot = static_cast<unsigned>(uiFrame % s_uiCapacity);
        const unsigned uiRun = static_cast<unsigned>(
            std::min<uint64_t>({uiFrames - uiDone, s_uiCapacity - uiSlot, m_uiEnd - uiFrame}));
        memcpy(piOut, &m_aiFrames[static_cast<size_t>(uiSlot) * s_uiChannels],
               static_cast<size_t>(uiRun) * s_uiChannels * sizeof(int16_t));
        uiDone += uiRun;
    }
}

void CAudioRing::Clear()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_uiBegin = 0;
    m_uiEnd = 0;
}
