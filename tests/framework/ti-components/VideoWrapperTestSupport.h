// What the tests of the capture and deinterlacer wrappers share: a fixture on the platform
// stand-in, a software sink that keeps what it saw, reading structures back from a handle, and
// failing the n-th platform call a wrapper makes.
#ifndef PELLIX_VIDEO_WRAPPER_TEST_SUPPORT_H
#define PELLIX_VIDEO_WRAPPER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "AbortRecords.h"
#include "EngineTestSupport.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "base-components/CSinkComponent.h"
#include "ti814x-framework.h"
#include "ti814x-omx.h"

// The platform stand-in with nothing armed, the input at its default, the log quiet; every
// handle given back at the end.
class VideoWrapperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
        ASSERT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
    void TearDown() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        PellixTest_SetSimulatedInput("1920x1080p60");
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
};

// A parameter or configuration as the platform component holds it.
template <typename TStruct>
TStruct ReadSetting(OMX_HANDLETYPE hHandle, OMX_U32 uiIndex, bool bConfig, OMX_U32 nPortIndex)
{
    TStruct oStruct;
    InitStruct(oStruct, nPortIndex);
    const OMX_INDEXTYPE eIndex = static_cast<OMX_INDEXTYPE>(uiIndex);
    EXPECT_EQ(OMX_ErrorNone,
              bConfig ? OMX_GetConfig(hHandle, eIndex, &oStruct) : OMX_GetParameter(hHandle, eIndex, &oStruct));
    return oStruct;
}

template <typename TStruct>
TStruct ReadParam(OMX_HANDLETYPE hHandle, OMX_U32 uiIndex, OMX_U32 nPortIndex = 0)
{
    return ReadSetting<TStruct>(hHandle, uiIndex, false, nPortIndex);
}

template <typename TStruct>
TStruct ReadConfig(OMX_HANDLETYPE hHandle, OMX_U32 uiIndex, OMX_U32 nPortIndex = 0)
{
    return ReadSetting<TStruct>(hHandle, uiIndex, true, nPortIndex);
}

inline OMX_STATETYPE PlatformState(OMX_HANDLETYPE hHandle)
{
    OMX_STATETYPE eState = OMX_StateInvalid;
    if (hHandle == nullptr || OMX_GetState(hHandle, &eState) != OMX_ErrorNone)
        return OMX_StateInvalid;
    return eState;
}

// A time-stamp difference of a whole number of frame periods (of at least one), give or take the
// microsecond the stamps are rounded to.
inline bool IsWholePeriods(OMX_TICKS nDifference, double dPeriodUs)
{
    const double dPeriods = std::round(static_cast<double>(nDifference) / dPeriodUs);
    return dPeriods >= 1 && std::fabs(static_cast<double>(nDifference) - dPeriods * dPeriodUs) <= 1.5;
}

// A sink that counts what arrives, keeps the time stamps, copies one frame when asked and, when
// told to, keeps the buffers instead of handing them back.
class CFrameSink : public CSinkComponent
{
public:
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_anTimeStamps.push_back(poHeader->nTimeStamp);
            m_nFilledLen = poHeader->nFilledLen;
            if (m_bSnapshot)
            {
                m_aucSnapshot.assign(poHeader->pBuffer + poHeader->nOffset,
                                     poHeader->pBuffer + poHeader->nOffset + poHeader->nFilledLen);
                m_bSnapshot = false;
            }
            if (m_bHold)
            {
                m_apoHeld.push_back(poHeader);
                return OMX_ErrorNone;
            }
        }
        return CSinkComponent::EmptyThisBuffer(poHeader);
    }

    size_t Count()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_anTimeStamps.size();
    }
    std::vector<OMX_TICKS> TimeStamps()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_anTimeStamps;
    }
    OMX_U32 FilledLength()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_nFilledLen;
    }
    void RequestSnapshot()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bSnapshot = true;
        m_aucSnapshot.clear();
    }
    // The frame copied since RequestSnapshot, empty until one came.
    std::vector<uint8_t> Snapshot()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aucSnapshot;
    }
    void Hold(bool bHold)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bHold = bHold;
    }
    // The buffers kept so far; they stay the upstream's, and are forgotten here.
    size_t ForgetHeld()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        const size_t uiCount = m_apoHeld.size();
        m_apoHeld.clear();
        return uiCount;
    }

private:
    std::mutex m_oMutex;
    std::vector<OMX_TICKS> m_anTimeStamps;
    OMX_U32 m_nFilledLen = 0;
    bool m_bSnapshot = false;
    std::vector<uint8_t> m_aucSnapshot;
    bool m_bHold = false;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoHeld;
};

// Fails the n-th parameter, configuration or command call made on the given handles while it
// is installed, and lists the calls it saw. The handles' entry points are redirected through it
// and put back when it goes. One at a time; calls from the wrapper's thread only.
class CPlatformCallFaults
{
public:
    struct SCall
    {
        OMX_HANDLETYPE hHandle;
        std::string oKind;  // GetParameter, SetParameter, GetConfig, SetConfig, SendCommand
        OMX_U32 uiIndex;    // the index, or for SendCommand the command
        OMX_U32 uiParam;    // the structure's port, or for SendCommand the command's parameter
        std::vector<uint8_t> aucStruct;  // the structure as passed (nSize bytes)
    };

