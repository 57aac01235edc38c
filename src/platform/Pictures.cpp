#include "platform/Pictures.h"

#include <QString>
#include <cmath>

// The pictures are compiled into this static library; naming their resource
// here keeps the linker from leaving it out. Outside any namespace, as
// Q_INIT_RESOURCE requires.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace zyg {

namespace {

void ensureRegistered() {
    static const bool registered = (registerPictures(), true);
    (void)registered;
}

QString menuName(MenuPicture picture) {
    switch (picture) {
        case MenuPicture::Run: return QStringLiteral("run");
        case MenuPicture::Save: return QStringLiteral("save");
        case MenuPicture::SaveAs: return QStringLiteral("saveas");
        case MenuPicture::HelpTopics: return QStringLiteral("helptopics");
    }
    return {};
}

}  // namespace

QPixmap menuPixmap(MenuPicture picture, qreal devicePixelRatio) {
    ensureRegistered();
    const bool sharp = devicePixelRatio > 1.0;
    QPixmap pixmap(QStringLiteral(":/pictures/%1%2.png")
                       .arg(menuName(picture), sharp ? QStringLiteral("@2x") : QString()));
    const int device = static_cast<int>(std::lround(kMenuPictureSize * devicePixelRatio));
    // Ratios other than 1 and 2 scale the nearest drawing.
    if (pixmap.width() != device)
        pixmap = pixmap.scaled(device, device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon menuIcon(MenuPicture picture) {
    QIcon icon;
    icon.addPixmap(menuPixmap(picture, 1.0));
    icon.addPixmap(menuPixmap(picture, 2.0));
    return icon;
}

QPixmap programPicture() {
    ensureRegistered();
    return QPixmap(QStringLiteral(":/pictures/program.png"));
}

QIcon windowIcon() {
    ensureRegistered();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/zygomet-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace zyg
