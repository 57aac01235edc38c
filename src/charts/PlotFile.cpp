#include "charts/PlotFile.h"

#include <QApplication>
#include <QChart>
#include <cstdio>
#include <memory>

#include "charts/ChartFiles.h"
#include "charts/PowerChart.h"

namespace zyg {

std::unique_ptr<QApplication> commandLineApplication() {
    if (QCoreApplication::instance()) return nullptr;
    // The toolkit's notes about the environment (no runtime folder, and
    // the like) mean nothing on a command line that writes a file.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zygomet-power";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QApplication>(argc, argv);
}

std::string plotPowerPoints(const std::vector<PowerPoint>& points, std::optional<double> target,
                            const std::string& file) {
    if (points.empty()) return "there are no points to draw";
    const auto application = commandLineApplication();

    std::unique_ptr<QChart> chart(buildPowerChart(points, target.value_or(0.8)));
    const QString fault = saveChart(*chart, QString::fromLocal8Bit(file.c_str()));
    return fault.toLocal8Bit().toStdString();
}

}  // namespace zyg
