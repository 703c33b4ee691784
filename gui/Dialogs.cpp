#include "gui/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

TDialogs TDialogs::Standard()
{
    TDialogs dialogs;
    dialogs.ShowError = [](QWidget* parent, const QString& text) {
        QMessageBox::critical(parent, QApplication::applicationName(), text);
    };
    dialogs.AskYesNo = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, QApplication::applicationName(), text,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    dialogs.GetSaveFileName = [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
    };
    dialogs.GetOpenFileName = [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
    };
    return dialogs;
}
