#include "CSimulatedMixer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "PellixAlsaConfig.h"

namespace
{
const snd_ctl_ext_key_t local_uiVolumeKey = 0;

snd_ctl_ext_callback_t local_MakeCallbacks(
    void (*pfnClose)(snd_ctl_ext_t*), int (*pfnElemCount)(snd_ctl_ext_t*),
    int (*pfnElemList)(snd_ctl_ext_t*, unsigned int, snd_ctl_elem_id_t*),
    snd_ctl_ext_key_t (*pfnFindElem)(snd_ctl_ext_t*, const snd_ctl_elem_id_t*),
    int (*pfnGetAttribute)(snd_ctl_ext_t*, snd_ctl_ext_key_t, int*, unsigned int*, unsigned int*),
    int (*pfnGetIntegerInfo)(snd_ctl_ext_t*, snd_ctl_ext_key_t, long*, long*, long*),
    int (*pfnReadInteger)(snd_ctl_ext_t*, snd_ctl_ext_key_t, long*),
    int (*pfnWriteInteger)(snd_ctl_ext_t*, snd_ctl_ext_key_t, long*),
    int (*pfnReadEvent)(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned int*))
{
    snd_ctl_ext_callback_t oCallbacks;
    memset(&oCallbacks, 0, sizeof(oCallbacks));
    oCallbacks.close = pfnClose;
    oCallbacks.elem_count = pfnElemCount;
    oCallbacks.elem_list = pfnElemList;
    oCallbacks.find_elem = pfnFindElem;
    oCallbacks.get_attribute = pfnGetAttribute;
    oCallbacks.get_integer_info = pfnGetIntegerInfo;
    oCallbacks.read_integer = pfnReadInteger;
    oCallbacks.write_integer = pfnWriteInteger;
    oCallbacks.read_event = pfnReadEvent;
    return oCallbacks;
}
} // namespace

const snd_ctl_ext_callback_t CSimulatedMixer::s_oCallbacks =
    local_MakeCallbacks(CallbackClose, CallbackElemCount, CallbackElemList, CallbackFindElem, CallbackGetAttribute,
                        CallbackGetIntegerInfo, CallbackReadInteger, CallbackWriteInteger, CallbackReadEvent);

int CSimulatedMixer::Open(snd_ctl_t** ppoCtl, const char* szName, snd_config_t* poConf, int iMode)
{
    std::string oControl;
    long iMin = 0;
    long iMax = 255;
    const int iConfig = PellixForEachPluginField(poConf, [&](const char* szId, snd_config_t* poEntry) {
        if (strcmp(szId, "control") == 0)
            return PellixReadPluginString(poEntry, szId, oControl);
        if (strcmp(szId, "min") == 0)
            return PellixReadPluginInteger(poEntry, szId, iMin);
        if (strcmp(szId, "max") == 0)
            return PellixReadPluginInteger(poEntry, szId, iMax);
        return PellixUnknownPluginField(szId);
    });
    if (iConfig < 0)
        return iConfig;
    if (oControl.empty() || iMin >= iMax)
    {
        SNDERR("A control name and a range min < max are needed");
        return -EINVAL;
    }

    CSimulatedMixer* poMixer = new (std::nothrow) CSimulatedMixer(oControl, iMin, iMax);
    if (poMixer == nullptr)
        return -ENOMEM;
    snd_ctl_ext_t& roExt = poMixer->m_oExt;
    roExt.version = SND_CTL_EXT_VERSION;
    roExt.card_idx = 0;
    snprintf(roExt.id, sizeof(roExt.id), "%s", "Pellix");
    snprintf(roExt.driver, sizeof(roExt.driver), "%s", "Pellix");
    snprintf(roExt.name, sizeof(roExt.name), "%s", szName);
    snprintf(roExt.longname, sizeof(roExt.longname), "%s", szName);
    snprintf(roExt.mixername, sizeof(roExt.mixername), "%s", szName);
    roExt.poll_fd = -1;
    roExt.callback = &s_oCallbacks;
    roExt.private_data = poMixer;
    const int iResult = snd_ctl_ext_create(&roExt, szName, iMode);
    if (iResult < 0)
    {
        delete poMixer;
        return iResult;
    }
    *ppoCtl = roExt.handle;
    return 0;
}

