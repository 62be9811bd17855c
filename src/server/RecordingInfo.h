#pragma once

#include "Recording.h"

#include <QJsonObject>

class JSONEncoder;

// What the API tells about one recording: the recording without its stream
// address, user agent and file name, plus whether it can be played and the
// path to play it from.
struct RecordingInfo
{
    Recording recording;

    static RecordingInfo from(const Recording &recording) { return {recording}; }

    // "/recordings/" + the id in upper case + ".ts".
    static QString videoPath(const QUuid &id);

    QJsonObject toJSON(const JSONEncoder &encoder) const;
};
