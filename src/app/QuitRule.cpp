#include "QuitRule.h"

#include "RecordingManager.h"

#include <QCoreApplication>

QuitRule::QuitRule(std::function<void()> terminate, std::chrono::milliseconds delay)
    : m_terminate(std::move(terminate))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(delay);
    QObject::connect(&m_delay, &QTimer::timeout, [this] { this->terminate(); });
}

void QuitRule::quit(RecordingManager &manager, const std::function<bool(int)> &confirm)
{
    apply(manager, confirm, false);
}

void QuitRule::quitSavingAtOnce(RecordingManager &manager)
{
    apply(manager, {}, true);
}

void QuitRule::apply(RecordingManager &manager, const std::function<bool(int)> &confirm, bool saveAtOnce)
{
    if (m_stopping)
        return;
    const int running = manager.runningCount();
    if (running == 0) {
        terminate();
        return;
    }
    if (confirm && !confirm(running))
        return;
    m_stopping = true;
    if (saveAtOnce)
        manager.stopAllAndSave();
    else
        manager.stopAll();
    // The recorders are not waited for; what they wrote stays on disk.
    m_delay.start();
}

void QuitRule::terminate()
{
    if (m_terminate)
        m_terminate();
    else
        QCoreApplication::quit();
}
