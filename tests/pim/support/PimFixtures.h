#pragma once

#include "pim/records/STRecord.h"

#include <QString>

// The records the dialect tests, the golden files and the companion-app
// fixtures are made of: contacts in several scripts with every phone, e-mail,
// address and IM kind, groups, calendars, timed and all-day events across
// daylight-saving changes, recurring events with exception dates, alarms,
// to-dos and notes. Every date is given in an explicit zone, so the records
// are the same whatever the process's zone.
namespace pimfixtures {

STRecordList contacts();
STRecordList groups();
STRecordList calendars();
STRecordList events();
STRecordList toDos();
STRecordList notes();

// tests/pim/data
QString dataFolder();

} // namespace pimfixtures
