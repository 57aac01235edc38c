#include "widgets/PlainTextBox.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <memory>

#include "platform/ErrorBoundary.h"

namespace zyg {

namespace {

QString plainText(const QMimeData* source) {
    if (!source || !source->hasText()) return {};
    return source->text();
}

}  // namespace

PlainTextBox::PlainTextBox(QWidget* parent) : QPlainTextEdit(parent) {}

void PlainTextBox::setLimits(int lineLimit, int textLimit) {
    lineLimit_ = lineLimit;
    textLimit_ = textLimit;
}

QString PlainTextBox::clipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? plainText(clipboard->mimeData(QClipboard::Clipboard)) : QString();
}

int PlainTextBox::firstLongLine(const QString& text) const {
    int line = 1;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0) end = text.size();
        if (end - start > lineLimit_) return line;
        if (end == text.size()) return 0;
        start = end + 1;
        ++line;
    }
}

QString PlainTextBox::refusalFor(const QString& text) const {
    const QTextCursor cursor = textCursor();
    const qsizetype kept =
        document()->characterCount() - 1 - (cursor.selectionEnd() - cursor.selectionStart());
    if (kept + text.size() > textLimit_)
        return QStringLiteral("the box holds at most %1 characters").arg(textLimit_);
    // The lines as they will be: what stays of the first and last lines the
    // selection touches, with the new text between them.
    QTextCursor start(cursor), end(cursor);
    start.setPosition(cursor.selectionStart());
    end.setPosition(cursor.selectionEnd());
    const QString before = start.block().text().left(start.positionInBlock());
    const QString after = end.block().text().mid(end.positionInBlock());
    if (firstLongLine(before + text + after) != 0)
        return QStringLiteral("a line holds at most %1 characters").arg(lineLimit_);
    return {};
}

bool PlainTextBox::insertChecked(const QString& text) {
    if (text.isEmpty()) return true;
    if (const QString refusal = refusalFor(text); !refusal.isEmpty()) {
        if (OnRefused) OnRefused(refusal);
        return false;
    }
    insertPlainText(text);
    return true;
}

void PlainTextBox::pasteText() {
    if (isReadOnly()) return;
    insertChecked(clipboardText());
}

bool PlainTextBox::canInsertFromMimeData(const QMimeData* source) const {
    return !isReadOnly() && source && source->hasText();
}

void PlainTextBox::insertFromMimeData(const QMimeData* source) {
    guarded([&] {
        if (!isReadOnly()) insertChecked(plainText(source));
    });
}

void PlainTextBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        guarded([&] { pasteText(); });
        event->accept();
        return;
    }
    // A typed character that would make its line, or the text, too long.
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.at(0).isPrint() && !isReadOnly()) {
        QString refusal;
        guarded([&] { refusal = refusalFor(typed); });
        if (!refusal.isEmpty()) {
            if (OnRefused) guarded([&] { OnRefused(refusal); });
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void PlainTextBox::contextMenuEvent(QContextMenuEvent* event) {
    guarded([&] {
        const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
        // The menu's Paste goes through this box's own paste.
        for (QAction* action : menu->actions()) {
            if (action->objectName() != QStringLiteral("edit-paste")) continue;
            action->disconnect();
            action->setEnabled(!isReadOnly() && !clipboardText().isEmpty());
            connect(action, &QAction::triggered, this, [this] { guarded([&] { pasteText(); }); });
        }
        menu->exec(event->globalPos());
    });
}

}  // namespace zyg
