// Chains of software and platform components on the platform engine, started from the head,
// circulating buffers on the components' own threads, stopped back to loaded and deinitialised.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "AbortRecords.h"
#include "Eventually.h"
#include "PlatformTestSupport.h"

namespace
{
// The memory behind each header of a port.
std::set<OMX_U8*> PortMemory(const CPort& roPort)
{
    std::set<OMX_U8*> oMemory;
    for (MUINT32 i = 0; i < roPort.GetBufferCount(); ++i)
        if (roPort.GetBufferHeader(i) != nullptr)
            oMemory.insert(roPort.GetBufferHeader(i)->pBuffer);
    return oMemory;
}

std::set<OMX_BUFFERHEADERTYPE*> PortHeaders(const CPort& roPort)
{
    std::set<OMX_BUFFERHEADERTYPE*> oHeaders;
    for (MUINT32 i = 0; i < roPort.GetBufferCount(); ++i)
        oHeaders.insert(roPort.GetBufferHeader(i));
    return oHeaders;
}

unsigned long long Counter(const char* szName, PellixCounter eCounter)
{
    return PellixTest_GetCounter(szName, eCounter);
}

class ComponentChain : public PlatformTest
{
};

// Source (platform) -> pass-through -> pass-through -> sink; bUpstreamProvides chooses, on each
// platform-to-platform link, whether the upstream output or the downstream input allocates.
struct SPlatformChain
{
    explicit SPlatformChain(bool bUpstreamProvides)
        : m_oSource(PELLIX_TEST_SOURCE, {}, {{0, bUpstreamProvides}}),
          m_oFirst(PELLIX_TEST_PASS_THROUGH, {{0, !bUpstreamProvides}}, {{1, bUpstreamProvides}}),
          m_oSecond(PELLIX_TEST_PASS_THROUGH, {{0, !bUpstreamProvides}}, {{1, true}})
    {
    }

    void Init()
    {
        ASSERT_EQ(OMX_ErrorNone, m_oSource.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oFirst.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSecond.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSource.ConnectTo(0, &m_oFirst, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oFirst.ConnectTo(0, &m_oSecond, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oSecond.ConnectTo(0, &m_oSink, 0));
    }

    void Deinit()
    {
        EXPECT_EQ(OMX_ErrorNone, m_oSink.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSecond.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oFirst.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Deinit());
    }

    CTestOMXWrapper m_oSource;
    CTestOMXWrapper m_oFirst;
    CTestOMXWrapper m_oSecond;
    CCountingSink m_oSink;
};

// Every hand-over along the chain is matched by its return, and the platform's own counts agree.
// (A duplicated header would have been refused by the platform with an ABORT record, a lost one
// would have kept its component from reaching loaded.)
void ExpectBalanced(SPlatformChain& roChain, unsigned uiCycles)
{
    SCOPED_TRACE(::testing::Message()
                 << "source FBD " << roChain.m_oSource.m_uiFillBufferDone << " FTB " << roChain.m_oSource.m_uiFillThisBuffer
                 << "; first ETB " << roChain.m_oFirst.m_uiEmptyThisBuffer << " EBD " << roChain.m_oFirst.m_uiEmptyBufferDone
                 << " FBD " << roChain.m_oFirst.m_uiFillBufferDone << " FTB " << roChain.m_oFirst.m_uiFillThisBuffer
                 << "; second ETB " << roChain.m_oSecond.m_uiEmptyThisBuffer << " EBD "
                 << roChain.m_oSecond.m_uiEmptyBufferDone << " FBD " << roChain.m_oSecond.m_uiFillBufferDone << " FTB "
                 << roChain.m_oSecond.m_uiFillThisBuffer << "; sink " << roChain.m_oSink.m_uiTotal);
    // Downstream: what one component's platform filled is what the next one was given.
    EXPECT_EQ(roChain.m_oSource.m_uiFillBufferDone.load(), roChain.m_oFirst.m_uiEmptyThisBuffer.load());
    EXPECT_EQ(roChain.m_oFirst.m_uiFillBufferDone.load(), roChain.m_oSecond.m_uiEmptyThisBuffer.load());
    EXPECT_EQ(roChain.m_oSecond.m_uiFillBufferDone.load(), roChain.m_oSink.m_uiTotal.load());
    // Upstream: every consumed buffer went back to be filled again, every emptied one too.
    EXPECT_EQ(roChain.m_oFirst.m_uiEmptyBufferDone.load(), roChain.m_oSource.m_uiFillThisBuffer.load());
    EXPECT_EQ(roChain.m_oSecond.m_uiEmptyBufferDone.load(), roChain.m_oFirst.m_uiFillThisBuffer.load());
    EXPECT_EQ(roChain.m_oSink.m_uiTotal.load(), roChain.m_oSecond.m_uiFillThisBuffer.load());
    // A filter is handed back, as consumed, what it was handed; only a buffer arriving just as
    // it stops is kept without reaching its platform component (at most one per buffer and stop).
    for (CTestOMXWrapper* poFilter : {&roChain.m_oFirst, &roChain.m_oSecond})
    {
        EXPECT_LE(poFilter->m_uiEmptyBufferDone.load(), poFilter->m_uiEmptyThisBuffer.load());
        EXPECT_LE(poFilter->m_uiEmptyThisBuffer.load(), poFilter->m_uiEmptyBufferDone + 4 * uiCycles);
    }
}

// The platform's counts of buffers handed back agree with what the wrappers received.
void ExpectPlatformAgrees(std::initializer_list<const CTestOMXWrapper*> aoFilters)
{
    unsigned long long uiEmptied = 0;
    unsigned long long uiFilled = 0;
    for (const CTestOMXWrapper* poFilter : aoFilters)
    {
        uiEmptied += poFilter->m_uiEmptyBufferDone;
        uiFilled += poFilter->m_uiFillBufferDone;
    }
    EXPECT_EQ(uiEmptied, Counter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersEmptied));
    EXPECT_EQ(uiFilled, Counter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersFilled));
}
} // namespace

