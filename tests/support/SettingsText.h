#pragma once

#include <QList>
#include <QString>
#include <utility>

// A settings file as the program writes it: the header, then one pair a line.
inline QString SettingsText(const QList<std::pair<const char *, QString>> &tags)
{
    QString text = QStringLiteral("*** INI file of Bildfang. Do NOT edit ***\r\n");
    for (const auto &[name, value] : tags)
        text += QStringLiteral("<%1>%2</%1>\r\n").arg(QLatin1String(name), value);
    return text;
}
