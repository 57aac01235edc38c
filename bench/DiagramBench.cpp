// The de Finetti window at its largest n, offscreen: deciding every sample of
// n 300 (45,451 of them) for each test, then building the diagram and
// painting it once in a chart view of the window's size. The window's target
// is under 0.5 s for both together.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QSpinBox>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "BenchSections.h"
#include "charts/DeFinettiWindow.h"
#include "charts/DiagramChart.h"
#include "charts/PowerChart.h"
#include "power/DeFinetti.h"

namespace {

void diagram() {
    using namespace zyg;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zygomet-bench";
    static char* argv[] = {name, nullptr};
    // Left to the end of the process, as in the window's section.
    static QApplication* application = qApp ? nullptr : new QApplication(argc, argv);
    (void)application;

    constexpr std::uint32_t n = kMaxDiagramSampleSize;
    for (HweTest test : kHweTests) {
        std::vector<double> decide, paint;
        for (int run = 0; run < 3; ++run) {
            DeFinettiPicture picture;
            picture.n = n;
            picture.test = test;
            picture.setting.p = 0.3;
            decide.push_back(
                bench::timeMs([&] { picture.lattice = *latticeDecisions(n, test, 0.05); }));
            QChartView view;
            view.setRenderHint(QPainter::Antialiasing);  // as the window's view
            view.resize(900, 700);
            paint.push_back(bench::timeMs([&] {
                view.setChart(buildDeFinettiChart(picture));
                (void)view.grab();
            }));
        }
        std::sort(decide.begin(), decide.end());
        std::sort(paint.begin(), paint.end());
        std::printf(
            "de Finetti n %u, %-24s decide %7.1f ms, build and paint %7.1f ms (median of 3)\n", n,
            testLabel(test).c_str(), decide[1], paint[1]);
    }

    // The window itself: Draw, the decisions, the chart replacing the one
    // shown, and the first paint (target: under 500 ms).
    DeFinettiWindow window(StudySource{}, QString());
    window.resize(980, 700);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::puts("the window was not shown");
    for (const char* test : {"X2", "Exact"}) {
        auto* box = window.findChild<QComboBox*>(QStringLiteral("test"));
        auto* size = window.findChild<QSpinBox*>(QStringLiteral("n"));
        box->setCurrentIndex(box->findText(QString::fromLatin1(test)));
        size->setValue(static_cast<int>(n));
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            times.push_back(bench::timeMs([&] {
                window.draw();
                if (!QTest::qWaitFor([&] { return !window.computing(); }, 60000))
                    std::puts("the diagram was not drawn within a minute");
                (void)window.grab();
            }));
        }
        std::sort(times.begin(), times.end());
        std::printf("the window, n %u, %-5s Draw to painted: %7.1f ms (median of 3)\n", n, test,
                    times[1]);
    }
}

}  // namespace

ZYG_BENCH_SECTION(25, "de Finetti diagram: every sample of n 300, decided and painted", diagram);
