#include "charts/QqChart.h"

#include <QApplication>
#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "charts/ChartFiles.h"
#include "charts/PlotFile.h"
#include "charts/PowerChart.h"
#include "core/NumberText.h"
#include "engine/TestCatalogue.h"

namespace zyg {

namespace {

struct Row {
    double expected = 0, observed = 0, low = 0, high = 0, uniform = 0;
};

struct Panel {
    std::string test, locus, markers;
    std::vector<Row> rows;
};

// The panels of the numbers' file, in its order; empty `why` when read.
std::vector<Panel> readPanels(const std::string& path, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = "the numbers cannot be read from " + path;
        return {};
    }
    std::vector<Panel> panels;
    std::string line;
    std::getline(in, line);  // the header
    for (std::size_t number = 2; std::getline(in, line); ++number) {
        std::vector<std::string> f;
        std::stringstream cells(line);
        for (std::string c; std::getline(cells, c, ',');) f.push_back(c);
        std::vector<double> v;
        for (std::size_t i = 4; i < f.size(); ++i)
            if (const auto x = parseDecimal(f[i], ".")) v.push_back(*x);
        if (f.size() != 9 || v.size() != 5) {
            why = path + ", line " + std::to_string(number) + ": not a row of Q-Q numbers";
            return {};
        }
        if (panels.empty() || panels.back().test != f[0] || panels.back().locus != f[1])
            panels.push_back({f[0], f[1], f[2], {}});
        panels.back().rows.push_back({v[0], v[1], v[2], v[3], v[4]});
    }
    if (panels.empty()) why = "there are no p-values to plot";
    return panels;
}

QLineSeries* line(const QString& name, QColor colour, double width, Qt::PenStyle style) {
    auto* series = new QLineSeries;
    series->setName(name);
    QPen pen(colour);
    pen.setWidthF(width);
    pen.setStyle(style);
    series->setPen(pen);
    return series;
}

QChart* panelChart(const Panel& panel) {
    auto* chart = new QChart;
    const auto test = parseHweTest(panel.test);
    std::string title = test ? testLabel(*test) : panel.test;
    if (panel.locus == "x")
        title += test && appliesTo(*test, LocusKind::Autosomal) ? ", X-linked markers (females)"
                                                                : ", X-linked markers";
    else
        title += ", autosomal markers";
    title += " (";
    title += panel.markers;
    title += ")";
    chart->setTitle(QString::fromStdString(title));
    double top = 1;
    for (const Row& r : panel.rows) top = std::max({top, r.expected, r.observed, r.high});
    top = std::ceil(top * 1.05);
    auto* x = new QValueAxis;
    x->setTitleText("expected -log10 p under Hardy-Weinberg");
    auto* y = new QValueAxis;
    y->setTitleText("observed -log10 p");
    double right = 1;
    for (const Row& r : panel.rows) right = std::max(right, r.expected);
    x->setRange(0, std::ceil(right * 1.05));
    y->setRange(0, top);
    x->setLabelFormat("%g");
    y->setLabelFormat("%g");
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    const QColor colour = test ? testColour(*test) : QColor(Qt::black);
    auto* low = line("95% band", Qt::gray, 1, Qt::DashLine);
    auto* high = line("", Qt::gray, 1, Qt::DashLine);
    auto* uniform = line("uniform null", QColor(200, 120, 0), 1.5, Qt::DotLine);
    auto* diagonal = line("observed = expected", Qt::black, 1, Qt::SolidLine);
    diagonal->append(0, 0);
    diagonal->append(std::ceil(right * 1.05), std::ceil(right * 1.05));
    auto* points = new QScatterSeries;
    points->setName("markers");
    points->setColor(colour);
    points->setBorderColor(colour);
    points->setMarkerSize(5);
    for (const Row& r : panel.rows) {
        low->append(r.expected, r.low);
        high->append(r.expected, r.high);
        uniform->append(r.expected, r.uniform);
        points->append(r.expected, r.observed);
    }
    for (QAbstractSeries* s :
         std::initializer_list<QAbstractSeries*>{low, high, uniform, diagonal, points}) {
        chart->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
    }
    // The band's second line needs no entry of its own in the legend.
    if (const auto markers = chart->legend()->markers(high); !markers.isEmpty())
        markers.front()->setVisible(false);
    return chart;
}

}  // namespace

std::string plotQqFile(const std::string& numbers, const std::string& file) {
    std::string why;
    const std::vector<Panel> panels = readPanels(numbers, why);
    if (!why.empty()) return why;
    const auto application = commandLineApplication();
    std::vector<std::unique_ptr<QChart>> charts;
    std::vector<QChart*> pointers;
    for (const Panel& p : panels) {
        charts.emplace_back(panelChart(p));
        pointers.push_back(charts.back().get());
    }
    const int columns = panels.size() > 1 ? 2 : 1;
    const QString fault =
        saveCharts(pointers, QString::fromLocal8Bit(file.c_str()), QSize(640, 480), columns);
    return fault.toLocal8Bit().toStdString();
}

}  // namespace zyg
