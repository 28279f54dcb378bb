// The window as a person sees it: it fits a small screen at 200 % and lays
// its pages out again when resized; check marks and the focus ring stand out;
// Return presses the default button; greyed kinds say why; Help without a
// browser gives the address; the tutorial list reads as words.

#include "TestEnvironment.h"
#include "app/AppServices.h"
#include "app/AppStartup.h"
#include "app/Scenes.h"
#include "app/TutorialPanel.h"
#include "app/WizardLook.h"
#include "support/WizardHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

namespace {

// The wizard in a main window with a menu bar, as the application shows it.
struct Window
{
    Window()
    {
        h.work->hold = true;
        window.menuBar()->addMenu(QStringLiteral("&Solvenna"));
        window.setCentralWidget(h.wizard().view());
    }
    ~Window() { window.takeCentralWidget(); }
    NS_AppController &wizard() { return h.wizard(); }
    void activate()
    {
        window.show();
        window.activateWindow();
        testenv::waitUntil([this] { return QApplication::activeWindow() == &window; }, 3000);
    }
    void enter(int state)
    {
        wizard().setState(state);
        WizardHarness::spin(60);
    }
    QRect inWindow(const QWidget *w) const { return QRect(w->mapTo(&window, QPoint(0, 0)), w->size()); }
    QImage grab(const QWidget *w)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return window.grab(inWindow(w)).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QWidget *sceneText(const char *name)
    {
        return wizard().scenesViewController()->currentView()->findChild<QLabel *>(QString::fromLatin1(name));
    }

    WizardHarness h;
    QMainWindow window;
};

// Pixels whose colours lie far apart in two pictures of the same size.
int farApart(const QImage &a, const QImage &b, int distance)
{
    int count = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y)
        for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) > distance)
                ++count;
        }
    return count;
}

void fillSummaries(NS_AppController &c)
{
    c.setContactsSummary(QStringLiteral("1,024 Contacts"));
    c.setCalendarSummary(QStringLiteral("2,311 Events in 12 Calendars"));
    c.setMusicSummary(QStringLiteral("4,096 Songs and 38 Playlists"));
    c.setPhotosSummary(QStringLiteral("12,877 Photos"));
    c.setVideosSummary(QStringLiteral("211 Videos"));
    c.setAppsSummary(QStringLiteral("Skipping Apps"));
    c.setTimeEstimateText(QStringLiteral("Estimated time remaining: 42 minutes."));
}

TEST(Window, OnASmallScreenAt200PercentEveryPageFitsAndFollowsAResize)
{
    Window w;
    // 1600x1000 at 200 %.
    const QRect screen(0, 0, 800, 500);
    w.window.setGeometry(vtrapp::windowGeometryForScreen(QSize(880, 600), w.window.minimumSizeHint(), screen));
    w.window.show();
    fillSummaries(w.wizard());
    QWidget *panes = w.wizard().paneArea();
    QWidget *buttons = w.wizard().bottomControlsView();
    for (const int size : {0, 1}) {
        if (size == 1) w.window.resize(1280, 900);
        for (const int state : {2, 9, 12, 14, 18, 20}) {
            SCOPED_TRACE(state);
            w.enter(state);
            if (size == 0) EXPECT_TRUE(screen.contains(w.window.frameGeometry()));
            const QRect window = w.window.rect();
            for (QPushButton *b : {w.wizard().nextButton(), w.wizard().quitButton(), w.wizard().cancelButton(),
                                   w.wizard().generateButton(), w.wizard().helpButton()})
                if (b->isVisible()) EXPECT_TRUE(window.contains(w.inWindow(b))) << qPrintable(b->text());
            // Buttons at the foot, the panes between the scene's texts.
            EXPECT_LE(window.bottom() - w.inWindow(buttons).bottom(), 16);
            const QRect area = w.inWindow(panes);
            EXPECT_LT(area.bottom(), w.inWindow(buttons).top());
            for (const char *above : {"sceneHeader", "sceneBody"})
                if (QWidget *text = w.sceneText(above); text && text->isVisible())
                    EXPECT_LE(w.inWindow(text).bottom(), area.top()) << above;
            if (QWidget *footer = w.sceneText("sceneFooter"); footer && footer->isVisible())
                EXPECT_GE(w.inWindow(footer).top(), area.bottom());
            // What does not fit can be scrolled to.
            auto *scroll = qobject_cast<QScrollArea *>(panes);
            ASSERT_TRUE(scroll);
            if (scroll->widget()->minimumSizeHint().height() > scroll->viewport()->height())
                EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
            if (size == 1) EXPECT_GT(area.width(), 700);
        }
    }
}

