#pragma once

#include "platform/Dialogs.h"

// Modal message boxes with an OK button, over the active window.
class MessageBoxDialogs final : public Dialogs
{
public:
    void messageBox(const QString &title, const QString &text, Icon icon) override;
};
