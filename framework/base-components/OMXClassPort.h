// Ports: the links between components, the buffer headers of each link and who provides the
// memory behind them.
#ifndef OMX_CLASS_PORT_H
#define OMX_CLASS_PORT_H

#include <OMX_Core.h>
#include <OMX_IVCommon.h>

#include <atomic>

#include "ZemBaseTypes.h"

class CComponent;

// Description of one buffer of a port.
typedef struct tagSPortBufferInfo
{
    OMX_COLOR_FORMATTYPE eFormat;  // an OmxPixelFormat code; 0 for compressed or audio data
    MUINT32 uiBufferSize;          // bytes per buffer
    MUINT32 uiWidth;               // frame width in pixels, 0 where not a picture
    MUINT32 uiHeight;              // frame height in lines, 0 where not a picture
} SPortBufferInfo;

class CPort
{
public:
    // Bits of m_uiState.
    enum
    {
        PortState_Source = 1,
        PortState_Sink = 2,
        PortState_BufferReady = 4,
        PortState_BufferProvider = 8,
    };

    CPort();
    virtual ~CPort();

    virtual OMX_ERRORTYPE Init();
    virtual OMX_ERRORTYPE Deinit();
    virtual OMX_ERRORTYPE CanConnect(SPortBufferInfo* poPortBufferInfo);
    virtual OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) = 0;
    virtual OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) = 0;
    virtual OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) = 0;
    virtual OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) = 0;

    void SetParent(CComponent* poParent) { m_poParent = poParent; }
    CComponent* GetParent() const { return m_poParent; }
    void SetPortID(MUINT32 uiPortID) { m_uiPortID = uiPortID; }
    MUINT32 GetPortID() const { return m_uiPortID; }
    MUINT32 GetBufferCount() const { return m_uiBufferCount; }
    MUINT32 GetState() const { return m_uiState; }
    void SetRemotePort(CPort* poRemotePort) { m_poRemotePort = poRemotePort; }
    CPort* GetRemotePort() const { return m_poRemotePort; }
    bool IsInterlaced() const { return m_bInterlaced; }
    MUINT32 GetOddFieldOffset() const { return m_uiOddFieldOffset; }
    bool IsSink() const { return (m_uiState & PortState_Sink) != 0; }
    bool IsSource() const { return (m_uiState & PortState_Source) != 0; }
    bool IsBufferReady() const { return (m_uiState & PortState_BufferReady) != 0; }
    bool IsBufferProvider() const { return (m_uiState & PortState_BufferProvider) != 0; }
    const SPortBufferInfo& GetPortBufferInfo() const { return m_oPortBufferInfo; }
    OMX_BUFFERHEADERTYPE* GetBufferHeader(MUINT32 uiIndex) const;

    void SetInterlaced(bool bInterlaced);

    // Buffer life cycle.
    OMX_ERRORTYPE ProvideBuffer(SPortBufferInfo* poPortBufferInfo, MUINT32 uiBufferCount);
    OMX_ERRORTYPE AllocBuffers();
    OMX_ERRORTYPE UseRemoteBuffers();
    OMX_ERRORTYPE ReleaseBuffers();

    // Control forwarding: a sink port runs its parent, a source port the port it is linked to.
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode);
    OMX_ERRORTYPE Pause();
    OMX_ERRORTYPE Loaded();
    OMX_ERRORTYPE StartBufferProcessing();
    OMX_ERRORTYPE StopBufferProcessing();

    // Declared for the link negotiation that this system does not use; always refused.
    OMX_ERRORTYPE SetBufferInfo(SPortBufferInfo* poPortBufferInfo);
    OMX_ERRORTYPE SetBufferCount(MUINT32 uiBufferCount);
    OMX_ERRORTYPE SetAsProvider(MBOOL32 bProvider);
    OMX_ERRORTYPE SetAsNonProvider(MBOOL32 bNonProvider);

protected:
    OMX_HANDLETYPE GetParentHandle() const;
    void DeleteHeaderTable();

    SPortBufferInfo m_oPortBufferInfo;
    // The links are read by the neighbours' threads on every buffer and cleared by Deinit, which
    // may run while a neighbour still delivers after a stop that failed part-way.
    std::atomic<CComponent*> m_poParent;
    std::atomic<CPort*> m_poRemotePort;
    MUINT32 m_uiPortID;
    MUINT32 m_uiState;
    MUINT32 m_uiBufferCount;
    OMX_BUFFERHEADERTYPE** m_apoBufferHeader;
    bool m_bInterlaced;
    MUINT32 m_uiOddFieldOffset;
};

class CSinkPort;

class CSourcePort : public CPort
{
public:
    CSourcePort();
    ~CSourcePort() override;

    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) override;

    OMX_ERRORTYPE ConnectTo(CSinkPort* poSinkPort);
};

class CSinkPort : public CPort
{
public:
    CSinkPort();
    ~CSinkPort() override;

    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader) override;
};

#endif // OMX_CLASS_PORT_H
