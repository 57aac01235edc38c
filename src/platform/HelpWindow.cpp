#include "platform/HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "platform/ErrorBoundary.h"
#include "platform/Pictures.h"

namespace zyg {

namespace {

constexpr std::array<int, 18> kHelpContexts{1000, 1001, 1002, 1003, 1004, 2000, 2001, 2002, 2003,
                                            2004, 3000, 4000, 5000, 5001, 5002, 6001, 7001, 8000};

QToolButton* makeButton(QWidget* parent, const QString& text, QStyle::StandardPixmap icon,
                        const QKeySequence& shortcut) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setShortcut(shortcut);
    return button;
}

}  // namespace

std::span<const int> helpContextNumbers() { return kHelpContexts; }

QString helpTopicAnchor(int context) { return QStringLiteral("topic%1").arg(context); }

QString helpFileFor(const QString& programDir) {
    const QDir dir(programDir);
    const QString name = QStringLiteral("ZYGOMETHELP.HLP");
    const QString beside = dir.filePath(name);
    if (QFileInfo(beside).isFile()) return beside;
    const QString shared =
        QDir::cleanPath(dir.filePath(QStringLiteral("../share/zygomet/") + name));
    if (QFileInfo(shared).isFile()) return shared;
    return beside;
}

QString missingHelpFileText(const QString& helpFile) {
    return QStringLiteral("Cannot find the help file %1.").arg(QDir::toNativeSeparators(helpFile));
}

QString unreadableHelpFileText(const QString& helpFile) {
    return QStringLiteral("Cannot read the help file %1.").arg(QDir::toNativeSeparators(helpFile));
}

// Esc closes the help as it closes every other window of the program; the
// page and the buttons leave it to the window.
void HelpWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        guarded([&] { close(); });
        return;
    }
    QWidget::keyPressEvent(e);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Zygomet Help"));
    setWindowIcon(windowIcon());
    // The help window never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(640, 560);

    backButton_ = makeButton(this, QStringLiteral("&Back"), QStyle::SP_ArrowBack,
                             QKeySequence(Qt::ALT | Qt::Key_Left));
    forwardButton_ = makeButton(this, QStringLiteral("&Forward"), QStyle::SP_ArrowForward,
                                QKeySequence(Qt::ALT | Qt::Key_Right));
    contentsButton_ = makeButton(this, QStringLiteral("&Contents"), QStyle::SP_DirHomeIcon,
                                 QKeySequence(Qt::ALT | Qt::Key_Home));
    backButton_->setObjectName(QStringLiteral("BackButton"));
    forwardButton_->setObjectName(QStringLiteral("ForwardButton"));
    contentsButton_->setObjectName(QStringLiteral("ContentsButton"));

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    // Links are followed here rather than by the browser, which would try to
    // load web pages itself.
    browser_->setOpenLinks(false);
    browser_->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 4, 4, 0);
    buttons->addWidget(backButton_);
    buttons->addWidget(forwardButton_);
    buttons->addWidget(contentsButton_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(buttons);
    layout->addWidget(browser_);

    connect(backButton_, &QToolButton::clicked, this, [this] {
        guarded([&] {
            if (historyIndex_ > 0) showAnchor(history_[--historyIndex_]);
            updateButtons();
        });
    });
    connect(forwardButton_, &QToolButton::clicked, this, [this] {
        guarded([&] {
            if (historyIndex_ + 1 < history_.size()) showAnchor(history_[++historyIndex_]);
            updateButtons();
        });
    });
    connect(contentsButton_, &QToolButton::clicked, this,
            [this] { guarded([&] { open(helpFile_, QString()); }); });
    connect(browser_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { guarded([&] { followLink(url); }); });
    updateButtons();
}

void HelpWindow::showContents(const QString& helpFile) { open(helpFile, QString()); }

void HelpWindow::showTopic(const QString& helpFile, int context) {
    open(helpFile, helpTopicAnchor(context));
}

void HelpWindow::open(const QString& helpFile, const QString& anchor) {
    show();
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    load(helpFile);
    if (fileShown_) go(anchor);
}

