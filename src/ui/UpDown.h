#pragma once

#include <QWidget>

class QToolButton;

// An up-down control beside a text box: two small arrow buttons. The owner decides what a
// step does to the box, so each step passes through the box's own change handling.
class UpDown : public QWidget
{
    Q_OBJECT
public:
    explicit UpDown(QWidget *parent = nullptr);

signals:
    void stepped(int direction);   // +1 up, -1 down

private:
    QToolButton *mUp;
    QToolButton *mDown;
};
