// The engine's state machine, buffers, ports and stored settings, driven through the plain OMX_*
// calls on the test components.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Video.h>

#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"

namespace
{
typedef CEngineTest PlatformComponent;
const OMX_U32 local_nSame = OMX_ErrorSameState;
const OMX_U32 local_nIllegal = OMX_ErrorIncorrectStateTransition;
const OMX_U32 local_nUnpopulated = OMX_ErrorPortUnpopulated;

// Nothing of the kind arrives within the quiet period.
bool Quiet(const COmxTestClient& roClient, OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2)
{
    std::this_thread::sleep_for(g_oQuietPeriod);
    return roClient.CountEvents(eEvent, nData1, nData2) == 0;
}

OMX_ERRORTYPE Command(COmxTestClient& roClient, OMX_COMMANDTYPE eCommand, OMX_U32 nParam)
{
    return OMX_SendCommand(roClient.Handle(), eCommand, nParam, nullptr);
}
} // namespace

TEST_F(PlatformComponent, StateChangesWaitForTheirBuffersAndRefuseWhatIsNotAllowed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_StateLoaded, oClient.State());
    // Loaded -> Idle completes once every enabled port is populated.
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 3));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    EXPECT_EQ(OMX_TRUE, oClient.PortDefinition(0).bPopulated);
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(1).bPopulated);
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 1));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));

    // Refused moves: an error event, no completion, the state unchanged.
    for (OMX_STATETYPE eTarget : {OMX_StateExecuting, OMX_StateLoaded, OMX_StateWaitForResources})
    {
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(eTarget));
        ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, eTarget == OMX_StateExecuting ? local_nSame : local_nIllegal, 0));
        EXPECT_EQ(OMX_StateExecuting, oClient.State());
    }
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    EXPECT_EQ(OMX_ErrorBadParameter, oClient.SendState(static_cast<OMX_STATETYPE>(42)));

    // Idle -> Loaded completes once the last buffer is freed, with no unpopulated-port error.
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    const std::vector<OMX_BUFFERHEADERTYPE*> apoOutputs = oClient.Buffers(1);
    for (size_t ui = 1; ui < apoOutputs.size(); ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[ui]));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[0]));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventError, local_nUnpopulated, 1));

    // From Loaded: the same state, Executing and Pause are refused; WaitForResources and back.
    for (OMX_STATETYPE eTarget : {OMX_StateLoaded, OMX_StateExecuting, OMX_StatePause})
    {
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(eTarget));
        ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, eTarget == OMX_StateLoaded ? local_nSame : local_nIllegal, 0));
    }
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
    EXPECT_EQ(0u, oClient.PendingEvents());
}

