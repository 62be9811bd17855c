#include "RecordingListDocument.h"

#include "JSONCoding.h"
#include "RecordingInfo.h"

namespace {

// The indented document of one recording, shifted one level in as an array
// element, without its final line break. JSON strings hold no raw line
// breaks, so every line break is a line of the layout.
QByteArray arrayElement(const QByteArray &document)
{
    QByteArray text;
    text.reserve(document.size() + document.count('\n') * 4);
    qsizetype lineStart = 0;
    while (lineStart < document.size()) {
        qsizetype lineEnd = document.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = document.size();
        if (!text.isEmpty())
            text += '\n';
        text += "    ";
        text += QByteArrayView(document).sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
    }
    return text;
}

} // namespace

QByteArray RecordingListDocument::encode(const QList<Recording> &recordings)
{
    const JSONEncoder &encoder = sharedJSONEncoder();
    QHash<QUuid, Element> elements;
    elements.reserve(recordings.size());
    QList<QByteArray> texts;
    texts.reserve(recordings.size());
    qsizetype length = 4;
    for (const Recording &recording : recordings) {
        const auto kept = m_elements.constFind(recording.id);
        const QByteArray text = kept != m_elements.cend() && kept->recording == recording
            ? kept->text
            : arrayElement(encoder.data(RecordingInfo::from(recording).toJSON(encoder)));
        elements.insert(recording.id, {recording, text});
        texts.append(text);
        length += text.size() + 2;
    }
    // Recordings gone from the list are forgotten with the old table.
    m_elements.swap(elements);

    QByteArray body;
    body.reserve(length);
    body += "[\n";
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            body += ",\n";
        body += texts.at(i);
    }
    body += texts.isEmpty() ? "]\n" : "\n]\n";
    return body;
}
