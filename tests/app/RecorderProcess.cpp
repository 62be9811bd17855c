#include "RecorderProcess.h"

#include "APIClient.h"
#include "JSONCoding.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>

#include <csignal>
#include <sys/resource.h>

namespace {

// Whether the process has installed its own SIGTERM handler yet: bit 15 of
// the caught-signals mask in /proc.
bool catchesTerm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return mask & (quint64(1) << (SIGTERM - 1));
        }
    }
    return false;
}

} // namespace

RecorderProcess::RecorderProcess()
{
    m_folder = m_home.filePath(QStringLiteral("recordings"));
    QDir().mkpath(m_folder);
    QSettings settings(m_home.filePath(QStringLiteral("config/Tivolux/TivoluxRecorder.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("recorder.folderPath"), m_folder);
    settings.sync();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(QStringLiteral(TIVOLUX_RECORDER_EXE));
    m_process.setArguments({QStringLiteral("--headless")});
}

RecorderProcess::~RecorderProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString RecorderProcess::filePath(const QString &fileName) const
{
    return QDir(m_folder).filePath(fileName);
}

void RecorderProcess::writeIndex(const QList<Recording> &recordings) const
{
    testsupport::writeFile(filePath(QStringLiteral("recordings.json")),
                           sharedJSONEncoder().data(sharedJSONEncoder().encode(recordings)));
}

std::optional<QList<Recording>> RecorderProcess::readIndex() const
{
    return sharedJSONDecoder().decodeRecordings(testsupport::readFile(filePath(QStringLiteral("recordings.json"))));
}

bool RecorderProcess::start(bool waitForAPI)
{
    const qint64 limit = m_fileSizeLimit;
    m_process.setChildProcessModifier([limit] {
        if (limit < 0)
            return;
        // Past the limit a write fails with EFBIG instead of ending the
        // process with SIGXFSZ; both settings survive the exec.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{rlim_t(limit), rlim_t(limit)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    });
    m_process.start();
    if (!m_process.waitForStarted())
        return false;
    if (!testsupport::waitUntil([&] { return catchesTerm(m_process.processId()); }))
        return false;
    if (!waitForAPI)
        return true;
    return testsupport::waitUntil([this] { return apiRequest(m_port, "GET", "/api/info").has_value(); });
}

void RecorderProcess::useTestPort(quint16 port)
{
    m_port = port;
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(QStringLiteral("TIVOLUX_RECORDER_TEST_PORT"), QString::number(port));
    m_process.setProcessEnvironment(env);
}

void RecorderProcess::kill(int signal)
{
    ::kill(pid_t(m_process.processId()), signal);
}

bool RecorderProcess::waitForExit(int milliseconds)
{
    return testsupport::waitUntil([&] { return m_process.state() == QProcess::NotRunning; },
                                  std::chrono::milliseconds(milliseconds));
}

bool RecorderProcess::apiPortIsFree()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, kPort);
}

Recording onAirRecording(const QString &streamURL, const QString &fileName, qint64 secondsToEnd)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.title = r.channelName = r.channelID = fileName;
    r.streamURL = streamURL;
    r.programStart = r.startDate = QDateTime::currentDateTimeUtc().addSecs(-60);
    r.endDate = QDateTime::currentDateTimeUtc().addSecs(secondsToEnd);
    r.programEnd = r.endDate.addSecs(-300);
    r.fileName = fileName;
    r.status = Recording::Status::Scheduled;
    return r;
}
