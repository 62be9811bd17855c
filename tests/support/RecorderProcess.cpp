#include "RecorderProcess.h"

#include "APIClient.h"

#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>

#include <sys/resource.h>

using namespace std::chrono_literals;
using testsupport::waitUntil;

RecorderProcess::RecorderProcess(const QString &program)
    : RecorderProcess(std::make_shared<QTemporaryDir>(), program)
{
    QDir().mkpath(m_folder);
    useFolder(m_folder);
    // The user's runtime folder, as a session makes it: only the user may enter it.
    const QString runtime = m_home->filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

RecorderProcess::RecorderProcess(std::shared_ptr<QTemporaryDir> home, const QString &program)
    : m_home(std::move(home))
    , m_folder(m_home->filePath(QStringLiteral("recordings")))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home->filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(program);
    m_process.setArguments({QStringLiteral("--headless")});
}

RecorderProcess::~RecorderProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

std::unique_ptr<RecorderProcess> RecorderProcess::sameUser() const
{
    std::unique_ptr<RecorderProcess> other(new RecorderProcess(m_home, m_process.program()));
    other->m_process.setProcessEnvironment(m_process.processEnvironment());
    other->m_process.setArguments(m_process.arguments());
    other->m_folder = m_folder;
    other->m_port = m_port;
    return other;
}

void RecorderProcess::useFolder(const QString &folder)
{
    m_folder = folder;
    QSettings settings(m_home->filePath(QStringLiteral("config/Tivolux/TivoluxRecorder.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("recorder.folderPath"), m_folder);
}

void RecorderProcess::setEnvironment(const QString &name, const QString &value)
{
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(name, value);
    m_process.setProcessEnvironment(env);
}

void RecorderProcess::runOnDesktop(const QString &display)
{
    // The program chooses the desktop when a display is named.
    setEnvironment(QStringLiteral("DISPLAY"), display.isEmpty() ? QStringLiteral(":tivolux-test") : display);
    setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
    m_process.setArguments({});
}

void RecorderProcess::useTestPort()
{
    QTcpServer probe;
    m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    setEnvironment(QStringLiteral("TIVOLUX_RECORDER_TEST_PORT"), QString::number(m_port));
}

bool RecorderProcess::launch()
{
    m_process.setChildProcessModifier([fileSize = fileSizeLimit, files = openFileLimit] {
        // Past the size limit a write fails with EFBIG instead of ending the
        // process with SIGXFSZ; these settings survive the exec.
        if (fileSize >= 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{rlim_t(fileSize), rlim_t(fileSize)};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        if (files.first >= 0) {
            const rlimit open{rlim_t(files.first), rlim_t(files.second)};
            ::setrlimit(RLIMIT_NOFILE, &open);
        }
    });
    m_process.start();
    return m_process.waitForStarted();
}

bool RecorderProcess::start(bool waitForAPI)
{
    // The caught-signals mask in /proc names the program's own SIGTERM handler.
    const auto catchesTerm = [this] {
        const QByteArray status = testsupport::readFile(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        const qsizetype at = status.indexOf("SigCgt:") + 7;
        return at > 6 && (status.mid(at, 17).trimmed().toULongLong(nullptr, 16) & (quint64(1) << (SIGTERM - 1)));
    };
    // The API is up once it answers a request. An answer counts once the server has closed the connection, so
    // that the request no longer holds one of the server's connection slots when the caller goes on.
    const auto answers = [this] { return apiRequest(m_port, "GET", "/api/info", {}, 1s).has_value(); };
    return launch() && waitUntil(catchesTerm) && (!waitForAPI || waitUntil(answers));
}

std::optional<int> RecorderProcess::runToExit()
{
    if (!launch() || !waitForExit() || m_process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process.exitCode();
}

bool RecorderProcess::endsCleanlyOn(int signal)
{
    kill(signal);
    return waitForExit() && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
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
