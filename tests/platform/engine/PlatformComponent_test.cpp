// The engine's state machine, buffers, ports and stored settings, driven through the plain OMX_*
// calls on the test components: what the library's wrapper never asks (refused moves and calls,
// port commands) and the end of a component's life in every state. (Chains of components and
// their start/stop cycles are tested through the library's wrapper in tests/framework.)
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Video.h>

#include <future>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"

namespace
{
typedef CEngineTest PlatformComponent;
const OMX_U32 local_nSame = OMX_ErrorSameState, local_nIllegal = OMX_ErrorIncorrectStateTransition;
const OMX_U32 local_nUnpopulated = OMX_ErrorPortUnpopulated;

// Nothing of the kind arrives within the quiet period.
bool Quiet(const COmxTestClient& roClient, OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2)
{
    std::this_thread::sleep_for(g_oQuietPeriod);
    return roClient.CountEvents(eEvent, nData1, nData2) == 0;
}
} // namespace

TEST_F(PlatformComponent, StateChangesWaitForTheirBuffersHoldThemInIdleAndPauseAndRefuseWhatIsNotAllowed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    // Loaded -> Idle completes once every enabled port is populated.
    ASSERT_TRUE(Ok(oClient.SendState(OMX_StateIdle)) && Ok(oClient.AllocateBuffers(0, 4)) &&
                Ok(oClient.AllocateBuffers(1, 3)));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle) &&
                oClient.State() == OMX_StateLoaded && oClient.PortDefinition(0).bPopulated &&
                !oClient.PortDefinition(1).bPopulated);
    ASSERT_TRUE(Ok(oClient.AllocateBuffers(1, 1)) && oClient.WaitState(OMX_StateIdle));
    // Queued in Idle, processed from Executing on: what is copied, where to, with what.
    for (OMX_BUFFERHEADERTYPE* po : oClient.Buffers(0))
    {
        memset(po->pBuffer, 0x5A, po->nAllocLen);
        po->nFilledLen = 100;
        po->nOffset = 10;
        po->nTimeStamp = 1234;
    }
    ASSERT_TRUE(Ok(oClient.SubmitAll(0)) && Ok(oClient.SubmitAll(1)));
    std::this_thread::sleep_for(g_oQuietPeriod);
    ASSERT_TRUE(oClient.ReturnedCount(1) == 0 && oClient.GoTo(OMX_StateExecuting) && oClient.WaitReturned(1, 4));
    for (OMX_BUFFERHEADERTYPE* po : oClient.Buffers(1))
        EXPECT_TRUE(po->nFilledLen == 100 && po->nOffset == 0 && po->nTimeStamp == 1234 && po->pBuffer[99] == 0x5A);
    // Refused moves: an error event, no completion, the state unchanged.
    for (OMX_STATETYPE eTarget : {OMX_StateExecuting, OMX_StateLoaded, OMX_StateWaitForResources})
        ASSERT_TRUE(
            Ok(oClient.SendState(eTarget)) &&
            oClient.WaitEvent(OMX_EventError, eTarget == OMX_StateExecuting ? local_nSame : local_nIllegal, 0) &&
            oClient.State() == OMX_StateExecuting);
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    EXPECT_EQ(OMX_ErrorBadParameter, oClient.SendState(static_cast<OMX_STATETYPE>(42)));
    // Held in Pause, processed back in Executing; outputs without inputs stay with the component,
    // one input pairs with one output; the move to Idle (here from Pause) hands back the three
    // still held, unfilled, before it completes.
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause) && Ok(oClient.SubmitAll(0)) && Ok(oClient.SubmitAll(1)));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(4u, oClient.ReturnedCount(0));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting) && oClient.WaitReturned(0, 8) && oClient.WaitReturned(1, 8));
    ASSERT_TRUE(Ok(oClient.SubmitAll(1)) && Ok(oClient.Submit(oClient.Buffers(0)[0])) && oClient.WaitReturned(1, 9));
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause) && oClient.ReturnedCount(1) == 9 && oClient.GoTo(OMX_StateIdle));
    EXPECT_TRUE(oClient.ReturnedCount(1) == 12 && oClient.Buffers(1)[3]->nFilledLen == 0);
    // Idle -> Loaded completes once the last buffer is freed, with no unpopulated-port error.
    ASSERT_TRUE(Ok(oClient.SendState(OMX_StateLoaded)) && Ok(oClient.FreeBuffers(0)));
    const std::vector<OMX_BUFFERHEADERTYPE*> apoOutputs = oClient.Buffers(1);
    for (size_t ui = 1; ui < apoOutputs.size(); ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[ui]));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    ASSERT_TRUE(Ok(OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[0])) && oClient.WaitState(OMX_StateLoaded));
    // From Loaded: the same state, Executing and Pause are refused; WaitForResources and back.
    for (OMX_STATETYPE eTarget : {OMX_StateLoaded, OMX_StateExecuting, OMX_StatePause})
        ASSERT_TRUE(Ok(oClient.SendState(eTarget)) &&
                    oClient.WaitEvent(OMX_EventError, eTarget == OMX_StateLoaded ? local_nSame : local_nIllegal, 0));
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources) && oClient.GoTo(OMX_StateLoaded));
    EXPECT_EQ(0u, oClient.CountEvents());
}