    // uiFailAt counts from 1; 0 fails nothing.
    CPlatformCallFaults(std::vector<OMX_HANDLETYPE> ahHandles, size_t uiFailAt, OMX_ERRORTYPE eError)
        : m_uiFailAt(uiFailAt), m_eError(eError)
    {
        s_poActive = this;
        for (OMX_HANDLETYPE hHandle : ahHandles)
        {
            auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(hHandle);
            m_aoSaved.push_back(SSaved{poComponent, *poComponent});
            poComponent->GetParameter = &GetParameter;
            poComponent->SetParameter = &SetParameter;
            poComponent->GetConfig = &GetConfig;
            poComponent->SetConfig = &SetConfig;
            poComponent->SendCommand = &SendCommand;
        }
    }
    ~CPlatformCallFaults()
    {
        for (const SSaved& roSaved : m_aoSaved)
        {
            roSaved.poComponent->GetParameter = roSaved.oEntries.GetParameter;
            roSaved.poComponent->SetParameter = roSaved.oEntries.SetParameter;
            roSaved.poComponent->GetConfig = roSaved.oEntries.GetConfig;
            roSaved.poComponent->SetConfig = roSaved.oEntries.SetConfig;
            roSaved.poComponent->SendCommand = roSaved.oEntries.SendCommand;
        }
        s_poActive = nullptr;
    }
    CPlatformCallFaults(const CPlatformCallFaults&) = delete;
    CPlatformCallFaults& operator=(const CPlatformCallFaults&) = delete;

    const std::vector<SCall>& Calls() const { return m_aoCalls; }
    bool Failed() const { return m_uiFailAt != 0 && m_aoCalls.size() >= m_uiFailAt; }

private:
    struct SSaved
    {
        OMX_COMPONENTTYPE* poComponent;
        OMX_COMPONENTTYPE oEntries;
    };

    static const OMX_COMPONENTTYPE& Saved(OMX_HANDLETYPE hHandle)
    {
        for (const SSaved& roSaved : s_poActive->m_aoSaved)
            if (roSaved.poComponent == hHandle)
                return roSaved.oEntries;
        throw std::logic_error("handle not redirected");
    }
    // Records the call; true when it is the one to fail.
    static bool Note(OMX_HANDLETYPE hHandle, const char* szKind, OMX_U32 uiIndex, OMX_U32 uiParam,
                     std::vector<uint8_t> aucStruct = std::vector<uint8_t>())
    {
        s_poActive->m_aoCalls.push_back(SCall{hHandle, szKind, uiIndex, uiParam, std::move(aucStruct)});
        return s_poActive->m_aoCalls.size() == s_poActive->m_uiFailAt;
    }
    // Every structure these calls carry starts with nSize, nVersion and nPortIndex.
    static bool NoteStruct(OMX_HANDLETYPE hHandle, const char* szKind, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        const auto* poHead = static_cast<const OMX_PARAM_BUFFER_MEMORYTYPE*>(pvStruct);
        const auto* pucStruct = static_cast<const uint8_t*>(pvStruct);
        return Note(hHandle, szKind, eIndex, poHead->nPortIndex,
                    std::vector<uint8_t>(pucStruct, pucStruct + poHead->nSize));
    }
    static OMX_ERRORTYPE GetParameter(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        return NoteStruct(hHandle, "GetParameter", eIndex, pvStruct)
                   ? s_poActive->m_eError
                   : Saved(hHandle).GetParameter(hHandle, eIndex, pvStruct);
    }
    static OMX_ERRORTYPE SetParameter(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        return NoteStruct(hHandle, "SetParameter", eIndex, pvStruct)
                   ? s_poActive->m_eError
                   : Saved(hHandle).SetParameter(hHandle, eIndex, pvStruct);
    }
    static OMX_ERRORTYPE GetConfig(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        return NoteStruct(hHandle, "GetConfig", eIndex, pvStruct) ? s_poActive->m_eError
                                                                  : Saved(hHandle).GetConfig(hHandle, eIndex, pvStruct);
    }
    static OMX_ERRORTYPE SetConfig(OMX_HANDLETYPE hHandle, OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
    {
        return NoteStruct(hHandle, "SetConfig", eIndex, pvStruct) ? s_poActive->m_eError
                                                                  : Saved(hHandle).SetConfig(hHandle, eIndex, pvStruct);
    }
    static OMX_ERRORTYPE SendCommand(OMX_HANDLETYPE hHandle, OMX_COMMANDTYPE eCommand, OMX_U32 nParam, OMX_PTR pvData)
    {
        return Note(hHandle, "SendCommand", eCommand, nParam)
                   ? s_poActive->m_eError
                   : Saved(hHandle).SendCommand(hHandle, eCommand, nParam, pvData);
    }

    static inline CPlatformCallFaults* s_poActive = nullptr;
    const size_t m_uiFailAt;
    const OMX_ERRORTYPE m_eError;
    std::vector<SSaved> m_aoSaved;
    std::vector<SCall> m_aoCalls;
};

// The ABORT records fn writes, each pointing at an error-flow statement of its source.
template <typename TFn>
std::vector<std::string> AbortKeys(TFn fn)
{
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = CaptureAbortRecords(fn, oOther);
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
    return AbortRecordKeys(aoRecords);
}

#endif // PELLIX_VIDEO_WRAPPER_TEST_SUPPORT_H
