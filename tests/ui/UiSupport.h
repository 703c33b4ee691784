#pragma once

#include "desktop/ShellOpen.h"
#include "gui/Dialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <ostream>
#include <utility>
#include <vector>

// Failure messages show texts as text, not as arrays of characters.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Processes events until the condition holds; false when it did not within the time.
template <class TCondition> bool WaitFor(TCondition condition, int milliseconds = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Dialogs that never open: each records what it was asked and gives the answer a test set.
struct TScriptedDialogs
{
    QStringList Errors;
    QStringList Questions;
    bool Answer = true;
    QStringList SaveQuestions;
    TSaveAnswer SaveAnswer = TSaveAnswer::Save;
    QStringList SaveFilters;
    QStringList SaveProposals;
    QString SaveFileName;
    QStringList OpenFilters;
    QString OpenFileName;

    TDialogs Make()
    {
        TDialogs dialogs;
        dialogs.ShowError = [this](QWidget*, const QString& text) { Errors.append(text); };
        dialogs.AskYesNo = [this](QWidget*, const QString& text) {
            Questions.append(text);
            return Answer;
        };
        dialogs.AskSave = [this](QWidget*, const QString& text) {
            SaveQuestions.append(text);
            return SaveAnswer;
        };
        dialogs.GetSaveFileName = [this](QWidget*, const QString&, const QString& proposed,
                                         const QString& filter) {
            SaveProposals.append(proposed);
            SaveFilters.append(filter);
            return SaveFileName;
        };
        dialogs.GetOpenFileName = [this](QWidget*, const QString&, const QString& filter) {
            OpenFilters.append(filter);
            return OpenFileName;
        };
        return dialogs;
    }
};

// Records what would have been opened.
class TRecordingShell : public IShellOpen
{
public:
    void Open(const QString& file, const QString& parameters) override
    {
        Opened.emplace_back(file, parameters);
    }

    std::vector<std::pair<QString, QString>> Opened;
};
