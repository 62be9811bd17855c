#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <QThread>
#include <memory>

// A stand-in for systemd's manager object (org.freedesktop.systemd1 at
// /org/freedesktop/systemd1) on a given bus. It answers GetUnitFileState,
// EnableUnitFiles, DisableUnitFiles, StartUnit, StopUnit and
// StartTransientUnit from a small model of unit files and loaded and active
// units (a stopped unit stays loaded until collected), and
// records every call with the unit it names. It serves
// from a thread of its own, so that the test's thread may block on a call.
class FakeSystemd
{
public:
    struct Call
    {
        QString method;
        QString unit; // the first unit named
        bool interactiveAuthorisation = false;
        QVariantMap properties; // of a transient unit
    };

    explicit FakeSystemd(const QString &busAddress);
    ~FakeSystemd();

    bool isServing() const;

    // The unit file's state as GetUnitFileState answers it; a unit without
    // a state has no unit file.
    void setUnitFileState(const QString &unit, const QString &state);
    bool isActive(const QString &unit) const;
    // Unloads the stopped units, as systemd does some time after the stop.
    void collectStoppedUnits();
    // The next call of the method fails with this D-Bus error.
    void failNext(const QString &method, const QString &errorName, const QString &message);

    QList<Call> calls() const;
    QList<Call> calls(const QString &method) const;

private:
    class Object;
    friend class Object;

    mutable QMutex m_mutex;
    QHash<QString, QString> m_unitFiles;
    QSet<QString> m_loaded;
    QSet<QString> m_active;
    QHash<QString, QPair<QString, QString>> m_failures;
    QList<Call> m_calls;

    QThread m_thread;
    std::unique_ptr<Object> m_object;
    QString m_connectionName;
    bool m_serving = false;
};
