// CSimulatedMixer: one mixer device of the platform's ALSA side, an ALSA external control plugin
// (ctl_ext) with a single stereo integer element, the volume control named by the "control" field
// of its configuration, ranging from "min" to "max" (0 and 255 when not given). The simple mixer
// interface sees it as a playback volume of that name.
//
// The values live in the control folder (CAlsaControlFolder.h), in the file named after the
// control, so that they outlast the handle and a test can read them; without a folder they live
// as long as the handle. A new control starts at the maximum.
#ifndef CSIMULATED_MIXER_H
#define CSIMULATED_MIXER_H

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <string>

#include "CAlsaControlFolder.h"

class CSimulatedMixer
{
public:
    // The plugin's open: reads the mixer's configuration and creates the control handle.
    static int Open(snd_ctl_t** ppoCtl, const char* szName, snd_config_t* poConf, int iMode);

    CSimulatedMixer(const CSimulatedMixer&) = delete;
    CSimulatedMixer& operator=(const CSimulatedMixer&) = delete;

private:
    static constexpr unsigned s_uiChannels = 2;

    CSimulatedMixer(const std::string& roControl, long iMin, long iMax);
    ~CSimulatedMixer() = default;

    static CSimulatedMixer* From(snd_ctl_ext_t* poExt) { return static_cast<CSimulatedMixer*>(poExt->private_data); }
    static void CallbackClose(snd_ctl_ext_t* poExt);
    static int CallbackElemCount(snd_ctl_ext_t* poExt);
    static int CallbackElemList(snd_ctl_ext_t* poExt, unsigned int uiOffset, snd_ctl_elem_id_t* poId);
    static snd_ctl_ext_key_t CallbackFindElem(snd_ctl_ext_t* poExt, const snd_ctl_elem_id_t* poId);
    static int CallbackGetAttribute(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, int* piType, unsigned int* puiAccess,
                                    unsigned int* puiCount);
    static int CallbackGetIntegerInfo(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piMin, long* piMax,
                                      long* piStep);
    static int CallbackReadInteger(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piValue);
    static int CallbackWriteInteger(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piValue);
    static int CallbackReadEvent(snd_ctl_ext_t* poExt, snd_ctl_elem_id_t* poId, unsigned int* puiEventMask);

    static const snd_ctl_ext_callback_t s_oCallbacks;

    // Takes up the values stored in the folder, if any.
    void Load();

    snd_ctl_ext_t m_oExt;
    const std::string m_oControl;
    const long m_iMin;
    const long m_iMax;
    const CAlsaControlFolder m_oFolder;
    long m_aiValue[s_uiChannels];
};

#endif // CSIMULATED_MIXER_H