TEST_F(ComponentChain, DefaultSourceFeedsAPassThroughIntoASink)
{
    CCountingDefaultSource oSource;
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    CCountingSink oSink;
    oSource.SetFrameSize(64, 16);
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    ASSERT_EQ(OMX_ErrorNone, oSink.Init());
    ASSERT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oFilter, 0));
    ASSERT_EQ(OMX_ErrorNone, oFilter.ConnectTo(0, &oSink, 0));

    std::string oOther;
    std::set<OMX_U8*> oInputMemory;
    std::set<OMX_BUFFERHEADERTYPE*> oOutputHeaders;
    const auto aoRecords = CaptureAbortRecords(
        [&] {
            ASSERT_EQ(OMX_ErrorNone, oSource.Start());
            EXPECT_EQ(OMX_StateExecuting, oFilter.GetComponentState());
            EXPECT_EQ(OMX_StateExecuting, CTestOMXWrapper::PlatformState(oFilter.GetOMXHandle()));
            // The filter allocated both sides; the source writes into the filter's input memory.
            EXPECT_TRUE(oFilter.m_aoInput[0].IsBufferProvider());
            EXPECT_FALSE(oSource.GetOutputPort().IsBufferProvider());
            oInputMemory = PortMemory(oFilter.m_aoInput[0]);
            oOutputHeaders = PortHeaders(oFilter.m_aoOutput[0]);
            EXPECT_EQ(4u, oInputMemory.size());
            EXPECT_EQ(oInputMemory, PortMemory(oSource.GetOutputPort()));
            ASSERT_TRUE(Eventually([&] { return oSink.m_uiTotal >= 40; }));
            ASSERT_EQ(OMX_ErrorNone, oSource.Stop());
        },
        oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;
    EXPECT_EQ(OMX_StateLoaded, oFilter.GetComponentState());
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(oFilter.GetOMXHandle()));
    EXPECT_FALSE(oSource.GetOutputPort().IsBufferReady());
    EXPECT_FALSE(oFilter.m_aoInput[0].IsBufferReady());
    EXPECT_FALSE(oFilter.m_aoOutput[0].IsBufferReady());

    // Each of the filter's output headers reached the sink more than once: it came back to be
    // refilled. Each input buffer was produced more than once.
    const auto oReceived = oSink.Received();
    EXPECT_EQ(4u, oReceived.size());
    for (const auto& roEntry : oReceived)
    {
        EXPECT_EQ(1u, oOutputHeaders.count(roEntry.first));
        EXPECT_GE(roEntry.second, 2u);
    }
    const auto oProduced = oSource.Produced();
    EXPECT_EQ(4u, oProduced.size());
    for (const auto& roEntry : oProduced)
    {
        EXPECT_EQ(1u, oInputMemory.count(roEntry.first));
        EXPECT_GE(roEntry.second, 2u);
    }
    // None lost, none doubled: the four primed buffers plus one production per returned input,
    // one sink delivery per filled output, and the platform agrees.
    EXPECT_EQ(4u + oFilter.m_uiEmptyBufferDone, oSource.m_uiTotal.load());
    EXPECT_EQ(oFilter.m_uiFillBufferDone.load(), oSink.m_uiTotal.load());
    EXPECT_LE(oFilter.m_uiEmptyBufferDone.load(), oFilter.m_uiEmptyThisBuffer.load());
    EXPECT_LE(oFilter.m_uiEmptyThisBuffer.load(), oFilter.m_uiEmptyBufferDone + 4);
    ExpectPlatformAgrees({&oFilter});

    EXPECT_EQ(OMX_ErrorNone, oSink.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oSource.Deinit());
    EXPECT_EQ(nullptr, oFilter.GetOMXHandle());
    EXPECT_EQ(OMX_StateInvalid, oFilter.GetComponentState());
}

