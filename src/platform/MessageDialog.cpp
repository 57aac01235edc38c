#include "platform/MessageDialog.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Title.h"

namespace zyg {

namespace {

// The margin kept free between the box and the screen's edges.
constexpr int kScreenMargin = 16;

}  // namespace

QString breakLongWords(const QString& text, const QFontMetrics& metrics, int width) {
    QString result;
    result.reserve(text.size());
    QString word;
    const auto flush = [&] {
        if (metrics.horizontalAdvance(word) <= width) {
            result += word;
        } else {
            QString piece;
            for (const QChar c : word) {
                if (!piece.isEmpty() && metrics.horizontalAdvance(piece + c) > width) {
                    result += piece + u'\n';
                    piece.clear();
                }
                piece += c;
            }
            result += piece;
        }
        word.clear();
    };
    for (const QChar c : text) {
        if (c == u' ' || c == u'\n') {
            flush();
            result += c;
        } else {
            word += c;
        }
    }
    flush();
    return result;
}

MessageDialog::MessageDialog(MessageKind kind, const QString& text, const QRect& screen,
                             QWidget* parent)
    : QDialog(parent) {
    QStyle::StandardPixmap icon = QStyle::SP_MessageBoxCritical;
    switch (kind) {
        case MessageKind::Error: setWindowTitle(QStringLiteral("Error")); break;
        case MessageKind::Information:
            setWindowTitle(QStringLiteral("Information"));
            icon = QStyle::SP_MessageBoxInformation;
            break;
        case MessageKind::ApplicationError: setWindowTitle(kApplicationTitle); break;
    }
    setWindowModality(Qt::ApplicationModal);

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("MessageIcon"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    iconLabel->setPixmap(style()->standardIcon(icon, nullptr, this).pixmap(iconSize, iconSize));
    iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("MessageText"));
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->setSpacing(style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) * 2);
    row->addWidget(iconLabel, 0, Qt::AlignTop);
    row->addWidget(text_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The widest the text may be for the box to fit the screen.
    const QMargins margins = layout->contentsMargins();
    const int room = screen.width() - 2 * kScreenMargin - margins.left() - margins.right() -
                     iconLabel->sizeHint().width() - row->spacing();
    const QFontMetrics metrics(text_->font());
    const int limit = std::max(room, metrics.averageCharWidth() * 10);

    // A lone carriage return starts a new line of the message.
    const QString lines = QString(text).replace(u'\r', u'\n');
    text_->setText(breakLongWords(lines, metrics, limit));
    int widest = 0;
    for (const QString& line : lines.split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // One pixel more than the widest line, so that rounding never wraps it.
    text_->setFixedWidth(std::min(widest + 1, limit));
    text_->setMinimumHeight(text_->heightForWidth(text_->width()));

    adjustSize();
    // Centred on the screen at its final size.
    move(screen.center() - rect().center());
}

}  // namespace zyg