TEST(Window, CheckMarksAndTheFocusRingStandOutFromTheirSurroundings)
{
    Window w;
    w.window.resize(880, 600);
    w.activate();
    // With a phone held, Next is offered.
    ASSERT_TRUE(w.h.plugAndroid());
    w.enter(9);
    auto *contacts = w.wizard().chooseDataView()->findChild<QCheckBox *>(QStringLiteral("contactsInfo"));
    ASSERT_TRUE(contacts && contacts->isChecked());
    QStyleOptionButton option;
    option.initFrom(contacts);
    const QRect indicator = contacts->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, contacts);
    auto indicatorImage = [&] { return w.grab(contacts).copy(indicator); };
    const QImage ticked = indicatorImage();
    w.wizard().setContactsValue(false);
    const QImage unticked = indicatorImage();
    // A mark seen at a glance: most of the box changes, strongly.
    EXPECT_GT(farApart(ticked, unticked, 200), indicator.width() * indicator.height() / 4);
    // A greyed box is still a box on the dark scene.
    auto *tasks = w.wizard().chooseDataView()->findChild<QCheckBox *>(QStringLiteral("tasksInfo"));
    ASSERT_FALSE(tasks->isEnabled());
    const QImage greyed = w.grab(tasks).copy(indicator);
    const QColor scene = w.grab(tasks).pixelColor(w.grab(tasks).width() - 2, 1);
    QImage plain(greyed.size(), QImage::Format_RGB32);
    plain.fill(scene);
    EXPECT_GT(farApart(greyed, plain, 150), indicator.width() + indicator.height());

    QPushButton *next = w.wizard().nextButton();
    next->setFocus();
    ASSERT_TRUE(next->hasFocus());
    const QImage focused = w.grab(next);
    w.wizard().cancelButton()->setFocus();
    const QImage unfocused = w.grab(next);
    // A ring all round the button, not a hint of one.
    EXPECT_GT(farApart(focused, unfocused, 150), next->width() + next->height());
}

TEST(Window, ReturnPressesTheDefaultButtonOrTheOneWithTheFocus)
{
    Window w;
    w.activate();
    ASSERT_TRUE(w.h.plugAndroid());
    w.enter(9);
    auto *contacts = w.wizard().chooseDataView()->findChild<QCheckBox *>(QStringLiteral("contactsInfo"));
    contacts->setFocus();
    ASSERT_TRUE(contacts->hasFocus());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(contacts, &press);
    EXPECT_TRUE(w.h.visited.contains(10)) << "Next was not pressed";
    EXPECT_TRUE(contacts->isChecked()) << "Return is not a tick";

    // On the last page Quit is the default; a button reached with Tab is
    // pressed itself.
    w.enter(20);
    EXPECT_EQ(vtrapp::defaultButton(w.wizard()), w.wizard().quitButton());
    EXPECT_TRUE(w.wizard().quitButton()->hasFocus());
    w.wizard().helpButton()->setFocus(Qt::TabFocusReason);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    QApplication::sendEvent(w.wizard().helpButton(), &enter);
    EXPECT_EQ(w.h.host.opened.size(), 1);
    EXPECT_FALSE(w.h.terminated);
    // A page without Next or Quit (a job runs) leaves Return on no button.
    w.wizard().helpButton()->setFocus(Qt::TabFocusReason);
    w.enter(12);
    EXPECT_EQ(vtrapp::defaultButton(w.wizard()), nullptr);
    EXPECT_FALSE(qobject_cast<QPushButton *>(QApplication::focusWidget()));
    // Next offered once the job is done takes the focus.
    w.wizard().nextButtonSetEnabled(true);
    EXPECT_TRUE(w.wizard().nextButton()->hasFocus());
}

