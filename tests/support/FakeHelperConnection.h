#pragma once

#include "WakeHelperConnection.h"

#include <QList>
#include <QString>
#include <functional>
#include <utility>

// What the fake helper connections of one test were asked, in order.
struct HelperCalls
{
    struct Call
    {
        QString method; // "schedule" or "cancel"
        qint64 seconds;
        bool operator==(const Call &other) const = default;
    };

    QList<Call> calls;
    int connectionsMade = 0;
    int invalidations = 0;
    // The helper's verdict on a schedule request.
    std::function<bool(qint64 seconds)> accepts = [](qint64) { return true; };
    // Whether messages fail to reach the helper.
    bool unreachable = false;
    // Whether answers wait for answerAll() (or for ever).
    bool deferAnswers = false;
    QList<std::function<void()>> heldAnswers;

    void answerAll()
    {
        for (const auto &answer : std::exchange(heldAnswers, {}))
            answer();
    }

    QList<qint64> seconds(const QString &method) const
    {
        QList<qint64> found;
        for (const Call &call : calls) {
            if (call.method == method)
                found.append(call.seconds);
        }
        std::sort(found.begin(), found.end());
        return found;
    }
};

// A helper connection that records every message and answers at once, or
// when the test says so.
class FakeHelperConnection : public WakeHelperConnection
{
    Q_OBJECT

public:
    FakeHelperConnection(HelperCalls &log, QObject *parent) : WakeHelperConnection(parent), m_log(log)
    {
        ++m_log.connectionsMade;
    }

    void scheduleWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) override
    {
        call(QStringLiteral("schedule"), date.toSecsSinceEpoch(), std::move(reply), std::move(onError));
    }
    void cancelWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) override
    {
        call(QStringLiteral("cancel"), date.toSecsSinceEpoch(), std::move(reply), std::move(onError));
    }

    void invalidate() override { ++m_log.invalidations; }

    // The helper went away.
    void breakDown()
    {
        emit invalidated();
        deleteLater();
    }

private:
    // A cancellation is always accepted; the answer waits when the test says so.
    void call(const QString &method, qint64 seconds, Reply reply, ErrorHandler onError)
    {
        m_log.calls.append({method, seconds});
        if (m_log.unreachable)
            return onError(QStringLiteral("no helper here"));
        const bool accepted = method == QStringLiteral("cancel") || m_log.accepts(seconds);
        if (m_log.deferAnswers)
            m_log.heldAnswers.append([reply, accepted] { reply(accepted); });
        else
            reply(accepted);
    }

    HelperCalls &m_log;
};
