#include "platform/Fonts.h"

#include <QStringList>

namespace zyg {

QFont windowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    return font;
}

}  // namespace zyg
