#pragma once

#include <QProcess>
#include <QString>

// A D-Bus daemon of the test's own (dbus-daemon with the session
// configuration), ended with the object.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();

    // Empty when no daemon could be started.
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};
