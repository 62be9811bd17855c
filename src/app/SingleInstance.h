#pragma once

#include "ExclusiveLock.h"

#include <QObject>
#include <QString>
#include <chrono>

class QLocalServer;
class QLocalSocket;

// One recorder per user: the first launch takes a lock in the user's runtime
// folder and answers on a local socket beside it; a later launch finds the
// lock taken and, from the desktop, asks the running copy over the socket to
// show its window instead of starting a second recorder.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Desktop, Headless };
    enum class HandOver { Shown, RunningHeadless, NoAnswer };

    // How long a later launch waits for the running copy's answer, and how
    // long the running copy waits for a launch to say what it wants.
    static constexpr std::chrono::milliseconds kHandOverTimeout{3000};
    static constexpr char kLockFileName[] = "tivolux-recorder.lock";
    static constexpr char kSocketName[] = "tivolux-recorder.socket";

    // `folder` holds the lock and the socket: by default the user's runtime
    // folder, which only the user can enter.
    explicit SingleInstance(Mode mode, const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultFolder();

    // Takes the user's lock and, once taken, answers later launches.
    ExclusiveLock::Result claim();

    // From a later desktop launch: asks the running copy to show its window,
    // trying to reach it until the timeout (it may be starting up itself).
    HandOver askToShow(std::chrono::milliseconds timeout = kHandOverTimeout) const;

signals:
    // A later desktop launch asked for the window.
    void showRequested();

private:
    void listen();
    void answer(QLocalSocket *socket);

    Mode m_mode;
    QString m_lockPath;
    QString m_socketPath;
    ExclusiveLock m_lock;
    QLocalServer *m_server = nullptr;
};
