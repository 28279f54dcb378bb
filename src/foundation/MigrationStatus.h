#pragma once

#include <QString>

// The one progress sink of every long operation: the PIM readers, the media
// migrators, the wizard's own jobs and the Live upload report through it, and
// the wizard's controller shows what they report. It lives this low so that
// every layer can report without linking the application.
//
// percent: 0.0..1.0 is the fraction done (within 0.01 of 1.0 is done); within
// 0.01 of -2.0 starts the phase's indeterminate display, within 0.01 of -1.0
// ends it; anything else is an error the sink logs.
class MigrationStatusProtocol
{
public:
    virtual ~MigrationStatusProtocol() = default;

    // Throttled: may drop a report that comes too soon after the last one,
    // unless it marks completion. Any thread.
    virtual void setStatus(const QString &status, const QString &phase, double percent) = 0;
    // Applies every report (on the main thread). Any thread.
    virtual void setStatusNow(const QString &status, const QString &phase, double percent) = 0;
};

// The phase names, exactly as the reports carry them.
namespace vtrphase {
inline const QString Apps = QStringLiteral("Apps Phase");
inline const QString Contacts = QStringLiteral("Contacts Phase");
inline const QString Events = QStringLiteral("Events Phase");
inline const QString Tasks = QStringLiteral("Tasks Phase");
inline const QString Notes = QStringLiteral("Notes Phase");
inline const QString Music = QStringLiteral("Music Phase");
inline const QString Photos = QStringLiteral("Photos Phase");
inline const QString Videos = QStringLiteral("Videos Phase");
inline const QString Misc = QStringLiteral("Misc Phase");
}  // namespace vtrphase
