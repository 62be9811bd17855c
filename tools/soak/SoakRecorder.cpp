#include "SoakRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <csignal>
#include <unistd.h>

SoakRecorder::SoakRecorder(const QString &program)
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
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(program);
    m_process.setArguments({QStringLiteral("--headless")});
    // The recorder's own lines go straight to the terminal.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SoakRecorder::~SoakRecorder()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool SoakRecorder::start()
{
    m_process.start();
    return m_process.waitForStarted();
}

void SoakRecorder::terminate()
{
    ::kill(pid_t(m_process.processId()), SIGTERM);
}

bool SoakRecorder::waitForExit(int milliseconds)
{
    return m_process.waitForFinished(milliseconds);
}

int SoakRecorder::openFiles() const
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(m_process.processId()))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

int SoakRecorder::openSockets() const
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(m_process.processId()));
    int sockets = 0;
    for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        // The raw link text names sockets as "socket:[inode]".
        const QByteArray link = QFile::encodeName(fd.filePath());
        char target[256] = {};
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0 && QByteArray(target, int(length)).startsWith("socket:"))
            ++sockets;
    }
    return sockets;
}

QString SoakRecorder::statusField(const char *name) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return QString::fromLatin1(line.mid(qstrlen(name))).trimmed();
    }
    return {};
}

qint64 SoakRecorder::residentKiB() const
{
    return statusField("VmRSS:").split(QLatin1Char(' ')).value(0).toLongLong();
}

int SoakRecorder::threads() const
{
    return statusField("Threads:").toInt();
}
