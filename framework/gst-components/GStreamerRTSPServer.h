// GStreamerRTSPServer: publishes the encoded streams of the component graph as one RTSP media at
// one path of one TCP port.
//
// One GstRTSPServer, its mount points and one shared media factory whose launch line joins the
// launch fragments of the streaming components, each followed by its payloader's name (pay0,
// pay1, ...) and payload type (96, 97, ...). The server runs the GLib main loop of a private main
// context on a thread of its own; clients are served on that thread. The media factory reports
// the creation of the media pipeline for the first client and its destruction to the server and
// to every streaming component. At stop the server sends end-of-stream into the pipeline's source
// elements and gives the clients up to 7 seconds to go; the whole stop ends within 8 seconds,
// whatever the clients do.
#ifndef GSTREAMER_RTSP_SERVER_H
#define GSTREAMER_RTSP_SERVER_H

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <pthread.h>

#include <atomic>
#include <chrono>

#include "ZemBaseTypes.h"
#include "gst-components/CRtspClientAdmission.h"
#include "gst-components/GStreamerServerComponent.h"
#include "gst-components/GstRtspMediaFactoryCallback.h"

class GStreamerRTSPServer
{
public:
    GStreamerRTSPServer();
    virtual ~GStreamerRTSPServer();

    GStreamerRTSPServer(const GStreamerRTSPServer&) = delete;
    GStreamerRTSPServer& operator=(const GStreamerRTSPServer&) = delete;

    virtual OMX_ERRORTYPE StartServing(bool bDoAuthentication);
    virtual OMX_ERRORTYPE StopServing();
    virtual OMX_ERRORTYPE AddStreamingComponent(GStreamerServerComponent* poComponent);

    OMX_ERRORTYPE Init();
    OMX_ERRORTYPE Deinit();
    OMX_ERRORTYPE SetPortInfo(const char* szPath, MUINT32 uiPort);

    // "rtsp://<IPv4 address>:<port><path>" for the interface named by PELLIX_NET_INTERFACE, "eth0"
    // when the variable is unset or empty. False, szAddress untouched, without such an address.
    bool GetServerAddress(char* szAddress, int iStrLen);
    // The IPv4 address of szNetInt as text into szIpAddr (16 characters).
    gboolean GetIpAddr(char* szIpAddr, const char* szNetInt);
    bool IsPlaying();

    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline);
    static void CallbackPipelineCreated(GstElement* poPipeline, gpointer pvInstance);
    static gpointer MainLoopThread(gpointer pData);

    GstRTSPMediaFactory* InitMediaFactory();
    OMX_ERRORTYPE SendEOSEvents();

    // The interface whose address names the URL.
    static const char* GetNetInterface();

private:
    // A reference to the current pipeline, or null.
    GstElement* RefPipeline();
    // With the main loop stopped: closes every client connection and the listening socket.
    void ReleaseConnections();
    static gboolean CallbackReleaseConnections(gpointer pvInstance);
    // Drops the server's reference to the pipeline without a notification.
    void ForgetPipeline();
    // Disconnects the component's FIFO and sends end-of-stream into its source element if that
    // plays, on the main-loop thread; true when the end-of-stream was sent. Waits for the main
    // loop until oDeadline at most.
    bool EndSourceStream(GStreamerServerComponent* poComponent, GstElement* poSource,
                         std::chrono::steady_clock::time_point oDeadline);
    static gboolean CallbackEndSourceStream(gpointer pvRequest);
    // Each new media shuts its pipeline down without an end-of-stream round trip, and its sinks
    // never hold a state change of the pipeline (CallbackElementAdded).
    static void CallbackMediaConfigure(GstRTSPMediaFactory* poFactory, GstRTSPMedia* poMedia, gpointer pvInstance);
    static void CallbackElementAdded(GstBin* poPipeline, GstBin* poBin, GstElement* poElement, gpointer pvInstance);
    // Every client tells its streams when it starts to play.
    static void CallbackClientConnected(GstRTSPServer* poServer, GstRTSPClient* poClient, gpointer pvInstance);
    static void CallbackPlayRequest(GstRTSPClient* poClient, GstRTSPContext* poContext, gpointer pvInstance);
    static GstRTSPFilterResult CallbackRemoveClient(GstRTSPServer* poServer, GstRTSPClient* poClient,
                                                    gpointer pvInstance);

    MUINT32 m_uiPortNumber;
    char* m_szPath;
    GThread* m_poMainLoopThread;
    GMainLoop* m_poMainLoop;
    GMainContext* m_poMainContext;
    GList* m_poStreamingComponentsList;
    GstRTSPServer* m_poRtspServer;
    GstRTSPMediaFactory* m_poRtspMediaFactory;
    GstRtspMediaFactoryCallback m_oPipelineCreatedCallback;
    // The media pipeline while it exists, with a reference of its own so that the host's thread
    // can walk it while the RTSP library tears it down; guarded by m_oPipelineMutex.
    GstElement* m_poPipeline;
    // Leaf lock: held only to read or swap m_poPipeline.
    pthread_mutex_t m_oPipelineMutex;
    // Id of the listening source in m_poMainContext, 0 when not attached.
    guint m_uiServerSourceId;
    // Backlog, request size, viewer limit and connections without a session.
    CRtspClientAdmission m_oClientAdmission;
};

// Makes a client of poRtspServer's media factory poRtspMediaFactory send the Basic credentials of
// the service's user. False, with nothing changed, when they cannot be set up.
bool SetAuthentication(GstRTSPServer* poRtspServer, GstRTSPMediaFactory* poRtspMediaFactory);

#endif // GSTREAMER_RTSP_SERVER_H
