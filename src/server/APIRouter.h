#pragma once

#include "RecordingListDocument.h"

#include <QObject>
#include <QStringList>
#include <QUuid>
#include <optional>

class HTTPResponder;
class RecordingManager;
struct HTTPRequest;

// Which route a request's method and path segments name, and the segment
// the route acts on (an id, or the recording's file name).
struct APIRoute
{
    enum class Kind { NotFound, Info, List, Schedule, Extend, Stop, Delete, Play, Page, Status };

    Kind kind = Kind::NotFound;
    QString target;
    bool headOnly = false;
};

// The API of the recorder, on the main thread: matches each request against
// the routes, calls the recording manager and answers through the
// responder. The one place where the manager's refusals become HTTP answers.
class APIRouter : public QObject
{
    Q_OBJECT

public:
    // Without a manager, the shared one is used, looked up per request so
    // that the router can exist before the manager does.
    explicit APIRouter(RecordingManager *manager = nullptr, QObject *parent = nullptr);

    void route(const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder);

    // Matching alone, without acting on the request.
    static APIRoute match(const QString &method, const QStringList &segments);

    // The id of a path segment in either letter case, hyphenated, no braces.
    static std::optional<QUuid> parseID(const QString &text);

private:
    RecordingManager &manager() const;
    void sendInfo(const HTTPResponder &responder);
    void sendList(const HTTPResponder &responder);
    void sendPage(bool headOnly, const HTTPResponder &responder);
    void sendStatus(const HTTPResponder &responder);
    void schedule(const HTTPRequest &request, const HTTPResponder &responder);
    void extend(const QString &idText, const HTTPRequest &request, const HTTPResponder &responder);
    void stopOrDelete(const QString &idText, bool deleting, const HTTPResponder &responder);
    void serveRecording(const QString &fileSegment, bool headOnly, const HTTPRequest &request,
                        const HTTPResponder &responder);

    RecordingManager *m_manager;
    RecordingListDocument m_list;
};
