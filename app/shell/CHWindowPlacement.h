#pragma once
// Where the main window goes at start: the rectangle saved at the last close,
// when it is still usable on one of the screens attached now.
#include <QList>
#include <QRect>

#include <optional>

namespace tovik {

// The four values as the settings file keeps them: right and bottom are one
// past the last pixel, -1 when never written.
struct SavedWindowRect {
    int left = -1, top = -1, right = -1, bottom = -1;
};

// True when enough of rect lies on one screen for the user to reach its
// title and drag it back: a corner of at least kMinVisible pixels each way
// (or all of a smaller window).
bool IsOnAScreen(const QRect& rect, const QList<QRect>& screens);
inline constexpr int kMinVisible = 48;

// The rectangle to restore, or nothing: never written (right or bottom
// negative), empty, or off every screen.
std::optional<QRect> RestorableRect(const SavedWindowRect& saved, const QList<QRect>& screens);

// The screens' geometries of the running application.
QList<QRect> ScreenGeometries();

} // namespace tovik
