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
    long iFirstCrossing = -1, iLastCrossing = -1, iCrossings = 0;
    bool bBelow = false;
    // A crossing counts once the signal has been clearly below zero before it rises through it.
    for (size_t i = uiFirstFrame; i < uiFrames; ++i)
    {
        const int iSample = aiSamples[i * uiChannels + uiChannel];
        dPower += static_cast<double>(iSample) * iSample;
        if (iSample < -256)
            bBelow = true;
        else if (bBelow && iSample >= 0)
        {
            bBelow = false;
            iCrossings += iFirstCrossing < 0 ? 0 : 1;
            iFirstCrossing = iFirstCrossing < 0 ? static_cast<long>(i) : iFirstCrossing;
            iLastCrossing = static_cast<long>(i);
        }
    }
    oMeasure.dAmplitude = std::sqrt(2.0 * dPower / static_cast<double>(uiFrames - uiFirstFrame));
    if (iCrossings > 0)
        oMeasure.dFrequency =
            iCrossings * static_cast<double>(uiRate) / static_cast<double>(iLastCrossing - iFirstCrossing);
    return oMeasure;
}

// A part of recorded PCM: silence, or the test signal (one run of it, sample for sample), or neither.
struct SPcmSegment
{
    enum EKind
    {
        Segment_Silence,
        Segment_Signal,
        Segment_Other,
    };
    EKind eKind;
    size_t uiFirstFrame;
    size_t uiFrames;
};

// Splits recorded PCM into runs of silence and runs that are the test signal sample for sample,
// each signal run continuing one index of the signal; anything else is lumped together.
inline std::vector<SPcmSegment> SplitPcm(const std::vector<int16_t>& aiSamples, unsigned uiChannels, unsigned uiRate)
{
    const size_t uiFrames = aiSamples.size() / uiChannels;
    const auto fnIs = [&](size_t uiFrame, bool bSignal, uint64_t uiIndex) {
        for (unsigned c = 0; c < uiChannels; ++c)
            if (aiSamples[uiFrame * uiChannels + c] != (bSignal ? PellixSignalSample(c, uiIndex, uiRate) : 0))
                return false;
        return true;
    };
    // The signal's indices by the first channel's sample.
    std::unordered_multimap<int16_t, uint64_t> oIndexOf;
    for (uint64_t uiIndex = 0; uiIndex < uiRate; ++uiIndex)
        oIndexOf.emplace(PellixSignalSample(0, uiIndex, uiRate), uiIndex);
    std::vector<SPcmSegment> aoSegments;
    for (size_t i = 0; i < uiFrames;)
    {
        SPcmSegment oSegment{SPcmSegment::Segment_Other, i, 0};
        // Where the signal goes on (16 frames of it), it wins over silence: it crosses zero in both
        // channels at once.
        uint64_t uiIndex = 0;
        const auto oRange = oIndexOf.equal_range(aiSamples[i * uiChannels]);
        for (auto it = oRange.first;
             it != oRange.second && i + 16 <= uiFrames && oSegment.eKind == SPcmSegment::Segment_Other; ++it)
        {
            bool bFound = true;
            for (size_t k = 0; k < 16 && bFound; ++k)
                bFound = fnIs(i + k, true, it->second + k);
            oSegment.eKind = bFound ? SPcmSegment::Segment_Signal : oSegment.eKind;
            uiIndex = it->second;
        }
        if (oSegment.eKind == SPcmSegment::Segment_Signal)
            for (; i < uiFrames && fnIs(i, true, uiIndex + (i - oSegment.uiFirstFrame)); ++i)
                ;
        else if (fnIs(i, false, 0))
            for (oSegment.eKind = SPcmSegment::Segment_Silence; i < uiFrames && fnIs(i, false, 0); ++i)
                ;
        else
            ++i;
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
