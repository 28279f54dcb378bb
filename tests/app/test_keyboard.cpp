// The wizard by keyboard at 200 %: every stop of Tab is a control that shows
// its focus, long texts wrap within their pane, and Escape on an alert
// presses only a button that leaves things as they are (through the
// application's own message boxes).

#include "TestEnvironment.h"
#include "support/WizardHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Before the test program makes its application object.
const bool kAt200Percent = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    return true;
}();

struct Window
{
    Window()
    {
        h.work->hold = true;
        window.menuBar()->addMenu(QStringLiteral("&Solvenna"));
        window.setCentralWidget(h.wizard().view());
        // 1600x1000 pixels.
        window.resize(800, 500);
        window.show();
        window.activateWindow();
        testenv::waitUntil([this] { return QApplication::activeWindow() == &window; }, 3000);
    }
    ~Window() { window.takeCentralWidget(); }
    void enter(int state)
    {
        h.wizard().setState(state);
        WizardHarness::spin(60);
    }
    QImage grab(const QWidget *w)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return window.grab(QRect(w->mapTo(&window, QPoint(0, 0)), w->size())).toImage().convertToFormat(QImage::Format_RGB32);
    }

    WizardHarness h;
    QMainWindow window;
};

int farApart(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y)
        for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) > 150)
                ++count;
        }
    return count;
}

void press(QWidget *to, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(to, &event);
}

TEST(Keyboard, EveryStopOfTabIsAControlThatShowsItsFocus)
{
    Window w;
    ASSERT_EQ(w.window.devicePixelRatio(), 2.0);
    ASSERT_TRUE(w.h.plugAndroid());
    for (const int state : {1, 9, 14, 20}) {
        SCOPED_TRACE(state);
        w.enter(state);
        QList<QWidget *> stops;
        for (QWidget *focus = QApplication::focusWidget(); focus && !stops.contains(focus) && stops.size() < 20;
             focus = QApplication::focusWidget()) {
            stops.append(focus);
            const char *name = focus->metaObject()->className();
            EXPECT_TRUE(qobject_cast<QAbstractButton *>(focus) && focus->isVisible()) << name;
            // A ring all round it, seen at a glance.
            const QImage focused = w.grab(focus);
            focus->clearFocus();
            const QImage plain = w.grab(focus);
            EXPECT_GT(farApart(focused, plain), focused.width() + focused.height()) << name;
            focus->setFocus(Qt::TabFocusReason);
            press(focus, Qt::Key_Tab);
        }
        EXPECT_GE(stops.size(), 2);
    }
}

