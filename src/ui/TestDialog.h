#pragma once

#include "cameras/TrialFetch.h"

#include <QDialog>

class QLabel;

// The result of "Testen": the picture and its size, or the failure in words. Fetches on
// construction; closing it drops a transfer still under way.
class TestDialog : public QDialog
{
    Q_OBJECT
public:
    TestDialog(AppState &state, const TrialFetch::Values &values, const QString &camName, QWidget *parent = nullptr);

    bool finished() const { return mFinished; }

    QLabel *imgTestbild, *lblErgebnis;

private:
    void ShowResult(const TrialFetch::Result &result);

    TrialFetch mTrial;
    bool mFinished = false;
};
