#pragma once

// A multi-line box of plain text that pastes through its own handler and
// keeps its text within bounds.
// - Paste (Ctrl+V, Shift+Insert, the context menu, a middle click, a drop)
//   takes only plain text, read from the clipboard defensively: a clipboard
//   that nobody owns, or that holds no text, pastes nothing. Qt's own paste
//   is never reached, since its text control crashes on a clipboard that
//   nobody owns.
// - No line grows longer than lineLimit() characters and the whole text
//   beyond textLimit(): an insertion that would is refused as a whole and
//   OnRefused hears why. Laying out one line of a million characters takes
//   the text control minutes, and every key typed into it as long again.

#include <QPlainTextEdit>
#include <functional>

class QMimeData;

namespace zyg {

class PlainTextBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit PlainTextBox(QWidget* parent = nullptr);

    void setLimits(int lineLimit, int textLimit);
    int lineLimit() const { return lineLimit_; }
    int textLimit() const { return textLimit_; }

    // Pastes the clipboard's plain text at the cursor, if it has any and it
    // fits.
    void pasteText();
    // The first line of text longer than the line limit, counted from 1, or
    // 0 when every line fits.
    int firstLongLine(const QString& text) const;

    // Why an insertion was refused: "a line holds at most 1000 characters".
    std::function<void(const QString& why)> OnRefused;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Inserts text in place of the selection when the result stays within
    // the limits, else tells OnRefused.
    bool insertChecked(const QString& text);
    // Why text may not take the selection's place, or the empty text.
    QString refusalFor(const QString& text) const;
    // The clipboard's plain text, or the empty text when it has none.
    static QString clipboardText();

    int lineLimit_ = 1000;
    int textLimit_ = 1 << 20;
};

}  // namespace zyg
