#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Asks a web server whether a file exists there, without loading it: the
// answer is known as soon as the final response's headers are in. At most
// kMaxRedirects redirects are followed and the whole check ends after its
// time-out, whatever the server does; the answer arrives through answered()
// on the thread that started the check (the main thread), which never waits.
class VtrURLResource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
public:
    static constexpr int kMaxRedirects = 3;
    // Status when no request could be made for the address.
    static constexpr int kNoConnection = -100;

    // `delegate` is kept, never owned or called.
    VtrURLResource(QObject *delegate, const QUrl &url, QObject *parent = nullptr);
    ~VtrURLResource() override;

    QUrl url() const { return m_url; }
    QObject *delegate() const { return m_delegate; }

    // Starts the check unless one is under way or answered. answered() comes
    // once: true exactly for a final HTTP status 200.
    void checkExists(int timeoutMs);
    bool isChecking() const { return m_reply != nullptr; }
    bool hasAnswer() const { return m_answered; }
    bool exists() const { return m_exists; }
    // The final HTTP status; 0 before one arrived, kNoConnection when none
    // could be asked for.
    int httpStatus() const { return m_status; }
    // -1 while the length is unknown, 0 for an announced length of 0 or
    // less, else the percentage received; 100 once the body is complete.
    double downloadProgress() const { return m_downloadProgress; }
    bool finishedLoading() const { return m_finishedLoading; }
    QString errorString() const { return m_error; }

    // Cancels the request under way, if any (no answer follows).
    void cancelLoading();

Q_SIGNALS:
    void answered(bool exists, int httpStatus);
    void downloadProgressChanged(double percent);

private:
    void headersArrived();
    void received(qint64 bytes, qint64 total);
    void finished();
    void answer(bool exists);
    void setProgress(double percent);

    QPointer<QObject> m_delegate;
    QUrl m_url;
    QNetworkAccessManager *m_network = nullptr;
    QNetworkReply *m_reply = nullptr;
    QTimer *m_timeout = nullptr;
    bool m_answered = false;
    bool m_exists = false;
    bool m_finishedLoading = false;
    int m_status = 0;
    double m_downloadProgress = -1.0;
    QString m_error;
};
