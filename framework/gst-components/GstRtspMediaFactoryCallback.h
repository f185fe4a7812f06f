// Notification of the media pipeline's life to the parties that feed it.
//
// The RTSP server library creates the media pipeline when the first client asks for the media
// and destroys it when the media is torn down. A party that feeds the pipeline (the server itself
// and each stream component) subscribes a GstRtspMediaFactoryCallback record to the media
// factory and is then called:
//   - with the pipeline, once the pipeline has been built from the launch line (its elements can
//     be found by name) and before its source elements produce any data;
//   - with null, once that pipeline has stopped and been taken apart.
// Both calls are made for every pipeline the factory makes, to every record in the order the
// records were subscribed.
#ifndef GST_RTSP_MEDIA_FACTORY_CALLBACK_H
#define GST_RTSP_MEDIA_FACTORY_CALLBACK_H

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-media-factory.h>
#include <gst/rtsp-server/rtsp-media.h>

typedef struct GstRtspMediaFactoryCallback
{
    // Called with the media pipeline once it has been created, with null once it is gone.
    void (*pfnCallback)(GstElement* poPipeline, gpointer pvCallbackArgs);
    // Handed back as the second argument.
    gpointer pvCallbackArgs;
} GstRtspMediaFactoryCallback;

// Registers poCallback with poFactory. The record stays owned by the subscriber and must stay
// valid while the factory exists. Subscriptions are made before the factory serves its first
// client. A null factory or record is ignored.
void gst_rtsp_media_factory_subscribe_callback(GstRTSPMediaFactory* poFactory,
                                               GstRtspMediaFactoryCallback* poCallback);

#endif // GST_RTSP_MEDIA_FACTORY_CALLBACK_H
