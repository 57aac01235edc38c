#include "About.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "platform/ErrorBoundary.h"
#include "platform/Fonts.h"
#include "platform/Pictures.h"
#include "platform/Services.h"
#include "widgets/RichTextLabel.h"

namespace zyg {

namespace {

constexpr int kClientWidth = 332;
constexpr int kClientHeight = 209;
constexpr QRect kPanelRect(8, 8, 315, 161);
constexpr int kVersionLeft = 176;
constexpr int kVersionMinWidth = 71;

int captionWidth(const RichTextLabel& label) { return label.sizeHint().width(); }

// Gives the purpose line the box's font or, where that font is too wide for
// the line's box, a condensed and if need be a smaller one, so that the
// caption is never cut off.
void fitCaptionFont(RichTextLabel& label) {
    QFont font = TAboutBox::boxFont();
    label.setFont(font);
    if (captionWidth(label) <= label.width()) return;
    font.setFamily(QStringLiteral("DejaVu Sans Condensed"));
    for (int pixels = font.pixelSize(); pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        label.setFont(font);
        if (captionWidth(label) <= label.width()) return;
    }
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : TAboutBox(programVersionInfo(), parent) {}

TAboutBox::TAboutBox(const VersionInfo& version, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFont(boxFont());
    setModal(true);
    setSizeGripEnabled(false);
    setFixedSize(kClientWidth, kClientHeight);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(kPanelRect);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    QPalette panelPalette = Panel1->palette();
    panelPalette.setColor(QPalette::Window, panelPalette.color(QPalette::Button));
    Panel1->setPalette(panelPalette);
    Panel1->setAutoFillBackground(true);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(12, 12, kProgramPictureWidth, kProgramPictureHeight);
    ProgramIcon->setPixmap(programPicture());

    ProductNameLabel = new QLabel(QStringLiteral("Zygomet"), Panel1);
    ProductNameLabel->setObjectName(QStringLiteral("ProductNameLabel"));
    ProductNameLabel->setGeometry(165, 20, 93, 24);
    ProductNameLabel->setFont(productNameFont());
    ProductNameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    VersionLabel = new QLabel(Panel1);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    VersionLabel->setGeometry(kVersionLeft, 48, kVersionMinWidth, 13);
    VersionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    VersionLabel->setTextFormat(Qt::PlainText);
    setVersionText(kDefaultVersionText);

    NoticeLabel = new QLabel(kReleaseNotice, Panel1);
    NoticeLabel->setObjectName(QStringLiteral("NoticeLabel"));
    NoticeLabel->setGeometry(129, 70, 165, 13);
    NoticeLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    PurposeLabel = new RichTextLabel(purposeCaption(), Panel1);
    PurposeLabel->setObjectName(QStringLiteral("PurposeLabel"));
    PurposeLabel->setGeometry(2, 95, 313, 20);
    fitCaptionFont(*PurposeLabel);

    UrlBtn = new QPushButton(kHomePageAddress, Panel1);
    UrlBtn->setObjectName(QStringLiteral("UrlBtn"));
    UrlBtn->setGeometry(32, 120, 250, 20);
    QPalette urlPalette = UrlBtn->palette();
    urlPalette.setColor(QPalette::ButtonText, Qt::blue);
    UrlBtn->setPalette(urlPalette);
    UrlBtn->setCursor(Qt::PointingHandCursor);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(133, 178, 65, 26);
    OKButton->setDefault(true);

    setTabOrder(UrlBtn, OKButton);
    OKButton->setFocus(Qt::OtherFocusReason);

    connect(UrlBtn, &QPushButton::clicked, this, [this] { guarded([&] { UrlBtnClick(); }); });
    connect(OKButton, &QPushButton::clicked, this, [this] { guarded([&] { accept(); }); });

    FormCreate(version);
    centreOnScreen();
}

QFont TAboutBox::boxFont() { return windowFont(); }

QFont TAboutBox::productNameFont() {
    // Larger in proportion to the box's font, and just narrow enough for the
    // name's box.
    QFont font = boxFont();
    font.setPixelSize(18);
    font.setBold(true);
    return font;
}

void TAboutBox::FormCreate(const VersionInfo& version) {
    setVersionText(versionLabelText(version));
}

void TAboutBox::setVersionText(const QString& text) {
    // The label keeps its place and grows to the right with a longer text,
    // as far as the panel allows.
    VersionLabel->setText(text);
    const int needed = QFontMetrics(VersionLabel->font()).horizontalAdvance(text) + 1;
    const int room = kPanelRect.width() - 2 - kVersionLeft;
    VersionLabel->resize(std::clamp(needed, kVersionMinWidth, room), VersionLabel->height());
}

void TAboutBox::UrlBtnClick() { services().urls->open(kHomePageAddress + kHomePageFile); }

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // The box has no cancel button: Esc does nothing. The close box still
    // closes it.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
    guarded([&] {
        if (!event->spontaneous()) {
            centreOnScreen();
            OKButton->setFocus(Qt::OtherFocusReason);
        }
    });
    QDialog::showEvent(event);
}

void TAboutBox::centreOnScreen() {
    const QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : nullptr;
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    move(screen->availableGeometry().center() - rect().center());
}

}  // namespace zyg
