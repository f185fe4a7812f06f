#include "gst-components/RTSPVideoServerComponent.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "GenUtils.h"
#include "ti814x-framework.h"

namespace
{
// Names of GstState by value.
const char* const szState[] = {
    "GST_STATE_VOID_PENDING", "GST_STATE_NULL", "GST_STATE_READY", "GST_STATE_PAUSED", "GST_STATE_PLAYING",
};

const char* local_StateName(GstState eState)
{
    const unsigned uiState = static_cast<unsigned>(eState);
    return uiState < sizeof(szState) / sizeof(szState[0]) ? szState[uiState] : "?";
}

// The video fragment: a fakesrc making fixed-size buffers of the encoder's buffer size without
// filling them, emitting "handoff" for each and stamping each with the pipeline's running time;
// caps telling h264parse that each buffer is one whole access unit of a byte stream, so that it
// passes each on as it comes instead of holding it until the next one begins; h264parse
// outputting whole access units; rtph264pay packing them into RTP. The source only pushes: the
// parser would otherwise pull from it on a thread of its own.
const char* const local_szLaunchFormat =
    "fakesrc silent=true sizemax=%d sizetype=2 filltype=1 signal-handoffs=true name=%s do-timestamp=true "
    "can-activate-pull=false ! video/x-h264,stream-format=byte-stream,alignment=au ! h264parse ! "
    "video/x-h264,alignment=au ! rtph264pay ";

const char* const local_szSourceElementName = "RTSPVideoServer.fakesrc";

const MUINT32 local_uiStartCodeSize = 3;
const MUINT64 local_uiOneSecondUsec = 1000000;

enum
{
    NalType_Slice = 1,
    NalType_IdrSlice = 5,
    NalType_Sps = 7,
    NalType_Pps = 8,
    NalType_Mask = 0x1F,
};

const MUINT8 local_uiSliceTypeI = 2;
} // namespace

MUINT8 GetFrameType(MUINT8 uiData)
{
    if ((uiData & 0x78) == 0x08)
        return static_cast<MUINT8>(((uiData & 7) + 7) % 5);
    if ((uiData & 0x70) == 0x10)
        return static_cast<MUINT8>((((uiData >> 2) & 3) + 3) % 5);
    if ((uiData & 0x60) == 0x20)
        return (uiData & 0x10) ? 2 : 1;
    ZEM_INFO(0, "Warning: Unrecognized data structure of non-IDR frame: %02X", uiData);
    return 0;
}

RTSPVideoServerComponent::RTSPVideoServerComponent()
    : GStreamerServerComponent(),
      m_abyParamSet(),
      m_uiParamSetSize(0),
      m_poOutFile(nullptr),
      m_bSkipFrame(false),
      m_bKeyFrameWanted(false),
      m_bKeyFrameComing(false),
      m_uiStartTime(0),
      m_uiCurSecTime(0),
      m_uiNbBytesTotal(0),
      m_uiNbFramesTotal(0),
      m_uiNbBytesCurSec(0),
      m_uiNbFramesCurSec(0),
      m_uiNbBytesLastSec(0),
      m_uiNbFramesLastSec(0),
      m_oStatisticMutex()
{
    m_szSourceElementName = local_szSourceElementName;
    pthread_mutexattr_t oAttr;
    pthread_mutexattr_init(&oAttr);
    pthread_mutexattr_settype(&oAttr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_oStatisticMutex, &oAttr);
    pthread_mutexattr_destroy(&oAttr);
}

RTSPVideoServerComponent::~RTSPVideoServerComponent()
{
    CloseOutFile();
    pthread_mutex_destroy(&m_oStatisticMutex);
}

OMX_ERRORTYPE RTSPVideoServerComponent::Init()
{
    m_bSkipFrame = true;
    return GStreamerServerComponent::Init();
}

OMX_ERRORTYPE RTSPVideoServerComponent::Deinit()
{
    m_uiParamSetSize = 0;
    CloseOutFile();
    return GStreamerServerComponent::Deinit();
}

