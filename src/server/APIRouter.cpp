#include "APIRouter.h"

#include "APIResponses.h"
#include "ExtendRequest.h"
#include "HTTPRequest.h"
#include "HTTPResponder.h"
#include "JSONCoding.h"
#include "OriginRule.h"
#include "RecorderInfo.h"
#include "RecorderStatus.h"
#include "RecordingInfo.h"
#include "RecordingManager.h"
#include "RecordingServer.h"
#include "RecordingsFolder.h"

#include <QFile>

using namespace APIResponses;

namespace {

const QString kInvalidRequest = QStringLiteral("Invalid request.");
const QString kFromWebPage = QStringLiteral("Requests from web pages are not accepted.");
const QString kVideoSuffix = QStringLiteral(".ts");
const QString kPageResource = QStringLiteral(":/page/index.html");

bool is(const QStringList &segments, std::initializer_list<const char *> expected)
{
    if (segments.size() != qsizetype(expected.size()))
        return false;
    qsizetype i = 0;
    for (const char *text : expected) {
        // An empty entry stands for any segment (an id).
        if (*text && segments.at(i) != QLatin1String(text))
            return false;
        ++i;
    }
    return true;
}

void sendRecording(const HTTPResponder &responder, const Recording &recording, const QByteArray &status)
{
    sendJSON(responder, RecordingInfo::from(recording).toJSON(sharedJSONEncoder()), status);
}

} // namespace

APIRouter::APIRouter(RecordingManager *manager, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
{
}

RecordingManager &APIRouter::manager() const
{
    return m_manager ? *m_manager : RecordingManager::shared();
}

std::optional<QUuid> APIRouter::parseID(const QString &text)
{
    return uuidFromCanonicalText(text);
}

APIRoute APIRouter::match(const QString &method, const QStringList &segments)
{
    using Kind = APIRoute::Kind;
    const bool get = method == QLatin1String("GET");
    const bool post = method == QLatin1String("POST");
    if ((get || method == QLatin1String("HEAD")) && segments.isEmpty())
        return {Kind::Page, {}, !get};
    if (get && is(segments, {"api", "status"}))
        return {Kind::Status, {}};
    if (get && is(segments, {"api", "info"}))
        return {Kind::Info, {}};
    if (get && is(segments, {"api", "recordings"}))
        return {Kind::List, {}};
    if (post && is(segments, {"api", "recordings"}))
        return {Kind::Schedule, {}};
    if (post && is(segments, {"api", "recordings", "", "extend"}))
        return {Kind::Extend, segments.at(2)};
    if (post && is(segments, {"api", "recordings", "", "stop"}))
        return {Kind::Stop, segments.at(2)};
    if (method == QLatin1String("DELETE") && is(segments, {"api", "recordings", ""}))
        return {Kind::Delete, segments.at(2)};
    if ((get || method == QLatin1String("HEAD")) && is(segments, {"recordings", ""})
        && segments.at(1).endsWith(kVideoSuffix))
        return {Kind::Play, segments.at(1), !get};
    return {};
}

void APIRouter::route(const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder)
{
    if (!OriginRule::accepts(request)) {
        sendError(responder, kFromWebPage, "403 Forbidden");
        return;
    }
    APIRoute route = match(request.method, segments);
    // The page has one address; a path that decoded to nothing is not it.
    if (route.kind == APIRoute::Kind::Page && request.path != QLatin1String("/"))
        route = {};
    switch (route.kind) {
    case APIRoute::Kind::Info: sendInfo(responder); break;
    case APIRoute::Kind::List: sendList(responder); break;
    case APIRoute::Kind::Page: sendPage(route.headOnly, responder); break;
    case APIRoute::Kind::Status: sendStatus(responder); break;
    case APIRoute::Kind::Schedule: schedule(request, responder); break;
    case APIRoute::Kind::Extend: extend(route.target, request, responder); break;
    case APIRoute::Kind::Stop: stopOrDelete(route.target, false, responder); break;
    case APIRoute::Kind::Delete: stopOrDelete(route.target, true, responder); break;
    case APIRoute::Kind::Play: serveRecording(route.target, route.headOnly, request, responder); break;
    case APIRoute::Kind::NotFound: sendNotFound(responder); break;
    }
}

void APIRouter::sendInfo(const HTTPResponder &responder)
{
    sendJSON(responder, RecorderInfo::current().toJSON(), "200 OK");
}

void APIRouter::sendList(const HTTPResponder &responder)
{
    sendJSONData(responder, m_list.encode(manager().recordings()), "200 OK");
}

void APIRouter::sendPage(bool headOnly, const HTTPResponder &responder)
{
    // Read once: the page is part of the program and never changes.
    static const QByteArray page = [] {
        QFile file(kPageResource);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    responder.send("200 OK", "text/html; charset=utf-8", page, headOnly);
}

void APIRouter::sendStatus(const HTTPResponder &responder)
{
    const RecorderStatus status = RecorderStatus::make(RecordingServer::localIPv4Address(),
                                                       manager().recordingsFolderURL(), manager().recordings(),
                                                       QDateTime::currentDateTimeUtc());
    sendJSON(responder, status.toJSON(), "200 OK");
}

void APIRouter::schedule(const HTTPRequest &request, const HTTPResponder &responder)
{
    const auto decoded = sharedJSONDecoder().decodeRequest(request.body);
    if (!decoded) {
        sendError(responder, kInvalidRequest);
        return;
    }
    const auto result = manager().schedule(*decoded);
    if (const auto *error = std::get_if<RecorderError>(&result))
        sendError(responder, error->message);
    else
        sendRecording(responder, std::get<Recording>(result), "201 Created");
}

void APIRouter::extend(const QString &idText, const HTTPRequest &request, const HTTPResponder &responder)
{
    // The recording must exist before the body is looked at.
    const auto id = parseID(idText);
    if (!id || !manager().recording(*id)) {
        sendNotFound(responder);
        return;
    }
    const auto decoded = ExtendRequest::decode(request.body);
    if (!decoded) {
        sendError(responder, kInvalidRequest);
        return;
    }
    const auto result = manager().extend(*id, decoded->minutes);
    if (const auto *error = std::get_if<RecorderError>(&result))
        sendError(responder, error->message);
    else
        sendRecording(responder, std::get<Recording>(result), "200 OK");
}

void APIRouter::stopOrDelete(const QString &idText, bool deleting, const HTTPResponder &responder)
{
    const auto id = parseID(idText);
    if (!id || !manager().recording(*id)) {
        sendNotFound(responder);
        return;
    }
    if (deleting)
        manager().deleteRecording(*id);
    else
        manager().stop(*id);
    sendNoContent(responder);
}

void APIRouter::serveRecording(const QString &fileSegment, bool headOnly, const HTTPRequest &request,
                               const HTTPResponder &responder)
{
    const auto id = parseID(fileSegment.chopped(kVideoSuffix.size()));
    const auto recording = id ? manager().recording(*id) : std::nullopt;
    if (!recording) {
        sendNotFound(responder);
        return;
    }
    // A file name that is not a plain name inside the folder is treated as
    // a missing file: nothing outside the folder is ever read.
    const auto path = recordingFilePath(manager().recordingsFolderURL(), recording->fileName);
    responder.serveFile(path, request.header(QStringLiteral("range")), headOnly);
}
