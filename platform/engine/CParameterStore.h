// The parameters and configurations a component keeps as plain structures: each index is
// registered once (per port where the structure carries a port index) with its default value,
// read back as stored and replaced by a validated set.
//
// Not thread-safe: the component guards it with its mutex.
#ifndef CPARAMETER_STORE_H
#define CPARAMETER_STORE_H

#include <OMX_Core.h>
#include <OMX_Index.h>

#include <cstddef>
#include <vector>

// The head every OpenMAX IL parameter structure starts with.
struct SOmxStructHead
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
};

// The head of the structures that belong to one port.
struct SOmxPortStructHead
{
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
};

// When a set is accepted.
enum ESettingAccess
{
    SettingAccess_AnyState,    // in every state but Invalid
    SettingAccess_LoadedOnly,  // in Loaded or WaitForResources, or while its port is disabled
    SettingAccess_ReadOnly,    // never: a set answers OMX_ErrorUnsupportedSetting
};

struct SStoredSetting
{
    OMX_INDEXTYPE eIndex;
    bool bConfig;
    bool bPerPort;
    OMX_U32 nPortIndex;
    ESettingAccess eAccess;
    std::vector<unsigned char> aucValue;
};

class CParameterStore
{
public:
    // Registers an index with its default value, whose nSize gives the size of the structure
    // (and nPortIndex its port when bPerPort). A second registration of the same index and port
    // replaces the first.
    void Add(OMX_INDEXTYPE eIndex, bool bConfig, bool bPerPort, ESettingAccess eAccess, const void* pvDefault);

    // The entry for the index and the port named in pvStruct, or null. *pbKnownIndex tells
    // whether the index is registered at all (for another port, when null is returned).
    SStoredSetting* Find(OMX_INDEXTYPE eIndex, bool bConfig, const void* pvStruct, bool* pbKnownIndex);
    const SStoredSetting* Find(OMX_INDEXTYPE eIndex, bool bConfig, OMX_U32 nPortIndex) const;
    SStoredSetting* Find(OMX_INDEXTYPE eIndex, bool bConfig, OMX_U32 nPortIndex)
    {
        return const_cast<SStoredSetting*>(static_cast<const CParameterStore*>(this)->Find(eIndex, bConfig, nPortIndex));
    }

private:
    std::vector<SStoredSetting> m_aoSettings;
};

#endif // CPARAMETER_STORE_H
