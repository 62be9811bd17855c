#include "RecordingDotIcon.h"

#include <QPainter>
#include <QPixmap>
#include <array>

namespace RecordingDotIcon {

namespace {

QPixmap drawDot(int size, bool filled, const QColor &colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal ring = std::max<qreal>(1.5, size / 11.0);
    const QRectF outer(size * 0.125, size * 0.125, size * 0.75, size * 0.75);
    QPen pen(colour, ring);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(outer.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
    if (filled) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        const qreal inset = size * 0.1 + ring;
        painter.drawEllipse(outer.adjusted(inset, inset, -inset, -inset));
    }
    return pixmap;
}

} // namespace

QColor recordingRed()
{
    return QColor(0xe0, 0x1b, 0x24);
}

QIcon drawn(bool filled, const QColor &colour)
{
    QIcon icon;
    for (const int size : std::array{16, 22, 24, 32, 48, 64})
        icon.addPixmap(drawDot(size, filled, colour));
    return icon;
}

QColor idleGrey()
{
    return QColor(0x8c, 0x8c, 0x8c);
}

QIcon icon(bool recording)
{
    if (!recording)
        return drawn(false, idleGrey());
    return QIcon::fromTheme(QString::fromLatin1(kRecordingThemeName), drawn(true, recordingRed()));
}

} // namespace RecordingDotIcon