TEST_F(PlatformComponent, BufferCallsAreCheckedAndAHeldBufferCannotBeFreed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE h = oClient.Handle();
    const OMX_U32 nSize = oClient.PortDefinition(0).nBufferSize;
    OMX_BUFFERHEADERTYPE* po = nullptr;
    std::vector<OMX_U8> aucMemory(4 * nSize);
    OMX_U8* const p = aucMemory.data();
    EXPECT_TRUE(OMX_AllocateBuffer(h, &po, 0, nullptr, nSize) == OMX_ErrorIncorrectStateOperation &&
                OMX_UseBuffer(h, &po, 0, nullptr, nSize, p) == OMX_ErrorIncorrectStateOperation);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    for (OMX_ERRORTYPE e :
         {OMX_AllocateBuffer(h, &po, 0, nullptr, nSize - 1), OMX_UseBuffer(h, &po, 0, nullptr, nSize - 1, p),
          OMX_UseBuffer(h, &po, 0, nullptr, nSize, nullptr), OMX_AllocateBuffer(h, nullptr, 0, nullptr, nSize)})
        EXPECT_EQ(OMX_ErrorBadParameter, e);
    EXPECT_EQ(OMX_ErrorBadPortIndex, OMX_AllocateBuffer(h, &po, 7, nullptr, nSize));
    // The caller's memory is used as it is; still Loaded (the output port waits for its buffers),
    // nothing can be submitted; an allocated header is filled in for the caller.
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 0, nSize, {p, p + nSize, p + 2 * nSize, p + 3 * nSize}));
    EXPECT_TRUE(oClient.Buffers(0)[3]->pBuffer == p + 3 * nSize && oClient.Buffers(0)[3]->nAllocLen == nSize &&
                OMX_EmptyThisBuffer(h, oClient.Buffers(0)[0]) == OMX_ErrorIncorrectStateOperation &&
                OMX_AllocateBuffer(h, &po, 0, nullptr, nSize) == OMX_ErrorIncorrectStateOperation);
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4, 4096));
    po = oClient.Buffers(1)[0];
    EXPECT_TRUE(po->pAppPrivate == &oClient && po->nOutputPortIndex == 1 && po->nInputPortIndex == 1 &&
                po->nAllocLen == 4096 && po->nSize == sizeof(OMX_BUFFERHEADERTYPE) &&
                po->nVersion.s.nVersionMajor == 1 && reinterpret_cast<uintptr_t>(po->pBuffer) % 64 == 0);
    memset(po->pBuffer, 0xFF, 4096);  // the whole block is the caller's
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle) && oClient.GoTo(OMX_StateExecuting));
    // Freeing and submitting: the header must belong to the port; submission never waits.
    OMX_BUFFERHEADERTYPE *poInput = oClient.Buffers(0)[0], *poOutput = oClient.Buffers(1)[0];
    OMX_BUFFERHEADERTYPE oForeign = *poInput;
    for (OMX_ERRORTYPE e :
         {OMX_FreeBuffer(h, 0, &oForeign), OMX_FreeBuffer(h, 0, poOutput), OMX_FreeBuffer(h, 0, nullptr),
          OMX_EmptyThisBuffer(h, nullptr), OMX_EmptyThisBuffer(h, &oForeign)})
        EXPECT_EQ(OMX_ErrorBadParameter, e);
    for (OMX_ERRORTYPE e :
         {OMX_FreeBuffer(h, 9, poInput), OMX_EmptyThisBuffer(h, poOutput), OMX_FillThisBuffer(h, poInput)})
        EXPECT_EQ(OMX_ErrorBadPortIndex, e);
    poInput->nOffset = 10;
    poInput->nFilledLen = poInput->nAllocLen;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(h, poInput));
    poInput->nOffset = 0;
    poInput->nFilledLen = 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(h, poInput));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_EmptyThisBuffer(h, poInput));  // already queued
    std::this_thread::sleep_for(g_oQuietPeriod);
    // A queued buffer cannot be freed while the component may work on it.
    EXPECT_TRUE(oClient.ReturnedCount(0) == 0 && OMX_FreeBuffer(h, 0, poInput) == OMX_ErrorIncorrectStateOperation);
    ASSERT_TRUE(Ok(OMX_FillThisBuffer(h, poOutput)) && oClient.WaitReturned(1, 1) && poOutput->nFilledLen == 16);
    // Freed outside a move to Loaded or a disable: the port is unpopulated, and says so.
    ASSERT_TRUE(Ok(OMX_FreeBuffer(h, 0, oClient.Buffers(0)[3])) &&
                oClient.WaitEvent(OMX_EventError, local_nUnpopulated, 0));
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(0).bPopulated);
    // Queued in Idle, then freed on the way to Loaded: dropped without a callback.
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle) && Ok(OMX_FillThisBuffer(h, poOutput)));
    const unsigned uiReturned = oClient.ReturnedCount(1);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    for (size_t ui = 0; ui < 3; ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(h, 0, oClient.Buffers(0)[ui]));
    ASSERT_TRUE(Ok(oClient.FreeBuffers(1)) && oClient.WaitState(OMX_StateLoaded));
    EXPECT_LE(oClient.ReturnedCount(1), uiReturned + 1);
}

