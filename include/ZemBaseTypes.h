// Base scalar and geometry types shared by every part of the library.
#ifndef ZEM_BASE_TYPES_H
#define ZEM_BASE_TYPES_H

#include <cstdint>

typedef uint32_t MUINT32;
typedef uint32_t MUINT;
typedef int32_t MINT32;
typedef int32_t MINT;
typedef uint32_t MBOOL32;
typedef uint32_t MBOOL;
typedef uint64_t MUINT64;
typedef int64_t MINT64;
typedef char MCHAR8;

typedef struct tagMSIZE32
{
    MUINT32 m_uiCx;
    MUINT32 m_uiCy;
} MSIZE32;

typedef struct tagMPOS32
{
    MINT32 m_iX;
    MINT32 m_iY;
} MPOS32;

typedef struct tagMRECT32
{
    tagMPOS32 m_oPos;
    tagMSIZE32 m_oSize;
} MRECT32;

#endif // ZEM_BASE_TYPES_H
