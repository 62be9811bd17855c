#include "DesktopAppDelegate.h"

#include "AddressClipboard.h"
#include "EditCommands.h"
#include "MainWindowController.h"
#include "QuitAlert.h"
#include "RecordingDotIcon.h"
#include "RecordingManager.h"
#include "RecordingServer.h"
#include "StatusTexts.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdlib>

namespace {

// The launched delegate, told when the process ends by exit() from inside
// its event loop; a normal end leaves the loop and destroys it first.
DesktopAppDelegate *launchedDelegate = nullptr;

void endWithoutEventLoop()
{
    if (launchedDelegate)
        launchedDelegate->processEndsNow();
}

} // namespace

DesktopAppDelegate::DesktopAppDelegate()
    : DesktopAppDelegate(AppServices{}, Options{})
{
}

DesktopAppDelegate::DesktopAppDelegate(AppServices services, Options options, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_options(std::move(options))
    , m_quit(m_options.terminate, m_options.quitDelay)
{
}

DesktopAppDelegate::~DesktopAppDelegate()
{
    if (launchedDelegate == this)
        launchedDelegate = nullptr;
}

void DesktopAppDelegate::applicationDidFinishLaunching()
{
    // The application lives in the tray: closing its window only hides it.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_mainMenu = buildMainMenu();
    m_services.recordingServer().start();
    RecordingManager &manager = m_services.recordingManager();

    m_statusItem = new QSystemTrayIcon(this);
    m_statusMenu = std::make_unique<QMenu>();
    connect(m_statusMenu.get(), &QMenu::aboutToShow, this, &DesktopAppDelegate::menuNeedsUpdate);
    m_statusItem->setContextMenu(m_statusMenu.get());
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            applicationShouldHandleReopen();
    });
    updateStatusItem();
    connect(&manager, &RecordingManager::recordingsDidChange, this, &DesktopAppDelegate::updateStatusItem);
    m_statusItem->show();

    m_trayAvailable = isTrayAvailable();
    mainWindow().setClosingMinimizes(!m_trayAvailable);
    auto *trayCheck = new QTimer(this);
    connect(trayCheck, &QTimer::timeout, this, &DesktopAppDelegate::followTray);
    trayCheck->start(m_options.trayCheckInterval);
    // Logging out: the session manager asks the application to save its
    // data, and ends it soon after (or the display connection goes first).
    const auto sessionEnds = [this](QSessionManager &) { terminateWithoutAsking(); };
    connect(qApp, &QGuiApplication::commitDataRequest, this, sessionEnds);
    connect(qApp, &QGuiApplication::saveStateRequest, this, sessionEnds);
    [[maybe_unused]] static const int exitHandler = std::atexit(endWithoutEventLoop);
    launchedDelegate = this;

    showMainWindow();
}