TEST_F(PlatformComponent, IdleAndPauseHoldBuffersAndTheMoveToIdleHandsBackAllOfThem)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    // Queued in Idle, processed from Executing on: what is copied, where to, with what.
    for (OMX_BUFFERHEADERTYPE* poHeader : oClient.Buffers(0))
    {
        memset(poHeader->pBuffer, 0x5A, poHeader->nAllocLen);
        poHeader->nFilledLen = 100;
        poHeader->nOffset = 10;
        poHeader->nTimeStamp = 1234;
    }
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(1));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));
    ASSERT_TRUE(oClient.WaitReturned(1, 4));
    for (OMX_BUFFERHEADERTYPE* poHeader : oClient.Buffers(1))
        EXPECT_TRUE(poHeader->nFilledLen == 100 && poHeader->nOffset == 0 && poHeader->nTimeStamp == 1234 &&
                    poHeader->pBuffer[99] == 0x5A);

    // Held in Pause, processed back in Executing.
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(4u, oClient.ReturnedCount(0));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));
    ASSERT_TRUE(oClient.WaitReturned(0, 8));
    ASSERT_TRUE(oClient.WaitReturned(1, 8));

    // Outputs without inputs stay with the component; one input pairs with one output; the move
    // to Idle (here from Pause) hands back the three still held, unfilled, before it completes.
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(oClient.Handle(), oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.WaitReturned(1, 9));
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause));
    EXPECT_EQ(9u, oClient.ReturnedCount(1));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    EXPECT_EQ(12u, oClient.ReturnedCount(1));
    EXPECT_EQ(0u, oClient.Buffers(1)[3]->nFilledLen);
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, BufferCallsAreCheckedAndAHeldBufferCannotBeFreed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    const OMX_U32 nSize = oClient.PortDefinition(0).nBufferSize;
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    std::vector<OMX_U8> aucMemory(4 * nSize);
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize, &aucMemory[0]));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize - 1));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize - 1, &aucMemory[0]));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, nSize, nullptr));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_AllocateBuffer(hComponent, nullptr, 0, nullptr, nSize));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_AllocateBuffer(hComponent, &poHeader, 7, nullptr, nSize));

    // The caller's memory is used as it is; an allocated header is filled for the caller.
    ASSERT_EQ(OMX_ErrorNone, oClient.UseBuffers(0, {&aucMemory[0], &aucMemory[nSize], &aucMemory[2 * nSize],
                                                    &aucMemory[3 * nSize]}, nSize));
    for (size_t ui = 0; ui < 4; ++ui)
        EXPECT_TRUE(oClient.Buffers(0)[ui]->pBuffer == &aucMemory[ui * nSize] && oClient.Buffers(0)[ui]->nAllocLen == nSize);
    // Still Loaded (the output port waits for its buffers): nothing can be submitted.
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_EmptyThisBuffer(hComponent, oClient.Buffers(0)[0]));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(hComponent, &poHeader, 0, nullptr, nSize));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4, 4096));
    poHeader = oClient.Buffers(1)[0];
    EXPECT_EQ(&oClient, poHeader->pAppPrivate);
    EXPECT_TRUE(poHeader->nOutputPortIndex == 1 && poHeader->nInputPortIndex == 1 && poHeader->nAllocLen == 4096);
    EXPECT_EQ(sizeof(OMX_BUFFERHEADERTYPE), poHeader->nSize);
    EXPECT_EQ(1, poHeader->nVersion.s.nVersionMajor);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(poHeader->pBuffer) % 64);
    memset(poHeader->pBuffer, 0xFF, 4096);  // the whole block is the caller's
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));

    // Freeing: the header must belong to the port.
    OMX_BUFFERHEADERTYPE oForeign = *oClient.Buffers(0)[0];
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, &oForeign));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, oClient.Buffers(1)[0]));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeBuffer(hComponent, 0, nullptr));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_FreeBuffer(hComponent, 9, oClient.Buffers(0)[0]));

    // Submission: checked, and it never waits for the component.
    OMX_BUFFERHEADERTYPE* poInput = oClient.Buffers(0)[0];
    OMX_BUFFERHEADERTYPE* poOutput = oClient.Buffers(1)[0];
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, nullptr));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_EmptyThisBuffer(hComponent, poOutput));
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_FillThisBuffer(hComponent, poInput));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, &oForeign));
    poInput->nOffset = 10;
    poInput->nFilledLen = poInput->nAllocLen;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, poInput));
    poInput->nOffset = 0;
    poInput->nFilledLen = 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, poInput));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(hComponent, poInput));  // already queued
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(0));
    // A queued buffer cannot be freed while the component may work on it.
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_FreeBuffer(hComponent, 0, poInput));
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    ASSERT_TRUE(oClient.WaitReturned(1, 1));
    EXPECT_EQ(16u, poOutput->nFilledLen);

    // Freed outside a move to Loaded or a disable: the port is unpopulated, and says so.
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 0, oClient.Buffers(0)[3]));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, local_nUnpopulated, 0));
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(0).bPopulated);
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    // Queued in Idle, then freed on the way to Loaded: dropped without a callback.
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    const unsigned uiReturned = oClient.ReturnedCount(1);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    for (size_t ui = 0; ui < 3; ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 0, oClient.Buffers(0)[ui]));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
    EXPECT_LE(oClient.ReturnedCount(1), uiReturned + 1);
}

