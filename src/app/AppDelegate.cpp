#include "AppDelegate.h"

#include "RecordingManager.h"
#include "RecordingServer.h"

#include <QCoreApplication>
#include <QDebug>
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
    const RecordingManager &manager = RecordingManager::shared();
    if (m_headless)
        announce(manager.recordingsFolderURL());
}

// Without a window, one line tells a newcomer where to look.
void AppDelegate::announce(const QString &folder)
{
    const quint16 port = RecordingServer::shared().serverPort();
    if (port == 0)
        return;
    const QString host = RecordingServer::localIPv4Address().value_or(QStringLiteral("localhost"));
    qInfo().noquote() << QStringLiteral("[TivoluxRecorder] web page at http://%1:%2/, recordings in %3")
                             .arg(host)
                             .arg(port)
                             .arg(folder);
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
