#include "geometry.h"

#include <algorithm>

QRect centeredGeometry(const QRect &available, const QRect &frame)
{
    const int left = available.width() / 2 - frame.width() / 2;
    const int top = available.height() / 2 - frame.height() / 2;
    return QRect(left, top, frame.width(), frame.height());
}

QPoint balloonPosition(const QRect &icon, const QRect &screen, const QRect &available, const QSize &size)
{
    if (icon.isEmpty())
        return available.bottomRight() - QPoint(size.width(), size.height()) + QPoint(1, 1);
    const int x = icon.right() + 1 - size.width();
    const int y = icon.center().y() < screen.center().y() ? icon.bottom() + 1 : icon.top() - size.height();
    // Too large for the area, the top-left corner stays in it.
    return QPoint(std::max(available.left(), std::min(x, available.right() + 1 - size.width())),
                  std::max(available.top(), std::min(y, available.bottom() + 1 - size.height())));
}
