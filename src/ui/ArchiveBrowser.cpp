#include "ui/ArchiveBrowser.h"

#include "state/AppState.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "ui/ExternalPrograms.h"
#include "ui/PictureBox.h"
#include "ui/WindowHelpers.h"
#include "util/Utils.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextCharFormat>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace {

const QString NoFfmpeg = QStringLiteral(
    "ffmpeg ist nicht installiert; MP4-Videos brauchen es. Installieren mit „sudo apt install ffmpeg“ "
    "oder als ZIP exportieren.");

QString Thousands(int n)
{
    return QLocale(QLocale::German).toString(n);
}

int SecondOfDay(QTime time)
{
    return time.hour() * 3600 + time.minute() * 60 + time.second();
}

} // namespace

// ---------------------------------------------------------------- slider and hour marks

TimeSlider::TimeSlider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setTracking(true);
}

int TimeSlider::positionOf(int index) const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    return groove.x() + handle.width() / 2
        + QStyle::sliderPositionFromValue(minimum(), maximum(), index, span, opt.upsideDown);
}

void TimeSlider::mousePressEvent(QMouseEvent *event)
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    if (event->button() == Qt::LeftButton && !handle.contains(event->position().toPoint()) && maximum() > minimum()) {
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        const int span = groove.width() - handle.width();
        const int x = event->position().toPoint().x() - groove.x() - handle.width() / 2;
        setSliderPosition(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span, opt.upsideDown));
        triggerAction(SliderMove);
    }
    // Now on the handle: the press starts a drag from here.
    QSlider::mousePressEvent(event);
}

