#pragma once

#include "ProviderConnections.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <functional>

class QNetworkReply;
class QTimer;

// One account query in flight. Lives in the thread of the object it answers
// to, as that object's child, so that the answer is delivered there and never
// after that object is gone. Has its own network client: Qt serves at most six
// requests per host and client at a time, and a shared client would let this
// check wait behind long-running requests to the same provider.
class ProviderLimitCheck : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const ProviderConnections::LimitAnswer &)>;

    ProviderLimitCheck(const QUrl &url, const QString &userAgent, qint64 recentStarts,
                       const ProviderConnections::Timing &timing, Done done, QObject *context);
    ~ProviderLimitCheck() override;

    void start();

private:
    void handleReply();
    void bodyReceived();
    void finishWith(const ProviderConnections::LimitAnswer &answer);
    void dropReply();

    QUrl m_url;
    QString m_userAgent;
    qint64 m_recentStarts;
    ProviderConnections::Timing m_timing;
    Done m_done;
    QNetworkAccessManager m_network;
    QNetworkReply *m_reply = nullptr;
    // Ends the check when the answer takes too long as a whole; the client's
    // own timeout only counts silence, and a provider that keeps sending
    // would never reach it.
    QTimer *m_deadline = nullptr;
};
