#include "app/TutorialPanel.h"

#include "app/AppController.h"
#include "app/AppServices.h"
#include "app/VtrURLResource.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"

#include <QAudioOutput>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMediaPlayer>
#include <QMutex>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace {

struct Language
{
    const char *code;
    const char *server;
    const char *localization;
};
// Languages with a regional server copy and a named folder of their own.
const Language kLanguages[] = {{"en", "en-us", "English"}, {"fr", "fr-fr", "French"}, {"it", "it-it", "Italian"},
                               {"de", "de-de", "German"},  {"es", "es-es", "Spanish"}, {"ja", nullptr, "Japanese"}};

const Language *languageFor(const QString &code)
{
    for (const Language &l : kLanguages)
        if (code == QLatin1String(l.code)) return &l;
    return nullptr;
}

QMutex g_folderMutex;
QString g_folderOverride;

// Closing the panel stops the movie, as the wizard did as its delegate.
class PanelCloseFilter final : public QObject
{
public:
    PanelCloseFilter(std::function<void()> onClose, QObject *parent) : QObject(parent), m_onClose(std::move(onClose)) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close) m_onClose();
        return false;
    }

private:
    std::function<void()> m_onClose;
};

}  // namespace

namespace vtrtutorial {

QStringList preferredLanguages()
{
    QStringList languages = platform::UserDefaults::value(QStringLiteral("AppleLanguages")).toStringList();
    if (!languages.isEmpty()) return languages;
    for (const QString &name : QLocale::system().uiLanguages()) {
        const QString code = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (!code.isEmpty() && !languages.contains(code)) languages.append(code);
    }
    return languages;
}

QStringList serverLanguageCodes(const QStringList &preferred)
{
    QStringList codes;
    for (const QString &code : preferred) {
        if (code.isEmpty()) continue;
        const Language *l = languageFor(code);
        if (l && l->server) codes.append(QString::fromLatin1(l->server));
        codes.append(code);
    }
    return codes;
}

QStringList applicationLocalizations(const QStringList &preferred)
{
    QStringList folders;
    for (const QString &code : preferred) {
        if (code.isEmpty()) continue;
        const Language *l = languageFor(code);
        const QString folder = l ? QString::fromLatin1(l->localization) : code;
        if (!folders.contains(folder)) folders.append(folder);
    }
    // Our own copies exist in English at least.
    if (!folders.contains(QStringLiteral("English"))) folders.append(QStringLiteral("English"));
    return folders;
}

QString videoHost()
{
    const QString host = platform::UserDefaults::value(QStringLiteral("MakerVideoHost")).toString().trimmed();
    return host.isEmpty() ? QStringLiteral("video.vantrel.com") : host;
}

QUrl serverUrl(const QString &host, const QString &language, const QString &fileName)
{
    if (host.isEmpty() || language.isEmpty() || fileName.isEmpty()) return QUrl();
    // Names come from the window's controls, but a name that is not one
    // path segment would reach another folder of the server.
    for (const QString &part : {language, fileName})
        if (part.contains(QLatin1Char('/')) || part.contains(QLatin1Char('\\')) || part == QLatin1String("..") ||
            part == QLatin1String("."))
            return QUrl();
    QUrl url(QStringLiteral("http://%1").arg(host));
    if (!url.isValid() || url.host().isEmpty()) return QUrl();
    url.setPath(QStringLiteral("/Solvenna/Video/%1/%2").arg(language, fileName));
    return url;
}

QString videoTitle(const QString &fileName)
{
    static const QStringList kWholeWords = {QStringLiteral("iPhone"), QStringLiteral("BlackBerry"),
                                            QStringLiteral("iTunes")};
    const QString name = QFileInfo(fileName).completeBaseName();
    QStringList words;
    QString word;
    auto endWord = [&] {
        if (!word.isEmpty()) words.append(std::exchange(word, QString()));
    };
    for (qsizetype i = 0; i < name.size();) {
        const QChar ch = name.at(i);
        if (ch == QLatin1Char('_') || ch == QLatin1Char('-') || ch.isSpace()) {
            endWord();
            ++i;
            continue;
        }
        bool whole = false;
        for (const QString &w : kWholeWords) {
            if (QStringView(name).mid(i).startsWith(w)) {
                endWord();
                words.append(w);
                i += w.size();
                whole = true;
                break;
            }
        }
        if (whole) continue;
        const bool boundary = !word.isEmpty() && ((ch.isUpper() && !word.back().isUpper()) ||
                                                  (ch.isDigit() != word.back().isDigit()));
        if (boundary) endWord();
        word.append(ch);
        ++i;
    }
    endWord();
    return words.join(QLatin1Char(' '));
}

}  // namespace vtrtutorial