HourScale::HourScale(TimeSlider *slider, QWidget *parent)
    : QWidget(parent)
    , mSlider(slider)
{
    setMinimumHeight(fontMetrics().height() + 6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HourScale::setMarks(const QList<std::pair<int, int>> &marks)
{
    mMarks = marks;
    update();
}

void HourScale::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int offset = mSlider->mapTo(window(), QPoint()).x() - mapTo(window(), QPoint()).x();
    int freeFrom = -1000;   // labels never overlap: the next one starts right of the last
    for (const auto &[index, hour] : mMarks) {
        const int x = offset + mSlider->positionOf(index);
        painter.drawLine(x, 0, x, 4);
        const QString text = PadNumber(hour, 2);
        const int w = fontMetrics().horizontalAdvance(text);
        if (x - w / 2 >= freeFrom) {
            painter.drawText(x - w / 2, 5 + fontMetrics().ascent(), text);
            freeFrom = x + w / 2 + fontMetrics().horizontalAdvance(QLatin1Char(' '));
        }
    }
}

// ---------------------------------------------------------------- window

ArchiveBrowser::ArchiveBrowser(AppState &state, const QString &viewerProgram, const QString &viewerArguments,
                               QWidget *parent)
    : QWidget(parent, Qt::Window)
    , mState(state)
    , mViewerProgram(viewerProgram)
    , mViewerArguments(viewerArguments)
    , mExport(state.platform)
{
    setObjectName(QStringLiteral("frmArchiv"));
    setWindowTitle(QStringLiteral("Archiv"));

    cmbKamera = Named(new QComboBox, "cmbKamera", QStringLiteral("Kamera, deren Bilder gezeigt werden"));
    calTag = Named(new QCalendarWidget, "calTag", QStringLiteral("Tage mit Bildern sind fett"));
    calTag->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calTag->setLocale(QLocale(QLocale::German, QLocale::Germany));   // month and day names in German
    calTag->setFirstDayOfWeek(Qt::Monday);

    imgBild = Named(new PictureBox, "imgBild", QStringLiteral("Doppelklick zum Ansehen"));
    imgBild->setMinimumSize(320, 240);
    lblDatei = Named(new QLabel, "lblDatei", QStringLiteral("Name der sichtbaren Bild-Datei"));
    lblDatei->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblZeit = Named(new QLabel, "lblZeit");
    sldZeit = Named(new TimeSlider, "sldZeit", QStringLiteral("Bilder des Tages; Pfeiltasten: Bild für Bild"));
    lblStunden = Named(new HourScale(sldZeit), "lblStunden");

    btRueckwaerts = Named(new QPushButton(QStringLiteral("◀ Rückwärts")), "btRueckwaerts");
    btStopp = Named(new QPushButton(QStringLiteral("■ Stopp")), "btStopp");
    btVorwaerts = Named(new QPushButton(QStringLiteral("Vorwärts ▶")), "btVorwaerts");
    cmbTempo = Named(new QComboBox, "cmbTempo", QStringLiteral("Bilder pro Sekunde beim Abspielen und im Video"));
    for (const int speed : Speeds)
        cmbTempo->addItem(speed == 1 ? QStringLiteral("1 Bild/s") : QString::number(speed) + QStringLiteral(" Bilder/s"));
    cmbTempo->setCurrentIndex(1);
    btAnsehen = Named(new QPushButton(QStringLiteral("Im Betrachter öffnen")), "btAnsehen");

    frExport = Named(new QGroupBox(QStringLiteral("Export")), "frExport");
    tmVon = Named(new QTimeEdit(QTime(0, 0)), "tmVon");
    tmBis = Named(new QTimeEdit(QTime(23, 59, 59)), "tmBis");
    for (QTimeEdit *edit : {tmVon, tmBis})
        edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    cmbFormat = Named(new QComboBox, "cmbFormat");
    cmbFormat->addItem(QStringLiteral("MP4-Video (H.264)"));
    cmbFormat->addItem(QStringLiteral("ZIP der JPEG-Bilder"));
    btExportieren = Named(new QPushButton(QStringLiteral("Exportieren")), "btExportieren");
    btAbbrechen = Named(new QPushButton(QStringLiteral("Abbrechen")), "btAbbrechen");
    btAbbrechen->setEnabled(false);
    prgExport = Named(new QProgressBar, "prgExport");
    prgExport->setValue(0);
    lblExport = Named(new QLabel, "lblExport");
    lblExport->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Von:"), tmVon);
    form->addRow(QStringLiteral("Bis:"), tmBis);
    form->addRow(QStringLiteral("Format:"), cmbFormat);
    auto *exportButtons = new QHBoxLayout;
    exportButtons->addWidget(btExportieren);
    exportButtons->addWidget(btAbbrechen);
    auto *exportLayout = new QVBoxLayout(frExport);
    exportLayout->addLayout(form);
    exportLayout->addLayout(exportButtons);
    exportLayout->addWidget(prgExport);
    exportLayout->addWidget(lblExport);

    auto *leftColumn = new QWidget;
    auto *left = new QVBoxLayout(leftColumn);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(cmbKamera);
    left->addWidget(calTag);
    left->addWidget(frExport);
    left->addStretch(1);
    // Its natural width, whatever the export's message: the picture takes the rest.
    leftColumn->setFixedWidth(std::max(300, calTag->sizeHint().width()));

    auto *controls = new QHBoxLayout;
    controls->addWidget(btRueckwaerts);
    controls->addWidget(btStopp);
    controls->addWidget(btVorwaerts);
    controls->addWidget(cmbTempo);
    controls->addStretch(1);
    controls->addWidget(btAnsehen);

    auto *right = new QVBoxLayout;
    right->addWidget(imgBild, 1);
    right->addWidget(lblDatei);
    right->addWidget(lblZeit);
    right->addWidget(sldZeit);
    right->addWidget(lblStunden);
    right->addLayout(controls);
    right->setSpacing(2);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(leftColumn);
    layout->addLayout(right, 1);
    resize(1000, 640);

    mDecodeTimer.setSingleShot(true);
    mDecodeTimer.setInterval(0);
    connect(&mDecodeTimer, &QTimer::timeout, this, &ArchiveBrowser::ShowPendingPicture);
    connect(&mPlayTimer, &QTimer::timeout, this, &ArchiveBrowser::PlayTick);

    connect(cmbKamera, &QComboBox::activated, this, &ArchiveBrowser::CameraChanged);
    connect(calTag, &QCalendarWidget::selectionChanged, this, [this] { OpenDay(calTag->selectedDate()); });
    connect(calTag, &QCalendarWidget::currentPageChanged, this, &ArchiveBrowser::MarkDays);
    // A day picked with the mouse: the arrow keys go on to its images, not to the next days.
    connect(calTag, &QCalendarWidget::clicked, sldZeit, [this] { sldZeit->setFocus(); });
    connect(sldZeit, &QSlider::valueChanged, this, &ArchiveBrowser::SliderMoved);
    connect(sldZeit, &QSlider::actionTriggered, this, &ArchiveBrowser::Stop);
    connect(btRueckwaerts, &QPushButton::clicked, this, [this] { Play(-1); });
    connect(btVorwaerts, &QPushButton::clicked, this, [this] { Play(1); });
    connect(btStopp, &QPushButton::clicked, this, &ArchiveBrowser::Stop);
    connect(cmbTempo, &QComboBox::currentIndexChanged, this, [this] {
        mPlayTimer.setInterval(1000 / Speeds[std::clamp(cmbTempo->currentIndex(), 0, 2)]);
    });
    connect(btAnsehen, &QPushButton::clicked, this, &ArchiveBrowser::ViewCurrent);
    connect(imgBild, &PictureBox::doubleClicked, this, &ArchiveBrowser::ViewCurrent);
    connect(cmbFormat, &QComboBox::currentIndexChanged, this, &ArchiveBrowser::FormatChanged);
    connect(btExportieren, &QPushButton::clicked, this, &ArchiveBrowser::Export_Click);
    connect(btAbbrechen, &QPushButton::clicked, &mExport, &ArchiveExport::cancel);
    connect(&mExport, &ArchiveExport::progress, this, [this](int done, int total) {
        prgExport->setMaximum(std::max(1, total));
        prgExport->setValue(done);
    });
    connect(&mExport, &ArchiveExport::finished, this, &ArchiveBrowser::ExportFinished);

    chooseExportFile = [this](const QString &suggested) {
        const bool mp4 = cmbFormat->currentIndex() == 0;
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export speichern unter"), suggested,
                                            mp4 ? QStringLiteral("MP4-Video (*.mp4)") : QStringLiteral("ZIP-Archiv (*.zip)"));
    };

    // Buttons would move the focus with the arrow keys; here the arrows step through the day.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);

    FillCameras();
    cmbKamera->setCurrentIndex(std::clamp(int(mState.SelectedCam) - 1, 0, std::max(0, cmbKamera->count() - 1)));
    CameraChanged();
    FormatChanged();
    sldZeit->setFocus();
}

