#include "app/AppServices.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

namespace {

// Keeps Escape and the window's close button from answering an alert that has
// no button to cancel with (the message box would take its only button).
class NoDismissal final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Cancel))
            return true;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int MessageBoxAlertPresenter::runAlert(const AlertRequest &request)
{
    QMessageBox box(m_parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setText(request.messageText);
    box.setInformativeText(request.informativeText);
    box.setTextFormat(Qt::PlainText);
    switch (request.style) {
    case AlertRequest::Style::Informational: box.setIcon(QMessageBox::Information); break;
    case AlertRequest::Style::Warning: box.setIcon(QMessageBox::Warning); break;
    case AlertRequest::Style::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    QList<QPushButton *> buttons;
    const QStringList titles = request.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : request.buttons;
    const bool cancellable = request.cancelButton >= 0 && request.cancelButton < titles.size();
    for (int i = 0; i < titles.size(); ++i) {
        // The first button sits where the platform puts the affirmative one.
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.append(box.addButton(titles.at(i), role));
    }
    const int defaultIndex = qBound(0, request.defaultButton, int(buttons.size()) - 1);
    box.setDefaultButton(buttons.at(defaultIndex));
    NoDismissal noDismissal;
    if (cancellable)
        box.setEscapeButton(buttons.at(request.cancelButton));
    else
        box.installEventFilter(&noDismissal);
    if (request.beep) QApplication::beep();
    box.exec();
    const int pressed = buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton()));
    if (pressed >= 0) return pressed;
    return cancellable ? request.cancelButton : defaultIndex;
}

QString MessageBoxAlertPresenter::runSavePanel(const QString &suggestedPath, const QString &fileType)
{
    QFileDialog panel(m_parent);
    panel.setWindowModality(Qt::WindowModal);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setDefaultSuffix(fileType);
    panel.setNameFilter(QStringLiteral("%1 (*.%2)").arg(fileType.toUpper(), fileType));
    panel.selectFile(suggestedPath);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty()) return QString();
    QString path = panel.selectedFiles().first();
    if (!path.endsWith(QLatin1Char('.') + fileType, Qt::CaseInsensitive)) path += QLatin1Char('.') + fileType;
    return path;
}

QString LinuxHostEnvironment::applicationPath(const QString &identifier) const
{
    if (identifier.compare(QLatin1String(vtrapp::kITunesIdentifier), Qt::CaseInsensitive) == 0)
        return QCoreApplication::applicationFilePath();
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString &folder : folders) {
        // Desktop entry names are compared without regard to case, as bundle
        // identifiers were.
        const QStringList entries = QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files);
        for (const QString &entry : entries) {
            if (QFileInfo(entry).completeBaseName().compare(identifier, Qt::CaseInsensitive) == 0)
                return QDir(folder).filePath(entry);
        }
    }
    return QString();
}

bool LinuxHostEnvironment::launchApplication(const QString &identifier, bool)
{
    // The media-library host runs inside this program.
    return identifier.compare(QLatin1String(vtrapp::kITunesIdentifier), Qt::CaseInsensitive) == 0;
}

bool LinuxHostEnvironment::openUrl(const QUrl &url) { return openUrlWatched(url, {}); }

bool LinuxHostEnvironment::openUrlWatched(const QUrl &url, std::function<void()> failedLater)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    auto *process = new QProcess(qApp);
    process->setProgram(opener);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, failedLater](int code, QProcess::ExitStatus status) {
                         if ((status != QProcess::NormalExit || code != 0) && failedLater) failedLater();
                         process->deleteLater();
                     });
    process->start();
    if (!process->waitForStarted(5000)) {
        delete process;
        return false;
    }
    return true;
}

void LinuxHostEnvironment::beep() { QApplication::beep(); }
