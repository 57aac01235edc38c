// The study windows' exports and zygomet-power --plot write their files whole
// or say why: a failed write, sync or close shows the window's message and
// leaves the earlier file (or none), and a named pipe gets the picture and
// stays a pipe.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <algorithm>
#include <memory>
#include <sstream>

#include "charts/PlotFile.h"
#include "charts/PowerCurveWindow.h"
#include "cli/PowerCommand.h"
#include "support/Child.h"
#include "support/FakeServices.h"
#include "support/FaultyOutput.h"
#include "support/FifoReader.h"

namespace zyg::testing {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ExportFailure : public ::testing::Test {
protected:
    FakeEnvironment env;
    std::unique_ptr<PowerCurveWindow> window;
    QTemporaryDir dir;

    void SetUp() override {
        ModelSetting setting{GenotypeModel::Inbreeding, 0.4};
        setting.f = 0.1;
        StudySnapshot study;
        study.request = StudyRequest::of(setting);
        study.request.n = {60};
        study.request.tests = {HweTest::X2};
        window = std::make_unique<PowerCurveWindow>([study] { return study; },
                                                    QStringLiteral("/help/ZYGOMETHELP.HLP"));
        window->show();
        window->compute();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, 20000));
        ASSERT_TRUE(window->curve());
    }
};

TEST_F(ExportFailure, AFullDiskShowsTheMessageAndLeavesNoFileOrTheEarlierOne) {
    struct Case {
        FaultyOutput::Step step;
        std::size_t room;
    };
    const Case cases[] = {{FaultyOutput::Step::Write, 0},
                          {FaultyOutput::Step::Write, 1000},
                          {FaultyOutput::Step::Sync, 0},
                          {FaultyOutput::Step::Close, 0}};
    QPushButton* const buttons[] = {child<QPushButton>(window.get(), "csvButton"),
                                    child<QPushButton>(window.get(), "pngButton"),
                                    child<QPushButton>(window.get(), "svgButton")};
    const char* const extensions[] = {"csv", "png", "svg"};
    int expectedBoxes = 0;
    for (const Case& c : cases) {
        for (int b = 0; b < 3; ++b) {
            SCOPED_TRACE(std::string(extensions[b]) + " step " +
                         std::to_string(static_cast<int>(c.step)) + " room " +
                         std::to_string(c.room));
            FaultyOutput full;
            full.failing = c.step;
            full.room = c.room;
            const ScopedOutputOperations scope(full);
            const QString fresh = dir.filePath(QStringLiteral("new.") + extensions[b]);
            const QString earlier = dir.filePath(QStringLiteral("earlier.") + extensions[b]);
            {
                QFile file(earlier);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write("the earlier export");
            }
            env.files.answers = {fresh, earlier};
            buttons[b]->click();
            buttons[b]->click();
            expectedBoxes += 2;
            const QStringList errors = env.messages.texts(MessageKind::Error);
            ASSERT_EQ(errors.size(), expectedBoxes);
            EXPECT_EQ(errors[expectedBoxes - 2],
                      QStringLiteral("Could not write %1: Disk full").arg(fresh));
            EXPECT_FALSE(QFile::exists(fresh));
            EXPECT_EQ(readAll(earlier), "the earlier export");
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
                << "no temporary file left";
            QFile::remove(earlier);
        }
    }
}

// An export into a pipe nobody reads says so after a short wait instead of
// holding the window, and the window goes on.
TEST_F(ExportFailure, APipeWithoutAReaderIsGivenUpWithAMessage) {
    const char* const buttons[] = {"csvButton", "pngButton", "svgButton"};
    const char* const extensions[] = {"csv", "png", "svg"};
    for (int b = 0; b < 3; ++b) {
        const QString fifo = dir.filePath(QStringLiteral("pipe.") + extensions[b]);
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        env.files.answers = {fifo};
        child<QPushButton>(window.get(), buttons[b])->click();
        const QStringList errors = env.messages.texts(MessageKind::Error);
        ASSERT_EQ(errors.size(), b + 1);
        EXPECT_EQ(errors.back().toStdString(),
                  QStringLiteral("Could not write %1: no program is reading this pipe")
                      .arg(fifo)
                      .toStdString());
    }
    window->compute();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, 20000));
}

