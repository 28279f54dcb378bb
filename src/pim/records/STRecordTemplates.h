#pragma once

#include "STRecord.h"

// New records the system authors itself, each in state New with a fresh
// identifier and the empty relationships and default fields of its kind.
STRecordPtr STContactRecord(); // "contact" with its eight list relationships
STRecordPtr STGroupRecord();   // "group"
STRecordPtr STEventRecord();   // "vevent": now as start, end, creation and change; class "private"
STRecordPtr STToDoRecord();    // "vtodo": now as creation and change
STRecordPtr STAlarmRecord();   // "valarm": fifteen minutes before the start