TEST_F(PlatformComponent, PortDefinitionsAndPortCommands)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE h = oClient.Handle();
    typedef OMX_PARAM_PORTDEFINITIONTYPE TPort;
    for (const auto& ro : std::vector<std::pair<void (*)(TPort&), OMX_ERRORTYPE>>{
             {[](TPort& o) { o.nBufferCountActual = 0; }, OMX_ErrorBadParameter},
             {[](TPort& o) { o.nBufferCountActual = 1000; }, OMX_ErrorBadParameter},
             {[](TPort& o) { o.nBufferSize = 0; }, OMX_ErrorBadParameter},
             {[](TPort& o) { o.nPortIndex = 5; }, OMX_ErrorBadPortIndex},
             {[](TPort& o) { o.nSize = 8; }, OMX_ErrorBadParameter},
             {[](TPort& o) { o.nVersion.s.nVersionMajor = 2; }, OMX_ErrorVersionMismatch}})
        EXPECT_EQ(ro.second, oClient.SetPort(1, ro.first));
    TPort oDefinition = Initialised<TPort>(5);
    EXPECT_EQ(OMX_ErrorBadPortIndex, oClient.Param(OMX_IndexParamPortDefinition, oDefinition, false));
    // Accepted; the read-only fields keep the component's values.
    EXPECT_EQ(OMX_ErrorNone, oClient.SetPort(1, [](TPort& o) {
        o.nBufferCountActual = 2;
        o.nBufferSize = 8192;
        o.eDir = OMX_DirInput;
        o.nBufferCountMin = 0;
    }));
    oDefinition = oClient.PortDefinition(1);
    EXPECT_TRUE(oDefinition.nBufferCountActual == 2 && oDefinition.nBufferSize == 8192 &&
                oDefinition.nBufferCountMin == 1 && oDefinition.eDir == OMX_DirOutput &&
                oDefinition.eDomain == OMX_PortDomainVideo);
    // Port counts: reported per domain, a set only confirms them.
    auto oPorts = Initialised<OMX_PORT_PARAM_TYPE>();
    ASSERT_TRUE(Ok(oClient.Param(OMX_IndexParamVideoInit, oPorts, false)) && oPorts.nPorts == 2 &&
                Ok(oClient.Param(OMX_IndexParamVideoInit, oPorts, true)));
    ASSERT_TRUE(Ok(oClient.Param(OMX_IndexParamAudioInit, oPorts, false)) && oPorts.nPorts == 0);
    oPorts.nPorts = 3;
    EXPECT_EQ(OMX_ErrorBadParameter, oClient.Param(OMX_IndexParamAudioInit, oPorts, true));
    // In Loaded a port command completes at once, for every port of OMX_ALL; with every port
    // disabled Idle needs no buffers.
    for (OMX_COMMANDTYPE eCommand : {OMX_CommandPortDisable, OMX_CommandPortEnable})
        ASSERT_TRUE(
            Ok(oClient.Command(eCommand, OMX_ALL)) && oClient.WaitEvent(OMX_EventCmdComplete, eCommand, 0) &&
            oClient.WaitEvent(OMX_EventCmdComplete, eCommand, 1) &&
            (eCommand == OMX_CommandPortEnable || (oClient.GoTo(OMX_StateIdle) && oClient.GoTo(OMX_StateLoaded))));
    EXPECT_TRUE(oClient.Command(OMX_CommandPortEnable, 3) == OMX_ErrorBadPortIndex &&
                oClient.Command(OMX_CommandFlush, 4) == OMX_ErrorBadPortIndex);
    // Enabled outside Loaded a definition is refused. Flush: the held buffers of that port, or of
    // all of them, go back; the state stays.
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, oClient.Param(OMX_IndexParamPortDefinition, oDefinition, true));
    ASSERT_TRUE(Ok(oClient.SubmitAll(1)) && Ok(oClient.Command(OMX_CommandFlush, 1)) &&
                oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_TRUE(oClient.ReturnedCount(1) == 2 && oClient.ReturnedCount(0) == 0);
    ASSERT_TRUE(Ok(oClient.SubmitAll(0)) && Ok(oClient.Command(OMX_CommandFlush, OMX_ALL)) &&
                oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 0) &&
                oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_TRUE(oClient.ReturnedCount(0) == 4 && oClient.State() == OMX_StateExecuting);
    // Disable: the held buffers go back at once; it completes once they are freed (no
    // unpopulated-port error), and the port takes no buffer meanwhile; a disabled port's
    // definition may be set. Enable completes once the port is populated again; then buffers flow.
    ASSERT_TRUE(Ok(oClient.SubmitAll(1)) && Ok(oClient.Command(OMX_CommandPortDisable, 1)) &&
                oClient.WaitReturned(1, 4));
    EXPECT_TRUE(!oClient.PortDefinition(1).bEnabled &&
                OMX_FillThisBuffer(h, oClient.Buffers(1)[0]) == OMX_ErrorIncorrectStateOperation);
    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(h, 1, oClient.Buffers(1)[0]));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    ASSERT_TRUE(Ok(OMX_FreeBuffer(h, 1, oClient.Buffers(1)[1])) &&
                oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventError, local_nUnpopulated, 1));
    oDefinition.nBufferCountActual = 1;
    ASSERT_TRUE(Ok(oClient.Param(OMX_IndexParamPortDefinition, oDefinition, true)) &&
                Ok(oClient.Command(OMX_CommandPortEnable, 1)));
    EXPECT_TRUE(Quiet(oClient, OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    OMX_BUFFERHEADERTYPE* poNew = nullptr;
    ASSERT_TRUE(Ok(OMX_AllocateBuffer(h, &poNew, 1, nullptr, 8192)) &&
                oClient.WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    ASSERT_TRUE(Ok(OMX_FillThisBuffer(h, poNew)) && Ok(oClient.Submit(oClient.Buffers(0)[0])) &&
                oClient.WaitReturned(1, 5));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle) && Ok(oClient.SendState(OMX_StateLoaded)) && Ok(oClient.FreeBuffers(0)) &&
                Ok(OMX_FreeBuffer(h, 1, poNew)) && oClient.WaitState(OMX_StateLoaded));
}

