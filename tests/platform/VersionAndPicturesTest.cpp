// The About box's version rule, the Num Lock reader off X11 and the sizes of
// the program's pictures.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include "platform/NumLock.h"
#include "platform/Pictures.h"
#include "platform/Services.h"
#include "platform/VersionInfo.h"
#include "support/QtPrinters.h"

namespace zyg {
namespace {

VersionInfo tableWith(const QString& block, const QString& fileVersion) {
    return VersionInfo{{VersionStringTable{block, {{QStringLiteral("FileVersion"), fileVersion}}}}};
}

TEST(VersionRule, FileVersionOfTable040904E4IsShownAlone) {
    EXPECT_EQ(versionLabelText(tableWith(QStringLiteral("040904E4"), QStringLiteral("2.5"))),
              QStringLiteral("2.5"));
    // The block name is hexadecimal: its letters may come in either case.
    EXPECT_EQ(versionLabelText(tableWith(QStringLiteral("040904e4"), QStringLiteral("2.5"))),
              QStringLiteral("2.5"));
}

TEST(VersionRule, ProgramsOwnTableKeepsTheDefaultLine) {
    const VersionInfo& own = programVersionInfo();
    ASSERT_GT(own.size(), 0u);
    EXPECT_EQ(versionLabelText(own), QStringLiteral("Version 1.0.0.0"));
    // The file version is there, only not under 040904E4.
    for (const VersionStringTable& table : own.tables) {
        EXPECT_TRUE(table.block.endsWith(QStringLiteral("04E4")));
        EXPECT_FALSE(table.block.startsWith(QStringLiteral("0409")));
        const QString path = QStringLiteral("StringFileInfo\\%1\\FileVersion").arg(table.block);
        EXPECT_EQ(queryVersionValue(own, path), QStringLiteral("1.0.0.1"));
        const QString product =
            QStringLiteral("StringFileInfo\\%1\\ProductVersion").arg(table.block);
        EXPECT_EQ(queryVersionValue(own, product), QStringLiteral("1.0.0.0"));
    }
}

TEST(VersionRule, NothingUsableKeepsTheDefaultLine) {
    const QString fallback = QStringLiteral("Version 1.0.0.0");
    EXPECT_EQ(versionLabelText(VersionInfo{}), fallback);
    EXPECT_EQ(versionLabelText(tableWith(QStringLiteral("040904E4"), QString())), fallback);
    // No other block stands in for 040904E4, not even another code page of 0409.
    EXPECT_EQ(versionLabelText(tableWith(QStringLiteral("040904B0"), QStringLiteral("2.5"))),
              fallback);
    VersionInfo productOnly{{VersionStringTable{
        QStringLiteral("040904E4"), {{QStringLiteral("ProductVersion"), QStringLiteral("3")}}}}};
    EXPECT_EQ(versionLabelText(productOnly), fallback);
}

TEST(NumLock, UnknownOffX11) {
    ASSERT_NE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    EXPECT_EQ(platformNumLockOn(), std::nullopt);
    EXPECT_EQ(services().keyboard->numLockOn(), std::nullopt);
}

// Whether the image has a pixel that is not fully transparent.
bool hasInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0) return true;
    return false;
}

TEST(Pictures, MenuPicturesAre16By16) {
    for (const MenuPicture picture :
         {MenuPicture::Run, MenuPicture::Save, MenuPicture::SaveAs, MenuPicture::HelpTopics}) {
        const QPixmap plain = menuPixmap(picture);
        EXPECT_EQ(plain.size(), QSize(16, 16));
        EXPECT_TRUE(hasInk(plain.toImage()));
        const QPixmap sharp = menuPixmap(picture, 2.0);
        EXPECT_EQ(sharp.size(), QSize(32, 32));
        EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(16, 16));
        EXPECT_FALSE(menuIcon(picture).isNull());
    }
}

// The pictures come from the program's resources: every one is there and
// drawn, and a ratio between 1 and 2 still gets a picture of its own size.
TEST(Pictures, StoredPicturesLoadAtTheirSizes) {
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QPixmap icon = windowIcon().pixmap(QSize(size, size));
        EXPECT_EQ(icon.size(), QSize(size, size)) << size;
        EXPECT_TRUE(hasInk(icon.toImage())) << size;
    }
    const QPixmap between = menuPixmap(MenuPicture::Save, 1.5);
    EXPECT_EQ(between.size(), QSize(24, 24));
    EXPECT_EQ(between.deviceIndependentSize(), QSizeF(16, 16));
}

TEST(Pictures, ProgramPictureAndWindowIcon) {
    const QPixmap picture = programPicture();
    EXPECT_EQ(picture.size(), QSize(95, 77));
    EXPECT_FALSE(picture.hasAlphaChannel());

    const QList<QSize> sizes = windowIcon().availableSizes();
    for (const int size : {16, 32, 48, 256}) EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
}

}  // namespace
}  // namespace zyg