ArchiveBrowser::~ArchiveBrowser() = default;

void ArchiveBrowser::FillCameras()
{
    QStringList names;
    for (int n = 1; n <= mState.CamCount; ++n) {
        const auto cam = mState.Cams.Item(n);
        names.append(CamFolderName(n) + (cam ? QStringLiteral(" – ") + cam->mCamName : QString()));
    }
    QStringList shown;
    for (int i = 0; i < cmbKamera->count(); ++i)
        shown.append(cmbKamera->itemText(i));
    if (names == shown)
        return;
    const QSignalBlocker block(cmbKamera);
    const int index = cmbKamera->currentIndex();
    cmbKamera->clear();
    for (int n = 1; n <= int(names.size()); ++n)
        cmbKamera->addItem(names[n - 1], n);
    cmbKamera->setCurrentIndex(std::clamp(index, 0, int(names.size()) - 1));
}

int ArchiveBrowser::CamNo() const
{
    return cmbKamera->currentData().isValid() ? cmbKamera->currentData().toInt() : 1;
}

int ArchiveBrowser::currentIndex() const
{
    return mDay.isEmpty() ? -1 : sldZeit->value();
}

void ArchiveBrowser::CameraChanged()
{
    Stop();
    mArchivePath = mState.ArchivePath;
    QDate date = LatestDayWithImages(*mState.platform.fileSystem, mState.ArchivePath, CamNo());
    if (!date.isValid())
        date = mState.platform.clock->now().date();
    {
        const QSignalBlocker block(calTag);
        calTag->setSelectedDate(date);
        calTag->setCurrentPage(date.year(), date.month());
    }
    MarkDays(date.year(), date.month());
    mDay = ArchiveDay();   // a new camera starts at its day's newest image
    OpenDay(date);
}

void ArchiveBrowser::MarkDays(int year, int month)
{
    calTag->setDateTextFormat(QDate(), QTextCharFormat());
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const int day : DaysWithImages(*mState.platform.fileSystem, mState.ArchivePath, CamNo(), year, month))
        calTag->setDateTextFormat(QDate(year, month, day), bold);
}

