#include "app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// A flash chip with pins on both sides and a downward arrow: data going into the chip.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(176, 176, 176));
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(3, 7 + i * 5.5, 4, 2.5));
        p.drawRect(QRectF(25, 7 + i * 5.5, 4, 2.5));
    }
    p.setBrush(QColor(40, 48, 60));
    p.drawRoundedRect(QRectF(6, 4, 20, 25), 2.5, 2.5);
    p.setBrush(QColor(90, 100, 115));
    p.drawEllipse(QRectF(8.5, 6.5, 3, 3));

    QPainterPath arrow;
    arrow.moveTo(14, 8);
    arrow.lineTo(18, 8);
    arrow.lineTo(18, 16);
    arrow.lineTo(22, 16);
    arrow.lineTo(16, 24);
    arrow.lineTo(10, 16);
    arrow.lineTo(14, 16);
    arrow.closeSubpath();
    p.setBrush(QColor(0, 200, 80));
    p.drawPath(arrow);
    return pixmap;
}

}  // namespace

QIcon QuorvelIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(DrawIcon(size));
    return icon;
}
