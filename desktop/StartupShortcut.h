#pragma once

#include <QString>

// The entry that starts the program when the user logs in to the desktop: on Linux an XDG
// autostart entry, elsewhere the platform's own kind of shortcut.
class TStartupShortcut
{
public:
    // folder: where the entry goes, the desktop's own place when empty; program: the executable
    // that the entry starts, this program when empty.
    explicit TStartupShortcut(QString folder = {}, QString program = {});

    // The settings dialog's check box for the entry, in the words of the platform's desktop.
    static QString OptionText();

    QString FileName() const;
    // Writes the entry, replacing one of the same name. The reason of a failure, or an empty
    // text.
    QString Create() const;
    // Writes the entry again when there is one that differs from what Create writes: one left
    // by a copy elsewhere (a build tree, an older installation) then starts this program. The
    // reason of a failure, or an empty text.
    QString Renew() const;
    // Removes the entry; an entry that does not exist is no failure. The reason of a failure,
    // or an empty text.
    QString Delete() const;

private:
    QString Folder() const;
    QString Program() const;

    QString FFolder;
    QString FProgram;
};
