#include "ApplicationIcon.h"

#include <QPainter>
#include <QPixmap>
#include <array>

namespace ApplicationIcon {

namespace {

// The shapes of data/icons/tivolux-recorder.svg, on its 128-unit canvas.
QPixmap draw(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 128.0, size / 128.0);
    const QColor frame(0x2b, 0x2f, 0x36);
    painter.setPen(Qt::NoPen);
    painter.setBrush(frame);
    painter.drawRoundedRect(QRectF(8, 20, 112, 80), 12, 12);
    painter.setBrush(QColor(0x3d, 0x44, 0x50));
    painter.drawRoundedRect(QRectF(16, 28, 96, 64), 6, 6);
    painter.setPen(QPen(Qt::white, 5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(64, 60), 22, 22);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe5, 0x38, 0x3b));
    painter.drawEllipse(QPointF(64, 60), 13, 13);
    painter.setBrush(frame);
    painter.drawRoundedRect(QRectF(44, 104, 40, 8), 4, 4);
    return pixmap;
}

} // namespace

QIcon drawn()
{
    QIcon icon;
    for (const int size : std::array{16, 22, 24, 32, 48, 64, 128})
        icon.addPixmap(draw(size));
    return icon;
}

QIcon icon()
{
    return QIcon::fromTheme(QString::fromLatin1(kThemeName), drawn());
}

} // namespace ApplicationIcon
