#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <memory>

// A stand-in for logind's manager object (org.freedesktop.login1 at
// /org/freedesktop/login1) on a given bus. Inhibit grants a lock (the read
// end of a pipe, held for as long as the client keeps it open), refuses, or
// never answers; PrepareForSleep can be sent. It serves from a thread of its
// own.
class FakeLogind
{
public:
    enum class Answer { Grant, Refuse, Silence };

    explicit FakeLogind(const QString &busAddress);
    ~FakeLogind();

    bool isServing() const { return m_serving; }
    void answerWith(Answer answer);
    int inhibitCalls() const;
    // Whether the client still holds the last lock granted.
    bool lockHeld() const;
    void sendPrepareForSleep(bool starting);

private:
    class Object;
    friend class Object;

    mutable QMutex m_mutex;
    Answer m_answer = Answer::Grant;
    int m_inhibitCalls = 0;
    int m_lockWriteEnd = -1;

    QThread m_thread;
    std::unique_ptr<Object> m_object;
    QString m_connectionName;
    bool m_serving = false;
};
