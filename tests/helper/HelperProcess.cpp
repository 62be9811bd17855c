#include "HelperProcess.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

constexpr int kWaitMsecs = 5000;

HelperProcess::~HelperProcess()
{
    m_process.kill();
    m_process.waitForFinished(kWaitMsecs);
}

bool HelperProcess::start(const QStringList &options, const QString &systemBus)
{
    QStringList arguments{QStringLiteral("--socket"), socketPath()};
    if (!options.contains(QStringLiteral("--allowed-client")))
        arguments << QStringLiteral("--allowed-client") << QCoreApplication::applicationFilePath();
    if (systemBus.isEmpty()) {
        m_process.setProgram(QStringLiteral(TIVOLUX_FAKE_HELPER_EXE));
        arguments << QStringLiteral("--fake-power-manager") << recordPath();
    } else {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus);
        m_process.setProcessEnvironment(environment);
        m_process.setProgram(executable());
    }
    m_process.setArguments(arguments + options);
    m_process.start();
    // The socket file appears just before the helper listens on it: wait
    // until a connection goes through.
    const bool listening = m_process.waitForStarted(kWaitMsecs) && testsupport::waitUntil([this] {
        QLocalSocket probe;
        probe.connectToServer(socketPath());
        return m_process.state() == QProcess::NotRunning || probe.waitForConnected(100);
    }) && m_process.state() == QProcess::Running;
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(socketPath()).constData(), 0666);
    return listening;
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
{
    m_socket.connectToServer(socketPath);
    m_socket.waitForConnected(kWaitMsecs);
}

void HelperClient::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.waitForBytesWritten(kWaitMsecs);
}

std::optional<bool> HelperClient::request(const QString &method, qint64 seconds)
{
    const qint64 id = m_nextID++;
    send(QStringLiteral("{\"id\":%1,\"method\":\"%2\",\"date\":%3}\n").arg(id).arg(method).arg(seconds).toUtf8());
    const QByteArray line = nextLine().value_or(QByteArray());
    const QByteArray reply = "{\"id\":" + QByteArray::number(id) + ",\"reply\":";
    if (line != reply + "true}" && line != reply + "false}")
        return std::nullopt;
    return line == reply + "true}";
}

std::optional<QByteArray> HelperClient::nextLine()
{
    while (!m_socket.canReadLine()) {
        if (!m_socket.waitForReadyRead(kWaitMsecs))
            return std::nullopt;
    }
    return m_socket.readLine().trimmed();
}
