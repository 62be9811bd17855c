#pragma once

#include <QObject>
#include <chrono>

// How long the process lives on after telling running recorders to stop, so
// that they can close their files and the index can record their end.
inline constexpr std::chrono::milliseconds kQuitDelay{1500};

// Creates the shared services in launch order and applies the quit rule.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(bool headless, std::chrono::milliseconds quitDelay = kQuitDelay,
                         QObject *parent = nullptr);

    void applicationDidFinishLaunching();

    // The quit rule: with nothing recording the process ends at once;
    // otherwise running recorders are told to stop and the process ends
    // after the quit delay. Headless, no confirmation is asked.
    void applicationShouldTerminate();

private:
    void startServer();
    void announce(const QString &folder);

    bool m_headless;
    std::chrono::milliseconds m_quitDelay;
    bool m_stopping = false;
};