TEST(Window, GreyedDataKindsSayWhy)
{
    Window w;
    w.activate();
    w.enter(9);
    auto *why = w.wizard().chooseDataView()->findChild<QLabel *>(QStringLiteral("unavailableKinds"));
    ASSERT_TRUE(why);
    EXPECT_TRUE(why->isVisible());
    // Without a phone read, its media cannot be chosen either.
    EXPECT_EQ(why->text().split(QLatin1Char('\n')),
              (QStringList{QStringLiteral("Music, Photos and Videos: the phone's storage cannot be read."),
                           QStringLiteral("Tasks and Notes: they stay on your old phone; only contacts and calendars "
                                          "go to Windows Live."),
                           QStringLiteral("Apps: apps do not move between phones, and recommendations are not offered "
                                          "in this version.")}));
    auto *tasks = w.wizard().chooseDataView()->findChild<QCheckBox *>(QStringLiteral("tasksInfo"));
    EXPECT_EQ(tasks->toolTip(), why->text());
    // A kind greyed later is explained at once; one usable again is not.
    w.wizard().setCalendarsEnabled(false);
    EXPECT_TRUE(why->text().startsWith(QStringLiteral("Calendars: they cannot be read from this phone.")));
    w.wizard().setCalendarsEnabled(true);
    for (auto enable : {&NS_AppController::setMusicEnabled, &NS_AppController::setPhotosEnabled,
                        &NS_AppController::setVideosEnabled})
        (w.wizard().*enable)(true);
    w.wizard().setTasksEnabled(true);
    w.wizard().setNotesEnabled(true);
    w.wizard().setAppsEnabled(true);
    EXPECT_EQ(why->text(), QString());
    EXPECT_FALSE(why->isVisible());
}

TEST(Window, HelpWithoutABrowserSaysSoWithTheAddress)
{
    Window w;
    w.h.host.hasBrowser = false;
    w.wizard().helpButtonHit();
    ASSERT_EQ(w.h.alerts.titles(), QStringList{QStringLiteral("The help could not be opened.")});
    ASSERT_EQ(w.h.host.opened.size(), 1);
    EXPECT_TRUE(w.h.alerts.shown().first().informativeText.endsWith(w.h.host.opened.first().toString()));

    // The desktop's opener starts but finds no browser: told when it gives up.
    const QString bin = testenv::makeTempDir(QStringLiteral("bin"));
    testenv::writeFile(bin + QStringLiteral("/xdg-open"), "#!/bin/sh\nexit 3\n");
    QFile::setPermissions(bin + QStringLiteral("/xdg-open"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toLocal8Bit());
    LinuxHostEnvironment host;
    bool failed = false;
    EXPECT_TRUE(host.openUrlWatched(QUrl(QStringLiteral("https://example.org/help")), [&] { failed = true; }));
    EXPECT_TRUE(testenv::waitUntil([&] { return failed; }, 10000));
    QFile::remove(bin + QStringLiteral("/xdg-open"));
    EXPECT_FALSE(host.openUrlWatched(QUrl(QStringLiteral("https://example.org/help")), [] {}));
    qputenv("PATH", path);
}

TEST(Tutorials, TheListReadsAsWords)
{
    const struct
    {
        const char *file;
        const char *title;
    } cases[] = {
        {"ConnectAndroid.webm", "Connect Android"},
        {"ConnectiPhone.webm", "Connect iPhone"},
        {"ConnectBlackBerry.webm", "Connect BlackBerry"},
        {"BackUpYouriPhone.mp4", "Back Up Your iPhone"},
        {"move_photos-2.webm", "move photos 2"},
        {"Step10Music.webm", "Step 10 Music"},
        {"plain.webm", "plain"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vtrtutorial::videoTitle(QString::fromLatin1(c.file)), QString::fromLatin1(c.title)) << c.file;

    Window w;
    w.wizard().showVideosWindow();
    auto *list = w.wizard().tutorialPlayer()->videosWindow()->findChild<QListWidget *>(QStringLiteral("videosList"));
    ASSERT_TRUE(list);
    QStringList titles;
    for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Connect Android"), QStringLiteral("Connect BlackBerry"),
                                   QStringLiteral("Connect iPhone")}));
}

}  // namespace
