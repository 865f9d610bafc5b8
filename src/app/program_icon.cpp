#include "app/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace taskhaul {

namespace {

// A blue tile with a white arrow pointing down into a tray.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    painter.setBrush(Qt::white);
    QPainterPath arrow;
    arrow.moveTo(s * 0.40, s * 0.14);
    arrow.lineTo(s * 0.60, s * 0.14);
    arrow.lineTo(s * 0.60, s * 0.46);
    arrow.lineTo(s * 0.76, s * 0.46);
    arrow.lineTo(s * 0.50, s * 0.72);
    arrow.lineTo(s * 0.24, s * 0.46);
    arrow.lineTo(s * 0.40, s * 0.46);
    arrow.closeSubpath();
    painter.drawPath(arrow);
    painter.drawRect(QRectF(s * 0.16, s * 0.78, s * 0.68, s * 0.08));
    return pixmap;
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace taskhaul
