// Buffer allocation, use and freeing, buffer submission, port definitions, port commands and
// stored settings of the engine.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Video.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "PellixTestControl.h"

namespace
{
class PlatformPorts : public CEngineTest
{
};

// ---- Allocation, use, freeing ----------------------------------------------------------------

TEST_F(PlatformPorts, AllocateBufferFillsTheHeaderForTheCaller)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    int iMarker = 0;
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    ASSERT_EQ(OMX_ErrorNone, OMX_AllocateBuffer(oClient.Handle(), &poHeader, 1, &iMarker, 4096));
    ASSERT_NE(nullptr, poHeader);
    EXPECT_EQ(&iMarker, poHeader->pAppPrivate);
    EXPECT_EQ(1u, poHeader->nOutputPortIndex);
    EXPECT_EQ(1u, poHeader->nInputPortIndex);
    EXPECT_EQ(4096u, poHeader->nAllocLen);
    EXPECT_EQ(sizeof(OMX_BUFFERHEADERTYPE), poHeader->nSize);
    EXPECT_EQ(1, poHeader->nVersion.s.nVersionMajor);
    ASSERT_NE(nullptr, poHeader->pBuffer);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(poHeader->pBuffer) % 64);
    memset(poHeader->pBuffer, 0xFF, 4096);  // the whole block is the caller's
    EXPECT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, poHeader));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
}

TEST_F(PlatformPorts, UseBufferKeepsTheCallersMemory)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_U32 nSize = oClient.PortDefinition(0).nBufferSize;
    std::vector<std::vector<OMX_U8>> aaucMemory(4, std::vector<OMX_U8>(nSize));
    std::vector<OMX_U8*> apvMemory;
    for (auto& raucBlock : aaucMemory)
        apvMemory.push_back(raucBlock.data());
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.UseBuffers(0, apvMemory, nSize));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    const std::vector<OMX_BUFFERHEADERTYPE*> apoHeaders = oClient.Buffers(0);
    for (size_t ui = 0; ui < apoHeaders.size(); ++ui)
    {
        EXPECT_EQ(apvMemory[ui], apoHeaders[ui]->pBuffer);
        EXPECT_EQ(nSize, apoHeaders[ui]->nAllocLen);
        EXPECT_EQ(&oClient, apoHeaders[ui]->pAppPrivate);
    }
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformPorts, BufferCallsAreRefusedOutsideTheirStatesAndSizes)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    const OMX_U32 nSize = oClient.PortDefinition(0).nBufferSize;
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    OMX_U8 aucMemory[4096];

    // Loaded without a move to Idle: no buffers.
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize, aucMemory));

    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize - 1));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize - 1, aucMemory));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize, nullptr));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_AllocateBuffer(hComponent, nullptr, 0, nullptr, nSize));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_AllocateBuffer(hComponent, &poHeader, 7, nullptr, nSize));

    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
    // A populated port takes no more.
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(hComponent, &poHeader, 1, nullptr, nSize));

    // Freeing: the header must belong to the port.
    OMX_BUFFERHEADERTYPE oForeign;
    memset(&oForeign, 0, sizeof(oForeign));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, &oForeign));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, oClient.Buffers(1)[0]));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, nullptr));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_FreeBuffer(hComponent, 9, oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformPorts, FreeingOutsideAMoveToLoadedUnpopulatesThePort)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_TRUE(oClient.GoToExecuting());
    std::vector<OMX_BUFFERHEADERTYPE*> apoInputs = oClient.Buffers(0);
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 0, apoInputs[3]));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorPortUnpopulated), 0));
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(0).bPopulated);
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    for (size_t ui = 0; ui < 3; ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 0, apoInputs[ui]));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
}

TEST_F(PlatformPorts, BufferSubmissionIsCheckedAndNeverBlocks)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    ASSERT_TRUE(oClient.GoToExecuting());
    OMX_BUFFERHEADERTYPE* poInput = oClient.Buffers(0)[0];
    OMX_BUFFERHEADERTYPE* poOutput = oClient.Buffers(1)[0];

    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, nullptr));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_EmptyThisBuffer(hComponent, poOutput));  // an output's header
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_FillThisBuffer(hComponent, poInput));
    OMX_BUFFERHEADERTYPE oForeign = *poInput;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, &oForeign));
    poInput->nOffset = 10;
    poInput->nFilledLen = poInput->nAllocLen;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, poInput));
    poInput->nOffset = 0;

    // Held without an output: queued, not returned; a second submission is refused.
    poInput->nFilledLen = 16;
    const auto oBefore = std::chrono::steady_clock::now();
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, poInput));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, poInput));
    EXPECT_LT(std::chrono::steady_clock::now() - oBefore, std::chrono::seconds(5));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(0));
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    ASSERT_TRUE(oClient.WaitReturned(0, 1));
    ASSERT_TRUE(oClient.WaitReturned(1, 1));
    EXPECT_EQ(16u, poOutput->nFilledLen);
    ASSERT_TRUE(oClient.GoToLoaded());

    // Loaded: nothing can be submitted (the header is gone, the state is wrong).
    COmxTestClient oOther(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oOther.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oOther.AllocateBuffers(0, 1));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_EmptyThisBuffer(oOther.Handle(), oOther.Buffers(0)[0]));
    ASSERT_EQ(OMX_ErrorNone, oOther.FreeBuffers(0));
    ASSERT_EQ(OMX_ErrorNone, oOther.SendState(OMX_StateLoaded));
}

