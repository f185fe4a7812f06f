// The encoders' streams, going in and coming out: a moving NV12 test picture whose frame number can
// be read back from a decoded picture; the NAL units of H.264 bytes; and what the real decoders
// ffprobe and ffmpeg make of an H.264 or AAC stream file.
#ifndef PELLIX_TEST_ENCODED_STREAMS_H
#define PELLIX_TEST_ENCODED_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A frame counter as a row of black and white blocks at the top, diagonal bars moving sideways,
// and at the bottom a band of noise that is new in every frame, so that the stream needs a steady
// share of bits. Every frame is made of row copies from tables made once.
class CNv12Pattern
{
public:
    CNv12Pattern(unsigned uiWidth, unsigned uiHeight);
    // Bytes of one frame with lines as long as the width: the Y plane, then the CbCr plane.
    size_t FrameBytes() const { return size_t(m_uiWidth) * m_uiHeight * 3 / 2; }
    void Render(uint64_t uiFrame, uint8_t* pFrame) const;
    // The counter read back from a decoded Y plane of that width: black blocks are 0 bits.
    static uint64_t ReadCounter(const uint8_t* pLuma, unsigned uiWidth);

private:
    unsigned m_uiWidth, m_uiHeight;
    std::vector<uint8_t> m_aucBars;   // 64 rows of width + 128, luma then chroma
    std::vector<uint8_t> m_aucNoise;  // noise to take bands from, at a new place every frame
};

enum ENalType
{
    NalType_Slice = 1,
    NalType_IdrSlice = 5,
    NalType_Sps = 7,
    NalType_Pps = 8,
};

struct SNalUnit
{
    unsigned uiType;
    unsigned uiFirstMb;  // first_mb_in_slice of a slice
};

// The NAL units of the bytes; none when they do not begin with a start code.
std::vector<SNalUnit> NalUnits(const std::string& roBytes);

struct SStreamProbe
{
    unsigned uiWidth = 0, uiHeight = 0;
    std::string oProfile;          // as ffprobe names it: "Constrained Baseline", "Main", "High"
    int iLevel = 0;                // 42 is level 4.2
    std::string oKeyFrames;        // '1' or '0' per decoded picture, in presentation order
    std::string oPictureTypes;     // I, P or B per decoded picture
    std::string oErrors;           // what ffmpeg said while decoding every picture (exit status too)
    std::vector<uint64_t> auiCounters;  // the pattern's counter of every picture (with a width given)
};

// ffprobe's and ffmpeg's view of an H.264 elementary stream file; the counters of CNv12Pattern
// pictures of uiCounterWidth when it is not 0.
SStreamProbe ProbeStream(const std::string& roPath, unsigned uiCounterWidth = 0);

// The luma of every picture ffmpeg decodes from an H.264 file, picture after picture, only the top
// uiRows lines of each when uiRows is not 0; empty when ffmpeg failed or reported an error.
std::string DecodeGray(const std::string& roPath, unsigned uiRows = 0);

// The PCM (interleaved signed 16-bit little endian) ffmpeg decodes from an AAC (ADTS) file; what
// ffmpeg said, and its exit status when not 0, in roErrors.
std::string DecodeAac(const std::string& roPath, unsigned uiChannels, std::string& roErrors);

#endif // PELLIX_TEST_ENCODED_STREAMS_H
