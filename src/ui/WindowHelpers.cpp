#include "ui/WindowHelpers.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <algorithm>

void SetBackground(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    if (!colour.isValid()) {
        widget->setPalette(QPalette());
        widget->setAutoFillBackground(false);
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

QPoint PositionOnScreens(const QRect &frame, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return frame.topLeft();
    QRect best = screens.first();
    qint64 bestArea = -1;
    for (const QRect &screen : screens) {
        if (screen.contains(frame))
            return frame.topLeft();
        const QRect common = screen.intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    const int x = std::max(best.left(), std::min(frame.left(), best.right() + 1 - frame.width()));
    const int y = std::max(best.top(), std::min(frame.top(), best.bottom() + 1 - frame.height()));
    return QPoint(x, y);
}

void KeepOnScreen(QWidget *window)
{
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    QRect frame = window->frameGeometry();
    // Before the window manager tells the frame, a title bar and borders are assumed.
    if (frame == window->geometry()) {
        const int border = window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        frame.adjust(0, 0, 2 * border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border);
    }
    const QPoint place = PositionOnScreens(frame, screens);
    if (place != frame.topLeft())
        window->move(place);
}