TEST_F(PlatformComponent, SettingsAndTheOtherEntryPointsAnswerAsTheStandardSays)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE h = oClient.Handle();
    auto oRate = Initialised<OMX_CONFIG_FRAMERATETYPE>();
    oRate.xEncodeFramerate = 30 << 16;
    ASSERT_EQ(OMX_ErrorNone, oClient.Param(OMX_IndexConfigVideoFramerate, oRate, true, true));
    EXPECT_EQ(30u << 16,
              ReadParam<OMX_CONFIG_FRAMERATETYPE>(h, OMX_IndexConfigVideoFramerate, 0, true).xEncodeFramerate);
    // Another port, a short structure, none; known as a configuration only; unknown indices.
    OMX_CONFIG_FRAMERATETYPE oOtherPort = oRate, oShort = oRate;
    oOtherPort.nPortIndex = 1;
    oShort.nSize = sizeof(oRate) - 4;
    char szName[OMX_MAX_STRINGNAME_SIZE];
    OMX_VERSIONTYPE oComponentVersion, oSpecVersion;
    OMX_UUIDTYPE oUuid;
    OMX_INDEXTYPE eIndex;
    auto* po = static_cast<OMX_COMPONENTTYPE*>(h);
    OMX_CALLBACKTYPE oCallbacks = {nullptr, nullptr, nullptr};
    // The port counts can be set as they are only; no role.
    auto oVideoPorts = ReadParam<OMX_PORT_PARAM_TYPE>(h, OMX_IndexParamVideoInit);
    auto oMorePorts = oVideoPorts;
    ++oMorePorts.nPorts;
    OMX_U8 aucRole[OMX_MAX_STRINGNAME_SIZE];
    const std::vector<std::pair<OMX_ERRORTYPE, OMX_ERRORTYPE>> aoAnswers = {
        {OMX_ErrorNone, oClient.Param(OMX_IndexParamVideoInit, oVideoPorts, true)},
        {OMX_ErrorBadParameter, oClient.Param(OMX_IndexParamVideoInit, oMorePorts, true)},
        {OMX_ErrorBadParameter, OMX_GetComponentVersion(h, nullptr, &oComponentVersion, &oSpecVersion, &oUuid)},
        {OMX_ErrorBadParameter, OMX_GetExtensionIndex(h, nullptr, &eIndex)},
        {OMX_ErrorBadParameter, po->ComponentRoleEnum(h, nullptr, 0)},
        {OMX_ErrorNoMore, po->ComponentRoleEnum(h, aucRole, 0)},
        {OMX_ErrorBadPortIndex, oClient.Param(OMX_IndexConfigVideoFramerate, oOtherPort, false, true)},
        {OMX_ErrorBadParameter, oClient.Param(OMX_IndexConfigVideoFramerate, oShort, true, true)},
        {OMX_ErrorBadParameter, OMX_GetConfig(h, OMX_IndexConfigVideoFramerate, nullptr)},
        {OMX_ErrorUnsupportedIndex, oClient.Param(OMX_IndexConfigVideoFramerate, oRate, false)},
        {OMX_ErrorUnsupportedIndex, oClient.Param(OMX_IndexConfigVideoBitrate, oRate, false, true)},
        {OMX_ErrorUnsupportedIndex, oClient.Param(OMX_IndexParamVideoAvc, oRate, true)},
        {OMX_ErrorNone, OMX_GetComponentVersion(h, szName, &oComponentVersion, &oSpecVersion, &oUuid)},
        {OMX_ErrorUnsupportedIndex, OMX_GetExtensionIndex(h, const_cast<char*>("OMX.Pellix.x"), &eIndex)},
        {OMX_ErrorBadParameter, OMX_GetState(h, nullptr)},
        {OMX_ErrorTunnelingUnsupported, po->ComponentTunnelRequest(h, 0, nullptr, 0, nullptr)},
        {OMX_ErrorNotImplemented, oClient.Command(OMX_CommandMarkBuffer, 0)},
        {OMX_ErrorBadParameter, po->SetCallbacks(h, nullptr, nullptr)}};
    for (size_t ui = 0; ui < aoAnswers.size(); ++ui)
        EXPECT_EQ(aoAnswers[ui].first, aoAnswers[ui].second) << ui;
    EXPECT_TRUE(std::string(szName) == PELLIX_TEST_SOURCE && oSpecVersion.s.nVersionMajor == 1 &&
                oSpecVersion.s.nVersionMinor == 1);
    EXPECT_TRUE(oVideoPorts.nPorts == 1 && oVideoPorts.nStartPortNumber == 0) << oVideoPorts.nPorts;
    ASSERT_TRUE(oClient.GoToExecuting() &&
                po->SetCallbacks(h, &oCallbacks, nullptr) == OMX_ErrorIncorrectStateOperation &&
                oClient.Param(OMX_IndexParamVideoInit, oVideoPorts, true) == OMX_ErrorIncorrectStateOperation &&
                oClient.GoToLoaded());
    // The invalid state refuses everything but the handle's release.
    ASSERT_TRUE(Ok(oClient.SendState(OMX_StateInvalid)) &&
                oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInvalidState), 0));
    EXPECT_TRUE(oClient.State() == OMX_StateInvalid && oClient.SendState(OMX_StateLoaded) == OMX_ErrorInvalidState &&
                oClient.Param(OMX_IndexConfigVideoFramerate, oRate, false, true) == OMX_ErrorInvalidState &&
                oClient.FreeHandle() == OMX_ErrorNone);
}

