#include "platform/Pictures.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace zyg {

namespace {

// A transparent pixmap of size x size device-independent pixels for the ratio.
QPixmap blankPixmap(int size, qreal ratio) {
    const int device = static_cast<int>(std::lround(size * ratio));
    QPixmap pixmap(device, device);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void paintCheckMark(QPainter& painter) {
    // A thick tick, heavier on its long stroke, as a filled outline so that
    // it stays crisp at 16 pixels.
    const QPolygonF tick{QPointF(1.5, 8.5),  QPointF(3.5, 6.5),  QPointF(6.0, 9.0),
                         QPointF(12.5, 2.5), QPointF(14.5, 4.5), QPointF(6.0, 13.0)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPolygon(tick);
}

// A 3.5-inch diskette filling `box`: a navy shell with a clipped corner, a
// white label with ruled lines at the top and a metal shutter at the bottom.
void paintDiskette(QPainter& painter, const QRectF& box) {
    const qreal s = box.width() / 14.0;  // the drawing is made on a 14-unit grid
    const auto at = [&](qreal x, qreal y) {
        return QPointF(box.left() + x * s, box.top() + y * s);
    };

    const QPolygonF shell{at(0, 0), at(12, 0), at(14, 2), at(14, 14), at(0, 14)};
    painter.setPen(QPen(QColor(0x10, 0x1e, 0x4a), 1.0));
    painter.setBrush(QColor(0x2a, 0x4d, 0xa8));
    painter.drawPolygon(shell);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(at(2.5, 0.5), at(11.5, 6.5)));
    painter.setPen(QPen(QColor(0x8c, 0x9d, 0xc4), 0.8 * s));
    painter.drawLine(at(3.5, 2.5), at(10.5, 2.5));
    painter.drawLine(at(3.5, 4.5), at(10.5, 4.5));

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc8, 0xcc, 0xd4));
    painter.drawRect(QRectF(at(3.5, 8.5), at(10.5, 14)));
    painter.setBrush(QColor(0x10, 0x1e, 0x4a));
    painter.drawRect(QRectF(at(7.5, 9.5), at(9.5, 13)));
}

void paintSaveAs(QPainter& painter) {
    // A smaller diskette in the lower left, with short rays bursting from a
    // point above its upper right corner: the diskette that writes anew.
    paintDiskette(painter, QRectF(0.5, 5.5, 10, 10));
    painter.setPen(QPen(QColor(0xf0, 0x8c, 0x00), 1.3, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(11.5, 4.5);
    for (const qreal degrees : {-40.0, 0.0, 45.0, 90.0, 135.0, 180.0}) {
        const qreal radians = degrees * 3.14159265358979 / 180.0;
        const QPointF direction(std::cos(radians), -std::sin(radians));
        painter.drawLine(centre + direction * 1.8, centre + direction * 4.0);
    }
}

void paintHelpBook(QPainter& painter) {
    // Pages showing at the right and bottom edges, then the purple cover with
    // a darker spine, then a yellow question mark with a dark outline.
    painter.setPen(QPen(QColor(0x3a, 0x0c, 0x4a), 1.0));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(2.5, 1.5, 12, 14));
    painter.setBrush(QColor(0x8a, 0x2b, 0xb8));
    painter.drawRect(QRectF(0.5, 0.5, 12, 14));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x5a, 0x14, 0x7c));
    painter.drawRect(QRectF(1.0, 1.0, 2.0, 13.0));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(15);
    font.setBold(true);
    QPainterPath mark;
    mark.addText(0, 0, font, QStringLiteral("?"));
    const QRectF bounds = mark.boundingRect();
    mark.translate(QPointF(7.8, 7.6) - bounds.center());
    painter.setPen(QPen(QColor(0x2a, 0x06, 0x38), 0.9));
    painter.setBrush(QColor(0xff, 0xe0, 0x20));
    painter.drawPath(mark);
}

// The program's mark on a 64-unit square: three bars for the genotype
// frequencies A1A1, A1A2 and A2A2 under a falling chi-square curve.
void paintMark(QPainter& painter, qreal size) {
    painter.save();
    painter.scale(size / 64.0, size / 64.0);

    QLinearGradient background(0, 2, 0, 62);
    background.setColorAt(0, QColor(0x2f, 0x6d, 0x9c));
    background.setColorAt(1, QColor(0x1b, 0x3a, 0x5e));
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);

    painter.setBrush(QColor(0xf2, 0xc1, 0x4e));
    painter.drawRect(QRectF(11, 38, 11, 14));
    painter.setBrush(QColor(0x7f, 0xd0, 0x8a));
    painter.drawRect(QRectF(26.5, 18, 11, 34));
    painter.setBrush(QColor(0xef, 0x7d, 0x5b));
    painter.drawRect(QRectF(42, 28, 11, 24));

    painter.setPen(QPen(QColor(0xf4, 0xf7, 0xfb), 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 53.5), QPointF(56, 53.5));
    QPainterPath curve(QPointF(9, 9));
    curve.cubicTo(QPointF(14, 34), QPointF(26, 42), QPointF(55, 44));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curve);
    painter.restore();
}

