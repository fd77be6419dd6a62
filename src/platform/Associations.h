#pragma once

#include <QString>

// The programs the desktop associates with a kind of file or address. Empty texts when
// nothing is associated; the real look-up asks GIO, tests put their own answers in place.
class Associations
{
public:
    virtual ~Associations() = default;
    // The JPEG viewer: its program (quoted when it holds a blank) and its argument
    // template, in which "%1" stands for the image's path.
    virtual void jpegViewer(QString *program, QString *arguments) const
    {
        program->clear();
        arguments->clear();
    }
    // The web browser's and the text editor's command lines, "%1" (in double quotes) where
    // the address or the file goes; without "%1" they take it as their last word. Empty:
    // none known.
    virtual QString browserCommand() const { return {}; }
    virtual QString textEditor() const { return {}; }
};
