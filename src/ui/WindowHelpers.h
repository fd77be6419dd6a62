#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

// Small helpers shared by the main window and its groups.

inline const QColor Green(0, 255, 0);
inline const QColor Red(255, 0, 0);

// A state colour on the control itself; an invalid colour gives the control its default back.
void SetBackground(QWidget *widget, QPalette::ColorRole role, const QColor &colour);

template <typename T>
T *Named(T *widget, const char *name, const QString &toolTip = QString())
{
    widget->setObjectName(QLatin1String(name));
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}