bool DesktopAppDelegate::isTrayAvailable() const
{
    return m_options.trayAvailable ? m_options.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopAppDelegate::followTray()
{
    const bool available = isTrayAvailable();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    mainWindow().setClosingMinimizes(!available);
    if (available) {
        // Shown again, the icon docks in the tray that has just appeared.
        m_statusItem->hide();
        m_statusItem->show();
    } else if (!mainWindow().window()->isVisible()) {
        // The tray that led back to the hidden window has gone.
        mainWindow().window()->showMinimized();
    }
}

MainWindowController &DesktopAppDelegate::mainWindow()
{
    if (!m_mainWindow)
        m_mainWindow = std::make_unique<MainWindowController>(m_services, m_mainMenu.release());
    return *m_mainWindow;
}

void DesktopAppDelegate::showMainWindow()
{
    mainWindow().showWindow();
}

bool DesktopAppDelegate::applicationShouldHandleReopen()
{
    showMainWindow();
    return true;
}

void DesktopAppDelegate::requestQuit()
{
    m_quit.quit(m_services.recordingManager(), [this](int running) { return confirmQuit(running); });
}

void DesktopAppDelegate::terminateWithoutAsking()
{
    m_quit.quitSavingAtOnce(m_services.recordingManager());
}

void DesktopAppDelegate::processEndsNow()
{
    RecordingManager &manager = m_services.recordingManager();
    // The window and the tray must not be touched: their display is gone.
    const QSignalBlocker quiet(&manager);
    manager.stopAllAndSave();
}

bool DesktopAppDelegate::confirmQuit(int running)
{
    if (m_options.confirmQuit)
        return m_options.confirmQuit(running);
    QMainWindow *window = m_mainWindow ? m_mainWindow->window() : nullptr;
    return QuitAlert::run(running, window && window->isVisible() ? window : nullptr);
}

void DesktopAppDelegate::copyAddress()
{
    AddressClipboard::copy(RecordingServer::localIPv4Address());
}

void DesktopAppDelegate::stopAllRecordings()
{
    m_services.recordingManager().stopAll();
}

void DesktopAppDelegate::updateStatusItem()
{
    if (!m_statusItem)
        return;
    const bool recording = m_services.recordingManager().runningCount() >= 1;
    m_statusItem->setToolTip(StatusTexts::toolTip(RecordingServer::localIPv4Address()));
    m_statusItem->setIcon(RecordingDotIcon::icon(recording));
}

void DesktopAppDelegate::menuNeedsUpdate()
{
    RecordingManager &manager = m_services.recordingManager();
    const int running = manager.runningCount();
    QMenu *menu = m_statusMenu.get();
    menu->clear();

    QAction *status = menu->addAction(StatusTexts::statusLine(running, manager.scheduledCount()));
    status->setEnabled(false);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Open Tivolux Recorder…"), this, &DesktopAppDelegate::showMainWindow);
    menu->addAction(QStringLiteral("Copy Address for Tivolux"), this, &DesktopAppDelegate::copyAddress);
    if (running >= 1)
        menu->addAction(QStringLiteral("Stop All Recordings"), this, &DesktopAppDelegate::stopAllRecordings);
    menu->addSeparator();
    QAction *quit = menu->addAction(QStringLiteral("Quit Tivolux Recorder"), this, &DesktopAppDelegate::requestQuit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

std::unique_ptr<QMenuBar> DesktopAppDelegate::buildMainMenu()
{
    auto bar = std::make_unique<QMenuBar>();
    // The application menu carries the application's name, as menu bars on
    // this desktop have no untitled entry.
    QMenu *application = bar->addMenu(QStringLiteral("Tivolux Recorder"));
    QAction *quit = application->addAction(QStringLiteral("Quit Tivolux Recorder"), this,
                                           &DesktopAppDelegate::requestQuit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);

    using EditCommands::Command;
    QMenu *edit = bar->addMenu(QStringLiteral("Edit"));
    const auto addEdit = [edit](const QString &title, Command command, QKeyCombination key) {
        QAction *action = edit->addAction(title, [command] { EditCommands::send(command); });
        action->setShortcut(QKeySequence(key));
    };
    addEdit(QStringLiteral("Undo"), Command::Undo, Qt::CTRL | Qt::Key_Z);
    edit->addSeparator();
    addEdit(QStringLiteral("Cut"), Command::Cut, Qt::CTRL | Qt::Key_X);
    addEdit(QStringLiteral("Copy"), Command::Copy, Qt::CTRL | Qt::Key_C);
    addEdit(QStringLiteral("Paste"), Command::Paste, Qt::CTRL | Qt::Key_V);
    addEdit(QStringLiteral("Select All"), Command::SelectAll, Qt::CTRL | Qt::Key_A);

    QMenu *window = bar->addMenu(QStringLiteral("Window"));
    QAction *close = window->addAction(QStringLiteral("Close"), [] {
        if (QWidget *active = QApplication::activeWindow())
            active->close();
    });
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    return bar;
}
