#pragma once

#include <QString>

#include <functional>

class QWidget;

// The answers to a question about changes that are about to be left.
enum class TSaveAnswer
{
    Save,
    Discard,
    // Nothing is left: the changes stay on screen.
    Cancel
};

// The program's modal boxes and file dialogs, one replaceable function each, so that tests
// answer them without a window ever opening.
struct TDialogs
{
    // The application's standard error box, titled with the program's name.
    std::function<void(QWidget* parent, const QString& text)> ShowError;
    // A yes/no question titled with the program's name, No being the default; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> AskYesNo;
    // A Save / Discard / Cancel question titled with the program's name; Escape cancels.
    std::function<TSaveAnswer(QWidget* parent, const QString& text)> AskSave;
    // A save-file dialog that asks before overwriting, opened on proposed (a path); filter as
    // "Name (*.ext);;Name (*.ext)". An empty name when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& proposed,
                          const QString& filter)>
        GetSaveFileName;
    // An open-file dialog for an existing file, filter as above. The chosen file's full path,
    // or an empty name when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>
        GetOpenFileName;

    // The real boxes and dialogs.
    static TDialogs Standard();
};
