#pragma once

#include "Recording.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <functional>
#include <memory>
#include <optional>

class QPalette;

// The recordings table: one row per recording in the manager's order, five
// columns. Holds a copy of the list as of the last reload, so that rows never
// change under the view between two reloads.
class RecordingTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Title, Channel, Time, Status, Size, ColumnCount };

    struct ColumnSpec
    {
        const char *identifier;
        const char *title;
        int width;
    };
    static const ColumnSpec kColumns[ColumnCount];
    static constexpr int kMinimumColumnWidth = 50;

    explicit RecordingTableModel(QObject *parent = nullptr);

    // Replaces the rows. When only the values changed (same recordings in
    // the same order) the rows are updated in place, which keeps the view's
    // selection and scroll position; otherwise the model is reset.
    void reload(const QList<Recording> &recordings);
    std::optional<Recording> recordingAt(int row) const;
    int rowOf(const QUuid &id) const;

    // The clock the relative day names are written against; tests set one.
    void setNow(std::function<QDateTime()> now) { m_now = std::move(now); }
    void setPalette(const QPalette &palette);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVariant text(const Recording &recording, int column) const;
    QVariant colour(const Recording &recording, int column) const;

    QList<Recording> m_recordings;
    std::function<QDateTime()> m_now;
    std::unique_ptr<QPalette> m_palette;
};