TEST_F(PlatformPorts, AQueuedBufferIsFreedOnlyWhileNothingProcessesIt)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    ASSERT_TRUE(oClient.GoToExecuting());
    OMX_BUFFERHEADERTYPE* poOutput = oClient.Buffers(1)[0];
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_FreeBuffer(hComponent, 1, poOutput));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    EXPECT_EQ(1u, oClient.ReturnedCount(1));
    EXPECT_EQ(0u, poOutput->nFilledLen);

    // Queued again in Idle, then freed on the way to Loaded: dropped, nothing comes back.
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.GoToLoaded());
    EXPECT_LE(oClient.ReturnedCount(1), 2u);
    EXPECT_LE(oClient.ReturnedCount(0), 1u);
}

// ---- Port definitions ------------------------------------------------------------------------

TEST_F(PlatformPorts, PortDefinitionsAreValidatedAndSetOnlyWhileLoadedOrDisabled)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oClient.PortDefinition(1);
    EXPECT_EQ(OMX_DirOutput, oDefinition.eDir);
    EXPECT_EQ(OMX_PortDomainVideo, oDefinition.eDomain);
    EXPECT_EQ(1u, oDefinition.nBufferCountMin);
    EXPECT_EQ(4u, oDefinition.nBufferCountActual);
    EXPECT_EQ(OMX_TRUE, oDefinition.bEnabled);
    EXPECT_EQ(64u, oDefinition.format.video.nFrameWidth);

    oDefinition.nBufferCountActual = 0;  // below the minimum
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = 1000;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = 2;
    oDefinition.nBufferSize = 0;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferSize = 8192;
    oDefinition.nPortIndex = 5;
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nPortIndex = 1;
    oDefinition.nSize = 8;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nSize = sizeof(oDefinition);
    oDefinition.nVersion.s.nVersionMajor = 2;
    EXPECT_EQ(OMX_ErrorVersionMismatch, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nVersion.s.nVersionMajor = 1;
    // Read-only fields keep the component's values.
    oDefinition.eDir = OMX_DirInput;
    oDefinition.nBufferCountMin = 0;
    oDefinition.format.video.nFrameWidth = 128;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    const OMX_PARAM_PORTDEFINITIONTYPE oStored = oClient.PortDefinition(1);
    EXPECT_EQ(2u, oStored.nBufferCountActual);
    EXPECT_EQ(8192u, oStored.nBufferSize);
    EXPECT_EQ(128u, oStored.format.video.nFrameWidth);
    EXPECT_EQ(OMX_DirOutput, oStored.eDir);
    EXPECT_EQ(1u, oStored.nBufferCountMin);

    // Idle with the port enabled: refused; disabled: accepted.
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_EQ(2u, oClient.Buffers(1).size());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation,
              OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandPortDisable, 1, nullptr));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    oDefinition.nBufferCountActual = 3;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandPortEnable, 1, nullptr));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 3));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformPorts, PortCountsAreReportedAndOnlyConfirmedBySet)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    OMX_PORT_PARAM_TYPE oPorts;
    memset(&oPorts, 0, sizeof(oPorts));
    oPorts.nSize = sizeof(oPorts);
    oPorts.nVersion.s.nVersionMajor = 1;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oClient.Handle(), OMX_IndexParamVideoInit, &oPorts));
    EXPECT_EQ(2u, oPorts.nPorts);
    EXPECT_EQ(0u, oPorts.nStartPortNumber);
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(oClient.Handle(), OMX_IndexParamVideoInit, &oPorts));
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oClient.Handle(), OMX_IndexParamAudioInit, &oPorts));
    EXPECT_EQ(0u, oPorts.nPorts);
    oPorts.nPorts = 3;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(oClient.Handle(), OMX_IndexParamAudioInit, &oPorts));
}

// ---- Port commands ---------------------------------------------------------------------------

