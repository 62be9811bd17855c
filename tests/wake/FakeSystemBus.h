#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVariantMap>
#include <memory>

// A D-Bus daemon of the test's own (dbus-daemon with the session
// configuration) with stand-ins for two system services on it, served from a
// thread of their own so that the test's thread may block on a call:
// - systemd's manager (org.freedesktop.systemd1) answers GetUnitFileState,
//   EnableUnitFiles, DisableUnitFiles, StartUnit, StopUnit and
//   StartTransientUnit from a small model of unit files and of loaded and
//   active units (a stopped unit stays loaded until collected), and records
//   every call with the unit it names;
// - logind's manager (org.freedesktop.login1) grants an Inhibit lock (the
//   read end of a pipe, held for as long as the client keeps it open),
//   refuses it or never answers, and sends PrepareForSleep.
class FakeSystemBus
{
public:
    struct Call
    {
        QString method;
        QString unit; // the first unit named
        bool interactiveAuthorisation = false;
        QVariantMap properties; // of a transient unit
    };
    enum class Inhibit { Grant, Refuse, Silence };

    FakeSystemBus();
    ~FakeSystemBus();

    // Empty unless the daemon runs and both stand-ins serve on it.
    QString address() const { return m_serving ? m_address : QString(); }

    // The unit file's state as GetUnitFileState answers it; a unit without
    // a state has no unit file.
    void setUnitFileState(const QString &unit, const QString &state);
    bool isActive(const QString &unit) const;
    // Unloads the stopped units, as systemd does some time after the stop.
    void collectStoppedUnits();
    // The next call of the method fails with this D-Bus error.
    void failNext(const QString &method, const QString &errorName, const QString &message);
    // The calls of the method, or all calls.
    QList<Call> calls(const QString &method = {}) const;

    void answerInhibitWith(Inhibit answer);
    int inhibitCalls() const;
    // Whether the client still holds the last lock granted.
    bool lockHeld() const;
    void sendPrepareForSleep(bool starting);

private:
    class Object;
    friend class Object;

    mutable QMutex m_mutex;
    QHash<QString, QString> m_unitFiles;
    QSet<QString> m_loaded;
    QSet<QString> m_active;
    QHash<QString, QPair<QString, QString>> m_failures;
    QList<Call> m_calls;
    Inhibit m_inhibit = Inhibit::Grant;
    int m_inhibitCalls = 0;
    int m_lockWriteEnd = -1;

    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    std::unique_ptr<Object> m_object;
    QString m_connectionName;
    bool m_serving = false;
};
