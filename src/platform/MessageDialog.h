#pragma once

// The program's message box: an icon, the message and an OK button, sized to
// its text and centred on the screen once its final size is known. Each line
// of the message stays whole when the screen has room for it; a line wider
// than the screen wraps at its blanks, and a word wider than the screen (a
// long quoted text) is broken inside, so that the box always fits.

#include <QDialog>
#include <QRect>
#include <QString>

#include "platform/Services.h"

class QFontMetrics;
class QLabel;
class QPushButton;

namespace zyg {

// The message with a line break inserted inside every word that is wider
// than `width` pixels, so that word wrapping can keep each piece within it.
QString breakLongWords(const QString& text, const QFontMetrics& metrics, int width);

class MessageDialog final : public QDialog {
public:
    // `screen` is the available area of the screen the box appears on.
    MessageDialog(MessageKind kind, const QString& text, const QRect& screen,
                  QWidget* parent = nullptr);

    QLabel* textLabel() const { return text_; }
    QPushButton* okButton() const { return ok_; }

private:
    QLabel* text_;
    QPushButton* ok_;
};

}  // namespace zyg
