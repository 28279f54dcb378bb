#include "online/LiveLoginSheet.h"

#include "foundation/Log.h"
#include "online/LiveSession.h"
#include "platform/Strings.h"

#include <QDialog>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

LiveLoginSheet::LiveLoginSheet(QWidget *window, QObject *parent) : QObject(parent), m_window(window) {}

LiveLoginSheet::~LiveLoginSheet()
{
    // The pages must go before their profile.
    delete m_dialog.data();
    delete m_closing.data();
    delete m_profile;
}

QString LiveLoginSheet::tokenFromRedirect(const QUrl &url, const QUrl &desktopRedirect)
{
    if (url.scheme() != desktopRedirect.scheme() || url.host().compare(desktopRedirect.host(), Qt::CaseInsensitive) ||
        url.port(443) != desktopRedirect.port(443) || url.path() != desktopRedirect.path())
        return {};
    const QUrlQuery fragment(url.fragment(QUrl::FullyEncoded));
    if (fragment.hasQueryItem(QStringLiteral("error"))) return QStringLiteral("");
    const QString token = fragment.queryItemValue(QStringLiteral("access_token"), QUrl::FullyDecoded);
    // The redirect without a fragment is the page loading, not an answer yet.
    return token.isEmpty() ? QString() : token;
}

void LiveLoginSheet::requestAccessToken(Completion done)
{
    if (m_dialog) {
        // A second request while the sheet is open waits for the same login.
        Completion first = std::move(m_done);
        m_done = [first, done](const QString &token) {
            if (first) first(token);
            done(token);
        };
        return;
    }
    m_done = std::move(done);
    if (!m_profile) m_profile = new QWebEngineProfile(this);  // no storage name: memory only

    auto *dialog = new QDialog(m_window);
    m_dialog = dialog;
    dialog->setWindowTitle(vtrLocalized("Sign in to Windows Live"));
    dialog->setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->resize(520, 640);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *view = new QWebEngineView(dialog);
    view->setPage(new QWebEnginePage(m_profile, view));
    layout->addWidget(view);
    connect(view, &QWebEngineView::urlChanged, this, &LiveLoginSheet::urlChanged);
    connect(dialog, &QDialog::rejected, this, [this] { finish(QString()); });

    VTR_LOG(0, QStringLiteral("Windows Live: showing the login page of %1.").arg(LiveSession::loginHost()));
    view->setUrl(LiveSession::authorizeURL());
    dialog->open();
}

void LiveLoginSheet::urlChanged(const QUrl &url)
{
    const QString token = tokenFromRedirect(url, LiveSession::desktopRedirectURL());
    if (token.isNull()) return;
    if (token.isEmpty()) VTR_LOG(0, QStringLiteral("Windows Live: the login was declined."));
    finish(token);
}

void LiveLoginSheet::finish(const QString &token)
{
    if (!m_dialog) return;
    QDialog *dialog = m_dialog;
    m_dialog = nullptr;
    dialog->disconnect(this);
    dialog->hide();
    // The page holds the redirect (with the token) in its history: it goes with the dialog.
    dialog->deleteLater();
    delete m_closing.data();
    m_closing = dialog;
    Completion done = std::move(m_done);
    m_done = nullptr;
    // Handed over from the event loop, so the receiver may drop this sheet.
    QTimer::singleShot(0, this, [done, token] {
        if (done) done(token);
    });
}
