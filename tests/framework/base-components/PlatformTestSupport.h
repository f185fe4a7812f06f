// Integration helpers on the platform engine: a wrapper over the platform's test components with
// a chosen provider on each port, software ends that count what passes, components of the tests'
// own, and the figures that show nothing is left behind.
#ifndef PELLIX_PLATFORM_TEST_SUPPORT_H
#define PELLIX_PLATFORM_TEST_SUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "CPlatformComponent.h"
#include "PellixPlatform.h"
#include "PellixTestComponents.h"
#include "PellixTestControl.h"
#include "base-components/CDefaultSource.h"
#include "base-components/CSinkComponent.h"
#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "ti814x-framework.h"

// A component without ports: its state changes complete at once. Serves as a control component.
#define PELLIX_TEST_PORTLESS "OMX.Pellix.Test.Portless"

class CTestPortless : public CPlatformComponent
{
public:
    explicit CTestPortless(const char* szName) : CPlatformComponent(szName) {}
};

// A consumer with two video inputs (ports 0 and 1, as the platform's test ports) that gives back
// every buffer it is handed, as a display fed by two windows would.
#define PELLIX_TEST_TWO_INPUTS "OMX.Pellix.Test.TwoInputs"

class CTestTwoInputs : public CPlatformComponent
{
public:
    explicit CTestTwoInputs(const char* szName) : CPlatformComponent(szName)
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
        {
            CPlatformPort& roPort = AddPort(nPort, OMX_DirInput, OMX_PortDomainVideo);
            roPort.SetBufferRequirements(1, 4, 64 * 16 * 2);
            roPort.Definition().format.video.nFrameWidth = 64;
            roPort.Definition().format.video.nFrameHeight = 16;
            roPort.Definition().format.video.eColorFormat = OMX_COLOR_FormatYCbYCr;
        }
    }

protected:
    void OnProcess() override
    {
        for (OMX_U32 nPort = 0; nPort < 2; ++nPort)
            while (OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(nPort))
            {
                Count(PellixCounter_FramesConsumed);
                ReturnBuffer(poHeader);
            }
    }
};

// How a wrapper port is set up in SetParameters: the platform port's definition is read, the
// non-zero fields below replace its values, and it is written back; a provider then provides
// uiProvideCount buffers (0: the definition's count).
struct SWrapperPort
{
    MUINT32 uiPortID;
    bool bProvider;
    OMX_U32 nBufferCount = 0;
    OMX_U32 nBufferSize = 0;
    OMX_U32 nWidth = 0;
    OMX_U32 nHeight = 0;
    bool bInterlaced = false;
    MUINT32 uiProvideCount = 0;
};

// A COMXComponent over a platform component with up to two inputs and two outputs. Counts the
// buffer operations reaching it.
class CTestOMXWrapper : public COMXComponent
{
public:
    CTestOMXWrapper(const char* szName, std::vector<SWrapperPort> aoInputs, std::vector<SWrapperPort> aoOutputs)
        : COMXComponent(const_cast<char*>(szName)), m_aoInputSpec(std::move(aoInputs)), m_aoOutputSpec(std::move(aoOutputs))
    {
    }

