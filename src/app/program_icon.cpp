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

// The program's picture with a round badge in the lower right corner.
QPixmap drawBadged(int size, TrayState state)
{
    QPixmap pixmap = drawIcon(size);
    if (state == TrayState::Idle)
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF badge(s * 0.46, s * 0.46, s * 0.54, s * 0.54);
    QColor fill;
    switch (state) {
    case TrayState::SchedulerOn:
        fill = QColor(0x2e, 0x9d, 0x48);
        break;
    case TrayState::Running:
        fill = QColor(0xf0, 0xa0, 0x20);
        break;
    default:
        fill = QColor(0xd0, 0x30, 0x30);
        break;
    }
    painter.setPen(QPen(Qt::white, qMax(1.0, s / 24)));
    painter.setBrush(fill);
    painter.drawEllipse(badge.adjusted(0.5, 0.5, -0.5, -0.5));
    const QPointF c = badge.center();
    const qreal r = badge.width() / 2;
    painter.setBrush(Qt::white);
    if (state == TrayState::SchedulerOn) {
        // Clock hands at three o'clock.
        painter.setPen(QPen(Qt::white, qMax(1.0, s / 16), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(c, c - QPointF(0, r * 0.6));
        painter.drawLine(c, c + QPointF(r * 0.5, 0));
    } else if (state == TrayState::Running) {
        QPainterPath arrow;
        arrow.moveTo(c.x() - r * 0.2, c.y() - r * 0.6);
        arrow.lineTo(c.x() + r * 0.2, c.y() - r * 0.6);
        arrow.lineTo(c.x() + r * 0.2, c.y());
        arrow.lineTo(c.x() + r * 0.5, c.y());
        arrow.lineTo(c.x(), c.y() + r * 0.6);
        arrow.lineTo(c.x() - r * 0.5, c.y());
        arrow.lineTo(c.x() - r * 0.2, c.y());
        arrow.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.drawPath(arrow);
    } else {
        painter.setPen(Qt::NoPen);
        painter.drawRect(QRectF(c.x() - r * 0.14, c.y() - r * 0.62, r * 0.28, r * 0.78));
        painter.drawEllipse(QRectF(c.x() - r * 0.16, c.y() + r * 0.3, r * 0.32, r * 0.32));
    }
    return pixmap;
}

} // namespace

QIcon trayIcon(TrayState state)
{
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(drawBadged(size, state));
    return icon;
}

TrayState trayStateFor(bool schedulerOn, bool running, bool lastRunFailed)
{
    if (running)
        return TrayState::Running;
    if (lastRunFailed)
        return TrayState::Failed;
    return schedulerOn ? TrayState::SchedulerOn : TrayState::Idle;
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace taskhaul