// The chi-square density with one degree of freedom, for the program picture.
qreal chiSquareDensity(qreal x) { return std::exp(-x / 2) / std::sqrt(2 * 3.14159265358979 * x); }

}  // namespace

QPixmap menuPixmap(MenuPicture picture, qreal devicePixelRatio) {
    QPixmap pixmap = blankPixmap(kMenuPictureSize, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
        case MenuPicture::Run: paintCheckMark(painter); break;
        case MenuPicture::Save: paintDiskette(painter, QRectF(1, 1, 14, 14)); break;
        case MenuPicture::SaveAs: paintSaveAs(painter); break;
        case MenuPicture::HelpTopics: paintHelpBook(painter); break;
    }
    return pixmap;
}

QIcon menuIcon(MenuPicture picture) {
    QIcon icon;
    icon.addPixmap(menuPixmap(picture, 1.0));
    icon.addPixmap(menuPixmap(picture, 2.0));
    return icon;
}

QPixmap programPicture() {
    const int w = kProgramPictureWidth;
    const int h = kProgramPictureHeight;
    QImage image(w, h, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(0xf7, 0xfa, 0xff));
    sky.setColorAt(1, QColor(0xd9, 0xe6, 0xf5));
    painter.fillRect(QRect(0, 0, w, h), sky);

    // The chi-square curve of one degree of freedom over 0..9, with its upper
    // tail beyond the 5% critical value 3.84 shaded: the rejection region.
    const QRectF plot(6, 6, 84, 58);
    const qreal xMax = 9.0;
    // The height grows with the square root of the density, so that the thin
    // tail stays visible beside the tall peak near zero.
    const auto toScreen = [&](qreal x, qreal density) {
        return QPointF(plot.left() + x / xMax * plot.width(),
                       plot.bottom() - std::min(std::sqrt(density), 1.0) * plot.height());
    };
    QPainterPath curve;
    QPainterPath tail;
    const qreal critical = 3.841459;
    tail.moveTo(toScreen(critical, 0));
    bool first = true;
    for (int i = 0; i <= 180; ++i) {
        const qreal x = 0.12 + (xMax - 0.12) * i / 180.0;
        const QPointF point = toScreen(x, chiSquareDensity(x));
        if (first) {
            curve.moveTo(point);
            first = false;
        } else {
            curve.lineTo(point);
        }
        if (x >= critical) tail.lineTo(point);
    }
    tail.lineTo(toScreen(xMax, 0));
    tail.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe8, 0x5d, 0x4a, 0xb0));
    painter.drawPath(tail);

    // Three genotype bars in Hardy-Weinberg proportions for p = 0.4.
    const qreal barBase = plot.bottom();
    const qreal barTop = 24;
    const qreal heights[] = {0.16, 0.48, 0.36};
    const QColor colours[] = {QColor(0xf2, 0xc1, 0x4e), QColor(0x5f, 0xb8, 0x6c),
                              QColor(0x3f, 0x7f, 0xc4)};
    for (int i = 0; i < 3; ++i) {
        const qreal height = heights[i] / 0.48 * (barBase - barTop);
        const QRectF bar(18 + i * 14, barBase - height, 11, height);
        painter.setPen(QPen(colours[i].darker(150), 1.0));
        painter.setBrush(colours[i]);
        painter.drawRect(bar.adjusted(0.5, 0.5, -0.5, 0));
    }

    painter.setPen(QPen(QColor(0x1b, 0x3a, 0x5e), 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curve);

    painter.setPen(QPen(QColor(0x33, 0x33, 0x33), 1.0));
    painter.drawLine(QPointF(plot.left(), barBase + 0.5), QPointF(plot.right(), barBase + 0.5));

    // The statistic's name in the upper right corner: chi with a raised 2.
    QFont chi(QStringLiteral("DejaVu Serif"));
    chi.setPixelSize(20);
    chi.setItalic(true);
    painter.setFont(chi);
    painter.setPen(QColor(0x1b, 0x3a, 0x5e));
    painter.drawText(QPointF(62, 22), QString(QChar(0x03C7)));
    QFont two(QStringLiteral("DejaVu Sans"));
    two.setPixelSize(11);
    two.setBold(true);
    painter.setFont(two);
    painter.drawText(QPointF(75, 13), QStringLiteral("2"));

    // The genotype labels under the bars.
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(8);
    painter.setFont(small);
    painter.setPen(QColor(0x33, 0x33, 0x33));
    const char* const labels[] = {"11", "12", "22"};
    for (int i = 0; i < 3; ++i) {
        painter.drawText(QRectF(16 + i * 14, barBase + 2, 15, 10), Qt::AlignHCenter | Qt::AlignTop,
                         QString::fromLatin1(labels[i]));
    }
    painter.end();
    return QPixmap::fromImage(image);
}

QPixmap windowIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paintMark(painter, size);
    return pixmap;
}

QIcon windowIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(windowIconPixmap(size));
    return icon;
}

}  // namespace zyg