// ---- the player -------------------------------------------------------------------------------

TutorialPlayer::TutorialPlayer(AlertRunner alerts, std::function<void()> beep, QObject *parent)
    : QObject(parent), m_alerts(std::move(alerts)), m_beep(std::move(beep))
{}

TutorialPlayer::~TutorialPlayer()
{
    stopMovie();
    delete m_moviePanel.data();
    delete m_videosWindow.data();
}

QString TutorialPlayer::bundleVideosFolder()
{
    QMutexLocker lock(&g_folderMutex);
    return g_folderOverride.isEmpty() ? QStringLiteral(":/tutorials") : g_folderOverride;
}

void TutorialPlayer::setBundleVideosFolderOverride(const QString &folder)
{
    QMutexLocker lock(&g_folderMutex);
    g_folderOverride = folder;
}

QUrl TutorialPlayer::localizedMovieNamed(const QString &fileName)
{
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/'))) return QUrl();
    const QString folder = bundleVideosFolder();
    for (const QString &localization : vtrtutorial::applicationLocalizations(vtrtutorial::preferredLanguages())) {
        const QString path = folder + QLatin1Char('/') + localization + QLatin1Char('/') + fileName;
        const QFileInfo info(path);
        if (!info.isFile()) continue;
        if (path.startsWith(QStringLiteral(":/"))) return QUrl(QStringLiteral("qrc") + path);
        return QUrl::fromLocalFile(info.absoluteFilePath());
    }
    return QUrl();
}

void TutorialPlayer::ensurePanel()
{
    if (m_moviePanel) return;
    m_moviePanel = new QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_moviePanel->setObjectName(QStringLiteral("moviePanel"));
    m_moviePanel->setWindowTitle(vtrLocalized("Tutorial"));
    m_moviePanel->resize(660, 420);
    auto *layout = new QVBoxLayout(m_moviePanel);
    m_moviePanelMovie = new QVideoWidget(m_moviePanel);
    m_moviePanelMovie->setMinimumSize(320, 200);
    layout->addWidget(m_moviePanelMovie, 1);
    m_panelStatus = new QLabel(m_moviePanel);
    layout->addWidget(m_panelStatus);
    m_moviePanel->installEventFilter(new PanelCloseFilter(
        [this] {
            if (!m_closingPanel) stopMovie();
        },
        m_moviePanel));

    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_player->setAudioOutput(m_audio);
    m_player->setVideoOutput(m_moviePanelMovie);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this] { handleMovieLoadStateChanged(); });
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString &text) {
        if (error == QMediaPlayer::NoError || m_movie.isEmpty()) return;
        VTR_LOG(2, QStringLiteral("The video %1 cannot be played: %2").arg(m_movie.toString(), text));
        const bool fromServer = m_movieOnServer;
        stopMovie();
        if (fromServer)
            playMovieFromBundle();
        else
            showMovieLoadFailed();
    });
}

void TutorialPlayer::playVideoNamed(const QString &fileName)
{
    if (fileName.isEmpty()) return;
    m_curVideoFilename = fileName;
    ensurePanel();
    // A lookup of an earlier request is dropped: the latest request wins.
    if (m_lookup) {
        m_lookup->cancelLoading();
        m_lookup->deleteLater();
        m_lookup = nullptr;
    }
    m_serverLanguages = vtrtutorial::serverLanguageCodes(vtrtutorial::preferredLanguages());
    m_movieOnServer = true;
    m_panelStatus->setText(vtrLocalized("Looking for the video..."));
    m_moviePanel->show();
    m_moviePanel->raise();
    m_moviePanel->activateWindow();
    tryNextServerLanguage();
}

void TutorialPlayer::tryNextServerLanguage()
{
    while (!m_serverLanguages.isEmpty()) {
        const QUrl url = vtrtutorial::serverUrl(vtrtutorial::videoHost(), m_serverLanguages.takeFirst(), m_curVideoFilename);
        if (!url.isValid()) continue;
        m_lookup = new VtrURLResource(this, url, this);
        connect(m_lookup, &VtrURLResource::answered, this, [this](bool exists) { serverAnswered(exists); });
        m_lookup->checkExists(m_serverTimeoutMs);
        return;
    }
    playMovieFromBundle();
}

