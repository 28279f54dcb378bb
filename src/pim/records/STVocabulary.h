#pragma once

#include <QString>

// The record vocabulary: record types, relationship names and the field types
// every reader and converter shares. Spellings are exact (case matters).
namespace st {

// ---- record types
inline const QString Contact = QStringLiteral("contact");
inline const QString Phone = QStringLiteral("phone");
inline const QString Email = QStringLiteral("email");
inline const QString Url = QStringLiteral("url");
inline const QString JobTitle = QStringLiteral("jobtitle");
inline const QString DateRecord = QStringLiteral("date");
inline const QString Note = QStringLiteral("note");
inline const QString Nick = QStringLiteral("nick");
inline const QString Associate = QStringLiteral("associate");
inline const QString IM = QStringLiteral("IM");
inline const QString Organization = QStringLiteral("organization");
inline const QString Address = QStringLiteral("address");
inline const QString Group = QStringLiteral("group");
inline const QString Calendar = QStringLiteral("calendar");
inline const QString Event = QStringLiteral("vevent");
inline const QString Recur = QStringLiteral("recur");
inline const QString Alarm = QStringLiteral("valarm");
inline const QString ToDo = QStringLiteral("vtodo");
inline const QString Call = QStringLiteral("call");
inline const QString Sms = QStringLiteral("sms");
inline const QString Notes = QStringLiteral("notes");

// ---- relationships of a contact
inline const QString Phones = QStringLiteral("phones");
inline const QString Emails = QStringLiteral("emails");
inline const QString Urls = QStringLiteral("urls");
inline const QString Addresses = QStringLiteral("addresses");
inline const QString IMs = QStringLiteral("IMs");
inline const QString Organizations = QStringLiteral("organizations");
inline const QString JobTitles = QStringLiteral("jobtitles");
inline const QString Dates = QStringLiteral("dates");
inline const QString NotesRel = QStringLiteral("notes");
inline const QString Nicks = QStringLiteral("nicks");
inline const QString Associates = QStringLiteral("associates");
// ---- of a group, an event and a to-do
inline const QString Members = QStringLiteral("members");
inline const QString RecurRel = QStringLiteral("recur");
inline const QString VAlarms = QStringLiteral("valarms");

// ---- field types shared by several record types
inline const QString Type = QStringLiteral("type");
inline const QString Label = QStringLiteral("label");
inline const QString Value = QStringLiteral("value");
inline const QString DeviceRecordId = QStringLiteral("device_record_id");
inline const QString DeviceParentRecordId = QStringLiteral("device_parent_record_id");
inline const QString ExtraDeviceFields = QStringLiteral("extra_device_fields");
inline const QString Uid = QStringLiteral("uid");
inline const QString Summary = QStringLiteral("summary");
inline const QString Description = QStringLiteral("description");
inline const QString DtStart = QStringLiteral("dtstart");
inline const QString DtEnd = QStringLiteral("dtend");
inline const QString Created = QStringLiteral("created");
inline const QString LastMod = QStringLiteral("last-mod");

// ---- values
// The year of a day without one, as the desktop address book writes it
// (BDAY;X-APPLE-OMIT-YEAR=1604:1604-07-04): no one alive was born then. The
// store holds such a day in this year, and the record dialect reads it back as
// no year.
constexpr int kNoYear = 1604;

} // namespace st
