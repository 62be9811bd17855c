#include "JSONCoding.h"
#include "RecordingInfo.h"
#include "RecordingListDocument.h"
#include "ServerFixture.h"

#include <QJsonArray>

namespace {

// The list as the API wrote it before elements were kept: one document
// encoded afresh.
QByteArray freshList(const QList<Recording> &recordings)
{
    QJsonArray list;
    for (const Recording &recording : recordings)
        list.append(RecordingInfo::from(recording).toJSON(sharedJSONEncoder()));
    return sharedJSONEncoder().data(list);
}

} // namespace

// The kept elements must give byte for byte the fresh document, also after
// recordings change, vanish, come back and move.
using RecordingListDocumentTest = ServerFixture;

TEST_F(RecordingListDocumentTest, KeptElementsGiveTheFreshDocumentThroughEveryChange)
{
    using Status = Recording::Status;
    Recording first = servedRecording(QStringLiteral("Nachrichten \"live\"\n"), Status::Recording, 7);
    first.accountID = QStringLiteral("acct-1");
    Recording second = servedRecording(QStringLiteral("Film"), Status::Scheduled);
    Recording third = servedRecording(QStringLiteral("Sport"), Status::Failed, 5000);
    third.errorMessage = QStringLiteral("The stream could not be opened.");

    RecordingListDocument document;
    QList<QList<Recording>> steps{{}, {first}, {first, second, third}};
    first.bytes = 1'000'000'007;
    second.status = Status::Waiting;
    steps.append(QList<Recording>{first, second, third});
    steps.append(QList<Recording>{third, first});
    third.title = QStringLiteral("Sport, Zusammenfassung");
    steps.append(QList<Recording>{second, third, first});
    steps.append(QList<Recording>{});
    steps.append(QList<Recording>{first});

    for (qsizetype i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(document.encode(steps.at(i)), freshList(steps.at(i)));
    }
}
