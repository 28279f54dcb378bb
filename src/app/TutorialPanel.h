#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QAudioOutput;
class QLabel;
class QListWidget;
class QMediaPlayer;
class QVideoWidget;
class QWidget;
class VtrURLResource;
struct AlertRequest;

namespace vtrtutorial {

// The person's languages in order: the user default "AppleLanguages" (an
// array), else the system's interface languages by language code.
QStringList preferredLanguages();
// The codes asked of the video server, in order: the regional code of a
// language that has one ("en" -> "en-us"), then the language itself.
QStringList serverLanguageCodes(const QStringList &preferred);
// The folders of the application's own copies, in order ("en" -> "English";
// an unknown code is its own folder), "English" last when not named.
QStringList applicationLocalizations(const QStringList &preferred);
// The maker's video host: user default "MakerVideoHost" (a host, optionally
// with ":port"), "video.vantrel.com" when unset.
QString videoHost();
// "http://<host>/Solvenna/Video/<language>/<file>"; invalid when a part is
// missing or the file name would leave the folder.
QUrl serverUrl(const QString &host, const QString &language, const QString &fileName);
// The title a person reads for a video file: its name without extension,
// split into words ("ConnectAndroid.webm" -> "Connect Android"), with the
// phones' own spellings kept whole ("iPhone", "BlackBerry").
QString videoTitle(const QString &fileName);

}  // namespace vtrtutorial

// Plays the tutorial videos in a panel of its own. A video is asked for by
// its file name: the maker's video server is asked for a copy in the
// person's languages (each address checked with a bounded wait, off the
// event loop's back), else the application's own copy plays. A server copy
// that fails to load falls back to the application's copy; when that fails
// too, the person is told. Main thread only.
class TutorialPlayer : public QObject
{
    Q_OBJECT
public:
    using AlertRunner = std::function<int(const AlertRequest &)>;

    // `alerts` shows the failure alert (the controller's, so the wizard's
    // delayed messages wait while it is open); `beep` rings the bell.
    TutorialPlayer(AlertRunner alerts, std::function<void()> beep, QObject *parent = nullptr);
    ~TutorialPlayer() override;

    // An empty name does nothing.
    void playVideoNamed(const QString &fileName);
    // The window listing the application's videos.
    void showVideosWindow();

    QString currentVideoFilename() const { return m_curVideoFilename; }
    bool movieOnServer() const { return m_movieOnServer; }
    // The address being shown; empty when none.
    QUrl movie() const { return m_movie; }
    QMediaPlayer *player() const { return m_player; }
    QWidget *moviePanel() const { return m_moviePanel; }
    QWidget *videosWindow() const { return m_videosWindow; }
    bool isLookingUp() const { return m_lookup != nullptr; }

    // The wait for each server address.
    void setServerTimeoutMs(int ms) { m_serverTimeoutMs = ms; }
    // The application's copies: ":/tutorials" unless overridden (empty
    // restores it). One folder per localization.
    static QString bundleVideosFolder();
    static void setBundleVideosFolderOverride(const QString &folder);
    // The application's copy of `fileName` for the first localization that
    // has one; empty when none.
    static QUrl localizedMovieNamed(const QString &fileName);

Q_SIGNALS:
    // The movie shown began to play; the movie shown ended; a video could
    // not be played at all (after the alert).
    void playing(const QUrl &movie);
    void ended(const QUrl &movie);
    void failed(const QString &fileName);

private:
    void ensurePanel();
    void tryNextServerLanguage();
    void serverAnswered(bool exists);
    void setMovie(const QUrl &movie);
    void stopMovie();
    void playMovieFromBundle();
    void handleMovieLoadStateChanged();
    void movieDidEnd();
    void showMovieLoadFailed();
    void closePanel();

    AlertRunner m_alerts;
    std::function<void()> m_beep;
    QString m_curVideoFilename;
    bool m_movieOnServer = false;
    QUrl m_movie;
    QStringList m_serverLanguages;
    VtrURLResource *m_lookup = nullptr;
    int m_serverTimeoutMs = 30000;
    bool m_closingPanel = false;

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;
    QPointer<QWidget> m_moviePanel;
    QVideoWidget *m_moviePanelMovie = nullptr;
    QLabel *m_panelStatus = nullptr;
    QPointer<QWidget> m_videosWindow;
};
