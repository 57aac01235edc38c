// The help file and the help window that shows it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>
#include <memory>

#include "platform/HelpWindow.h"
#include "platform/Services.h"
#include "support/QtPrinters.h"

namespace zyg {
namespace {

// From the source folder CMake names: __FILE__ is relative when a compiler
// cache rewrites the paths, and the tests run in the build folder.
QString sourceHelpFile() {
    return QDir(QStringLiteral(ZYG_SOURCE_DIR))
        .filePath(QStringLiteral("resources/ZYGOMETHELP.HLP"));
}

QString readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

// The text of the line at the top of the browser's view.
QString topLine(const QTextBrowser& browser) {
    return browser.cursorForPosition(QPoint(8, 8)).block().text().trimmed();
}

class UrlRecorder final : public UrlOpener {
public:
    void open(const QString& url) override { opened.append(url); }
    QStringList opened;
};

// Where the program looks for its help file: beside itself (the build tree)
// first, then in share/zygomet next to its bin folder (the installed package).
TEST(HelpFile, IsFoundBesideTheProgramOrInTheSharedFolderOfItsInstallation) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath(QStringLiteral("usr/bin")));
    ASSERT_TRUE(dir.mkpath(QStringLiteral("usr/share/zygomet")));
    const QString bin = dir.filePath(QStringLiteral("usr/bin"));
    const QString beside = bin + QStringLiteral("/ZYGOMETHELP.HLP");
    const QString shared = dir.filePath(QStringLiteral("usr/share/zygomet/ZYGOMETHELP.HLP"));
    auto touch = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0;
    };

    // Neither exists: the path beside the program, which the help window
    // then names as missing.
    EXPECT_EQ(helpFileFor(bin), beside);

    ASSERT_TRUE(touch(shared));
    EXPECT_EQ(helpFileFor(bin), shared);
    // A folder given with a trailing separator reaches the same file.
    EXPECT_EQ(helpFileFor(bin + QStringLiteral("/")), shared);

    ASSERT_TRUE(touch(beside));
    EXPECT_EQ(helpFileFor(bin), beside);

    // A folder of that name is not a help file.
    ASSERT_TRUE(QFile::remove(beside));
    ASSERT_TRUE(QFile::remove(shared));
    ASSERT_TRUE(dir.mkpath(QStringLiteral("usr/share/zygomet/ZYGOMETHELP.HLP")));
    EXPECT_EQ(helpFileFor(bin), beside);
}

TEST(HelpFile, HasATopicForEveryHelpContextAndNoDanglingLink) {
    const QString html = readAll(sourceHelpFile());
    ASSERT_FALSE(html.isEmpty()) << sourceHelpFile().toStdString();

    QSet<QString> anchors;
    for (const auto& match :
         QRegularExpression(QStringLiteral("name=\"([^\"]+)\"")).globalMatch(html))
        anchors.insert(match.captured(1));
    for (const int context : helpContextNumbers())
        EXPECT_TRUE(anchors.contains(helpTopicAnchor(context))) << context;
    EXPECT_EQ(helpContextNumbers().size(), 18u);

    for (const auto& match :
         QRegularExpression(QStringLiteral("href=\"#([^\"]+)\"")).globalMatch(html))
        EXPECT_TRUE(anchors.contains(match.captured(1))) << match.captured(1).toStdString();
}

class HelpWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<HelpWindow>(); }
    void settle() { QCoreApplication::processEvents(); }

    std::unique_ptr<HelpWindow> window;
};

