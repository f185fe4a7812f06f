#include "H264TestSource.h"

#include <time.h>

#include <cstring>

namespace
{
// Baseline, 16 x 16: SPS and PPS; two IDR pictures of grey (idr_pic_id 0 and 1).
const std::vector<OMX_U8> local_aabyUnits[] = {
    {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0A, 0xDD, 0xEC, 0x04, 0x40, 0, 0, 0x03, 0, 0x40, 0, 0, 0x1E, 0x23, 0xC4, 0x89, 0xE0,
     0, 0, 0, 1, 0x68, 0xCE, 0x0F, 0xC8},
    {0, 0, 1, 0x65, 0x88, 0x84, 0x3A, 0x26, 0x28, 0x0E},
    {0, 0, 1, 0x65, 0x88, 0x82, 0x05, 0xA2, 0x62, 0x80, 0x38}};
} // namespace

void CH264TestSource::SOwningPort::Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory)
{
    ProvideBuffer(&roInfo, static_cast<MUINT32>(raabyMemory.size()));
    for (size_t i = 0; i < raabyMemory.size(); ++i)
    {
        m_apoBufferHeader[i] = new OMX_BUFFERHEADERTYPE();
        m_apoBufferHeader[i]->pBuffer = raabyMemory[i].data();
        m_apoBufferHeader[i]->nAllocLen = roInfo.uiBufferSize;
    }
    m_uiState |= PortState_BufferReady;
}

CH264TestSource::CH264TestSource(MUINT32 uiBufferSize, MUINT32 uiBufferCount)
    : m_uiBufferSize(uiBufferSize), m_aabyMemory(uiBufferCount, std::vector<OMX_U8>(uiBufferSize))
{
    strncpy(m_szComponentName, "H264TestSource", sizeof(m_szComponentName) - 1);
}

CH264TestSource::~CH264TestSource()
{
    Deinit();
}

OMX_ERRORTYPE CH264TestSource::CreatePorts()
{
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutput;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::Init()
{
    SPortBufferInfo oInfo{};
    oInfo.uiBufferSize = m_uiBufferSize;
    const OMX_ERRORTYPE eError = InitPorts();
    m_oOutput.Own(oInfo, m_aabyMemory);
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (MUINT32 i = 0; i < m_aabyMemory.size(); ++i)
        m_apoFree.push_back(Header(i));
    return eError;
}

OMX_ERRORTYPE CH264TestSource::Deinit()
{
    Stop();
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.clear();
    return m_oOutput.Deinit();
}

OMX_ERRORTYPE CH264TestSource::Start()
{
    OMX_ERRORTYPE eError = m_oOutput.Execute(0);
    if (eError == OMX_ErrorNone)
        eError = m_oOutput.StartBufferProcessing();
    if (eError == OMX_ErrorNone && !m_bRun.exchange(true))
        m_oThread = std::thread(&CH264TestSource::Produce, this);
    return eError;
}

OMX_ERRORTYPE CH264TestSource::Stop()
{
    // Only a started source stops its downstream: the stream may be gone by the time a source
    // that never ran is deinitialised (its destructor's Deinit).
    const bool bWasRunning = m_bRun.exchange(false);
    if (m_oThread.joinable())
        m_oThread.join();
    return bWasRunning && m_oOutput.GetRemotePort() != nullptr ? m_oOutput.StopBufferProcessing() : OMX_ErrorNone;
}

OMX_ERRORTYPE CH264TestSource::FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader)
{
    return EmptyBufferDone(poHeader);
}

OMX_ERRORTYPE CH264TestSource::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoFree.push_back(poHeader);
    m_apoReturned.push_back(poHeader);
    return OMX_ErrorNone;
}

std::vector<OMX_BUFFERHEADERTYPE*> CH264TestSource::Returned()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_apoReturned;
}

void CH264TestSource::Produce()
{
    timespec oNext;
    clock_gettime(CLOCK_MONOTONIC, &oNext);
    // The parameter sets wait for a header; a picture without one is skipped.
    for (size_t uiUnit = 0; m_bRun; oNext.tv_nsec += 1000000000L / 60)
    {
        OMX_BUFFERHEADERTYPE* poHeader = nullptr;
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            if (!m_apoFree.empty())
            {
                poHeader = m_apoFree.front();
                m_apoFree.pop_front();
            }
        }
        if (poHeader != nullptr)
        {
            memcpy(poHeader->pBuffer, local_aabyUnits[uiUnit].data(), local_aabyUnits[uiUnit].size());
            poHeader->nFilledLen = static_cast<OMX_U32>(local_aabyUnits[uiUnit].size());
            if (m_oOutput.EmptyThisBuffer(poHeader) != OMX_ErrorNone)
                EmptyBufferDone(poHeader);
        }
        uiUnit = poHeader == nullptr && uiUnit == 0 ? 0 : uiUnit % 2 + 1;
        oNext.tv_sec += oNext.tv_nsec / 1000000000L;
        oNext.tv_nsec %= 1000000000L;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &oNext, nullptr);
    }
}
