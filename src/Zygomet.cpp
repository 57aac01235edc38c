// Zygomet: the power of chi-square tests of the Hardy-Weinberg hypothesis,
// studied by simulation. Starts the application with its main window and its
// About box, and runs the event loop until the main window closes.

#include <QApplication>

#include "About.h"
#include "Unit5.h"
#include "engine/Simulation.h"
#include "platform/Pictures.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zygomet"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zygomet"));
    QApplication::setWindowIcon(zyg::windowIcon());

    // The simulation's worker threads start now, not on the first Run.
    zyg::prepareFastEngine();

    zyg::TForm1 form;
    zyg::TAboutBox about(&form);
    form.setAboutBox(&about);

    form.show();
    return QApplication::exec();
}
