#pragma once

#include "Recording.h"
#include "RecordingManager.h"
#include "RecordingServer.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

// A recording for an index that a test or a benchmark writes: an hour on
// "Channel One" from 2024-05-01 20:00 UTC, or from 2099-05-01 for the pending
// statuses so that no capture starts, saved as TITLE.ts.
Recording servedRecording(const QString &title, Recording::Status status, qint64 bytes = 0);

// The real recording manager and recording server over a recordings folder,
// on 127.0.0.1 and a free port (the fixed port may be taken, and every
// interface is more than a test should open).
class ServedRecorder
{
public:
    // Writes the index of the folder, stores the folder in the settings and
    // starts the manager and the server; the reason when they cannot start.
    std::optional<QString> start(const QString &folder, const QList<Recording> &recordings);
    // The server goes before the manager it serves (as members do, too).
    void stop()
    {
        m_server.reset();
        m_manager.reset();
    }

    RecordingManager &manager() const { return *m_manager; }
    quint16 port() const { return m_server ? m_server->serverPort() : 0; }

private:
    std::unique_ptr<RecordingManager> m_manager;
    std::unique_ptr<RecordingServer> m_server;
};
