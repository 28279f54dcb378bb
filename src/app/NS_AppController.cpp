#include "app/NS_AppController.h"

#include "app/BackgroundJob.h"
#include "app/EnvironmentChecks.h"
#include "app/NS_AppControllerSummaries.h"
#include "app/PaneArea.h"
#include "app/Scenes.h"
#include "app/WizardLook.h"
#include "app/VtrColorView.h"
#include "app/NS_AppControllerJobs.h"
#include "app/WizardStandIns.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "devices/mtp/MtpLibrary.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "platform/Strings.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// The buttons' margin until the scene shown says where its content column is.
constexpr int kContentMargin = 32;
}  // namespace

NS_AppController::NS_AppController(AppControllerServices services, QObject *parent)
    : AppController(std::move(services), parent)
{
    m_oldDeviceProxy = std::make_shared<MobileDeviceProxy>();
    m_calendarsEnabled = m_calendarsValue = true;
    m_contactsEnabled = m_contactsValue = true;
    m_notesEnabled = m_notesValue = false;
    m_tasksEnabled = m_tasksValue = false;
    m_musicEnabled = m_musicValue = true;
    m_photosEnabled = m_photosValue = true;
    m_videosEnabled = m_videosValue = true;
    m_appsEnabled = m_appsValue = false;
    setShowNewDeviceInfo(false);

    m_environmentChecks = std::make_unique<HostEnvironmentChecks>(*m_services.host);
    m_jobs = std::make_unique<NS_AppControllerJobs>();
    m_liveUploadDriver = std::make_unique<vtrapp::StandInLiveUploadDriver>();
    m_summaries = std::make_unique<NS_AppControllerSummaries>(*this);
    m_companionAppFactory = vtrapp::defaultCompanionAppFactory();

    initUI();

    // The MTP library's own initialisation, once per process.
    std::shared_ptr<MtpLibrary> library = m_services.mtpLibrary ? m_services.mtpLibrary : mtpSharedLibrary();
    if (library) library->init();

    setNewDevice(WindowsPhone7LocalDevice::create(QVariantMap(), this));
    setLivePIMState(0);

    // The device-list update waits for the network while handling events: it
    // must not run inside this constructor, where a USB arrival or a timer
    // would reach a half-built controller.
    if (m_services.checkDeviceListUpdate) {
        QTimer::singleShot(0, this, [this] {
            guarded("device list update", [this] { VtrDeviceList::deviceList()->checkForUpdateWithDelegate(this, false); });
        });
    }
}

NS_AppController::~NS_AppController()
{
    // Jobs waiting for the main thread are let go before they are joined.
    beginClosing();
    for (auto &entry : m_pending) delete entry.second.timer;
    m_pending.clear();
    // Jobs are children of this object; they stop before the seams they use go.
    for (BackgroundJob *job : findChildren<BackgroundJob *>(Qt::FindDirectChildrenOnly)) delete job;
    if (m_services.cameraConnection && m_services.cameraConnection->delegate() == this)
        m_services.cameraConnection->setDelegate(nullptr);
    m_oldDeviceProxy->setObject(nullptr);
    m_androidDeviceClient.reset();
}

void NS_AppController::initUI()
{
    VtrQTUtils::initialize();
    VtrDeviceList::setSupportedDevicesKeyname(QStringLiteral("AllSupportedDevices"));
    if (m_services.cameraConnection) m_services.cameraConnection->setDelegate(this);
    startMassStorageListening();
    startUSBListening();

    m_view = new QWidget;
    m_view->setObjectName(QStringLiteral("NS_AppControllerView"));
    // Small enough for a small screen at a large scale; the panes scroll
    // when they do not fit.
    m_view->setMinimumSize(560, 340);
    auto *stack = new QStackedLayout(m_view);
    stack->setStackingMode(QStackedLayout::StackAll);

    m_controlView = new QWidget;
    m_controlView->setObjectName(QStringLiteral("controlView"));
    m_controlView->setAttribute(Qt::WA_TranslucentBackground);
    buildPanes();

    // The controls always draw over the scenes.
    m_scenesViewController = std::make_unique<NS_ScenesViewController>(m_services.sceneFadeMs);
    stack->addWidget(m_controlView);
    stack->addWidget(m_scenesViewController->view());
    m_controlView->raise();
    m_scenesViewController->setReservedBottom(m_bottomControlsView->sizeHint().height() + 12 + 12);
    m_paneLayout = new vtrapp::PaneAreaLayout(m_controlView, m_paneScroll, m_bottomControlsView,
                                              m_scenesViewController.get());
    vtrapp::applyWizardLook(*this);

    setAppReferralTextColor(Qt::white);
    setAppsHidden(true);
    bindIndicators();
}

