#pragma once

// The status bar and the hints it shows. A control's hint is a bar followed by
// a text ("| Set sample size"); panel 0 of the status bar shows the text after
// the bar when the focus enters a control and for the control under the mouse
// pointer; no control carries a pop-up tooltip. A control's help context number names its topic in
// the help file.

#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QString>
#include <array>

namespace zyg {

// The two-panel status bar: hint texts on the left, the Num Lock indicator on
// the right.
class StatusBar final : public QFrame {
public:
    StatusBar(QWidget* parent, int width);
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);

private:
    std::array<QLabel*, 2> panels_{};
};

void setHint(QObject* control, const QString& hint);
QString hintOf(const QObject* control);
void setHelpContext(QObject* control, int context);
// 0 when the control has no topic of its own.
int helpContextOf(const QObject* control);

// The part of a hint after its first bar, the blank that follows the bar kept;
// a hint without a bar is shown whole.
QString hintText(const QString& hint);

// Follows the mouse pointer and menu highlights into status panel 0. A hint
// is written only when it differs from the one taken last, so that the hint of
// an entered group stays until the pointer finds another one.
class HoverHints final : public QObject {
public:
    HoverHints(StatusBar* bar, QObject* parent);

    // The pointer entered or left a control: its hint is looked up once the
    // event loop has nothing else to do, after the enter and leave events of
    // one move have all arrived.
    void pointerMoved();
    // Shows the text of `hint` unless it is the one taken last.
    void take(const QString& hint);
    // Empties the hint line, whatever put the text there.
    void clear();

private:
    void pointAtControlUnderMouse();

    StatusBar* bar_;
    QString lastTaken_;
    bool pending_ = false;
};

}  // namespace zyg
