#pragma once

#include "online/LiveTokenProvider.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QDialog>
class QWebEngineProfile;
class QWidget;

// The Windows Live login sheet: a window-modal dialog on the session's window
// with a web view on the authorize page. When the page redirects to the
// desktop redirect, the access token is taken from the redirect's fragment and
// the sheet closes; closing it is the person's cancel, as is an "error" in the
// fragment (the person declined the permissions).
//
// The web view runs in a profile of its own kept in memory only (no cookies,
// cache or history on disk), so the token's URL is written nowhere; the
// dialog is destroyed after each login.
class LiveLoginSheet : public QObject, public LiveTokenProvider
{
    Q_OBJECT

public:
    explicit LiveLoginSheet(QWidget *window, QObject *parent = nullptr);
    ~LiveLoginSheet() override;

    void requestAccessToken(Completion done) override;

    // The open sheet, or null (tests).
    QDialog *dialog() const { return m_dialog; }

    // The token in `url` when it is the desktop redirect: the token, an
    // empty text for a declined login, a null text for any other page.
    static QString tokenFromRedirect(const QUrl &url, const QUrl &desktopRedirect);

private:
    void urlChanged(const QUrl &url);
    void finish(const QString &token);

    QPointer<QWidget> m_window;
    QPointer<QDialog> m_dialog;
    QPointer<QDialog> m_closing;  // closed, deleted from the event loop
    QWebEngineProfile *m_profile = nullptr;
    Completion m_done;
};