TEST_F(HelpWindowTest, ShowsTheContentsAndATopic) {
    window->showContents(sourceHelpFile());
    settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zygomet Help"));
    EXPECT_TRUE(window->fileShown());
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Zygomet Help"));

    window->showTopic(sourceHelpFile(), 1002);
    settle();
    EXPECT_GT(window->browser()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Wahlund model (divided population)"));

    // Back returns to the contents, Forward to the topic.
    auto* back = window->findChild<QToolButton*>(QStringLiteral("BackButton"));
    auto* forward = window->findChild<QToolButton*>(QStringLiteral("ForwardButton"));
    ASSERT_TRUE(back && forward);
    ASSERT_TRUE(back->isEnabled());
    back->click();
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Zygomet Help"));
    EXPECT_FALSE(back->isEnabled());
    forward->click();
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Wahlund model (divided population)"));

    // A context number that the file has no topic for shows the contents.
    window->showTopic(sourceHelpFile(), 9999);
    settle();
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Zygomet Help"));

    // Esc closes it, from the page as from the buttons.
    window->activateWindow();
    QTest::keyClick(window->browser(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

// The example results line may not wrap; on a screen with room for it the
// window is as wide as it, so no page scrolls sideways.
TEST_F(HelpWindowTest, NoPageScrollsSidewaysWhenTheScreenHasRoom) {
    window->showTopic(sourceHelpFile(), 7001);
    settle();
    window->fitWidthToText(1024);
    settle();
    EXPECT_LE(window->width(), 1024);
    EXPECT_EQ(window->browser()->horizontalScrollBar()->maximum(), 0);
    // A narrower screen keeps the window within it.
    auto fresh = std::make_unique<HelpWindow>();
    fresh->showContents(sourceHelpFile());
    EXPECT_GT(fresh->width(), 640);
    EXPECT_LE(fresh->width(), fresh->screen()->availableGeometry().width());
}

TEST_F(HelpWindowTest, LinksMoveBetweenTopicsAndWebLinksGoToTheDesktop) {
    UrlRecorder urls;
    Services replacement = services();
    replacement.urls = &urls;
    ScopedServices scoped(replacement);

    window->showContents(sourceHelpFile());
    settle();
    emit window->browser()->anchorClicked(QUrl(QStringLiteral("#topic5002")));
    settle();
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("G test (log-likelihood ratio)"));

    emit window->browser()->anchorClicked(QUrl(QStringLiteral("https://example.org/x.html")));
    EXPECT_EQ(urls.opened, QStringList{QStringLiteral("https://example.org/x.html")});
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("G test (log-likelihood ratio)"));
}

TEST_F(HelpWindowTest, ReportsAMissingFileInItsOwnWordsAndShowsItOnceItIsThere) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("ZYGOMETHELP.HLP"));

    window->showTopic(path, 3000);
    settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->fileShown());
    EXPECT_EQ(window->browser()->toPlainText(), missingHelpFileText(path));
    EXPECT_EQ(missingHelpFileText(QStringLiteral("/x/ZYGOMETHELP.HLP")),
              QStringLiteral("Cannot find the help file /x/ZYGOMETHELP.HLP."));

    // A folder of that name is no help file either.
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("ZYGOMETHELP.HLP")));
    window->showContents(path);
    EXPECT_EQ(window->browser()->toPlainText(), missingHelpFileText(path));
    ASSERT_TRUE(QDir(folder.path()).rmdir(QStringLiteral("ZYGOMETHELP.HLP")));

    // Contents reads the file again.
    ASSERT_TRUE(QFile::copy(sourceHelpFile(), path));
    window->findChild<QToolButton*>(QStringLiteral("ContentsButton"))->click();
    settle();
    EXPECT_TRUE(window->fileShown());
    EXPECT_EQ(topLine(*window->browser()), QStringLiteral("Zygomet Help"));
}

TEST(HelpViewerService, OneWindowServesEveryRequestAndGoesWithItsOwner) {
    HelpWindowViewer viewer;
    auto owner = std::make_unique<QWidget>();
    viewer.showContents(owner.get(), sourceHelpFile());
    QPointer<HelpWindow> first = viewer.window();
    ASSERT_FALSE(first.isNull());
    EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));
    viewer.showTopic(owner.get(), sourceHelpFile(), 8000);
    EXPECT_EQ(viewer.window(), first.data());

    owner.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

}  // namespace
}  // namespace zyg