void NS_AppController::trimMainMenu(QMenuBar *menuBar)
{
    if (!menuBar) return;
    for (QAction *top : menuBar->actions()) {
        if (top->data().toInt() != 50 || !top->menu()) continue;
        for (QAction *item : top->menu()->actions()) {
            const int tag = item->data().toInt();
            if (tag == 54 || tag == 55) top->menu()->removeAction(item);
        }
    }
}

void NS_AppController::beginSetup()
{
    guarded("beginSetup", [this] {
        if (QWidget *window = m_view ? m_view->window() : nullptr) {
            window->show();
            window->raise();
            window->activateWindow();
        }
        setState(kStateIntro);
    });
}

// ---- seams ------------------------------------------------------------------------------

void NS_AppController::setEnvironmentChecks(std::unique_ptr<EnvironmentChecks> checks) { m_environmentChecks = std::move(checks); }
void NS_AppController::setJobs(std::unique_ptr<WizardJobs> jobs) { m_jobs = std::move(jobs); }
void NS_AppController::setLiveUploadDriver(std::unique_ptr<LiveUploadDriver> driver) { m_liveUploadDriver = std::move(driver); }
void NS_AppController::setSummaries(std::unique_ptr<WizardSummaries> summaries) { m_summaries = std::move(summaries); }
void NS_AppController::setCompanionAppFactory(CompanionAppFactory factory) { m_companionAppFactory = std::move(factory); }

void NS_AppController::setManifestSource(ManifestKind kind, std::shared_ptr<ManifestInfoSource> source)
{
    m_manifestSources.insert(int(kind), std::move(source));
}

std::shared_ptr<ManifestInfoSource> NS_AppController::manifestSource(ManifestKind kind) const
{
    return m_manifestSources.value(int(kind));
}

QObject *NS_AppController::oldDeviceProxyObject() const { return m_oldDeviceProxy.get(); }
QObject *NS_AppController::scenesViewControllerObject() const { return m_scenesViewController.get(); }

// ---- choices ------------------------------------------------------------------------------

void NS_AppController::buildCheckboxTitles()
{
    if (m_summaries) m_summaries->buildCheckboxTitles(*this, m_canMigrateMedia);
}

void NS_AppController::setMusicValue(bool value)
{
    if (value != m_musicValue) {
        m_musicValue = value;
        Q_EMIT musicValueChanged();
    }
    buildCheckboxTitles();
}

void NS_AppController::setPhotosValue(bool value)
{
    if (value != m_photosValue) {
        m_photosValue = value;
        Q_EMIT photosValueChanged();
    }
    buildCheckboxTitles();
}

void NS_AppController::setVideosValue(bool value)
{
    if (value != m_videosValue) {
        m_videosValue = value;
        Q_EMIT videosValueChanged();
    }
    buildCheckboxTitles();
}

// ---- jobs and delayed messages -------------------------------------------------------------

void NS_AppController::guarded(const char *where, const std::function<void()> &work)
{
    QString reason;
    try {
        work();
        return;
    } catch (const VtrException &e) {
        reason = e.reason();
    } catch (const std::exception &e) {
        reason = QString::fromUtf8(e.what());
    } catch (...) {
        reason = QStringLiteral("An unknown error occurred.");
    }
    VTR_LOG(2, QStringLiteral("%1: %2").arg(QString::fromLatin1(where), reason));
    if (isTerminated()) return;
    try {
        AlertRequest request;
        request.messageText = vtrLocalized("An error occurred.");
        request.informativeText = reason;
        request.buttons = {vtrLocalized("OK")};
        request.cancelButton = 0;
        request.beep = true;
        runAlert(request);
    } catch (...) {
        VTR_LOG(2, QStringLiteral("The error could not be shown."));
    }
}

