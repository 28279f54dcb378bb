#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>

class NS_AppController;

// The main window: closing it asks the wizard first (as Cancel does before
// the final state; after it, the application ends).
class VtrMainWindow final : public QMainWindow
{
    Q_OBJECT
public:
    explicit VtrMainWindow(QWidget *parent = nullptr);
    void setController(NS_AppController *controller) { m_controller = controller; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QPointer<NS_AppController> m_controller;
};

// Puts the controller's view into the main window and hands control to the
// controller once the event loop runs. Owns the controller and the window.
class NS_AppDelegate final : public QObject
{
    Q_OBJECT
public:
    NS_AppDelegate(std::unique_ptr<NS_AppController> controller, QObject *parent = nullptr);
    ~NS_AppDelegate() override;

    VtrMainWindow *window() const { return m_window.get(); }
    NS_AppController *appController() const { return m_appController.get(); }

    // The window shows the controller's view; the main menu has Quit and Help.
    void awakeFromNib();
    // Sends beginSetup to the controller.
    void applicationDidFinishLaunching();

private:
    void buildMenu();

    std::unique_ptr<NS_AppController> m_appController;
    std::unique_ptr<VtrMainWindow> m_window;
};