TEST_F(PlatformComponent, FreeingAHandleInEveryStateFromAnyThreadReleasesEverything)
{
    const std::function<bool(COmxTestClient&)> afnStates[] = {
        // Loaded, with a move to Idle waiting for buffers, some of them allocated.
        [](COmxTestClient& ro) { return Ok(ro.SendState(OMX_StateIdle)) && Ok(ro.AllocateBuffers(0, 2)); },
        // Idle, with buffers queued.
        [](COmxTestClient& ro) {
            return Ok(ro.SendState(OMX_StateIdle)) && Ok(ro.AllocateBuffers(0, 4)) && Ok(ro.AllocateBuffers(1, 4)) &&
                   ro.WaitState(OMX_StateIdle) && Ok(ro.SubmitAll(1));
        },
        // Pause, with buffers held.
        [](COmxTestClient& ro) { return ro.GoToExecuting() && ro.GoTo(OMX_StatePause) && Ok(ro.SubmitAll(0)); }};
    for (size_t ui = 0; ui < 3; ++ui)
    {
        COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
        ASSERT_TRUE(afnStates[ui](oClient) && Ok(oClient.FreeHandle())) << ui;
    }
    {
        // Executing, producing as fast as it can, with a command still queued.
        COmxTestClient oClient(PELLIX_TEST_SOURCE);
        oClient.Recycle(0);
        ASSERT_TRUE(oClient.GoToExecuting() && Ok(oClient.SubmitAll(0)) && oClient.WaitReturned(0, 50));
        ASSERT_TRUE(Ok(PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 10000)) && Ok(oClient.SendState(OMX_StateIdle)) &&
                    Ok(oClient.FreeHandle()));
    }
    EXPECT_TRUE(ThreadCount() == m_uiThreadsBefore && OMX_FreeHandle(nullptr) == OMX_ErrorBadParameter);
    PellixTest_Reset();
    // A free racing a state command never hangs in the join: the component's thread may be between
    // two steps of the command (the lock let go while it asks the test control for a fault) when the
    // free asks it to quit. Faults armed for nobody make that step long.
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(OMX_ErrorNone,
                  PellixTest_InjectFault(PellixFault_SetConfig, "OMX.Pellix.Nobody", 0, 1, OMX_ErrorUndefined));
    std::future<int> oCycles = std::async(std::launch::async, [] {
        int iCycle = 0;
        for (; iCycle < 200; ++iCycle)
        {
            COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
            if (!Ok(oClient.SendState(OMX_StateIdle)) || !Ok(oClient.FreeHandle()))
                break;
        }
        return iCycle;
    });
    ASSERT_EQ(std::future_status::ready, oCycles.wait_for(std::chrono::seconds(30))) << "a free hangs in the join";
    EXPECT_EQ(200, oCycles.get());
    PellixTest_Reset();
    // A handle freed from its own callback; the fixture waits for its thread to have gone.
    std::promise<OMX_ERRORTYPE> oFreed;
    OMX_CALLBACKTYPE oCallbacks = {[](OMX_HANDLETYPE hSelf, OMX_PTR pv, OMX_EVENTTYPE eEvent, OMX_U32, OMX_U32, OMX_PTR)
                                   {
                                       if (eEvent == OMX_EventCmdComplete)
                                           static_cast<std::promise<OMX_ERRORTYPE>*>(pv)->set_value(
                                               OMX_FreeHandle(hSelf));
                                       return OMX_ErrorNone;
                                   },
                                   nullptr, nullptr};
    OMX_HANDLETYPE hSelf = nullptr;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetHandle(&hSelf, const_cast<char*>(PELLIX_TEST_SOURCE), &oFreed, &oCallbacks));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hSelf, OMX_CommandStateSet, OMX_StateWaitForResources, nullptr));
    std::future<OMX_ERRORTYPE> oResult = oFreed.get_future();
    ASSERT_EQ(std::future_status::ready, oResult.wait_for(std::chrono::seconds(20)));
    EXPECT_TRUE(oResult.get() == OMX_ErrorNone && PellixPlatform_LiveHandleCount() == m_uiLiveBefore);
}