    OMX_ERRORTYPE Init() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        ZEM_CHECK(COMXComponent::Init());
        if (m_szCtrlName != nullptr)
            ZEM_CHECK(OMX_GetHandle(&m_hOMXCtrl, const_cast<char*>(m_szCtrlName), this, &oOmxCallback));
        if (m_hOMXCtrl != nullptr)
            m_eCtrlState = OMX_StateLoaded;
        ZEM_CHECK(InitPorts());
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }

    // The ports first (their buffers go back to the platform component), then the handles.
    OMX_ERRORTYPE Deinit() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
            ZEM_CHECK(m_aoOutput[i].Deinit());
        for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
            ZEM_CHECK(m_aoInput[i].Deinit());
        ZEM_CHECK(COMXComponent::Deinit());
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }

    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiInputPortCount = static_cast<MUINT32>(m_aoInputSpec.size());
        m_uiOutputPortCount = static_cast<MUINT32>(m_aoOutputSpec.size());
        m_poInputPort = m_aoInput;
        m_poOutputPort = m_aoOutput;
        for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
            m_aoInput[i].SetPortID(m_aoInputSpec[i].uiPortID);
        for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
            m_aoOutput[i].SetPortID(m_aoOutputSpec[i].uiPortID);
        return OMX_ErrorNone;
    }

    OMX_ERRORTYPE SetParameters() override
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        ++m_uiSetParameters;
        ZEM_CHECK(m_eSetParametersResult);
        for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
            ZEM_CHECK(SetUpPort(m_aoInput[i], m_aoInputSpec[i]));
        for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
            ZEM_CHECK(SetUpPort(m_aoOutput[i], m_aoOutputSpec[i]));
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }

    OMX_ERRORTYPE SetParametersIdle() override
    {
        ++m_uiSetParametersIdle;
        return m_eSetParametersIdleResult;
    }

    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiFillThisBuffer;
        return COMXComponent::FillThisBuffer(poHeader);
    }
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiEmptyThisBuffer;
        return COMXComponent::EmptyThisBuffer(poHeader);
    }
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiFillBufferDone;
        return COMXComponent::FillBufferDone(poHeader);
    }
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++m_uiEmptyBufferDone;
        return COMXComponent::EmptyBufferDone(poHeader);
    }

    // Events posted and not yet consumed.
    unsigned PendingEvents(OMXEventType eEvent)
    {
        pthread_mutex_lock(&m_aoEventMutex[eEvent]);
        const unsigned uiCount = m_auiEventCount[eEvent];
        pthread_mutex_unlock(&m_aoEventMutex[eEvent]);
        return uiCount;
    }

    // The platform component's own view of its state.
    static OMX_STATETYPE PlatformState(OMX_HANDLETYPE hHandle)
    {
        OMX_STATETYPE eState = OMX_StateInvalid;
        if (hHandle == nullptr || OMX_GetState(hHandle, &eState) != OMX_ErrorNone)
            return OMX_StateInvalid;
        return eState;
    }

    CSinkPort m_aoInput[2];
    CSourcePort m_aoOutput[2];
    std::vector<SWrapperPort> m_aoInputSpec;
    std::vector<SWrapperPort> m_aoOutputSpec;
    const char* m_szCtrlName = nullptr;
    OMX_ERRORTYPE m_eSetParametersResult = OMX_ErrorNone;
    OMX_ERRORTYPE m_eSetParametersIdleResult = OMX_ErrorNone;
    std::atomic<unsigned> m_uiSetParameters{0};
    std::atomic<unsigned> m_uiSetParametersIdle{0};
    std::atomic<unsigned> m_uiFillThisBuffer{0};
    std::atomic<unsigned> m_uiEmptyThisBuffer{0};
    std::atomic<unsigned> m_uiFillBufferDone{0};
    std::atomic<unsigned> m_uiEmptyBufferDone{0};

private:
    OMX_ERRORTYPE SetUpPort(CPort& roPort, const SWrapperPort& roSpec)
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        unsigned uiAbortLine = 0;
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        memset(&oDefinition, 0, sizeof(oDefinition));
        oDefinition.nSize = sizeof(oDefinition);
        oDefinition.nVersion.s.nVersionMajor = 1;
        oDefinition.nVersion.s.nVersionMinor = 1;
        oDefinition.nPortIndex = roSpec.uiPortID;
        ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roSpec.nBufferCount != 0)
            oDefinition.nBufferCountActual = roSpec.nBufferCount;
        if (roSpec.nBufferSize != 0)
            oDefinition.nBufferSize = roSpec.nBufferSize;
        if (roSpec.nWidth != 0)
        {
            oDefinition.format.video.nFrameWidth = roSpec.nWidth;
            oDefinition.format.video.nStride = static_cast<OMX_S32>(roSpec.nWidth * 2);
        }
        if (roSpec.nHeight != 0)
        {
            oDefinition.format.video.nFrameHeight = roSpec.nHeight;
            oDefinition.format.video.nSliceHeight = roSpec.nHeight;
        }
        ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        if (roSpec.bProvider)
        {
            SPortBufferInfo oInfo = {oDefinition.format.video.eColorFormat,
                                     static_cast<MUINT32>(oDefinition.nBufferSize),
                                     static_cast<MUINT32>(oDefinition.format.video.nFrameWidth),
                                     static_cast<MUINT32>(oDefinition.format.video.nFrameHeight)};
            ZEM_CHECK(roPort.ProvideBuffer(&oInfo, roSpec.uiProvideCount != 0
                                                       ? roSpec.uiProvideCount
                                                       : static_cast<MUINT32>(oDefinition.nBufferCountActual)));
        }
        roPort.SetInterlaced(roSpec.bInterlaced);
        return OMX_ErrorNone;
    Zem_Abort:
        ZEM_ABORT_RECORD();
        return eError;
    }
};

