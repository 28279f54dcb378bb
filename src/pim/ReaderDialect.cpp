#include "pim/ReaderDialect.h"

#include "platform/VtrException.h"

// Until the dialect's converters are in the library, every record is one the
// dialect cannot write.
namespace readerdialect {
namespace {
[[noreturn]] void missing(const char *what)
{
    throw VtrException(QStringLiteral("PIMDialectException"), QStringLiteral("No %1 writer").arg(QLatin1String(what)));
}
}  // namespace
QVariantMap contactRecord(const STRecord &) { missing("contact"); }
QVariantMap groupRecord(const STRecord &) { missing("group"); }
QVariantMap calendarRecord(const STRecord &) { missing("calendar"); }
QVariantMap eventRecord(const STRecord &) { missing("event"); }
QVariantMap toDoRecord(const STRecord &) { missing("to-do"); }
QVariantMap noteRecord(const STRecord &) { missing("note"); }
}  // namespace readerdialect