void HelpWindow::load(const QString& helpFile) {
    if (helpFile != helpFile_) {
        history_.clear();
        historyIndex_ = -1;
    }
    helpFile_ = helpFile;
    fileShown_ = false;

    const QFileInfo info(helpFile);
    if (helpFile.isEmpty() || !info.exists() || info.isDir()) {
        showMessage(missingHelpFileText(helpFile));
        return;
    }
    QFile file(helpFile);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(unreadableHelpFileText(helpFile));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        showMessage(unreadableHelpFileText(helpFile));
        return;
    }
    // The file declares its encoding in a meta tag; UTF-8 without one.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    const QString html = decoder.isValid() ? QString(decoder(bytes)) : QString::fromUtf8(bytes);

    browser_->document()->setBaseUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    browser_->setHtml(html);
    // The places a topic can be shown at: the names and ids in the file.
    anchors_.clear();
    static const QRegularExpression anchorName(
        QStringLiteral("\\b(?:name|id)\\s*=\\s*[\"']([^\"']+)[\"']"));
    for (const QRegularExpressionMatch& match : anchorName.globalMatch(html))
        anchors_.insert(match.captured(1));
    fileShown_ = true;
    if (const QScreen* s = screen()) fitWidthToText(s->availableGeometry().width());
}

void HelpWindow::fitWidthToText(int availableWidth) {
    // Prose wraps to any width; a line that may not wrap (the example of a
    // results line) would make every page scroll sideways. The window grows
    // to show it whole, as far as the screen allows.
    const int overflow = static_cast<int>(std::ceil(browser_->document()->size().width())) -
                         browser_->viewport()->width();
    if (overflow <= 0) return;
    resize(std::min(width() + overflow, std::max(availableWidth, width())), height());
}

void HelpWindow::showMessage(const QString& text) {
    history_.clear();
    historyIndex_ = -1;
    // A fresh document, so that nothing of the help file's styles remains.
    browser_->document()->setBaseUrl(QUrl());
    browser_->setHtml(QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped()));
    updateButtons();
}

void HelpWindow::go(const QString& wanted) {
    const QString anchor = anchors_.contains(wanted) ? wanted : QString();
    // A new visit drops the topics that Forward would have returned to.
    if (historyIndex_ + 1 < history_.size()) history_.resize(historyIndex_ + 1);
    if (history_.isEmpty() || history_.back() != anchor) history_.append(anchor);
    historyIndex_ = history_.size() - 1;
    showAnchor(anchor);
    updateButtons();
}

void HelpWindow::showAnchor(const QString& anchor) {
    if (anchor.isEmpty()) {
        browser_->verticalScrollBar()->setValue(0);
        browser_->moveCursor(QTextCursor::Start);
    } else {
        // The browser puts the anchor's line at the top of the view; while
        // the window is still hidden it does so when the window appears.
        browser_->scrollToAnchor(anchor);
    }
}

void HelpWindow::followLink(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == u"http" || scheme == u"https" || scheme == u"mailto") {
        services().urls->open(url.toString());
        return;
    }
    if (!fileShown_) return;
    // A link to a topic of this file: "#topic2001", or the file's own name
    // with a fragment.
    const QUrl resolved = browser_->document()->baseUrl().resolved(url);
    const QString target = QFileInfo(resolved.toLocalFile()).absoluteFilePath();
    if (resolved.isLocalFile() && target == QFileInfo(helpFile_).absoluteFilePath())
        go(url.fragment());
}

void HelpWindow::updateButtons() {
    backButton_->setEnabled(fileShown_ && historyIndex_ > 0);
    forwardButton_->setEnabled(fileShown_ && historyIndex_ + 1 < history_.size());
}

void HelpWindowViewer::showContents(QWidget* owner, const QString& helpFile) {
    windowFor(owner)->showContents(helpFile);
}

void HelpWindowViewer::showTopic(QWidget* owner, const QString& helpFile, int context) {
    windowFor(owner)->showTopic(helpFile, context);
}

HelpWindow* HelpWindowViewer::windowFor(QWidget* owner) {
    if (window_.isNull()) {
        window_ = new HelpWindow;
        if (owner != nullptr)
            QObject::connect(owner->window(), &QObject::destroyed, window_.data(),
                             &QObject::deleteLater);
    }
    return window_.data();
}

}  // namespace zyg
