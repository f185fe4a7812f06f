// The audio track of the simulated HDMI input, for the platform's ALSA capture device
// (PellixInputAudio.h): the audio of the real source that feeds the input, if it has any.
#include "PellixInputAudio.h"

#include "CMediaSource.h"
#include "CSimulatedInput.h"

#include <algorithm>

extern "C" int PellixInput_HasAudio(void)
{
    const std::shared_ptr<CMediaSource> poSource = CSimulatedInput::Instance().MediaSource();
    return poSource != nullptr && poSource->HasAudio() ? 1 : 0;
}

extern "C" void PellixInput_ReadAudio(uint64_t uiFirstFrame, int16_t* piFrames, unsigned uiFrames)
{
    const std::shared_ptr<CMediaSource> poSource = CSimulatedInput::Instance().MediaSource();
    if (poSource != nullptr)
        poSource->ReadAudio(uiFirstFrame, piFrames, uiFrames);
    else
        std::fill(piFrames, piFrames + static_cast<size_t>(uiFrames) * PELLIX_INPUT_AUDIO_CHANNELS, int16_t(0));
}
