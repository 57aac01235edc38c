#include "platform/NumLock.h"

#include <QtGui/qguiapplication_platform.h>

#include <QGuiApplication>
#include <QString>

// Xlib last: its macros (None, Bool, Status, ...) must not reach Qt's headers.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace zyg {

namespace {

// The Num Lock state from the X keyboard extension: the locked modifiers
// tested against the modifier that Num_Lock is bound to, or, on a keymap
// where Num_Lock has no modifier, the "Num Lock" keyboard indicator.
std::optional<bool> xkbNumLockOn(Display* display) {
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor))
        return std::nullopt;

    const unsigned int mask = XkbKeysymToModifiers(display, XK_Num_Lock);
    if (mask != 0) {
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return std::nullopt;
        return (state.locked_mods & mask) != 0;
    }

    const Atom indicator = XInternAtom(display, "Num Lock", True);
    if (indicator == 0) return std::nullopt;
    Bool on = False;
    Bool real = False;
    if (!XkbGetNamedIndicator(display, indicator, nullptr, &on, nullptr, &real) || !real)
        return std::nullopt;
    return on != False;
}

}  // namespace

std::optional<bool> platformNumLockOn() {
    if (qGuiApp == nullptr || QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) return std::nullopt;
    Display* display = x11->display();
    if (display == nullptr) return std::nullopt;
    return xkbNumLockOn(display);
}

}  // namespace zyg
