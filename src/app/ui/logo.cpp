#include "app/ui/logo.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace benchcap::app {
namespace {

// An instrument front: a dark bezel, a green-on-black screen with a graticule and a
// spectrum-like trace, and a few knobs beside it.
void drawInstrument(QPainter& p, const QRectF& r, bool withKnobs) {
    p.setRenderHint(QPainter::Antialiasing);
    const double u = r.height() / 10.0;
    p.setPen(QPen(QColor(40, 44, 52), std::max(1.0, u * 0.15)));
    p.setBrush(QColor(88, 96, 110));
    p.drawRoundedRect(r, u * 0.8, u * 0.8);

    const double screenW = withKnobs ? r.width() * 0.68 : r.width() - 2 * u;
    const QRectF screen(r.left() + u, r.top() + u, screenW, r.height() - 2 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(12, 24, 20));
    p.drawRect(screen);

    if (withKnobs) {
        p.setPen(QPen(QColor(40, 80, 60), 1));
        for (int i = 1; i < 10; ++i) {
            const double x = screen.left() + screen.width() * i / 10.0;
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
        }
        for (int i = 1; i < 8; ++i) {
            const double y = screen.top() + screen.height() * i / 8.0;
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
        }
    }

    // A noise floor with one strong carrier and two side lobes.
    QPainterPath trace;
    const int n = 120;
    for (int i = 0; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const double peak = std::exp(-std::pow((t - 0.5) * 14, 2)) * 0.78 +
                            std::exp(-std::pow((t - 0.32) * 30, 2)) * 0.25 +
                            std::exp(-std::pow((t - 0.68) * 30, 2)) * 0.25;
        const double noise = 0.05 * std::sin(i * 2.7) * std::cos(i * 1.3);
        const QPointF pt(screen.left() + t * screen.width(),
                         screen.bottom() - screen.height() * (0.12 + peak + noise));
        if (i == 0)
            trace.moveTo(pt);
        else
            trace.lineTo(pt);
    }
    p.setPen(QPen(QColor(90, 255, 140), std::max(1.0, u * 0.22)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);

    if (withKnobs) {
        const double cx = screen.right() + (r.right() - screen.right()) / 2;
        p.setPen(QPen(QColor(30, 30, 30), 1));
        p.setBrush(QColor(200, 200, 205));
        p.drawEllipse(QPointF(cx, r.top() + r.height() * 0.35), u * 1.4, u * 1.4);
        p.setBrush(QColor(160, 160, 168));
        for (int i = 0; i < 3; ++i)
            p.drawRoundedRect(
                QRectF(cx - u * 1.6 + i * u * 1.15, r.top() + r.height() * 0.68, u * 0.9, u * 0.7),
                u * 0.15, u * 0.15);
    }
}

}  // namespace

QImage drawStartLogo() {
    QImage img(QSize(320, 230), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    drawInstrument(p, QRectF(10, 8, 300, 160), true);

    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(38);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(40, 70, 120));
    p.drawText(QRectF(0, 172, 320, 54), Qt::AlignCenter, QStringLiteral("Benchcap"));
    return img;
}

QImage drawIconImage(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    drawInstrument(p, QRectF(0.5, size * 0.15, size - 1.0, size * 0.7), false);
    return img;
}

QIcon drawWindowIcon() {
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addPixmap(QPixmap::fromImage(drawIconImage(size)));
    return icon;
}

}  // namespace benchcap::app
