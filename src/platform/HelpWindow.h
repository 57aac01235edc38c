#pragma once

// The program's help viewer: a window of its own that shows the help file
// (HTML) at its contents or at the topic of a help context number.

#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <span>

#include "platform/Services.h"

class QKeyEvent;
class QTextBrowser;
class QToolButton;

namespace zyg {

// The help context numbers that the main window's controls and menu items
// carry; the help file has one topic for each.
std::span<const int> helpContextNumbers();

// The name of the anchor of a help context number's topic ("topic2001").
QString helpTopicAnchor(int context);

// The help file of a program installed in programDir: "ZYGOMETHELP.HLP"
// beside the executable when it is there (the build tree, a copied folder),
// otherwise in share/zygomet beside the executable's bin folder when it is
// there (an installed package). When neither exists it is the path beside the
// executable, so that the help window names the file it looked for.
QString helpFileFor(const QString& programDir);

// The texts the help window shows instead of the help file when it cannot
// show the file.
QString missingHelpFileText(const QString& helpFile);
QString unreadableHelpFileText(const QString& helpFile);

// A non-modal top-level window with Back, Forward and Contents buttons over a
// text browser. It reads the help file anew each time it is asked to show
// it, so a file restored while the program runs shows without a restart.
// Links within the file move between its topics; web links go to the
// desktop's URL opener.
class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the file at its start (the contents) or at a topic, and brings
    // the window to the front. A context number without a topic in the file
    // shows the contents. A missing or unreadable file is reported in
    // the window; it never raises an error.
    void showContents(const QString& helpFile);
    void showTopic(const QString& helpFile, int context);

    // The file last asked for, and whether it could be shown.
    [[nodiscard]] QString helpFile() const { return helpFile_; }
    [[nodiscard]] bool fileShown() const { return fileShown_; }
    [[nodiscard]] QTextBrowser* browser() const { return browser_; }

    // Widens the window, up to `availableWidth`, until the lines of the file
    // that may not wrap fit without sideways scrolling.
    void fitWidthToText(int availableWidth);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void open(const QString& helpFile, const QString& anchor);
    void showMessage(const QString& text);
    void followLink(const QUrl& url);
    void updateButtons();

    void load(const QString& helpFile);
    void go(const QString& wanted);
    void showAnchor(const QString& anchor);

    QTextBrowser* browser_;
    QToolButton* backButton_;
    QToolButton* forwardButton_;
    QToolButton* contentsButton_;
    QString helpFile_;
    bool fileShown_ = false;
    // The topics visited since the file was last loaded, "" for the contents.
    QSet<QString> anchors_;  // the anchor names of the file shown
    QStringList history_;
    qsizetype historyIndex_ = -1;
};

// The HelpViewer service through one HelpWindow, made on first use and reused
// for every later request. The window is a top-level window of its own that
// never keeps the program running, and it goes when its first owner goes.
class HelpWindowViewer final : public HelpViewer {
public:
    void showContents(QWidget* owner, const QString& helpFile) override;
    void showTopic(QWidget* owner, const QString& helpFile, int context) override;

    // The window, once a request has made it; null before that.
    [[nodiscard]] HelpWindow* window() const { return window_.data(); }

private:
    HelpWindow* windowFor(QWidget* owner);

    QPointer<HelpWindow> window_;
};

}  // namespace zyg
