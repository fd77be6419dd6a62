#pragma once

#include <QString>

// Modal message boxes with an OK button. Tests record them instead of blocking.
class Dialogs
{
public:
    enum class Icon { None, Information, Warning, Critical };
    virtual ~Dialogs() = default;
    virtual void messageBox(const QString &title, const QString &text, Icon icon) = 0;
};