void NS_AppController::performAfterDelay(const QString &name, int delayMs, std::function<void()> work)
{
    const quint64 id = m_nextPendingId++;
    Pending pending;
    pending.name = name;
    pending.state = currentState();
    pending.work = std::move(work);
    pending.timer = new QTimer(this);
    pending.timer->setSingleShot(true);
    connect(pending.timer, &QTimer::timeout, this, [this, id] { firePending(id); });
    pending.timer->start(std::max(0, delayMs));
    m_pending.emplace(id, std::move(pending));
}

void NS_AppController::cancelPerform(const QString &name)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.name == name) {
            it->second.timer->deleteLater();
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

void NS_AppController::firePending(quint64 id)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end()) return;
    if (isAlertOpen()) {
        // Qt runs timers inside modal dialogs; the wizard's messages wait for
        // the alert to close, as they did on the Mac.
        it->second.held = true;
        return;
    }
    Pending pending = std::move(it->second);
    m_pending.erase(it);
    pending.timer->deleteLater();
    if (isTerminated()) return;
    if (pending.state != currentState()) {
        VTR_LOG(4, QStringLiteral("A delayed \"%1\" of state %2 is dropped in state %3.")
                       .arg(pending.name).arg(pending.state).arg(currentState()));
        return;
    }
    guarded(pending.name.toLatin1().constData(), pending.work);
}

void NS_AppController::alertsClosed()
{
    updateGenerateButton();
    QList<quint64> held;
    for (const auto &entry : m_pending)
        if (entry.second.held) held.append(entry.first);
    for (quint64 id : held) {
        m_pending[id].held = false;
        QTimer::singleShot(0, this, [this, id] { firePending(id); });
    }
}

void NS_AppController::runJob(BackgroundJob *job, std::function<void(const QVariantMap &)> done)
{
    job->setParent(this);
    ++m_jobsRunning;
    // The one-step road and the wizard's own jobs never run at once.
    updateGenerateButton();
    connect(job, &BackgroundJob::finished, this, [this, job, done = std::move(done)](const QVariantMap &result) {
        --m_jobsRunning;
        updateGenerateButton();
        job->deleteLater();
        // After the old phone went, a job's result no longer moves the
        // wizard: the removal does, once every job has ended.
        if (m_removalAfterJobs) {
            if (m_jobsRunning == 0) guarded("removal", [this] { oldDeviceRemovedAfterJobs(); });
            return;
        }
        if (done && !isTerminated()) guarded("job completion", [&] { done(result); });
    });
    job->start();
}

// ---- panes ---------------------------------------------------------------------------------

namespace {

QLabel *paneLabel(const QString &text, QWidget *parent, qreal scale = 1.0, bool bold = false)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    // Reasons and paths can be long: they wrap within the pane.
    label->setWordWrap(true);
    return label;
}

QProgressBar *paneBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    bar->setMinimumWidth(120);
    return bar;
}

// The choices stand in two columns where both fit the pane and in one where
// they do not: a check box's title does not wrap. Whatever else the grid
// holds goes below them.
class ChoiceColumns final : public QObject
{
public:
    ChoiceColumns(QGridLayout *grid, QList<QCheckBox *> boxes, QWidget *pane)
        : QObject(pane), m_grid(grid), m_boxes(std::move(boxes)), m_pane(pane)
    {
        pane->installEventFilter(this);
    }
    void arrange()
    {
        int widest = 0;
        for (QCheckBox *box : m_boxes) widest = std::max(widest, box->sizeHint().width());
        const int columns = m_pane->width() >= 2 * widest + std::max(0, m_grid->horizontalSpacing()) ? 2 : 1;
        const int rows = int(m_boxes.size() + columns - 1) / columns;
        QList<QWidget *> below;
        for (int i = 0; i < m_grid->count(); ++i)
            if (QWidget *w = m_grid->itemAt(i)->widget(); w && !m_boxes.contains(w)) below.append(w);
        for (int i = 0; i < m_boxes.size(); ++i) m_grid->addWidget(m_boxes[i], i % rows, i / rows);
        for (QWidget *w : below) m_grid->addWidget(w, rows, 0, 1, columns);
        for (int c = 0; c < 2; ++c) m_grid->setColumnStretch(c, c < columns ? 1 : 0);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) arrange();
        return QObject::eventFilter(watched, event);
    }

private:
    QGridLayout *m_grid;
    QList<QCheckBox *> m_boxes;
    QWidget *m_pane;
};

