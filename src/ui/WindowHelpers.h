#pragma once

#include <QColor>
#include <QList>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

// Small helpers shared by the main window and its groups.

inline const QColor Green(0, 255, 0);
inline const QColor Red(255, 0, 0);

// A state colour on the control itself; an invalid colour gives the control its default back.
void SetBackground(QWidget *widget, QPalette::ColorRole role, const QColor &colour);

// Where a window frame goes so that it lies whole on a screen: where it is when one screen
// holds it, else moved onto the screen it overlaps most (the first when none), its top-left
// corner kept on that screen when the frame is larger.
QPoint PositionOnScreens(const QRect &frame, const QList<QRect> &screens);
// Moves a window, frame included, onto the desktop's screens as PositionOnScreens says.
void KeepOnScreen(QWidget *window);

template <typename T>
T *Named(T *widget, const char *name, const QString &toolTip = QString())
{
    widget->setObjectName(QLatin1String(name));
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}
