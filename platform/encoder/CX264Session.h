// One encoding session of libx264: opened from a session configuration, fed NV12 pictures, and
// giving back at most one access unit per picture. An access unit holds only its slices: the
// parameter sets are handed out once, apart, and the codec writes no SEI and no access-unit
// delimiter. Pictures are coded by two threads, each on its own slice, with no look-ahead: without
// B pictures every picture comes out of the call that took it in.
//
// Not thread-safe: one thread drives a session.
#ifndef CX264_SESSION_H
#define CX264_SESSION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <x264.h>

#include "CH264EncoderSettings.h"

class CX264Session
{
public:
    CX264Session();
    ~CX264Session();

    CX264Session(const CX264Session&) = delete;
    CX264Session& operator=(const CX264Session&) = delete;

    // The codec's preset for an encoding preset: the faster presets trade quality for speed.
    static const char* PresetName(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset);
    // The next faster of the codec's presets the component uses; null for the fastest.
    static const char* FasterPreset(const char* szPreset);

    // Closes a session left open, then opens one; false when the codec refuses.
    bool Open(const SH264SessionConfig& roConfig);
    void Close();
    bool IsOpen() const { return m_poEncoder != nullptr; }
    const SH264SessionConfig& Config() const { return m_oConfig; }
    // Bytes of one input picture.
    size_t PictureBytes() const;

    // The sequence and picture parameter sets of the session, each with its start code.
    const std::vector<uint8_t>& ParameterSets() const { return m_aucParameterSets; }

    // Codes one picture (pPicture null: none, to take out a delayed one). 1 when an access unit
    // came out (described below until the next call), 0 when none did, -1 when the codec failed.
    int Encode(const uint8_t* pPicture, int64_t iPts, bool bForceIdr);
    size_t AccessUnitSize() const { return m_uiAccessUnitSize; }
    bool IsIdr() const { return m_oPictureOut.b_keyframe != 0; }
    int64_t Pts() const { return m_oPictureOut.i_pts; }
    // Writes the access unit's slices, AccessUnitSize() bytes.
    void CopyAccessUnit(uint8_t* pDestination) const;
    // Pictures taken in and not yet given back.
    int DelayedPictures() const;

    // Changes the bit rate of the running session from the next picture on.
    bool SetBitRate(unsigned uiBitRate);

    // The codec's preset the pictures are coded with now.
    const char* Preset() const { return m_szPreset; }
    // Codes the next pictures with the analysis of the next faster preset (motion search,
    // partitions, sub-pixel refinement, trellis, deblocking), keeping the stream as its parameter
    // sets describe it (profile, level, picture pattern, references) and its rate control; no new
    // IDR picture and no new parameter sets. False, and nothing changed, at the fastest preset or
    // when the codec refuses.
    bool SpeedUp();

private:
    static bool IsSlice(const x264_nal_t& roNal);
    static void SetRate(x264_param_t& roParam, const SH264SessionConfig& roConfig);

    x264_t* m_poEncoder;
    SH264SessionConfig m_oConfig;
    const char* m_szPreset;
    std::vector<uint8_t> m_aucParameterSets;
    x264_picture_t m_oPictureIn;
    x264_picture_t m_oPictureOut;
    x264_nal_t* m_poNals;
    int m_iNalCount;
    size_t m_uiAccessUnitSize;
};

#endif // CX264_SESSION_H
