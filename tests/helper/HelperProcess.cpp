#include "HelperProcess.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

namespace {

constexpr int kWaitMsecs = 5000;

} // namespace

HelperProcess::~HelperProcess()
{
    m_process.kill();
    m_process.waitForFinished(kWaitMsecs);
}

QString HelperProcess::executable()
{
    return QStringLiteral(TIVOLUX_HELPER_EXE);
}

bool HelperProcess::start(const QStringList &options, bool fakePowerManager)
{
    QStringList arguments{QStringLiteral("--socket"), socketPath()};
    if (!options.contains(QStringLiteral("--allowed-client")))
        arguments << QStringLiteral("--allowed-client") << QCoreApplication::applicationFilePath();
    m_process.setProgram(fakePowerManager ? QStringLiteral(TIVOLUX_FAKE_HELPER_EXE) : executable());
    if (fakePowerManager)
        arguments << QStringLiteral("--fake-power-manager") << recordPath();
    m_process.setArguments(arguments + options);
    m_process.start();
    if (!m_process.waitForStarted(kWaitMsecs))
        return false;
    // The socket file appears just before the helper listens on it: wait
    // until a connection goes through.
    return testsupport::waitUntil([this] {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        QLocalSocket probe;
        probe.connectToServer(socketPath());
        return probe.waitForConnected(100);
    }) && m_process.state() == QProcess::Running;
}

void HelperProcess::openToEveryone()
{
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(socketPath()).constData(), 0666);
}

QStringList HelperProcess::recordedCalls() const
{
    return QString::fromUtf8(testsupport::readFile(recordPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList HelperProcess::logLines()
{
    // The helper logs before it replies, so what belongs to an answered
    // request is already in the pipe.
    m_process.setReadChannel(QProcess::StandardError);
    while (m_process.waitForReadyRead(20))
        m_log += m_process.readAllStandardError();
    m_log += m_process.readAllStandardError();
    return QString::fromUtf8(m_log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

HelperClient::HelperClient(const QString &socketPath)
    : m_socket(std::make_unique<QLocalSocket>())
{
    m_socket->connectToServer(socketPath);
    m_socket->waitForConnected(kWaitMsecs);
}

std::optional<bool> HelperClient::request(const QString &method, qint64 seconds)
{
    const qint64 id = m_nextID++;
    send(QStringLiteral("{\"id\":%1,\"method\":\"%2\",\"date\":%3}\n").arg(id).arg(method).arg(seconds).toUtf8());
    const QByteArray line = nextLine().value_or(QByteArray());
    const QString reply = QStringLiteral("{\"id\":%1,\"reply\":%2}").arg(id);
    if (line != reply.arg(QLatin1String("true")).toUtf8() && line != reply.arg(QLatin1String("false")).toUtf8())
        return std::nullopt;
    return line.contains("true");
}

std::optional<QByteArray> HelperClient::nextLine()
{
    while (!m_socket->canReadLine()) {
        if (!m_socket->waitForReadyRead(kWaitMsecs))
            return std::nullopt;
    }
    return m_socket->readLine().trimmed();
}

bool HelperClient::closedByHelper()
{
    while (m_socket->state() == QLocalSocket::ConnectedState) {
        if (!m_socket->waitForReadyRead(kWaitMsecs))
            break;
        m_socket->readAll();
    }
    return m_socket->state() == QLocalSocket::UnconnectedState;
}