template <typename Getter>
void bindText(QLabel *label, NS_AppController *controller, void (NS_AppController::*signal)(), Getter getter)
{
    QObject::connect(controller, signal, label, [label, controller, getter] { label->setText((controller->*getter)()); });
    label->setText((controller->*getter)());
}

}  // namespace

void NS_AppController::buildPanes()
{
    auto *outer = new QVBoxLayout(m_controlView);
    // The panes sit in the scene's free space, below its header and body
    // (PaneAreaLayout places them); the buttons at the foot.
    outer->setContentsMargins(kContentMargin, 0, kContentMargin, 12);
    outer->setSpacing(8);
    outer->addStretch(1);
    auto *scroll = new QScrollArea(m_controlView);
    scroll->setObjectName(QStringLiteral("paneArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Not a stop of its own for Tab: it shows no focus; its controls do.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->viewport()->setAutoFillBackground(false);
    auto *paneArea = new QWidget;
    auto *panes = new QVBoxLayout(paneArea);
    panes->setContentsMargins(0, 0, 0, 0);
    scroll->setWidget(paneArea);
    // The scene shows through (setWidget() made it opaque).
    paneArea->setAutoFillBackground(false);
    m_paneScroll = scroll;

    // Progress of each kind.
    m_progressView = new QWidget(paneArea);
    auto *grid = new QGridLayout(m_progressView);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(16);
    struct Row { const char *title; QProgressBar **bar; const char *name; };
    const Row rows[] = {{"Contacts", &m_contactsProgressIndicator, "contactsProgressIndicator"},
                        {"Calendars", &m_calendarProgressIndicator, "calendarProgressIndicator"},
                        {"Music", &m_musicProgressIndicator, "musicProgressIndicator"},
                        {"Photos", &m_photosProgressIndicator, "photosProgressIndicator"},
                        {"Videos", &m_videosProgressIndicator, "videosProgressIndicator"},
                        {"Apps", &m_appsProgressIndicator, "appsProgressIndicator"}};
    int row = 0;
    for (const Row &r : rows) {
        QLabel *title = paneLabel(vtrLocalized(r.title), m_progressView);
        grid->addWidget(title, row, 0);
        *r.bar = paneBar(m_progressView);
        (*r.bar)->setObjectName(QLatin1String(r.name));
        grid->addWidget(*r.bar, row, 1);
        m_progressRows.append({*r.bar, title});
        ++row;
    }
    auto *estimate = paneLabel(QString(), m_progressView, 0.95);
    bindText(estimate, this, &NS_AppController::timeEstimateTextChanged, &NS_AppController::timeEstimateText);
    grid->addWidget(estimate, row, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    panes->addWidget(m_progressView);

    // The overall bar with its caption.
    m_singleProgressView = new QWidget(paneArea);
    auto *single = new QVBoxLayout(m_singleProgressView);
    single->setContentsMargins(0, 0, 0, 0);
    auto *caption = paneLabel(QString(), m_singleProgressView, 1.05);
    bindText(caption, this, &NS_AppController::singleProgressTextChanged, &NS_AppController::singleProgressText);
    single->addWidget(caption);
    m_singleProgressIndicator = paneBar(m_singleProgressView);
    single->addWidget(m_singleProgressIndicator);
    auto *singleEstimate = paneLabel(QString(), m_singleProgressView, 0.95);
    singleEstimate->setObjectName(QStringLiteral("singleEstimate"));
    bindText(singleEstimate, this, &NS_AppController::timeEstimateTextChanged, &NS_AppController::timeEstimateText);
    single->addWidget(singleEstimate);
    panes->addWidget(m_singleProgressView);

    // The data kinds to move.
    m_chooseDataView = new QWidget(paneArea);
    auto *choose = new QGridLayout(m_chooseDataView);
    choose->setContentsMargins(0, 0, 0, 0);
    struct Choice
    {
        const char *key;
        bool (NS_AppController::*value)() const;
        void (NS_AppController::*setValue)(bool);
        void (NS_AppController::*valueChanged)();
        bool (NS_AppController::*enabled)() const;
        void (NS_AppController::*enabledChanged)();
    };
    const Choice choices[] = {
        {"contactsInfo", &NS_AppController::contactsValue, &NS_AppController::setContactsValue,
         &NS_AppController::contactsValueChanged, &NS_AppController::contactsEnabled, &NS_AppController::contactsEnabledChanged},
        {"calendarsInfo", &NS_AppController::calendarsValue, &NS_AppController::setCalendarsValue,
         &NS_AppController::calendarsValueChanged, &NS_AppController::calendarsEnabled, &NS_AppController::calendarsEnabledChanged},
        {"musicInfo", &NS_AppController::musicValue, &NS_AppController::setMusicValue,
         &NS_AppController::musicValueChanged, &NS_AppController::musicEnabled, &NS_AppController::musicEnabledChanged},
        {"photosInfo", &NS_AppController::photosValue, &NS_AppController::setPhotosValue,
         &NS_AppController::photosValueChanged, &NS_AppController::photosEnabled, &NS_AppController::photosEnabledChanged},
        {"videosInfo", &NS_AppController::videosValue, &NS_AppController::setVideosValue,
         &NS_AppController::videosValueChanged, &NS_AppController::videosEnabled, &NS_AppController::videosEnabledChanged},
        {"tasksInfo", &NS_AppController::tasksValue, &NS_AppController::setTasksValue,
         &NS_AppController::tasksValueChanged, &NS_AppController::tasksEnabled, &NS_AppController::tasksEnabledChanged},
        {"notesInfo", &NS_AppController::notesValue, &NS_AppController::setNotesValue,
         &NS_AppController::notesValueChanged, &NS_AppController::notesEnabled, &NS_AppController::notesEnabledChanged},
        {"appsInfo", &NS_AppController::appsValue, &NS_AppController::setAppsValue,
         &NS_AppController::appsValueChanged, &NS_AppController::appsEnabled, &NS_AppController::appsEnabledChanged},
    };
    int index = 0;
    QList<QCheckBox *> boxes;
    for (const Choice &c : choices) {
        auto *box = new QCheckBox(m_chooseDataView);
        boxes.append(box);
        box->setObjectName(QString::fromLatin1(c.key));
        const QString key = QString::fromLatin1(c.key);
        auto refresh = [this, box, c, key] {
            const QSignalBlocker block(box);
            box->setChecked((this->*c.value)());
            box->setEnabled((this->*c.enabled)());
            const QString title = checkboxTitles().value(key).toString();
            box->setText(title.isEmpty() ? vtrLocalized(key.left(key.size() - 4).toUtf8().constData()) : title);
        };
        connect(this, c.valueChanged, box, refresh);
        connect(this, c.enabledChanged, box, refresh);
        connect(this, &NS_AppController::checkboxTitlesChanged, box, refresh);
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) {
            guarded("check box", [&] { (this->*c.setValue)(on); });
        });
        refresh();
        choose->addWidget(box, index % 4, index / 4);
        ++index;
    }
    auto *columns = new ChoiceColumns(choose, boxes, scroll->viewport());
    connect(this, &NS_AppController::checkboxTitlesChanged, columns, &ChoiceColumns::arrange);
    panes->addWidget(m_chooseDataView);

    // What will move and what moved.
    m_transferSummaryView = new QWidget(paneArea);
    auto *summary = new QVBoxLayout(m_transferSummaryView);
    summary->setContentsMargins(0, 0, 0, 0);
    struct Line
    {
        QString (NS_AppController::*text)() const;
        void (NS_AppController::*changed)();
        QString (NS_AppController::*done)() const;
        void (NS_AppController::*doneChanged)();
    };
    const Line lines[] = {
        {&NS_AppController::contactsSummary, &NS_AppController::contactsSummaryChanged,
         &NS_AppController::contactsSummaryDone, &NS_AppController::contactsSummaryDoneChanged},
        {&NS_AppController::calendarSummary, &NS_AppController::calendarSummaryChanged,
         &NS_AppController::calendarSummaryDone, &NS_AppController::calendarSummaryDoneChanged},
        {&NS_AppController::musicSummary, &NS_AppController::musicSummaryChanged,
         &NS_AppController::musicSummaryDone, &NS_AppController::musicSummaryDoneChanged},
        {&NS_AppController::photosSummary, &NS_AppController::photosSummaryChanged,
         &NS_AppController::photosSummaryDone, &NS_AppController::photosSummaryDoneChanged},
        {&NS_AppController::videosSummary, &NS_AppController::videosSummaryChanged,
         &NS_AppController::videosSummaryDone, &NS_AppController::videosSummaryDoneChanged},
        {&NS_AppController::appsSummary, &NS_AppController::appsSummaryChanged,
         &NS_AppController::appsSummaryDone, &NS_AppController::appsSummaryDoneChanged},
    };
    for (const Line &l : lines) {
        auto *label = paneLabel(QString(), m_transferSummaryView, 1.05);
        auto show = [this, label, l] {
            const QString text = (this->*l.text)();
            label->setText(text + (this->*l.done)());
            label->setVisible(!text.isEmpty());
        };
        connect(this, l.changed, label, show);
        connect(this, l.doneChanged, label, show);
        show();
        summary->addWidget(label);
    }
    auto *summaryEstimate = paneLabel(QString(), m_transferSummaryView, 0.95);
    summaryEstimate->setObjectName(QStringLiteral("summaryEstimate"));
    bindText(summaryEstimate, this, &NS_AppController::timeEstimateTextChanged, &NS_AppController::timeEstimateText);
    summary->addWidget(summaryEstimate);
    panes->addWidget(m_transferSummaryView);

    // The end page's way to the recommended apps.
    m_endButtonsView = new QWidget(paneArea);
    auto *end = new QHBoxLayout(m_endButtonsView);
    end->setContentsMargins(0, 0, 0, 0);
    auto *appsButton = new QPushButton(vtrLocalized("Show recommended apps"), m_endButtonsView);
    connect(appsButton, &QPushButton::clicked, this, [this] { guarded("apps", [this] { setState(kStateAppsEnd); }); });
    end->addWidget(appsButton);
    end->addStretch(1);
    panes->addWidget(m_endButtonsView);

    // The recommended apps.
    m_appReferralView = new QWidget(paneArea);
    auto *referral = new QVBoxLayout(m_appReferralView);
    referral->setContentsMargins(0, 0, 0, 0);
    auto *list = new QListWidget(m_appReferralView);
    list->setObjectName(QStringLiteral("appReferralCollectionView"));
    auto colourList = [this, list] {
        list->setStyleSheet(QStringLiteral("QListWidget { background: transparent; color: %1; }")
                                .arg(appReferralTextColor().name()));
    };
    connect(this, &NS_AppController::appReferralTextColorChanged, list, colourList);
    referral->addWidget(list);
    panes->addWidget(m_appReferralView);
    panes->addStretch(1);

    for (QWidget *pane : {m_progressView, m_singleProgressView, m_chooseDataView, m_transferSummaryView,
                          m_endButtonsView, m_appReferralView})
        pane->hide();

    // The bottom buttons.
    m_bottomControlsView = new QWidget(m_controlView);
    m_bottomControlsView->setObjectName(QStringLiteral("bottomControlsView"));
    auto *buttons = new QHBoxLayout(m_bottomControlsView);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_helpButton = new QPushButton(vtrLocalized("Help"), m_bottomControlsView);
    m_cancelButton = new QPushButton(vtrLocalized("Cancel"), m_bottomControlsView);
    m_saveButton = new QPushButton(vtrLocalized("Save"), m_bottomControlsView);
    m_nextButton = new QPushButton(vtrLocalized("Next"), m_bottomControlsView);
    m_nextDisabledButton = new QPushButton(vtrLocalized("Next"), m_bottomControlsView);
    m_quitButton = new QPushButton(vtrLocalized("Quit"), m_bottomControlsView);
    m_generateButton = new QPushButton(vtrLocalized("Generate"), m_bottomControlsView);
    m_generateButton->setObjectName(QStringLiteral("generateButton"));
    m_nextButton->setDefault(true);
    for (QPushButton *b : {m_helpButton, m_cancelButton, m_saveButton, m_nextButton, m_nextDisabledButton, m_quitButton})
        b->setMinimumWidth(96);
    buttons->addWidget(m_helpButton);
    buttons->addStretch(1);
    buttons->addWidget(m_generateButton);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_nextButton);
    buttons->addWidget(m_nextDisabledButton);
    buttons->addWidget(m_quitButton);
    outer->addWidget(m_bottomControlsView);
    connect(m_nextButton, &QPushButton::clicked, this, &NS_AppController::nextButtonHit);
    connect(m_cancelButton, &QPushButton::clicked, this, &NS_AppController::cancelButtonHit);
    connect(m_helpButton, &QPushButton::clicked, this, &NS_AppController::helpButtonHit);
    connect(m_saveButton, &QPushButton::clicked, this, &NS_AppController::saveButtonHit);
    connect(m_generateButton, &QPushButton::clicked, this, [this] { guarded("generate", [this] { generate(); }); });
    // Quit ends the wizard through its last transition (state 22).
    connect(m_quitButton, &QPushButton::clicked, this, &NS_AppController::nextButtonHit);
    m_saveButton->hide();
    nextButtonSetState(kButtonsNone);
}