CSimulatedMixer::CSimulatedMixer(const std::string& roControl, long iMin, long iMax)
    : m_oExt(), m_oControl(roControl), m_iMin(iMin), m_iMax(iMax), m_oFolder()
{
    for (long& riValue : m_aiValue)
        riValue = iMax;
    Load();
}

void CSimulatedMixer::Load()
{
    const std::vector<long> aiStored = m_oFolder.ReadNumbers(m_oControl);
    for (unsigned i = 0; i < s_uiChannels && i < aiStored.size(); ++i)
        if (aiStored[i] >= m_iMin && aiStored[i] <= m_iMax)
            m_aiValue[i] = aiStored[i];
}

void CSimulatedMixer::CallbackClose(snd_ctl_ext_t* poExt)
{
    delete From(poExt);
}

int CSimulatedMixer::CallbackElemCount(snd_ctl_ext_t*)
{
    return 1;
}

int CSimulatedMixer::CallbackElemList(snd_ctl_ext_t* poExt, unsigned int uiOffset, snd_ctl_elem_id_t* poId)
{
    if (uiOffset != 0)
        return -EINVAL;
    snd_ctl_elem_id_set_interface(poId, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(poId, From(poExt)->m_oControl.c_str());
    return 0;
}

snd_ctl_ext_key_t CSimulatedMixer::CallbackFindElem(snd_ctl_ext_t* poExt, const snd_ctl_elem_id_t* poId)
{
    const char* szName = snd_ctl_elem_id_get_name(poId);
    if (szName != nullptr && From(poExt)->m_oControl == szName && snd_ctl_elem_id_get_index(poId) == 0)
        return local_uiVolumeKey;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int CSimulatedMixer::CallbackGetAttribute(snd_ctl_ext_t*, snd_ctl_ext_key_t uiKey, int* piType,
                                          unsigned int* puiAccess, unsigned int* puiCount)
{
    if (uiKey != local_uiVolumeKey)
        return -EINVAL;
    *piType = SND_CTL_ELEM_TYPE_INTEGER;
    *puiAccess = SND_CTL_EXT_ACCESS_READWRITE;
    *puiCount = s_uiChannels;
    return 0;
}

int CSimulatedMixer::CallbackGetIntegerInfo(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piMin, long* piMax,
                                            long* piStep)
{
    if (uiKey != local_uiVolumeKey)
        return -EINVAL;
    *piMin = From(poExt)->m_iMin;
    *piMax = From(poExt)->m_iMax;
    *piStep = 1;
    return 0;
}

int CSimulatedMixer::CallbackReadInteger(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piValue)
{
    if (uiKey != local_uiVolumeKey)
        return -EINVAL;
    CSimulatedMixer* poThis = From(poExt);
    poThis->Load();
    for (unsigned i = 0; i < s_uiChannels; ++i)
        piValue[i] = poThis->m_aiValue[i];
    return 0;
}

int CSimulatedMixer::CallbackWriteInteger(snd_ctl_ext_t* poExt, snd_ctl_ext_key_t uiKey, long* piValue)
{
    if (uiKey != local_uiVolumeKey)
        return -EINVAL;
    CSimulatedMixer* poThis = From(poExt);
    bool bChanged = false;
    for (unsigned i = 0; i < s_uiChannels; ++i)
    {
        if (piValue[i] < poThis->m_iMin || piValue[i] > poThis->m_iMax)
            return -EINVAL;
        bChanged = bChanged || poThis->m_aiValue[i] != piValue[i];
        poThis->m_aiValue[i] = piValue[i];
    }
    if (poThis->m_oFolder.IsSet() &&
        !poThis->m_oFolder.WriteText(poThis->m_oControl, std::to_string(poThis->m_aiValue[0]) + " " +
                                                             std::to_string(poThis->m_aiValue[1]) + "\n"))
        return -EIO;
    return bChanged ? 1 : 0;
}

int CSimulatedMixer::CallbackReadEvent(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned int*)
{
    // The values change only through this handle: there is never an event to read.
    return -EAGAIN;
}
