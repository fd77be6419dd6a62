#include "archive/ArchiveExport.h"
#include "support/TestPlatform.h"

#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <sys/resource.h>

// Export of images into a video through ffmpeg (a fake one that records and blocks, and the
// real one when installed) and into a ZIP read back here.
class TestExport : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> tp;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ArchiveExport> exporter;

    QString path(const QString &name) const { return dir->filePath(name); }
    QString target(const char *ext) const { return path(QStringLiteral("out/film.") + QLatin1String(ext)); }
    QStringList outFolder() const { return QDir(path("out")).entryList(QDir::Files | QDir::Hidden); }
    QString put(const QString &name, const QByteArray &data) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? file.fileName() : QString();
    }
    static QByteArray read(const QString &name) { QFile f(name); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }
    QString jpeg(const QString &name, int width, int height) const
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(width % 360, 200, 200));
        return image.save(path(name), "JPEG") ? path(name) : QString();
    }
    void fakeFfmpeg(const QByteArray &body) const
    {
        const QString script = put(QStringLiteral("ffmpeg"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"; for a; do out=$a; done\n"
                                   "while [ \"$1\" != -i ]; do shift; done; list=$2\n" + body);
        QFile(script).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        tp->launcher->programs.insert(QStringLiteral("ffmpeg"), script);
    }
    QList<QVariant> run(ArchiveExport::Format format, const QStringList &files, const QString &to, bool cancel = false)
    {
        QSignalSpy done(exporter.get(), &ArchiveExport::finished);
        QString error;
        if (!exporter->start(format, files, to, 7, &error) || (cancel && (exporter->cancel(), false)) || !done.wait(60000))
            return {false, error};
        return done.takeFirst();
    }

    struct Entry { QByteArray name; quint32 crc; quint64 size, offset; };
    // The central directory, through the ZIP64 records when the short end record says so.
    static QList<Entry> centralDirectory(const QByteArray &zip)
    {
        const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(zip.constData() + at); };
        const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(zip.constData() + at); };
        const auto u64 = [&](qsizetype at) { return qFromLittleEndian<quint64>(zip.constData() + at); };
        const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
        quint64 count = u16(end + 10), at = u32(end + 16);
        if (count == 0xFFFF || at == 0xFFFFFFFF) {
            const qsizetype z = qsizetype(u64(end - 12));
            if (u32(end - 20) != 0x07064b50 || u32(z) != 0x06064b50)
                return {};
            count = u64(z + 32);
            at = u64(z + 48);
        }
        QList<Entry> entries;
        for (quint64 i = 0; i < count && u32(qsizetype(at)) == 0x02014b50; ++i) {
            const qsizetype p = qsizetype(at), n = u16(p + 28), m = u16(p + 30);
            entries.append({zip.mid(p + 46, n), u32(p + 16), u32(p + 24), u32(p + 42)});
            at += quint64(46 + n + m + u16(p + 32));
        }
        return entries;
    }

