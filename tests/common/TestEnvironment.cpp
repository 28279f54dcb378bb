#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testenv {

static QTemporaryDir *g_root = nullptr;

// Points HOME and the XDG folders below it at `home`, made empty.
static void useHome(const QString &home)
{
    const struct { const char *var; const char *sub; } dirs[] = {
        {"HOME", ""},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_STATE_HOME", "/.local/state"},
    };
    for (const auto &d : dirs) {
        const QString p = home + QLatin1String(d.sub);
        QDir().mkpath(p);
        qputenv(d.var, p.toLocal8Bit());
    }
}

void initialise()
{
    if (g_root) return;
    QString base = qEnvironmentVariable("VTR_TEST_TMP", QDir::tempPath());
    QDir().mkpath(base);
    g_root = new QTemporaryDir(base + QStringLiteral("/vtrtest-XXXXXX"));
    const QString r = g_root->path();
    useHome(r + QStringLiteral("/home"));
    QDir().mkpath(r + QStringLiteral("/runtime"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(r + QStringLiteral("/runtime")));
    QFile::setPermissions(r + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// What one test leaves in the home (the new phone's folder, a music library,
// a settings file) must not be what the next one finds: each test starts in
// an empty home of its own, whatever order the tests run in. Earlier homes
// stay until the process ends, for whatever still holds a path into them.
class HomePerTest final : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        useHome(root() + QStringLiteral("/home-%1").arg(++m_count));
    }
    int m_count = 0;
};

void giveEachTestItsOwnHome()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new HomePerTest);
}

void cleanup()
{
    delete g_root;
    g_root = nullptr;
}

QString samplePath(const QString &relative, QString *why)
{
    const QString samples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples");
    const QString path = samples + QLatin1Char('/') + relative;
    if (QFileInfo::exists(path)) return QDir::cleanPath(path);
    const QString missing = QFileInfo::exists(samples) ? QDir::cleanPath(path) : QDir::cleanPath(samples);
    if (why) *why = QStringLiteral("the real-world samples are missing: %1").arg(missing);
    // One line per program says what is missing, however many tests it skips.
    static bool said = false;
    if (!said && !samplesRequired()) {
        said = true;
        std::fprintf(stderr, "== %s: the tests that read it are skipped\n", qPrintable(missing));
    }
    return QString();
}

bool samplesRequired()
{
    return qEnvironmentVariable("VTR_REQUIRE_SAMPLES") == QLatin1String("1");
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

CurrentFolder::CurrentFolder(const QString &path) : m_before(QDir::currentPath())
{
    EXPECT_TRUE(QDir::setCurrent(path)) << path.toStdString();
}

CurrentFolder::~CurrentFolder() { QDir::setCurrent(m_before); }

Unprivileged runUnprivileged(QString *why)
{
    if (::geteuid() != 0) return Unprivileged::Here;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        *why = QStringLiteral("running as root and setpriv is not installed: file modes cannot be tested");
        return Unprivileged::Unavailable;
    }
    constexpr uid_t kNobody = 65534;
    // Below the shared temporary folder: this process's own tree is closed to others.
    QTemporaryDir base(QDir::tempPath() + QStringLiteral("/vtrtest-unprivileged-XXXXXX"));
    if (!base.isValid() || ::chown(QFile::encodeName(base.path()).constData(), kNobody, kNobody) != 0) {
        *why = QStringLiteral("no folder for the unprivileged user could be made");
        return Unprivileged::Unavailable;
    }
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VTR_TEST_TMP"), base.path());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                          QStringLiteral("--clear-groups"), QStringLiteral("--"),
                          QCoreApplication::applicationFilePath(),
                          QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromUtf8(test->test_suite_name()),
                                                                     QString::fromUtf8(test->name()))});
    const bool finished = child.waitForFinished(280000);
    if (!finished) child.kill();
    const QByteArray output = child.readAll();
    if (finished && child.exitCode() == 0 && output.contains("[  SKIPPED ] 1 test")) {
        *why = QStringLiteral("skipped as the unprivileged user:\n") + QString::fromLocal8Bit(output);
        return Unprivileged::Unavailable;
    }
    EXPECT_TRUE(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                output.contains("[  PASSED  ] 1 test"))
        << "the test as the unprivileged user failed:\n" << output.toStdString();
    return Unprivileged::Done;
}

}  // namespace testenv
