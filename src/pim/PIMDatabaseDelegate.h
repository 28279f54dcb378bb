#pragma once

#include <QVariantList>

// What the PIM readers hand to the wizard's controller for a Windows Phone
// target: the Windows Live bodies of contacts (with the groups, which stay
// empty) and of calendars with their events nested. The receiver keeps them
// (it may be called on the PIM job's thread). A reader's delegate may also
// be a MigrationStatusProtocol, which then receives its progress.
class PIMDatabaseDelegate
{
public:
    virtual ~PIMDatabaseDelegate() = default;
    virtual void stowContacts(const QVariantList &contacts, const QVariantList &groups) = 0;
    virtual void stowCalendars(const QVariantList &calendars) = 0;
    // No reader sends these two.
    virtual void stowNotes(const QVariantList &) {}
    virtual void stowTasks(const QVariantList &) {}
};
