#include "ui/WindowHelpers.h"

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
