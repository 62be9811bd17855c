#include "RecorderClaim.h"

#include "RecordingsFolderLock.h"
#include "SingleInstance.h"

#include <QDebug>
#include <QDir>

namespace {

QString process(qint64 pid)
{
    return pid > 0 ? QStringLiteral("process %1").arg(pid) : QStringLiteral("another process");
}

LaunchRefusal runningCopy(SingleInstance &instance, bool headless, qint64 pid)
{
    if (headless) {
        return {1, QStringLiteral("Tivolux Recorder is already running for this user (%1); this copy exits without "
                                  "recording.").arg(process(pid)), {}, {}};
    }
    switch (instance.askToShow()) {
    case SingleInstance::HandOver::Shown:
        return {0, {}, {}, {}};
    case SingleInstance::HandOver::RunningHeadless:
        return {1,
                QStringLiteral("Tivolux Recorder is already running without a window (%1); this copy exits.")
                    .arg(process(pid)),
                QStringLiteral("Tivolux Recorder is already running as a service."),
                QStringLiteral("It records without a window (%1). To use the window, stop the service first, "
                               "for example with “systemctl --user stop tivolux-recorder.service”.")
                    .arg(process(pid))};
    case SingleInstance::HandOver::NoAnswer:
        break;
    }
    return {1,
            QStringLiteral("Tivolux Recorder is already running (%1) but does not answer; this copy exits.")
                .arg(process(pid)),
            QStringLiteral("Tivolux Recorder is already running."),
            QStringLiteral("The running copy (%1) did not show its window. Quit it, or end it if it no longer "
                           "responds, then open Tivolux Recorder again.")
                .arg(process(pid))};
}

LaunchRefusal folderOwned(bool headless, const QString &folder, qint64 pid)
{
    const QString path = QDir::toNativeSeparators(folder);
    LaunchRefusal refusal{
        1,
        QStringLiteral("Another recorder (%1) records into %2; this copy exits without recording.")
            .arg(process(pid), path),
        {}, {}};
    if (!headless) {
        refusal.alert = QStringLiteral("The recordings folder is in use by another recorder.");
        refusal.alertDetail = QStringLiteral("%1 belongs to another recorder (%2). Quit that recorder, then open "
                                             "Tivolux Recorder again.")
                                  .arg(path, process(pid));
    }
    return refusal;
}

} // namespace

std::optional<LaunchRefusal> claimRecorder(SingleInstance &instance, bool headless, const QString &folder)
{
    const ExclusiveLock::Result user = instance.claim();
    if (const auto *held = std::get_if<ExclusiveLock::HeldElsewhere>(&user))
        return runningCopy(instance, headless, held->pid);
    if (const auto *failed = std::get_if<ExclusiveLock::Failed>(&user))
        qWarning().noquote() << "Cannot make sure that only one recorder runs for this user:" << failed->error;

    const ExclusiveLock::Result owned = RecordingsFolderLock::shared().moveTo(folder);
    if (const auto *held = std::get_if<ExclusiveLock::HeldElsewhere>(&owned))
        return folderOwned(headless, folder, held->pid);
    if (const auto *failed = std::get_if<ExclusiveLock::Failed>(&owned))
        qWarning().noquote() << "Cannot lock the recordings folder" << folder << "-" << failed->error;
    return std::nullopt;
}
