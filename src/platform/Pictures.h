#pragma once

// The program's pictures, stored as PNG files in the program's resources
// (resources/pictures): the four 16 x 16 menu pictures, the About box's
// program picture and the window icon.

#include <QIcon>
#include <QPixmap>

namespace zyg {

enum class MenuPicture {
    Run,         // a black check mark
    Save,        // a diskette
    SaveAs,      // a diskette with small rays around it
    HelpTopics,  // a purple book with a yellow question mark
};

inline constexpr int kMenuPictureSize = 16;

// The picture at 16 x 16 device-independent pixels for the given device pixel
// ratio (1 gives a 16 x 16 pixmap, 2 a sharp 32 x 32 one).
QPixmap menuPixmap(MenuPicture picture, qreal devicePixelRatio = 1.0);
// The picture for a menu item or button, at ratios 1 and 2.
QIcon menuIcon(MenuPicture picture);

// The About box's program picture: 95 x 77 pixels, opaque (24-bit colour).
inline constexpr int kProgramPictureWidth = 95;
inline constexpr int kProgramPictureHeight = 77;
QPixmap programPicture();

// The program's mark (three genotype bars under a chi-square curve, the same
// drawing as resources/zygomet.svg) at 16, 24, 32, 48, 64, 128 and 256 pixels.
QIcon windowIcon();

}  // namespace zyg