TEST_F(PlatformPorts, DisableReturnsHeldBuffersAndCompletesOnceTheyAreFreed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));

    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandPortDisable, 1, nullptr));
    ASSERT_TRUE(oClient.WaitReturned(1, 4));
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(1).bEnabled);
    std::vector<OMX_BUFFERHEADERTYPE*> apoOutputs = oClient.Buffers(1);
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_FillThisBuffer(hComponent, apoOutputs[0]));
    for (size_t ui = 0; ui + 1 < apoOutputs.size(); ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, apoOutputs[ui]));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, apoOutputs.back()));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    // Freeing on a disable is expected: no unpopulated-port error.
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorPortUnpopulated), 1));

    // Enable completes only once the port is populated again, then buffers flow.
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandPortEnable, 1, nullptr));
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    std::vector<OMX_BUFFERHEADERTYPE*> apoNew;
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(OMX_ErrorNone, OMX_AllocateBuffer(hComponent, &poHeader, 1, nullptr, 2048));
        apoNew.push_back(poHeader);
    }
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_AllocateBuffer(hComponent, &poHeader, 1, nullptr, 2048));
    apoNew.push_back(poHeader);
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, apoNew[0]));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.WaitReturned(1, 5));

    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    for (OMX_BUFFERHEADERTYPE* poNew : apoNew)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, poNew));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
}

TEST_F(PlatformPorts, DisableAndEnableOfEveryPortInLoadedCompleteAtOncePerPort)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(oClient.Handle(), OMX_CommandPortDisable, OMX_ALL, nullptr));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    // With every port disabled, Idle needs no buffers.
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(oClient.Handle(), OMX_CommandPortEnable, OMX_ALL, nullptr));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_SendCommand(oClient.Handle(), OMX_CommandPortEnable, 3, nullptr));
}

TEST_F(PlatformPorts, FlushReturnsHeldBuffersPerPort)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandFlush, 1, nullptr));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_EQ(4u, oClient.ReturnedCount(1));
    EXPECT_EQ(0u, oClient.ReturnedCount(0));

    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hComponent, OMX_CommandFlush, OMX_ALL, nullptr));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_EQ(4u, oClient.ReturnedCount(0));
    EXPECT_EQ(OMX_StateExecuting, oClient.State());
    ASSERT_TRUE(oClient.GoToLoaded());
}

// ---- Settings and the other entry points -------------------------------------------------------

TEST_F(PlatformPorts, StoredConfigurationsAreValidatedAndKept)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate, 0);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(0u, oRate.xEncodeFramerate);
    oRate.xEncodeFramerate = 30 << 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.xEncodeFramerate = 0;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(30u << 16, oRate.xEncodeFramerate);

    oRate.nPortIndex = 1;
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.nPortIndex = 0;
    oRate.nSize = sizeof(oRate) - 4;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.nSize = sizeof(oRate);
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, nullptr));
    // Known as a configuration, not as a parameter; unknown indices are unsupported.
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_GetParameter(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_GetConfig(hComponent, OMX_IndexConfigVideoBitrate, &oRate));
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_SetParameter(hComponent, OMX_IndexParamVideoAvc, &oRate));
}

TEST_F(PlatformPorts, TheOtherEntryPointsAnswerAsTheStandardSays)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    char szName[OMX_MAX_STRINGNAME_SIZE];
    OMX_VERSIONTYPE oComponentVersion;
    OMX_VERSIONTYPE oSpecVersion;
    OMX_UUIDTYPE oUuid;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetComponentVersion(hComponent, szName, &oComponentVersion, &oSpecVersion, &oUuid));
    EXPECT_STREQ(PELLIX_TEST_SOURCE, szName);
    EXPECT_EQ(1, oSpecVersion.s.nVersionMajor);
    EXPECT_EQ(1, oSpecVersion.s.nVersionMinor);

    OMX_INDEXTYPE eIndex;
    EXPECT_EQ(OMX_ErrorUnsupportedIndex,
              OMX_GetExtensionIndex(hComponent, const_cast<OMX_STRING>("OMX.Pellix.nothing"), &eIndex));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetState(hComponent, nullptr));
    OMX_COMPONENTTYPE* poComponent = static_cast<OMX_COMPONENTTYPE*>(hComponent);
    EXPECT_EQ(OMX_ErrorTunnelingUnsupported,
              poComponent->ComponentTunnelRequest(hComponent, 0, nullptr, 0, nullptr));
    EXPECT_EQ(OMX_ErrorNotImplemented, OMX_SendCommand(hComponent, OMX_CommandMarkBuffer, 0, nullptr));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_SendCommand(hComponent, OMX_CommandFlush, 4, nullptr));

    OMX_CALLBACKTYPE oCallbacks = {nullptr, nullptr, nullptr};
    EXPECT_EQ(OMX_ErrorBadParameter, poComponent->SetCallbacks(hComponent, nullptr, nullptr));
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, poComponent->SetCallbacks(hComponent, &oCallbacks, nullptr));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformPorts, TheInvalidStateRefusesEverythingButTheHandlesRelease)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateInvalid));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInvalidState), 0));
    EXPECT_EQ(OMX_StateInvalid, oClient.State());
    EXPECT_EQ(OMX_ErrorInvalidState, oClient.SendState(OMX_StateLoaded));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition, 0);
    EXPECT_EQ(OMX_ErrorInvalidState, OMX_GetParameter(oClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
}

} // namespace
