// CRtspClientAdmission: how the RTSP server admits connections and viewers.
//
// - A burst of connections waits in the kernel's queue until the main loop accepts it.
// - A request body larger than the service needs is refused (413) before anything is allocated.
// - At most GetMaxClients() viewers hold a session at once: the next SETUP is answered 503
//   Service Unavailable and the viewers already there go on undisturbed.
// - At most s_uiMaxWaitingConnections connections without a session are kept: when one more
//   arrives, the oldest of them is closed. Connections that never finish a request therefore
//   cannot take every descriptor of the process (the library would then fail every accept
//   and spin on the listening socket), and a newcomer is always served.
// - A viewer's session ends with its connection. When a connection closes without a TEARDOWN,
//   the library takes the media out of the connection's sessions but keeps the sessions in the
//   pool, where nothing would ever remove them: each such viewer would hold its place under the
//   limit, and its memory, for good.
//
// Attach runs on the host's thread before the server's main loop starts; every later call comes
// from the main loop, which serves the clients.
#ifndef CRTSP_CLIENT_ADMISSION_H
#define CRTSP_CLIENT_ADMISSION_H

#include <gst/rtsp-server/rtsp-server.h>

#include "ZemBaseTypes.h"

class CRtspClientAdmission
{
public:
    static constexpr MUINT32 s_uiMaxWaitingConnections = 128;

    CRtspClientAdmission();

    CRtspClientAdmission(const CRtspClientAdmission&) = delete;
    CRtspClientAdmission& operator=(const CRtspClientAdmission&) = delete;

    // Applies the rules above to a server not attached yet, with uiMaxClients viewers at most
    // (0: no limit).
    void Attach(GstRTSPServer* poServer, MUINT32 uiMaxClients);

    // The most viewers served at once, from PELLIX_MAX_CLIENTS; 0 (no limit) when the variable is
    // unset, empty or no number of clients.
    static MUINT32 GetMaxClients();

private:
    static void CallbackClientConnected(GstRTSPServer* poServer, GstRTSPClient* poClient, gpointer pvInstance);
    void ClientConnected(GstRTSPServer* poServer, GstRTSPClient* poClient);
    // Removes the sessions of the pool that hold no media: those of connections that have gone.
    static void CallbackClientClosed(GstRTSPClient* poClient, gpointer pvInstance);
    static GstRTSPFilterResult CallbackSessionWithoutMedia(GstRTSPSessionPool* poPool, GstRTSPSession* poSession,
                                                           gpointer pvInstance);

    // Arrival number of the next connection; the oldest connection has the largest distance to it.
    MUINT32 m_uiNextArrival;
};

#endif // CRTSP_CLIENT_ADMISSION_H
