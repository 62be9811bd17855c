#pragma once

#include "Recording.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <optional>

inline constexpr char kRecordingsDidChangeNotification[] = "TivoluxRecorder.recordingsDidChange";

// The one place where recordings live and change. Lives on the main thread;
// every change of the list, a status or a byte count is announced through
// recordingsDidChange(), every change of the list or a status is saved.
class RecordingManager : public QObject
{
    Q_OBJECT

public:
    explicit RecordingManager(QObject *parent = nullptr);
    ~RecordingManager() override;

    // The process-wide instance, created on first access.
    static RecordingManager &shared();

    const QList<Recording> &recordings() const { return m_recordings; }
    std::optional<Recording> recording(const QUuid &id) const;

    // Number of recordings being captured right now.
    int runningCount() const;

    void stopAll();

    // The recordings folder, resolved afresh from the settings.
    QString recordingsFolderURL() const;
    static QString makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id);

    // Replaces the list with the index of the current folder.
    void loadIndex();
    // Announces the change and writes the whole list to the index.
    void saveIndex();

signals:
    void recordingsDidChange();

private:
    void postChange();

    QList<Recording> m_recordings;
};