OMX_ERRORTYPE RTSPVideoServerComponent::SetParameters()
{
    const CPort* poRemotePort = m_oInput.GetRemotePort();
    const MUINT32 uiBufferSize = poRemotePort ? poRemotePort->GetPortBufferInfo().uiBufferSize : 0;
    if (uiBufferSize == 0)
    {
        ZEM_INFO(0, "Error: no remote input port");
        return OMX_ErrorUndefined;
    }
    delete[] m_szLaunchCmd;
    m_szLaunchCmd = nullptr;
    const int iLength = snprintf(nullptr, 0, local_szLaunchFormat, static_cast<int>(uiBufferSize),
                                 m_szSourceElementName);
    m_szLaunchCmd = new (std::nothrow) char[iLength + 1];
    if (m_szLaunchCmd == nullptr)
        return OMX_ErrorInsufficientResources;
    snprintf(m_szLaunchCmd, iLength + 1, local_szLaunchFormat, static_cast<int>(uiBufferSize),
             m_szSourceElementName);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE RTSPVideoServerComponent::PipelineCreated(GstElement* poPipeline)
{
    GStreamerServerComponent::PipelineCreated(poPipeline);
    if (poPipeline == nullptr)
        return OMX_ErrorNone;
    if (!GST_IS_PIPELINE(poPipeline))
    {
        ZEM_INFO(0, "Error, argument is not a GstPipeline *");
        return OMX_ErrorNone;
    }

    // Every new pipeline waits for a key frame.
    m_bSkipFrame = true;
    ConnectSourceHandoff(poPipeline, G_CALLBACK(CallbackHandoff), "Video Handoff connected");
    return OMX_ErrorNone;
}

void RTSPVideoServerComponent::ViewerJoined()
{
    m_bKeyFrameWanted = true;
}

OMX_ERRORTYPE RTSPVideoServerComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    const CPort* poUpstream = m_oInput.GetRemotePort();
    if (m_bKeyFrameWanted.exchange(false) && poUpstream != nullptr && poUpstream->GetParent() != nullptr &&
        poUpstream->GetParent()->RequestKeyFrame() == OMX_ErrorNone)
        m_bKeyFrameComing = true;
    return GStreamerServerComponent::EmptyThisBuffer(poBufferHeader);
}

void RTSPVideoServerComponent::CallbackHandoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* pad,
                                               RTSPVideoServerComponent* poInstance)
{
    const CHandoffScope oScope(*poInstance);
    poInstance->Handoff(fakesrc, poGstBuffer, pad);
}

guint RTSPVideoServerComponent::GetNextStartCode(const guint8* data, guint size)
{
    guint i = 2;
    while (i < size)
    {
        if (data[i] == 0x01)
        {
            if (data[i - 1] == 0 && data[i - 2] == 0)
                return i - 2;
            i += 3;
        }
        else if (data[i] != 0)
            i += 3;
        else
            i += 1;
    }
    return size;
}

void RTSPVideoServerComponent::CollectParamSets(const guint8* pbyData, guint uiSize)
{
    MUINT32 uiStored = m_uiParamSetSize;
    guint uiUnit = GetNextStartCode(pbyData, uiSize);
    while (uiSize - uiUnit > local_uiStartCodeSize)
    {
        const guint uiSearch = uiUnit + local_uiStartCodeSize;
        const guint uiNext = uiSearch + GetNextStartCode(pbyData + uiSearch, uiSize - uiSearch);
        const guint uiLength = uiNext - uiUnit;
        const guint uiType = pbyData[uiUnit + local_uiStartCodeSize] & NalType_Mask;
        if ((uiType == NalType_Sps || uiType == NalType_Pps) && uiStored + uiLength <= s_uiParamSetCapacity)
        {
            memcpy(m_abyParamSet + uiStored, pbyData + uiUnit, uiLength);
            uiStored += uiLength;
        }
        uiUnit = uiNext;
    }
    m_uiParamSetSize = uiStored;
}

