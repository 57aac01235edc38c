// The power-curve window on a biobank range, offscreen: Compute of 1000
// sample sizes from 1000 to 10^6 with the exact and the exact deficit tests
// at level 1e-6, from the press to the drawn chart, then the same range with
// log-spaced sizes. The exact sum costs about n per point, so the even step
// spends nearly all its time at the top of the range.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest/QTest>
#include <cstdio>
#include <thread>

#include "BenchSections.h"
#include "charts/PowerCurveWindow.h"

namespace {

template <class T>
T* named(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

void biobankCurve() {
    using namespace zyg;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zygomet-bench";
    static char* argv[] = {name, nullptr};
    // Left to the end of the process, as in the window's section.
    static QApplication* application = qApp ? nullptr : new QApplication(argc, argv);
    (void)application;

    ModelSetting setting{GenotypeModel::Inbreeding, 0.3};
    setting.f = 0.01;
    StudySnapshot study;
    study.request = StudyRequest::of(setting);
    study.request.tests = {HweTest::Exact};
    PowerCurveWindow window([&] { return study; }, QString());
    window.show();
    named<QComboBox>(&window, "level")->setEditText(QStringLiteral("1e-6"));
    named<QSpinBox>(&window, "nTo")->setValue(1000000);
    named<QSpinBox>(&window, "nFrom")->setValue(1000);
    named<QSpinBox>(&window, "nStep")->setValue(1000);
    for (QAction* a : named<QToolButton>(&window, "moreTests")->menu()->actions())
        if (a->objectName() == QLatin1String(hweTestName(HweTest::ExactDeficit).data()))
            a->setChecked(true);
    std::printf("Inbreeding p 0.3 f 0.01, exact and exact-deficit at 1e-6, %u cores\n",
                std::thread::hardware_concurrency());
    for (bool log : {false, true}) {
        named<QCheckBox>(&window, "logSpaced")->setChecked(log);
        const double ms = bench::timeMs([&] {
            window.compute();
            if (!QTest::qWaitFor([&] { return !window.computing(); }, 3600 * 1000))
                std::puts("the curve was not drawn within an hour");
        });
        const std::size_t sizes = window.curve() ? window.curve()->request.n.size() : 0;
        std::printf("%-58s %10.1f ms  %zu sample sizes\n",
                    log ? "Compute, n 1000 to 1000000 log-spaced"
                        : "Compute, n 1000:1000000:1000 (even step)",
                    ms, sizes);
    }
}

}  // namespace

ZYG_BENCH_SECTION(47, "power curve window: a biobank range", biobankCurve);