void ArchiveBrowser::OpenDay(QDate date)
{
    Stop();
    // Another day of the same camera opens at the same time of day.
    const int index = currentIndex();
    const int second = index >= 0 ? mDay.at(index).second : -1;
    mDay = ArchiveDay(*mState.platform.fileSystem, mState.ArchivePath, CamNo(), date);
    ShowDayOnSlider(second >= 0 ? mDay.nearest(second) : mDay.count() - 1);
}

void ArchiveBrowser::ShowDayOnSlider(int index)
{
    QList<std::pair<int, int>> marks;
    for (const int hour : mDay.hours())
        marks.append({mDay.firstOfHour(hour), hour});
    {
        const QSignalBlocker block(sldZeit);
        sldZeit->setRange(0, std::max(0, mDay.count() - 1));
        sldZeit->setPageStep(std::max(1, mDay.count() / 24));
        sldZeit->setValue(std::max(0, index));
    }
    sldZeit->setEnabled(!mDay.isEmpty());
    lblStunden->setMarks(marks);
    mShownIndex = -1;
    mShownPath.clear();
    SliderMoved(sldZeit->value());
}

void ArchiveBrowser::SliderMoved(int)
{
    const int index = currentIndex();
    if (index < 0) {
        lblDatei->setText(mState.ArchivePath.isEmpty() ? QStringLiteral("Kein Speicherort angegeben.")
                                                       : QStringLiteral("Keine Bilder an diesem Tag."));
        lblZeit->clear();
        imgBild->clear();
        mShownIndex = -1;
        mShownPath.clear();
        return;
    }
    lblDatei->setText(mDay.at(index).fileName);
    lblZeit->setText(mDay.time(index).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) + QStringLiteral("   Bild ")
                     + Thousands(index + 1) + QStringLiteral(" von ") + Thousands(mDay.count()));
    // Decoded once the events of now have run: of a quick run of moves only the last.
    mDecodeTimer.start();
}

void ArchiveBrowser::ShowPendingPicture()
{
    mDecodeTimer.stop();
    for (;;) {
        const int index = currentIndex();
        if (index < 0 || index == mShownIndex)
            return;
        const QString path = mDay.path(index);
        ++mDecodes;
        if (imgBild->load(path)) {
            mShownIndex = index;
            mShownPath = path;
            return;
        }
        // Gone when the storage limit took it: its hour (or the day) anew, then the nearest
        // image left. One that is there but not readable is said once, not tried again.
        const int second = mDay.at(index).second;
        if (mState.platform.fileSystem->fileExists(path) || (!mDay.refresh(mDay.at(index).hour()) && !mDay.refresh())) {
            mShownIndex = index;
            mShownPath = path;
            lblDatei->setText(mDay.at(index).fileName + QStringLiteral(" (nicht lesbar)"));
            return;
        }
        ShowDayOnSlider(mDay.nearest(second));
        mDecodeTimer.stop();
    }
}

void ArchiveBrowser::Play(int direction)
{
    if (mDay.isEmpty())
        return;
    mDirection = direction;
    // From an end, a play in its direction starts over at the other end.
    if (direction > 0 && sldZeit->value() == sldZeit->maximum())
        sldZeit->setValue(0);
    else if (direction < 0 && sldZeit->value() == 0)
        sldZeit->setValue(sldZeit->maximum());
    mPlayTimer.setInterval(1000 / Speeds[std::clamp(cmbTempo->currentIndex(), 0, 2)]);
    mPlayTimer.start();
}

void ArchiveBrowser::Stop()
{
    mPlayTimer.stop();
}

void ArchiveBrowser::PlayTick()
{
    if (mDay.isEmpty()) {
        Stop();
        return;
    }
    int next = sldZeit->value() + mDirection;
    if (next >= mDay.count() && mDirection > 0) {
        // Today goes on while it is played: the newest hour may have grown meanwhile.
        const ArchiveImage last = mDay.at(mDay.count() - 1);
        if (mDay.refresh(last.hour())) {
            ShowDayOnSlider(mDay.nearest(last.second));
            next = sldZeit->value() + 1;
        }
    }
    if (next < 0 || next >= mDay.count()) {
        Stop();
        return;
    }
    sldZeit->setValue(next);
}

