#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

namespace testenv {

static QTemporaryDir *g_root = nullptr;

void initialise()
{
    if (g_root) return;
    QString base = qEnvironmentVariable("VTR_TEST_TMP", QDir::tempPath());
    QDir().mkpath(base);
    g_root = new QTemporaryDir(base + QStringLiteral("/vtrtest-XXXXXX"));
    const QString r = g_root->path();
    const struct { const char *var; const char *sub; } dirs[] = {
        {"HOME", "home"},
        {"XDG_DATA_HOME", "home/.local/share"},
        {"XDG_CONFIG_HOME", "home/.config"},
        {"XDG_CACHE_HOME", "home/.cache"},
        {"XDG_STATE_HOME", "home/.local/state"},
        {"XDG_RUNTIME_DIR", "runtime"},
    };
    for (const auto &d : dirs) {
        const QString p = r + QLatin1Char('/') + QLatin1String(d.sub);
        QDir().mkpath(p);
        qputenv(d.var, p.toLocal8Bit());
    }
    QFile::setPermissions(r + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void cleanup()
{
    delete g_root;
    g_root = nullptr;
}

QString root()
{
    initialise();
    return g_root->path();
}

QString makeTempDir(const QString &hint)
{
    const QString p = root() + QStringLiteral("/") + hint + QLatin1Char('-') +
                      QUuid::createUuid().toString(QUuid::Id128).left(12);
    EXPECT_TRUE(QDir().mkpath(p));
    return p;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

}  // namespace testenv
