#include "gst-components/CRtspClientAdmission.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "ti814x-framework.h"

namespace
{
// Connections the kernel queues until the main loop accepts them. The library's default of 5
// drops the attempts of a burst beyond that, which their clients retry only after 1, 3, 7 ...
// seconds: 200 connections opened at once took half a minute to be accepted, and a viewer
// arriving meanwhile waited as long.
const gint local_iListenBacklog = SOMAXCONN;
// The largest request body accepted. The service's requests carry none or a few lines; the
// library allocates a body at the size announced before it arrives.
const guint local_uiContentLengthLimit = 65536;
// Upper bound of PELLIX_MAX_CLIENTS.
const unsigned long local_ulMaxClientsLimit = 100000;
// Key of a client's arrival number.
const char* const local_szArrivalKey = "pellix-client-arrival";
} // namespace

CRtspClientAdmission::CRtspClientAdmission() : m_uiNextArrival(0) {}

MUINT32 CRtspClientAdmission::GetMaxClients()
{
    const char* szMax = getenv("PELLIX_MAX_CLIENTS");
    if (szMax == nullptr || szMax[0] == '\0')
        return 0;
    char* szEnd = nullptr;
    errno = 0;
    const unsigned long ulMax = strtoul(szMax, &szEnd, 10);
    if (errno != 0 || *szEnd != '\0' || szMax[0] < '0' || szMax[0] > '9' || ulMax > local_ulMaxClientsLimit)
    {
        ZEM_INFO(0, "WARNING: PELLIX_MAX_CLIENTS \"%s\" is no number of clients, no limit applies", szMax);
        return 0;
    }
    return static_cast<MUINT32>(ulMax);
}

void CRtspClientAdmission::Attach(GstRTSPServer* poServer, MUINT32 uiMaxClients)
{
    gst_rtsp_server_set_backlog(poServer, local_iListenBacklog);
    gst_rtsp_server_set_content_length_limit(poServer, local_uiContentLengthLimit);
    // A viewer holds one session, which its video and audio streams share.
    GstRTSPSessionPool* poSessionPool = gst_rtsp_server_get_session_pool(poServer);
    if (poSessionPool != nullptr)
    {
        gst_rtsp_session_pool_set_max_sessions(poSessionPool, uiMaxClients);
        g_object_unref(poSessionPool);
    }
    if (uiMaxClients != 0)
        ZEM_INFO(1, "At most %u clients", uiMaxClients);
    g_signal_connect(poServer, "client-connected", G_CALLBACK(CallbackClientConnected), this);
}

void CRtspClientAdmission::CallbackClientConnected(GstRTSPServer* poServer, GstRTSPClient* poClient,
                                                   gpointer pvInstance)
{
    static_cast<CRtspClientAdmission*>(pvInstance)->ClientConnected(poServer, poClient);
}

void CRtspClientAdmission::ClientConnected(GstRTSPServer* poServer, GstRTSPClient* poClient)
{
    const GQuark uiArrivalKey = g_quark_from_static_string(local_szArrivalKey);
    g_object_set_qdata(G_OBJECT(poClient), uiArrivalKey, GUINT_TO_POINTER(m_uiNextArrival));
    ++m_uiNextArrival;
    g_signal_connect(poClient, "closed", G_CALLBACK(CallbackClientClosed), this);

    // The connections without a session, and the oldest of them (arrival numbers wrap around:
    // the age is the distance to the next number).
    MUINT32 uiWaiting = 0;
    MUINT32 uiOldestAge = 0;
    GstRTSPClient* poOldest = nullptr;
    GList* poClients = gst_rtsp_server_client_filter(poServer, nullptr, nullptr);
    for (GList* poCell = poClients; poCell != nullptr; poCell = poCell->next)
    {
        GstRTSPClient* poOther = GST_RTSP_CLIENT(poCell->data);
        GList* poSessions = gst_rtsp_client_session_filter(poOther, nullptr, nullptr);
        const bool bViewer = poSessions != nullptr;
        g_list_free_full(poSessions, g_object_unref);
        if (bViewer)
            continue;
        ++uiWaiting;
        const MUINT32 uiAge = m_uiNextArrival - GPOINTER_TO_UINT(g_object_get_qdata(G_OBJECT(poOther), uiArrivalKey));
        if (poOldest == nullptr || uiAge > uiOldestAge)
        {
            poOldest = poOther;
            uiOldestAge = uiAge;
        }
    }
    if (uiWaiting > s_uiMaxWaitingConnections && poOldest != nullptr && poOldest != poClient)
    {
        ZEM_INFO(2, "%u connections without a session: the oldest is closed", uiWaiting);
        gst_rtsp_client_close(poOldest);
    }
    g_list_free_full(poClients, g_object_unref);
}

void CRtspClientAdmission::CallbackClientClosed(GstRTSPClient* poClient, gpointer pvInstance)
{
    // The library has taken the media out of the connection's sessions by now. A session without
    // media exists nowhere else: SETUP adds the media in the same step that creates the session,
    // TEARDOWN removes the session with its last media.
    GstRTSPSessionPool* poPool = gst_rtsp_client_get_session_pool(poClient);
    if (poPool == nullptr)
        return;
    GList* poRemoved = gst_rtsp_session_pool_filter(poPool, CallbackSessionWithoutMedia, pvInstance);
    g_list_free_full(poRemoved, g_object_unref);
    g_object_unref(poPool);
}

GstRTSPFilterResult CRtspClientAdmission::CallbackSessionWithoutMedia(GstRTSPSessionPool* /*poPool*/,
                                                                      GstRTSPSession* poSession,
                                                                      gpointer /*pvInstance*/)
{
    GList* poMedias = gst_rtsp_session_filter(poSession, nullptr, nullptr);
    const bool bWithoutMedia = poMedias == nullptr;
    g_list_free_full(poMedias, g_object_unref);
    if (bWithoutMedia)
        ZEM_INFO(2, "Session %s of a closed connection removed", gst_rtsp_session_get_sessionid(poSession));
    return bWithoutMedia ? GST_RTSP_FILTER_REMOVE : GST_RTSP_FILTER_KEEP;
}
