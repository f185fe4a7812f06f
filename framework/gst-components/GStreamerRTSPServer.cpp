#include "gst-components/GStreamerRTSPServer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <new>

#include <gst/rtsp-server/rtsp-auth.h>
#include <gst/rtsp-server/rtsp-mount-points.h>
#include <gst/rtsp-server/rtsp-thread-pool.h>

#include "gst-components/CMutexLockUnlock.h"
#include "ti814x-framework.h"

namespace
{
const char* const local_szDefaultNetInterface = "eth0";
const char* const local_szUser = "happyuser";
const char* const local_szPassword = "quietmapleriverstone";

const int local_iFirstPayloadType = 96;
// Any int in decimal, a blank and the terminator.
const int local_iNumberTextSize = 13;
const int local_iIpAddrSize = 16;

// Start check: the loop must run within 5000 pauses of 1 ms.
const unsigned local_uiStartPolls = 5000;
const useconds_t local_uiStartPollUsec = 1000;

// A stop of the streams ends within local_uiStopBoundMs, whatever the clients do, so that the
// whole stop of the graph keeps within its 10 seconds: the clients get the first
// local_uiClientBoundMs to leave on their end-of-stream; what is left closes their connections
// and ends the media, which the RTSP library shuts down on its own thread.
const unsigned local_uiClientBoundMs = 7000;
const unsigned local_uiStopBoundMs = 8000;
// The waits poll every 100 ms; the clients' countdown is written once a second.
const useconds_t local_uiPollUsec = 100000;

typedef std::chrono::steady_clock local_CClock;

// Whole seconds left until oDeadline, rounded up.
int local_SecondsLeft(local_CClock::time_point oDeadline)
{
    const auto oLeft = std::chrono::duration_cast<std::chrono::milliseconds>(oDeadline - local_CClock::now());
    return oLeft.count() <= 0 ? 0 : static_cast<int>((oLeft.count() + 999) / 1000);
}

gboolean local_CallbackQuitMainLoop(gpointer pvMainLoop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(pvMainLoop));
    return G_SOURCE_REMOVE;
}

// With authentication on, every request that acts on a session must carry the user's Basic
// credentials as well. The RTSP library asks for them only where a media is described or set up,
// so whoever learnt a session's id could play, pause or end it.
GstRTSPStatusCode local_CallbackCheckSessionRequest(GstRTSPClient* /*poClient*/, GstRTSPContext* poContext,
                                                    gpointer /*pvData*/)
{
    bool bAuthorized = false;
    gchar* szCredential = gst_rtsp_auth_make_basic(local_szUser, local_szPassword);
    GstRTSPAuthCredential** apoCredentials =
        poContext->request != nullptr
            ? gst_rtsp_message_parse_auth_credentials(poContext->request, GST_RTSP_HDR_AUTHORIZATION)
            : nullptr;
    for (GstRTSPAuthCredential** ppoCredential = apoCredentials;
         ppoCredential != nullptr && *ppoCredential != nullptr && !bAuthorized; ++ppoCredential)
        bAuthorized = (*ppoCredential)->scheme == GST_RTSP_AUTH_BASIC && (*ppoCredential)->authorization != nullptr &&
                      szCredential != nullptr && strcmp((*ppoCredential)->authorization, szCredential) == 0;
    gst_rtsp_auth_credentials_free(apoCredentials);
    g_free(szCredential);
    return bAuthorized ? GST_RTSP_STS_OK : GST_RTSP_STS_UNAUTHORIZED;
}

void local_CallbackAuthenticatedClientConnected(GstRTSPServer* /*poServer*/, GstRTSPClient* poClient,
                                                gpointer /*pvData*/)
{
    for (const char* szSignal : {"pre-play-request", "pre-pause-request", "pre-teardown-request",
                                 "pre-get-parameter-request", "pre-set-parameter-request", "pre-announce-request",
                                 "pre-record-request"})
        g_signal_connect(poClient, szSignal, G_CALLBACK(local_CallbackCheckSessionRequest), nullptr);
}
} // namespace

GStreamerRTSPServer::GStreamerRTSPServer()
    : m_uiPortNumber(0),
      m_szPath(nullptr),
      m_poMainLoopThread(nullptr),
      m_poMainLoop(nullptr),
      m_poMainContext(nullptr),
      m_poStreamingComponentsList(nullptr),
      m_poRtspServer(nullptr),
      m_poRtspMediaFactory(nullptr),
      m_oPipelineCreatedCallback(),
      m_poPipeline(nullptr),
      m_oPipelineMutex(PTHREAD_MUTEX_INITIALIZER),
      m_uiServerSourceId(0)
{
    ZEM_INFO(3, "");
}

