// The component base: text tables, port set-up and the checked connection of two components.
#include <gtest/gtest.h>

#include <string>

#include "AbortRecords.h"
#include "ComponentTestSupport.h"
#include "OutputCapture.h"
#include "ti814x-framework.h"

namespace
{
const char* const local_szComponentFile = "framework/base-components/OMXClassComponent";

// A component with one output port only.
class COneOutputComponent : public CComponent
{
public:
    OMX_ERRORTYPE Init() override { return InitPorts(); }
    OMX_ERRORTYPE Deinit() override { return OMX_ErrorNone; }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiOutputPortCount = 1;
        m_poOutputPort = &m_oOutput;
        return m_eCreateResult;
    }
    CSourcePort m_oOutput;
    OMX_ERRORTYPE m_eCreateResult = OMX_ErrorNone;
};

class ComponentBase : public ::testing::Test
{
protected:
    void SetUp() override { SetInfoMessageLevel(0); }
    void TearDown() override { SetInfoMessageLevel(0); }
};
} // namespace

TEST_F(ComponentBase, ErrorTextsCoverNoneAndTheEighteenCodesInOrder)
{
    const char* const aszTexts[] = {
        "OMX_ErrorInsufficientResources", "OMX_ErrorUndefined",       "OMX_ErrorInvalidComponentName",
        "OMX_ErrorComponentNotFound",     "OMX_ErrorInvalidComponent", "OMX_ErrorBadParameter",
        "OMX_ErrorNotImplemented",        "OMX_ErrorUnderflow",        "OMX_ErrorOverflow",
        "OMX_ErrorHardware",              "OMX_ErrorInvalidState",     "OMX_ErrorStreamCorrupt",
        "OMX_ErrorPortsNotCompatible",    "OMX_ErrorResourcesLost",    "OMX_ErrorNoMore",
        "OMX_ErrorVersionMismatch",       "OMX_ErrorNotReady",         "OMX_ErrorTimeout",
    };
    EXPECT_STREQ("OMX_ErrorNone", CComponent::ErrorToStr(OMX_ErrorNone));
    for (unsigned i = 0; i < 18; ++i)
        EXPECT_STREQ(aszTexts[i], CComponent::ErrorToStr(static_cast<OMX_ERRORTYPE>(0x80001000u + i))) << i;
    EXPECT_STREQ("OMX_ErrorTimeout", CComponent::ErrorToStr(OMX_ErrorTimeout));
    EXPECT_STREQ("OMX_ErrorInsufficientResources", CComponent::ErrorToStr(OMX_ErrorInsufficientResources));
    EXPECT_STREQ("Unknown error", CComponent::ErrorToStr(OMX_ErrorSameState));
    EXPECT_STREQ("Unknown error", CComponent::ErrorToStr(OMX_ErrorIncorrectStateTransition));
    EXPECT_STREQ("Unknown error", CComponent::ErrorToStr(static_cast<OMX_ERRORTYPE>(0x80000FFFu)));
    EXPECT_STREQ("Unknown error", CComponent::ErrorToStr(static_cast<OMX_ERRORTYPE>(1)));
}

TEST_F(ComponentBase, EventStateAndCommandTexts)
{
    const char* const aszEvents[] = {"OMX_EventCmdComplete",         "OMX_EventError",      "OMX_EventMark",
                                     "OMX_EventPortSettingsChanged", "OMX_EventBufferFlag", "OMX_EventResourcesAcquired"};
    const char* const aszStates[] = {"OMX_StateInvalid",   "OMX_StateLoaded", "OMX_StateIdle",
                                     "OMX_StateExecuting", "OMX_StatePause",  "OMX_StateWaitForResources"};
    const char* const aszCommands[] = {"OMX_CommandStateSet", "OMX_CommandFlush", "OMX_CommandPortDisable",
                                       "OMX_CommandPortEnable", "OMX_CommandMarkBuffer"};
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_STREQ(aszEvents[i], CComponent::EventToStr(static_cast<OMX_EVENTTYPE>(i)));
        EXPECT_STREQ(aszStates[i], CComponent::StateToStr(static_cast<OMX_STATETYPE>(i)));
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_STREQ(aszCommands[i], CComponent::CommandToStr(static_cast<OMX_COMMANDTYPE>(i)));
    EXPECT_STREQ("OMX_EventUnknow", CComponent::EventToStr(static_cast<OMX_EVENTTYPE>(6)));
    EXPECT_STREQ("OMX_EventUnknow", CComponent::EventToStr(OMX_EventPortFormatDetected));
    EXPECT_STREQ("OMX_StateUnknow", CComponent::StateToStr(static_cast<OMX_STATETYPE>(6)));
    EXPECT_STREQ("OMX_StateUnknow", CComponent::StateToStr(static_cast<OMX_STATETYPE>(-1)));
    EXPECT_STREQ("OMX_CommandUnknow", CComponent::CommandToStr(static_cast<OMX_COMMANDTYPE>(5)));
    EXPECT_STREQ("OMX_CommandUnknow", CComponent::CommandToStr(static_cast<OMX_COMMANDTYPE>(0x7F000001)));
}

