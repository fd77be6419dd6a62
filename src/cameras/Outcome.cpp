#include "cameras/Outcome.h"

namespace {

QString StatusMeaning(int status, const QByteArray &response)
{
    switch (status) {
    case 400: return QStringLiteral("Anfrage abgelehnt");
    case 401: return QStringLiteral("Anmeldung abgelehnt");
    case 403: return QStringLiteral("Zugriff verweigert");
    case 404: return QStringLiteral("Bildpfad nicht gefunden");
    case 500: return QStringLiteral("Fehler in der Kamera");
    case 503: return QStringLiteral("Kamera nicht bereit");
    default: break;
    }
    // Whatever else the camera says, in its own words.
    const qsizetype lineEnd = response.indexOf('\n');
    const QByteArray line = response.left(lineEnd < 0 ? 200 : lineEnd).trimmed();
    const qsizetype reason = line.indexOf(' ', line.indexOf(' ') + 1);
    return reason < 0 ? QStringLiteral("unerwartete Antwort") : QString::fromLatin1(line.mid(reason + 1)).left(80);
}

} // namespace

int HttpStatusOf(const QByteArray &response)
{
    if (!response.startsWith("HTTP/"))
        return 0;
    const qsizetype space = response.indexOf(' ');
    if (space < 0 || space > 12 || response.size() < space + 4)
        return 0;
    int status = 0;
    for (int i = 1; i <= 3; ++i) {
        const char c = response.at(space + i);
        if (c < '0' || c > '9')
            return 0;
        status = status * 10 + (c - '0');
    }
    if (response.size() > space + 4 && response.at(space + 4) != ' ' && response.at(space + 4) != '\r'
        && response.at(space + 4) != '\n')
        return 0;
    return status;
}

bool IsTlsRecord(const QByteArray &response)
{
    return response.size() >= 3 && (response.at(0) == 0x15 || response.at(0) == 0x16) && response.at(1) == 0x03;
}

QString OutcomeWords(const QByteArray &byData, qint16 iError, const TlsPeer::Findings &tls)
{
    if (!tls.refused.isEmpty())
        return QStringLiteral("Zertifikat hat sich geändert: ") + tls.refused;
    if (!tls.failure.isEmpty() && iError != 0 && iError != -6 && iError != -8)
        return tls.failure;
    const qsizetype n = byData.size();
    if (iError == -6 && IsTlsRecord(byData))
        return QStringLiteral("Die Kamera antwortet verschlüsselt, die Adresse braucht https://");
    switch (iError) {
    case -1: return QStringLiteral("Fehler beim erneuten Versuch");
    case -2: return QStringLiteral("Rechner nicht gefunden");
    case -3: return QStringLiteral("Verbindung abgelehnt oder abgebrochen");
    case -4: return QStringLiteral("Fehler beim Kopieren");
    case -7: return QStringLiteral("Zeitüberschreitung");
    case -8: return QStringLiteral("WATCHDOG Zeitüberschreitung: keine Antwort");
    default: break;
    }
    if (n < 1)
        return QStringLiteral("Keine Daten empfangen");
    if (iError != -6)
        return QString();
    const int status = HttpStatusOf(byData);
    if (status != 0 && status != 200)
        return QStringLiteral("HTTP ") + QString::number(status) + QStringLiteral(": ") + StatusMeaning(status, byData);
    return QStringLiteral("Kein JPEG-Bild: ungültige oder unvollständige Bilddatei");
}
