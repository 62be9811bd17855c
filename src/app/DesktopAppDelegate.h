#pragma once

#include "AppServices.h"
#include "QuitRule.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

class MainWindowController;
class QMenu;
class QMenuBar;
class QSystemTrayIcon;

// The desktop application: launches the shared services in order, puts the
// recording dot into the system tray with its menu, gives the main window
// its menu bar, shows the window at launch and on every reopen, and asks
// before quitting while recordings run.
class DesktopAppDelegate : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        std::chrono::milliseconds quitDelay = kQuitDelay;
        // Asks whether to stop the given number of running recordings and
        // quit; default: the quit alert, run modally.
        std::function<bool(int running)> confirmQuit;
        // Ends the process; default: leaves the application's event loop.
        std::function<void()> terminate;
        // Whether the desktop shows a tray; default: asks Qt. Asked again
        // every trayCheckInterval, as a tray can come and go while the
        // program runs (a panel extension turned on or off).
        std::function<bool()> trayAvailable;
        std::chrono::milliseconds trayCheckInterval{3000};
    };

    // With the shared services and the default options.
    DesktopAppDelegate();
    DesktopAppDelegate(AppServices services, Options options, QObject *parent = nullptr);
    ~DesktopAppDelegate() override;

    void applicationDidFinishLaunching();
    // Shows the main window; always answers yes.
    bool applicationShouldHandleReopen();
    // "Quit Tivolux Recorder": the quit rule, asking first while recordings
    // run.
    void requestQuit();
    // The session ends or the process is told to terminate: nobody can
    // answer an alert, so running recordings are stopped without asking and
    // saved as stopped at once, in case the process ends before they report.
    void terminateWithoutAsking();
    // The process ends now without leaving its event loop (Qt ends it this
    // way when the display connection is lost): running recordings are
    // saved as stopped, and nothing is drawn.
    void processEndsNow();

    void showMainWindow();
    void copyAddress();
    void stopAllRecordings();
    void updateStatusItem();
    // Rebuilds the tray menu; runs each time before it opens.
    void menuNeedsUpdate();

    // Created on first access, then kept.
    MainWindowController &mainWindow();
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    QMenu *statusMenu() const { return m_statusMenu.get(); }

private:
    std::unique_ptr<QMenuBar> buildMainMenu();
    bool isTrayAvailable() const;
    void followTray();
    bool confirmQuit(int running);

    AppServices m_services;
    Options m_options;
    std::unique_ptr<QMenuBar> m_mainMenu;
    QSystemTrayIcon *m_statusItem = nullptr;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<MainWindowController> m_mainWindow;
    QuitRule m_quit;
    bool m_trayAvailable = false;
};
