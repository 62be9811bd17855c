#pragma once

#include "APIPoller.h"
#include "HTTPExchange.h"
#include "RangeClient.h"
#include "RecorderProcess.h"
#include "SoakProvider.h"
#include "SoakTarget.h"

#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// One soak of the real recorder: many recordings from a provider that drops
// and refuses, many viewers seeking in the growing files, the API asked all
// the time; afterwards every file is compared with the streams byte for byte
// and the recorder's descriptors and memory with what it had before.
class SoakRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString recorderProgram;
        int seconds = 600;
        int recordings = 20;
        int clients = 50;
    };

    explicit SoakRun(Options options, QObject *parent = nullptr);
    ~SoakRun() override;

    // Runs the soak, prints its figures; answers the process exit code.
    int run();

private:
    struct Sample
    {
        int files = 0;
        int sockets = 0;
        qint64 residentKiB = 0;
        int threads = 0;
    };

    bool runUntil(const std::function<bool()> &done, int milliseconds);
    std::optional<HTTPExchange::Reply> call(const QByteArray &method, const QByteArray &path,
                                            const QByteArray &body = {}, int timeoutMilliseconds = 10000);
    bool scheduleAll();
    void noteListing(const QJsonArray &list);
    std::optional<SoakTarget> pick();
    bool stopAll();
    bool verifyFiles();
    Sample sample() const;
    void progress(qint64 elapsedSeconds);
    void check(bool condition, const QString &failure);

    static constexpr quint16 kPort = 8642;

    Options m_options;
    std::unique_ptr<SoakProvider> m_provider;
    std::unique_ptr<RecorderProcess> m_recorder;
    std::unique_ptr<APIPoller> m_poller;
    QList<RangeClient *> m_clients;
    QList<SoakTarget> m_targets;
    APIPoller::Figures m_apiFigures;
    RangeClient::Figures m_rangeFigures;
    QRandomGenerator m_random;
    int m_mostRecordingAtOnce = 0;
    QStringList m_failures;
};
