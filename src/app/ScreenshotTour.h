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

// Walks the wizard: on each state entered it waits for the scene to settle,
// writes "state-NN.png" of the window into the folder and presses Next when
// Next can be pressed. A state whose Next is not offered yet is looked at
// again until the wizard moves on by itself.
class ScreenshotTour final : public QObject
{
    Q_OBJECT
public:
    ScreenshotTour(NS_AppController *controller, QWidget *window, const QString &folder);
    QStringList written() const { return m_written; }

private:
    void stateEntered(int state);
    void settle(int state, int attempt);

    QPointer<NS_AppController> m_controller;
    QPointer<QWidget> m_window;
    QString m_folder;
    QSet<int> m_shot;
    QStringList m_written;
};

// Ends the application once `window` has painted itself for the first time.
void installExitOnFirstPaint(QWidget *window);

}  // namespace vtrapp