private slots:
    void init()
    {
        tp = std::make_unique<TestPlatform>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("out")));
        exporter = std::make_unique<ArchiveExport>(tp->platform);
    }

    // The list names every image in order, quotes survive, the frame fits the first image with
    // even sides, the rate is the chosen one, and ffmpeg writes a hidden name beside the target;
    // its frames reach the signal; cancelling kills it and leaves nothing behind.
    void videoArgumentsProgressCancel()
    {
        fakeFfmpeg("cp \"$list\" \"$0.list\"; printf x > \"$out\"\n"
                   "echo frame=2; echo progress=continue; exec sleep 600\n");
        const QStringList files{jpeg("a.jpg", 321, 241), jpeg("it's.jpg", 64, 64), jpeg("c.jpg", 640, 480)};
        QSignalSpy progress(exporter.get(), &ArchiveExport::progress);
        QSignalSpy done(exporter.get(), &ArchiveExport::finished);
        QVERIFY(exporter->start(ArchiveExport::Format::Mp4, files, target("mp4"), 7, nullptr));
        QTRY_COMPARE(progress.size(), 1);
        QCOMPARE(progress.at(0), (QList<QVariant>{2, 3}));
        QCOMPARE(read(path("ffmpeg.list")), "ffconcat version 1.0\nfile '" + files[0].toUtf8() + "'\nfile '"
                 + path("it'\\''s.jpg").toUtf8() + "'\nfile '" + files[2].toUtf8() + "'\n");
        const QStringList a = QString::fromUtf8(read(path("ffmpeg.args"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(a.count(QStringLiteral("7")), 2);
        QVERIFY(a.at(a.indexOf(QStringLiteral("-vf")) + 1).startsWith(QLatin1String("scale=320:240:")));
        QVERIFY(a.contains(QStringLiteral("+faststart")) && a.contains(QStringLiteral("libx264")));
        QCOMPARE(outFolder(), QStringList{QFileInfo(a.last()).fileName()});
        QVERIFY(a.last().startsWith(path("out/.film.mp4")));
        exporter->cancel();
        QVERIFY(done.wait());
        QVERIFY(!done.at(0).at(0).toBool());
        QCOMPARE(outFolder(), QStringList());
    }

    // A failing ffmpeg leaves no file, and its last words are quoted.
    void videoFailure()
    {
        fakeFfmpeg("printf x > \"$out\"; echo frame=1; printf 'first\\nNo space left\\n\\n' >&2; exit 1\n");
        const QList<QVariant> result = run(ArchiveExport::Format::Mp4, {jpeg("a.jpg", 8, 8)}, target("mp4"));
        QVERIFY(!result.at(0).toBool());
        QVERIFY(result.at(1).toString().endsWith(QLatin1String("ffmpeg meldet: No space left")));
        QCOMPARE(outFolder(), QStringList());
    }

    // ffmpeg stops early at an image deleted under it (by the storage limit): the export runs
    // again without it instead of keeping a short video.
    void videoRerunAfterImageVanished()
    {
        fakeFfmpeg("echo run >> \"$0.runs\"; n=$(grep -c ^file \"$list\")\n"
                   "if [ $n = 3 ]; then rm \"$(sed -n 3p \"$list\" | cut -d\\' -f2)\"; echo frame=1; exit 0; fi\n"
                   "printf v > \"$out\"; echo frame=$n\n");
        const QStringList files{jpeg("a.jpg", 8, 8), jpeg("b.jpg", 8, 8), jpeg("c.jpg", 8, 8)};
        const QList<QVariant> result = run(ArchiveExport::Format::Mp4, files, target("mp4"));
        QVERIFY(result.at(0).toBool());
        QVERIFY(result.at(1).toString().startsWith(QLatin1String("2 Bilder als Video")));
        QVERIFY(result.at(1).toString().endsWith(QStringLiteral("1 Bild fehlte, inzwischen gelöscht.")));
        QCOMPARE(outFolder(), QStringList{QStringLiteral("film.mp4")});
        QCOMPARE(QFileInfo(path("ffmpeg.runs")).size(), 8);
    }

    void realFfmpegCountsFrames()
    {
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
        if (ffmpeg.isEmpty() || ffprobe.isEmpty())
            QSKIP("ffmpeg is not installed");
        tp->launcher->programs.insert(QStringLiteral("ffmpeg"), ffmpeg);
        // Sizes that differ from the first, and an odd first one.
        const QStringList files{jpeg("a.jpg", 161, 121), jpeg("b.jpg", 320, 240), jpeg("c.jpg", 90, 200)};
        QVERIFY(run(ArchiveExport::Format::Mp4, files, target("mp4")).at(0).toBool());
        QProcess probe;
        probe.start(ffprobe, QStringLiteral("-v error -count_frames -show_entries stream=nb_read_frames,width,height -of csv=p=0")
                                 .split(QLatin1Char(' ')) << target("mp4"));
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("160,120,3"));
    }

    // Names, sizes, CRCs and the data where the central directory points; a vanished image is
    // skipped and counted.
    void zipReadBack()
    {
        QByteArray noise(300000, Qt::Uninitialized);
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919) ^ (i >> 9));
        const QByteArray contents[] = {"123456789", noise, QByteArray()};
        const QStringList files{put(QStringLiteral("20060512-134507(Hof).jpg"), contents[0]), path("gone.jpg"),
                                put(QStringLiteral("20060512-134508(Tür).jpg"), contents[1]),
                                put(QStringLiteral("20060512-134509(Hof).jpg"), contents[2])};
        const QList<QVariant> result = run(ArchiveExport::Format::Zip, files, target("zip"));
        QVERIFY(result.at(0).toBool());
        QVERIFY(result.at(1).toString().contains(QLatin1String("1 Bild fehlte")));
        QCOMPARE(outFolder(), QStringList{QStringLiteral("film.zip")});
        const QByteArray zip = read(target("zip"));
        const QList<Entry> entries = centralDirectory(zip);
        QCOMPARE(entries.size(), 3);
        const quint32 crcs[] = {0xCBF43926u, 0x4ACE97DBu, 0};
        for (int i = 0; i < 3; ++i) {
            const Entry &e = entries.at(i);
            QCOMPARE(QString::fromUtf8(e.name), QFileInfo(files.at(i ? i + 1 : 0)).fileName());
            QCOMPARE(e.size, quint64(contents[i].size()));
            QCOMPARE(e.crc, crcs[i]);
            const qsizetype data = qsizetype(e.offset) + 30 + qFromLittleEndian<quint16>(zip.constData() + e.offset + 26)
                + qFromLittleEndian<quint16>(zip.constData() + e.offset + 28);
            QCOMPARE(zip.mid(data, qsizetype(e.size)), contents[i]);
        }
    }

    // More entries than the short end record can count.
    void zip64EntryCount()
    {
        const QStringList files(70000, put(QStringLiteral("a.jpg"), "x"));
        QVERIFY(run(ArchiveExport::Format::Zip, files, target("zip")).at(0).toBool());
        QCOMPARE(centralDirectory(read(target("zip"))).size(), 70000);
    }

    // A write that fails (the file size limit stands in for a full drive) leaves nothing.
    void zipOnFullDrive()
    {
        tp->fileSystem->freeBytesValue = 0;
        const QString image = put(QStringLiteral("a.jpg"), QByteArray(100000, 'x'));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{50000, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const QList<QVariant> result = run(ArchiveExport::Format::Zip, {image}, target("zip"));
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(result.at(1).toString().startsWith(QLatin1String("Auf dem Ziellaufwerk ist kein Platz mehr frei. Die ZIP")));
        QCOMPARE(outFolder(), QStringList());
    }

    void zipCancelLeavesNothing()
    {
        const QStringList files(50000, put(QStringLiteral("a.jpg"), "x"));
        QCOMPARE(run(ArchiveExport::Format::Zip, files, target("zip"), true).at(1).toString(), QStringLiteral("Export abgebrochen."));
        QCOMPARE(outFolder(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