class ComponentChainLinks : public PlatformTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ComponentChainLinks, PlatformSourceThroughTwoPassThroughsIntoASink)
{
    const bool bUpstreamProvides = GetParam();
    SPlatformChain oChain(bUpstreamProvides);
    oChain.Init();
    std::string oOther;
    const auto aoRecords = CaptureAbortRecords(
        [&] {
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start());
            for (CTestOMXWrapper* poComponent : {&oChain.m_oSource, &oChain.m_oFirst, &oChain.m_oSecond})
                EXPECT_EQ(OMX_StateExecuting, CTestOMXWrapper::PlatformState(poComponent->GetOMXHandle()));
            // On each link one side allocates and the other uses the same memory under headers
            // of its own, which are found from the neighbour's by address in both directions.
            const std::pair<CTestOMXWrapper*, CTestOMXWrapper*> aoLinks[] = {{&oChain.m_oSource, &oChain.m_oFirst},
                                                                          {&oChain.m_oFirst, &oChain.m_oSecond}};
            for (const auto& roLink : aoLinks)
            {
                CPort& roOut = roLink.first->m_aoOutput[0];
                CPort& roIn = roLink.second->m_aoInput[0];
                EXPECT_EQ(bUpstreamProvides, roOut.IsBufferProvider());
                EXPECT_EQ(!bUpstreamProvides, roIn.IsBufferProvider());
                EXPECT_EQ(4u, PortMemory(roOut).size());
                EXPECT_EQ(PortMemory(roOut), PortMemory(roIn));
                for (MUINT32 i = 0; i < roOut.GetBufferCount(); ++i)
                {
                    OMX_BUFFERHEADERTYPE* poLocal = nullptr;
                    EXPECT_EQ(&roIn, roLink.second->FindLocalBufferHeader(roOut.GetBufferHeader(i), &poLocal, 0));
                    ASSERT_NE(nullptr, poLocal);
                    EXPECT_NE(roOut.GetBufferHeader(i), poLocal);
                    EXPECT_EQ(roOut.GetBufferHeader(i)->pBuffer, poLocal->pBuffer);
                    OMX_BUFFERHEADERTYPE* poBack = nullptr;
                    EXPECT_EQ(&roOut, roLink.first->FindLocalBufferHeader(poLocal, &poBack, 0));
                    EXPECT_EQ(roOut.GetBufferHeader(i), poBack);
                }
            }
            ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.m_uiTotal >= 40; }));
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop());
        },
        oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;
    for (CTestOMXWrapper* poComponent : {&oChain.m_oSource, &oChain.m_oFirst, &oChain.m_oSecond})
    {
        EXPECT_EQ(OMX_StateLoaded, poComponent->GetComponentState());
        EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(poComponent->GetOMXHandle()));
        EXPECT_FALSE(poComponent->IsBuffersReady());
    }
    ExpectBalanced(oChain, 1);
    ExpectPlatformAgrees({&oChain.m_oFirst, &oChain.m_oSecond});
    // Every frame produced went downstream; so did the buffers handed back unfilled at the stop.
    EXPECT_EQ(oChain.m_oSource.m_uiFillBufferDone.load(), Counter(PELLIX_TEST_SOURCE, PellixCounter_BuffersFilled));
    EXPECT_LE(Counter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced), oChain.m_oSource.m_uiFillBufferDone.load());
    // Each header of the last filter's output came back to be refilled.
    const auto oReceived = oChain.m_oSink.Received();
    EXPECT_EQ(4u, oReceived.size());
    for (const auto& roEntry : oReceived)
        EXPECT_GE(roEntry.second, 2u);
    oChain.Deinit();
}

