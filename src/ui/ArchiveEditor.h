#pragma once

#include <QWidget>
#include <functional>

class AppState;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class UpDown;

// The archive folder (frame "Konfiguration") and the storage limits (frame "Löschen").
class ArchiveEditor : public QWidget
{
    Q_OBJECT
public:
    explicit ArchiveEditor(AppState &state, QWidget *parent = nullptr);

    // "Auswählen" asks this for the archive folder; empty means cancelled. The window's
    // own asks the user with a folder chooser; tests answer it themselves.
    std::function<QString()> chooseArchiveFolder;

    void SetSpaceLimitColour(bool enoughSpace);

    // The box's text as the program sets it: its change handling runs at once.
    void SetZeitlimit(const QString &text);
    void SetSpeicherlimit(const QString &text);
    // Editing ends for a value still being typed, as when the program ends.
    void ApplyTyped();

    QGroupBox *frConfig1, *frLimits;
    QLabel *lblSpeicherort;
    QPushButton *btSpeicherort;
    QRadioButton *optZeitlimit, *optPlatzlimit;
    QLineEdit *txtZeitlimit, *txtSpeicherlimit;
    UpDown *udZeitlimit, *udSpeicherlimit;
    QLabel *lblEinheit, *lblSpeicherlimit, *lblMB;

signals:
    // The archive folder changed and is to be saved.
    void saveRequested();

public slots:
    void btSpeicherort_Click();
    void optPlatzlimit_Click();
    void optZeitlimit_Click();
    void txtZeitlimit_Change();
    void txtZeitlimit_LostFocus();
    void txtSpeicherlimit_Change();
    void txtSpeicherlimit_LostFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stepZeitlimit(int direction);
    void stepSpeicherlimit(int direction);
    // Typing ended: the typed value takes effect, within the bounds.
    void applyZeitlimit();
    void applySpeicherlimit();

    AppState &mState;
    // Typed but not yet in effect: the storage check keeps the value before.
    bool mZeitlimitTyped = false;
    bool mSpeicherlimitTyped = false;
};
