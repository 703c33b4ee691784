#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's modal boxes and file dialogs, one replaceable function each, so that tests
// answer them without a window ever opening.
struct TDialogs
{
    // The application's standard error box, titled with the program's name.
    std::function<void(QWidget* parent, const QString& text)> ShowError;
    // A yes/no question titled with the program's name; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> AskYesNo;
    // A save-file dialog that asks before overwriting; filter as "Name (*.ext);;Name (*.ext)".
    // An empty name when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>
        GetSaveFileName;
    // An open-file dialog for an existing file, filter as above. The chosen file's full path,
    // or an empty name when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>
        GetOpenFileName;

    // The real boxes and dialogs.
    static TDialogs Standard();
};