INSTANTIATE_TEST_SUITE_P(Providers, ComponentChainLinks, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& roInfo) {
                             return roInfo.param ? std::string("UpstreamProvides") : std::string("DownstreamProvides");
                         });

TEST_F(ComponentChain, AHundredCyclesLeaveNoThreadHandleOrBufferBehind)
{
    // The process's threads are counted once the first cycle is over (a sanitizer's runtime may
    // start a thread of its own with the first one created); those of platform components (named
    // after the ends of "OMX.Pellix.Test.*") must be gone after every cycle.
    unsigned uiThreads = 0;
    auto fnSettled = [&](int iCycle) {
        if (iCycle == 0)
        {
            EXPECT_TRUE(Eventually([] { return ProcessThreadCount("est.") == 0; }));
            uiThreads = ProcessThreadCount();
        }
        // A joined thread may linger in /proc for a moment after its join.
        return Eventually([&] { return ProcessThreadCount("est.") == 0 && ProcessThreadCount() == uiThreads; });
    };
    SPlatformChain oChain(true);
    CCountingDefaultSource oDefaultSource;
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    CCountingSink oSink;
    oDefaultSource.SetFrameSize(64, 16);
    ASSERT_EQ(OMX_ErrorNone, oDefaultSource.Init());
    unsigned uiCycles = 0;

    std::string oOther;
    const auto aoRecords = CaptureAbortRecords(
        [&] {
            for (int iCycle = 0; iCycle < 100 && !::testing::Test::HasFailure(); ++iCycle)
            {
                // The platform chain: three components, three threads.
                oChain.Init();
                const unsigned uiSinkStart = oChain.m_oSink.m_uiTotal;
                ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start()) << iCycle;
                ASSERT_EQ(3u, ProcessThreadCount("est.")) << iCycle;
                ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.m_uiTotal >= uiSinkStart + 8; })) << iCycle;
                ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop()) << iCycle;
                oChain.Deinit();
                ASSERT_EQ(0u, PellixPlatform_LiveHandleCount()) << iCycle;
                ASSERT_TRUE(fnSettled(iCycle)) << iCycle;

                // The software head: default source, one filter, sink.
                ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
                ASSERT_EQ(OMX_ErrorNone, oDefaultSource.ConnectTo(0, &oFilter, 0));
                ASSERT_EQ(OMX_ErrorNone, oFilter.ConnectTo(0, &oSink, 0));
                const unsigned uiStart = oSink.m_uiTotal;
                ASSERT_EQ(OMX_ErrorNone, oDefaultSource.Start()) << iCycle;
                ASSERT_TRUE(Eventually([&] { return oSink.m_uiTotal >= uiStart + 8; })) << iCycle;
                ASSERT_EQ(OMX_ErrorNone, oDefaultSource.Stop()) << iCycle;
                ASSERT_EQ(OMX_ErrorNone, oFilter.Deinit()) << iCycle;
                ASSERT_EQ(0u, PellixPlatform_LiveHandleCount()) << iCycle;
                ASSERT_TRUE(fnSettled(1)) << iCycle;
                ++uiCycles;
            }
        },
        oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;
    EXPECT_EQ(100u, uiCycles);
    ExpectBalanced(oChain, uiCycles);
    ExpectPlatformAgrees({&oChain.m_oFirst, &oChain.m_oSecond, &oFilter});
    EXPECT_EQ(oFilter.m_uiFillBufferDone.load(), oSink.m_uiTotal.load());
    EXPECT_EQ(uiCycles * 4u + oFilter.m_uiEmptyBufferDone, oDefaultSource.m_uiTotal.load());
}