void TutorialPlayer::serverAnswered(bool exists)
{
    VtrURLResource *lookup = std::exchange(m_lookup, nullptr);
    if (!lookup) return;
    const QUrl url = lookup->url();
    lookup->cancelLoading();
    lookup->deleteLater();
    if (!exists) {
        tryNextServerLanguage();
        return;
    }
    m_movieOnServer = true;
    setMovie(url);
}

void TutorialPlayer::setMovie(const QUrl &movie)
{
    if (movie == m_movie) return;
    stopMovie();
    m_movie = movie;
    if (movie.isEmpty()) return;
    ensurePanel();
    m_panelStatus->setText(QString());
    m_player->setSource(movie);
    handleMovieLoadStateChanged();
}

void TutorialPlayer::stopMovie()
{
    if (m_movie.isEmpty()) return;
    m_movie.clear();
    if (m_player) {
        m_player->stop();
        m_player->setSource(QUrl());
    }
}

void TutorialPlayer::playMovieFromBundle()
{
    m_movieOnServer = false;
    setMovie(localizedMovieNamed(m_curVideoFilename));
    if (m_movie.isEmpty()) showMovieLoadFailed();
}

void TutorialPlayer::handleMovieLoadStateChanged()
{
    if (m_movie.isEmpty() || !m_player) return;
    switch (m_player->mediaStatus()) {
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferedMedia:
        if (m_player->playbackState() != QMediaPlayer::PlayingState) {
            m_player->play();
            Q_EMIT playing(m_movie);
        }
        break;
    case QMediaPlayer::InvalidMedia: {
        const bool fromServer = m_movieOnServer;
        stopMovie();
        if (fromServer)
            playMovieFromBundle();
        else
            showMovieLoadFailed();
        break;
    }
    case QMediaPlayer::EndOfMedia: movieDidEnd(); break;
    default: break;
    }
}

void TutorialPlayer::movieDidEnd()
{
    const QUrl movie = m_movie;
    stopMovie();
    closePanel();
    Q_EMIT ended(movie);
}

void TutorialPlayer::closePanel()
{
    if (!m_moviePanel) return;
    m_closingPanel = true;
    m_moviePanel->close();
    m_closingPanel = false;
}

void TutorialPlayer::showMovieLoadFailed()
{
    closePanel();
    if (m_beep) m_beep();
    AlertRequest request;
    request.messageText = vtrLocalized("Cannot play video.");
    request.informativeText = vtrLocalized("The file \"%@\" is missing.").replace(QStringLiteral("%@"), m_curVideoFilename);
    request.buttons = {vtrLocalized("OK")};
    request.cancelButton = 0;
    if (m_alerts) m_alerts(request);
    Q_EMIT failed(m_curVideoFilename);
}

void TutorialPlayer::showVideosWindow()
{
    if (!m_videosWindow) {
        m_videosWindow = new QWidget(nullptr, Qt::Window);
        m_videosWindow->setObjectName(QStringLiteral("videosWindow"));
        m_videosWindow->setWindowTitle(vtrLocalized("Tutorial Videos"));
        auto *layout = new QVBoxLayout(m_videosWindow);
        layout->addWidget(new QLabel(vtrLocalized("Double-click a video to play it."), m_videosWindow));
        auto *list = new QListWidget(m_videosWindow);
        list->setObjectName(QStringLiteral("videosList"));
        const QDir english(bundleVideosFolder() + QStringLiteral("/English"));
        for (const QString &name : english.entryList(QDir::Files, QDir::Name)) {
            auto *item = new QListWidgetItem(vtrtutorial::videoTitle(name), list);
            item->setData(Qt::UserRole, name);
        }
        connect(list, &QListWidget::itemActivated, this,
                [this](QListWidgetItem *item) { playVideoNamed(item->data(Qt::UserRole).toString()); });
        layout->addWidget(list);
        m_videosWindow->resize(320, 280);
    }
    m_videosWindow->show();
    m_videosWindow->raise();
    m_videosWindow->activateWindow();
}

// ---- the controller's entry points --------------------------------------------------------------

TutorialPlayer *AppController::tutorialPlayer()
{
    if (!m_tutorialPlayer)
        m_tutorialPlayer = std::make_unique<TutorialPlayer>([this](const AlertRequest &r) { return runAlert(r); },
                                                            [this] { m_services.host->beep(); });
    return m_tutorialPlayer.get();
}

void AppController::playVideoNamed(const QString &fileName)
{
    guarded("playVideoNamed", [&] { tutorialPlayer()->playVideoNamed(fileName); });
}

void AppController::showVideosWindow()
{
    guarded("showVideosWindow", [&] { tutorialPlayer()->showVideosWindow(); });
}