void RTSPVideoServerComponent::UpdateStatistics(GstState eState, MUINT64 uiSize)
{
    CMutexLockUnlock oLock(m_oStatisticMutex);
    if (eState != GST_STATE_PLAYING)
    {
        m_uiStartTime = 0;
        m_uiCurSecTime = 0;
        m_uiNbBytesTotal = 0;
        m_uiNbFramesTotal = 0;
        m_uiNbBytesCurSec = 0;
        m_uiNbFramesCurSec = 0;
        m_uiNbBytesLastSec = 0;
        m_uiNbFramesLastSec = 0;
        return;
    }
    const MUINT64 uiNow = GetRealTimeUsec();
    if (m_uiStartTime == 0)
    {
        m_uiStartTime = uiNow;
        m_uiCurSecTime = uiNow + local_uiOneSecondUsec;
    }
    if (uiNow >= m_uiCurSecTime)
    {
        m_uiNbBytesLastSec = m_uiNbBytesCurSec;
        m_uiNbFramesLastSec = m_uiNbFramesCurSec;
        m_uiNbBytesCurSec = 0;
        m_uiNbFramesCurSec = 0;
        m_uiCurSecTime += local_uiOneSecondUsec;
    }
    m_uiNbBytesCurSec += uiSize;
    m_uiNbBytesTotal += uiSize;
    ++m_uiNbFramesCurSec;
    ++m_uiNbFramesTotal;
}

OMX_ERRORTYPE RTSPVideoServerComponent::Handoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* /*pad*/)
{
    ZEM_INFO(9, "RTSPVideoServerComponent");
    if (!m_bBufferProcessing)
    {
        ZEM_INFO(2, "RTSPVideoServerComponent: buffer processing stopped");
        return OMX_ErrorNone;
    }

    GstState eState = GST_STATE_NULL;
    gst_element_get_state(fakesrc, &eState, nullptr, 0);
    ZEM_INFO(4, "::%s", local_StateName(eState));

    OMX_BUFFERHEADERTYPE* poOmxBuffer = TakeHandoffBuffer();
    bool bFreeGstBuffer = true;

    // On the way to the first play the pipeline gives the source its clock before the source's
    // base time is set. The running time the source stamps from that clock would be the clock's
    // absolute time, and the sinks would wait for it for good: such a buffer starts the running
    // time at 0 instead. A buffer made before the source has a clock stays unstamped: the parser
    // gives it its time from the stream's frame rate.
    GST_OBJECT_LOCK(fakesrc);
    const bool bNoBaseTime = GST_ELEMENT_CLOCK(fakesrc) != nullptr && GST_ELEMENT_CAST(fakesrc)->base_time == 0;
    GST_OBJECT_UNLOCK(fakesrc);
    if (bNoBaseTime)
    {
        GST_BUFFER_PTS(poGstBuffer) = 0;
        GST_BUFFER_DTS(poGstBuffer) = 0;
    }

    if (poOmxBuffer != nullptr && !IsFifoDisconnected())
    {
        const guint8* pbyData = poOmxBuffer->pBuffer;
        const guint uiFilled = poOmxBuffer->nFilledLen;

        // A viewer has just started and the encoder codes a key frame next: what comes before it
        // is dropped, so that the viewer's first frame is one it can decode. (Taken once the
        // buffer is: that is the access unit whose delivery set it or one queued before, so the
        // gate closes before that access unit at the latest.)
        if (m_bKeyFrameComing.exchange(false))
            m_bSkipFrame = true;

        // Key-frame gate: only the first NAL unit of the buffer is looked at.
        if (m_bSkipFrame)
        {
            const guint uiStart = GetNextStartCode(pbyData, uiFilled);
            if (uiFilled - uiStart > local_uiStartCodeSize)
            {
                const guint uiType = pbyData[uiStart + local_uiStartCodeSize] & NalType_Mask;
                switch (uiType)
                {
                case NalType_Slice:
                    // The slice header's first byte must be there to be read.
                    if (uiFilled - uiStart > local_uiStartCodeSize + 1)
                        m_bSkipFrame = GetFrameType(pbyData[uiStart + local_uiStartCodeSize + 1]) != local_uiSliceTypeI;
                    break;
                case NalType_IdrSlice:
                    m_bSkipFrame = false;
                    break;
                case NalType_Sps:
                case NalType_Pps:
                    break;
                default:
                    ZEM_INFO(0, "Warning: Unrecognized nal unit type: %d", uiType);
                    break;
                }
            }
        }

        GstMapInfo oMap;
        if (!m_bSkipFrame && gst_buffer_map(poGstBuffer, &oMap, GST_MAP_WRITE))
        {
            bFreeGstBuffer = false;
            gsize uiDelivery = 0;
            const MUINT32 uiParamSetSize = m_uiParamSetSize;
            if (eState != GST_STATE_PLAYING && uiParamSetSize != 0)
            {
                ZEM_INFO(2, "eState != GST_STATE_PLAYING");
                // The buffer holds one encoder buffer; a frame that leaves no room for the prefix
                // goes without it rather than past the end of the buffer.
                if (uiParamSetSize + static_cast<gsize>(uiFilled) <= oMap.size)
                {
                    memcpy(oMap.data, m_abyParamSet, uiParamSetSize);
                    uiDelivery = uiParamSetSize;
                }
            }
            gsize uiCopy = uiFilled;
            if (uiDelivery + uiCopy > oMap.size)
            {
                ZEM_INFO(0, "Warning: frame of %u bytes cut to the buffer size %u", uiFilled,
                         static_cast<unsigned>(oMap.size - uiDelivery));
                uiCopy = oMap.size - uiDelivery;
            }
            memcpy(oMap.data + uiDelivery, pbyData, uiCopy);
            uiDelivery += uiCopy;
            {
                CMutexLockUnlock oLock(m_oStatisticMutex);
                if (m_poOutFile != nullptr)
                    fwrite(oMap.data, 1, uiDelivery, m_poOutFile);
                UpdateStatistics(eState, uiDelivery);
            }
            gst_buffer_unmap(poGstBuffer, &oMap);
            gst_buffer_set_size(poGstBuffer, static_cast<gssize>(uiDelivery));
        }

        if (m_uiParamSetSize == 0)
            CollectParamSets(pbyData, uiFilled);
    }

    // Nothing to deliver: an empty buffer goes downstream.
    if (bFreeGstBuffer)
        gst_buffer_set_size(poGstBuffer, 0);

    if (poOmxBuffer != nullptr)
        m_oInput.FillThisBuffer(poOmxBuffer);
    return OMX_ErrorNone;
}

