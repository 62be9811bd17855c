#include "AppDelegate.h"

#include "RecordingManager.h"
#include "RecordingServer.h"

#include <QDebug>

void AppDelegate::applicationDidFinishLaunching()
{
    RecordingServer &server = RecordingServer::shared();
    server.start();
    const QString folder = RecordingManager::shared().recordingsFolderURL();
    const quint16 port = server.serverPort();
    if (port == 0)
        return;
    // Without a window, one line tells a newcomer where to look.
    const QString host = RecordingServer::localIPv4Address().value_or(QStringLiteral("localhost"));
    qInfo().noquote() << QStringLiteral("[TivoluxRecorder] web page at http://%1:%2/, recordings in %3")
                             .arg(host)
                             .arg(port)
                             .arg(folder);
}

void AppDelegate::applicationShouldTerminate()
{
    m_quit.quit(RecordingManager::shared());
}
