#include "AppDelegate.h"

#include "RecordingManager.h"
#include "RecordingServer.h"

#include <QCoreApplication>
#include <QTimer>

AppDelegate::AppDelegate(bool headless, std::chrono::milliseconds quitDelay, QObject *parent)
    : QObject(parent)
    , m_headless(headless)
    , m_quitDelay(quitDelay)
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    startServer();
    RecordingManager::shared();
}

void AppDelegate::startServer()
{
    RecordingServer::shared().start();
}

void AppDelegate::applicationShouldTerminate()
{
    if (m_stopping)
        return;
    RecordingManager &manager = RecordingManager::shared();
    if (manager.runningCount() == 0) {
        QCoreApplication::exit(0);
        return;
    }
    m_stopping = true;
    manager.stopAll();
    QTimer::singleShot(m_quitDelay, qApp, [] { QCoreApplication::exit(0); });
}
