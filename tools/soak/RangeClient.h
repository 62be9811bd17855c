#pragma once

#include "SoakTarget.h"

#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <functional>
#include <optional>

// A viewer of recordings that are still being written: asks for random byte
// ranges of /recordings/ID.ts one after the other, checks every byte it
// receives against the stream, and now and then hangs up halfway.
class RangeClient : public QObject
{
    Q_OBJECT

public:
    struct Figures
    {
        qint64 requests = 0;
        qint64 verified = 0;
        qint64 hungUp = 0;
        qint64 bytes = 0;
        qint64 failures = 0;
        QStringList problems; // the first few, for the report
    };

    using Pick = std::function<std::optional<SoakTarget>()>;

    RangeClient(quint16 port, Pick pick, Figures &figures, QObject *parent = nullptr);

    void start();
    // No new request after the current one; busy() tells when it is over.
    void stop() { m_stopping = true; }
    bool busy() const { return m_busy; }

private:
    void next();
    void problem(const QString &text);

    quint16 m_port;
    Pick m_pick;
    Figures &m_figures;
    QRandomGenerator m_random;
    bool m_stopping = false;
    bool m_busy = false;
};
