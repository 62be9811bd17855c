#include "JSONCoding.h"
#include "RecordingInfo.h"
#include "RecordingListDocument.h"
#include "ServerFixture.h"

// The kept elements must give byte for byte the document encoded afresh,
// also after recordings change, vanish, come back and move.
TEST(RecordingListDocument, KeptElementsGiveTheFreshDocumentThroughEveryChange)
{
    using Status = Recording::Status;
    Recording first = servedRecording(QStringLiteral("Nachrichten \"live\"\n"), Status::Recording, 7);
    first.accountID = QStringLiteral("acct-1");
    Recording second = servedRecording(QStringLiteral("Film"), Status::Scheduled);
    Recording third = servedRecording(QStringLiteral("Sport"), Status::Failed, 5000);
    third.errorMessage = QStringLiteral("The stream could not be opened.");
    QList<QList<Recording>> steps{{}, {first}, {first, second, third}};
    first.bytes = 1'000'000'007;
    second.status = Status::Waiting;
    steps += QList<QList<Recording>>{{first, second, third}, {third, first}};
    third.title = QStringLiteral("Sport, Zusammenfassung");
    steps += QList<QList<Recording>>{{second, third, first}, {}, {first}};

    RecordingListDocument document;
    for (const QList<Recording> &step : steps) {
        QJsonArray fresh;
        for (const Recording &recording : step)
            fresh.append(RecordingInfo::from(recording).toJSON(sharedJSONEncoder()));
        EXPECT_EQ(document.encode(step), sharedJSONEncoder().data(fresh)) << step.size();
    }
}
