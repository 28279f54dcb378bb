#include "pim/store/EdsSource.h"

#include "foundation/Log.h"
#include "pim/store/ICalRecords.h"
#include "pim/store/VCardRecords.h"

#include <QDir>
#include <QFileInfo>

#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <memory>

namespace syncstore {

namespace {

template <typename T> struct GObjectDeleter
{
    void operator()(T *p) const
    {
        if (p) g_object_unref(p);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectDeleter<T>>;

struct ErrorHolder
{
    GError *error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
    QString message() const { return error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error"); }
};

// Our calls run with a main context of their own, so that no signal of the
// client libraries is dispatched by (or blocks) the application's event loop.
class PrivateContext
{
public:
    PrivateContext() : m_context(g_main_context_new()) { g_main_context_push_thread_default(m_context); }
    ~PrivateContext()
    {
        while (g_main_context_pending(m_context)) g_main_context_iteration(m_context, FALSE);
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }
    PrivateContext(const PrivateContext &) = delete;
    PrivateContext &operator=(const PrivateContext &) = delete;

private:
    GMainContext *m_context;
};

bool sessionBusConfigured()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QString displayName(ESource *source) { return QString::fromUtf8(e_source_get_display_name(source)); }

QString describe(ESource *source, const char *what)
{
    return QStringLiteral("The %1 \"%2\" of Evolution Data Server").arg(QLatin1String(what), displayName(source));
}

struct CalendarKind
{
    const char *extension;
    ECalClientSourceType type;
    const char *what;
};

QList<ESource *> enabledSources(ESourceRegistry *registry, const char *extension)
{
    QList<ESource *> out;
    GList *list = e_source_registry_list_enabled(registry, extension);
    for (GList *l = list; l; l = l->next) {
        auto *source = static_cast<ESource *>(l->data);
        auto *backend = static_cast<ESourceBackend *>(e_source_get_extension(source, extension));
        // Generated from the address books: the contacts are read as contacts.
        if (qstrcmp(e_source_backend_get_backend_name(backend), "contacts") == 0) continue;
        out.append(static_cast<ESource *>(g_object_ref(source)));
    }
    g_list_free_full(list, g_object_unref);
    return out;
}

struct SourceList
{
    QList<ESource *> sources;
    ~SourceList()
    {
        for (ESource *s : sources) g_object_unref(s);
    }
};

}  // namespace

EdsSource::EdsSource(int connectTimeoutSeconds) : m_connectTimeout(connectTimeoutSeconds) {}

QString EdsSource::name() const { return QStringLiteral("Evolution Data Server"); }

SourceReadResult EdsSource::read(SyncDataKind kind, SyncRecordSink &sink)
{
    SourceReadResult result;
    if (!sessionBusConfigured()) {
        VTR_LOG(0, QStringLiteral("Evolution Data Server: no session bus"));
        result.unreachable = QStringLiteral("there is no session bus to reach it through");
        return result;
    }
    PrivateContext context;
    ErrorHolder err;
    GPtr<ESourceRegistry> registry(e_source_registry_new_sync(nullptr, &err.error));
    if (!registry) {
        VTR_LOG(0, QStringLiteral("Evolution Data Server does not answer: %1").arg(err.message()));
        result.unreachable = QStringLiteral("it does not answer (%1)").arg(err.message());
        return result;
    }
    result.found = true;

    if (kind == SyncDataKind::Contacts) {
        SourceList books{enabledSources(registry.get(), E_SOURCE_EXTENSION_ADDRESS_BOOK)};
        ContactRecordBuilder builder(sink);
        EBookQuery *q = e_book_query_any_field_contains("");
        gchar *sexp = e_book_query_to_string(q);
        e_book_query_unref(q);
        std::unique_ptr<gchar, decltype(&g_free)> sexpHolder(sexp, &g_free);
        for (ESource *source : books.sources) {
            ErrorHolder e;
            GPtr<EClient> client(e_book_client_connect_sync(source, guint32(m_connectTimeout), nullptr, &e.error));
            if (!client) throw sourceException(describe(source, "address book"), e.message());
            GSList *contacts = nullptr;
            if (!e_book_client_get_contacts_sync(E_BOOK_CLIENT(client.get()), sexp, &contacts, nullptr, &e.error))
                throw sourceException(describe(source, "address book"), e.message());
            const qsizetype before = builder.contactCount();
            for (GSList *c = contacts; c; c = c->next) {
                auto *contact = static_cast<EContact *>(c->data);
                const char *uid = static_cast<const char *>(e_contact_get_const(contact, E_CONTACT_UID));
                if (!builder.addVCard(E_VCARD(contact), QString::fromUtf8(uid)))
                    VTR_LOG(1, QStringLiteral("Left out an unreadable contact of \"%1\"").arg(displayName(source)));
            }
            g_slist_free_full(contacts, g_object_unref);
            result.collections.append(QStringLiteral("%1: %2").arg(displayName(source)).arg(builder.contactCount() - before));
        }
        builder.finishGroups();
        result.items = builder.contactCount();
        return result;
    }

    if (kind == SyncDataKind::Calendars) {
        for (const char *extension : {E_SOURCE_EXTENSION_CALENDAR, E_SOURCE_EXTENSION_TASK_LIST}) {
            SourceList list{enabledSources(registry.get(), extension)};
            for (ESource *source : list.sources) {
                // "tasks": a task list, which holds no events.
                QVariantMap cal{{QStringLiteral("title"), displayName(source)},
                                {QStringLiteral("type"), qstrcmp(extension, E_SOURCE_EXTENSION_CALENDAR) == 0
                                                             ? QStringLiteral("events")
                                                             : QStringLiteral("tasks")}};
                auto *selectable = static_cast<ESourceSelectable *>(e_source_get_extension(source, extension));
                const QString color = storeColorText(QString::fromUtf8(e_source_selectable_get_color(selectable)));
                if (!color.isNull()) cal.insert(QStringLiteral("color"), color);
                const QString id = QString::fromUtf8(e_source_get_uid(source));
                sink.addRecord(id, entity::Calendar, cal);
                result.collections.append(displayName(source));
                ++result.items;
            }
        }
        return result;
    }

    const CalendarKind ck = kind == SyncDataKind::Events  ? CalendarKind{E_SOURCE_EXTENSION_CALENDAR, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, "calendar"}
                            : kind == SyncDataKind::Tasks ? CalendarKind{E_SOURCE_EXTENSION_TASK_LIST, E_CAL_CLIENT_SOURCE_TYPE_TASKS, "task list"}
                                                          : CalendarKind{E_SOURCE_EXTENSION_MEMO_LIST, E_CAL_CLIENT_SOURCE_TYPE_MEMOS, "memo list"};
    SourceList list{enabledSources(registry.get(), ck.extension)};
    for (ESource *source : list.sources) {
        ErrorHolder e;
        GPtr<EClient> client(e_cal_client_connect_sync(source, ck.type, guint32(m_connectTimeout), nullptr, &e.error));
        if (!client) throw sourceException(describe(source, ck.what), e.message());
        auto *cal = E_CAL_CLIENT(client.get());
        GSList *objects = nullptr;
        if (!e_cal_client_get_object_list_sync(cal, "#t", &objects, nullptr, &e.error))
            throw sourceException(describe(source, ck.what), e.message());
        CalendarItemBuilder builder(sink, kind, QString::fromUtf8(e_source_get_uid(source)));
        for (GSList *o = objects; o; o = o->next) {
            gchar *text = e_cal_client_get_component_as_string(cal, static_cast<ICalComponent *>(o->data));
            if (!text || !builder.addICalendarText(QByteArray(text), QString()))
                VTR_LOG(1, QStringLiteral("Left out an unreadable item of \"%1\"").arg(displayName(source)));
            g_free(text);
        }
        g_slist_free_full(objects, g_object_unref);
        builder.finish();
        result.items += builder.itemCount();
        result.collections.append(QStringLiteral("%1: %2").arg(displayName(source)).arg(builder.itemCount()));
    }
    return result;
}

}  // namespace syncstore
