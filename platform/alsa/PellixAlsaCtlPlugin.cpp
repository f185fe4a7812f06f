// The entry point by which alsa-lib opens a control device of type "pellix"
// (libasound_module_ctl_pellix.so).
#include "CSimulatedMixer.h"

extern "C" SND_CTL_PLUGIN_DEFINE_FUNC(pellix)
{
    (void)root;
    return CSimulatedMixer::Open(handlep, name, conf, mode);
}
SND_CTL_PLUGIN_SYMBOL(pellix)
