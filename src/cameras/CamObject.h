#pragma once

#include "fetch/CopyHelperParent.h"
#include "platform/FileStamp.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <optional>

class AppState;

// One configured camera: its settings and its run-time state. The fields are public: start-up,
// the capture cycle, the settings and the camera editor read and write them directly.
class CamObject : public CopyHelperParent
{
public:
    explicit CamObject(AppState &state);

    QString mCamName = QStringLiteral("CAM");
    quint8 mCamNo = 0;
    QString mCamSocket;
    QString mCamImagePath;
    QString mCamUser;
    QString mCamPassword;
    qint16 mCamUpdaterate = -1;
    qint16 mCamTickCounter = 0;
    bool mCamIsBusy = false;
    QString mCamLastPic;
    quint32 mCamWindowTicket = 0;   // from SpaceMeter for the transfer under way
    // For the overview: the last transfer's outcome in words (empty: an image was saved) and
    // when the last image was saved (invalid: none in this run).
    QString mLastOutcome;
    QDateTime mLastSavedTime;

    // The outcome of a transfer; lives in CHCallBack.cpp.
    void CHCallBack(const QByteArray &byData, qint16 iError) override;
    // Failure reports are judged by their code alone.
    bool wantsEarlierAnswer() const override { return false; }
    // What the change test needs to know of an image.
    struct ImageMarks
    {
        bool marker = false;      // "PRD=MOBOTIX" somewhere
        bool frame = false;       // "FRM=" somewhere; frameNumber only when there is a marker
        double frameNumber = 0;
    };
    // One pass over the data, stopping once the marker and the first "FRM=" are found.
    static ImageMarks ScanMarks(const QByteArray &data);

    // False only when byData is the same picture as the file at mCamLastPic: the same frame
    // number when both carry the MOBOTIX marker, otherwise the same bytes. A missing or
    // unreadable file makes the image new. The file is read again only when its stamp is not
    // the one remembered, to compare bytes of equal length that agree at the remembered
    // sample positions, or for its marks when they were not found at its saving. Not seen: a
    // same-size rewrite in place within one timestamp tick of our save, or a read error while
    // the stamp stays. scanned receives byData's marks when the test had to find them.
    bool IsNewImage(const QByteArray &byData, std::optional<ImageMarks> *scanned = nullptr) const;
    // Remembers byData, just saved as mCamLastPic, with that file's stamp and byData's marks
    // when known.
    void RememberLastPic(const QByteArray &byData, const std::optional<ImageMarks> &marks = std::nullopt);

private:
    // Bytes at evenly spread positions: images of equal length usually differ there, which
    // settles the byte comparison without reading the file.
    static constexpr int SampleBytes = 64;
    using Sample = std::array<char, SampleBytes>;
    static Sample TakeSample(const QByteArray &data);

    struct LastPicInfo
    {
        QString path;
        FileStamp stamp;
        std::optional<ImageMarks> marks;   // none: not scanned yet
        qsizetype sampledSize = -1;   // the length the sample was taken from
        Sample sample{};
    };

    AppState &mState;
    mutable std::optional<LastPicInfo> mLastPicInfo;
    // The folder of the last save: an hour's later images need no look at the folder chain,
    // only a second try when it went in between.
    QString mLastFolder;
};
