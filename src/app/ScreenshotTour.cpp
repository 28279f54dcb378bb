#include "app/ScreenshotTour.h"

#include "app/NS_AppController.h"
#include "app/Scenes.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace vtrapp {

int DefaultAnswerAlertPresenter::runAlert(const AlertRequest &request)
{
    const int answer = request.buttons.isEmpty() ? 0 : qBound(0, request.defaultButton, int(request.buttons.size()) - 1);
    std::printf("alert \"%s\" answered \"%s\"\n", qPrintable(request.messageText),
                qPrintable(request.buttons.value(answer, QStringLiteral("OK"))));
    std::fflush(stdout);
    return answer;
}

ScreenshotTour::ScreenshotTour(NS_AppController *controller, QWidget *window, const QString &folder)
    : QObject(controller), m_controller(controller), m_window(window), m_folder(folder)
{
    QDir().mkpath(folder);
    connect(controller, &NS_AppController::stateEntered, this, &ScreenshotTour::stateEntered);
}

void ScreenshotTour::stateEntered(int state)
{
    // At once: several states hand on to the next as soon as their work is
    // done. The tour runs without cross-fades, so the scene is in place.
    if (!m_shot.contains(state) && m_window) {
        m_shot.insert(state);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QString path = QDir(m_folder).filePath(QStringLiteral("state-%1.png").arg(state, 2, 10, QLatin1Char('0')));
        if (m_window->grab().save(path)) {
            m_written.append(path);
            std::printf("wrote %s\n", qPrintable(path));
            std::fflush(stdout);
        }
    }
    QTimer::singleShot(450, this, [this, state] { settle(state, 0); });
}

void ScreenshotTour::settle(int state, int attempt)
{
    if (!m_controller || !m_window || m_controller->currentState() != state) return;
    QPushButton *next = m_controller->nextButton();
    QPushButton *quit = m_controller->quitButton();
    if (next->isVisible() && next->isEnabled()) {
        next->click();
    } else if (quit->isVisible() && quit->isEnabled()) {
        if (state == NS_AppController::kStateFinalSummary && !m_controller->appsHidden()) return;
        quit->click();
    } else if (attempt < 120) {
        // The state's work (a job, a delayed step) moves on by itself.
        QTimer::singleShot(250, this, [this, state, attempt] { settle(state, attempt + 1); });
    }
}

namespace {
class FirstPaintWatcher final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            // A benchmark that started this process tells when (monotonic
            // nanoseconds); the time to the first paint is printed for it.
            bool ok = false;
            const qint64 spawned = qEnvironmentVariable("VTR_SPAWN_NS").toLongLong(&ok);
            if (ok) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                const qint64 elapsed = qint64(now.tv_sec) * 1000000000 + now.tv_nsec - spawned;
                std::printf("first-paint-ns %lld\n", static_cast<long long>(elapsed));
                std::fflush(stdout);
            }
            // After this paint has been delivered.
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};
}  // namespace

void installExitOnFirstPaint(QWidget *window)
{
    window->installEventFilter(new FirstPaintWatcher(window));
}

}  // namespace vtrapp
