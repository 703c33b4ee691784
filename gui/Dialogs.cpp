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
    dialogs.AskSave = [](QWidget* parent, const QString& text) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            parent, QApplication::applicationName(), text,
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Save)
            return TSaveAnswer::Save;
        return answer == QMessageBox::Discard ? TSaveAnswer::Discard : TSaveAnswer::Cancel;
    };
    dialogs.GetSaveFileName = [](QWidget* parent, const QString& caption, const QString& proposed,
                                 const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
    };
    dialogs.GetOpenFileName = [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
    };
    return dialogs;
}
