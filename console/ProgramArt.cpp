#include "console/ProgramArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "console/DialogUnits.h"

namespace console {

namespace {

const QColor kDeep(18, 32, 64);
const QColor kBlue(40, 92, 170);
const QColor kAmber(255, 176, 32);

// A loudspeaker with three sound arcs, in a square of `size` at `origin`.
void drawSpeaker(QPainter& p, QPointF origin, qreal size, const QColor& colour) {
    const qreal u = size / 16;
    QPainterPath body;
    body.moveTo(origin + QPointF(1 * u, 6 * u));
    body.lineTo(origin + QPointF(4 * u, 6 * u));
    body.lineTo(origin + QPointF(8 * u, 2 * u));
    body.lineTo(origin + QPointF(8 * u, 14 * u));
    body.lineTo(origin + QPointF(4 * u, 10 * u));
    body.lineTo(origin + QPointF(1 * u, 10 * u));
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(body);
    QPen arc(colour, std::max<qreal>(1.0, 1.2 * u), Qt::SolidLine, Qt::RoundCap);
    p.setPen(arc);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal r = (1.5 + 2.0 * i) * u;
        const QRectF box(origin.x() + 8 * u - r, origin.y() + 8 * u - r, 2 * r, 2 * r);
        p.drawArc(box, -45 * 16, 90 * 16);
    }
}

}  // namespace

QPixmap programIconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, kBlue);
    g.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 6.0, size / 6.0);
    drawSpeaker(p, QPointF(size * 0.08, size * 0.08), size * 0.84, kAmber);
    p.end();
    return pm;
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(programIconPixmap(size));
    return icon;
}

QPixmap unitPicture() {
    QPixmap pm(kPictureWidth, kPictureHeight);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, kPictureHeight);
    sky.setColorAt(0, kBlue);
    sky.setColorAt(1, kDeep);
    p.fillRect(pm.rect(), sky);
    // A level trace across the picture, as on the unit's meters.
    p.setPen(QPen(QColor(90, 150, 230), 1));
    QPainterPath trace;
    const int mid = kPictureHeight - 9;
    trace.moveTo(0, mid);
    for (int x = 0; x <= kPictureWidth; x += 3) {
        const qreal y = mid - 4.0 * std::abs(std::sin(x * 0.21) * std::cos(x * 0.047));
        trace.lineTo(x, y);
    }
    p.drawPath(trace);
    drawSpeaker(p, QPointF(6, 7), 30, kAmber);
    QFont name = DialogUnits::mapFont(QStringLiteral("Arial"), -22, QFont::Bold);
    p.setFont(name);
    p.setPen(Qt::white);
    p.drawText(QRect(40, 4, kPictureWidth - 44, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("XELOR"));
    p.setFont(DialogUnits::mapFont(QStringLiteral("Arial"), -9));
    p.setPen(kAmber);
    p.drawText(QRect(41, 29, kPictureWidth - 44, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("cinema sound"));
    p.end();
    return pm;
}

}  // namespace console
