#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

// A client connection to the privileged wake helper, which offers two
// messages: schedule a wake at a date, cancel a wake at a date. Each message
// ends in exactly one of its reply (the helper's verdict) or its error
// handler (the message could not be delivered or answered). A connection
// that has failed or been invalidated stays unusable: every later message
// goes to its error handler. After invalidated() the connection deletes
// itself.
class WakeHelperConnection : public QObject
{
    Q_OBJECT

public:
    using Reply = std::function<void(bool accepted)>;
    using ErrorHandler = std::function<void(const QString &description)>;

    using QObject::QObject;

    virtual void scheduleWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) = 0;
    virtual void cancelWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) = 0;
    // Ends the connection on the application's request: messages already
    // sent still reach the helper, their answers are dropped, and
    // invalidated() is not emitted.
    virtual void invalidate() = 0;

signals:
    // The helper went away or the connection broke.
    void invalidated();
};
