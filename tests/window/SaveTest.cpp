// Save and Save As from the window: the dialog, the header, appending, and
// the failures that leave the Save commands enabled.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "WindowFixture.h"
#include "platform/Locale.h"
#include "support/FaultyOutput.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

const QByteArray kHeaderStart =
    "     model       p     var       f     w11     w12     w22       n    nrep X2>0.05 X2>0.01  "
    "G>0.05  G>0.01   %X2ok    %Gok  Q9 Zygomet";

class Save : public WindowTest {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static QList<QByteArray> lines(const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QList<QByteArray> r = f.readAll().split('\n');
        EXPECT_TRUE(r.last().isEmpty());  // every line ends with CR LF
        r.removeLast();
        for (QByteArray& line : r) {
            EXPECT_TRUE(line.endsWith('\r'));
            line.chop(1);
        }
        return r;
    }
    void runWith(const char* nrep) {
        form->NRComboBox->setText(QString::fromLatin1(nrep));
        form->RunButton->click();
        ASSERT_TRUE(saveCommandsEnabled());
    }
};

}  // namespace

TEST_F(Save, FirstSaveAsksThenLaterSavesAppend) {
    runWith("100");
    env.files.answers.push_back(path("results.txt"));
    form->SaveButton->click();
    ASSERT_EQ(env.files.requests.size(), 1u);
    EXPECT_EQ(env.files.requests[0].filter, "Text files|*.txt|All files|*.*");
    EXPECT_EQ(env.files.requests[0].defaultExtension, "txt");
    EXPECT_EQ(form->currentFileName, path("results.txt"));
    EXPECT_TRUE(saveCommandsDisabled());

    auto content = lines(path("results.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[0].startsWith(kHeaderStart));
    const QByteArray expectedStart =
        "       H-W  0.4000       0       0       1       1       1     100     100";
    EXPECT_TRUE(content[1].startsWith(expectedStart)) << content[1].toStdString();
    EXPECT_EQ(content[1].size(), 122);
    EXPECT_TRUE(content[1].endsWith("  100.00    0.00"));
    EXPECT_EQ(content[1].mid(74, 8).trimmed(), form->X2_05AdvEdit->text().toLatin1());

    // A second run, Ctrl+S: one more line, no header, no dialog.
    form->pAdvSpinEdit->setFloatValue(0.25);
    runWith("10");
    form->SaveButton->setFocus();
    QTest::keyClick(form->SaveButton, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(env.files.requests.size(), 1u);
    content = lines(path("results.txt"));
    ASSERT_EQ(content.size(), 3);
    EXPECT_TRUE(content[2].startsWith("       H-W  0.2500"));
}

TEST_F(Save, SaveAsStartsANewFileAndCancelKeepsSaveEnabled) {
    QFile old(path("old.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a line that must go\r\nand another\r\n");
    old.close();

    runWith("10");
    env.files.answers.push_back(std::nullopt);  // cancelled
    form->SaveAsButton->click();
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(form->currentFileName, "Untitled");

    env.files.answers.push_back(path("old.txt"));
    form->SaveAsButton->click();
    const auto content = lines(path("old.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[0].startsWith(kHeaderStart));
    // The dialog opens with the last name chosen in it.
    runWith("10");
    form->SaveAsButton->click();
    ASSERT_EQ(env.files.requests.size(), 3u);
    EXPECT_EQ(env.files.requests[2].lastFileName, path("old.txt"));
}

TEST_F(Save, TheCurrentFileDeletedBetweenSaves) {
    runWith("10");
    env.files.answers.push_back(path("gone.txt"));
    form->SaveButton->click();
    ASSERT_TRUE(QFile::remove(path("gone.txt")));
    runWith("10");
    form->SaveButton->click();
    EXPECT_EQ(commandErrors(), QStringList{"File not found."});
    EXPECT_FALSE(QFile::exists(path("gone.txt")));
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(form->currentFileName, path("gone.txt"));
}

TEST_F(Save, AFolderThatCannotBeWrittenReportsAccessDenied) {
    runWith("10");
    env.files.answers.push_back(dir.path());  // a folder, not a file
    form->SaveButton->click();
    EXPECT_EQ(commandErrors(), QStringList{"File access denied."});
    EXPECT_TRUE(saveCommandsEnabled());
}

TEST_F(Save, ACommaLocaleStillWritesPoints) {
    setLocaleSeparators({",", "."});
    form->pAdvSpinEdit->setFloatValue(0.45);
    runWith("100");
    EXPECT_TRUE(form->X2_05AdvEdit->text().contains(','));
    env.files.answers.push_back(path("comma.txt"));
    form->SaveButton->click();
    resetLocaleSeparators();
    const auto content = lines(path("comma.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[1].startsWith("       H-W  0.4500")) << content[1].toStdString();
    EXPECT_FALSE(content[1].contains(','));
}

TEST_F(Save, SelectionWritesItsFitnesses) {
    form->SRadioButton->setChecked(true);
    form->W11AdvSpinEdit->setFloatValue(10);
    form->GCheckBox->setChecked(true);
    form->X2CheckBox->setChecked(false);
    runWith("10");
    env.files.answers.push_back(path("sel.txt"));
    form->SaveButton->click();
    const auto content = lines(path("sel.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[1].startsWith(" Selection  0.4000       0       0 10.0000  1.0000  0.9100"))
        << content[1].toStdString();
    EXPECT_EQ(content[1].mid(74, 16), QByteArray(16, ' '));  // X2 was off
    EXPECT_TRUE(content[1].endsWith("    0.00  100.00"));
}

// A named pipe in place of the results file would hold the window until
// some other program read it: it is refused at once, with Save still enabled.
TEST_F(Save, APipeIsRefusedAtOnceAndNothingWaits) {
    const QByteArray pipe = QFile::encodeName(path("r.txt"));
    ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
    runWith("10");
    env.files.answers.push_back(path("r.txt"));
    form->SaveButton->click();  // would block here if the pipe were opened
    EXPECT_EQ(commandErrors(), QStringList{"File access denied."});
    EXPECT_TRUE(saveCommandsEnabled());
    // The name is current; Ctrl+S refuses it again.
    clearErrors();
    form->SaveButton->click();
    EXPECT_EQ(commandErrors(), QStringList{"File access denied."});
}

// The file that a failed creating save left empty gets its header with the
// next line saved to it.
TEST_F(Save, AnEmptyCurrentFileGetsItsHeaderFirst) {
    runWith("10");
    env.files.answers.push_back(path("empty.txt"));
    form->SaveButton->click();
    QFile file(path("empty.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));  // as a full disk left it
    file.close();
    runWith("10");
    form->SaveButton->click();
    const auto content = lines(path("empty.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[0].startsWith(kHeaderStart));
    EXPECT_TRUE(content[1].startsWith("       H-W  0.4000"));
}

// A new file that the disk had no room for is not left behind empty; the
// next Save, once there is room, creates it with its header.
TEST_F(Save, AFullDiskLeavesNoNewFileAndTheNextSaveCreatesIt) {
    runWith("10");
    {
        FaultyFileOperations full;
        full.room = 0;
        const ScopedFileOperations scope(full);
        env.files.answers.push_back(path("new.txt"));
        form->SaveButton->click();
    }
    EXPECT_EQ(commandErrors(), QStringList{"Disk full."});
    EXPECT_FALSE(QFile::exists(path("new.txt")));
    EXPECT_TRUE(saveCommandsEnabled());
    form->SaveButton->click();
    EXPECT_EQ(env.files.requests.size(), 1u);
    const auto content = lines(path("new.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_TRUE(content[0].startsWith(kHeaderStart));
}

// A folder that refused the file is not where the dialog opens next.
TEST_F(Save, TheDialogOpensInTheFolderWrittenLast) {
    runWith("10");
    env.files.answers = {QStringLiteral("/proc/x.txt"), path("a.txt"),
                         QStringLiteral("/proc/b.txt")};
    form->SaveAsButton->click();
    form->SaveAsButton->click();
    runWith("10");
    form->SaveAsButton->click();
    form->SaveAsButton->click();
    ASSERT_EQ(env.files.requests.size(), 4u);
    EXPECT_EQ(commandErrors().size(), 2);
    EXPECT_EQ(env.files.requests[1].lastFileName, QStringLiteral("x.txt"));
    EXPECT_EQ(env.files.requests[3].lastFileName, path("b.txt"));
}

// A size typed unusually reaches the file in plain decimal, whether or not
// the box was left before saving.
TEST_F(Save, TheSampleSizeColumnIsPlainDecimal) {
    typeInto(form->nEdit, "$FF");
    QTest::keyClick(form->nEdit, Qt::Key_Return);  // runs, the box keeps the focus
    ASSERT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(form->nEdit->text(), "$FF");
    env.files.answers.push_back(path("n.txt"));
    QTest::keyClick(form->nEdit, Qt::Key_S, Qt::ControlModifier);
    const auto content = lines(path("n.txt"));
    ASSERT_EQ(content.size(), 2);
    EXPECT_EQ(content[1].mid(58, 8), "     255");
}
