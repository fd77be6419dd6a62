#pragma once

#include <QGroupBox>

class AppState;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// frCams: the camera editor. The name list selects the camera whose values the boxes show;
// "Aktivieren" applies the edited values to it, "+" and "-" add and remove cameras.
class CameraEditor : public QGroupBox
{
    Q_OBJECT
public:
    explicit CameraEditor(AppState &state, QWidget *parent = nullptr);

    // Fills the name list from the cameras of the settings (short names get the folder name)
    // and selects SelectedCam.
    void LoadCameras();
    void MarkChanged(bool pending);

    // The selected entry of the name list; -1 while its text was edited.
    int SelectedNameIndex() const;
    // Selects an entry of the name list as the program does: the selection handling runs.
    void SelectCamEntry(int index);
    // Shows the selected camera's pinned certificate, e.g. after a connection pinned one.
    void ShowCertificate();

    QComboBox *cmbKameraname, *cmbUpdaterate;
    QLabel *lblCamFolder;   // element 8 of the description labels
    QPushButton *btAdd, *btDel, *btAktivieren, *btTesten, *btZertifikatVergessen;
    QLineEdit *txtSocket, *txtImgPath, *txtUser, *txtPassword, *txtZertifikat;

signals:
    // The selected camera's boxes were filled: the window shows its last image.
    void cameraSelected();
    // The cameras' values changed and are to be saved.
    void saveRequested();
    // Cameras or intervals changed: the free-space estimate starts over.
    void camerasChanged();

public slots:
    void cmbKameraname_Click();
    void btAktivieren_Click();
    void btAdd_Click();
    void btDel_Click();
    void btTesten_Click();
    void btZertifikatVergessen_Click();

private:
    AppState &mState;
    bool mNameEdited = false;
};
