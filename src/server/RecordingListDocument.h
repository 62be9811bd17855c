#pragma once

#include "Recording.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QUuid>

// The body of the recordings list, pretty-printed like every API document.
// Players ask for it often and a long list mostly repeats the previous
// answer, so each recording's encoded element is kept with the value it was
// made from and reused while that recording is unchanged; only new or
// changed recordings are encoded again. Used on one thread.
class RecordingListDocument
{
public:
    QByteArray encode(const QList<Recording> &recordings);

private:
    struct Element
    {
        Recording recording;
        QByteArray text;
    };

    QHash<QUuid, Element> m_elements;
};
