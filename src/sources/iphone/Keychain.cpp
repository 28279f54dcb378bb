#include "sources/iphone/Keychain.h"

#include <libsecret/secret.h>

namespace vtr::keychain {

namespace {

template <typename T> struct GObjectRef
{
    T *object = nullptr;
    ~GObjectRef()
    {
        if (object) g_object_unref(object);
    }
};

QString takeError(GError *error)
{
    const QString text = error && error->message ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
    if (error) g_error_free(error);
    return text;
}

} // namespace

QStringList itemLabels(QString *error)
{
    QStringList labels;
    GError *failure = nullptr;
    GObjectRef<SecretService> service{secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &failure)};
    if (!service.object) {
        const QString reason = takeError(failure);
        if (error) *error = reason;
        return labels;
    }
    GList *collections = secret_service_get_collections(service.object);
    for (GList *c = collections; c; c = c->next) {
        auto *collection = static_cast<SecretCollection *>(c->data);
        if (!secret_collection_load_items_sync(collection, nullptr, &failure)) {
            const QString reason = takeError(failure);
            failure = nullptr;
            if (error && error->isEmpty()) *error = reason;
            continue;
        }
        GList *items = secret_collection_get_items(collection);
        for (GList *i = items; i; i = i->next) {
            gchar *label = secret_item_get_label(static_cast<SecretItem *>(i->data));
            if (label) labels.append(QString::fromUtf8(label));
            g_free(label);
        }
        g_list_free_full(items, g_object_unref);
    }
    g_list_free_full(collections, g_object_unref);
    return labels;
}

} // namespace vtr::keychain