TEST_F(PlatformComponent, PortDefinitionsAreCheckedAndSetOnlyWhileLoadedOrDisabled)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    const OMX_PARAM_PORTDEFINITIONTYPE oDefault = oClient.PortDefinition(1);
    EXPECT_TRUE(oDefault.eDir == OMX_DirOutput && oDefault.eDomain == OMX_PortDomainVideo && oDefault.bEnabled);
    EXPECT_TRUE(oDefault.nBufferCountMin == 1 && oDefault.nBufferCountActual == 4);
    const auto fnSet = [&](void (*fnChange)(OMX_PARAM_PORTDEFINITIONTYPE&)) {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oDefault;
        fnChange(oDefinition);
        return OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition);
    };
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nBufferCountActual = 0; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nBufferCountActual = 1000; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nBufferSize = 0; }));
    EXPECT_EQ(OMX_ErrorBadPortIndex, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nPortIndex = 5; }));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nSize = 8; }));
    EXPECT_EQ(OMX_ErrorVersionMismatch, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) { ro.nVersion.s.nVersionMajor = 2; }));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oDefault;
    oDefinition.nPortIndex = 5;
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    // Accepted; the read-only fields keep the component's values.
    EXPECT_EQ(OMX_ErrorNone, fnSet([](OMX_PARAM_PORTDEFINITIONTYPE& ro) {
                  ro.nBufferCountActual = 2;
                  ro.nBufferSize = 8192;
                  ro.format.video.nFrameWidth = 128;
                  ro.eDir = OMX_DirInput;
                  ro.nBufferCountMin = 0;
              }));
    oDefinition = oClient.PortDefinition(1);
    EXPECT_TRUE(oDefinition.nBufferCountActual == 2 && oDefinition.nBufferSize == 8192);
    EXPECT_TRUE(oDefinition.format.video.nFrameWidth == 128 && oDefinition.eDir == OMX_DirOutput);
    EXPECT_EQ(1u, oDefinition.nBufferCountMin);

    // Port counts: reported per domain, a set only confirms them.
    OMX_PORT_PARAM_TYPE oPorts;
    InitStruct(oPorts);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hComponent, OMX_IndexParamVideoInit, &oPorts));
    EXPECT_TRUE(oPorts.nPorts == 2 && oPorts.nStartPortNumber == 0);
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamVideoInit, &oPorts));
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hComponent, OMX_IndexParamAudioInit, &oPorts));
    EXPECT_EQ(0u, oPorts.nPorts);
    oPorts.nPorts = 3;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamAudioInit, &oPorts));

    // Enabled outside Loaded: refused; disabled: accepted.
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_EQ(2u, oClient.Buffers(1).size());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandPortDisable, 1));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    oDefinition.nBufferCountActual = 3;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, PortCommandsHandBackHeldBuffersAndCompleteWithTheirPorts)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    // In Loaded a port command completes at once, for every port of OMX_ALL; with every port
    // disabled Idle needs no buffers.
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandPortDisable, OMX_ALL));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandPortEnable, OMX_ALL));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    EXPECT_EQ(OMX_ErrorBadPortIndex, Command(oClient, OMX_CommandPortEnable, 3));
    EXPECT_EQ(OMX_ErrorBadPortIndex, Command(oClient, OMX_CommandFlush, 4));

    // Flush: the held buffers of that port, or of all of them, go back; the state stays.
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandFlush, 1));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_TRUE(oClient.ReturnedCount(1) == 4 && oClient.ReturnedCount(0) == 0);
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandFlush, OMX_ALL));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 0));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_EQ(4u, oClient.ReturnedCount(0));
    EXPECT_EQ(OMX_StateExecuting, oClient.State());

    // Disable: the held buffers go back at once; it completes once they are freed (no
    // unpopulated-port error), and the port takes no buffer meanwhile.
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandPortDisable, 1));
    ASSERT_TRUE(oClient.WaitReturned(1, 8));
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(1).bEnabled);
    std::vector<OMX_BUFFERHEADERTYPE*> apoOutputs = oClient.Buffers(1);
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_FillThisBuffer(hComponent, apoOutputs[0]));
    for (size_t ui = 0; ui + 1 < apoOutputs.size(); ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, apoOutputs[ui]));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, apoOutputs.back()));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventError, local_nUnpopulated, 1));

    // Enable completes once the port is populated again; then buffers flow.
    ASSERT_EQ(OMX_ErrorNone, Command(oClient, OMX_CommandPortEnable, 1));
    std::vector<OMX_BUFFERHEADERTYPE*> apoNew(4);
    for (size_t ui = 0; ui < 3; ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_AllocateBuffer(hComponent, &apoNew[ui], 1, nullptr, 2048));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_AllocateBuffer(hComponent, &apoNew[3], 1, nullptr, 2048));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, apoNew[0]));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.WaitReturned(1, 9));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    for (OMX_BUFFERHEADERTYPE* poNew : apoNew)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(hComponent, 1, poNew));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
}

TEST_F(PlatformComponent, SettingsAndTheOtherEntryPointsAnswerAsTheStandardSays)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate);
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
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, nullptr));
    // Known as a configuration, not as a parameter; unknown indices are unsupported.
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_GetParameter(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_GetConfig(hComponent, OMX_IndexConfigVideoBitrate, &oRate));
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_SetParameter(hComponent, OMX_IndexParamVideoAvc, &oRate));

    char szName[OMX_MAX_STRINGNAME_SIZE];
    OMX_VERSIONTYPE oComponentVersion, oSpecVersion;
    OMX_UUIDTYPE oUuid;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetComponentVersion(hComponent, szName, &oComponentVersion, &oSpecVersion, &oUuid));
    EXPECT_STREQ(PELLIX_TEST_SOURCE, szName);
    EXPECT_TRUE(oSpecVersion.s.nVersionMajor == 1 && oSpecVersion.s.nVersionMinor == 1);
    OMX_INDEXTYPE eIndex;
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, OMX_GetExtensionIndex(hComponent, const_cast<char*>("OMX.Pellix.x"), &eIndex));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_GetState(hComponent, nullptr));
    auto* poComponent = static_cast<OMX_COMPONENTTYPE*>(hComponent);
    EXPECT_EQ(OMX_ErrorTunnelingUnsupported, poComponent->ComponentTunnelRequest(hComponent, 0, nullptr, 0, nullptr));
    EXPECT_EQ(OMX_ErrorNotImplemented, Command(oClient, OMX_CommandMarkBuffer, 0));
    OMX_CALLBACKTYPE oCallbacks = {nullptr, nullptr, nullptr};
    EXPECT_EQ(OMX_ErrorBadParameter, poComponent->SetCallbacks(hComponent, nullptr, nullptr));
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, poComponent->SetCallbacks(hComponent, &oCallbacks, nullptr));
    ASSERT_TRUE(oClient.GoToLoaded());

    // The invalid state refuses everything but the handle's release.
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateInvalid));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInvalidState), 0));
    EXPECT_EQ(OMX_StateInvalid, oClient.State());
    EXPECT_EQ(OMX_ErrorInvalidState, oClient.SendState(OMX_StateLoaded));
    EXPECT_EQ(OMX_ErrorInvalidState, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
}
