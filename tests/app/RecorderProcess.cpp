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
    : RecorderProcess(std::make_shared<QTemporaryDir>())
{
    QDir().mkpath(m_folder);
    useFolder(m_folder);
    // The user's runtime folder, as a session makes it: only the user may
    // enter it.
    const QString runtime = m_home->filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

RecorderProcess::RecorderProcess(std::shared_ptr<QTemporaryDir> home)
    : m_home(std::move(home))
{
    m_folder = m_home->filePath(QStringLiteral("recordings"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home->filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(QStringLiteral(TIVOLUX_RECORDER_EXE));
    m_process.setArguments({QStringLiteral("--headless")});
}

std::unique_ptr<RecorderProcess> RecorderProcess::sameUser() const
{
    std::unique_ptr<RecorderProcess> other(new RecorderProcess(m_home));
    other->m_process.setProcessEnvironment(m_process.processEnvironment());
    other->m_process.setArguments(m_process.arguments());
    other->m_folder = m_folder;
    return other;
}

void RecorderProcess::useFolder(const QString &folder)
{
    m_folder = folder;
    QSettings settings(m_home->filePath(QStringLiteral("config/Tivolux/TivoluxRecorder.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("recorder.folderPath"), m_folder);
    settings.sync();
}

void RecorderProcess::runOnDesktop()
{
    QProcessEnvironment env = m_process.processEnvironment();
    // The program chooses the desktop when a display is named; Qt's
    // offscreen platform then stands in for it.
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":tivolux-test"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_process.setArguments({});
}

RecorderProcess::~RecorderProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void RecorderProcess::setDisplay(const QString &display)
{
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_process.setProcessEnvironment(env);
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

void RecorderProcess::launch()
{
    const qint64 fileSize = m_fileSizeLimit;
    const auto openFiles = m_openFileLimit;
    m_process.setChildProcessModifier([fileSize, openFiles] {
        // Past the size limit a write fails with EFBIG instead of ending the
        // process with SIGXFSZ; these settings survive the exec.
        if (fileSize >= 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{rlim_t(fileSize), rlim_t(fileSize)};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        if (openFiles.first >= 0) {
            const rlimit files{rlim_t(openFiles.first), rlim_t(openFiles.second)};
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    });
    m_process.start();
}

bool RecorderProcess::start(bool waitForAPI)
{
    launch();
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

std::optional<int> RecorderProcess::runToExit(int milliseconds)
{
    launch();
    if (!m_process.waitForStarted() || !waitForExit(milliseconds))
        return std::nullopt;
    if (m_process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process.exitCode();
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
