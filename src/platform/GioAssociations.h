#pragma once

#include "platform/Associations.h"

#include <QString>
#include <QStringList>

// A desktop entry's Exec line as the words of a command line of this program: the
// executable first, quoted when it needs it; the file and URL codes %f %F %u %U as the
// placeholder "%1" in double quotes (or dropped, without fileCodes); every other field code
// dropped and "%%" as "%".
QStringList CommandFromDesktopExec(const QString &exec, bool fileCodes);

// The desktop's default applications, asked through GIO at every call.
class GioAssociations final : public Associations
{
public:
    void jpegViewer(QString *program, QString *arguments) const override;
    QString browserCommand() const override;
    QString textEditor() const override;
};
