// The stereo test signal of the simulated audio input, shared by the capture plugin and the tests
// that check what comes out of the audio chain: a sine per channel of known frequency and level.
// Sample n of a channel is round(amplitude x sin(2 pi x frequency x n / rate)); the frequencies are
// whole numbers of hertz, so the signal repeats every `rate` samples and n is taken modulo the
// rate. 997 Hz and 1499 Hz are prime to every supported rate: a lost or repeated block of samples
// shows as a jump of phase.
#ifndef PELLIX_ALSA_SIGNAL_H
#define PELLIX_ALSA_SIGNAL_H

#include <cmath>
#include <cstdint>

// Left channel (and the only one of a mono capture): 997 Hz at half of full scale (-6 dBFS).
const unsigned g_uiPellixSignalLeftHz = 997;
const int g_iPellixSignalLeftAmplitude = 16384;
// Right channel: 1499 Hz at a quarter of full scale (-12 dBFS).
const unsigned g_uiPellixSignalRightHz = 1499;
const int g_iPellixSignalRightAmplitude = 8192;

inline int16_t PellixSignalSample(unsigned uiChannel, uint64_t uiIndex, unsigned uiRate)
{
    const double dPi = 3.14159265358979323846;
    const unsigned uiHz = uiChannel == 0 ? g_uiPellixSignalLeftHz : g_uiPellixSignalRightHz;
    const int iAmplitude = uiChannel == 0 ? g_iPellixSignalLeftAmplitude : g_iPellixSignalRightAmplitude;
    const uint64_t uiPhase = (uiIndex % uiRate) * uiHz % uiRate;
    return static_cast<int16_t>(std::lround(iAmplitude * std::sin(2.0 * dPi * static_cast<double>(uiPhase) / uiRate)));
}

#endif // PELLIX_ALSA_SIGNAL_H
