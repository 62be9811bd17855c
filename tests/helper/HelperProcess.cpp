#include "HelperProcess.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {

constexpr int kWaitMsecs = 5000;

} // namespace

HelperProcess::~HelperProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kWaitMsecs);
    }
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
    QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                               | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup
                                               | QFile::ExeGroup);
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
    const QJsonObject request{{QStringLiteral("id"), id},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("date"), double(seconds)}};
    send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    const std::optional<QByteArray> line = nextLine();
    if (!line)
        return std::nullopt;
    const QJsonObject reply = QJsonDocument::fromJson(*line).object();
    if (reply.value(QStringLiteral("id")).toInteger() != id || !reply.value(QStringLiteral("reply")).isBool())
        return std::nullopt;
    return reply.value(QStringLiteral("reply")).toBool();
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
