#include "charts/StudyWindow.h"

#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolTip>
#include <algorithm>

#include "charts/ModelInputs.h"
#include "platform/Services.h"

namespace zyg {

StudyWindow::StudyWindow(StudySource source, QString helpFile, int helpContext, const QString& name,
                         const QString& title, QWidget* parent)
    : QDialog(parent),
      source_(std::move(source)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext) {
    setObjectName(name);
    setWindowTitle(title);
    setModal(false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
}

StudyWindow::~StudyWindow() {
    // The window's own part is gone by now; the dialog's destructor still
    // hides it, and a field losing the focus then reports a change. Nothing
    // its controls say may reach the handlers any more.
    for (QObject* control : findChildren<QObject*>()) disconnect(control, nullptr, this, nullptr);
    jobs_.stopAll();
}

void StudyWindow::bringUp(bool wasOpen) {
    if (!wasOpen) {
        // A window closed with a result shown keeps the inputs of that result
        // for the rest of the session; one closed with nothing computed (or a
        // problem shown) takes the main window's study again.
        if (!holdsResult()) takeFromMainWindow();
        // The field that had the focus when the window closed may be disabled
        // for the model just taken, and the focus then fell to a button that
        // Enter would press; a reopened window starts at its first input.
        if (QWidget* first = firstInput()) first->setFocus(Qt::OtherFocusReason);
    }
    show();
    raise();
    activateWindow();
}

QChart* StudyWindow::chart() const { return chartView_->chart(); }

QPushButton* StudyWindow::pushButton(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    // Enter is the window's own: no button takes it by having the focus.
    b->setAutoDefault(false);
    return b;
}

void StudyWindow::createCommonControls(const char* pngCaption, const char* svgCaption) {
    modelInputs_ = new ModelInputs(this);
    takeButton_ = pushButton("takeButton", "&Take from main window");
    pngButton_ = pushButton("pngButton", pngCaption);
    svgButton_ = pushButton("svgButton", svgCaption);
    closeButton_ = pushButton("closeButton", "Close");
    on(takeButton_, &QPushButton::clicked, [this] { takeFromMainWindow(); });
    on(pngButton_, &QPushButton::clicked, [this] { exportPng(); });
    on(svgButton_, &QPushButton::clicked, [this] { exportSvg(); });
    on(closeButton_, &QPushButton::clicked, [this] { close(); });
}

void StudyWindow::setPictureExportsEnabled(bool on) {
    pngButton_->setEnabled(on);
    svgButton_->setEnabled(on);
}

QWidget* StudyWindow::inputPanel(QLayout* content) {
    auto* inner = new QWidget;
    inner->setObjectName(QStringLiteral("inputs"));
    inner->setLayout(content);
    content->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QScrollArea(this);
    panel->setObjectName(QStringLiteral("inputPanel"));
    panel->setWidget(inner);
    panel->setWidgetResizable(true);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panel->setFocusPolicy(Qt::NoFocus);
    // As wide as the inputs and a vertical scroll bar, whatever the height.
    panel->setMinimumWidth(inner->sizeHint().width() +
                           panel->verticalScrollBar()->sizeHint().width());
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    // At the window's smallest every input is shown whole, none in a group
    // cut off below; the panel scrolls only where a small screen cannot
    // hold the inputs at all.
    panel->setMinimumHeight(std::min(inner->sizeHint().height(), kTallestInputPanel));
    return panel;
}

void StudyWindow::setTabChain(const QList<QWidget*>& after) {
    const QList<QWidget*> order = modelInputs_->inputs() + after;
    for (qsizetype i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

QSpinBox* StudyWindow::wholeField(const char* name, int low, int high, int value) {
    auto* s = spinField<QSpinBox>(this, name, low, high);
    s->setValue(value);
    return s;
}

void StudyWindow::createChartView(QSize minimum) {
    chartView_ = new QChartView(this);
    chartView_->setObjectName(QStringLiteral("chartView"));
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setMinimumSize(minimum);
    chartView_->setFocusPolicy(Qt::NoFocus);
    chartView_->viewport()->setMouseTracking(true);
    chartView_->viewport()->installEventFilter(this);
}

void StudyWindow::createStatusLine() {
    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setWordWrap(true);
    statusLine_->setTextFormat(Qt::PlainText);
    // Two lines at most, whatever is said, so that a long report never pushes
    // the window's buttons up; the whole of it is the line's tooltip.
    statusLine_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusLine_->setMaximumHeight(kStatusLines * statusLine_->fontMetrics().lineSpacing() + 2);
}

void StudyWindow::setStatus(const QString& text, bool problem) {
    statusLine_->setText(text);
    statusLine_->setToolTip(text);
    statusLine_->setStyleSheet(problem ? QStringLiteral("color: #b00000; font-weight: bold;")
                                       : QString());
}

void StudyWindow::showChart(QChart* chart) {
    QChart* old = chartView_->chart();
    // A scatter series is one graphics item per point, made when the chart is
    // first laid out in the view. Made in a shown chart, each one makes the
    // scene discard the pending updates of all the others (seconds for the
    // 45,451 samples of the diagram of n 300); made hidden, they take
    // milliseconds, and the chart is drawn once when it is shown.
    chart->setVisible(false);
    chartView_->setChart(chart);
    chart->setVisible(true);
    if (old && old != chart) {
        if (QGraphicsScene* scene = old->scene()) scene->removeItem(old);
        delete old;
    }
}

void StudyWindow::exportTo(const QString& filter, const QString& extension,
                           const std::function<QString(const QString&)>& write) {
    if (const auto name = exportFile(this, exportNames_, filter, extension, write))
        setStatus(QStringLiteral("Wrote %1.").arg(*name));
}

void StudyWindow::exportPng() {
    exportTo(QStringLiteral("PNG pictures|*.png"), QStringLiteral("png"),
             [this](const QString& f) { return writePicture(f); });
}

void StudyWindow::exportSvg() {
    exportTo(QStringLiteral("SVG pictures|*.svg"), QStringLiteral("svg"),
             [this](const QString& f) { return writePicture(f); });
}

QString StudyWindow::tipAt(QPoint) const { return {}; }

bool StudyWindow::eventFilter(QObject* watched, QEvent* e) {
    // Resting the pointer on the chart shows what tipAt says of that place.
    if (chartView_ && watched == chartView_->viewport() && e->type() == QEvent::MouseMove) {
        guarded([&] {
            const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
            const QString tip = tipAt(at);
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(chartView_->viewport()->mapToGlobal(at), tip, chartView_);
        });
    }
    return QDialog::eventFilter(watched, e);
}

void StudyWindow::keyPressEvent(QKeyEvent* e) {
    guarded([&] {
        const bool plain = e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier;
        if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
            // Enter on a focused push button presses it; anywhere else it runs
            // the window's own action.
            if (auto* b = qobject_cast<QPushButton*>(focusWidget()); b && b != primaryButton())
                b->click();
            else
                primaryAction();
            e->accept();
            return;
        }
        if (plain && e->key() == Qt::Key_F1) {
            services().help->showTopic(this, helpFile_, helpContext_);
            e->accept();
            return;
        }
        QDialog::keyPressEvent(e);  // Esc closes the window
    });
}

void StudyWindow::hideEvent(QHideEvent* e) {
    // A closed window computes nothing.
    guarded([this] { cancelWork(); });
    QDialog::hideEvent(e);
}

}  // namespace zyg
