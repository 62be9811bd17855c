#pragma once

#include "Recording.h"

#include <QList>
#include <QString>
#include <optional>

// Reads "recordings.json" from the folder and repairs what a restart leaves
// behind: a recording found running becomes interrupted, and every recording
// past its waiting states takes its byte count from its file. A missing or
// undecodable index reads as an empty list; an undecodable one is first kept
// beside the index under a new name so the next save cannot destroy it.
QList<Recording> readIndex(const QString &folder);

// Writes the list atomically into the folder, creating the folder first.
// Answers the error's text on failure.
std::optional<QString> writeIndex(const QString &folder, const QList<Recording> &recordings);

// The size of a recording's file on disk, 0 when it cannot be read or its
// name is not a plain file name.
qint64 recordingFileSize(const QString &folder, const QString &fileName);