// A sink that counts every header it receives.
class CCountingSink : public CSinkComponent
{
public:
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            ++m_oReceived[poHeader];
            if (m_bKeepFields)
                m_aoFields.push_back(SField{poHeader->nFlags, poHeader->nFilledLen,
                                            poHeader->nFilledLen >= 8 ? ReadCounter(poHeader->pBuffer) : 0,
                                            poHeader->nFilledLen > 0 ? poHeader->pBuffer[0] : 0u});
        }
        ++m_uiTotal;
        return CSinkComponent::EmptyThisBuffer(poHeader);
    }

    std::map<OMX_BUFFERHEADERTYPE*, unsigned> Received()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_oReceived;
    }

    struct SField
    {
        OMX_U32 nFlags;
        OMX_U32 nFilledLen;
        uint64_t uiCounter;  // the first 8 bytes, little endian
        unsigned uiFirstByte;
    };
    std::vector<SField> Fields()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoFields;
    }

    static uint64_t ReadCounter(const OMX_U8* pBuffer)
    {
        uint64_t uiValue = 0;
        for (int i = 7; i >= 0; --i)
            uiValue = (uiValue << 8) | pBuffer[i];
        return uiValue;
    }

    std::atomic<unsigned> m_uiTotal{0};
    bool m_bKeepFields = false;

private:
    std::mutex m_oMutex;
    std::map<OMX_BUFFERHEADERTYPE*, unsigned> m_oReceived;
    std::vector<SField> m_aoFields;
};

// A default source that counts, per buffer memory, how often it was asked to produce.
class CCountingDefaultSource : public CDefaultSource
{
public:
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            ++m_oProduced[poHeader->pBuffer];
        }
        ++m_uiTotal;
        return CDefaultSource::FillThisBuffer(poHeader);
    }

    std::map<OMX_U8*, unsigned> Produced()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_oProduced;
    }

    std::atomic<unsigned> m_uiTotal{0};

private:
    std::mutex m_oMutex;
    std::map<OMX_U8*, unsigned> m_oProduced;
};

// Threads of this process; with szNamePart, only those whose name contains it (a platform
// component's thread is named after the end of its component's name).
inline unsigned ProcessThreadCount(const char* szNamePart = nullptr)
{
    unsigned uiCount = 0;
    if (DIR* poDir = opendir("/proc/self/task"))
    {
        while (const dirent* poEntry = readdir(poDir))
        {
            if (poEntry->d_name[0] == '.')
                continue;
            if (szNamePart != nullptr)
            {
                char szPath[300];
                char szName[32] = {0};
                snprintf(szPath, sizeof(szPath), "/proc/self/task/%s/comm", poEntry->d_name);
                if (FILE* poFile = fopen(szPath, "r"))
                {
                    if (fgets(szName, sizeof(szName), poFile) == nullptr)
                        szName[0] = 0;
                    fclose(poFile);
                }
                if (strstr(szName, szNamePart) == nullptr)
                    continue;
            }
            ++uiCount;
        }
        closedir(poDir);
    }
    return uiCount;
}

// The test components registered, nothing armed, records quiet.
class PlatformTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTestComponents_Register());
        ASSERT_EQ(OMX_ErrorNone,
                  PellixPlatform_RegisterComponent(PELLIX_TEST_PORTLESS, &PellixCreateComponent<CTestPortless>));
        ASSERT_EQ(OMX_ErrorNone,
                  PellixPlatform_RegisterComponent(PELLIX_TEST_TWO_INPUTS, &PellixCreateComponent<CTestTwoInputs>));
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        ASSERT_EQ(0u, PellixPlatform_LiveHandleCount());
    }

    void TearDown() override
    {
        PellixTest_Reset();
        SetInfoMessageLevel(0);
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
};

#endif // PELLIX_PLATFORM_TEST_SUPPORT_H
