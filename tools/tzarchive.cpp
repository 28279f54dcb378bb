// Writes the time-zone table resource "TZ.archive" from the system's zone
// database: every region zone (Area/Location) plus GMT, with English names
// and the abbreviations in use in January and July of a reference year.
//   tzarchive <out-file>
// tool-links: vtr_pim
#include "pim/records/STTimeZone.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>
#include <QTimeZone>

#include <cstdio>

#include <sys/stat.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tzarchive <out-file>\n");
        return 2;
    }
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QDateTime january(QDate(2012, 1, 15), QTime(12, 0), QTimeZone::utc());
    const QDateTime july(QDate(2012, 7, 15), QTime(12, 0), QTimeZone::utc());
    STTimeZone::Table table;
    table.append(STTimeZone(QStringLiteral("GMT"), QStringLiteral("Greenwich Mean Time"), QStringLiteral("GMT"),
                            QStringLiteral("Greenwich Mean Time"), QStringLiteral("GMT"), 0));
    for (const QByteArray &id : QTimeZone::availableTimeZoneIds()) {
        if (!id.contains('/') || id.startsWith("Etc/") || id.startsWith("SystemV/")) continue;
        const QTimeZone zone(id);
        if (!zone.isValid()) continue;
        // The half of the year in daylight-saving time, when the zone has one.
        QDateTime standard = january, daylight = july;
        if (zone.isDaylightTime(january)) std::swap(standard, daylight);
        const bool hasDaylight = zone.isDaylightTime(daylight);
        const QString stdName = zone.displayName(QTimeZone::StandardTime, QTimeZone::LongName, english);
        const QString dstName =
            hasDaylight ? zone.displayName(QTimeZone::DaylightTime, QTimeZone::LongName, english) : stdName;
        table.append(STTimeZone(QString::fromUtf8(id), stdName, zone.abbreviation(standard), dstName,
                                hasDaylight ? zone.abbreviation(daylight) : zone.abbreviation(standard),
                                zone.standardTimeOffset(standard)));
    }
    // Written whole under a name no one else can foresee (the out-file's
    // folder may be one every user may write to), with the mode a new file
    // gets, then put in place of whatever stands at its name.
    QTemporaryFile out(QFileInfo(QString::fromLocal8Bit(argv[1])).absolutePath() +
                       QStringLiteral("/.tzarchive-XXXXXX"));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (!out.open() || ::fchmod(out.handle(), 0666 & ~mask) != 0 || out.write(STTimeZone::archiveTable(table)) < 0 ||
        !out.flush() || ::rename(QFile::encodeName(out.fileName()).constData(), argv[1]) != 0) {
        std::fprintf(stderr, "tzarchive: cannot write %s\n", argv[1]);
        return 1;
    }
    out.setAutoRemove(false);
    std::printf("%lld zones\n", qint64(table.size()));
    return 0;
}
