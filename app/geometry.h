#pragma once

#include <QRect>

// Where the window goes: centred on the available area's size, measured from the
// desktop's origin (the available area's own offset is deliberately not added), each
// half truncated before subtracting.
QRect centeredGeometry(const QRect &available, const QRect &frame);

// Where a tray balloon of this size goes: beside the tray icon, below it when the icon is
// in the upper half of its screen and above it otherwise, its right edge on the icon's,
// and inside the screen's available area. With no icon geometry (an empty rectangle),
// the available area's bottom-right corner.
QPoint balloonPosition(const QRect &icon, const QRect &screen, const QRect &available, const QSize &size);
