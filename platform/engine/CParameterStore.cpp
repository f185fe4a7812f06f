#include "CParameterStore.h"

#include <cstring>

void CParameterStore::Add(OMX_INDEXTYPE eIndex, bool bConfig, bool bPerPort, ESettingAccess eAccess,
                          const void* pvDefault)
{
    const auto* poHead = static_cast<const SOmxPortStructHead*>(pvDefault);
    const OMX_U32 nPortIndex = bPerPort ? poHead->nPortIndex : 0;
    const size_t uiSize = static_cast<size_t>(poHead->nSize);

    SStoredSetting* poSetting = Find(eIndex, bConfig, nPortIndex);
    if (poSetting == nullptr)
    {
        m_aoSettings.emplace_back();
        poSetting = &m_aoSettings.back();
    }
    poSetting->eIndex = eIndex;
    poSetting->bConfig = bConfig;
    poSetting->bPerPort = bPerPort;
    poSetting->nPortIndex = nPortIndex;
    poSetting->eAccess = eAccess;
    poSetting->aucValue.resize(uiSize);
    memcpy(poSetting->aucValue.data(), pvDefault, uiSize);
}

SStoredSetting* CParameterStore::Find(OMX_INDEXTYPE eIndex, bool bConfig, const void* pvStruct, bool* pbKnownIndex)
{
    *pbKnownIndex = false;
    for (SStoredSetting& roSetting : m_aoSettings)
    {
        if (roSetting.eIndex != eIndex || roSetting.bConfig != bConfig)
            continue;
        *pbKnownIndex = true;
        if (!roSetting.bPerPort)
            return &roSetting;
        // The port index is only read once the structure is known to be large enough for it.
        const auto* poHead = static_cast<const SOmxPortStructHead*>(pvStruct);
        if (poHead->nSize >= sizeof(SOmxPortStructHead) && poHead->nPortIndex == roSetting.nPortIndex)
            return &roSetting;
    }
    return nullptr;
}

const SStoredSetting* CParameterStore::Find(OMX_INDEXTYPE eIndex, bool bConfig, OMX_U32 nPortIndex) const
{
    for (const SStoredSetting& roSetting : m_aoSettings)
    {
        if (roSetting.eIndex == eIndex && roSetting.bConfig == bConfig &&
            (!roSetting.bPerPort || roSetting.nPortIndex == nPortIndex))
            return &roSetting;
    }
    return nullptr;
}
