#include "RecordingTableModel.h"

#include "RecordingFormat.h"

#include <QBrush>
#include <QGuiApplication>
#include <QPalette>
#include <QStringList>

const RecordingTableModel::ColumnSpec RecordingTableModel::kColumns[ColumnCount] = {
    {"title", "Programme", 220},
    {"channel", "Channel", 140},
    {"time", "Time", 170},
    {"status", "Status", 190},
    {"size", "Size", 70},
};

RecordingTableModel::RecordingTableModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_now([] { return QDateTime::currentDateTime(); })
    , m_palette(std::make_unique<QPalette>(QGuiApplication::palette()))
{
}

void RecordingTableModel::setPalette(const QPalette &palette)
{
    *m_palette = palette;
    if (!m_recordings.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::ForegroundRole});
}

void RecordingTableModel::reload(const QList<Recording> &recordings)
{
    const bool sameRows = recordings.size() == m_recordings.size()
        && std::equal(recordings.cbegin(), recordings.cend(), m_recordings.cbegin(),
                      [](const Recording &a, const Recording &b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        m_recordings = recordings;
        endResetModel();
        return;
    }
    m_recordings = recordings;
    if (!m_recordings.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

std::optional<Recording> RecordingTableModel::recordingAt(int row) const
{
    if (row < 0 || row >= m_recordings.size())
        return std::nullopt;
    return m_recordings.at(row);
}

int RecordingTableModel::rowOf(const QUuid &id) const
{
    for (int row = 0; row < m_recordings.size(); ++row) {
        if (m_recordings.at(row).id == id)
            return row;
    }
    return -1;
}

int RecordingTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_recordings.size());
}

int RecordingTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordingTableModel::data(const QModelIndex &index, int role) const
{
    const std::optional<Recording> recording = recordingAt(index.row());
    if (!recording || index.column() < 0 || index.column() >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return text(*recording, index.column());
    case Qt::ForegroundRole:
        return colour(*recording, index.column());
    case Qt::ToolTipRole: {
        if (index.column() != Status)
            return {};
        // The error, then what the capture missed, each on its own line.
        QStringList lines;
        if (recording->errorMessage)
            lines.append(*recording->errorMessage);
        if (const QString gaps = RecordingFormat::gapsText(*recording); !gaps.isEmpty())
            lines.append(gaps);
        return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
    }
    case Qt::TextAlignmentRole:
        return index.column() == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                      : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant RecordingTableModel::text(const Recording &recording, int column) const
{
    switch (column) {
    case Title:
        return recording.title;
    case Channel:
        return recording.channelName;
    case Time:
        return RecordingFormat::programmeTime(recording, m_now());
    case Status:
        return RecordingFormat::statusText(recording).text;
    default:
        return RecordingFormat::byteCount(recording.bytes);
    }
}

QVariant RecordingTableModel::colour(const Recording &recording, int column) const
{
    TextTone tone = TextTone::Secondary;
    if (column == Title)
        tone = TextTone::Label;
    else if (column == Status)
        tone = RecordingFormat::statusText(recording).tone;
    return QBrush(colourFor(tone, *m_palette));
}

QVariant RecordingTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].title);
    if (role == Qt::TextAlignmentRole)
        return section == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}
