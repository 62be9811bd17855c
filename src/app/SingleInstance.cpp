#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";
constexpr char kHeadlessAnswer[] = "headless\n";
// Between attempts to reach a copy that holds the lock but is not listening
// yet.
constexpr unsigned long kConnectRetryMilliseconds = 50;

int remainingMilliseconds(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(deadline.remainingTime(), 0));
}

} // namespace

SingleInstance::SingleInstance(Mode mode, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
    , m_lockPath(QDir(folder).filePath(QLatin1String(kLockFileName)))
    , m_socketPath(QDir(folder).filePath(QLatin1String(kSocketName)))
{
}

// The socket file goes with the server; the lock with the process.
SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

ExclusiveLock::Result SingleInstance::claim()
{
    ExclusiveLock::Result result = m_lock.tryLock(m_lockPath);
    if (std::holds_alternative<ExclusiveLock::Taken>(result))
        listen();
    return result;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever holds the lock owns the socket name: one left by a killed
    // copy is in the way and goes.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        qWarning().noquote() << "Later launches cannot reach this recorder:" << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            answer(socket);
    });
}

void SingleInstance::answer(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A launch that never says what it wants is not waited for.
    QTimer::singleShot(kHandOverTimeout, socket, [socket] { socket->abort(); socket->deleteLater(); });
    const auto readRequest = [this, socket] {
        if (!socket->canReadLine())
            return;
        const QByteArray request = socket->readLine();
        if (request != kShowRequest) {
            socket->abort();
            return;
        }
        if (m_mode == Mode::Desktop) {
            emit showRequested();
            socket->write(kShownAnswer);
        } else {
            socket->write(kHeadlessAnswer);
        }
        socket->disconnectFromServer();
    };
    connect(socket, &QLocalSocket::readyRead, this, readRequest);
    readRequest();
}

SingleInstance::HandOver SingleInstance::askToShow(std::chrono::milliseconds timeout) const
{
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(remainingMilliseconds(deadline)))
            break;
        if (deadline.hasExpired())
            return HandOver::NoAnswer;
        QThread::msleep(kConnectRetryMilliseconds);
    }
    socket.write(kShowRequest);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(remainingMilliseconds(deadline)))
            return HandOver::NoAnswer;
    }
    const QByteArray answer = socket.readLine();
    if (answer == kShownAnswer)
        return HandOver::Shown;
    if (answer == kHeadlessAnswer)
        return HandOver::RunningHeadless;
    return HandOver::NoAnswer;
}
