#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class QJsonValue;
class QObject;

// How long the whole account query may take, however the provider sends its
// answer, before it counts as failed (and the recording goes ahead).
inline constexpr std::chrono::milliseconds kProviderQueryDeadline{10000};
// The largest answer the account query reads. A real answer is a few hundred
// bytes; a provider that sends more is not answering the query, and holding
// all of it would let it fill the memory.
inline constexpr qint64 kLargestProviderAnswer = 64 * 1024;

// Provider accounts behind stream addresses, and the advisory question whether
// an account still has a free connection. Holds no state but its timing.
class ProviderConnections
{
public:
    struct Account
    {
        QUrl base; // scheme, host and port only
        QString username;
        QString password;

        friend bool operator==(const Account &, const Account &) = default;
        friend size_t qHash(const Account &account, size_t seed = 0) noexcept
        {
            return qHashMulti(seed, account.base, account.username, account.password);
        }
    };

    // Either go ahead, or full: inUse connections counted against limit.
    struct LimitAnswer
    {
        bool full = false;
        qint64 inUse = 0;
        qint64 limit = 0;

        static LimitAnswer goAhead() { return {}; }
        static LimitAnswer fullWith(qint64 inUse, qint64 limit) { return {true, inUse, limit}; }
        friend bool operator==(const LimitAnswer &, const LimitAnswer &) = default;
    };

    struct Timing
    {
        std::chrono::milliseconds queryDeadline = kProviderQueryDeadline;
        qint64 maximumAnswerSize = kLargestProviderAnswer;
    };

    ProviderConnections();
    explicit ProviderConnections(Timing timing);

    // The account named by a stream address of the form
    // scheme://host[:port][/live]/USER/PASS/ID[.ext] with a numeric ID and no
    // query; none for any other address.
    static std::optional<Account> account(const QUrl &streamURL);

    // The key under which starts on one account are counted:
    // the base address, "|", the user name.
    static QString accountKey(const Account &account);

    // A count as providers send it: a number (cut toward zero), a boolean
    // (1 or 0), or a string of an optional sign and digits, blanks and tabs
    // around it allowed. None for anything else or a value out of range.
    static std::optional<qint64> parseCount(const QJsonValue &value);

    // The address of the account query, user name and password encoded so
    // that no character of theirs can change the query's structure; an
    // invalid address when none can be built.
    static QUrl accountQueryURL(const Account &account);

    // The answer for the body of an account query, with the connections this
    // program started recently counted on top of the provider's figure.
    // Anything unexpected in the body answers go ahead.
    static LimitAnswer limitAnswer(const QByteArray &body, qint64 recentStarts);

    // Asks the provider about the account and calls done once with the answer
    // on the thread of context; never when context is destroyed first. Every
    // failure (no address, network error, deadline passed, answer too large,
    // unreadable answer) answers go ahead. Each check uses its own network
    // client, so it never queues behind the requests of another check or of a
    // recording. May be called
    // from any thread; context must then outlive the call itself.
    void checkLimit(const Account &account, const QString &userAgent, qint64 recentStarts, QObject *context,
                    std::function<void(const LimitAnswer &)> done) const;

private:
    Timing m_timing;
};