void NS_AppController::bindIndicators()
{
    for (auto signal : {&NS_AppController::appsProgressChanged, &NS_AppController::calendarProgressChanged,
                        &NS_AppController::contactsProgressChanged, &NS_AppController::musicProgressChanged,
                        &NS_AppController::photosProgressChanged, &NS_AppController::videosProgressChanged,
                        &NS_AppController::singleProgressChanged, &NS_AppController::appsIndeterminateChanged,
                        &NS_AppController::calendarIndeterminateChanged, &NS_AppController::contactsIndeterminateChanged,
                        &NS_AppController::musicIndeterminateChanged, &NS_AppController::photosIndeterminateChanged,
                        &NS_AppController::videosIndeterminateChanged, &NS_AppController::singleIndeterminateChanged})
        connect(this, signal, this, &NS_AppController::refreshIndicators, Qt::QueuedConnection);
    refreshIndicators();
}

void NS_AppController::refreshIndicators()
{
    struct Indicator { QProgressBar *bar; double value; bool indeterminate; };
    const Indicator indicators[] = {
        {m_appsProgressIndicator, appsProgress(), appsIndeterminate()},
        {m_calendarProgressIndicator, calendarProgress(), calendarIndeterminate()},
        {m_contactsProgressIndicator, contactsProgress(), contactsIndeterminate()},
        {m_musicProgressIndicator, musicProgress(), musicIndeterminate()},
        {m_photosProgressIndicator, photosProgress(), photosIndeterminate()},
        {m_videosProgressIndicator, videosProgress(), videosIndeterminate()},
        {m_singleProgressIndicator, singleProgress(), singleIndeterminate()},
    };
    for (const Indicator &i : indicators) {
        if (!i.bar) continue;
        // An indeterminate bar animates; a determinate one shows its value.
        if (i.indeterminate) {
            i.bar->setRange(0, 0);
        } else {
            i.bar->setRange(0, 1000);
            i.bar->setValue(int(qBound(0.0, i.value, 1.0) * 1000 + 0.5));
        }
    }
}

