// CAacSession: one AAC-LC encoding session on libavcodec's native AAC encoder, fed with
// interleaved signed 16-bit PCM and giving raw AAC frames of 1024 samples per channel.
//
// The samples of one frame are gathered (converted to the encoder's planar float) until the frame
// is full, then handed to the encoder; the encoder gives back one raw frame per frame it was
// given, the first one a frame late. Everything is allocated by Open; gathering and encoding
// allocate nothing of this class's own.
#ifndef CAAC_SESSION_H
#define CAAC_SESSION_H

#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class CAacSession
{
public:
    CAacSession();
    ~CAacSession();

    CAacSession(const CAacSession&) = delete;
    CAacSession& operator=(const CAacSession&) = delete;

    // uiBitRate 0: the encoder's default. False when the encoder cannot be opened so.
    bool Open(unsigned uiRate, unsigned uiChannels, unsigned uiBitRate);
    void Close();
    bool IsOpen() const { return m_poContext != nullptr; }

    // Frames (samples per channel) the frame being gathered still takes.
    unsigned FrameRoom() const;
    // Appends uiCount interleaved frames (uiCount at most FrameRoom()).
    void Append(const unsigned char* pbySamples, unsigned uiCount);
    bool IsFrameFull() const { return FrameRoom() == 0; }
    // Hands the full frame to the encoder and starts the next one. False on an encoder error.
    bool SendFrame();
    // Takes the next encoded frame out of the encoder; false when none is ready yet.
    bool ReceivePacket();
    // The frame taken by ReceivePacket, valid until the next ReceivePacket or Close.
    const uint8_t* PacketData() const;
    unsigned PacketSize() const;
    // Its time in samples from the start of the session.
    int64_t PacketPts() const;

private:
    AVCodecContext* m_poContext;
    AVFrame* m_poFrame;
    AVPacket* m_poPacket;
    unsigned m_uiChannels;
    unsigned m_uiFill;   // frames gathered in m_poFrame
    int64_t m_iNextPts;  // time of the next frame, in samples
};

#endif // CAAC_SESSION_H