GStreamerRTSPServer::~GStreamerRTSPServer()
{
    ZEM_INFO(3, "");
    // Deinit has normally released everything; a server destroyed while serving stops first.
    if (m_poMainLoopThread != nullptr || m_poRtspServer != nullptr || m_poMainContext != nullptr)
        StopServing();
    delete[] m_szPath;
    g_list_free(m_poStreamingComponentsList);
    pthread_mutex_destroy(&m_oPipelineMutex);
}

OMX_ERRORTYPE GStreamerRTSPServer::Init()
{
    ZEM_INFO(2, "GStreamerRTSPServer");
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerRTSPServer::Deinit()
{
    ZEM_INFO(2, "GStreamerRTSPServer");
    StopServing();
    delete[] m_szPath;
    m_szPath = nullptr;
    g_list_free(m_poStreamingComponentsList);
    m_poStreamingComponentsList = nullptr;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerRTSPServer::SetPortInfo(const char* szPath, MUINT32 uiPort)
{
    delete[] m_szPath;
    m_szPath = nullptr;
    if (szPath == nullptr || szPath[0] == '\0')
        return OMX_ErrorBadParameter;
    const size_t uiLength = strlen(szPath);
    m_szPath = new (std::nothrow) char[uiLength + 1];
    if (m_szPath == nullptr)
        return OMX_ErrorInsufficientResources;
    memcpy(m_szPath, szPath, uiLength + 1);
    m_uiPortNumber = uiPort;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerRTSPServer::AddStreamingComponent(GStreamerServerComponent* poComponent)
{
    m_poStreamingComponentsList = g_list_append(m_poStreamingComponentsList, poComponent);
    if (m_poStreamingComponentsList == nullptr)
    {
        ZEM_INFO(0, "Error, can't add the streaming component to the list");
        return OMX_ErrorUndefined;
    }
    return OMX_ErrorNone;
}

GstRTSPMediaFactory* GStreamerRTSPServer::InitMediaFactory()
{
    GstRTSPMediaFactory* poFactory = gst_rtsp_media_factory_new();
    if (poFactory == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot create the media factory!");
        return nullptr;
    }

    GString* poLaunch = g_string_new("");
    char szNumber[local_iNumberTextSize];
    guint uiCount = g_list_length(m_poStreamingComponentsList);
    for (guint i = 0; i < uiCount; ++i)
    {
        auto* poComponent = static_cast<GStreamerServerComponent*>(g_list_nth_data(m_poStreamingComponentsList, i));
        if (poComponent == nullptr)
        {
            uiCount = 0;
            break;
        }
        if (poComponent->GetLaunchCommand() == nullptr)
        {
            // The component has not been executed yet: no fragment to serve.
            ZEM_INFO(0, "ERROR: No launch command for streaming component %u!", i);
            g_string_free(poLaunch, TRUE);
            g_object_unref(poFactory);
            return nullptr;
        }
        GstRtspMediaFactoryCallback* poCallback = poComponent->GetPipelineCreatedCallback();
        if (poCallback != nullptr && poCallback->pfnCallback != nullptr)
            gst_rtsp_media_factory_subscribe_callback(poFactory, poCallback);
        g_string_append(poLaunch, poComponent->GetLaunchCommand());
        g_string_append(poLaunch, " name=pay");
        snprintf(szNumber, sizeof(szNumber), "%d", static_cast<int>(i));
        g_string_append(poLaunch, szNumber);
        g_string_append(poLaunch, " pt=");
        snprintf(szNumber, sizeof(szNumber), "%d ", local_iFirstPayloadType + static_cast<int>(i));
        g_string_append(poLaunch, szNumber);
    }
    if (uiCount == 0)
    {
        ZEM_INFO(0, "ERROR: No streaming components!");
        g_string_free(poLaunch, TRUE);
        g_object_unref(poFactory);
        return nullptr;
    }

    ZEM_INFO(2, "The complete launch is: %s", poLaunch->str);
    gst_rtsp_media_factory_set_launch(poFactory, poLaunch->str);
    g_string_free(poLaunch, TRUE);

    m_oPipelineCreatedCallback.pfnCallback = CallbackPipelineCreated;
    m_oPipelineCreatedCallback.pvCallbackArgs = this;
    gst_rtsp_media_factory_subscribe_callback(poFactory, &m_oPipelineCreatedCallback);

    // All clients share one pipeline. Its streams end with an end-of-stream when the server stops
    // (SendEOSEvents); each media then leaves the factory's shut-down setting aside (see
    // CallbackMediaConfigure).
    gst_rtsp_media_factory_set_eos_shutdown(poFactory, TRUE);
    gst_rtsp_media_factory_set_shared(poFactory, TRUE);
    g_signal_connect(poFactory, "media-configure", G_CALLBACK(CallbackMediaConfigure), this);
    return poFactory;
}

void GStreamerRTSPServer::CallbackMediaConfigure(GstRTSPMediaFactory* /*poFactory*/, GstRTSPMedia* poMedia,
                                                 gpointer /*pvInstance*/)
{
    // When its last client leaves, the media shuts its pipeline down at once. With an
    // end-of-stream first, the media stays "unpreparing" until that end-of-stream has reached
    // every sink, and the factory hands that media to every client that asks meanwhile, which
    // answers 503. The RTP session's RTCP sink may never get it (the session can send its BYE
    // without passing the end-of-stream on), and then every later client is refused and the stop
    // finds the pipeline still there. Nobody receives the streams by then: nothing is lost.
    gst_rtsp_media_set_eos_shutdown(poMedia, FALSE);

    // The RTSP library adds each client's sinks to the pipeline while it runs.
    GstElement* poElement = gst_rtsp_media_get_element(poMedia);
    GstObject* poPipeline = poElement != nullptr ? gst_object_get_parent(GST_OBJECT(poElement)) : nullptr;
    if (poPipeline != nullptr && GST_IS_BIN(poPipeline))
        g_signal_connect(poPipeline, "deep-element-added", G_CALLBACK(CallbackElementAdded), nullptr);
    if (poPipeline != nullptr)
        gst_object_unref(poPipeline);
    if (poElement != nullptr)
        gst_object_unref(poElement);
}

void GStreamerRTSPServer::CallbackElementAdded(GstBin* /*poPipeline*/, GstBin* /*poBin*/, GstElement* poElement,
                                               gpointer /*pvInstance*/)
{
    // A sink that prerolls asynchronously holds the pipeline's way to PLAYING until a buffer has
    // reached it. The RTSP library plugs the first client's sink of a stream straight onto the
    // stream's tee and the later ones behind queues, and makes its UDP sinks asynchronous: when
    // clients start to play together, the stream's thread stops in the first sink's preroll while
    // a UDP sink behind a queue still waits for its first buffer, and the media never plays, for
    // any of them. Sinks that change state at once let the pipeline play; the one in preroll is
    // released as it does.
    if (GST_OBJECT_FLAG_IS_SET(poElement, GST_ELEMENT_FLAG_SINK) &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(poElement), "async") != nullptr)
        g_object_set(poElement, "async", FALSE, nullptr);
}

OMX_ERRORTYPE GStreamerRTSPServer::StartServing(bool bDoAuthentication)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    char szService[local_iNumberTextSize];
    GstRTSPMountPoints* poMountPoints = nullptr;
    GstRTSPThreadPool* poThreadPool = nullptr;
    GError* poError = nullptr;
    unsigned uiPolls = 0;

    ZEM_INFO(2, "GStreamerRTSPServer");
    StopServing();
    gst_init(nullptr, nullptr);
    // A stop leaves the streams disconnected from their FIFOs; serving again connects them.
    for (GList* poCell = m_poStreamingComponentsList; poCell != nullptr; poCell = poCell->next)
        if (poCell->data != nullptr)
            static_cast<GStreamerServerComponent*>(poCell->data)->DisconnectFifo(FALSE);

    m_poMainContext = g_main_context_new();
    if (m_poMainContext == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot create the main context!");
        goto Zem_Abort;
    }
    m_poMainLoop = g_main_loop_new(m_poMainContext, FALSE);
    if (m_poMainLoop == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot create the main loop!");
        goto Zem_Abort;
    }
    m_poRtspServer = gst_rtsp_server_new();
    if (m_poRtspServer == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot create the media server!");
        goto Zem_Abort;
    }
    // Clients are served on the main-loop thread, not on threads of the library's pool.
    poThreadPool = gst_rtsp_server_get_thread_pool(m_poRtspServer);
    if (poThreadPool != nullptr)
    {
        gst_rtsp_thread_pool_set_max_threads(poThreadPool, 0);
        g_object_unref(poThreadPool);
    }
    snprintf(szService, sizeof(szService), "%u", m_uiPortNumber);
    gst_rtsp_server_set_service(m_poRtspServer, szService);
    m_oClientAdmission.Attach(m_poRtspServer, CRtspClientAdmission::GetMaxClients());
    g_signal_connect(m_poRtspServer, "client-connected", G_CALLBACK(CallbackClientConnected), this);

    m_poRtspMediaFactory = InitMediaFactory();
    if (m_poRtspMediaFactory == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot init the media factory!");
        goto Zem_Abort;
    }
    if (m_szPath == nullptr)
    {
        ZEM_INFO(0, "ERROR: Path not initialized!");
        goto Zem_Abort;
    }
    poMountPoints = gst_rtsp_server_get_mount_points(m_poRtspServer);
    if (poMountPoints == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot get the media mapping!");
        goto Zem_Abort;
    }
    if (bDoAuthentication && !SetAuthentication(m_poRtspServer, m_poRtspMediaFactory))
        ZEM_INFO(0, "WARNING: Cannot set the authentication!");
    // From here on the factory belongs to the mount points.
    gst_rtsp_mount_points_add_factory(poMountPoints, m_szPath, m_poRtspMediaFactory);
    g_object_unref(poMountPoints);

    m_uiServerSourceId = gst_rtsp_server_attach(m_poRtspServer, m_poMainContext);
    if (m_uiServerSourceId == 0)
    {
        ZEM_INFO(0, "ERROR: Cannot attach the server to the context!");
        goto Zem_Abort;
    }
    m_poMainLoopThread = g_thread_try_new("RTSPMainLoop", MainLoopThread, this, &poError);
    if (m_poMainLoopThread == nullptr)
    {
        ZEM_INFO(0, "ERROR: Cannot create the main loop thread!");
        g_clear_error(&poError);
        goto Zem_Abort;
    }
    while (!g_main_loop_is_running(m_poMainLoop) && uiPolls < local_uiStartPolls)
    {
        usleep(local_uiStartPollUsec);
        ++uiPolls;
    }
    if (!g_main_loop_is_running(m_poMainLoop))
    {
        ZEM_INFO(0, "ERROR: Main loop do not run!");
        goto Zem_Abort;
    }
    return OMX_ErrorNone;

Zem_Abort:
    eError = OMX_ErrorUndefined;
    if (m_poRtspMediaFactory != nullptr && poMountPoints == nullptr)
    {
        // Not handed to the mount points yet: still ours.
        g_object_unref(m_poRtspMediaFactory);
        m_poRtspMediaFactory = nullptr;
    }
    StopServing();
    return eError;
}

void GStreamerRTSPServer::CallbackClientConnected(GstRTSPServer* /*poServer*/, GstRTSPClient* poClient,
                                                  gpointer pvInstance)
{
    g_signal_connect(poClient, "play-request", G_CALLBACK(CallbackPlayRequest), pvInstance);
}

void GStreamerRTSPServer::CallbackPlayRequest(GstRTSPClient* /*poClient*/, GstRTSPContext* /*poContext*/,
                                              gpointer pvInstance)
{
    // Emitted once the PLAY is answered and the client's transports receive the streams.
    const GStreamerRTSPServer* poServer = static_cast<const GStreamerRTSPServer*>(pvInstance);
    for (GList* poCell = poServer->m_poStreamingComponentsList; poCell != nullptr; poCell = poCell->next)
        if (poCell->data != nullptr)
            static_cast<GStreamerServerComponent*>(poCell->data)->ViewerJoined();
}

gboolean GStreamerRTSPServer::CallbackReleaseConnections(gpointer pvInstance)
{
    static_cast<GStreamerRTSPServer*>(pvInstance)->ReleaseConnections();
    return G_SOURCE_REMOVE;
}

void GStreamerRTSPServer::ReleaseConnections()
{
    if (m_poRtspServer != nullptr)
        gst_rtsp_server_client_filter(m_poRtspServer, CallbackRemoveClient, this);
    if (m_uiServerSourceId != 0 && m_poMainContext != nullptr)
    {
        GSource* poSource = g_main_context_find_source_by_id(m_poMainContext, m_uiServerSourceId);
        if (poSource != nullptr)
            g_source_destroy(poSource);
    }
    m_uiServerSourceId = 0;
}

GstRTSPFilterResult GStreamerRTSPServer::CallbackRemoveClient(GstRTSPServer* /*poServer*/,
                                                              GstRTSPClient* /*poClient*/,
                                                              gpointer /*pvInstance*/)
{
    return GST_RTSP_FILTER_REMOVE;
}

OMX_ERRORTYPE GStreamerRTSPServer::StopServing()
{
    ZEM_INFO(2, "");
    const local_CClock::time_point oStopDeadline =
        local_CClock::now() + std::chrono::milliseconds(local_uiStopBoundMs);
    // Nothing serves: there is no stream to end, and the streaming components may be gone (the
    // graph's teardown stops the server once more after the components were deinitialised).
    if (m_poMainLoopThread == nullptr && m_poMainLoop == nullptr && m_poMainContext == nullptr &&
        m_poRtspServer == nullptr)
    {
        m_poRtspMediaFactory = nullptr;
        ForgetPipeline();
        return OMX_ErrorNone;
    }
    GstElement* poPipeline = RefPipeline();
    if (poPipeline != nullptr && GST_IS_PIPELINE(poPipeline))
    {
        if (SendEOSEvents() != OMX_ErrorNone)
            ZEM_INFO(0, "Error occured while sending EOS events");
    }
    if (poPipeline != nullptr)
        gst_object_unref(poPipeline);

    // No handoff may block the shut-down of a pipeline that is still there, nor of one a client
    // asked for meanwhile.
    for (GList* poCell = m_poStreamingComponentsList; poCell != nullptr; poCell = poCell->next)
        if (poCell->data != nullptr)
            static_cast<GStreamerServerComponent*>(poCell->data)->DisconnectFifo(TRUE);

    if (m_poMainLoop != nullptr)
    {
        if (m_poMainLoopThread != nullptr && g_main_loop_is_running(m_poMainLoop))
        {
            // On the main-loop thread: close every client and the listening socket, let the
            // library finish with them, then quit.
            g_main_context_invoke(m_poMainContext, CallbackReleaseConnections, this);
            GSource* poQuit = g_idle_source_new();
            g_source_set_priority(poQuit, G_PRIORITY_LOW);
            g_source_set_callback(poQuit, local_CallbackQuitMainLoop, m_poMainLoop, nullptr);
            g_source_attach(poQuit, m_poMainContext);
            g_source_unref(poQuit);
        }
        else
            g_main_loop_quit(m_poMainLoop);
    }
    if (m_poMainLoopThread != nullptr)
    {
        ZEM_INFO(2, "Main loop thread join");
        g_thread_join(m_poMainLoopThread);
        m_poMainLoopThread = nullptr;
    }
    // Whatever the loop did not get to.
    ReleaseConnections();

    // The media, shut down by the closed connections, reports its pipeline deleted; what is left
    // of the stop's time is given to it.
    poPipeline = RefPipeline();
    if (poPipeline != nullptr)
    {
        GstElement* poCurrent = RefPipeline();
        while (poCurrent != nullptr && local_CClock::now() < oStopDeadline)
        {
            gst_object_unref(poCurrent);
            usleep(local_uiPollUsec);
            poCurrent = RefPipeline();
        }
        if (poCurrent != nullptr)
        {
            gst_object_unref(poCurrent);
            ZEM_INFO(0, "Error, pipeline still exists after the clients were disconnected");
            // Its streaming threads call into the streaming components, which may be destroyed
            // once the stop has returned: they are ended here (the FIFOs are disconnected, so no
            // handoff holds them).
            gst_element_set_state(poPipeline, GST_STATE_NULL);
        }
        gst_object_unref(poPipeline);
    }

    if (m_poRtspServer != nullptr)
    {
        g_object_unref(m_poRtspServer);
        m_poRtspServer = nullptr;
    }
    if (m_poMainLoop != nullptr)
    {
        g_main_loop_unref(m_poMainLoop);
        m_poMainLoop = nullptr;
    }
    if (m_poMainContext != nullptr)
    {
        g_main_context_unref(m_poMainContext);
        m_poMainContext = nullptr;
    }
    m_poRtspMediaFactory = nullptr;
    ForgetPipeline();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerRTSPServer::SendEOSEvents()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    GstIterator* poIterator = nullptr;
    GValue oItem = G_VALUE_INIT;
    GstElement* poPipeline = RefPipeline();
    unsigned uiEosSent = 0;
    const local_CClock::time_point oDeadline = local_CClock::now() + std::chrono::milliseconds(local_uiClientBoundMs);
    int iSecondsShown = -1;

    ZEM_INFO(2, "Sending EOS events on pipeline's source elements");
    if (poPipeline == nullptr)
        return OMX_ErrorNone;
    for (guint i = 0; i < g_list_length(m_poStreamingComponentsList); ++i)
    {
        auto* poComponent = static_cast<GStreamerServerComponent*>(g_list_nth_data(m_poStreamingComponentsList, i));
        if (poComponent == nullptr)
            continue;
        const char* szSourceName = poComponent->GetSourceElementName();
        // A resync restarts the walk; an element already given its end-of-stream is not given
        // another.
        bool bEosSent = false;
        poIterator = gst_bin_iterate_recurse(GST_BIN(poPipeline));
        if (poIterator == nullptr)
        {
            ZEM_INFO(0, "Error, can't get iterator for pipeline elements");
            ZEM_FAIL(OMX_ErrorUndefined);
        }
        bool bDone = false;
        while (!bDone)
        {
            switch (gst_iterator_next(poIterator, &oItem))
            {
            case GST_ITERATOR_DONE:
                bDone = true;
                break;
            case GST_ITERATOR_ERROR:
                ZEM_INFO(0, "GstIterator error");
                gst_iterator_free(poIterator);
                poIterator = nullptr;
                ZEM_FAIL(OMX_ErrorUndefined);
            case GST_ITERATOR_RESYNC:
                g_value_reset(&oItem);
                gst_iterator_resync(poIterator);
                break;
            case GST_ITERATOR_OK:
            {
                GstElement* poElement = GST_ELEMENT(g_value_get_object(&oItem));
                gchar* szName = gst_element_get_name(poElement);
                ZEM_INFO(1, "element: %s", szName);
                if (!bEosSent && szSourceName != nullptr && strcmp(szName, szSourceName) == 0)
                {
                    if (EndSourceStream(poComponent, poElement, oDeadline))
                    {
                        ZEM_INFO(2, "Sent EOS event on element %s", szSourceName);
                        ++uiEosSent;
                    }
                    else
                        ZEM_INFO(2, "No EOS event on element %s: not playing", szSourceName);
                    bEosSent = true;
                }
                g_free(szName);
                g_value_reset(&oItem);
                break;
            }
            }
        }
        g_value_unset(&oItem);
        gst_iterator_free(poIterator);
        poIterator = nullptr;
    }

    if (uiEosSent == 0)
    {
        // Nobody plays: nobody leaves on an end-of-stream. The stop closes the connections.
        gst_object_unref(poPipeline);
        return OMX_ErrorNone;
    }
    ZEM_INFO(2, "Waiting for clients to disconnect...");
    // The clients' time counts from the start of the end-of-stream, its sending included.
    while (local_CClock::now() < oDeadline)
    {
        GstElement* poCurrent = RefPipeline();
        if (poCurrent != nullptr)
            gst_object_unref(poCurrent);
        if (poCurrent != poPipeline)
        {
            gst_object_unref(poPipeline);
            return OMX_ErrorNone;
        }
        const int iSecondsLeft = local_SecondsLeft(oDeadline);
        if (iSecondsLeft != iSecondsShown)
        {
            ZEM_INFO(2, "Waiting for %d seconds...", iSecondsLeft);
            iSecondsShown = iSecondsLeft;
        }
        usleep(local_uiPollUsec);
    }
    ZEM_INFO(0, "Error while sending EOS event, pipeline still exists after %u seconds", local_uiClientBoundMs / 1000);
    gst_object_unref(poPipeline);
    return OMX_ErrorUndefined;

Zem_Abort:
    g_value_unset(&oItem);
    gst_object_unref(poPipeline);
    ZEM_ABORT_RECORD();
    return eError;
}

namespace
{
// One end-of-stream handed to the main-loop thread, shared by the two threads (two references):
// the stop may stop waiting for it, and the main loop may then still hold it. POSIX mutex and
// condition, which race detectors see.
struct SEndSourceStream
{
    GStreamerServerComponent* poComponent = nullptr;
    GstElement* poSource = nullptr;
    bool bSent = false;
    bool bDone = false;
    // The stop no longer waits: the request must not touch the component any more.
    bool bCancelled = false;
    unsigned uiReferences = 2;
    pthread_mutex_t oMutex;
    pthread_cond_t oDone;
    // Stored last by the stop's thread, read first by the main loop: the main context hands the
    // request over through GLib's own locking, which race detectors do not see.
    std::atomic<bool> bPublished{false};
};

SEndSourceStream* local_NewEndSourceStream(GStreamerServerComponent* poComponent, GstElement* poSource)
{
    auto* poRequest = new (std::nothrow) SEndSourceStream();
    if (poRequest == nullptr)
        return nullptr;
    pthread_mutex_init(&poRequest->oMutex, nullptr);
    pthread_condattr_t oAttr;
    pthread_condattr_init(&oAttr);
    pthread_condattr_setclock(&oAttr, CLOCK_MONOTONIC);
    pthread_cond_init(&poRequest->oDone, &oAttr);
    pthread_condattr_destroy(&oAttr);
    poRequest->poComponent = poComponent;
    poRequest->poSource = poSource;
    poRequest->bPublished.store(true, std::memory_order_release);
    return poRequest;
}

void local_ReleaseEndSourceStream(gpointer pvRequest)
{
    auto* poRequest = static_cast<SEndSourceStream*>(pvRequest);
    static_cast<void>(poRequest->bPublished.load(std::memory_order_acquire));
    unsigned uiLeft = 0;
    {
        CMutexLockUnlock oLock(poRequest->oMutex);
        uiLeft = --poRequest->uiReferences;
    }
    if (uiLeft != 0)
        return;
    pthread_cond_destroy(&poRequest->oDone);
    pthread_mutex_destroy(&poRequest->oMutex);
    delete poRequest;
}
} // namespace

gboolean GStreamerRTSPServer::CallbackEndSourceStream(gpointer pvRequest)
{
    auto* poRequest = static_cast<SEndSourceStream*>(pvRequest);
    static_cast<void>(poRequest->bPublished.load(std::memory_order_acquire));
    GStreamerServerComponent* poComponent = nullptr;
    GstElement* poSource = nullptr;
    {
        CMutexLockUnlock oLock(poRequest->oMutex);
        if (poRequest->bCancelled)
            return G_SOURCE_REMOVE;
        poComponent = poRequest->poComponent;
        poSource = poRequest->poSource;
    }
    // No handoff waits for data from now on, so the source's streaming thread comes back.
    poComponent->DisconnectFifo(TRUE);
    // Sending waits for that thread while holding the source's state lock. Before the pipeline
    // plays (or once it pauses) the thread sits in the sinks' preroll, which only a state change
    // ends: then the source gets no end-of-stream (its clients receive nothing to end). On this
    // thread no client request changes the pipeline's state meanwhile.
    GstState eState = GST_STATE_NULL;
    gst_element_get_state(poSource, &eState, nullptr, 0);
    const bool bSent = eState == GST_STATE_PLAYING;
    if (bSent)
        gst_element_send_event(poSource, gst_event_new_eos());
    CMutexLockUnlock oLock(poRequest->oMutex);
    poRequest->bSent = bSent;
    poRequest->bDone = true;
    pthread_cond_signal(&poRequest->oDone);
    return G_SOURCE_REMOVE;
}

bool GStreamerRTSPServer::EndSourceStream(GStreamerServerComponent* poComponent, GstElement* poSource,
                                          std::chrono::steady_clock::time_point oDeadline)
{
    SEndSourceStream* poRequest = local_NewEndSourceStream(poComponent, poSource);
    if (poRequest == nullptr)
        return false;
    bool bSent = false;
    if (m_poMainLoopThread != nullptr && m_poMainLoop != nullptr && g_main_loop_is_running(m_poMainLoop))
    {
        g_main_context_invoke_full(m_poMainContext, G_PRIORITY_DEFAULT, CallbackEndSourceStream, poRequest,
                                   local_ReleaseEndSourceStream);
        // The main loop may be busy with clients: the wait ends with the clients' time. The stop
        // joins the main loop before it returns, so a request taken late still finds the
        // component; one not taken by then is dropped with the main context.
        const auto oLeft = std::chrono::duration_cast<std::chrono::nanoseconds>(oDeadline - local_CClock::now());
        timespec oUntil;
        clock_gettime(CLOCK_MONOTONIC, &oUntil);
        const long long llNs = static_cast<long long>(oUntil.tv_nsec) + (oLeft.count() > 0 ? oLeft.count() : 0);
        oUntil.tv_sec += static_cast<time_t>(llNs / 1000000000LL);
        oUntil.tv_nsec = static_cast<long>(llNs % 1000000000LL);
        CMutexLockUnlock oLock(poRequest->oMutex);
        while (!poRequest->bDone)
        {
            if (pthread_cond_timedwait(&poRequest->oDone, &poRequest->oMutex, &oUntil) == ETIMEDOUT)
            {
                ZEM_INFO(0, "Error, the main loop did not take the end-of-stream in time");
                poRequest->bCancelled = true;
                break;
            }
        }
        bSent = poRequest->bDone && poRequest->bSent;
    }
    else
    {
        CallbackEndSourceStream(poRequest);
        bSent = poRequest->bSent;
        local_ReleaseEndSourceStream(poRequest);
    }
    local_ReleaseEndSourceStream(poRequest);
    return bSent;
}

GstElement* GStreamerRTSPServer::RefPipeline()
{
    CMutexLockUnlock oLock(m_oPipelineMutex);
    return m_poPipeline != nullptr ? GST_ELEMENT(gst_object_ref(m_poPipeline)) : nullptr;
}

OMX_ERRORTYPE GStreamerRTSPServer::PipelineCreated(GstElement* poPipeline)
{
    GstElement* poNew = nullptr;
    if (poPipeline != nullptr && GST_IS_PIPELINE(poPipeline))
    {
        poNew = GST_ELEMENT(gst_object_ref(poPipeline));
        ZEM_INFO(1, "Pipeline created.");
    }
    else if (poPipeline != nullptr)
        ZEM_INFO(0, "Error: Bad pipeline!");
    else
        ZEM_INFO(1, "Pipeline deleted.");
    GstElement* poOld = nullptr;
    {
        CMutexLockUnlock oLock(m_oPipelineMutex);
        poOld = m_poPipeline;
        m_poPipeline = poNew;
    }
    if (poOld != nullptr)
        gst_object_unref(poOld);
    return OMX_ErrorNone;
}

void GStreamerRTSPServer::ForgetPipeline()
{
    GstElement* poOld = nullptr;
    {
        CMutexLockUnlock oLock(m_oPipelineMutex);
        poOld = m_poPipeline;
        m_poPipeline = nullptr;
    }
    if (poOld != nullptr)
        gst_object_unref(poOld);
}

void GStreamerRTSPServer::CallbackPipelineCreated(GstElement* poPipeline, gpointer pvInstance)
{
    static_cast<GStreamerRTSPServer*>(pvInstance)->PipelineCreated(poPipeline);
}

gpointer GStreamerRTSPServer::MainLoopThread(gpointer pData)
{
    auto* poServer = static_cast<GStreamerRTSPServer*>(pData);
    if (poServer == nullptr)
        return nullptr;
    g_main_context_push_thread_default(poServer->m_poMainContext);
    g_main_loop_run(poServer->m_poMainLoop);
    g_main_context_pop_thread_default(poServer->m_poMainContext);
    ZEM_INFO(2, "Main loop exited");
    return nullptr;
}

bool GStreamerRTSPServer::IsPlaying()
{
    GstElement* poPipeline = RefPipeline();
    if (poPipeline == nullptr)
        return false;
    GstState eState = GST_STATE_NULL;
    const bool bPlaying = GST_IS_PIPELINE(poPipeline) &&
                          gst_element_get_state(poPipeline, &eState, nullptr, 0) != GST_STATE_CHANGE_FAILURE &&
                          eState == GST_STATE_PLAYING;
    gst_object_unref(poPipeline);
    return bPlaying;
}

const char* GStreamerRTSPServer::GetNetInterface()
{
    const char* szInterface = getenv("PELLIX_NET_INTERFACE");
    return (szInterface != nullptr && szInterface[0] != '\0') ? szInterface : local_szDefaultNetInterface;
}

gboolean GStreamerRTSPServer::GetIpAddr(char* szIpAddr, const char* szNetInt)
{
    struct ifaddrs* poAddresses = nullptr;
    gboolean bFound = FALSE;
    if (getifaddrs(&poAddresses) != 0)
        return FALSE;
    for (struct ifaddrs* poEntry = poAddresses; poEntry != nullptr; poEntry = poEntry->ifa_next)
    {
        if (poEntry->ifa_addr == nullptr || poEntry->ifa_addr->sa_family != AF_INET ||
            strcmp(poEntry->ifa_name, szNetInt) != 0)
            continue;
        const auto* poInet = reinterpret_cast<const struct sockaddr_in*>(poEntry->ifa_addr);
        inet_ntop(AF_INET, &poInet->sin_addr, szIpAddr, local_iIpAddrSize);
        bFound = TRUE;
        break;
    }
    freeifaddrs(poAddresses);
    return bFound;
}

bool GStreamerRTSPServer::GetServerAddress(char* szAddress, int iStrLen)
{
    char szIpAddr[local_iIpAddrSize];
    if (!GetIpAddr(szIpAddr, GetNetInterface()))
        return false;
    snprintf(szAddress, iStrLen, "rtsp://%s:%d%s", szIpAddr, static_cast<int>(m_uiPortNumber),
             m_szPath != nullptr ? m_szPath : "");
    return true;
}

bool SetAuthentication(GstRTSPServer* poRtspServer, GstRTSPMediaFactory* poRtspMediaFactory)
{
    GstRTSPAuth* poAuth = gst_rtsp_auth_new();
    if (poAuth == nullptr)
        return false;
    gchar* szCredential = gst_rtsp_auth_make_basic(local_szUser, local_szPassword);
    if (szCredential == nullptr)
    {
        g_object_unref(poAuth);
        return false;
    }
    // The credential gives the user's role, and the role may use the factory.
    GstRTSPToken* poToken =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, local_szUser, nullptr);
    gst_rtsp_auth_add_basic(poAuth, szCredential, poToken);
    gst_rtsp_token_unref(poToken);
    gst_rtsp_media_factory_add_role(poRtspMediaFactory, local_szUser, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                    G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN,
                                    TRUE, nullptr);
    gst_rtsp_server_set_auth(poRtspServer, poAuth);
    g_signal_connect(poRtspServer, "client-connected", G_CALLBACK(local_CallbackAuthenticatedClientConnected), nullptr);
    g_free(szCredential);
    g_object_unref(poAuth);
    return true;
}
