#include "charts/ChartFiles.h"

#include <QBuffer>
#include <QChart>
#include <QCoreApplication>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <string>
#include <string_view>

#include "report/WholeFile.h"

namespace zyg {

namespace {

QString fault(const QString& path, const QString& what) {
    return QStringLiteral("Could not write %1: %2").arg(path, what);
}

void render(QGraphicsScene& scene, QPainter& painter, QSize size) {
    const QRectF area(QPointF(0, 0), QSizeF(size));
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, area, area);
}

}  // namespace

bool isChartFileName(const QString& path) {
    return path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
}

QString saveChart(QChart& chart, const QString& path, QSize size) {
    QChart* charts[] = {&chart};
    return saveCharts(charts, path, size, 1);
}

QString saveCharts(std::span<QChart* const> charts, const QString& path, QSize cell, int columns) {
    if (!isChartFileName(path))
        return fault(path, QStringLiteral("the name must end in .png or .svg"));
    const bool svg = path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
    columns = std::max(1, std::min(columns, static_cast<int>(charts.size())));
    const int rows = (static_cast<int>(charts.size()) + columns - 1) / columns;
    const QSize size(cell.width() * columns, cell.height() * std::max(rows, 1));

    QGraphicsScene scene;
    scene.setSceneRect(QRectF(QPointF(0, 0), QSizeF(size)));
    for (std::size_t i = 0; i < charts.size(); ++i) {
        const int column = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
        scene.addItem(charts[i]);
        charts[i]->setGeometry(
            QRectF(QPointF(column * cell.width(), row * cell.height()), QSizeF(cell)));
    }
    const auto detach = [&] {
        for (QChart* chart : charts) scene.removeItem(chart);
    };
    // The charts lay out their axes, legends and labels in posted events.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();

    QByteArray bytes;
    if (svg) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        // A title drawn on two lines is one line of text in the file.
        generator.setTitle(charts.empty()
                               ? QString()
                               : QString(charts.front()->title())
                                     .replace(QStringLiteral("<br>"), QStringLiteral(" ")));
        generator.setDescription(QStringLiteral("Drawn by Zygomet"));
        QPainter painter(&generator);
        render(scene, painter, size);
        painter.end();
    } else {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        render(scene, painter, size);
        painter.end();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) {
            detach();
            return fault(path, QStringLiteral("the picture could not be encoded"));
        }
    }
    detach();

    // The picture is whole in memory; the writer puts it in place whole or
    // says why not.
    const std::string failure =
        writeWholeFile(QFile::encodeName(path).toStdString(),
                       std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!failure.empty()) return fault(path, QString::fromStdString(failure));
    return {};
}

}  // namespace zyg
