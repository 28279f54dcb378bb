#pragma once

#include <QVariantList>

// What the PIM readers hand to their owner (the wizard's controller) for a
// Windows Phone target: the Windows Live bodies of the contacts (with the
// groups) and of the calendars with their events. Progress goes through
// MigrationStatusProtocol (foundation/MigrationStatus.h). The receiver keeps
// the arrays; calls may come from the PIM job's thread.
class PIMDatabaseDelegate
{
public:
    virtual ~PIMDatabaseDelegate() = default;
    virtual void stowContacts(const QVariantList &contacts, const QVariantList &groups) = 0;
    virtual void stowCalendars(const QVariantList &calendars) = 0;
    // No reader sends these two.
    virtual void stowNotes(const QVariantList &notes) { (void)notes; }
    virtual void stowTasks(const QVariantList &tasks) { (void)tasks; }
};
