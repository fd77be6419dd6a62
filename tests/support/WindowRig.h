#pragma once

#include "state/AppState.h"
#include "app/MainWindow.h"
#include "log/Log.h"
#include "support/Files.h"
#include "support/TestPlatform.h"
#include "ui/ArchiveEditor.h"
#include "ui/CameraEditor.h"
#include "ui/LogPanel.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>

// The real main window on the test platform, shown offscreen and driven as a user drives
// it: mouse clicks, typing, focus changes, closing. The log's messages without time stamps.
struct WindowRig
{
    TestPlatform tp;
    QTemporaryDir archive;
    AppState state{tp.platform};
    QStringList log;
    QString chosenFolder;   // what the folder chooser answers; empty: cancelled
    std::unique_ptr<frmMain> w;

    WindowRig()
    {
        QObject::connect(&state.txtLog, &LogWindow::appended, [this](const QString &line) { log.append(line.mid(19).chopped(2)); });
    }
    QString ini() const { return tp.programDir.filePath(QStringLiteral("Bildfang.ini")); }
    QString logFile() const { return tp.programDir.filePath(QStringLiteral("Bildfang Log 20060512.txt")); }
    CameraEditor &cams() const { return *w->frCams; }
    ArchiveEditor &limits() const { return *w->archiveEditor; }
    LogPanel &logPanel() const { return *w->frLog; }

    // Started with this settings file (null: none), shown and active.
    frmMain &load(const QString &settings = QString())
    {
        if (!settings.isNull())
            WriteAll(ini(), settings.toUtf8());
        w = std::make_unique<frmMain>(state);
        w->archiveEditor->chooseArchiveFolder = [this] { return chosenFolder; };
        w->Form_Load();
        w->show();
        QApplication::setActiveWindow(w.get());
        (void)QTest::qWaitForWindowActive(w.get());
        return *w;
    }

    // Check boxes and option buttons take clicks only on their box and caption: at the left.
    static void click(QWidget *widget)
    {
        const bool box = widget->inherits("QCheckBox") || widget->inherits("QRadioButton");
        QTest::mouseClick(widget, Qt::LeftButton, {}, box ? QPoint(8, widget->height() / 2) : widget->rect().center());
    }
    void menu(QAction *item) const { QTest::mouseClick(w->menuBar(), Qt::LeftButton, {}, w->menuBar()->actionGeometry(item).center()); }
    // Clicks into the box, selects its text and types over it; focus stays in the box.
    static void type(QLineEdit *box, const QString &text)
    {
        click(box);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
    }
    // Chooses an entry of a list with the arrow keys, as from its drop-down.
    static void pick(QComboBox *list, int index)
    {
        list->setFocus();
        while (list->currentIndex() != index)
            QTest::keyClick(list, list->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }
    // Closes the window as its close box does.
    void closeBox() const { w->windowHandle()->close(); }
    bool red(QWidget *widget, QPalette::ColorRole role) const { return widget->palette().color(role) == QColor(255, 0, 0); }
    QStringList names() const
    {
        QStringList list;
        for (int i = 0; i < cams().cmbKameraname->count(); ++i)
            list << cams().cmbKameraname->itemText(i);
        return list;
    }
};
