// The de Finetti window's samples box, offscreen: opening a file of 1 MiB in
// ordinary lines, opening a file of one line of a million characters (which
// the box refuses), a key typed at the end of the longest line it takes, and
// for comparison what laying out one long line costs the text control when
// nothing bounds it. The box's times include one paint of the box.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <cstdio>
#include <optional>

#include "BenchSections.h"
#include "charts/DeFinettiWindow.h"
#include "platform/Services.h"

namespace {

using namespace zyg;

class OneFile final : public FileDialogs {
public:
    QString name;
    std::optional<QString> saveFileName(QWidget*, const SaveDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<QString> openFileName(QWidget*, const QString&) override { return name; }
};

void samplesBox() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zygomet-bench";
    static char* argv[] = {name, nullptr};
    static QApplication* application = qApp ? nullptr : new QApplication(argc, argv);
    (void)application;

    QTemporaryDir dir;
    OneFile files;
    Services replacement = services();
    replacement.files = &files;
    const ScopedServices scope(replacement);

    DeFinettiWindow window(StudySource{}, QString());
    window.resize(980, 700);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::puts("the window was not shown");
    auto* box = window.findChild<QPlainTextEdit*>(QStringLiteral("samplesEdit"));
    auto* open = window.findChild<QPushButton*>(QStringLiteral("openSamplesButton"));

    auto openFile = [&](const char* fileName, const QByteArray& bytes) {
        files.name = dir.filePath(QString::fromLatin1(fileName));
        QFile file(files.name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::puts("the samples file could not be written");
        file.close();
        return bench::timeMs([&] {
            open->click();
            QApplication::processEvents();
            (void)box->grab();
        });
    };

    const double refused = openFile("long.txt", "rs1 4 8 8\n" + QByteArray(1000000, '7') + '\n');
    std::printf("samples box: a file with a line of 1000000 characters refused in %.1f ms\n",
                refused);

    QByteArray lines;
    for (int i = 0; lines.size() < (1 << 20) - 40; ++i)
        lines += "rs" + QByteArray::number(100000 + i) + " 12 34 56\n";
    const double ordinary = openFile("lines.txt", lines);
    std::printf("samples box: a file of 1 MiB in %lld lines opened and shown in %.1f ms\n",
                static_cast<long long>(box->blockCount()), ordinary);

    const double drawn = bench::timeMs([&] {
        window.draw();
        if (!QTest::qWaitFor([&] { return !window.computing(); }, 600000))
            std::puts("the samples were not drawn within ten minutes");
        (void)window.grab();
    });
    std::printf("samples box: the %lld samples of that file drawn in %.1f ms\n",
                static_cast<long long>(box->blockCount()), drawn);

    box->clear();
    box->setPlainText(QString(999, u'7'));
    box->moveCursor(QTextCursor::End);
    box->setFocus();
    const double typed = bench::timeMs([&] {
        QTest::keyClick(box, Qt::Key_8);
        (void)box->grab();
    });
    std::printf("samples box: a key typed at the end of a line of 999 characters: %.1f ms\n",
                typed);

    // What the bound spares: the text control laying out one long line.
    for (const int length : {20000, 50000, 100000}) {
        const double laidOut = bench::timeMs([&] {
            box->QPlainTextEdit::setPlainText(QString(length, u'7'));
            (void)box->grab();
        });
        std::printf("samples box unbounded: one line of %d characters laid out in %.1f ms\n",
                    length, laidOut);
    }
}

}  // namespace

ZYG_BENCH_SECTION(26, "de Finetti samples box: long files, long lines", samplesBox);
