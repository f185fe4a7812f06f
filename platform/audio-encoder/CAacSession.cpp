#include "CAacSession.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "CAacEncoderSettings.h"

namespace
{
const float local_fSampleScale = 1.0f / 32768.0f;
}

CAacSession::CAacSession()
    : m_poContext(nullptr), m_poFrame(nullptr), m_poPacket(nullptr), m_uiChannels(0), m_uiFill(0), m_iNextPts(0)
{
}

CAacSession::~CAacSession()
{
    Close();
}

bool CAacSession::Open(unsigned uiRate, unsigned uiChannels, unsigned uiBitRate)
{
    Close();
    // The codec's statistics at each close and its note on the frames still queued when a stream
    // stops are not for the platform's log.
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* poCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (poCodec == nullptr)
        return false;
    m_poContext = avcodec_alloc_context3(poCodec);
    m_poFrame = av_frame_alloc();
    m_poPacket = av_packet_alloc();
    if (m_poContext == nullptr || m_poFrame == nullptr || m_poPacket == nullptr)
    {
        Close();
        return false;
    }
    m_poContext->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_poContext->sample_rate = static_cast<int>(uiRate);
    av_channel_layout_default(&m_poContext->ch_layout, static_cast<int>(uiChannels));
    m_poContext->profile = FF_PROFILE_AAC_LOW;
    m_poContext->time_base = AVRational{1, static_cast<int>(uiRate)};
    if (uiBitRate != 0)
        m_poContext->bit_rate = uiBitRate;
    if (avcodec_open2(m_poContext, poCodec, nullptr) < 0 ||
        m_poContext->frame_size != static_cast<int>(CAacEncoderSettings::s_uiFrameSamples))
    {
        Close();
        return false;
    }
    m_poFrame->format = AV_SAMPLE_FMT_FLTP;
    m_poFrame->nb_samples = m_poContext->frame_size;
    m_poFrame->sample_rate = m_poContext->sample_rate;
    if (av_channel_layout_copy(&m_poFrame->ch_layout, &m_poContext->ch_layout) < 0 ||
        av_frame_get_buffer(m_poFrame, 0) < 0)
    {
        Close();
        return false;
    }
    m_uiChannels = uiChannels;
    m_uiFill = 0;
    m_iNextPts = 0;
    return true;
}

void CAacSession::Close()
{
    av_packet_free(&m_poPacket);
    av_frame_free(&m_poFrame);
    avcodec_free_context(&m_poContext);
    m_uiChannels = 0;
    m_uiFill = 0;
}

unsigned CAacSession::FrameRoom() const
{
    return CAacEncoderSettings::s_uiFrameSamples - m_uiFill;
}

void CAacSession::Append(const unsigned char* pbySamples, unsigned uiCount)
{
    // The encoder has let go of the frame's memory once it has taken the frame up, so this
    // normally finds it writable and allocates nothing.
    if (m_uiFill == 0 && av_frame_make_writable(m_poFrame) < 0)
        return;
    for (unsigned uiChannel = 0; uiChannel < m_uiChannels; ++uiChannel)
    {
        float* pfOut = reinterpret_cast<float*>(m_poFrame->extended_data[uiChannel]) + m_uiFill;
        const unsigned char* pbyIn = pbySamples + uiChannel * 2;
        for (unsigned i = 0; i < uiCount; ++i, pbyIn += m_uiChannels * 2)
        {
            int16_t iSample = 0;
            memcpy(&iSample, pbyIn, sizeof(iSample));
            pfOut[i] = static_cast<float>(iSample) * local_fSampleScale;
        }
    }
    m_uiFill += uiCount;
}

bool CAacSession::SendFrame()
{
    m_poFrame->pts = m_iNextPts;
    m_iNextPts += m_uiFill;
    m_uiFill = 0;
    return avcodec_send_frame(m_poContext, m_poFrame) == 0;
}

bool CAacSession::ReceivePacket()
{
    return avcodec_receive_packet(m_poContext, m_poPacket) == 0;
}

const uint8_t* CAacSession::PacketData() const
{
    return m_poPacket->data;
}

unsigned CAacSession::PacketSize() const
{
    return static_cast<unsigned>(m_poPacket->size);
}

int64_t CAacSession::PacketPts() const
{
    return m_poPacket->pts;
}
