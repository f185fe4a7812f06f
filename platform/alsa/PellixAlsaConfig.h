// Reading the fields of a plugin's own configuration node (the PCM or control definition).
#ifndef PELLIX_ALSA_CONFIG_H
#define PELLIX_ALSA_CONFIG_H

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstring>
#include <string>

// Calls fnField(id, node) for each field other than those alsa-lib reads itself ("comment",
// "type", "hint"); stops at the first negative result and returns it, else 0.
template <typename TFn>
int PellixForEachPluginField(snd_config_t* poConf, TFn fnField)
{
    snd_config_iterator_t itEntry;
    snd_config_iterator_t itNext;
    snd_config_for_each(itEntry, itNext, poConf)
    {
        snd_config_t* poEntry = snd_config_iterator_entry(itEntry);
        const char* szId = nullptr;
        if (snd_config_get_id(poEntry, &szId) < 0)
            continue;
        if (strcmp(szId, "comment") == 0 || strcmp(szId, "type") == 0 || strcmp(szId, "hint") == 0)
            continue;
        const int iResult = fnField(szId, poEntry);
        if (iResult < 0)
            return iResult;
    }
    return 0;
}

// A non-empty string field.
inline int PellixReadPluginString(snd_config_t* poEntry, const char* szId, std::string& roValue)
{
    const char* szValue = nullptr;
    if (snd_config_get_string(poEntry, &szValue) < 0 || szValue[0] == 0)
    {
        SNDERR("Invalid value for %s", szId);
        return -EINVAL;
    }
    roValue = szValue;
    return 0;
}

inline int PellixReadPluginInteger(snd_config_t* poEntry, const char* szId, long& riValue)
{
    if (snd_config_get_integer(poEntry, &riValue) < 0)
    {
        SNDERR("Invalid value for %s", szId);
        return -EINVAL;
    }
    return 0;
}

inline int PellixUnknownPluginField(const char* szId)
{
    SNDERR("Unknown field %s", szId);
    return -EINVAL;
}

#endif // PELLIX_ALSA_CONFIG_H