TEST_F(ComponentBase, BaseOperationsAreNotImplementedAndConstructionIsTraced)
{
    SetInfoMessageLevel(3);
    COutputCapture oOut(STDOUT_FILENO);
    std::string oText;
    {
        COneOutputComponent oComponent;
        EXPECT_EQ(nullptr, oComponent.GetOMXHandle());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.Start());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.Stop());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.Execute(0));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.Pause());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.Loaded(0));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.StartBufferProcessing());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.StopBufferProcessing());
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.FillThisBuffer(nullptr));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.FillBufferDone(nullptr));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.EmptyThisBuffer(nullptr));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.EmptyBufferDone(nullptr));
        EXPECT_EQ(OMX_ErrorNotImplemented, oComponent.SetParameters());
        EXPECT_EQ(OMX_ErrorNone, oComponent.SetParametersIdle());
        EXPECT_FALSE(oComponent.IsBufferProcessing());
        EXPECT_EQ(0u, oComponent.GetInputPortCount());
        EXPECT_EQ(0u, oComponent.GetOutputPortCount());
    }
    oText = oOut.Finish();
    EXPECT_NE(std::string::npos, oText.find("# CComponent           \n")) << oText;
    EXPECT_NE(std::string::npos, oText.find("# ~CComponent          \n")) << oText;
    EXPECT_NE(std::string::npos, oText.find("# CPort                \n")) << oText;
    EXPECT_NE(std::string::npos, oText.find("# ~CPort               \n")) << oText;
}

TEST_F(ComponentBase, InitPortsSetsTheParentOfEveryPort)
{
    SetInfoMessageLevel(1);
    CRecordingComponent oComponent;
    COutputCapture oOut(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, oComponent.Init());
    const std::string oText = oOut.Finish();
    EXPECT_NE(std::string::npos, oText.find("# InitPorts            OMXHandle((nil))\n")) << oText;
    EXPECT_EQ(&oComponent, oComponent.m_oInput.GetParent());
    EXPECT_EQ(&oComponent, oComponent.m_oOutput.GetParent());
    EXPECT_EQ(1u, oComponent.GetInputPortCount());
    EXPECT_EQ(1u, oComponent.GetOutputPortCount());
}

TEST_F(ComponentBase, InitPortsReturnsTheErrorOfCreatePortsWithARecord)
{
    COneOutputComponent oComponent;
    oComponent.m_eCreateResult = OMX_ErrorInsufficientResources;
    std::string oOther;
    const auto aoRecords =
        CaptureAbortRecords([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oComponent.Init()); }, oOther);
    ASSERT_EQ(1u, aoRecords.size()) << oOther;
    EXPECT_EQ(std::string(local_szComponentFile) + "/InitPorts/OMX_ErrorInsufficientResources", aoRecords[0].Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords[0], PELLIX_SOURCE_DIR));
    EXPECT_EQ("", oOther);
    EXPECT_EQ(nullptr, oComponent.m_oOutput.GetParent());
}

TEST_F(ComponentBase, ConnectToLinksOutputToInput)
{
    CRecordingComponent oSource;
    CRecordingComponent oSink;
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oSink.Init());
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oSink, 0));
    const std::string oText = oOut.Finish();
    // Software components have no platform handle: the line shows null handles.
    EXPECT_NE(std::string::npos, oText.find("# ConnectTo            (nil)[0] to (nil)[0]\n")) << oText;
    EXPECT_EQ(&oSink.m_oInput, oSource.m_oOutput.GetRemotePort());
    EXPECT_EQ(&oSource.m_oOutput, oSink.m_oInput.GetRemotePort());
}

TEST_F(ComponentBase, ConnectToRefusesBadIndicesAndANullTarget)
{
    COneOutputComponent oSource;
    CRecordingComponent oSink;
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oSink.Init());
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(OMX_ErrorBadParameter, oSource.ConnectTo(1, &oSink, 0));
    EXPECT_EQ(OMX_ErrorBadParameter, oSource.ConnectTo(0, &oSink, 1));
    EXPECT_EQ(OMX_ErrorBadParameter, oSource.ConnectTo(0, nullptr, 0));
    const std::string oErrText = oErr.Finish();
    const std::string oOutText = oOut.Finish();
    EXPECT_NE(std::string::npos, oOutText.find("# ConnectTo            (nil)[1] to (nil)[0]\n")) << oOutText;
    EXPECT_NE(std::string::npos, oOutText.find("# ConnectTo            (nil)[0] to (nil)[1]\n")) << oOutText;
    std::string oOther;
    const auto aoRecords = ParseAbortRecords(oErrText, oOther);
    EXPECT_EQ("", oOther);
    ASSERT_EQ(3u, aoRecords.size()) << oErrText;
    for (const SAbortRecord& roRecord : aoRecords)
    {
        EXPECT_EQ(std::string(local_szComponentFile) + "/ConnectTo/OMX_ErrorBadParameter", roRecord.Key());
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR));
    }
    // Nothing was linked.
    EXPECT_EQ(nullptr, oSource.m_oOutput.GetRemotePort());
    EXPECT_EQ(nullptr, oSink.m_oInput.GetRemotePort());
}
