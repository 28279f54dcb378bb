#pragma once

// Memory of one piece of work, measured in a fresh copy of the benchmark
// program: "<program> --peak <mode> <path>" does the work of `mode` on
// `path` and prints how far its peak resident size grew while it ran, so
// neither the benchmark's own inputs nor its start-up are counted.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <cstdio>
#include <cstring>
#include <functional>

namespace benchpeak {

// A KiB figure of /proc/self/status ("VmRSS", "VmHWM"); 0 when unknown.
inline long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').first().toLong();
    return 0;
}

// The peak resident size of this process image in KiB. Not getrusage():
// its maximum survives exec, so a child would inherit the benchmark's peak.
inline long peakKiB()
{
    return statusKiB("VmHWM");
}

// The growth of the child's peak in MiB; -1 when it does not finish.
inline double growthMiB(const char *mode, const QString &path)
{
    QProcess self;
    self.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--peak"), QLatin1String(mode), path});
    if (!self.waitForFinished(600000)) return -1;
    return self.readAllStandardOutput().trimmed().toDouble() / 1024.0;
}

// In main(): when this run is such a child, does the work, prints the growth
// and answers true.
inline bool runAsChild(int argc, char **argv, const std::function<void(const char *mode, const QString &path)> &work)
{
    if (argc != 4 || std::strcmp(argv[1], "--peak") != 0) return false;
    const QString path = QString::fromLocal8Bit(argv[3]);
    const long before = peakKiB();
    work(argv[2], path);
    std::printf("%ld\n", peakKiB() - before);
    std::fflush(stdout);
    return true;
}

}  // namespace benchpeak
