#pragma once

#include <QVariantMap>

class STRecord;

// The record JSON dialect as the readers use it: one JSON record per
// STRecord. Each function may throw (a record the dialect cannot write); the
// readers leave that record out.
namespace readerdialect {
QVariantMap contactRecord(const STRecord &record);
QVariantMap groupRecord(const STRecord &record);
QVariantMap calendarRecord(const STRecord &record);
QVariantMap eventRecord(const STRecord &record);
QVariantMap toDoRecord(const STRecord &record);
QVariantMap noteRecord(const STRecord &record);
}  // namespace readerdialect
