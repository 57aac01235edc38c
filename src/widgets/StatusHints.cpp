#include "widgets/StatusHints.h"

#include <QApplication>
#include <QCursor>
#include <QTimer>
#include <QVariant>

#include "platform/ErrorBoundary.h"

namespace zyg {

namespace {

const char* const kHintProperty = "zygometHint";
const char* const kHelpProperty = "zygometHelpContext";

}  // namespace

StatusBar::StatusBar(QWidget* parent, int width) : QFrame(parent) {
    const int widths[2] = {650, 50};
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setAlignment((i == 0 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
        // The last panel takes whatever width is left.
        panel->setGeometry(x, 1, i == 0 ? widths[i] - 2 : width - x, 18);
        panel->setTextFormat(Qt::PlainText);
        x += widths[i];
        panels_[static_cast<std::size_t>(i)] = panel;
    }
}

QString StatusBar::panelText(int panel) const { return panels_.at(panel)->text(); }

void StatusBar::setPanelText(int panel, const QString& text) { panels_.at(panel)->setText(text); }

void setHint(QObject* control, const QString& hint) { control->setProperty(kHintProperty, hint); }

QString hintOf(const QObject* control) { return control->property(kHintProperty).toString(); }

void setHelpContext(QObject* control, int context) { control->setProperty(kHelpProperty, context); }

int helpContextOf(const QObject* control) { return control->property(kHelpProperty).toInt(); }

QString hintText(const QString& hint) {
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.mid(bar + 1);
}

HoverHints::HoverHints(StatusBar* bar, QObject* parent) : QObject(parent), bar_(bar) {}

void HoverHints::pointerMoved() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] { guarded([this] { pointAtControlUnderMouse(); }); });
}

void HoverHints::take(const QString& hint) {
    const QString text = hintText(hint);
    if (text == lastTaken_) return;
    lastTaken_ = text;
    bar_->setPanelText(0, text);
}

void HoverHints::clear() {
    lastTaken_.clear();
    bar_->setPanelText(0, QString());
}

void HoverHints::pointAtControlUnderMouse() {
    pending_ = false;
    // An open menu gives its hints through its highlighted items; the
    // crossings its popup causes say nothing about what the user points at.
    if (QApplication::activePopupWidget()) return;
    QWidget* w = QApplication::widgetAt(QCursor::pos());
    // The innermost enabled control, or a label lying on it; disabled edit
    // boxes and buttons are passed over for the control that holds them.
    while (w && !w->isEnabled() && !qobject_cast<QLabel*>(w)) w = w->parentWidget();
    // Its hint, or that of its nearest enclosing control that has one.
    QString hint;
    for (; w; w = w->parentWidget()) {
        hint = hintOf(w);
        if (!hint.isEmpty()) break;
    }
    take(hint);
}

}  // namespace zyg