TEST(Keyboard, LongTextsWrapWithinTheirPane)
{
    Window w;
    NS_AppController &c = w.h.wizard();
    auto *scroll = qobject_cast<QScrollArea *>(c.paneArea());
    ASSERT_TRUE(scroll);
    const QString folder = QStringLiteral("/home/someone with a long name/Solvenna to Windows Phone/Videos");
    for (const int state : {19, 20}) {
        SCOPED_TRACE(state);
        w.enter(state);
        c.setContactsSummary(QStringLiteral("1,024 Contacts"));
        c.setContactsSummaryDone(QStringLiteral(" - Not moved: the one-step transfer does not upload to Windows Live"));
        c.setMusicSummary(QStringLiteral("4,096 Songs and 38 Playlists"));
        c.setMusicSummaryDone(QStringLiteral(" - Done (3 could not be read from your old phone; 2 hidden files were "
                                             "skipped; 1 could not be added to your music library)"));
        c.setVideosSummary(QStringLiteral("211 Videos"));
        c.setVideosSummaryDone(
            QStringLiteral(" - Failed: The folder \"%1\" cannot be written: Permission denied.").arg(folder));
        c.setSingleProgressText(
            QStringLiteral("Copying videos failed: The folder \"%1\" cannot be written: Permission denied.").arg(folder));
        WizardHarness::spin(60);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        int seen = 0;
        for (QLabel *label : scroll->widget()->findChildren<QLabel *>()) {
            if (!label->isVisibleTo(scroll) || label->text().size() < 60) continue;
            ++seen;
            const QRect inView(label->mapTo(scroll->viewport(), QPoint(0, 0)), label->size());
            EXPECT_LE(inView.right(), scroll->viewport()->width()) << qPrintable(label->text());
            // Every line is shown.
            const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 100000),
                                                                   Qt::TextWordWrap, label->text());
            EXPECT_LE(needed.width(), label->width()) << qPrintable(label->text());
            EXPECT_GE(label->height(), needed.height()) << qPrintable(label->text());
        }
        EXPECT_EQ(seen, state == 19 ? 1 : 3);
    }
    // A check box's title does not wrap: the longest titles stand whole.
    w.enter(NS_AppController::kStateChooseData);
    c.setCheckboxTitles({{"musicInfo", "Music - cannot transfer music for this device"},
                         {"photosInfo", "Photos - cannot transfer photos for this device"},
                         {"videosInfo", "Videos - cannot transfer videos for this device"}});
    WizardHarness::spin(60);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QList<QCheckBox *> boxes = c.chooseDataView()->findChildren<QCheckBox *>();
    ASSERT_EQ(boxes.size(), 8);
    for (QCheckBox *box : boxes) {
        const QRect inView(box->mapTo(scroll->viewport(), QPoint(0, 0)), box->size());
        EXPECT_LE(inView.right(), scroll->viewport()->width()) << qPrintable(box->text());
        EXPECT_GE(box->width(), box->sizeHint().width()) << qPrintable(box->text());
    }
}

// Presses Escape on each alert as it opens; one that is still open after it
// is answered with `orElse`.
class EscapeOnAlerts final : public QObject
{
public:
    explicit EscapeOnAlerts(QString orElse) : m_orElse(std::move(orElse))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
        m_timer.start(0);
    }
    int escapes = 0;
    int stayedOpen = 0;

private:
    void look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (box != m_escaped) {
            m_escaped = box;
            ++escapes;
            press(box, Qt::Key_Escape);
            return;
        }
        ++stayedOpen;
        for (QAbstractButton *button : box->buttons())
            if (button->text() == m_orElse) button->click();
    }

    QString m_orElse;
    QTimer m_timer;
    QPointer<QMessageBox> m_escaped;
};

TEST(Keyboard, EscapeNeverQuitsAndDoesNothingOnAnAlertWithoutACancellingButton)
{
    MessageBoxAlertPresenter alerts;
    FakeHost host;
    PhoneArrival phones;
    bool terminated = false;
    NS_AppController c(WizardHarness::testServices(alerts, host, phones, [&] { terminated = true; }));
    EscapeOnAlerts keys(QStringLiteral("Quit"));

    // "Quit Solvenna for Windows Phone?": Escape is "Continue".
    c.cancelButtonHit();
    EXPECT_EQ(keys.escapes, 1);
    EXPECT_EQ(keys.stayedOpen, 0);
    EXPECT_FALSE(terminated);
    // A notice: Escape closes it.
    c.setCurrentState(NS_AppController::kStateChooseData);
    for (auto untick : {&NS_AppController::setContactsValue, &NS_AppController::setCalendarsValue,
                        &NS_AppController::setTasksValue, &NS_AppController::setNotesValue,
                        &NS_AppController::setAppsValue, &NS_AppController::setMusicValue,
                        &NS_AppController::setPhotosValue, &NS_AppController::setVideosValue})
        (c.*untick)(false);
    c.gotoNextState();
    EXPECT_EQ(keys.escapes, 2);
    EXPECT_EQ(keys.stayedOpen, 0);
    EXPECT_EQ(c.currentState(), NS_AppController::kStateChooseData);
    // The end of the run has only "Quit": Escape leaves it open.
    c.fatalAlert(QStringLiteral("An error occurred."), QStringLiteral("You will have to restart Solvenna."));
    EXPECT_EQ(keys.escapes, 3);
    EXPECT_EQ(keys.stayedOpen, 1);
    EXPECT_TRUE(terminated);
}

}  // namespace
