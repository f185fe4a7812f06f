// Reading an H.264 byte stream: its NAL units, and the first fields of a slice header.
#ifndef CANNEXB_STREAM_H
#define CANNEXB_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

class CAnnexBStream
{
public:
    enum ENalType
    {
        NalType_Slice = 1,
        NalType_IdrSlice = 5,
        NalType_Sei = 6,
        NalType_Sps = 7,
        NalType_Pps = 8,
        NalType_Delimiter = 9,
        NalType_Filler = 12,
    };

    struct SNalUnit
    {
        unsigned uiType;
        const uint8_t* pHeader;  // the NAL header byte, after the start code
        size_t uiSize;           // from the header byte to the next start code
    };

    // The NAL units of the bytes; false when they do not begin with a start code.
    static bool Split(const uint8_t* pData, size_t uiSize, std::vector<SNalUnit>& raoUnits);
    // first_mb_in_slice of a slice NAL unit.
    static unsigned FirstMbInSlice(const SNalUnit& roSlice);
    static bool IsSlice(unsigned uiType) { return uiType == NalType_Slice || uiType == NalType_IdrSlice; }
};

#endif // CANNEXB_STREAM_H