void NS_AppController::saveButtonSetHidden(bool hidden) { m_saveButton->setHidden(hidden); }

void NS_AppController::refreshProgressRows()
{
    // A kind that is not read has no bar; one that the start stopped is
    // read, to be counted.
    const bool chosen[] = {contactsEnabled() && contactsValue(),
                           calendarsEnabled() && calendarsValue(),
                           (musicEnabled() && musicValue()) || !stoppedKindReason(vtrphase::Music).isEmpty(),
                           (photosEnabled() && photosValue()) || !stoppedKindReason(vtrphase::Photos).isEmpty(),
                           (videosEnabled() && videosValue()) || !stoppedKindReason(vtrphase::Videos).isEmpty(),
                           appsEnabled() && appsValue()};
    for (int i = 0; i < m_progressRows.size() && i < int(std::size(chosen)); ++i) {
        m_progressRows[i].first->setVisible(chosen[i]);
        m_progressRows[i].second->setVisible(chosen[i]);
    }
}

void NS_AppController::showAppReferrals(const QStringList &rows)
{
    auto *list = m_appReferralView->findChild<QListWidget *>(QStringLiteral("appReferralCollectionView"));
    if (!list) return;
    list->clear();
    list->addItems(rows);
}

QStringList NS_AppController::appReferralRows() const
{
    QStringList rows;
    if (auto *list = m_appReferralView->findChild<QListWidget *>(QStringLiteral("appReferralCollectionView")))
        for (int i = 0; i < list->count(); ++i) rows.append(list->item(i)->text());
    return rows;
}

void NS_AppController::lauchItunes()
{
    guarded("lauchItunes", [this] { launchITunesInBackground(false); });
}
