#include "geometry.h"

QRect centeredGeometry(const QRect &available, const QRect &frame)
{
    const int left = available.width() / 2 - frame.width() / 2;
    const int top = available.height() / 2 - frame.height() / 2;
    return QRect(left, top, frame.width(), frame.height());
}
