#include "archive/ArchiveExport.h"

#include "platform/Platform.h"

ArchiveExport::ArchiveExport(Platform &platform, QObject *parent) : QObject(parent), mPlatform(platform) {}

ArchiveExport::~ArchiveExport() = default;

QString ArchiveExport::findFfmpeg() const
{
    return {};
}

bool ArchiveExport::start(Format, const QStringList &, const QString &, int, QString *error)
{
    if (error)
        *error = QStringLiteral("Export ist noch nicht möglich.");
    return false;
}

void ArchiveExport::cancel() {}

bool ArchiveExport::isRunning() const
{
    return false;
}
