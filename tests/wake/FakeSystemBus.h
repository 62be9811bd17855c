#pragma once

#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QThread>
#include <QVariantMap>
#include <memory>

// A dbus-daemon of the test's own with stand-ins for systemd's manager (a
// model of unit files and of loaded and active units, where a stopped unit
// stays loaded; every call recorded) and logind's (an Inhibit lock is the
// read end of a pipe, or refused, or never answered), served from a thread of
// their own so that the test's thread may block on a call.
class FakeSystemBus
{
    template <typename F> auto locked(F f) const
    {
        QMutexLocker locker(&m_mutex);
        return f();
    }

public:
    struct Call
    {
        QString method;
        QString unit; // the first unit named
        bool interactiveAuthorisation = false;
        QVariantMap properties; // of a transient unit; its calendar as "BASE EXPRESSION"
    };
    enum class Inhibit { Grant, Refuse, Silence };

    FakeSystemBus();
    ~FakeSystemBus();

    // Empty unless both stand-ins serve.
    QString address() const { return m_serving ? m_address : QString(); }
    // A unit without a state has no unit file.
    void setUnitFileState(const QString &unit, const QString &state) { locked([&] { m_unitFiles[unit] = state; }); }
    bool isActive(const QString &unit) const { return locked([&] { return m_active.contains(unit); }); }
    // The next call of the method is refused: "Access denied".
    void refuseNext(const QString &method) { locked([&] { m_refused.insert(method); }); }
    void answerInhibitWith(Inhibit answer) { locked([&] { m_inhibit = answer; }); }
    // The calls of the method, or all calls.
    QList<Call> calls(const QString &method = {}) const
    {
        QList<Call> found = locked([&] { return m_calls; });
        found.removeIf([&](const Call &call) { return !method.isEmpty() && call.method != method; });
        return found;
    }
    // Whether the client still holds the last lock granted.
    bool lockHeld() const;
    void sendPrepareForSleep(bool starting);

private:
    class Object;

    mutable QMutex m_mutex;
    QHash<QString, QString> m_unitFiles;
    QSet<QString> m_loaded;
    QSet<QString> m_active;
    QSet<QString> m_refused;
    QList<Call> m_calls;
    Inhibit m_inhibit = Inhibit::Grant;
    int m_lockWriteEnd = -1;

    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    std::unique_ptr<Object> m_object;
    QString m_connectionName;
    bool m_serving = false;
};
