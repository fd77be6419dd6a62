#pragma once

#include "archive/ArchiveDay.h"
#include "archive/ArchiveExport.h"

#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <functional>

class AppState;
class PictureBox;
class QCalendarWidget;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimeEdit;

// The time slider of a day: one step per image. A click beside the handle jumps there and
// keeps dragging from there, as on a timeline.
class TimeSlider : public QSlider
{
    Q_OBJECT
public:
    explicit TimeSlider(QWidget *parent = nullptr);
    // The x coordinate of an index's handle centre.
    int positionOf(int index) const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// The hour folders under the time slider: a mark at each hour's first image, labelled where
// there is room.
class HourScale : public QWidget
{
    Q_OBJECT
public:
    explicit HourScale(TimeSlider *slider, QWidget *parent = nullptr);
    // (index of an hour's first image, hour) for every hour that holds images.
    void setMarks(const QList<std::pair<int, int>> &marks);
    const QList<std::pair<int, int>> &marks() const { return mMarks; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TimeSlider *mSlider;
    QList<std::pair<int, int>> mMarks;
};

// "Archiv": a camera's recorded days. Choose the camera and a day (days with images in bold),
// move along the day's images on the slider, play them forward or backward, step with the
// arrow keys, open one in the viewer, export a time range as MP4 or ZIP. Reads the archive
// only; copes with hours the storage limit deletes while it is open.
class ArchiveBrowser : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Speeds[] = {1, 10, 60};   // images a second

    ArchiveBrowser(AppState &state, const QString &viewerProgram, const QString &viewerArguments,
                   QWidget *parent = nullptr);
    ~ArchiveBrowser() override;

    // Asks where the export goes, with a name suggested; empty: cancelled. The window's own
    // asks with a file dialog; tests answer it themselves.
    std::function<QString(const QString &suggested)> chooseExportFile;

    // The play timer's tick; tests call it directly.
    void PlayTick();
    // Decodes the picture of the slider's position now, if it is not shown yet.
    void ShowPendingPicture();

    const ArchiveDay &day() const { return mDay; }
    int currentIndex() const;
    int shownIndex() const { return mShownIndex; }
    int playDirection() const { return mPlayTimer.isActive() ? mDirection : 0; }
    int decodes() const { return mDecodes; }

    QComboBox *cmbKamera, *cmbTempo, *cmbFormat;
    QCalendarWidget *calTag;
    TimeSlider *sldZeit;
    HourScale *lblStunden;
    PictureBox *imgBild;
    QLabel *lblDatei, *lblZeit, *lblExport;
    QPushButton *btRueckwaerts, *btStopp, *btVorwaerts, *btAnsehen, *btExportieren, *btAbbrechen;
    QGroupBox *frExport;
    QTimeEdit *tmVon, *tmBis;
    QProgressBar *prgExport;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void FillCameras();
    void CameraChanged();
    void OpenDay(QDate date);
    void MarkDays(int year, int month);
    void SliderMoved(int index);
    void Play(int direction);
    void Stop();
    void Step(int delta);
    void ShowDayOnSlider(int index);
    void ViewCurrent();
    void FormatChanged();
    void Export_Click();
    void ExportFinished(bool ok, const QString &message);
    int CamNo() const;

    AppState &mState;
    const QString mViewerProgram, mViewerArguments;
    QString mArchivePath;   // of the day shown
    ArchiveDay mDay;
    ArchiveExport mExport;
    QTimer mPlayTimer;
    QTimer mDecodeTimer;   // zero-time: while the slider is dragged only the newest position is decoded
    int mDirection = 1;
    int mShownIndex = -1;
    QString mShownPath;
    int mDecodes = 0;
    bool mJustListed = true;   // the first show needs no second listing
};
