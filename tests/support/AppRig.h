#pragma once

#include "state/AppState.h"
#include "app/RecordingControl.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "support/Files.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>

// An application state on the test platform with a temporary archive, shown on a recording
// view whose recording box drives a RecordingControl.
struct AppRig
{
    TestPlatform tp;
    QTemporaryDir archive;
    RecordingView view;
    QStringList log;   // the log's messages, without time stamps
    AppState state{tp.platform};
    RecordingControl control{state};

    AppRig()
    {
        state.SetView(&view);
        state.ArchivePath = AddBackslash(archive.path());
        view.control = &control;
        // Each line is "<dd.mm.yyyy hh:mm> " + message + CR LF.
        QObject::connect(&state.txtLog, &LogWindow::appended, [this](const QString &line) { log.append(line.mid(19).chopped(2)); });
    }

    // Appends a camera; one with a socket gets an engine of its own.
    std::shared_ptr<CamObject> addCamera(const QString &name, qint16 interval = -1, const QString &socket = QString())
    {
        auto cam = std::make_shared<CamObject>(state);
        cam->mCamName = name;
        cam->mCamUpdaterate = interval;
        cam->mCamSocket = socket;
        cam->mCamImagePath = QStringLiteral("/image.jpg");
        state.Cams.Add(cam);
        state.CamCount = state.Cams.Count();
        if (!socket.isEmpty())
            state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, state.TimerNames));
        return cam;
    }

    // The space limit on and due (50 MB free, 100 asked); the age limit on.
    void limitSpace() { state.SpaceLimitOn = true, state.SpaceLimitMB = 100, tp.fileSystem->freeBytesValue = 50 * 1048576; }
    void limitAge(const QString &unit, int value) { state.TimeLimitOn = true, state.TimeLimitUnit = unit, state.TimeLimitValue = value; }

    // No camera waits for an outcome and no engine is under way.
    bool settled() const
    {
        for (int i = 1; i <= state.Cams.Count(); ++i)
            if (state.Cams.Item(i)->mCamIsBusy)
                return false;
        return std::none_of(state.CopyHelpers.begin(), state.CopyHelpers.end(), [](const auto &e) { return e->isBusy(); });
    }

    // Camera camNo's hour folder at the fake clock's time, and the files in it.
    QString hourFolder(int camNo) const { return ImagePathFor(state.ArchivePath, camNo, QString(), tp.clock->current, false).folder; }
    QStringList files(int camNo) const { return QDir(hourFolder(camNo)).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QByteArray read(int camNo, const QString &fileName) const { return ReadAll(hourFolder(camNo) + QDir::separator() + fileName); }

    // "127.0.0.1:port" of a port that was just free: connections to it are refused at once.
    static QString refusedSocket()
    {
        QTcpServer probe;
        probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        return QStringLiteral("127.0.0.1:") + QString::number(probe.serverPort());
    }
};
