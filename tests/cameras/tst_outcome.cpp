#include "cameras/Outcome.h"

#include <QTest>

class TestOutcome : public QObject
{
    Q_OBJECT
private slots:
    void words_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("words");
        const QByteArray page = "\r\nContent-Type: text/html\r\n\r\n<html>x</html>";
        QTest::newRow("image") << QByteArray("\xFF\xD8..\xFF\xD9") << 0 << "" << "" << "";
        QTest::newRow("401") << "HTTP/1.1 401 Unauthorized" + page << -6 << "" << "" << "HTTP 401: Anmeldung abgelehnt";
        QTest::newRow("404 HTTP/1.0") << "HTTP/1.0 404 Not Found" + page << -6 << "" << "" << "HTTP 404: Bildpfad nicht gefunden";
        QTest::newRow("other status: its reason") << "HTTP/1.1 418 I'm a teapot" + page << -6 << "" << "" << "HTTP 418: I'm a teapot";
        QTest::newRow("status without reason") << QByteArray("HTTP/1.1 502\r\n\r\n") << -6 << "" << "" << "HTTP 502: unerwartete Antwort";
        for (const QByteArray &noStatus : {"HTTP/1.1 200 OK" + page, "HTTP/1.1 4040 X" + page, QByteArray("HTTP/1.1 40")})
            QTest::newRow(noStatus.left(15)) << noStatus << -6 << "" << "" << "Kein JPEG-Bild: ungültige oder unvollständige Bilddatei";
        QTest::newRow("nothing") << QByteArray() << 0 << "" << "" << "Keine Daten empfangen";
        QTest::newRow("watchdog over a handshake failure") << QByteArray() << -8 << "Handschlag" << "" << "WATCHDOG Zeitüberschreitung: keine Antwort";
        QTest::newRow("TLS answer on plain HTTP") << QByteArray("\x15\x03\x01\x00\x02", 5) << -6 << "" << "" << "Die Kamera antwortet verschlüsselt, die Adresse braucht https://";
        QTest::newRow("certificate failure") << QByteArray() << -3 << "Zertifikat ungültig" << "" << "Zertifikat ungültig";
        QTest::newRow("changed certificate") << QByteArray() << -3 << "" << "AB:CD" << "Zertifikat hat sich geändert: AB:CD";
    }
    void words()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, error);
        QFETCH(QString, failure);
        QFETCH(QString, refused);
        QTEST(OutcomeWords(data, qint16(error), TlsPeer::Findings{QString(), refused, failure}), "words");
    }
};

QTEST_GUILESS_MAIN(TestOutcome)
#include "tst_outcome.moc"