TEST_F(ComponentChain, AnInterlacedInputSplitsEachFrameIntoTwoFieldsAndReturnsItOnce)
{
    // The source provides 4 frames of 1920 x 1080 YUV 4:2:2; the filter's input uses them as 8
    // fields of 540 lines.
    const OMX_U32 nFrame = 1920 * 1080 * 2;
    CTestOMXWrapper oSource(PELLIX_TEST_SOURCE, {}, {{0, true, 4, nFrame, 1920, 1080}});
    SWrapperPort oFieldInput{0, false, 8, nFrame / 2, 1920, 540};
    oFieldInput.bInterlaced = true;
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {oFieldInput}, {{1, true, 4, nFrame / 2, 1920, 540}});
    CCountingSink oSink;
    oSink.m_bKeepFields = true;
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    ASSERT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oFilter, 0));
    ASSERT_EQ(OMX_ErrorNone, oFilter.ConnectTo(0, &oSink, 0));

    std::string oOther;
    std::vector<CCountingSink::SField> aoFields;
    const auto aoRecords = CaptureAbortRecords(
        [&] {
            ASSERT_EQ(OMX_ErrorNone, oSource.Execute(0));
            CPort& roFields = oFilter.m_aoInput[0];
            CPort& roFrames = oSource.m_aoOutput[0];
            EXPECT_TRUE(roFields.IsInterlaced());
            ASSERT_EQ(8u, roFields.GetBufferCount());
            EXPECT_EQ(2073600u, roFields.GetOddFieldOffset());
            EXPECT_EQ(540u, roFields.GetPortBufferInfo().uiHeight);
            EXPECT_EQ(nFrame / 2, roFields.GetPortBufferInfo().uiBufferSize);
            for (MUINT32 i = 0; i < 8; ++i)
            {
                EXPECT_EQ(roFrames.GetBufferHeader(i / 2)->pBuffer + (i % 2 ? 2073600u : 0u),
                          roFields.GetBufferHeader(i)->pBuffer)
                    << i;
                EXPECT_EQ(nFrame / 2, roFields.GetBufferHeader(i)->nAllocLen) << i;
            }
            ASSERT_EQ(OMX_ErrorNone, oSource.StartBufferProcessing());
            ASSERT_TRUE(Eventually([&] { return oSink.m_uiTotal >= 24; }));
            // What the stop hands back unfilled also travels down: only what came before counts.
            aoFields = oSink.Fields();
            ASSERT_EQ(OMX_ErrorNone, oSource.Stop());
        },
        oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;

    // The fields reached the platform in order, first then second, each half a frame: the first
    // starts with the frame number, the second lies in the frame's lower half.
    ASSERT_GE(aoFields.size(), 24u);
    size_t uiPairs = 0;
    for (size_t i = 0; i + 1 < aoFields.size(); i += 2)
    {
        ASSERT_EQ(OMX_U32(OMXBufferFlag_Field), aoFields[i].nFlags & OMXBufferFlag_FieldMask) << i;
        ASSERT_EQ(OMX_U32(OMXBufferFlag_FieldMask), aoFields[i + 1].nFlags & OMXBufferFlag_FieldMask) << i;
        EXPECT_EQ(nFrame / 2, aoFields[i].nFilledLen);
        EXPECT_EQ(nFrame / 2, aoFields[i + 1].nFilledLen);
        EXPECT_EQ(uiPairs, aoFields[i].uiCounter) << "frames are numbered from 0 and none is lost";
        EXPECT_EQ(aoFields[i].uiCounter & 0xFF, aoFields[i + 1].uiFirstByte) << i;
        ++uiPairs;
    }
    // One frame from upstream, two fields to the platform, one return upstream per frame.
    EXPECT_EQ(oSource.m_uiFillBufferDone.load(), oFilter.m_uiEmptyThisBuffer.load());
    ExpectPlatformAgrees({&oFilter});
    EXPECT_EQ(2 * oSource.m_uiFillThisBuffer, oFilter.m_uiEmptyBufferDone.load());
    EXPECT_LE(oSource.m_uiFillThisBuffer.load(), oFilter.m_uiEmptyThisBuffer.load());
    EXPECT_LE(oFilter.m_uiEmptyThisBuffer.load(), oSource.m_uiFillThisBuffer + 4);

    EXPECT_EQ(OMX_ErrorNone, oSink.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oSource.Deinit());
}
