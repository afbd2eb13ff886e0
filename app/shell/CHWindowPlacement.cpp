#include "CHWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace tovik {

bool IsOnAScreen(const QRect& rect, const QList<QRect>& screens) {
    if (rect.isEmpty())
        return false;
    const int needW = std::min(kMinVisible, rect.width());
    const int needH = std::min(kMinVisible, rect.height());
    return std::any_of(screens.begin(), screens.end(), [&](const QRect& screen) {
        const QRect seen = screen.intersected(rect);
        return seen.width() >= needW && seen.height() >= needH;
    });
}

std::optional<QRect> RestorableRect(const SavedWindowRect& saved, const QList<QRect>& screens) {
    if (saved.right < 0 || saved.bottom < 0)
        return std::nullopt;
    // Widen before subtracting: the values come from a file anyone can edit.
    const long long width = static_cast<long long>(saved.right) - saved.left;
    const long long height = static_cast<long long>(saved.bottom) - saved.top;
    if (width <= 0 || height <= 0 || width > 1 << 20 || height > 1 << 20)
        return std::nullopt;
    const QRect rect(saved.left, saved.top, static_cast<int>(width), static_cast<int>(height));
    if (!IsOnAScreen(rect, screens))
        return std::nullopt;
    return rect;
}

QList<QRect> ScreenGeometries() {
    QList<QRect> result;
    for (const QScreen* screen : QGuiApplication::screens())
        result.append(screen->geometry());
    return result;
}

} // namespace tovik
