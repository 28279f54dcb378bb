#include "app/NS_AppDelegate.h"

#include "app/NS_AppController.h"
#include "platform/Strings.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

VtrMainWindow::VtrMainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(vtrLocalized("Solvenna to Windows Phone"));
    setWindowIcon(QIcon(QStringLiteral(":/app/solvenna-to-windows-phone.png")));
}

void VtrMainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_controller || m_controller->windowShouldClose())
        event->accept();
    else
        event->ignore();
}

NS_AppDelegate::NS_AppDelegate(std::unique_ptr<NS_AppController> controller, QObject *parent)
    : QObject(parent), m_appController(std::move(controller)), m_window(std::make_unique<VtrMainWindow>())
{
    m_window->setController(m_appController.get());
}

NS_AppDelegate::~NS_AppDelegate()
{
    // The controller takes its view back out of the window; the window goes
    // afterwards.
    m_appController.reset();
    m_window.reset();
}

void NS_AppDelegate::awakeFromNib()
{
    buildMenu();
    if (m_appController->view()) m_window->setCentralWidget(m_appController->view());
    NS_AppController::trimMainMenu(m_window->menuBar());
}

void NS_AppDelegate::applicationDidFinishLaunching() { m_appController->beginSetup(); }

void NS_AppDelegate::buildMenu()
{
    QMenuBar *bar = m_window->menuBar();
    QMenu *appMenu = bar->addMenu(vtrLocalized("&Solvenna"));
    appMenu->menuAction()->setData(50);
    // Items the desktop adds to an application menu on other systems; the
    // wizard removes them (tags 54 and 55) when it sets up.
    QAction *services = appMenu->addAction(vtrLocalized("Services"));
    services->setData(54);
    QAction *hideOthers = appMenu->addAction(vtrLocalized("Hide Others"));
    hideOthers->setData(55);
    QAction *quit = appMenu->addAction(vtrLocalized("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, m_window.get(), &QWidget::close);

    QMenu *helpMenu = bar->addMenu(vtrLocalized("&Help"));
    QAction *help = helpMenu->addAction(vtrLocalized("Solvenna to Windows Phone Help"));
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, m_appController.get(), &NS_AppController::helpButtonHit);
    QAction *videos = helpMenu->addAction(vtrLocalized("Tutorial Videos"));
    connect(videos, &QAction::triggered, m_appController.get(), &AppController::showVideosWindow);
}