void ArchiveBrowser::Step(int delta)
{
    Stop();
    if (!mDay.isEmpty())
        sldZeit->setValue(std::clamp(sldZeit->value() + delta, 0, mDay.count() - 1));
}

void ArchiveBrowser::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        Step(event->key() == Qt::Key_Left ? -1 : 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ArchiveBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown again: cameras may have changed, and the day may have grown or been pruned.
    if (std::exchange(mJustListed, false))
        return;
    const int camNo = CamNo();
    FillCameras();
    if (CamNo() != camNo || mArchivePath != mState.ArchivePath) {
        CameraChanged();
        return;
    }
    const int index = currentIndex();
    const int second = index >= 0 ? mDay.at(index).second : -1;
    if (mDay.refresh())
        ShowDayOnSlider(second >= 0 ? mDay.nearest(second) : mDay.count() - 1);
    MarkDays(calTag->yearShown(), calTag->monthShown());
}

bool ArchiveBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            Step(key == Qt::Key_Left ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ArchiveBrowser::hideEvent(QHideEvent *event)
{
    Stop();
    QWidget::hideEvent(event);
}

void ArchiveBrowser::ViewCurrent()
{
    const int index = currentIndex();
    if (index >= 0)
        ViewImage(mState, mViewerProgram, mViewerArguments, mDay.path(index));
}

void ArchiveBrowser::FormatChanged()
{
    if (mExport.isRunning())
        return;
    lblExport->setText(cmbFormat->currentIndex() == 0 && mExport.findFfmpeg().isEmpty() ? NoFfmpeg : QString());
}

void ArchiveBrowser::Export_Click()
{
    if (mExport.isRunning())
        return;
    const bool mp4 = cmbFormat->currentIndex() == 0;
    const int from = SecondOfDay(std::min(tmVon->time(), tmBis->time()));
    const int to = SecondOfDay(std::max(tmVon->time(), tmBis->time()));
    const auto [first, last] = mDay.between(from, to);
    if (first > last) {
        lblExport->setText(QStringLiteral("Keine Bilder von %1 bis %2.")
                               .arg(tmVon->time().toString(QStringLiteral("HH:mm:ss")),
                                    tmBis->time().toString(QStringLiteral("HH:mm:ss"))));
        return;
    }
    if (mp4 && mExport.findFfmpeg().isEmpty()) {
        lblExport->setText(NoFfmpeg);
        return;
    }
    const QString ending = mp4 ? QStringLiteral(".mp4") : QStringLiteral(".zip");
    const QString suggested = QDir::homePath() + QLatin1Char('/') + CamFolderName(mDay.camNo()) + QLatin1Char('_')
        + mDay.day().toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_')
        + mDay.time(first).toString(QStringLiteral("HHmmss")) + QLatin1Char('-')
        + mDay.time(last).toString(QStringLiteral("HHmmss")) + ending;
    QString target = chooseExportFile ? chooseExportFile(suggested) : QString();
    if (target.isEmpty())
        return;
    if (!target.endsWith(ending, Qt::CaseInsensitive))
        target += ending;

    QStringList files;
    files.reserve(last - first + 1);
    for (int i = first; i <= last; ++i)
        files.append(mDay.path(i));
    QString error;
    prgExport->setMaximum(int(files.size()));
    prgExport->setValue(0);
    if (!mExport.start(mp4 ? ArchiveExport::Format::Mp4 : ArchiveExport::Format::Zip, files, target,
                       Speeds[std::clamp(cmbTempo->currentIndex(), 0, 2)], &error)) {
        lblExport->setText(error);
        return;
    }
    lblExport->setText(QStringLiteral("Exportiere %1 Bilder nach %2 ...").arg(Thousands(int(files.size())), target));
    btExportieren->setEnabled(false);
    btAbbrechen->setEnabled(true);
}

void ArchiveBrowser::ExportFinished(bool ok, const QString &message)
{
    lblExport->setText(message);
    if (!ok)
        prgExport->setValue(0);
    btExportieren->setEnabled(true);
    btAbbrechen->setEnabled(false);
}
