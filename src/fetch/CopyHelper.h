#pragma once

#include "fetch/CopyHelperParent.h"
#include "platform/Platform.h"

#include <QSet>
#include <QString>
#include <memory>

// The transfer engine: one TCP socket, one watchdog, one HTTP GET at a time.
// (Placeholder declaration; the engine fills it in.)
class CopyHelper
{
public:
    // timerNames is the run's register of watchdog names: CopyHelper1 .. CopyHelper100.
    CopyHelper(Platform &platform, QSet<QString> &timerNames);
    ~CopyHelper();

    void Parent(std::shared_ptr<CopyHelperParent> objParent);
    void DataType(int vType);
    quint8 Task() const;
    void Task(quint8 value);
    quint8 Step() const;
    void Step(quint8 value);

    bool isBusy() const;
    bool isReady() const;
    QString getName() const;
    QString getStatus() const;
    QString getReport() const;
    bool Dispatch(const QString &strSource);
};