// After an export that a folder refused, the dialog offers the folder that
// was written last, never the refusing one.
TEST_F(ExportFailure, TheDialogStartsInTheFolderWrittenLast) {
    QPushButton* const csv = child<QPushButton>(window.get(), "csvButton");
    QPushButton* const png = child<QPushButton>(window.get(), "pngButton");
    env.files.answers = {QStringLiteral("/proc/curve.csv"), dir.filePath(QStringLiteral("a.csv")),
                         QStringLiteral("/proc/b.csv")};
    csv->click();
    csv->click();
    csv->click();
    png->click();
    ASSERT_EQ(env.files.requests.size(), 4u);
    EXPECT_EQ(env.messages.texts(MessageKind::Error).size(), 2);
    EXPECT_EQ(env.files.requests[1].lastFileName, QStringLiteral("curve.csv"));
    EXPECT_EQ(env.files.requests[2].lastFileName, dir.filePath(QStringLiteral("a.csv")));
    EXPECT_EQ(env.files.requests[3].lastFileName, dir.filePath(QStringLiteral("b.png")));
}

TEST(PowerCommandOutputs, APipeWithoutAReaderEndsWithStatus1AndItsReason) {
    struct Case {
        std::string option, file, reason;
    };
    // The results file is a regular file or nothing: a pipe is refused at once.
    const Case cases[] = {{"--csv", "pipe.csv", "no program is reading this pipe"},
                          {"--plot", "pipe.png", "no program is reading this pipe"},
                          {"--results", "pipe.txt", "File access denied"}};
    QTemporaryDir dir;
    for (const Case& c : cases) {
        const std::string fifo = dir.filePath(QString::fromStdString(c.file)).toStdString();
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::ostringstream out, err;
        const int status = runPowerCommand(
            {"--model", "inbreeding", "--p", "0.4", "--f", "0.1", "--n", "20:100:20", "--level",
             "0.05", "--method", "simulate", "--nrep", "100", c.option, fifo},
            {out, err, false}, plotPowerPoints);
        EXPECT_EQ(status, 1) << err.str();
        EXPECT_NE(err.str().find(c.reason), std::string::npos) << err.str();
    }
}

TEST(PlotCommand, ANamedPipeWithAReaderGetsThePictureAndStaysAPipe) {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath(QStringLiteral("live.png")).toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FifoReader reader(fifo);
    ASSERT_TRUE(reader.opened());
    std::ostringstream out, err;
    const int status = runPowerCommand({"--model", "inbreeding", "--p", "0.4", "--f", "0.1", "--n",
                                        "20:100:20", "--level", "0.05", "--plot", fifo},
                                       {out, err, false}, plotPowerPoints);
    const std::string received = reader.finish();
    EXPECT_EQ(status, 0) << err.str();
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";
    const QImage picture = QImage::fromData(
        QByteArray(received.data(), static_cast<qsizetype>(received.size())), "PNG");
    EXPECT_EQ(picture.size(), QSize(900, 600));
}

TEST(PlotCommand, AFullDiskEndsWithStatus1AndLeavesTheEarlierPicture) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("curve.svg"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }
    FaultyOutput full;
    full.failing = FaultyOutput::Step::Write;
    full.room = 4096;
    const ScopedOutputOperations scope(full);
    std::ostringstream out, err;
    const int status = runPowerCommand({"--model", "hw", "--p", "0.3", "--n", "50:60:10", "--level",
                                        "0.05", "--plot", path.toStdString()},
                                       {out, err, false}, plotPowerPoints);
    const std::string line = err.str();
    EXPECT_EQ(status, 1);
    EXPECT_NE(line.find("Disk full"), std::string::npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_EQ(readAll(path), "earlier");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
}  // namespace zyg::testing
