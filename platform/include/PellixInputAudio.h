/* The audio track of the simulated HDMI input, for the platform's HDMI audio capture device
 * ("hw:0,0", platform/alsa). Exported by libOMX_Core.so; the ALSA plugin, loaded by alsa-lib into
 * a process that has libOMX_Core.so loaded, looks the functions up by name and otherwise
 * delivers its own test signal.
 *
 * Frames are interleaved stereo signed 16-bit at 48 kHz, numbered on CLOCK_MONOTONIC: frame n
 * is the one due at n / 48000 seconds of that clock, when the input's picture of that instant
 * is due too. Any thread may call them at any time. */
#ifndef PELLIX_INPUT_AUDIO_H
#define PELLIX_INPUT_AUDIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PELLIX_INPUT_AUDIO_RATE 48000
#define PELLIX_INPUT_AUDIO_CHANNELS 2

/* 1 when the input is a real source with an audio track, else 0. */
int PellixInput_HasAudio(void);

/* Copies uiFrames frames, the first numbered uiFirstFrame, into piFrames. Frames the source has
 * not delivered (yet, or any more) are silence. */
void PellixInput_ReadAudio(uint64_t uiFirstFrame, int16_t* piFrames, unsigned uiFrames);

typedef int (*PfnPellixInputHasAudio)(void);
typedef void (*PfnPellixInputReadAudio)(uint64_t, int16_t*, unsigned);

#ifdef __cplusplus
}
#endif

#endif /* PELLIX_INPUT_AUDIO_H */
