// The About box: its controls, its version line, its keys and its home-page
// button.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "About.h"
#include "platform/Services.h"
#include "support/QtPrinters.h"
#include "widgets/RichTextLabel.h"

namespace zyg {
namespace {

class UrlRecorder final : public UrlOpener {
public:
    void open(const QString& url) override { opened.append(url); }
    QStringList opened;
};

// Runs `work` once the box's modal loop is running.
template <class Work>
void whileModal(Work work) {
    QTimer::singleShot(0, work);
}

TEST(AboutBox, HoldsEveryControlAtItsPlace) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(box.size(), QSize(332, 209));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());

    const struct {
        QWidget* widget;
        const char* name;
        QRect place;
        QWidget* parent;
    } expected[] = {
        {box.Panel1, "Panel1", QRect(8, 8, 315, 161), &box},
        {box.ProgramIcon, "ProgramIcon", QRect(12, 12, 95, 77), box.Panel1},
        {box.ProductNameLabel, "ProductNameLabel", QRect(165, 20, 93, 24), box.Panel1},
        {box.NoticeLabel, "NoticeLabel", QRect(129, 70, 165, 13), box.Panel1},
        {box.PurposeLabel, "PurposeLabel", QRect(2, 95, 313, 20), box.Panel1},
        {box.UrlBtn, "UrlBtn", QRect(32, 120, 250, 20), box.Panel1},
        {box.OKButton, "OKButton", QRect(133, 178, 65, 26), &box},
    };
    for (const auto& control : expected) {
        ASSERT_NE(control.widget, nullptr) << control.name;
        EXPECT_EQ(control.widget->objectName(), QLatin1String(control.name));
        EXPECT_EQ(control.widget->geometry(), control.place) << control.name;
        EXPECT_EQ(control.widget->parentWidget(), control.parent) << control.name;
    }
    EXPECT_EQ(box.VersionLabel->objectName(), QStringLiteral("VersionLabel"));
    EXPECT_EQ(box.VersionLabel->pos(), QPoint(176, 48));

    EXPECT_EQ(box.ProgramIcon->pixmap().size(), QSize(95, 77));
    EXPECT_EQ(box.ProductNameLabel->text(), QStringLiteral("Zygomet"));
    EXPECT_TRUE(box.ProductNameLabel->font().bold());
    EXPECT_EQ(box.VersionLabel->text(), QStringLiteral("Version 1.0.0.0"));
    EXPECT_EQ(box.NoticeLabel->text(), kReleaseNotice);
    EXPECT_EQ(box.PurposeLabel->RichText(), purposeCaption());
    EXPECT_EQ(box.UrlBtn->text(), kHomePageAddress);
    EXPECT_EQ(box.UrlBtn->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_EQ(box.UrlBtn->nextInFocusChain(), box.OKButton);
}

TEST(AboutBox, EveryCaptionFitsItsBox) {
    TAboutBox box;
    for (QLabel* label : {box.ProductNameLabel, box.VersionLabel, box.NoticeLabel}) {
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
        EXPECT_LE(metrics.height(), label->height()) << label->objectName().toStdString();
    }
    EXPECT_LE(box.PurposeLabel->sizeHint().width(), box.PurposeLabel->width());
    EXPECT_LE(box.PurposeLabel->sizeHint().height(), box.PurposeLabel->height());
    const QFontMetrics buttonMetrics(box.UrlBtn->font());
    EXPECT_LT(buttonMetrics.horizontalAdvance(box.UrlBtn->text()), box.UrlBtn->width());

    // A longer version line stays whole inside the panel.
    TAboutBox longer(VersionInfo{
        {VersionStringTable{QStringLiteral("040904E4"),
                            {{QStringLiteral("FileVersion"), QStringLiteral("12.34.56.789")}}}}});
    const QFontMetrics metrics(longer.VersionLabel->font());
    EXPECT_LE(metrics.horizontalAdvance(longer.VersionLabel->text()), longer.VersionLabel->width());
    EXPECT_LE(longer.VersionLabel->geometry().right(), longer.Panel1->width());
}

TEST(AboutBox, ShowsTheFileVersionOfTable040904E4) {
    TAboutBox box(VersionInfo{{VersionStringTable{
        QStringLiteral("040904E4"), {{QStringLiteral("FileVersion"), QStringLiteral("2.5")}}}}});
    EXPECT_EQ(box.VersionLabel->text(), QStringLiteral("2.5"));
}

TEST(AboutBox, OpensWithTheFocusOnOKAndEscDoesNothing) {
    TAboutBox box;
    bool stayedOpen = false;
    QWidget* focused = nullptr;
    whileModal([&] {
        focused = box.focusWidget();
        QTest::keyClick(box.OKButton, Qt::Key_Escape);
        QTest::keyClick(&box, Qt::Key_Escape);
        stayedOpen = box.isVisible();
        box.OKButton->click();
    });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(focused, box.OKButton);
    EXPECT_FALSE(box.isVisible());

    // Enter presses the default button; the close box closes without OK.
    whileModal([&] { QTest::keyClick(box.OKButton, Qt::Key_Return); });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
    whileModal([&] { box.close(); });
    EXPECT_EQ(box.exec(), QDialog::Rejected);
}

TEST(AboutBox, AddressButtonOpensTheHomePage) {
    UrlRecorder urls;
    Services replacement = services();
    replacement.urls = &urls;
    ScopedServices scoped(replacement);

    TAboutBox box;
    box.UrlBtn->click();
    EXPECT_EQ(urls.opened, QStringList{QStringLiteral("https://zygomet.example.org/index.html")});
}

}  // namespace
}  // namespace zyg
