// Kept apart: Xlib's macros (KeyPress, None, Bool) must not meet Qt's headers.
#include "CHKeyIndicators.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/XKBlib.h>

namespace tovik {

bool ReadX11LockKeys(CHLockKeys& keys) {
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (display == nullptr)
        return false;
    const auto on = [display](const char* name) {
        Bool state = 0;
        const Atom atom = XInternAtom(display, name, 1);
        return atom != 0 && XkbGetNamedIndicator(display, atom, nullptr, &state, nullptr, nullptr) && state;
    };
    keys = {on("Caps Lock"), on("Num Lock"), on("Scroll Lock")};
    return true;
#else
    (void)keys;
    return false;
#endif
}

} // namespace tovik
