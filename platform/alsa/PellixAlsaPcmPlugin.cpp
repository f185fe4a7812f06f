// The entry point by which alsa-lib opens a PCM of type "pellix" (libasound_module_pcm_pellix.so).
#include "CSimulatedPcm.h"

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(pellix)
{
    (void)root;
    return CSimulatedPcm::Open(pcmp, name, conf, stream, mode);
}
SND_PCM_PLUGIN_SYMBOL(pellix)
