#pragma once

#include <QRect>

// Where the window goes: centred on the available area's size, measured from the
// desktop's origin (the available area's own offset is deliberately not added), each
// half truncated before subtracting.
QRect centeredGeometry(const QRect &available, const QRect &frame);
