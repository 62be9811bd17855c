#pragma once

#include <QJsonArray>
#include <QObject>
#include <QTimer>
#include <functional>

// Calls the API every 100 ms, as a TV app's screens would: mostly the list of
// recordings, now and then the recorder's info. Counts how each call went.
class APIPoller : public QObject
{
    Q_OBJECT

public:
    struct Figures
    {
        qint64 calls = 0;
        qint64 failures = 0;
        qint64 slowestMilliseconds = 0;
        qint64 totalMilliseconds = 0;
    };

    APIPoller(quint16 port, std::function<void(const QJsonArray &)> listed, Figures &figures,
              QObject *parent = nullptr);

    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    bool busy() const { return m_pending > 0; }

private:
    void call();

    quint16 m_port;
    std::function<void(const QJsonArray &)> m_listed;
    Figures &m_figures;
    QTimer m_timer;
    qint64 m_count = 0;
    int m_pending = 0;
};
