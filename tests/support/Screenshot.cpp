// Renders the main window after a run of the default study into a PNG, so
// that the fixed layout can be checked by eye: zygomet-screenshot <file.png>.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QtTest/QTest>

#include "About.h"
#include "Unit5.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("zygomet.png");

    zyg::TForm1 form;
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) return 1;
    form.GCheckBox->setChecked(true);
    form.RunButton->click();
    QTest::qWait(50);
    if (!form.grab().save(file)) return 1;

    if (argc > 2) {
        zyg::TAboutBox about(&form);
        about.show();
        QTest::qWait(50);
        if (!about.grab().save(QString::fromLocal8Bit(argv[2]))) return 1;
    }
    return 0;
}
