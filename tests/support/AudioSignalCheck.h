// Checks of audio against the simulated input's test signal (PellixAlsaSignal.h): the frequency
// and level of each channel of decoded audio, and whether recorded PCM is the signal sample for
// sample. Shared by the tests of the ALSA side, the AAC encoder and the audio stream.
#ifndef AUDIO_SIGNAL_CHECK_H
#define AUDIO_SIGNAL_CHECK_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "PellixAlsaSignal.h"

// Interleaved signed 16-bit little-endian PCM as samples.
inline std::vector<int16_t> PcmSamples(const std::string& roBytes)
{
    std::vector<int16_t> aiSamples(roBytes.size() / 2);
    if (!aiSamples.empty())
        memcpy(aiSamples.data(), roBytes.data(), aiSamples.size() * 2);
    return aiSamples;
}

struct SToneMeasure
{
    double dFrequency = 0;  // Hz, from the rising zero crossings
    double dAmplitude = 0;  // peak of the sine whose power the channel has (RMS x sqrt 2)
};

// Measures one channel of interleaved samples, from frame uiFirstFrame on.
inline SToneMeasure MeasureTone(const std::vector<int16_t>& aiSamples, unsigned uiChannels, unsigned uiChannel,
                                unsigned uiRate, size_t uiFirstFrame)
{
    SToneMeasure oMeasure;
    const size_t uiFrames = aiSamples.size() / uiChannels;
    if (uiFrames <= uiFirstFrame + 2)
        return oMeasure;
    double dPower = 0;
    long iFirstCrossing = -1;
    long iLastCrossing = -1;
    long iCrossings = 0;
    bool bBelow = false;
    // A crossing counts once the signal has been clearly below zero before it rises through it.
    const int iHysteresis = 256;
    for (size_t i = uiFirstFrame; i < uiFrames; ++i)
    {
        const int iSample = aiSamples[i * uiChannels + uiChannel];
        dPower += static_cast<double>(iSample) * iSample;
        if (iSample < -iHysteresis)
            bBelow = true;
        else if (bBelow && iSample >= 0)
        {
            bBelow = false;
            if (iFirstCrossing < 0)
                iFirstCrossing = static_cast<long>(i);
            else
                ++iCrossings;
            iLastCrossing = static_cast<long>(i);
        }
    }
    oMeasure.dAmplitude = std::sqrt(2.0 * dPower / static_cast<double>(uiFrames - uiFirstFrame));
    if (iCrossings > 0)
        oMeasure.dFrequency = iCrossings * static_cast<double>(uiRate) / static_cast<double>(iLastCrossing - iFirstCrossing);
    return oMeasure;
}

// A part of recorded PCM: silence, or the test signal from index uiSignalIndex on, or neither.
struct SPcmSegment
{
    enum EKind
    {
        Segment_Silence,
        Segment_Signal,
        Segment_Other,
    };
    EKind eKind = Segment_Other;
    size_t uiFirstFrame = 0;
    size_t uiFrames = 0;
    uint64_t uiSignalIndex = 0;
};

inline bool PcmFrameIsSignal(const std::vector<int16_t>& aiSamples, unsigned uiChannels, size_t uiFrame,
                             uint64_t uiIndex, unsigned uiRate)
{
    for (unsigned c = 0; c < uiChannels; ++c)
        if (aiSamples[uiFrame * uiChannels + c] != PellixSignalSample(c, uiIndex, uiRate))
            return false;
    return true;
}

// Splits recorded PCM into runs of silence and runs that are the test signal sample for sample,
// each signal run continuing one index of the signal.
inline std::vector<SPcmSegment> SplitPcm(const std::vector<int16_t>& aiSamples, unsigned uiChannels, unsigned uiRate)
{
    std::vector<SPcmSegment> aoSegments;
    const size_t uiFrames = aiSamples.size() / uiChannels;
    const size_t uiProbe = 16;
    // The signal's indices by the frame they hold.
    std::unordered_multimap<uint32_t, uint64_t> oIndexOfFrame;
    const auto fnKey = [uiChannels](const int16_t* piFrame) {
        return static_cast<uint32_t>(static_cast<uint16_t>(piFrame[0])) |
               (uiChannels > 1 ? static_cast<uint32_t>(static_cast<uint16_t>(piFrame[1])) << 16 : 0);
    };
    for (uint64_t uiIndex = 0; uiIndex < uiRate; ++uiIndex)
    {
        int16_t aiFrame[2] = {PellixSignalSample(0, uiIndex, uiRate), PellixSignalSample(1, uiIndex, uiRate)};
        oIndexOfFrame.emplace(fnKey(aiFrame), uiIndex);
    }
    size_t i = 0;
    while (i < uiFrames)
    {
        SPcmSegment oSegment;
        oSegment.uiFirstFrame = i;
        bool bSilent = true;
        for (unsigned c = 0; c < uiChannels; ++c)
            bSilent = bSilent && aiSamples[i * uiChannels + c] == 0;
        // Where the signal goes on, it wins over silence: it crosses zero in both channels at once.
        bool bFound = false;
        if (i + uiProbe <= uiFrames)
        {
            const auto oRange = oIndexOfFrame.equal_range(fnKey(&aiSamples[i * uiChannels]));
            for (auto it = oRange.first; it != oRange.second && !bFound; ++it)
            {
                bFound = true;
                for (size_t k = 0; k < uiProbe && bFound; ++k)
                    bFound = PcmFrameIsSignal(aiSamples, uiChannels, i + k, it->second + k, uiRate);
                if (bFound)
                    oSegment.uiSignalIndex = it->second;
            }
        }
        if (bFound)
        {
            oSegment.eKind = SPcmSegment::Segment_Signal;
            while (i < uiFrames &&
                   PcmFrameIsSignal(aiSamples, uiChannels, i, oSegment.uiSignalIndex + (i - oSegment.uiFirstFrame), uiRate))
                ++i;
        }
        else if (bSilent)
        {
            oSegment.eKind = SPcmSegment::Segment_Silence;
            while (i < uiFrames)
            {
                bool bZero = true;
                for (unsigned c = 0; c < uiChannels; ++c)
                    bZero = bZero && aiSamples[i * uiChannels + c] == 0;
                if (!bZero)
                    break;
                ++i;
            }
        }
        else
        {
            oSegment.eKind = SPcmSegment::Segment_Other;
            ++i;
        }
        oSegment.uiFrames = i - oSegment.uiFirstFrame;
        if (!aoSegments.empty() && aoSegments.back().eKind == SPcmSegment::Segment_Other &&
            oSegment.eKind == SPcmSegment::Segment_Other)
            aoSegments.back().uiFrames += oSegment.uiFrames;
        else
            aoSegments.push_back(oSegment);
    }
    return aoSegments;
}

#endif // AUDIO_SIGNAL_CHECK_H
