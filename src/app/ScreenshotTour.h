#pragma once

#include "app/AppServices.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class NS_AppController;
class QWidget;

namespace vtrapp {

// Answers every alert with its default button without showing it; the
// question and the answer are printed.
class DefaultAnswerAlertPresenter final : public AlertPresenter
{
public:
    int runAlert(const AlertRequest &request) override;
    QString runSavePanel(const QString &, const QString &) override { return QString(); }
};

// Walks the wizard as a person would and writes "state-NN.png" of the window
// for each page: once the wizard has stood on a state long enough to show it
// (a state it hands on from at once shows no page of its own) and the page
// is complete (laid out, no cross-fade, no alert open). Then it presses Next
// when Next can be pressed; a state whose Next is not offered yet is looked
// at again until the wizard moves on by itself.
// On the one-step road it presses Generate instead, as soon as Generate can
// be pressed on a page after the phone arrived, pictures the page when the
// transfer has ended ("one-step.png") and ends the application.
class ScreenshotTour final : public QObject
{
    Q_OBJECT
public:
    ScreenshotTour(NS_AppController *controller, QWidget *window, const QString &folder, bool oneStep = false);
    QStringList written() const { return m_written; }
    // How long a state must stand to count as a page (ms).
    static constexpr int kSteadyMs = 60;

private:
    void stateEntered(int state);
    void settle(int state, int attempt);
    bool pageComplete() const;
    void picture(const QString &name);
    void waitForOneStep(int attempt);

    QPointer<NS_AppController> m_controller;
    QPointer<QWidget> m_window;
    QString m_folder;
    bool m_oneStep = false;
    bool m_generating = false;
    QSet<int> m_shot;
    QStringList m_written;
};

// Ends the application once `window` has painted itself for the first time.
void installExitOnFirstPaint(QWidget *window);

}  // namespace vtrapp
