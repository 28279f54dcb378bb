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

ScreenshotTour::ScreenshotTour(NS_AppController *controller, QWidget *window, const QString &folder, bool oneStep)
    : QObject(controller), m_controller(controller), m_window(window), m_folder(folder), m_oneStep(oneStep)
{
    QDir().mkpath(folder);
    connect(controller, &NS_AppController::stateEntered, this, &ScreenshotTour::stateEntered);
}

void ScreenshotTour::stateEntered(int state)
{
    QTimer::singleShot(kSteadyMs, this, [this, state] { settle(state, 0); });
}

bool ScreenshotTour::pageComplete() const
{
    return !m_controller->isAlertOpen() && !m_controller->scenesViewController()->isFading();
}

void ScreenshotTour::picture(const QString &name)
{
    if (!m_window) return;
    // Laid out as it will be painted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QString path = QDir(m_folder).filePath(name);
    if (m_window->grab().save(path)) {
        m_written.append(path);
        std::printf("wrote %s\n", qPrintable(path));
        std::fflush(stdout);
    }
}

void ScreenshotTour::settle(int state, int attempt)
{
    // A state already left was handed on from: it showed no page.
    if (!m_controller || !m_window || m_generating || m_controller->currentState() != state) return;
    if (!m_shot.contains(state)) {
        if (!pageComplete() && attempt < 40) {
            QTimer::singleShot(50, this, [this, state, attempt] { settle(state, attempt + 1); });
            return;
        }
        m_shot.insert(state);
        picture(QStringLiteral("state-%1.png").arg(state, 2, 10, QLatin1Char('0')));
        // The person looks at the page before going on.
        QTimer::singleShot(400, this, [this, state] { settle(state, 1); });
        return;
    }
    QPushButton *generate = m_controller->generateButton();
    if (m_oneStep && state >= NS_AppController::kStateChooseData && generate->isVisible() && generate->isEnabled()) {
        m_generating = true;
        generate->click();
        waitForOneStep(0);
        return;
    }
    QPushButton *next = m_controller->nextButton();
    QPushButton *quit = m_controller->quitButton();
    if (next->isVisible() && next->isEnabled()) {
        next->click();
    } else if (quit->isVisible() && quit->isEnabled()) {
        if (state == NS_AppController::kStateFinalSummary && !m_controller->appsHidden()) return;
        quit->click();
    } else if (attempt < 240) {
        // The state's work (a job, a delayed step) moves on by itself.
        QTimer::singleShot(250, this, [this, state, attempt] { settle(state, attempt + 1); });
    }
}

void ScreenshotTour::waitForOneStep(int attempt)
{
    if (!m_controller) return;
    // The transfer is under way while a job runs; its end shows its result.
    if ((m_controller->runningJobCount() > 0 || !pageComplete()) && attempt < 2400) {
        QTimer::singleShot(250, this, [this, attempt] { waitForOneStep(attempt + 1); });
        return;
    }
    QTimer::singleShot(400, this, [this] {
        if (!m_controller) return;
        picture(QStringLiteral("one-step.png"));
        m_controller->terminate();
    });
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
