#include "gst-components/GstRtspMediaFactoryCallback.h"

#include <gst/rtsp-server/rtsp-media.h>

// The factory tells of each new media with its "media-configure" signal, after the media's
// pipeline has been made and the launch element put into it, and before the media is prepared
// (nothing flows yet). The media tells with "unprepared" that its pipeline has been set to NULL
// and its streams taken out of it. A media that is finalised without having been unprepared
// (its preparation never started) reports the deletion when it goes.

namespace
{
const char* const local_szSubscriptionsKey = "poPipelineCreationCallbackList";
const char* const local_szMediaWatchKey = "PellixPipelineWatch";

// What a factory keeps: the subscribed records, in subscription order. The records are not owned.
struct SFactorySubscriptions
{
    GList* poPipelineCreationCallbackList;
};

// What a media keeps: the factory to tell (weakly: the factory may go first) and whether the
// deletion of its pipeline has been told already.
struct SMediaWatch
{
    GWeakRef oFactory;
    gint iDeletionReported;
};

void local_FreeSubscriptions(gpointer pvData)
{
    auto* poSubscriptions = static_cast<SFactorySubscriptions*>(pvData);
    g_list_free(poSubscriptions->poPipelineCreationCallbackList);
    g_free(poSubscriptions);
}

void local_NotifySubscribers(GstRTSPMediaFactory* poFactory, GstElement* poPipeline)
{
    auto* poSubscriptions =
        static_cast<SFactorySubscriptions*>(g_object_get_data(G_OBJECT(poFactory), local_szSubscriptionsKey));
    if (poSubscriptions == nullptr)
        return;
    for (GList* poCell = poSubscriptions->poPipelineCreationCallbackList; poCell != nullptr; poCell = poCell->next)
    {
        auto* poRecord = static_cast<GstRtspMediaFactoryCallback*>(poCell->data);
        if (poRecord != nullptr && poRecord->pfnCallback != nullptr)
            poRecord->pfnCallback(poPipeline, poRecord->pvCallbackArgs);
    }
}

void local_ReportDeletion(SMediaWatch* poWatch)
{
    if (!g_atomic_int_compare_and_exchange(&poWatch->iDeletionReported, 0, 1))
        return;
    auto* poFactory = static_cast<GstRTSPMediaFactory*>(g_weak_ref_get(&poWatch->oFactory));
    if (poFactory == nullptr)
        return;
    local_NotifySubscribers(poFactory, nullptr);
    g_object_unref(poFactory);
}

void local_CallbackMediaUnprepared(GstRTSPMedia* /*poMedia*/, gpointer pvWatch)
{
    local_ReportDeletion(static_cast<SMediaWatch*>(pvWatch));
}

void local_CallbackMediaFinalized(gpointer pvWatch)
{
    auto* poWatch = static_cast<SMediaWatch*>(pvWatch);
    local_ReportDeletion(poWatch);
    g_weak_ref_clear(&poWatch->oFactory);
    g_free(poWatch);
}

void local_CallbackMediaConfigure(GstRTSPMediaFactory* poFactory, GstRTSPMedia* poMedia, gpointer /*pvData*/)
{
    GstElement* poElement = gst_rtsp_media_get_element(poMedia);
    if (poElement == nullptr)
        return;
    // The launch element sits in the media's pipeline; without a parent it is handed on as it
    // is, and the subscribers see that it is not a pipeline.
    GstObject* poParent = gst_object_get_parent(GST_OBJECT(poElement));
    GstElement* poPipeline = poParent != nullptr ? GST_ELEMENT(poParent) : poElement;

    auto* poWatch = g_new0(SMediaWatch, 1);
    g_weak_ref_init(&poWatch->oFactory, poFactory);
    g_object_set_data_full(G_OBJECT(poMedia), local_szMediaWatchKey, poWatch, local_CallbackMediaFinalized);
    g_signal_connect(poMedia, "unprepared", G_CALLBACK(local_CallbackMediaUnprepared), poWatch);

    local_NotifySubscribers(poFactory, poPipeline);

    if (poParent != nullptr)
        gst_object_unref(poParent);
    gst_object_unref(poElement);
}
} // namespace

void gst_rtsp_media_factory_subscribe_callback(GstRTSPMediaFactory* poFactory,
                                               GstRtspMediaFactoryCallback* poCallback)
{
    if (poFactory == nullptr || poCallback == nullptr)
        return;
    auto* poSubscriptions =
        static_cast<SFactorySubscriptions*>(g_object_get_data(G_OBJECT(poFactory), local_szSubscriptionsKey));
    if (poSubscriptions == nullptr)
    {
        poSubscriptions = g_new0(SFactorySubscriptions, 1);
        g_object_set_data_full(G_OBJECT(poFactory), local_szSubscriptionsKey, poSubscriptions,
                               local_FreeSubscriptions);
        g_signal_connect(poFactory, "media-configure", G_CALLBACK(local_CallbackMediaConfigure), nullptr);
    }
    poSubscriptions->poPipelineCreationCallbackList =
        g_list_append(poSubscriptions->poPipelineCreationCallbackList, poCallback);
}