bool RTSPVideoServerComponent::CreateOutFile(const char* szFileName)
{
    CMutexLockUnlock oLock(m_oStatisticMutex);
    if (m_poOutFile != nullptr)
        fclose(m_poOutFile);
    m_poOutFile = fopen(szFileName, "wb+");
    return m_poOutFile != nullptr;
}

void RTSPVideoServerComponent::CloseOutFile()
{
    CMutexLockUnlock oLock(m_oStatisticMutex);
    if (m_poOutFile != nullptr)
        fclose(m_poOutFile);
    m_poOutFile = nullptr;
}

void RTSPVideoServerComponent::GetStatistics(MUINT64& ruiElapsedTime, MUINT64& ruiNbBitsTotal,
                                             MUINT64& ruiNbFramesTotal, MUINT64& ruiNbBitsLastSec,
                                             MUINT64& ruiNbFramesLastSec)
{
    CMutexLockUnlock oLock(m_oStatisticMutex);
    ruiElapsedTime = m_uiStartTime != 0 ? GetRealTimeUsec() - m_uiStartTime : 0;
    ruiNbBitsTotal = m_uiNbBytesTotal * 8;
    ruiNbFramesTotal = m_uiNbFramesTotal;
    ruiNbBitsLastSec = m_uiNbBytesLastSec * 8;
    ruiNbFramesLastSec = m_uiNbFramesLastSec;
}
